#include <cstring>

#include "engine/mix_kernels.h"

#ifdef __SSE2__
#include <emmintrin.h>

namespace mixing {
namespace {

// Four frames at a time; the four loads are plain reads of each frame's
// four bytes (this frame and the next, or a stereo frame).
template <bool Sixteen, bool Stereo>
void kernel(const KernelArgs& a, int groups) {
    const __m128 vg1 = _mm_set1_ps(a.g1);
    const __m128 vg2 = _mm_set1_ps(a.g2);
    for (int g = 0; g < groups; ++g) {
        const __m128 vf = _mm_loadu_ps(a.at + 4 * g);
        const __m128i vt = _mm_cvttps_epi32(vf);
        const __m128 within = _mm_sub_ps(vf, _mm_cvtepi32_ps(vt));
        alignas(16) std::uint32_t idx[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(idx), vt);
        std::uint32_t word[4];
        for (int k = 0; k < 4; ++k) {
            const std::uint32_t i = idx[k] < a.lim ? idx[k] : a.lim;
            if constexpr (!Sixteen && !Stereo) {
                // The load starts early enough to stay inside the sound.
                const std::uint32_t w = i < a.safe ? i : a.safe;
                std::memcpy(&word[k], a.src + w, sizeof word[k]);
                word[k] >>= 8 * (i - w);
            } else {
                const std::size_t at = Sixteen ? (Stereo ? 4u * i : 2u * i) : 2u * i;
                std::memcpy(&word[k], a.src + at, sizeof word[k]);
            }
        }
        __m128i vw;
        std::memcpy(&vw, word, sizeof vw);
        __m128 s0;
        __m128 s1;
        if constexpr (Sixteen) {
            s0 = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(vw, 16), 16));
            s1 = _mm_cvtepi32_ps(_mm_srai_epi32(vw, 16));
        } else {
            s0 = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(vw, 24), 24));
            s1 = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(vw, 16), 24));
        }
        __m128 left;
        __m128 right;
        if constexpr (Stereo) {
            left = _mm_mul_ps(s0, vg1);
            right = _mm_mul_ps(s1, vg2);
        } else {
            const __m128 s = _mm_add_ps(s0, _mm_mul_ps(_mm_sub_ps(s1, s0), within));
            left = _mm_mul_ps(s, vg1);
            right = _mm_mul_ps(s, vg2);
        }
        float* o = a.out + 8 * g;
        _mm_storeu_ps(o, _mm_add_ps(_mm_loadu_ps(o), _mm_unpacklo_ps(left, right)));
        _mm_storeu_ps(o + 4, _mm_add_ps(_mm_loadu_ps(o + 4), _mm_unpackhi_ps(left, right)));
    }
}

}  // namespace

const Kernel kSse2Kernels[4] = {kernel<false, false>, kernel<false, true>, kernel<true, false>,
                                kernel<true, true>};

}  // namespace mixing

#else
namespace mixing {
const Kernel kSse2Kernels[4] = {};
}
#endif
