#include "platform/silent_output.h"

#include <chrono>

#include "core/reclaim.h"
#include "platform/timed_midi.h"

SilentOutput::SilentOutput(AudioGate& gate, float rate, unsigned frames)
    : gate_(gate), rate_(rate), frames_(frames ? frames : 256), buffer_(std::size_t(frames_) * 2) {}

SilentOutput::~SilentOutput() {
    stop();
}

bool SilentOutput::start() {
    if (thread_.joinable()) return true;
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void SilentOutput::stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
}

void SilentOutput::run() {
    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<clock::duration>(
        std::chrono::duration<double>(frames_ / static_cast<double>(rate_)));
    auto due = clock::now();
    while (running_.load(std::memory_order_relaxed)) {
        gate_.render(buffer_.data(), frames_, rate_, clock_now(frames_));
        due += period;
        const auto now = clock::now();
        if (now > due + 4 * period) {
            // Fell behind by several buffers (the machine was busy): a device
            // would have run dry here. Count it and take up the beat again.
            gate_.count_xrun();
            due = now;
        }
        std::this_thread::sleep_until(due);
    }
    reclaim::release_thread_slot();
}
