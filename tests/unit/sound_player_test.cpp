#include "platform/sound_player.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/environment.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Counter {
    std::atomic<int> calls{0};
    std::atomic<int> bad_format{0};
    std::atomic<int> inside{0};
    std::atomic<bool> slow{false};
};

void count_buffers(void* cookie, void* buffer, std::size_t size, const raw_audio_format& f) {
    auto* c = static_cast<Counter*>(cookie);
    c->inside.fetch_add(1);
    if (f.channel_count != 2 || f.format != kFormatFloat || f.buffer_size != size ||
        size % (2 * sizeof(float)) != 0 || !buffer) {
        c->bad_format.fetch_add(1);
    }
    static_cast<float*>(buffer)[0] = 0.5f;
    if (c->slow) std::this_thread::sleep_for(std::chrono::milliseconds(3));
    c->calls.fetch_add(1);
    c->inside.fetch_sub(1);
}

// Takes every sound service away from this process: no JACK server under
// this name, no PulseAudio server, and an ALSA configuration without devices.
void without_sound_services() {
    environment::prepare();
    static std::string empty_conf;
    char path[] = "/tmp/plexora-alsa-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    empty_conf = path;
    setenv("ALSA_CONFIG_PATH", empty_conf.c_str(), 1);
    setenv("PULSE_SERVER", "unix:/nonexistent/plexora-no-pulse", 1);
    setenv("JACK_DEFAULT_SERVER", ("plexora-none-" + std::to_string(getpid())).c_str(), 1);
}

TEST(SoundPlayer, FallsBackToTheSilentOutputAndKeepsItsPace) {
    without_sound_services();
    Counter c;
    SoundPlayer player("wave_player", &count_buffers, &c);
    EXPECT_EQ(player.Backend(), AudioBackend::kSilent);
    EXPECT_STREQ(player.BackendName(), "silent output");
    EXPECT_STREQ(player.Name(), "wave_player");
    // Every service was tried, in order, and the report says so.
    const std::string& report = player.Report();
    const auto jack = report.find("JACK: ");
    const auto pulse = report.find("PulseAudio: ");
    const auto alsa = report.find("ALSA: ");
    ASSERT_NE(jack, std::string::npos) << report;
    ASSERT_NE(pulse, std::string::npos) << report;
    ASSERT_NE(alsa, std::string::npos) << report;
    EXPECT_LT(jack, pulse);
    EXPECT_LT(pulse, alsa);
    EXPECT_NE(report.find("silent output"), std::string::npos) << report;

    EXPECT_EQ(player.BufferFrames(), 256u);
    EXPECT_FLOAT_EQ(player.FrameRate(), 44100.0f);
    EXPECT_GT(player.Latency(), 0);
    EXPECT_EQ(c.calls, 0) << "nothing is rendered before Start";

    ASSERT_TRUE(player.Start());
    const auto t0 = Clock::now();
    const int c0 = c.calls;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const int c1 = c.calls;
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    player.Stop();

    // 44100 / 256 = about 172 buffers a second; a loaded machine may be late,
    // but the clock must neither stall nor race.
    const double expected = elapsed * 44100.0 / 256.0;
    EXPECT_GT(c1 - c0, 0.5 * expected) << "buffers " << (c1 - c0) << " in " << elapsed << " s";
    EXPECT_LT(c1 - c0, 1.5 * expected) << "buffers " << (c1 - c0) << " in " << elapsed << " s";
    EXPECT_EQ(c.bad_format, 0);
    EXPECT_GE(player.Buffers(), static_cast<std::uint64_t>(c1));
}

TEST(SoundPlayer, StopWaitsForARunningCallbackAndNoneStartsAfterIt) {
    SoundPlayerOptions only_silent;
    only_silent.order.clear();
    Counter c;
    c.slow = true;  // each callback takes 3 ms, so Stop often lands inside one
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
}

}  // namespace
