// Built for any x86-64; the functions here carry the AVX2 target themselves
// and run only where the processor has it (see mix.cpp).
#include "engine/mix_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

namespace mixing {
namespace {

// Samples as 32-bit words: each 16-bit sample (or 8-bit one, widened) in
// one half.
struct Halves {
    __m256 s0;  // low half: the frame, or a stereo frame's left
    __m256 s1;  // high half: the next frame, or the right
};

__attribute__((target("avx2"))) inline Halves halves16(__m256i w) {
    return {_mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_slli_epi32(w, 16), 16)),
            _mm256_cvtepi32_ps(_mm256_srai_epi32(w, 16))};
}

__attribute__((target("avx2"))) inline __m256i load16(const std::int8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Sixteen 8-bit samples widened to 16 bits.
__attribute__((target("avx2"))) inline __m256i widen(const std::int8_t* p) {
    return _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// Sixteen frames from `t0` on, as two vectors of eight 32-bit words in the
// layout of 16-bit stereo: for mono a word holds a frame and the next.
template <bool Sixteen, bool Stereo>
__attribute__((target("avx2"))) inline void window(const std::int8_t* src, std::uint32_t t0,
                                                   __m256i& lo, __m256i& hi) {
    if constexpr (Sixteen && Stereo) {
        lo = load16(src + 4 * std::size_t{t0});
        hi = load16(src + 4 * std::size_t{t0} + 32);
    } else if constexpr (Sixteen) {
        lo = load16(src + 2 * std::size_t{t0});      // words start at even frames...
        hi = load16(src + 2 * std::size_t{t0} + 2);  // ...and at odd ones
    } else if constexpr (Stereo) {
        lo = widen(src + 2 * std::size_t{t0});
        hi = widen(src + 2 * std::size_t{t0} + 16);
    } else {
        lo = widen(src + t0);
        hi = widen(src + t0 + 1);
    }
}

// Eight frames at a time. Where the eight lie within sixteen frames of the
// sound (a step up to about two) they are picked out of two plain loads;
// otherwise they are gathered one by one.
template <bool Sixteen, bool Stereo>
__attribute__((target("avx2"))) void kernel(const KernelArgs& a, int groups) {
    const __m256 vg1 = _mm256_set1_ps(a.g1);
    const __m256 vg2 = _mm256_set1_ps(a.g2);
    const __m256i lim = _mm256_set1_epi32(static_cast<int>(a.lim));
    const __m256i safe = _mm256_set1_epi32(static_cast<int>(a.safe));
    const __m256 gains = _mm256_setr_ps(a.g1, a.g2, a.g1, a.g2, a.g1, a.g2, a.g1, a.g2);
    const __m256i twice_lo = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
    const __m256i twice_hi = _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7);
    const int* base = reinterpret_cast<const int*>(a.src);
    // The window's last frame must be readable and no index clamped.
    const std::uint32_t window_last = a.lim >= 15 ? a.lim - 15 : 0;
    const bool windows = a.lim >= 15;
    for (int g = 0; g < groups; ++g) {
        const float* at = a.at + 8 * g;
        const __m256 vf = _mm256_loadu_ps(at);
        const __m256i vt = _mm256_cvttps_epi32(vf);
        const __m256 within = _mm256_sub_ps(vf, _mm256_cvtepi32_ps(vt));
        const auto t0 = static_cast<std::uint32_t>(static_cast<int>(at[0]));
        const auto t7 = static_cast<std::uint32_t>(static_cast<int>(at[7]));
        Halves s;
        if (windows && t0 <= window_last && t7 - t0 <= 15u) {
            const __m256i d = _mm256_sub_epi32(vt, _mm256_set1_epi32(static_cast<int>(t0)));
            __m256i lo;
            __m256i hi;
            window<Sixteen, Stereo>(a.src, t0, lo, hi);
            // Stereo: frame d is word d of lo (d < 8) or of hi. Mono: the
            // pair from frame d is word d / 2 of lo (d even) or of hi.
            const __m256i sel = Stereo ? d : _mm256_srli_epi32(d, 1);
            const __m256i from_hi = _mm256_slli_epi32(d, Stereo ? 28 : 31);
            const __m256 w =
                _mm256_blendv_ps(_mm256_castsi256_ps(_mm256_permutevar8x32_epi32(lo, sel)),
                                 _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(hi, sel)),
                                 _mm256_castsi256_ps(from_hi));
            s = halves16(_mm256_castps_si256(w));
        } else {
            const __m256i vi = _mm256_min_epu32(vt, lim);
            if constexpr (Sixteen && Stereo) {
                s = halves16(_mm256_i32gather_epi32(base, vi, 4));
            } else if constexpr (Sixteen) {
                s = halves16(_mm256_i32gather_epi32(base, vi, 2));
            } else {
                __m256i vw;
                if constexpr (Stereo) {
                    vw = _mm256_i32gather_epi32(base, vi, 2);
                } else {
                    // The load starts early enough to stay inside the sound.
                    const __m256i w = _mm256_min_epu32(vi, safe);
                    vw = _mm256_i32gather_epi32(base, w, 1);
                    vw = _mm256_srlv_epi32(vw, _mm256_slli_epi32(_mm256_sub_epi32(vi, w), 3));
                }
                s.s0 = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_slli_epi32(vw, 24), 24));
                s.s1 = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_slli_epi32(vw, 16), 24));
            }
        }
        float* o = a.out + 16 * g;
        __m256 first;   // frames 0 to 3, left and right
        __m256 second;  // frames 4 to 7
        if constexpr (Stereo) {
            const __m256 left = _mm256_mul_ps(s.s0, vg1);
            const __m256 right = _mm256_mul_ps(s.s1, vg2);
            const __m256 lo = _mm256_unpacklo_ps(left, right);  // frames 0 1 | 4 5
            const __m256 hi = _mm256_unpackhi_ps(left, right);  // frames 2 3 | 6 7
            first = _mm256_permute2f128_ps(lo, hi, 0x20);
            second = _mm256_permute2f128_ps(lo, hi, 0x31);
        } else {
            // Each frame's value twice, times g1 and g2 in turn: the same
            // products as for separate sides.
            const __m256 v = _mm256_add_ps(s.s0, _mm256_mul_ps(_mm256_sub_ps(s.s1, s.s0), within));
            first = _mm256_mul_ps(_mm256_permutevar8x32_ps(v, twice_lo), gains);
            second = _mm256_mul_ps(_mm256_permutevar8x32_ps(v, twice_hi), gains);
        }
        _mm256_storeu_ps(o, _mm256_add_ps(_mm256_loadu_ps(o), first));
        _mm256_storeu_ps(o + 8, _mm256_add_ps(_mm256_loadu_ps(o + 8), second));
    }
}

}  // namespace

const Kernel kAvx2Kernels[4] = {kernel<false, false>, kernel<false, true>, kernel<true, false>,
                                kernel<true, true>};

}  // namespace mixing

#else
namespace mixing {
const Kernel kAvx2Kernels[4] = {};
}
#endif
