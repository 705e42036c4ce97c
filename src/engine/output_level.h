// The level of the mix at the output: the voices' sum is divided by 4, times
// a gain (1 unless a tool sets another), then clipped to [-1, 1]. What the
// clip did is counted, so an offline render can report it.
#pragma once

#include <cstddef>
#include <cstdint>

// The mix is divided by 4 before the clip, so four full-scale voices
// together reach full scale.
constexpr float kMixHeadroom = 4.0f;

// Audio thread. Scales and clips `count` output samples in place and adds to
// the clip counts. Never locks or allocates.
void finish_output(float* samples, std::size_t count);
// Audio thread, or tests. As `finish_output`, with vectors of at most
// `lanes` floats (1: the plain loop; a width the processor lacks is left out).
void finish_output_with(float* samples, std::size_t count, int lanes);

// Any thread. The gain applied before the clip; 1 (the start value) leaves
// the mix as it always was.
void set_output_gain(float gain);
float output_gain();

struct ClipCounts {
    std::uint64_t clipped = 0;  // samples the clip changed
    float peak = 0.0f;          // largest magnitude before the clip
};

// Any thread, between buffers. The counts since the last reset, and the reset.
ClipCounts clip_counts();
void reset_clip_counts();
