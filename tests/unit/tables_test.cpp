
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

TEST(ReturnBuffer, ReadsBigEndianWidthsAndRefusesOthers) {
    const unsigned char bytes[] = {0x12, 0x34, 0x56, 0x78};
    std::memcpy(buffer + 10, bytes, 4);
    EXPECT_EQ(returnbuffer(1, 10), 0x12u);
    EXPECT_EQ(returnbuffer(2, 10), 0x1234u);
    EXPECT_EQ(returnbuffer(4, 10), 0x12345678u);
    EXPECT_EQ(returnbuffer(3, 10), 0u);
    EXPECT_EQ(returnbuffer(4, 1022), 0u);  // would run past the scratch buffer
}
