#include "engine/channels.h"

rt<std::int32_t> ch_inst[kChannels];
rt<bool> ch_instf[kChannels];
rt<std::int32_t> ch_pitch[kChannels];
rt<std::int32_t> ch_main[kChannels];
rt<std::int32_t> ch_pan[kChannels];
rt<std::int32_t> ch_ctune[kChannels];
rt<std::int32_t> ch_pitchsens[kChannels];
rt<std::int32_t> ch_register[kChannels];
rt<std::int32_t> ch_lpf[kChannels];
rt<std::int32_t> ch_mod[kChannels];
rt<bool> mute[kChannels];
rt<std::int32_t> ch_expr[kChannels];
rt<bool> ch_sustain[kChannels];
rt<std::int32_t> drum_kit_inst[kDrumKits];

void reset_channel_tables() {
    for (int c = 0; c < kChannels; ++c) {
        ch_inst[c] = 0;
        ch_instf[c] = false;
        ch_pitch[c] = 8192;
        ch_main[c] = 127;
        ch_pan[c] = 64;
        ch_ctune[c] = 64;
        ch_pitchsens[c] = 200;
        ch_register[c] = 0;
        ch_lpf[c] = 0;
        ch_mod[c] = 0;
        mute[c] = false;
        ch_expr[c] = 127;
        ch_sustain[c] = false;
    }
    for (auto& kit : drum_kit_inst) kit = -1;
}
