#include "engine/output_level.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {

// The mix is divided by 4 before the clip, so four full-scale voices
// together reach full scale.
constexpr float kMixHeadroom = 4.0f;

std::atomic<float> g_gain{1.0f};
std::atomic<std::uint64_t> g_clipped{0};
std::atomic<float> g_peak{0.0f};  // written by the audio thread only

}  // namespace

void finish_output(float* samples, std::size_t count) {
    const float gain = g_gain.load(std::memory_order_relaxed);
    std::uint64_t clipped = 0;
    float peak = 0.0f;
    for (std::size_t i = 0; i < count; ++i) {
        float x = samples[i] / kMixHeadroom * gain;
        const float magnitude = std::fabs(x);
        peak = std::max(peak, magnitude);
        clipped += magnitude > 1.0f ? 1 : 0;
        if (x > 1.0f) x = 1.0f;
        if (x < -1.0f) x = -1.0f;
        samples[i] = x;
    }
    if (clipped) g_clipped.fetch_add(clipped, std::memory_order_relaxed);
    if (peak > g_peak.load(std::memory_order_relaxed))
        g_peak.store(peak, std::memory_order_relaxed);
}

void set_output_gain(float gain) {
    g_gain.store(gain, std::memory_order_relaxed);
}

float output_gain() {
    return g_gain.load(std::memory_order_relaxed);
}

ClipCounts clip_counts() {
    return {g_clipped.load(std::memory_order_relaxed), g_peak.load(std::memory_order_relaxed)};
}

void reset_clip_counts() {
    g_clipped.store(0, std::memory_order_relaxed);
    g_peak.store(0.0f, std::memory_order_relaxed);
}
