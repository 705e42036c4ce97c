// Shared helpers for the engine tests: clean tables, generated sounds,
// rendering through the callback, and measurements of the result. It also
// brings in the engine headers most tests use, so that they need not repeat them.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/hooks.h"
#include "core/instruments.h"
#include "core/notify.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "engine/render.h"
#include "engine/stream.h"
#include "engine/tone_tables.h"
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "io/input_bytes.h"
#include "midi/midi_port.h"
#include "midi/reset_tables.h"
#include "support/file_builders.h"

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
// A sound's data as bytes (none for an empty slot), and its 16-bit sample `i`.
std::vector<std::int8_t> bytes_of(const p_s* s);
inline std::int16_t word_at(const p_s* s, std::size_t i) {
    return reinterpret_cast<const std::int16_t*>(s->data)[i];
}
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
// Where a signal crosses zero upwards, interpolated between frames; its
// frequency from the first crossing to the last.
std::vector<double> rising_crossings(const std::vector<float>& mono);
double zero_crossing_hz(const std::vector<float>& mono, double rate);
double rms(const std::vector<float>& v, std::size_t from = 0, std::size_t to = SIZE_MAX);
float peak(const std::vector<float>& v, std::size_t from = 0, std::size_t to = SIZE_MAX);
bool all_finite(const std::vector<float>& v);

// The output of one 16-bit sample unit on output `out` (0 left, 1 right) for
// a centred channel at velocity 127 and main volume 127: the pan law's
// sin(pi/2 * 64/128) or sin(pi/2 * 63/128), then the final /4.
float unit_gain(int out);

// A decoder of 16-bit mono frames numbered by `numbered_frame` (never 0, so
// silence is told apart from sound). Each read sleeps `delay_us` first and,
// while `hold` is set, waits there with `inside` raised. Its controls are
// shared, so they outlive a source that a fault frees under its reader.
inline constexpr int kNumberedPeriod = 30000;
inline std::int16_t numbered_frame(std::int64_t i) {
    return static_cast<std::int16_t>(i % kNumberedPeriod + 1);
}
struct SourceControl {
    std::atomic<int> delay_us{0};
    std::atomic<bool> hold{false}, inside{false}, destroyed{false};
};
class NumberedSource : public StreamSource {
  public:
    explicit NumberedSource(std::shared_ptr<SourceControl> c) : c_(std::move(c)) {}
    ~NumberedSource() override { c_->destroyed = true; }
    unsigned frame_bytes() const override { return 2; }
    std::size_t scratch_samples(std::int64_t) const override { return 0; }
    std::int64_t read(std::int8_t* dst, std::int64_t frames, DecodeScratch&) override;
    bool seek(std::int64_t frame) override { return at_ = frame, true; }

  private:
    std::shared_ptr<SourceControl> c_;
    std::int64_t at_ = 0;
};
// A streamed sound (base key 48, 44100 Hz) of a NumberedSource, laid out as
// the loader lays it out, its resident start read; not published.
p_s* numbered_stream(std::shared_ptr<SourceControl> c);
// Follows the left side of a numbered stream played at step 1 by a centred
// voice at full velocity: frames heard, silent (waiting for the reader), and
// out of file order (each frame heard should follow the one before it).
struct FileOrder {
    std::int64_t heard = 0, silent = 0, wrong = 0, next = 0;
    void hear(const std::vector<float>& interleaved);
};

// A render callback that writes the frame count so far into each frame: n
// on the left, -n on the right, so that a frame written twice, skipped or
// shifted shows. It counts its calls and the frames of the largest, notes a
// format that disagrees with the buffer, and while `stall` is set keeps the
// caller waiting inside it.
struct Ramp {
    std::atomic<unsigned> calls{0}, largest{0};
    std::atomic<int> inside{0};
    std::atomic<bool> stall{false}, stalled{false}, bad_format{false};
    float next = 1;  // the rendering thread only
    static void proc(void* cookie, void* buffer, std::size_t size, const raw_audio_format& f);
};

// The sound names instrument by instrument, "0.0 0.1 | 1.0", after checking
// every invariant of the instrument structure.
std::string layout();

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

// What a refused or failed load must leave exactly as it was: the sound and
// instrument tables, the instrument names, the selection and the drum channel.
struct TableSnapshot {
    std::vector<p_s*> sounds = {};
    std::vector<int> first = {};
    std::vector<std::string> names = {};
    int sound_count = 0, inst_count = 0, selected = 0, drum_inst = 0;
    bool drum_locked = false;

    static TableSnapshot take() {
        TableSnapshot s{.sound_count = ::nb_sound,
                        .inst_count = ::nb_inst,
                        .selected = ::no_s,
                        .drum_inst = ch_inst[9],
                        .drum_locked = ch_instf[9]};
        for (int i = 0; i < ::nb_sound; ++i) s.sounds.push_back(t_sound[i]);
        for (int k = 0; k < ::nb_inst; ++k) s.first.push_back(t_inst[k]);
        for (int k = 0; k < ::nb_inst; ++k) s.names.push_back(::inst_name(k));
        return s;
    }
    bool operator==(const TableSnapshot&) const = default;
};

inline void expect_unchanged(const TableSnapshot& before) {
    EXPECT_TRUE(TableSnapshot::take() == before) << "the tables changed";
}

// Records the hooks a MIDI source calls, as short text ("on 0 60 100",
// "prog 5 9"); one thread may read while another records.
class MidiRecorder : public MyBMidiPort {
  public:
    using U = std::uint8_t;
    void NoteOn(U c, U n, U v, std::int64_t) override { add("on", c, n, v); }
    void NoteOff(U c, U n, U v, std::int64_t) override { add("off", c, n, v); }
    void ControlChange(U c, U n, U v, std::int64_t) override { add("cc", c, n, v); }
    void PitchBend(U c, U l, U m, std::int64_t) override { add("bend", c, l, m); }
    void ProgramChange(U c, U p, std::int64_t) override { add("prog", c, p, -1); }
    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

  private:
    void add(const char* what, int c, int a, int b) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::string(what) + " " + std::to_string(c) + " " + std::to_string(a) +
                         (b >= 0 ? " " + std::to_string(b) : ""));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

struct Alert {
    std::string text, button, details;  // details: "" when the alert has none
    // A notice (not an error) has the button "(notice)".
};

// Fresh tables before and after each test; every alert raised is kept in
// `alerts()` instead of shown. Afterwards no window listens for notices and
// none is left.
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    static std::vector<Alert>& alerts();
};

// The same, with banks imported and played as their makers set them and
// notes on their channel's instrument.
class AsSetTest : public EngineTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Imports the bank `b`; the instruments it placed.
    static int import(const std::vector<std::uint8_t>& b);
};

}  // namespace testkit
