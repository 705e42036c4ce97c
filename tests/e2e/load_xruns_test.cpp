// A full voice table through a private JACK server (dummy driver): the
// render callback keeps up, so the server drops no more cycles with 128
// voices playing than with none (give or take what a busy machine drops).
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "engine/render.h"
#include "engine/voices.h"
#include "platform/sound_player.h"
#include "support/testkit.h"

extern char** environ;

namespace {

void sleep_s(double s) {
    std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

// `jackd -d dummy` at 48 kHz in cycles of 256 frames, under a name of its
// own, ended with the test (and by `timeout` should the test die).
struct DummyJack {
    DummyJack() {
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        const char* argv[] = {"timeout", "120", "jackd", "-r", "-n",  name.c_str(), "-d",
                              "dummy",   "-r",  "48000", "-p", "256", nullptr};
        if (posix_spawnp(&pid, "timeout", nullptr, nullptr, const_cast<char**>(argv), environ))
            pid = -1;
        for (int i = 0; pid > 0 && i < 300 && !running; ++i) {
            if (jack_client_t* c = jack_client_open("plexora-probe", JackNoStartServer, nullptr)) {
                jack_client_close(c);
                running = true;
            } else {
                sleep_s(0.05);
            }
        }
    }
    ~DummyJack() {
        if (pid > 0) kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
    }
    std::string name = "plexora-load-" + std::to_string(getpid());
    pid_t pid = -1;
    bool running = false;
};

class LoadXruns : public testkit::EngineTest {};

}  // namespace

TEST_F(LoadXruns, HundredTwentyEightVoicesDropNoMoreCyclesThanNone) {
    DummyJack server;
    ASSERT_TRUE(server.running) << "jackd did not start";
    testkit::looped_sound(testkit::sine16(440.0, 44100, 44100), 44100, 60);

    SoundPlayerOptions jack_only;
    jack_only.order = {AudioBackend::kJack};
    jack_only.connect_outputs = false;
    SoundPlayer player("load_player", &BufferProc, nullptr, jack_only);
    ASSERT_EQ(player.Backend(), AudioBackend::kJack) << player.Report();
    ASSERT_TRUE(player.Start());
    sleep_s(0.5);  // let the server settle

    // Three seconds idle, then three with every voice playing.
    struct Stretch {
        std::uint64_t buffers, xruns;
    };
    const auto stretch = [&] {
        const std::uint64_t b = player.Buffers(), x = player.Xruns();
        sleep_s(3.0);
        return Stretch{player.Buffers() - b, player.Xruns() - x};
    };
    const Stretch idle = stretch();
    for (std::uint32_t v = 0; v < 128; ++v) addnote(v % 16, 36 + v % 60, 0, 100, false, 0, 0);
    ASSERT_EQ(active_voices(), 128);
    const Stretch loaded = stretch();
    const int still_playing = active_voices();
    player.Stop();

    std::printf(
        "e2e: 3 s idle: %llu buffers, %llu xruns; 3 s at 128 voices: %llu buffers, "
        "%llu xruns\n",
        static_cast<unsigned long long>(idle.buffers), static_cast<unsigned long long>(idle.xruns),
        static_cast<unsigned long long>(loaded.buffers),
        static_cast<unsigned long long>(loaded.xruns));
    EXPECT_EQ(still_playing, 128);  // looping voices never end by themselves
    // 48000 / 256 cycles a second: the callback ran through the stretch.
    EXPECT_GT(loaded.buffers, 3u * 48000 / 256 / 2);
    // A callback too slow for 128 voices misses nearly every cycle; a busy
    // machine drops stray cycles with or without voices, so those are allowed
    // up to one cycle in twenty.
    EXPECT_LE(loaded.xruns, idle.xruns + loaded.buffers / 20);
}
