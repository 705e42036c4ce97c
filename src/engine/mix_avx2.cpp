// Built for any x86-64; the functions here carry the AVX2 target themselves
// and run only where the processor has it (see mix.cpp).
#include "engine/mix_frame.h"
#include "engine/mix_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

namespace mixing {
namespace {

// A frame's samples, from 32-bit words that hold a 16-bit sample (or an
// 8-bit one, widened) in each half: for a stereo sound the left and the
// right, for a mono one the frame and the next frame minus it (exact in
// integers, as it is in float).
struct Halves {
    __m256 s0;
    __m256 s1;
};

template <bool Stereo>
__attribute__((target("avx2"))) inline Halves halves16(__m256i w) {
    const __m256i low = _mm256_madd_epi16(w, _mm256_set1_epi32(1));
    const __m256i high =
        Stereo ? _mm256_srai_epi32(w, 16) : _mm256_madd_epi16(w, _mm256_set1_epi32(0x0001FFFF));
    return {_mm256_cvtepi32_ps(low), _mm256_cvtepi32_ps(high)};
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
__attribute__((target("avx2"))) inline void window_of(const std::int8_t* src, std::uint32_t t0,
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
// otherwise they are gathered one by one. The lanes hold frames
// 0 1 4 5 2 3 6 7, so that interleaving the two sides within each 128-bit
// half gives frames 0 to 3 and 4 to 7.
template <bool Sixteen, bool Stereo>
struct Mixer {
    static constexpr int kOutFloats = 16;
    const std::int8_t* src;
    std::uint32_t lim;
    std::uint32_t window_last;  // highest first frame of a window with all sixteen readable
    __m256i vlim;
    __m256i vsafe;
    __m256 vg1;
    __m256 vg2;

    __attribute__((target("avx2"))) explicit Mixer(const KernelArgs& a)
        : src(a.src),
          lim(a.lim),
          window_last(a.lim >= 15 ? a.lim - 15 : 0),
          vlim(_mm256_set1_epi32(static_cast<int>(a.lim))),
          vsafe(_mm256_set1_epi32(static_cast<int>(a.safe))),
          vg1(_mm256_set1_ps(a.g1)),
          vg2(_mm256_set1_ps(a.g2)) {}

    // The frames of a binade run: f + k * rstep, advanced eight steps at a
    // time (exact within the run).
    __attribute__((target("avx2"))) void run(float f, float rstep, int groups, float* o) const {
        const bool narrow = lim >= 15 && rstep <= 2.0f;  // a group spans at most 15 frames
        __m256 vf = _mm256_add_ps(
            _mm256_set1_ps(f),
            _mm256_mul_ps(_mm256_setr_ps(0, 1, 4, 5, 2, 3, 6, 7), _mm256_set1_ps(rstep)));
        const __m256 advance = _mm256_set1_ps(8.0f * rstep);
        for (int g = 0; g < groups; ++g, o += 16) {
            group(vf, narrow, o);
            vf = _mm256_add_ps(vf, advance);
        }
    }

    // One group at the positions in `at`.
    __attribute__((target("avx2"))) void one(const float* at, float* o) const {
        const auto t0 = static_cast<std::uint32_t>(static_cast<int>(at[0]));
        const auto t7 = static_cast<std::uint32_t>(static_cast<int>(at[7]));
        const __m256 vf = _mm256_setr_ps(at[0], at[1], at[4], at[5], at[2], at[3], at[6], at[7]);
        group(vf, lim >= 15 && t7 - t0 <= 15u, o);
    }

    // One group of two runs: k frames f + i * rstep, then q + i * rstep2.
    __attribute__((target("avx2"))) void two(float f, float rstep, int k, float q, float rstep2,
                                             float* o) const {
        const __m256 lane = _mm256_setr_ps(0, 1, 4, 5, 2, 3, 6, 7);
        const __m256 vk = _mm256_set1_ps(static_cast<float>(k));
        const __m256 first =
            _mm256_add_ps(_mm256_set1_ps(f), _mm256_mul_ps(lane, _mm256_set1_ps(rstep)));
        const __m256 second = _mm256_add_ps(
            _mm256_set1_ps(q), _mm256_mul_ps(_mm256_sub_ps(lane, vk), _mm256_set1_ps(rstep2)));
        const __m256 vf = _mm256_blendv_ps(first, second, _mm256_cmp_ps(lane, vk, _CMP_GE_OQ));
        const auto t0 = static_cast<std::uint32_t>(static_cast<int>(f));
        const auto t7 =
            static_cast<std::uint32_t>(static_cast<int>(q + static_cast<float>(7 - k) * rstep2));
        group(vf, lim >= 15 && t7 - t0 <= 15u, o);
    }

    __attribute__((target("avx2"), always_inline)) inline void group(__m256 vf, bool narrow,
                                                                     float* o) const {
        const __m256i vt = _mm256_cvttps_epi32(vf);
        const __m256 within = _mm256_sub_ps(vf, _mm256_cvtepi32_ps(vt));
        const auto t0 = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(vt));
        Halves s;
        if (narrow && t0 <= window_last) {
            const __m256i d = _mm256_sub_epi32(vt, _mm256_set1_epi32(static_cast<int>(t0)));
            __m256i lo;
            __m256i hi;
            window_of<Sixteen, Stereo>(src, t0, lo, hi);
            // Stereo: frame d is word d of lo (d < 8) or of hi. Mono: the
            // pair from frame d is word d / 2 of lo (d even) or of hi.
            const __m256i sel = Stereo ? d : _mm256_srli_epi32(d, 1);
            const __m256i from_hi = _mm256_slli_epi32(d, Stereo ? 28 : 31);
            const __m256 w =
                _mm256_blendv_ps(_mm256_castsi256_ps(_mm256_permutevar8x32_epi32(lo, sel)),
                                 _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(hi, sel)),
                                 _mm256_castsi256_ps(from_hi));
            s = halves16<Stereo>(_mm256_castps_si256(w));
        } else {
            s = gathered(_mm256_min_epu32(vt, vlim));
        }
        __m256 left;
        __m256 right;
        if constexpr (Stereo) {
            left = _mm256_mul_ps(s.s0, vg1);
            right = _mm256_mul_ps(s.s1, vg2);
        } else {
            const __m256 v = _mm256_add_ps(s.s0, _mm256_mul_ps(s.s1, within));
            left = _mm256_mul_ps(v, vg1);
            right = _mm256_mul_ps(v, vg2);
        }
        const __m256 first = _mm256_unpacklo_ps(left, right);   // frames 0 to 3, both sides
        const __m256 second = _mm256_unpackhi_ps(left, right);  // frames 4 to 7
        _mm256_storeu_ps(o, _mm256_add_ps(_mm256_loadu_ps(o), first));
        _mm256_storeu_ps(o + 8, _mm256_add_ps(_mm256_loadu_ps(o + 8), second));
    }

    // Frames `vi` (already clamped) one by one.
    __attribute__((target("avx2"))) Halves gathered(__m256i vi) const {
        const int* base = reinterpret_cast<const int*>(src);
        if constexpr (Sixteen) {
            return halves16<Stereo>(_mm256_i32gather_epi32(base, vi, Stereo ? 4 : 2));
        } else {
            __m256i vw;
            if constexpr (Stereo) {
                vw = _mm256_i32gather_epi32(base, vi, 2);
            } else {
                // The load starts early enough to stay inside the sound.
                const __m256i w = _mm256_min_epu32(vi, vsafe);
                vw = _mm256_i32gather_epi32(base, w, 1);
                vw = _mm256_srlv_epi32(vw, _mm256_slli_epi32(_mm256_sub_epi32(vi, w), 3));
            }
            // Bytes 0 and 1 to the top of each half, then sign-extended.
            const __m256i tops =
                _mm256_setr_epi8(-1, 0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1, 0,
                                 -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13);
            return halves16<Stereo>(_mm256_srai_epi16(_mm256_shuffle_epi8(vw, tops), 8));
        }
    }
};

template <bool Sixteen, bool Stereo>
__attribute__((target("avx2"))) void kernel(const KernelArgs& a, Cursor& c, int groups) {
    const Mixer<Sixteen, Stereo> m(a);
    if (a.at) {
        m.one(a.at, a.out);
    } else {
        drive<8>(m, c, groups, a.out);
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
