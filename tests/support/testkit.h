// Shared helpers for the engine tests: clean tables, generated sounds,
// rendering through the callback, and measurements of the result.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/sound.h"
#include "engine/channels.h"
#include "engine/tone_tables.h"
#include "engine/voice_table.h"
#include "midi/reset_tables.h"

namespace testkit {

// Resets every table to its start-up state and frees what was retired.
void fresh_tables();

// A new 16-bit mono or stereo sound from interleaved samples (not published).
p_s* make_sound16(const std::vector<std::int16_t>& samples, std::uint32_t rate, int base,
                  bool stereo = false);
// A new 8-bit sound from interleaved signed samples (not published).
p_s* make_sound8(const std::vector<std::int8_t>& samples, std::uint32_t rate, int base,
                 bool stereo = false);
// `frames` frames of a sine of `hz` at `rate`, amplitude `amp` (of 32767).
std::vector<std::int16_t> sine16(double hz, std::uint32_t rate, std::uint32_t frames,
                                 double amp = 0.8);
// Sets a sound's loop in frames and turns looping on.
void set_loop_frames(p_s* s, std::uint32_t start, std::uint32_t end);

// Renders `frames` stereo frames at `rate` through BufferProc in buffers of
// `buffer_frames` frames; returns the interleaved result.
std::vector<float> render(std::size_t frames, float rate = 44100.0f,
                          std::size_t buffer_frames = 512);

// One channel (0 left, 1 right) of an interleaved stereo signal.
std::vector<float> channel(const std::vector<float>& stereo, int ch);
// Frequency from the rising zero crossings of a signal.
double zero_crossing_hz(const std::vector<float>& mono, double rate);
double rms(const std::vector<float>& v, std::size_t from = 0, std::size_t to = SIZE_MAX);
float peak(const std::vector<float>& v, std::size_t from = 0, std::size_t to = SIZE_MAX);

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override { fresh_tables(); }
    void TearDown() override { fresh_tables(); }
};

// Fresh tables, and every alert raised is kept in `alerts()` instead of shown.
class AlertingTest : public EngineTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    static std::vector<std::string>& alerts();
};

}  // namespace testkit
