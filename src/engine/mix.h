// Mixing one block of a voice into the output: resampling with linear
// interpolation (mono sources), panning and adding to what is there.
#pragma once

#include <cstdint>

// Everything one voice needs from its sound, read once per buffer and
// checked, so that no later change by another thread can make the mix read
// outside the data.
struct SoundView {
    const std::int8_t* data;
    std::uint64_t last_index;  // highest frame index that may be read
    std::uint32_t bits;
    bool stereo;
    int shift;
};

// Audio thread. Adds `n` output frames of the sound from source frame `pos`,
// position `frac` frames past it, advancing `step` source frames per output
// frame, with gains `g1` and `g2` on the first and second output channel.
// `stride` is the output frame size in floats (1 for a mono device). `frac`
// comes back advanced by the block. Reads never pass `sv.last_index + 1`.
void mix(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n, float* out,
         std::uint32_t stride, float g1, float g2);
