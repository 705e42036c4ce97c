// Mixing one block of a voice into the output: resampling with linear
// interpolation (mono sources), panning and adding to what is there.
//
// Every path gives output and final position bit-identical to the plain
// frame-by-frame loop: the position is a 32-bit float advanced by adding the
// step once per frame. The vector paths use that, within one binade, such a
// sum advances by a fixed rounded step, so several frames' positions can be
// computed at once without changing a bit.
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

// The ways of mixing compiled in.
enum class MixPath { Plain, Sse2, Avx2 };

// Any thread. True when `path` is compiled in and this processor runs it.
bool mix_path_available(MixPath path);
// Tests and benchmarks, while nothing renders. Chooses the path `mix` takes
// (by default the fastest available); false, and no change, when `path` is
// not available.
bool set_mix_path(MixPath path);
// Any thread. The path `mix` takes.
MixPath mix_path();
