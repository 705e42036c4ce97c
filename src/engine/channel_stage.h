// What a channel's settings do to its voices after they are mixed: mute,
// the low-pass filter and the vibrato of the modulation wheel. A channel at
// its start values (not muted, filter open, no modulation) costs nothing:
// its voices mix straight into the output as if this stage did not exist.
// Others mix into a buffer of their own, which is filtered, faded and added
// to the output. Every change glides over one buffer, so none clicks.
#pragma once

#include <cstdint>

// Frames a channel's own buffer holds. In longer device buffers a mute
// acts without a fade and the filter is left out.
constexpr std::int64_t kStageFrames = 8192;

// What a channel does to each of its voices in this buffer: a factor on
// the pitch (the vibrato) and on the gain (0 while muted, with no fade to
// play). Both exactly 1 at the start values.
struct StageVoice {
    float pitch = 1.0f;
    float gain = 1.0f;
};

// Any thread. The filter's cutoff in Hz for a value of `ch_lpf` (1 to 127:
// about 20 kHz down to 100 Hz on an exponential scale; 0 is open).
float lpf_cutoff(int value);

// Audio thread. Before the voices of a buffer of `frames` frames of
// `stride` floats at `rate` frames per second: reads each channel's
// settings and clears the buffers of the channels that need one.
void stage_begin(std::int64_t frames, std::uint32_t stride, float rate);
// Audio thread. Where the voices of channel `ch` mix: `out` itself, or the
// channel's own buffer.
float* stage_target(std::uint32_t ch, float* out);
// Audio thread. What channel `ch` does to its voices in this buffer.
StageVoice stage_voice(std::uint32_t ch);
// Audio thread. After the voices: filters and fades each channel's buffer
// into `out`.
void stage_end(float* out);

// GUI thread, with no audio running. Forgets filter memories, fades and
// vibrato phases.
void stage_reset();
