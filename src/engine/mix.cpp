#include "engine/mix.h"

#include <cstring>
#include <type_traits>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Mixes `n` output frames of one source format. Interpolates mono sources
// linearly; stereo sources take the nearest earlier frame of each side.
// `Stride` is the output frame size when known at compile time (0: `stride`).
template <typename Sample, bool Stereo, int Stride>
void mix_block(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n, float* out,
               std::uint32_t stride, float g1, float g2) {
    const Sample* src = reinterpret_cast<const Sample*>(sv.data);
    const std::uint64_t last = sv.last_index;
    const std::size_t os = Stride ? Stride : stride;
    float f = frac;
    for (int j = 0; j < n; ++j) {
        const int t = static_cast<int>(f);
        std::uint64_t i0 = pos + static_cast<std::uint64_t>(t);
        i0 = i0 < last ? i0 : last;
        float left;
        float right;
        if constexpr (Stereo) {
            left = static_cast<float>(src[2 * i0]) * g1;
            right = static_cast<float>(src[2 * i0 + 1]) * g2;
        } else {
            const float s0 = src[i0];
            const float s1 = src[i0 + 1];
            const float s = s0 + (s1 - s0) * (f - static_cast<float>(t));
            left = s * g1;
            right = s * g2;
        }
        if (os == 1) {
            out[j] += 0.5f * (left + right);  // a mono device hears both sides
        } else {
            out[j * os] += left;
            out[j * os + 1] += right;
        }
        f += step;
    }
    frac = f;
}

#ifdef __SSE2__
// The common case, 16-bit mono into a stereo device, four frames at a time.
// The positions of the four frames come from one running position, the
// samples are fetched in pairs (a frame and the next) and interpolated,
// panned and added to the output together. Returns the frames it rendered;
// the caller renders the rest (and everything, when positions would leave
// the range this path handles).
int mix_mono16_sse(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n,
                   float* out, float g1, float g2) {
    if (pos > sv.last_index) return 0;
    const std::uint64_t room = sv.last_index - pos;
    if (room > (1u << 30) || frac + static_cast<float>(n) * step >= static_cast<float>(1 << 30)) {
        return 0;
    }
    const auto lim = static_cast<std::uint32_t>(room);
    const auto* src = reinterpret_cast<const std::int16_t*>(sv.data) + pos;
    const __m128 offsets = _mm_mul_ps(_mm_set1_ps(step), _mm_set_ps(3.0f, 2.0f, 1.0f, 0.0f));
    const __m128 vg1 = _mm_set1_ps(g1);
    const __m128 vg2 = _mm_set1_ps(g2);
    const float step4 = 4.0f * step;
    float f = frac;
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m128 vf = _mm_add_ps(_mm_set1_ps(f), offsets);
        const __m128i vt = _mm_cvttps_epi32(vf);
        const __m128 within = _mm_sub_ps(vf, _mm_cvtepi32_ps(vt));
        alignas(16) std::uint32_t idx[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(idx), vt);
        std::int32_t pair[4];
        for (int k = 0; k < 4; ++k) {
            const std::uint32_t i = idx[k] < lim ? idx[k] : lim;
            std::memcpy(&pair[k], src + i, sizeof pair[k]);  // this frame and the next
        }
        const __m128i vp = _mm_set_epi32(pair[3], pair[2], pair[1], pair[0]);
        const __m128 s0 = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(vp, 16), 16));
        const __m128 s1 = _mm_cvtepi32_ps(_mm_srai_epi32(vp, 16));
        const __m128 sv4 = _mm_add_ps(s0, _mm_mul_ps(_mm_sub_ps(s1, s0), within));
        const __m128 left = _mm_mul_ps(sv4, vg1);
        const __m128 right = _mm_mul_ps(sv4, vg2);
        float* o = out + 2 * j;
        _mm_storeu_ps(o, _mm_add_ps(_mm_loadu_ps(o), _mm_unpacklo_ps(left, right)));
        _mm_storeu_ps(o + 4, _mm_add_ps(_mm_loadu_ps(o + 4), _mm_unpackhi_ps(left, right)));
        f += step4;
    }
    frac = f;
    return j;
}
#endif

template <typename Sample, bool Stereo>
void mix_format(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n, float* out,
                std::uint32_t stride, float g1, float g2) {
    if (stride == 2) {
#ifdef __SSE2__
        if constexpr (std::is_same_v<Sample, std::int16_t> && !Stereo) {
            const int done = mix_mono16_sse(sv, pos, frac, step, n, out, g1, g2);
            if (done > 0) {
                // The last frames from where the four-at-a-time loop stopped.
                const int t = static_cast<int>(frac);
                float rest = frac - static_cast<float>(t);
                mix_block<Sample, Stereo, 2>(sv, pos + static_cast<std::uint64_t>(t), rest, step,
                                             n - done, out + 2 * done, stride, g1, g2);
                frac = rest + static_cast<float>(t);
                return;
            }
        }
#endif
        mix_block<Sample, Stereo, 2>(sv, pos, frac, step, n, out, stride, g1, g2);
    } else {
        mix_block<Sample, Stereo, 0>(sv, pos, frac, step, n, out, stride, g1, g2);
    }
}

}  // namespace

void mix(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n, float* out,
         std::uint32_t stride, float g1, float g2) {
    if (sv.bits == 16) {
        if (sv.stereo) {
            mix_format<std::int16_t, true>(sv, pos, frac, step, n, out, stride, g1, g2);
        } else {
            mix_format<std::int16_t, false>(sv, pos, frac, step, n, out, stride, g1, g2);
        }
    } else if (sv.bits == 8) {
        if (sv.stereo) {
            mix_format<std::int8_t, true>(sv, pos, frac, step, n, out, stride, g1, g2);
        } else {
            mix_format<std::int8_t, false>(sv, pos, frac, step, n, out, stride, g1, g2);
        }
    } else {
        frac += step * static_cast<float>(n);  // unknown width: silent, but time goes on
    }
}
