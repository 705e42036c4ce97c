#include <cstring>

#include "engine/mix_frame.h"
#include "engine/mix_kernels.h"

#ifdef __SSE2__
#include <emmintrin.h>

namespace mixing {
namespace {

// Four frames at a time; the four loads are plain reads of each frame's
// four bytes (this frame and the next, or a stereo frame).
template <bool Sixteen, bool Stereo>
struct Mixer {
    static constexpr int kOutFloats = 8;
    const KernelArgs& a;

    // The frames of a binade run: f + k * rstep, advanced four steps at a
    // time (exact within the run).
    void run(float f, float rstep, int groups, float* o) const {
        __m128 vf =
            _mm_add_ps(_mm_set1_ps(f), _mm_mul_ps(_mm_setr_ps(0, 1, 2, 3), _mm_set1_ps(rstep)));
        const __m128 advance = _mm_set1_ps(4.0f * rstep);
        for (int g = 0; g < groups; ++g, o += 8) {
            group(vf, o);
            vf = _mm_add_ps(vf, advance);
        }
    }

    void one(const float* at, float* o) const { group(_mm_loadu_ps(at), o); }

    // One group of two runs: k frames f + i * rstep, then q + i * rstep2.
    void two(float f, float rstep, int k, float q, float rstep2, float* o) const {
        const __m128 lane = _mm_setr_ps(0, 1, 2, 3);
        const __m128 vk = _mm_set1_ps(static_cast<float>(k));
        const __m128 first = _mm_add_ps(_mm_set1_ps(f), _mm_mul_ps(lane, _mm_set1_ps(rstep)));
        const __m128 second =
            _mm_add_ps(_mm_set1_ps(q), _mm_mul_ps(_mm_sub_ps(lane, vk), _mm_set1_ps(rstep2)));
        const __m128 in_second = _mm_cmpge_ps(lane, vk);
        group(_mm_or_ps(_mm_and_ps(in_second, second), _mm_andnot_ps(in_second, first)), o);
    }

    void group(__m128 vf, float* o) const {
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
            left = _mm_mul_ps(s0, _mm_set1_ps(a.g1));
            right = _mm_mul_ps(s1, _mm_set1_ps(a.g2));
        } else {
            const __m128 s = _mm_add_ps(s0, _mm_mul_ps(_mm_sub_ps(s1, s0), within));
            left = _mm_mul_ps(s, _mm_set1_ps(a.g1));
            right = _mm_mul_ps(s, _mm_set1_ps(a.g2));
        }
        _mm_storeu_ps(o, _mm_add_ps(_mm_loadu_ps(o), _mm_unpacklo_ps(left, right)));
        _mm_storeu_ps(o + 4, _mm_add_ps(_mm_loadu_ps(o + 4), _mm_unpackhi_ps(left, right)));
    }
};

template <bool Sixteen, bool Stereo>
void kernel(const KernelArgs& a, Cursor& c, int groups) {
    const Mixer<Sixteen, Stereo> m{a};
    if (a.at) {
        m.one(a.at, a.out);
    } else {
        drive<4>(m, c, groups, a.out);
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
