// One output frame of the plain mixing loop, shared by every path (the
// vector paths fall back to it wherever they cannot prove they give the same
// bits), and the binade runs the vector paths are built on.
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

// A stretch of frames over which the running position f, f + step,
// (f + step) + step, ... equals f + k * `rstep` exactly for k = 0..`frames`.
struct Run {
    float rstep = 0.0f;
    long frames = 0;  // 0: no such stretch starts at f
};

// Within the binade [2^e, 2^(e+1)) of f every float is a multiple of
// u = 2^(e-23), so f + step rounds to f + step rounded to a multiple of u,
// the same for every f in the binade unless step lies exactly halfway
// between two multiples (then the rounding goes to even and depends on f).
// The run lasts while the sum stays at least one u below the binade's end.
inline Run binade_run(float f, float step) {
    Run r;
    if (!(f >= 1.0f) || !(step > 0.0f)) return r;
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    const std::uint32_t ex = (bits >> 23) & 0xFF;  // biased exponent, at least 127 here
    if (ex >= 253) return r;
    const float u = from_bits((ex - 23) << 23);
    const float hi = from_bits((ex + 1) << 23);
    const float next = f + step;
    if (!(next < hi)) return r;
    r.rstep = next - f;                                       // exact: both lie in the binade
    if (std::fabs(step - r.rstep) == 0.5f * u) return Run{};  // a tie
    if (r.rstep == 0.0f) {
        r.frames = 1L << 30;  // f never moves
        return r;
    }
    r.frames = static_cast<long>(
        std::floor((static_cast<double>(hi) - u - static_cast<double>(f)) / r.rstep));
    return r;
}

}  // namespace mixing
