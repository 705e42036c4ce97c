#include "platform/audio_gate.h"

#include <cstring>
#include <thread>

#include "core/reclaim.h"
#include "platform/output_recorder.h"

void AudioGate::render(float* out, unsigned frames, float rate) noexcept {
    const std::size_t bytes = std::size_t(frames) * 2 * sizeof(float);
    // Announce first, then look at the door: `close` stores the door first,
    // then looks at the announcement, so one of the two sees the other.
    inside_.fetch_add(1, std::memory_order_seq_cst);
    if (open_.load(std::memory_order_seq_cst) && proc_) {
        raw_audio_format format;
        format.frame_rate = rate;
        format.channel_count = 2;
        format.format = kFormatFloat;
        format.buffer_size = bytes;
        proc_(cookie_, out, bytes, format);
        buffers_.fetch_add(1, std::memory_order_relaxed);
    } else {
        std::memset(out, 0, bytes);
    }
    output_tap::pass(out, frames, rate);  // a recording hears what the output plays
    inside_.fetch_sub(1, std::memory_order_seq_cst);
    // Output threads belong to the audio library and end without telling
    // us; giving the reader slot back after each buffer keeps none stranded.
    reclaim::release_thread_slot();
}

void AudioGate::close() noexcept {
    open_.store(false, std::memory_order_seq_cst);
    while (inside_.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
}
