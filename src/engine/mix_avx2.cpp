// Built for any x86-64; the functions here carry the AVX2 target themselves
// and run only where the processor has it (see mix.cpp).
#include "engine/mix_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

namespace mixing {
namespace {

// Eight frames at a time, the eight loads gathered.
template <bool Sixteen, bool Stereo>
__attribute__((target("avx2"))) int kernel(const KernelArgs& a, int groups) {
    const __m256 off = _mm256_mul_ps(_mm256_set1_ps(a.rstep),
                                     _mm256_set_ps(7.0f, 6.0f, 5.0f, 4.0f, 3.0f, 2.0f, 1.0f, 0.0f));
    const float step8 = 8.0f * a.rstep;
    const float last_off = 7.0f * a.rstep;
    const __m256 vg1 = _mm256_set1_ps(a.g1);
    const __m256 vg2 = _mm256_set1_ps(a.g2);
    const __m256i lim = _mm256_set1_epi32(static_cast<int>(a.lim));
    const int* base = reinterpret_cast<const int*>(a.src);
    float f = a.f;
    int g = 0;
    for (; g < groups; ++g, f += step8) {
        if (static_cast<std::uint32_t>(f + last_off) > a.safe) break;
        const __m256 vf = _mm256_add_ps(_mm256_set1_ps(f), off);
        const __m256i vt = _mm256_cvttps_epi32(vf);
        const __m256 within = _mm256_sub_ps(vf, _mm256_cvtepi32_ps(vt));
        const __m256i vi = _mm256_min_epu32(vt, lim);
        __m256i vw;
        if constexpr (Sixteen && Stereo) {
            vw = _mm256_i32gather_epi32(base, vi, 4);
        } else if constexpr (Sixteen || Stereo) {
            vw = _mm256_i32gather_epi32(base, vi, 2);
        } else {
            vw = _mm256_i32gather_epi32(base, vi, 1);
        }
        __m256 s0;
        __m256 s1;
        if constexpr (Sixteen) {
            s0 = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_slli_epi32(vw, 16), 16));
            s1 = _mm256_cvtepi32_ps(_mm256_srai_epi32(vw, 16));
        } else {
            s0 = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_slli_epi32(vw, 24), 24));
            s1 = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_slli_epi32(vw, 16), 24));
        }
        __m256 left;
        __m256 right;
        if constexpr (Stereo) {
            left = _mm256_mul_ps(s0, vg1);
            right = _mm256_mul_ps(s1, vg2);
        } else {
            const __m256 s = _mm256_add_ps(s0, _mm256_mul_ps(_mm256_sub_ps(s1, s0), within));
            left = _mm256_mul_ps(s, vg1);
            right = _mm256_mul_ps(s, vg2);
        }
        const __m256 lo = _mm256_unpacklo_ps(left, right);  // frames 0 1 | 4 5
        const __m256 hi = _mm256_unpackhi_ps(left, right);  // frames 2 3 | 6 7
        float* o = a.out + 16 * g;
        _mm256_storeu_ps(o,
                         _mm256_add_ps(_mm256_loadu_ps(o), _mm256_permute2f128_ps(lo, hi, 0x20)));
        _mm256_storeu_ps(
            o + 8, _mm256_add_ps(_mm256_loadu_ps(o + 8), _mm256_permute2f128_ps(lo, hi, 0x31)));
    }
    return g;
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
