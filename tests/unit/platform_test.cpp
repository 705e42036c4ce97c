// The sound player without sound services and stopped mid-buffer, and the
// system counts parsed from the text of /proc.
#include <unistd.h>

#include "engine/voices.h"
#include "platform/engine_services.h"
#include "platform/environment.h"
#include "platform/sound_player.h"
#include "platform/sys_info.h"
#include "support/testkit.h"

namespace {

struct Counter {
    std::atomic<int> calls{0}, bad_format{0}, inside{0};
};

// Each call takes 3 ms, so that Stop often lands inside one.
void count_buffers(void* cookie, void* buffer, std::size_t size, const raw_audio_format& f) {
    auto* c = static_cast<Counter*>(cookie);
    c->inside.fetch_add(1);
    if (f.channel_count != 2 || f.format != kFormatFloat || f.buffer_size != size ||
        size % (2 * sizeof(float)) != 0 || !buffer) {
        c->bad_format.fetch_add(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    c->calls.fetch_add(1);
    c->inside.fetch_sub(1);
}

TEST(SoundPlayer, WithoutSoundServicesFallsBackToTheSilentOutputAfterTryingEach) {
    environment::prepare();
    // No JACK server under this name, no PulseAudio server, and an ALSA
    // configuration without devices.
    char conf[] = "/tmp/plexora-alsa-XXXXXX";
    const int fd = mkstemp(conf);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("ALSA_CONFIG_PATH", conf, 1);
    setenv("PULSE_SERVER", "unix:/nonexistent/plexora-no-pulse", 1);
    setenv("JACK_DEFAULT_SERVER", ("plexora-none-" + std::to_string(getpid())).c_str(), 1);
    Counter c;
    SoundPlayer player("wave_player", &count_buffers, &c);
    unlink(conf);
    EXPECT_EQ(player.Backend(), AudioBackend::kSilent);
    EXPECT_STREQ(player.BackendName(), "silent output");
    const std::string& report = player.Report();
    const auto jack = report.find("JACK: "), pulse = report.find("PulseAudio: "),
               alsa = report.find("ALSA: ");
    ASSERT_NE(alsa, std::string::npos) << report;
    EXPECT_LT(jack, pulse) << report;
    EXPECT_LT(pulse, alsa) << report;
    EXPECT_NE(report.find("silent output"), std::string::npos) << report;
    EXPECT_EQ(player.BufferFrames(), 256u);
    EXPECT_FLOAT_EQ(player.FrameRate(), 44100.0f);
    EXPECT_GT(player.Latency(), 0);
    EXPECT_EQ(c.calls, 0) << "nothing is rendered before Start";
}

TEST(SoundPlayer, StopWaitsForARunningCallbackAndNoneStartsAfterIt) {
    SoundPlayerOptions only_silent;
    only_silent.order.clear();
    Counter c;
    SoundPlayer player("wave_player", &count_buffers, &c, only_silent);
    ASSERT_EQ(player.Backend(), AudioBackend::kSilent);
    for (int round = 0; round < 20; ++round) {
        ASSERT_TRUE(player.Start());
        EXPECT_TRUE(player.IsPlaying());
        const int before = c.calls;
        while (c.calls == before) std::this_thread::sleep_for(std::chrono::microseconds(200));
        std::this_thread::sleep_for(std::chrono::microseconds(300 * (round % 7)));
        player.Stop();
        EXPECT_FALSE(player.IsPlaying());
        EXPECT_EQ(c.inside, 0) << "round " << round;
        const int after = c.calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(c.calls, after) << "round " << round;
    }
    EXPECT_EQ(c.bad_format, 0);
    EXPECT_GE(player.Buffers(), static_cast<std::uint64_t>(c.calls));
}

template <typename F>
bool wait_until(double seconds, F ready) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!ready())
        if (std::chrono::steady_clock::now() > until)
            return false;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
}

// The audio settings applied while a note plays: a choice that cannot open
// brings back the output that played, with the reason; one that opens takes
// over, and the held note goes on on it.
TEST(EngineServices, AudioChoicesAppliedWhilePlayingFallBackWhenTheyFail) {
    testkit::fresh_tables();
    testkit::looped_sound(testkit::sine16(440.0, 44100, 4410), 44100, 69);
    EngineServices services({.audio = true, .streaming = false, .midi = false});
    const AudioChoice silent{.output = AudioBackend::kSilent, .device = {}, .period = 512};
    services.set_audio_choice(silent);
    services.start_audio();
    ASSERT_TRUE(wait_until(5, [&] { return services.take_player(); }));
    ASSERT_TRUE(services.silent());
    MyBMidiPort keys;
    keys.NoteOn(0, 69, 100);
    ASSERT_EQ(active_voices(), 1);
    std::string message;
    const AudioChoice missing{
        .output = AudioBackend::kAlsa, .device = "no such device", .period = 128};
    EXPECT_FALSE(services.apply_audio(missing, message));
    EXPECT_NE(message.find("ALSA"), std::string::npos) << message;
    EXPECT_NE(message.find("silent output, 44100 Hz, 512 frames"), std::string::npos) << message;
    EXPECT_EQ(services.audio_choice(), silent);
    EXPECT_EQ(services.player()->BufferFrames(), 512u);
    AudioChoice shorter = silent;
    shorter.period = 64;
    shorter.rate = 48000;
    EXPECT_TRUE(services.apply_audio(shorter, message));
    EXPECT_EQ(services.audio_choice(), shorter);
    EXPECT_EQ(services.player()->BufferFrames(), 64u);
    EXPECT_FLOAT_EQ(services.player()->FrameRate(), 48000.0f);
    const std::uint64_t buffers = services.player()->Buffers();
    EXPECT_TRUE(wait_until(5, [&] { return services.player()->Buffers() > buffers + 4; }));
    EXPECT_EQ(active_voices(), 1);
    keys.NoteOff(0, 69, 64);
    EXPECT_TRUE(wait_until(5, [] { return active_voices() == 0; }));
    services.stop();
    testkit::fresh_tables();
}

TEST(SysInfo, PagesAndThreadsFromProcText) {
    const std::string meminfo =
        "MemTotal:        8000000 kB\nMemFree:          100000 kB\n"
        "MemAvailable:    6000000 kB\nBuffers:            1000 kB\n";
    const sysinfo::Counts c = sysinfo::parse_counts(meminfo, "0.52 0.58 0.59 3/467 12345\n", 4096);
    EXPECT_EQ(c.max_pages, 2000000u);  // 8000000 kB in 4 kB pages
    EXPECT_EQ(c.used_pages, 500000u);  // total less what is available
    EXPECT_EQ(c.threads, 467u);
    EXPECT_EQ(sysinfo::format_line(c), "Sys Info : 7a120/1e8480  1d3 \n");

    // Older kernels have no MemAvailable: free memory stands in for it.
    const sysinfo::Counts old =
        sysinfo::parse_counts("MemTotal: 400 kB\nMemFree: 100 kB\n", "garbage", 1024);
    EXPECT_EQ(old.max_pages, 400u);
    EXPECT_EQ(old.used_pages, 300u);
    EXPECT_EQ(old.threads, 0u);
}

}  // namespace
