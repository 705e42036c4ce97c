// Runs plexora-render as a user would and measures what it writes.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "io/smf.h"
#include "support/testkit.h"

namespace {

const std::string kBank = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const char* const kSong = "/usr/share/games/openttd/baseset/openmsx/5432gone_redfarn.mid";

struct ToolRun {
    int status = -1;
    std::string output;  // standard output and error together
};

// Runs the tool through the shell after `setup` (shell commands ending in "exec ").
ToolRun run_render(const std::string& args, const std::string& setup = "") {
    const std::string cmd = setup + std::string(PLEXORA_RENDER_BIN) + " " + args + " 2>&1";
    ToolRun r;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) r.output += buf;
    const int w = pclose(p);
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    return r;
}

// Temporary files the tool left beside `out`.
int leftovers(const std::string& out) {
    const auto slash = out.find_last_of('/');
    const std::string prefix = "." + out.substr(slash + 1) + ".partial-";
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(out.substr(0, slash)))
        n += e.path().filename().string().rfind(prefix, 0) == 0;
    return n;
}

// Each test in a folder of its own, with a one-second 440 Hz mono sample at
// 44.1 kHz in it.
class RenderTool : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(files::write_sound(sample, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100,
                                       testkit::sine16(440.0, 44100, 44100)));
    }
    // Writes `bytes`, or a song of `track`, as `leaf`; returns its path.
    std::string put(const std::string& leaf, const files::Bytes& bytes) {
        EXPECT_TRUE(files::write_bytes(dir.file(leaf), bytes));
        return dir.file(leaf);
    }
    std::string write_song(const std::string& leaf, const files::SmfTrack& track,
                           std::uint16_t division = 96) {
        return put(leaf, files::smf_file(0, division, {track}));
    }
    // A song that holds one note for `seconds` (division 1 at 120 bpm: 2 ticks a second).
    std::string long_song(const std::string& leaf, std::uint32_t seconds) {
        files::SmfTrack t;
        t.event(0, {0x90, 60, 100}).event(seconds * 2, {0x80, 60, 0}).end();
        return write_song(leaf, t, 1);
    }
    files::TempDir dir;
    const std::string sample = dir.file("sine.wav");
};

}  // namespace

TEST_F(RenderTool, BadInputEndsWithAClearMessageAndStatusOne) {
    files::SmfTrack t, empty_track;
    t.event(0, {0x90, 60, 100}).event(96, {0x80, 60, 0}).end();
    empty_track.end(96);
    const std::string ok = write_song("ok.mid", t), silent = write_song("silent.mid", empty_track),
                      junk = put("junk.mid", {'n', 'o', 't', ' ', 'm', 'i', 'd', 'i'}),
                      fake_bank =
                          put("fake.sf2", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 's', 'f', 'b', 'k'}),
                      wave_bank = put("wave.sf2", {'W', 'A', 'V', 'E', 4, 0, 0, 0}),
                      empty_bank = put("empty.sf2", {}), empty_it = put("empty.it", {}),
                      text_it = put("text.it", {'t', 'e', 'x', 't', ' ', 'o', 'n', 'l', 'y'}),
                      folder = dir.path(), out = dir.file("out.wav");
    // Division 1, one delta of 0x0FFFFFFF ticks, End of Track.
    const std::string endless =
        put("endless.mid", files::smf_file(0, 1, {files::SmfTrack().end(0x0FFFFFFF)}));
    const std::string with_sample = "--sample " + sample + " ", song_out = " " + ok + " " + out;

    const std::tuple<std::string, std::string> cases[] = {
        // args, message
        {"", "usage"},
        {"--bank " + kBank + " " + ok, "missing arguments"},
        {"--rate 12 --bank " + kBank + song_out, "--rate"},
        {"--gain 41 --bank " + kBank + song_out, "--gain"},
        {"--max-seconds 0 " + with_sample + song_out, "--max-seconds"},
        {"--bank /nonexistent.sf2" + song_out,
         "/nonexistent.sf2: cannot be opened: No such file or directory"},
        {"--bank " + fake_bank + song_out, fake_bank},
        {"--bank " + folder + song_out, folder + ": is a directory"},
        {"--sample " + folder + song_out, folder + ": is a directory"},
        {"--bank " + empty_bank + song_out, empty_bank + ": is empty"},
        {"--instrument " + empty_it + song_out, empty_it + ": is empty"},
        {"--bank " + wave_bank + song_out, wave_bank + ": is not a SoundFont 2 bank"},
        {"--instrument " + text_it + song_out, text_it + ": is not an instrument file"},
        {"--sample " + ok + song_out,
         ok + ": Not an audio file or format not supported (Format not recognised."},
        {with_sample + silent + " " + out, silent + ": no readable event"},
        // Refused before anything is written, with the song's length.
        {with_sample + endless + " " + out,
         endless + " lasts 134217727.5 s (37282 h 42 min), longer than the limit of 21600.0 s"},
        {"--bank " + kBank + " /nonexistent.mid " + out,
         "/nonexistent.mid: cannot be opened: No such file or directory"},
        {with_sample + folder + " " + out, folder + ": cannot be read: Is a directory"},
        {"--bank " + kBank + " " + junk + " " + out, "not a Standard MIDI File"},
        {with_sample + ok + " /nonexistent/dir/out.wav",
         "cannot write /nonexistent/dir/out.wav: No such file or directory"},
        {with_sample + ok + " " + folder, folder + " is a directory"},
    };
    for (const auto& [args, message] : cases) {
        const ToolRun r = run_render(args);
        EXPECT_EQ(r.status, 1) << args << "\n" << r.output;
        EXPECT_NE(r.output.find(message), std::string::npos) << args << "\n" << r.output;
        EXPECT_FALSE(std::filesystem::exists(out)) << args;
        EXPECT_EQ(leftovers(out), 0) << args;
    }
}

