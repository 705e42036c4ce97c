// Runs plexora-render as a user would and measures what it writes.
#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "io/smf.h"
#include "support/file_builders.h"
#include "support/testkit.h"

namespace {

const std::string kBank = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const char* const kSong = "/usr/share/games/openttd/baseset/openmsx/5432gone_redfarn.mid";

// Exit status and everything the tool printed.
std::pair<int, std::string> run_render(const std::string& args) {
    std::string output;
    FILE* p = popen((std::string(PLEXORA_RENDER_BIN) + " " + args + " 2>&1").c_str(), "r");
    if (!p) return {-1, ""};
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) output += buf;
    const int w = pclose(p);
    return {WIFEXITED(w) ? WEXITSTATUS(w) : -1, output};
}

std::vector<float> read_wav(const std::string& path, SF_INFO& info) {
    info = SF_INFO{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<float> v(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(f, v.data(), info.frames);
    sf_close(f);
    return v;
}

}  // namespace

TEST(RenderTool, BadInputEndsWithAClearMessageAndStatusOne) {
    files::TempDir dir;
    const std::string song = dir.file("ok.mid"), junk = dir.file("junk.mid"),
                      fake = dir.file("fake.sf2"), out = dir.file("out.wav");
    files::SmfTrack t;
    t.event(0, {0x90, 60, 100}).event(96, {0x80, 60, 0}).end();
    files::write_bytes(song, files::smf_file(0, 96, {t}));
    files::write_bytes(junk, {'n', 'o', 't', ' ', 'm', 'i', 'd', 'i'});
    files::write_bytes(fake, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 's', 'f', 'b', 'k'});
    const std::pair<std::string, std::string> cases[] = {
        {"", "usage"},
        {"--bank " + kBank + " " + song, "missing arguments"},
        {"--rate 12 --bank " + kBank + " " + song + " " + out, "--rate"},
        {"--gain 41 --bank " + kBank + " " + song + " " + out, "--gain"},
        {"--bank /nonexistent.sf2 " + song + " " + out, "cannot open /nonexistent.sf2"},
        {"--bank " + fake + " " + song + " " + out, fake},
        {"--bank " + kBank + " /nonexistent.mid " + out, "cannot open /nonexistent.mid"},
        {"--bank " + kBank + " " + junk + " " + out, "not a Standard MIDI File"},
        {"--bank " + kBank + " " + song + " /nonexistent/dir/out.wav", "cannot write"},
    };
    for (const auto& [args, message] : cases) {
        const auto [status, output] = run_render(args);
        EXPECT_EQ(status, 1) << args << "\n" << output;
        EXPECT_NE(output.find(message), std::string::npos) << args << "\n" << output;
    }
}

TEST(RenderTool, RendersARealSongWithARealBank) {
    files::TempDir dir;
    const std::string out = dir.file("song.wav");
    const auto [status, output] = run_render("--bank " + kBank + " " + kSong + " " + out);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("realtime"), std::string::npos) << output;
    EXPECT_NE(output.find("max voices"), std::string::npos) << output;
    SF_INFO info;
    const std::vector<float> wav = read_wav(out, info);
    ASSERT_EQ(info.channels, 2);
    ASSERT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    SmfSong song;
    std::string error;
    ASSERT_TRUE(read_smf_file(kSong, song, error)) << error;
    ASSERT_GE(static_cast<double>(info.frames), song.end_seconds * 44100.0 - 1);
    // No NaN, and no run of three or more clipped samples on either side.
    int run[2] = {};
    for (std::size_t i = 0; i < wav.size(); ++i) {
        ASSERT_TRUE(std::isfinite(wav[i])) << i;
        run[i % 2] = std::fabs(wav[i]) >= 1.0f ? run[i % 2] + 1 : 0;
        ASSERT_LT(run[i % 2], 3) << "clipping at frame " << i / 2;
    }
    // Every half-second window in which the song holds some note carries sound.
    const std::size_t window = 22050;
    std::vector<bool> held(wav.size() / 2 / window + 1);
    int sounding[16][128] = {}, notes = 0;
    double last = 0;
    for (const SmfEvent& e : song.events) {
        for (auto w = static_cast<std::size_t>(last * 44100) / window;
             notes > 0 && w <= static_cast<std::size_t>(e.seconds * 44100) / window &&
             w < held.size();
             ++w)
            held[w] = true;
        last = e.seconds;
        const int kind = e.status & 0xF0, ch = e.status & 0x0F;
        if (kind == 0x90 && e.data2 > 0) {
            ++notes, ++sounding[ch][e.data1];
        } else if ((kind == 0x80 || kind == 0x90) && sounding[ch][e.data1] > 0) {
            --notes, --sounding[ch][e.data1];
        }
    }
    int windows = 0;
    for (std::size_t w = 0; w < held.size(); ++w) {
        if (!held[w]) continue;
        ++windows;
        EXPECT_GE(testkit::rms(wav, w * window * 2, (w + 1) * window * 2), 1e-4) << "window " << w;
    }
    EXPECT_GT(windows, 100);
}

