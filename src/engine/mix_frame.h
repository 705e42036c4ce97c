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

// Entries a position array must hold beyond the positions asked for.
constexpr int kPositionSlack = 8;

// A stretch of positions f + k * rstep, k = 0 .. count - 1, each equal to
// the plain loop's sum; count 0 when the next sum must be taken plainly.
struct BinadeRun {
    float rstep;
    int count;
};

// Any thread (arithmetic only). The run of at most `m` positions from `f`.
//
// Within the binade [2^e, 2^(e+1)) of f every float is a multiple of
// u = 2^(e-23), so f + step rounds to f plus step rounded to a multiple of u
// (`rstep`), the same for every f in the binade unless step lies exactly
// halfway between two multiples (then the rounding goes to even and depends
// on f). While the sums stay below the binade's end they are f + k * rstep,
// and each of those products and sums is exact in float. The sum that
// leaves a binade, a tie, f = 0 and positions too low for a binade to hold
// half a group of eight take the plain addition.
inline BinadeRun binade_run(float f, float step, int m) {
    // Below this a binade holds too few frames for half a group.
    if (!(f >= 8.0f * step)) return {0.0f, 0};
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    const std::uint32_t ex = (bits >> 23) & 0xFF;  // biased exponent
    if (ex < 24 || ex >= 253) return {0.0f, 0};
    const float next = f + step;
    const float u = from_bits((ex - 23) << 23);
    const float hi = from_bits((ex + 1) << 23);
    const float rstep = next - f;  // exact while next stays in the binade
    if (!(next < hi) || std::fabs(step - rstep) == 0.5f * u) return {0.0f, 0};
    // In units of u, f is its significand (2^23 to 2^24 - 1), rstep is the
    // significand of next minus that, and the binade ends at 2^24: the last
    // position in it is f + last * rstep with
    // last = (2^24 - 1 - f / u) / (rstep / u), in integers.
    std::uint32_t next_bits;
    std::memcpy(&next_bits, &next, sizeof next_bits);
    const std::uint32_t f_units = (bits & 0x7FFFFF) | 0x800000;
    const std::uint32_t r_units = ((next_bits & 0x7FFFFF) | 0x800000) - f_units;
    if (r_units == 0) return {rstep, m};
    const std::uint32_t last = ((1u << 24) - 1 - f_units) / r_units;
    return {rstep, last < static_cast<std::uint32_t>(m) ? static_cast<int>(last) + 1 : m};
}

// The plain loop's positions, handed out a group of frames at a time: the
// next frame's position `f`, and how many positions from it on (`left`)
// are f + k * rstep, a binade run (0: the next is summed plainly).
struct Cursor {
    float f;
    float step;
    float rstep;
    int left;

    // Any thread (arithmetic only). Finds the run that starts at `f`.
    void refresh() {
        const BinadeRun r = binade_run(f, step, 1 << 30);
        rstep = r.rstep;
        left = r.count;
    }
    // Any thread (arithmetic only). Advances past `k` positions of the run
    // (1 <= k <= left).
    void skip_run(int k) {
        f = (f + static_cast<float>(k - 1) * rstep) + step;
        left -= k;
        if (left == 0) refresh();
    }
    // Any thread (arithmetic only). Writes the next `m` positions into
    // `at` and advances past them. Up to kPositionSlack entries past `m`
    // may be written too, with values of no meaning.
    void take(int m, float* at) {
        Cursor c = *this;                 // in registers
        const float small = 8.0f * step;  // below, binade_run finds no run
        for (int k = 0; k < m;) {
            if (c.left == 0) {
                at[k++] = c.f;
                c.f += c.step;
                if (c.f >= small) c.refresh();
                continue;
            }
            const int run = c.left < m - k ? c.left : m - k;
            for (int i = 0; i < run; i += kPositionSlack) c.fill(i, at + k + i);
            k += run;
            c.skip_run(run);
        }
        *this = c;
    }

    // Any thread (arithmetic only). Writes positions k to k + 7 of the run
    // (the later ones maybe past it) into `at`.
    void fill(int k, float* at) const {
        using Four = float __attribute__((vector_size(16)));
        const Four first = Four{0, 1, 2, 3} + static_cast<float>(k);
        const Four r = Four{} + rstep;
        const Four lo = f + first * r;
        const Four hi = f + (first + 4.0f) * r;
        std::memcpy(at, &lo, sizeof lo);
        std::memcpy(at + 4, &hi, sizeof hi);
    }
};

// Any thread (arithmetic only). The cursor at position `f`.
inline Cursor cursor_at(float f, float step) {
    Cursor c{f, step, 0.0f, 0};
    c.refresh();
    return c;
}

// Audio thread. Renders `groups` groups of `Lanes` frames from the cursor,
// through `m`: the frames of a binade run by `m.run(f, rstep, groups, out)`;
// a group where one run ends and the next begins by
// `m.two(f, rstep, k, q, rstep2, out)` (k frames f + i * rstep, then
// q + i * rstep2); any other group by `m.one(at, out)` with its positions
// in `at`. `M::kOutFloats` is the output of one group, in floats.
template <int Lanes, typename M>
__attribute__((always_inline)) inline float* drive(const M& m, Cursor& c, int groups, float* out) {
    while (groups > 0) {
        if (c.left >= Lanes) {
            const int g = c.left / Lanes < groups ? c.left / Lanes : groups;
            m.run(c.f, c.rstep, g, out);
            c.skip_run(g * Lanes);
            out += g * M::kOutFloats;
            groups -= g;
            continue;
        }
        if (c.left > 0) {
            const int k = c.left;
            const float q = (c.f + static_cast<float>(k - 1) * c.rstep) + c.step;
            const BinadeRun next = binade_run(q, c.step, 1 << 30);
            if (next.count >= Lanes - k) {
                m.two(c.f, c.rstep, k, q, next.rstep, out);
                c.f = q;
                c.rstep = next.rstep;
                c.left = next.count;
                c.skip_run(Lanes - k);
                out += M::kOutFloats;
                --groups;
                continue;
            }
        }
        alignas(32) float at[Lanes + kPositionSlack];
        if (c.left == 0) {
            // Summed one by one (the first frames of a block), in registers.
            for (int i = 0; i < Lanes; ++i, c.f += c.step) at[i] = c.f;
            c.refresh();
        } else {
            c.take(Lanes, at);
        }
        m.one(at, out);
        out += M::kOutFloats;
        --groups;
    }
    return out;
}

}  // namespace mixing
