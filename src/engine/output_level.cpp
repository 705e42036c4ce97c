#include "engine/output_level.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

std::atomic<float> g_gain{1.0f};
std::atomic<std::uint64_t> g_clipped{0};
std::atomic<float> g_peak{0.0f};  // written by the audio thread only

// Float and integer vectors of `Bytes` bytes.
template <int Bytes>
struct Vectors;
template <>
struct Vectors<16> {
    using F = float __attribute__((vector_size(16)));
    using I = std::int32_t __attribute__((vector_size(16)));
};
template <>
struct Vectors<32> {
    using F = float __attribute__((vector_size(32)));
    using I = std::int32_t __attribute__((vector_size(32)));
};

// Bytes / 4 samples at a time, with the plain loop's roundings (a division
// by 4 is a multiplication by 1/4) and its answers for NaN: never the peak,
// never counted, passed through the clip unchanged. Returns how many
// samples it finished.
template <int Bytes>
__attribute__((always_inline)) inline std::size_t finish_vectors(float* samples, std::size_t count,
                                                                 float gain, std::uint64_t& clipped,
                                                                 float& peak) {
    using F = typename Vectors<Bytes>::F;
    using I = typename Vectors<Bytes>::I;
    constexpr std::size_t kLanes = Bytes / sizeof(float);
    const F one = F{} + 1.0f;
    const F minus_one = F{} - 1.0f;
    F vpeak{};
    I over{};  // clipped samples, per lane
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        F x;
        std::memcpy(&x, samples + i, Bytes);
        x = x * (1.0f / kMixHeadroom) * gain;
        const F magnitude = (F)((I)x & 0x7FFFFFFF);
        vpeak = magnitude > vpeak ? magnitude : vpeak;
        over -= magnitude > one;  // a comparison is -1 where true
        F y = one < x ? one : x;
        y = minus_one > y ? minus_one : y;
        std::memcpy(samples + i, &y, Bytes);
    }
    for (std::size_t k = 0; k < kLanes; ++k) {
        peak = std::max(peak, vpeak[k]);
        clipped += static_cast<std::uint32_t>(over[k]);
    }
    return i;
}

#if defined(__x86_64__)
// Where the processor has AVX2.
__attribute__((target("avx2"))) std::size_t finish_eights(float* samples, std::size_t count,
                                                          float gain, std::uint64_t& clipped,
                                                          float& peak) {
    return finish_vectors<32>(samples, count, gain, clipped, peak);
}

const bool g_avx2 = __builtin_cpu_supports("avx2");
#endif

}  // namespace

void finish_output(float* samples, std::size_t count) {
    finish_output_with(samples, count, 8);
}

void finish_output_with(float* samples, std::size_t count, int lanes) {
    const float gain = g_gain.load(std::memory_order_relaxed);
    std::uint64_t clipped = 0;
    float peak = 0.0f;
    std::size_t i = 0;
#if defined(__x86_64__)
    if (lanes >= 8 && g_avx2) i = finish_eights(samples, count, gain, clipped, peak);
#endif
    if (lanes >= 4) i += finish_vectors<16>(samples + i, count - i, gain, clipped, peak);
    for (; i < count; ++i) {
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
