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
extern rt<std::int32_t> ch_expr[kChannels];       // expression (CC11) 0..127
extern rt<bool> ch_sustain[kChannels];            // the sustain pedal is down

// The instrument holding drum kit n of the bank imported last (its bank-128
// preset n), -1 for none: what a program change on the drum channel picks
// when banks play as their makers set them.
constexpr int kDrumKits = 128;
extern rt<std::int32_t> drum_kit_inst[kDrumKits];

// GUI thread, with no other thread running. Every channel at its start value.
void reset_channel_tables();
