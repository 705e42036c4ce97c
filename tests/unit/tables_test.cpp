
#include "io/scratch.h"
#include "support/testkit.h"

using testkit::EngineTest;

TEST_F(EngineTest, StartUpStateHasOneInstrumentOwningTheEmptySoundAndNoVoice) {
    EXPECT_EQ(nb_inst, 1);
    EXPECT_EQ(nb_sound, 1);
    ASSERT_NE(t_sound[0].load(), nullptr);
    EXPECT_STREQ(t_sound[0].load()->name, "None Sample");
    EXPECT_EQ(t_sound[0].load()->data, nullptr);
    EXPECT_EQ(t_sound[1].load(), nullptr);
    for (const NOTE_LIST& v : nlist) EXPECT_EQ(v.state(), kVoiceFree);
}

TEST_F(EngineTest, PitchAndPanTablesKeepTheirFloatRounding) {
    // The repeated float product drifts above the exact octave.
    EXPECT_EQ(inote[0], 1.0f);
    EXPECT_EQ(inote[12], 2.00000048f);
    EXPECT_NEAR(inote[24], 4.0f, 1e-5);
    for (int k = 1; k < 128; ++k) ASSERT_GT(inote[k], inote[k - 1]) << k;
    // A sine quarter that never reaches one; a centred pan is slightly uneven.
    EXPECT_EQ(tab_pan[0], 0.0f);
    EXPECT_NEAR(tab_pan[64], 0.70710678f, 1e-6);
    EXPECT_NEAR(tab_pan[63], 0.6984f, 1e-4);
    EXPECT_NEAR(tab_pan[127], 0.99992470f, 1e-6);
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
