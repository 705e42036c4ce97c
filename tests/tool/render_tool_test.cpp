// Runs plexora-render as a user would and measures what it writes.
#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "io/smf.h"
#include "support/smf_writer.h"
#include "support/testkit.h"

namespace {

const char* const kBank = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const char* const kSong = "/usr/share/games/openttd/baseset/openmsx/5432gone_redfarn.mid";

struct ToolRun {
    int status = -1;
    std::string output;  // standard output and error together
};

ToolRun run_render(const std::string& args) {
    const std::string cmd = std::string(PLEXORA_RENDER_BIN) + " " + args + " 2>&1";
    ToolRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) r.output += buf;
    const int w = pclose(p);
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    return r;
}

std::string temp_path(const std::string& leaf) {
    return ::testing::TempDir() + "plexora_render_" + leaf;
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
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
    const std::string song = temp_path("ok.mid");
    testkit::SmfTrack t;
    t.event(0, {0x90, 60, 100}).event(96, {0x80, 60, 0}).end();
    write_bytes(song, testkit::smf_file(0, 96, {t}));
    const std::string junk = temp_path("junk.mid");
    write_bytes(junk, {'n', 'o', 't', ' ', 'm', 'i', 'd', 'i'});
    const std::string fake_bank = temp_path("fake.sf2");
    write_bytes(fake_bank, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 's', 'f', 'b', 'k'});
    const std::string out = temp_path("out.wav");

    struct Case {
        std::string args;
        std::string message;
    };
    const Case cases[] = {
        {"", "usage"},
        {"--bank " + std::string(kBank) + " " + song, "missing arguments"},
        {"--rate 12 --bank " + std::string(kBank) + " " + song + " " + out, "--rate"},
        {"--gain 41 --bank " + std::string(kBank) + " " + song + " " + out, "--gain"},
        {"--bank /nonexistent.sf2 " + song + " " + out, "cannot open /nonexistent.sf2"},
        {"--bank " + fake_bank + " " + song + " " + out, fake_bank},
        {"--bank " + std::string(kBank) + " /nonexistent.mid " + out,
         "cannot open /nonexistent.mid"},
        {"--bank " + std::string(kBank) + " " + junk + " " + out, "not a Standard MIDI File"},
        {"--bank " + std::string(kBank) + " " + song + " /nonexistent/dir/out.wav", "cannot write"},
    };
    for (const Case& c : cases) {
        const ToolRun r = run_render(c.args);
        EXPECT_EQ(r.status, 1) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << "\n" << r.output;
    }
}

TEST(RenderTool, RendersARealSongWithARealBank) {
    const std::string out = temp_path("song.wav");
    const ToolRun r = run_render("--bank " + std::string(kBank) + " " + kSong + " " + out);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("realtime"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("max voices"), std::string::npos) << r.output;

    SF_INFO info;
    const std::vector<float> wav = read_wav(out, info);
    ASSERT_EQ(info.channels, 2);
    ASSERT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    SmfSong song;
    std::string error;
    ASSERT_TRUE(read_smf_file(kSong, song, error)) << error;
    ASSERT_GE(static_cast<double>(info.frames), song.end_seconds * 44100.0 - 1);

    // No NaN, and no run of three or more clipped frames on either side.
    for (int ch = 0; ch < 2; ++ch) {
        int run = 0;
        for (sf_count_t f = 0; f < info.frames; ++f) {
            const float x = wav[static_cast<std::size_t>(f * 2 + ch)];
            ASSERT_TRUE(std::isfinite(x)) << f;
            run = std::fabs(x) >= 1.0f ? run + 1 : 0;
            ASSERT_LT(run, 3) << "clipping at frame " << f;
        }
    }

    // Where the song holds a note, the output is not silent: every
    // half-second window in which some note is held carries sound.
    const std::size_t window = 22050;
    std::vector<int> held(static_cast<std::size_t>(info.frames) / window + 1, 0);
    int sounding[16][128] = {};
    int notes_held = 0;
    double last = 0;
    for (const SmfEvent& e : song.events) {
        if (notes_held > 0) {
            for (std::size_t w = static_cast<std::size_t>(last * 44100) / window;
                 w <= static_cast<std::size_t>(e.seconds * 44100) / window && w < held.size();
                 ++w) {
                held[w] = 1;
            }
        }
        last = e.seconds;
        const int kind = e.status & 0xF0;
        const int ch = e.status & 0x0F;
        if (kind == 0x90 && e.data2 > 0) {
            notes_held += 1;
            sounding[ch][e.data1] += 1;
        } else if ((kind == 0x80 || kind == 0x90) && sounding[ch][e.data1] > 0) {
            notes_held -= 1;
            sounding[ch][e.data1] -= 1;
        }
    }
    int windows = 0;
    int silent = 0;
    for (std::size_t w = 0; w < held.size(); ++w) {
        if (!held[w]) continue;
        ++windows;
        if (testkit::rms(wav, w * window * 2, (w + 1) * window * 2) < 1e-4) ++silent;
    }
    EXPECT_GT(windows, 100);
    EXPECT_EQ(silent, 0);
}

TEST(RenderTool, SampleAndPlaySelectedPlayTheChosenMaterial) {
    // A 440 Hz sample at its default base key 48, played at key 60: 880 Hz.
    const std::string sample = temp_path("sine.wav");
    {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(sample.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        const auto sine = testkit::sine16(440.0, 44100, 44100);
        sf_writef_short(f, sine.data(), static_cast<sf_count_t>(sine.size()));
        sf_close(f);
    }
    const std::string song = temp_path("c4.mid");
    testkit::SmfTrack t;
    t.event(0, {0xC0, 9}).event(0, {0x90, 60, 127}).event(192, {0x80, 60, 0}).end();
    write_bytes(song, testkit::smf_file(0, 96, {t}));
    const std::string out = temp_path("sample.wav");
    // Program 9 does not exist (one instrument): the channel stays on instrument 0.
    for (const char* mode : {"", "--play-selected "}) {
        const ToolRun r = run_render(std::string(mode) + "--rate 48000 --buffer 64 --sample " +
                                     sample + " " + song + " " + out);
        ASSERT_EQ(r.status, 0) << r.output;
        SF_INFO info;
        const auto wav = read_wav(out, info);
        ASSERT_EQ(info.samplerate, 48000);
        const auto left = testkit::channel(wav, 0);
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
    const std::string song = temp_path("gain.mid");
    testkit::SmfTrack t;
    t.event(0, {0xC9, 40}).event(0, {0x99, 36, 127});
    for (int key : {48, 52, 55, 60, 64, 67})
        t.event(0, {0x90, static_cast<std::uint8_t>(key), 127});
    t.event(96, {0x80, 60, 0}).end();
    write_bytes(song, testkit::smf_file(0, 96, {t}));
    const std::string base = "--bank " + std::string(kBank) + " " + song + " ";

    const auto render = [&](const std::string& gain, std::vector<float>& wav) {
        const std::string out = temp_path("gain" + gain + ".wav");
        const ToolRun r = run_render((gain.empty() ? "" : "--gain " + gain + " ") + base + out);
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("channels 1 Piano 1, 10 Standard\n"), std::string::npos)
            << r.output;
        SF_INFO info;
        wav = read_wav(out, info);
        return r.output;
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