TEST_F(RenderTool, ASongAsLongAsTheLimitRenders) {
    const std::string out = dir.file("forty.wav");
    const ToolRun r = run_render("--max-seconds 40 --rate 8000 --sample " + sample + " " +
                                 long_song("forty.mid", 40) + " " + out);
    ASSERT_EQ(r.status, 0) << r.output;
    SF_INFO info;
    files::read_sound(out, info);
    EXPECT_GE(info.frames, 40 * 8000);
    EXPECT_EQ(leftovers(out), 0);
}

TEST_F(RenderTool, AnOutputThatIsAnInputIsRefusedAndTheInputKept) {
    const std::string song = long_song("kept.mid", 1), linked = dir.file("kept_link.wav");
    ASSERT_EQ(::link(sample.c_str(), linked.c_str()), 0);
    const auto song_bytes = files::read_bytes(song);
    const auto sample_bytes = files::read_bytes(sample);
    for (const std::string& out : {song, dir.path() + "/./kept.mid", linked}) {
        const ToolRun r = run_render("--sample " + sample + " " + song + " " + out);
        EXPECT_EQ(r.status, 1) << out << "\n" << r.output;
        EXPECT_NE(r.output.find("is the same file as the input"), std::string::npos) << r.output;
        EXPECT_EQ(files::read_bytes(song), song_bytes) << out;
        EXPECT_EQ(files::read_bytes(sample), sample_bytes) << out;
        EXPECT_EQ(leftovers(out), 0) << out;
    }
}

TEST_F(RenderTool, AFailedOrInterruptedRenderLeavesThePreviousOutputAlone) {
    const std::string song = long_song("stop.mid", 1800), out = dir.file("stop.wav");
    const files::Bytes previous = {'p', 'r', 'e', 'v', 'i', 'o', 'u', 's'};

    // A write error (the file size limit here) keeps libsndfile's reason.
    files::write_bytes(out, previous);
    const ToolRun full = run_render("--rate 8000 --sample " + sample + " " + song + " " + out,
                                    "trap '' XFSZ; ulimit -f 200; exec ");
    EXPECT_EQ(full.status, 1) << full.output;
    EXPECT_NE(full.output.find("writing " + out + " failed: "), std::string::npos) << full.output;
    EXPECT_NE(full.output.find("File too large"), std::string::npos) << full.output;
    EXPECT_EQ(files::read_bytes(out), previous);
    EXPECT_EQ(leftovers(out), 0);

    // Interrupted once the render is under way: one buffer per frame keeps it busy.
    const std::string bin = PLEXORA_RENDER_BIN;
    const char* argv[] = {bin.c_str(), "--rate",       "8000",       "--buffer",  "1",
                          "--sample",  sample.c_str(), song.c_str(), out.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, bin.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ),
              0);
    while (leftovers(out) == 0 && waitpid(pid, nullptr, WNOHANG) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(leftovers(out), 1) << "the render ended before it could be interrupted";
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
    EXPECT_EQ(files::read_bytes(out), previous);
    EXPECT_EQ(leftovers(out), 0);
}

