// The vector mixing kernels: each renders groups of frames at the plain
// loop's own positions (see mix_frame.h) into a stereo output, with the
// same arithmetic as the plain loop.
#pragma once

#include <cstdint>

namespace mixing {

struct KernelArgs {
    const std::int8_t* src;  // the sound's data at frame `pos`
    const float* at;         // one group's positions past `pos`, or null: from the cursor
    std::uint32_t lim;       // last readable frame index, relative to `pos`
    std::uint32_t safe;      // highest relative index a 4-byte load of 8-bit mono may start at
    float* out;              // first output frame (two floats per frame)
    float g1;
    float g2;
};

struct Cursor;

// Audio thread. Renders `groups` groups of the path's lanes of frames at
// the cursor's positions, advancing it; or one group at `a.at`.
using Kernel = void (*)(const KernelArgs& a, Cursor& c, int groups);

// Kernels by format: index (bits == 16) * 2 + stereo. Null when not compiled in.
extern const Kernel kSse2Kernels[4];
constexpr int kSse2Lanes = 4;
extern const Kernel kAvx2Kernels[4];
constexpr int kAvx2Lanes = 8;

}  // namespace mixing
