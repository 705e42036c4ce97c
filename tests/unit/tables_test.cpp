#include <cmath>
#include <cstring>

#include "core/sound.h"
#include "engine/channels.h"
#include "engine/tone_tables.h"
#include "engine/voice_table.h"
#include "io/scratch.h"
#include "midi/midi_port.h"
#include "support/testkit.h"

using testkit::EngineTest;

TEST_F(EngineTest, StartUpStateHasOneInstrumentOwningTheEmptySound) {
    EXPECT_EQ(nb_inst, 1);
    EXPECT_EQ(nb_sound, 1);
    EXPECT_EQ(t_inst[0], 0);
    p_s* none = t_sound[0];
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none->name, "None Sample");
    EXPECT_EQ(none->data, nullptr);
    EXPECT_EQ(t_sound[1].load(), nullptr);
    for (const NOTE_LIST& v : nlist) {
        EXPECT_EQ(v.state(), kVoiceFree);
        EXPECT_EQ(v.index, 0u);
        EXPECT_FALSE(v.is_inst);
    }
    for (int c = 0; c < kChannels; ++c) {
        EXPECT_EQ(ch_inst[c], 0);
        EXPECT_FALSE(ch_instf[c]);
        EXPECT_EQ(ch_pitch[c], 8192);
        EXPECT_EQ(ch_main[c], 127);
        EXPECT_EQ(ch_pan[c], 64);
        EXPECT_EQ(ch_ctune[c], 64);
        EXPECT_EQ(ch_pitchsens[c], 200);
        EXPECT_FALSE(mute[c]);
    }
    EXPECT_TRUE(fmodei);
    EXPECT_FALSE(Finst);
    EXPECT_EQ(limitd2d, 1000000);
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(midimess_to_func[i], i);
}

TEST_F(EngineTest, PitchTableIsRoundedToFloatAtEveryStep) {
    EXPECT_EQ(inote[0], 1.0f);
    // The repeated float product drifts above the exact octave.
    EXPECT_EQ(inote[12], 2.00000048f);
    EXPECT_NE(inote[12], 2.0f);
    EXPECT_NEAR(inote[24], 4.0f, 1e-5);
    for (int k = 1; k < 128; ++k) ASSERT_GT(inote[k], inote[k - 1]) << k;
}

TEST_F(EngineTest, PanTableFollowsASineQuarterThatNeverReachesOne) {
    EXPECT_EQ(tab_pan[0], 0.0f);
    EXPECT_NEAR(tab_pan[64], 0.70710678f, 1e-6);
    EXPECT_NEAR(tab_pan[127], 0.99992470f, 1e-6);
    EXPECT_LT(tab_pan[127], 1.0f);
    // A centred pan gives the two outputs slightly different gains.
    EXPECT_NEAR(tab_pan[127 - 64], 0.6984f, 1e-4);
    EXPECT_GT(tab_pan[64] - tab_pan[63], 0.005f);
}

TEST_F(EngineTest, ResetRecordHasTheDefaultsAndOnlyTheReleaseCurve) {
    p_s* s = new_sound();
    EXPECT_EQ(s->flags, 16);
    EXPECT_EQ(s->pan, 64);
    EXPECT_EQ(s->res_a, 0);
    EXPECT_EQ(s->res_b, 127);
    EXPECT_EQ(s->key_lo, 0);
    EXPECT_EQ(s->key_hi, 127);
    EXPECT_EQ(s->vel_lo, 0);
    EXPECT_EQ(s->vel_hi, 127);
    EXPECT_EQ(s->rel_time, 102400u);
    EXPECT_EQ(s->base, 48);
    EXPECT_EQ(s->type, 0);
    const std::uint16_t release[5] = {0x0080, 0x4060, 0x8040, 0xC020, 0xFF00};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(s->env[k][4], release[k]);
        EXPECT_EQ(s->env[k][0] & 0xFF, 128);
        EXPECT_EQ(s->env[k][2] & 0xFF, 64);
        EXPECT_EQ(s->env[k][1] & 0xFF, 0);
    }
    delete s;
}

TEST_F(EngineTest, LoadedSoundDefaultsDeriveShiftAndReleaseFromTheFormat) {
    p_s* s = new_sound();
    s->rate = 22050;
    s->bits = 8;
    s->stereo = 1;
    s->base = 300;
    finish_loaded_sound(s);
    EXPECT_EQ(s->shift, 1);
    EXPECT_EQ(s->rel_time, 11025u);
    EXPECT_EQ(s->pan, 128);
    EXPECT_EQ(s->base, 48);
    s->bits = 16;
    finish_loaded_sound(s);
    EXPECT_EQ(s->shift, 2);
    delete s;
}

TEST(ReturnBuffer, ReadsBigEndianWidthsAndRefusesOthers) {
    const unsigned char bytes[] = {0x12, 0x34, 0x56, 0x78};
    std::memcpy(buffer + 10, bytes, 4);
    EXPECT_EQ(returnbuffer(1, 10), 0x12u);
    EXPECT_EQ(returnbuffer(2, 10), 0x1234u);
    EXPECT_EQ(returnbuffer(4, 10), 0x12345678u);
    EXPECT_EQ(returnbuffer(3, 10), 0u);
    EXPECT_EQ(returnbuffer(4, 1022), 0u);  // would run past the scratch buffer
}