TEST_F(RenderTool, DevicesFifosAndLinksAreWrittenThroughAndAKilledRendersLeftoversGo) {
    const std::string song = long_song("two.mid", 2), plain = dir.file("plain.wav");
    const std::string args = "--rate 8000 --sample " + sample + " " + song + " ";
    ASSERT_EQ(run_render(args + plain).status, 0);
    // The audio from the data chunk on: the header's peak chunk holds the time of writing.
    const auto audio = [](std::vector<std::uint8_t> b) {
        const std::string text(b.begin(), b.end());
        const auto at = text.find("data");
        return at == std::string::npos ? b
                                       : std::vector<std::uint8_t>(b.begin() + long(at), b.end());
    };
    const auto rendered = audio(files::read_bytes(plain));
    SF_INFO want{};
    sf_close(sf_open(plain.c_str(), SFM_READ, &want));

    // A FIFO is written into as a stream, and stays a FIFO; read into a file,
    // the stream holds every frame of the render.
    const std::string fifo = dir.file("pipe.wav"), caught = dir.file("caught.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::link(fifo.c_str(), dir.file("pipe-kept").c_str()), 0);
    std::thread reader([&] { files::write_bytes(caught, files::read_bytes(fifo)); });
    const ToolRun piped = run_render(args + fifo, "timeout 60 ");
    // A reader still waiting (nothing was written into the FIFO) is let go.
    ::close(::open(dir.file("pipe-kept").c_str(), O_WRONLY | O_NONBLOCK));
    reader.join();
    EXPECT_EQ(piped.status, 0) << piped.output;
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    SF_INFO got{};
    std::vector<float> a(std::size_t(want.frames) * 2), b(a.size());
    if (SNDFILE* f = sf_open(caught.c_str(), SFM_READ, &got)) {
        EXPECT_EQ(sf_readf_float(f, b.data(), want.frames), want.frames);
        sf_close(f);
    }
    EXPECT_EQ(got.samplerate, 8000) << "the stream does not read: " << sf_strerror(nullptr);
    SNDFILE* p = sf_open(plain.c_str(), SFM_READ, &want);
    sf_readf_float(p, a.data(), want.frames);
    sf_close(p);
    EXPECT_TRUE(a == b) << "the stream differs from the file";
    // A device stays the device: as root, a null device of the test's own
    // (so that a failure could not replace the system's), else /dev/null.
    std::string device = "/dev/null";
    if (::geteuid() == 0 && ::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        device = dir.file("null");
    if (::geteuid() != 0 || device != "/dev/null") {
        EXPECT_EQ(run_render(args + device).status, 0);
        struct stat dev {};
        EXPECT_TRUE(::stat(device.c_str(), &dev) == 0 && S_ISCHR(dev.st_mode));
    }

    // A link keeps pointing at its target, which takes the render.
    std::filesystem::create_directory(dir.file("real"));
    const std::string target = dir.file("real/target.wav"), link = dir.file("link.wav");
    files::write_bytes(target, {'o', 'l', 'd'});
    std::filesystem::create_symlink("real/target.wav", link);
    EXPECT_EQ(run_render(args + link).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(audio(files::read_bytes(target)), rendered);
    EXPECT_EQ(leftovers(link) + leftovers(target), 0);

    // A FIFO as an input is refused at once rather than waited on.
    const std::string fifo_song = dir.file("song-pipe.mid");
    ASSERT_EQ(::mkfifo(fifo_song.c_str(), 0600), 0);
    const ToolRun refused =
        run_render("--sample " + sample + " " + fifo_song + " " + plain, "timeout 20 ");
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_NE(refused.output.find(fifo_song + ": is a FIFO"), std::string::npos) << refused.output;

    // A render killed outright leaves its temporary file; a render running
    // beside it leaves that one alone while it lives, the next one removes it.
    const std::string out = dir.file("killed.wav"), slow = long_song("slow.mid", 1800);
    const std::string bin = PLEXORA_RENDER_BIN;
    const char* argv[] = {bin.c_str(), "--rate",       "8000",       "--buffer",  "1",
                          "--sample",  sample.c_str(), slow.c_str(), out.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, bin.c_str(), nullptr, nullptr, const_cast<char**>(argv), environ),
              0);
    while (leftovers(out) == 0 && waitpid(pid, nullptr, WNOHANG) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(leftovers(out), 1) << "the render ended before it could be killed";
    EXPECT_EQ(run_render(args + out).status, 0);
    EXPECT_EQ(leftovers(out), 1) << "a running render's file was taken away";
    kill(pid, SIGKILL);
    ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
    EXPECT_EQ(leftovers(out), 1);
    EXPECT_EQ(run_render(args + out).status, 0);
    EXPECT_EQ(leftovers(out), 0);
    EXPECT_EQ(audio(files::read_bytes(out)), rendered);
}

TEST_F(RenderTool, RendersARealSongWithARealBank) {
    const std::string out = dir.file("song.wav");
    const auto [status, output] = run_render("--bank " + kBank + " " + kSong + " " + out);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("realtime"), std::string::npos) << output;
    EXPECT_NE(output.find("max voices"), std::string::npos) << output;
    SF_INFO info;
    const std::vector<float> wav = files::read_sound(out, info);
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
    // The song holds some note from its start to its end at 60 s: every half
    // second of it carries sound.
    ASSERT_NEAR(song.end_seconds, 60.0, 0.01);
    for (std::size_t w = 0; w < 120; ++w)
        EXPECT_GE(testkit::rms(wav, w * 44100, (w + 1) * 44100), 1e-4) << "half second " << w;
}

TEST_F(RenderTool, SampleAndPlaySelectedPlayTheChosenMaterial) {
    // A 440 Hz sample at its default base key 48, played at key 60: 880 Hz.
    files::SmfTrack t;
    t.event(0, {0xC0, 9}).event(0, {0x90, 60, 127}).event(192, {0x80, 60, 0}).end();
    const std::string c4 = write_song("c4.mid", t), out = dir.file("out.wav");
    // Program 9 does not exist (one instrument): the channel stays on instrument 0.
    for (const char* mode : {"", "--play-selected "}) {
        const auto [status, output] =
            run_render(std::string(mode) + "--rate 48000 --buffer 64 --sample " + sample + " " +
                       c4 + " " + out);
        ASSERT_EQ(status, 0) << output;
        SF_INFO info;
        const auto left = testkit::channel(files::read_sound(out, info), 0);
        ASSERT_EQ(info.samplerate, 48000);
        // The one-second sample lasts half a second an octave up.
        ASSERT_EQ(left.size(), 48000u);
        EXPECT_EQ(testkit::peak(left, 25000), 0.0f);
        EXPECT_NEAR(testkit::zero_crossing_hz({left.begin() + 100, left.begin() + 20000}, 48000.0),
                    880.0, 2.0)
            << mode;
    }
}

TEST_F(RenderTool, AnSfzInstrumentPlaysItsRegionsAndSaysWhatItLeftOut) {
    // The 440 Hz sample with its root on key 48, an octave down from 60.
    const std::string sfz = put("tone.sfz", files::Bytes{});
    const std::string text =
        "<region> sample=sine.wav pitch_keycenter=48 cutoff=300\n"
        "<region> sample=gone.wav key=61\n";
    ASSERT_TRUE(files::write_bytes(sfz, files::Bytes(text.begin(), text.end())));
    files::SmfTrack t;
    t.event(0, {0x90, 60, 127}).event(96, {0x80, 60, 0}).end();
    const std::string out = dir.file("out.wav");
    const auto [status, output] =
        run_render("--rate 44100 --instrument " + sfz + " " + write_song("c4.mid", t) + " " + out);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("tone.sfz: 1 of 2 regions loaded, 1 refused."), std::string::npos);
    EXPECT_NE(output.find("the sample file is missing: " + dir.file("gone.wav")),
              std::string::npos);
    EXPECT_NE(output.find("cutoff: 1"), std::string::npos) << output;
    SF_INFO info;
    const auto left = testkit::channel(files::read_sound(out, info), 0);
    EXPECT_NEAR(testkit::zero_crossing_hz({left.begin() + 100, left.begin() + 20000}, 44100.0),
                880.0, 2.0);
}

TEST_F(RenderTool, GainScalesTheMixBeforeTheClipAndTheSummarySaysWhatClippedAndWhoPlayed) {
    // A piano chord on channel 1; a kick on channel 10, whose program change
    // the drum kit's lock ignores when banks play the plain way.
    files::SmfTrack t;
    t.event(0, {0xC9, 40}).event(0, {0x99, 36, 127});
    for (int key : {48, 52, 55, 60, 64, 67})
        t.event(0, {0x90, static_cast<std::uint8_t>(key), 127});
    t.event(96, {0x80, 60, 0}).end();
    const std::string chord = write_song("gain.mid", t);

    const auto render = [&](const std::string& gain, std::vector<float>& wav) {
        const std::string out = dir.file("gain" + gain + ".wav");
        const auto [status, output] =
            run_render((gain.empty() ? "" : "--gain " + gain + " ") + "--literal --bank " + kBank +
                       " " + chord + " " + out);
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("channels 1 Piano 1, 10 Standard\n"), std::string::npos) << output;
        SF_INFO info;
        wav = files::read_sound(out, info);
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
