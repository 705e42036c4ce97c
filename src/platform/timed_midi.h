// Incoming MIDI messages on their way to the render callback, each with the
// moment it is due, so that a note starts at its own frame of the period
// instead of at the start of whichever period came after the MIDI thread
// woke. The producer is the JACK cycle or the sequencer's delivery thread;
// the consumer is the output's gate on the audio thread, which renders up to
// each message's frame, applies it and goes on. While no output takes the
// messages (no player, or its gate closed), producers apply them at once as
// before.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// When a message is due: a frame of the JACK server's frame clock (exact,
// when the output is the same client's) or a moment of the steady clock in
// nanoseconds (placed one period later, at the same distance from the
// period's start as from the message before it).
struct TimedMidiEvent {
    std::int64_t when = 0;
    bool frame_time = false;
    std::uint8_t size = 0;
    std::uint8_t bytes[3] = {};
};

class TimedMidiQueue {
  public:
    static constexpr std::size_t kEvents = 4096;  // a power of two

    // MIDI thread or the JACK cycle (one producer at a time). Queues a
    // message of one to three bytes; false when it is longer or the queue is
    // full (counted as dropped).
    bool push(const std::uint8_t* bytes, std::size_t size, std::int64_t when,
              bool frame_time) noexcept;
    // Audio thread (the one consumer). The oldest message, or null.
    const TimedMidiEvent* front() const noexcept;
    // Audio thread. Drops the oldest message.
    void pop() noexcept;

    // GUI thread. Set while an open output takes the messages.
    void set_taken(bool taken) noexcept { taken_.store(taken, std::memory_order_seq_cst); }
    // Any thread.
    bool taken() const noexcept { return taken_.load(std::memory_order_seq_cst); }
    std::uint64_t dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }

  private:
    TimedMidiEvent events_[kEvents];
    std::atomic<std::size_t> head_{0};  // next to read; the consumer's
    std::atomic<std::size_t> tail_{0};  // next to write; the producer's
    std::atomic<bool> taken_{false};
    std::atomic<std::uint64_t> dropped_{0};
};

// Any thread. The steady clock in nanoseconds, as the queue's stamps use it.
std::int64_t steady_ns() noexcept;

struct OutputClock;
// Audio thread. The clock of a period of `frames` frames asked for now, for
// outputs that know no frame time of their own.
OutputClock clock_now(unsigned frames) noexcept;
