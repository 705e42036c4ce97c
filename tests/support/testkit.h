// Shared helpers for the engine tests: clean tables, generated sounds,
// rendering through the callback, and measurements of the result.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/sound.h"
#include "engine/channels.h"
#include "engine/tone_tables.h"
#include "engine/voice_table.h"
#include "midi/reset_tables.h"

namespace testkit {

// Resets every table to its start-up state and frees what was retired.
void fresh_tables();

// A new 16-bit or 8-bit sound from interleaved samples (not published).
p_s* make_sound16(const std::vector<std::int16_t>& samples, std::uint32_t rate, int base,
                  bool stereo = false);
p_s* make_sound8(const std::vector<std::int8_t>& samples, std::uint32_t rate, int base,
                 bool stereo = false);
// A sound of `frames` frames whose every sample differs from its neighbours,
// in each of the four sample formats.
struct Format {
    int bits;
    bool stereo;
};
inline constexpr Format kFormats[] = {{8, false}, {8, true}, {16, false}, {16, true}};
p_s* ramp_sound(int bits, bool stereo, int frames);
// Sets a sound's loop in frames and turns looping on.
void set_loop_frames(p_s* s, std::uint32_t start, std::uint32_t end);
// Publishes in `slot` a 16-bit mono sound that loops over all its frames.
p_s* looped_sound(const std::vector<std::int16_t>& samples, std::uint32_t rate = 44100,
                  int base = 60, int slot = 0);
// A sound's playing fields in one line, for example
// "16-bit mono shift 1, 22050 Hz, base 60, keys 0-59, size 400, loop on 20-380".
std::string describe(const p_s* s);
// `frames` frames of a sine of `hz` at `rate`, amplitude `amp` (of 32767).
std::vector<std::int16_t> sine16(double hz, std::uint32_t rate, std::uint32_t frames,
                                 double amp = 0.8);

// Renders `frames` frames at `rate` through BufferProc in buffers of
// `buffer_frames` frames for a device of `channels`, calling `before(k)` ahead
// of buffer k; returns the interleaved result.
std::vector<float> render(std::size_t frames, float rate = 44100.0f,
                          std::size_t buffer_frames = 512, std::uint32_t channels = 2,
                          const std::function<void(int)>& before = {});

// One channel of an interleaved signal of `channels` channels.
std::vector<float> channel(const std::vector<float>& v, int ch, int channels = 2);
// Frequency from the rising zero crossings of a signal.
double zero_crossing_hz(const std::vector<float>& mono, double rate);
double rms(const std::vector<float>& v, std::size_t from = 0, std::size_t to = SIZE_MAX);
float peak(const std::vector<float>& v, std::size_t from = 0, std::size_t to = SIZE_MAX);
bool all_finite(const std::vector<float>& v);

// Runs `step` over and over on a thread of its own until stopped (at the
// latest when destroyed); the thread then gives back its reader slot.
class Looper {
  public:
    explicit Looper(std::function<void()> step);
    ~Looper() { stop(); }
    void stop();

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Alert {
    std::string text, button, details;  // details: "" when the alert has none
};

// Fresh tables before and after each test; every alert raised is kept in
// `alerts()` instead of shown, and every code posted to the main window in `posts()`.
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    static std::vector<Alert>& alerts();
    static std::vector<std::uint32_t>& posts();
};

}  // namespace testkit
