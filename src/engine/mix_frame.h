// One output frame of the plain mixing loop, shared by every path (the
// vector paths fall back to it wherever they cannot prove they give the same
// bits), and the running positions the vector paths are built on.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/mix.h"

namespace mixing {

// Adds the frame at position `f` past `pos` into `o` (two floats, or one
// for a mono device, which hears both sides).
template <typename Sample, bool Stereo, bool MonoOut>
inline void plain_frame(const Sample* src, std::uint64_t pos, std::uint64_t last, float f, float* o,
                        float g1, float g2) {
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
    if constexpr (MonoOut) {
        o[0] += 0.5f * (left + right);
    } else {
        o[0] += left;
        o[1] += right;
    }
}

inline float from_bits(std::uint32_t b) {
    float x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

// Frames a position array must hold beyond the frames asked for.
constexpr int kPositionSlack = 8;

// Any thread (arithmetic only). Writes the positions of `m` frames into
// `at`: f, f + step, (f + step) + step, ..., each rounded as the plain
// loop's sum is, and returns the position after the last. Up to
// kPositionSlack entries past `m` may be written too, with values of no
// meaning.
//
// Within the binade [2^e, 2^(e+1)) of f every float is a multiple of
// u = 2^(e-23), so f + step rounds to f plus step rounded to a multiple of u
// (`rstep`), the same for every f in the binade unless step lies exactly
// halfway between two multiples (then the rounding goes to even and depends
// on f). While the sums stay below the binade's end they are f + k * rstep,
// and each of those products and sums is exact in float, so they are
// written eight at a time. The sum that leaves a binade, a tie, f = 0 and
// positions too low for a binade to hold a group take the plain addition.
inline float running_positions(float f, float step, int m, float* at) {
    int k = 0;
    // Below this a binade holds too few frames for a group of eight.
    const float small = 16.0f * step;
    while (k < m) {
        if (!(f >= small)) {
            at[k++] = f;
            f += step;
            continue;
        }
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        const std::uint32_t ex = (bits >> 23) & 0xFF;  // biased exponent
        const float next = f + step;
        if (ex < 24 || ex >= 253) {
            at[k++] = f;
            f = next;
            continue;
        }
        const float u = from_bits((ex - 23) << 23);
        const float hi = from_bits((ex + 1) << 23);
        const float rstep = next - f;  // exact while next stays in the binade
        if (!(next < hi) || std::fabs(step - rstep) == 0.5f * u) {
            at[k++] = f;
            f = next;
            continue;
        }
        // In units of u, f is its significand (2^23 to 2^24 - 1), rstep is
        // the significand of next minus that, and the binade ends at 2^24:
        // the last position in it is f + last * rstep with
        // last = (2^24 - 1 - f / u) / (rstep / u), in integers.
        std::int64_t last = m;
        std::uint32_t next_bits;
        std::memcpy(&next_bits, &next, sizeof next_bits);
        const std::uint32_t f_units = (bits & 0x7FFFFF) | 0x800000;
        const std::uint32_t r_units = ((next_bits & 0x7FFFFF) | 0x800000) - f_units;
        if (r_units != 0) last = ((1u << 24) - 1 - f_units) / r_units;
        // Eight at a time, each f + i * rstep on its own (exact in the
        // binade), so the groups do not wait on each other.
        const int count = static_cast<int>(last < m - k ? last + 1 : m - k);
        for (int g = 0; g < count; g += 8) {
            for (int i = 0; i < 8; ++i) {
                at[k + g + i] = f + static_cast<float>(g + i) * rstep;
            }
        }
        k += count;
        f = count <= last ? f + static_cast<float>(count) * rstep
                          : (f + static_cast<float>(count - 1) * rstep) + step;  // leaves
    }
    return f;
}

}  // namespace mixing
