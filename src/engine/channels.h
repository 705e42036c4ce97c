// The state of the sixteen MIDI channels: written by the MIDI hooks and the
// windows, read by the render callback.
#pragma once

#include <cstdint>

#include "core/rt.h"

constexpr int kChannels = 16;

extern rt<std::int32_t> ch_inst[kChannels];       // the instrument a channel plays
extern rt<bool> ch_instf[kChannels];              // program changes are ignored ("Freeze")
extern rt<std::int32_t> ch_pitch[kChannels];      // pitch bend, 8192 centre
extern rt<std::int32_t> ch_main[kChannels];       // main volume 0..127
extern rt<std::int32_t> ch_pan[kChannels];        // 0 left .. 127 right
extern rt<std::int32_t> ch_ctune[kChannels];      // coarse tune, 64 centre
extern rt<std::int32_t> ch_pitchsens[kChannels];  // bend range in cents
extern rt<std::int32_t> ch_register[kChannels];   // selected registered parameter
extern rt<std::int32_t> ch_lpf[kChannels];        // low-pass filter: 0 open .. 127 closed
extern rt<std::int32_t> ch_mod[kChannels];        // modulation (vibrato depth) 0..127
extern rt<bool> mute[kChannels];                  // the channel's voices play unheard

// GUI thread, with no other thread running. Every channel at its start value.
void reset_channel_tables();
