#include "platform/timed_midi.h"

#include <chrono>
#include <cstring>

#include "platform/audio_gate.h"

bool TimedMidiQueue::push(const std::uint8_t* bytes, std::size_t size, std::int64_t when,
                          bool frame_time) noexcept {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (size == 0 || size > sizeof(TimedMidiEvent::bytes) ||
        tail - head_.load(std::memory_order_acquire) >= kEvents) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    TimedMidiEvent& e = events_[tail % kEvents];
    e.when = when;
    e.frame_time = frame_time;
    e.size = static_cast<std::uint8_t>(size);
    std::memcpy(e.bytes, bytes, size);
    tail_.store(tail + 1, std::memory_order_release);
    return true;
}

const TimedMidiEvent* TimedMidiQueue::front() const noexcept {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return nullptr;
    return &events_[head % kEvents];
}

void TimedMidiQueue::pop() noexcept {
    head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

std::int64_t steady_ns() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

OutputClock clock_now(unsigned frames) noexcept {
    OutputClock clock;
    clock.period_ns = steady_ns();
    clock.period = frames;
    return clock;
}