TEST(RenderTool, SampleAndPlaySelectedPlayTheChosenMaterial) {
    // A 440 Hz sample at its default base key 48, played at key 60: 880 Hz.
    files::TempDir dir;
    const std::string sample = dir.file("sine.wav"), song = dir.file("c4.mid"),
                      out = dir.file("out.wav");
    ASSERT_TRUE(files::write_sound(sample, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100,
                                   testkit::sine16(440.0, 44100, 44100)));
    files::SmfTrack t;
    t.event(0, {0xC0, 9}).event(0, {0x90, 60, 127}).event(192, {0x80, 60, 0}).end();
    files::write_bytes(song, files::smf_file(0, 96, {t}));
    // Program 9 does not exist (one instrument): the channel stays on instrument 0.
    for (const char* mode : {"", "--play-selected "}) {
        const auto [status, output] =
            run_render(std::string(mode) + "--rate 48000 --buffer 64 --sample " + sample + " " +
                       song + " " + out);
        ASSERT_EQ(status, 0) << output;
        SF_INFO info;
        const auto left = testkit::channel(read_wav(out, info), 0);
        ASSERT_EQ(info.samplerate, 48000);
        // The one-second sample lasts half a second an octave up.
        ASSERT_EQ(left.size(), 48000u);
        EXPECT_EQ(testkit::peak(left, 25000), 0.0f);
        EXPECT_NEAR(testkit::zero_crossing_hz({left.begin() + 100, left.begin() + 20000}, 48000.0),
                    880.0, 2.0)
            << mode;
    }
}

TEST(RenderTool, GainScalesTheMixBeforeTheClipAndTheSummarySaysWhatClippedAndWhoPlayed) {
    // A piano chord on channel 1; a kick on channel 10, whose program change
    // the drum kit's lock ignores.
    files::TempDir dir;
    const std::string song = dir.file("gain.mid");
    files::SmfTrack t;
    t.event(0, {0xC9, 40}).event(0, {0x99, 36, 127});
    for (int key : {48, 52, 55, 60, 64, 67})
        t.event(0, {0x90, static_cast<std::uint8_t>(key), 127});
    t.event(96, {0x80, 60, 0}).end();
    files::write_bytes(song, files::smf_file(0, 96, {t}));

    const auto render = [&](const std::string& gain, std::vector<float>& wav) {
        const std::string out = dir.file("gain" + gain + ".wav");
        const auto [status, output] = run_render((gain.empty() ? "" : "--gain " + gain + " ") +
                                                 "--bank " + kBank + " " + song + " " + out);
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("channels 1 Piano 1, 10 Standard\n"), std::string::npos) << output;
        SF_INFO info;
        wav = read_wav(out, info);
        return output;
    };
    std::vector<float> plain, loud, safe;
    const std::string plain_line = render("", plain);
    EXPECT_NE(plain_line.find("clipped 0 samples (--gain up to "), std::string::npos) << plain_line;
    const std::string loud_line = render("24", loud);

    // Every sample is 24 dB up, or clipped; the summary counts the clipped ones.
    ASSERT_EQ(loud.size(), plain.size());
    const float factor = std::pow(10.0f, 24.0f / 20.0f);
    std::size_t clipped = 0;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const float want = plain[i] * factor;
        if (std::fabs(want) > 1.0001f) {
            ASSERT_EQ(std::fabs(loud[i]), 1.0f) << i;
            ++clipped;
        } else if (std::fabs(want) < 0.9999f) {
            ASSERT_NEAR(loud[i], want, 1e-5f) << i;
        }
    }
    ASSERT_GT(clipped, 1000u);
    unsigned long long reported = 0;
    double avoid = 0;
    const auto at = loud_line.find("clipped ");
    ASSERT_NE(at, std::string::npos) << loud_line;
    ASSERT_EQ(std::sscanf(loud_line.c_str() + at, "clipped %llu samples (--gain %lf avoids it)",
                          &reported, &avoid),
              2)
        << loud_line;
    EXPECT_NEAR(static_cast<double>(reported), static_cast<double>(clipped), clipped * 0.001);

    // The gain it names does avoid it.
    char gain[32];
    std::snprintf(gain, sizeof gain, "%.1f", avoid);
    EXPECT_LT(avoid, 24.0);
    const std::string safe_line = render(gain, safe);
    EXPECT_NE(safe_line.find("clipped 0 samples"), std::string::npos) << safe_line;
    EXPECT_GT(testkit::peak(safe), 0.95f);
}
