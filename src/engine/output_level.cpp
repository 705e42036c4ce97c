#include "engine/output_level.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace {

// The mix is divided by 4 before the clip, so four full-scale voices
// together reach full scale.
constexpr float kMixHeadroom = 4.0f;

std::atomic<float> g_gain{1.0f};
std::atomic<std::uint64_t> g_clipped{0};
std::atomic<float> g_peak{0.0f};  // written by the audio thread only

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Eight at a time, where the processor has AVX2: the same arithmetic as
// the four-at-a-time loop below. Returns how many samples it finished.
__attribute__((target("avx2"))) std::size_t finish_eights(float* samples, std::size_t count,
                                                          float gain, std::uint64_t& clipped,
                                                          float& peak) {
    const __m256 quarter = _mm256_set1_ps(1.0f / kMixHeadroom);
    const __m256 vgain = _mm256_set1_ps(gain);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 minus_one = _mm256_set1_ps(-1.0f);
    const __m256 sign = _mm256_set1_ps(-0.0f);
    __m256 vpeak = _mm256_setzero_ps();
    __m256i over = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256 x = _mm256_mul_ps(_mm256_mul_ps(_mm256_loadu_ps(samples + i), quarter), vgain);
        const __m256 magnitude = _mm256_andnot_ps(sign, x);
        vpeak = _mm256_max_ps(magnitude, vpeak);
        over =
            _mm256_sub_epi32(over, _mm256_castps_si256(_mm256_cmp_ps(magnitude, one, _CMP_GT_OQ)));
        _mm256_storeu_ps(samples + i, _mm256_max_ps(minus_one, _mm256_min_ps(one, x)));
    }
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, vpeak);
    for (const float p : lanes) peak = std::max(peak, p);
    alignas(32) std::uint32_t counts[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(counts), over);
    for (const std::uint32_t c : counts) clipped += c;
    return i;
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
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    if (lanes >= 8 && g_avx2) i = finish_eights(samples, count, gain, clipped, peak);
#endif
#ifdef __SSE2__
    if (lanes >= 4) {
        // Four at a time with the same roundings (a division by 4 is a
        // multiplication by 1/4) and the same answers for NaN: it is never the
        // peak, never counted, and passes the clip unchanged.
        const __m128 quarter = _mm_set1_ps(1.0f / kMixHeadroom);
        const __m128 vgain = _mm_set1_ps(gain);
        const __m128 one = _mm_set1_ps(1.0f);
        const __m128 minus_one = _mm_set1_ps(-1.0f);
        const __m128 sign = _mm_set1_ps(-0.0f);
        __m128 vpeak = _mm_setzero_ps();
        __m128i over = _mm_setzero_si128();  // clipped samples, per lane
        for (; i + 4 <= count; i += 4) {
            const __m128 x = _mm_mul_ps(_mm_mul_ps(_mm_loadu_ps(samples + i), quarter), vgain);
            const __m128 magnitude = _mm_andnot_ps(sign, x);
            vpeak = _mm_max_ps(magnitude, vpeak);  // the second operand when either is NaN
            // A lane's comparison is all ones (-1) where it clips.
            over = _mm_sub_epi32(over, _mm_castps_si128(_mm_cmpgt_ps(magnitude, one)));
            _mm_storeu_ps(samples + i, _mm_max_ps(minus_one, _mm_min_ps(one, x)));
        }
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, vpeak);
        for (const float p : lanes) peak = std::max(peak, p);
        alignas(16) std::uint32_t counts[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(counts), over);
        for (const std::uint32_t c : counts) clipped += c;
    }
#endif
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
