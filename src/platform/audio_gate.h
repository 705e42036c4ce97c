// The door between an audio output's thread and the render callback. The
// output calls `render` for every buffer; once `close` has returned, no call
// of the render callback is running and none will start, whatever the
// output's own thread still does. When given a queue of timed MIDI messages,
// the gate renders up to each message's frame, applies it, and goes on.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/render.h"
#include "midi/midi_bytes.h"

class MyBMidiPort;
class TimedMidiQueue;
struct TimedMidiEvent;

using RenderProc = void (*)(void* cookie, void* buffer, std::size_t size,
                            const raw_audio_format& format);

// Where one render call's frames sit in time, as the output knows it.
struct OutputClock {
    std::int64_t frame_time = 0;  // the JACK frame time of the call's first frame
    bool has_frame_time = false;
    std::int64_t period_ns = 0;  // steady clock when the output asked for the period
    unsigned period = 0;         // frames in the period; 0: no clock (messages go first)
    unsigned offset = 0;         // the call's first frame within the period
};

class AudioGate {
  public:
    AudioGate(RenderProc proc, void* cookie) : proc_(proc), cookie_(cookie) {}

    // GUI thread, before the gate first opens. While open, the gate takes
    // the messages of `queue` and applies them to `port` at their frames;
    // once closed, the messages still queued are applied at once.
    void take_midi(TimedMidiQueue* queue, MyBMidiPort* port) noexcept;

    // Audio thread. Fills `frames` interleaved stereo float frames at `rate`:
    // the render callback's mix while the gate is open, silence otherwise.
    void render(float* out, unsigned frames, float rate, const OutputClock& clock = {}) noexcept;
    // Any thread. The frame within a call of `frames` frames at which `e` is
    // due (`frames` or more: not in this call).
    static unsigned due_frame(const TimedMidiEvent& e, const OutputClock& clock, float rate,
                              unsigned frames) noexcept;
    // Audio thread. The output reports a buffer it could not deliver in time.
    void count_xrun() noexcept { xruns_.fetch_add(1, std::memory_order_relaxed); }

    // GUI thread.
    void open() noexcept;
    // GUI thread. Returns once no render callback is running.
    void close() noexcept;
    bool is_open() const noexcept { return open_.load(std::memory_order_relaxed); }

    // Any thread.
    std::uint64_t buffers() const noexcept { return buffers_.load(std::memory_order_relaxed); }
    std::uint64_t xruns() const noexcept { return xruns_.load(std::memory_order_relaxed); }

  private:
    void mix(float* out, unsigned frames, float rate) noexcept;

    RenderProc proc_;
    TimedMidiQueue* midi_ = nullptr;
    MyBMidiPort* port_ = nullptr;
    MidiByteParser parser_;  // whoever consumes the queue: the audio thread while open
    void* cookie_;
    std::atomic<bool> open_{false};
    std::atomic<int> inside_{0};
    std::atomic<std::uint64_t> buffers_{0};
    std::atomic<std::uint64_t> xruns_{0};
};
