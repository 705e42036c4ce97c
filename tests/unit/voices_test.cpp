#include "engine/voices.h"

#include <vector>

#include "core/notify.h"
#include "core/sound.h"
#include "engine/voice_table.h"
#include "support/testkit.h"

using testkit::EngineTest;

namespace {

// Makes instrument 0 own `n` sounds with the given key zones.
void make_instrument(const std::vector<std::pair<int, int>>& zones) {
    for (std::size_t i = 0; i < zones.size(); ++i) {
        p_s* s = new_sound();
        s->key_lo = static_cast<std::int16_t>(zones[i].first);
        s->key_hi = static_cast<std::int16_t>(zones[i].second);
        replace_sound(static_cast<int>(i), s);
    }
    nb_sound = static_cast<std::uint16_t>(zones.size());
}

std::vector<KeyNotice> drain_notices() {
    std::vector<KeyNotice> out;
    KeyNotice n;
    while (take_key_notice(n)) out.push_back(n);
    return out;
}

class VoiceTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        prince = true;
        drain_notices();
    }
    void TearDown() override {
        prince = false;
        drain_notices();
        EngineTest::TearDown();
    }
};

}  // namespace

TEST_F(VoiceTest, ZoneLookupTakesTheFirstMatchingSoundElseTheLast) {
    make_instrument({{0, 59}, {60, 71}, {60, 127}});
    EXPECT_EQ(sample_used(true, 0, 10), t_sound[0].load());
    EXPECT_EQ(sample_used(true, 0, 60), t_sound[1].load());  // first of two matches
    EXPECT_EQ(sample_used(true, 0, 100), t_sound[2].load());
    t_sound[2]->key_hi = 99;
    EXPECT_EQ(sample_used(true, 0, 120), t_sound[2].load());  // no match: the last sound
    EXPECT_EQ(sample_used(false, 1, 0), t_sound[1].load());   // a sound by index
    EXPECT_EQ(sample_used(false, 4095, 0), nullptr);
    EXPECT_EQ(sample_used(false, 5000, 0), nullptr);
}

TEST_F(VoiceTest, ZoneLookupOfTheSecondInstrumentStopsAtItsEnd) {
    make_instrument({{0, 127}, {0, 10}, {11, 20}, {0, 127}});
    nb_inst = 3;
    t_inst[1] = 1;
    t_inst[2] = 3;
    EXPECT_EQ(sample_used(true, 1, 15), t_sound[2].load());
    EXPECT_EQ(sample_used(true, 1, 90), t_sound[2].load());  // not sound 3 of instrument 2
    EXPECT_EQ(sample_used(true, 2, 90), t_sound[3].load());
    // An instrument that does not exist plays nothing, whatever stale entries say.
    EXPECT_EQ(sample_used(true, 3, 60), nullptr);
    EXPECT_EQ(sample_used(true, 70000, 60), nullptr);
}

TEST_F(VoiceTest, AddnoteClaimsTheLowestFreeVoiceAndTellsTheKeyboard) {
    addnote(2, 60, 0, 100, true, 0, 0);
    addnote(3, 64, 0, 90, false, 500, 20);
    ASSERT_EQ(nlist[0].state(), kVoicePlaying);
    EXPECT_EQ(nlist[0].channel, 2u);
    EXPECT_EQ(nlist[0].key, 60u);
    EXPECT_TRUE(nlist[0].is_inst);
    EXPECT_EQ(nlist[0].velocity, 100u);
    EXPECT_EQ(nlist[0].release(), 0u);
    EXPECT_EQ(nlist[1].pos, 20u);
    EXPECT_EQ(nlist[1].end, 500u);
    EXPECT_FALSE(nlist[1].is_inst);
    end_voice_claim(0, nlist[0].serial());  // free the lower voice: the next note takes it again
    addnote(4, 10, 0, 1, true, 0, 0);
    EXPECT_EQ(nlist[0].channel, 4u);
    const auto notices = drain_notices();
    ASSERT_EQ(notices.size(), 4u);  // on, on, off, on
    EXPECT_FALSE(notices[2].ww);
    EXPECT_EQ(notices[0].what, fourcc("ppia"));
    EXPECT_EQ(notices[0].ch, 2);
    EXPECT_EQ(notices[0].no, 60);
    EXPECT_TRUE(notices[0].ww);
}

TEST_F(VoiceTest, TheNoteBeyond128VoicesIsDroppedWithoutANotice) {
    for (int i = 0; i < 128; ++i) addnote(0, static_cast<std::uint32_t>(i), 0, 100, true, 0, 0);
    EXPECT_EQ(active_voices(), 128);
    drain_notices();
    addnote(1, 50, 0, 100, true, 0, 0);
    EXPECT_EQ(active_voices(), 128);
    EXPECT_TRUE(drain_notices().empty());
    for (const NOTE_LIST& v : nlist) EXPECT_NE(v.channel, 1u);
}

TEST_F(VoiceTest, OneNoteOffReleasesOneVoiceInTableOrder) {
    addnote(0, 60, 0, 100, true, 0, 0);
    addnote(0, 60, 0, 100, true, 0, 0);
    delnote(0, 60, 0, 100, -1);
    EXPECT_EQ(nlist[0].release(), 356u);
    EXPECT_EQ(nlist[1].release(), 0u);
    delnote(0, 60, 0, 5, -1);
    EXPECT_EQ(nlist[1].release(), 261u);
    delnote(0, 60, 0, 5, -1);  // nothing left to release: nothing changes
    EXPECT_EQ(nlist[0].release(), 356u);
    EXPECT_EQ(nlist[1].release(), 261u);
    delnote(0, 61, 0, 5, -1);  // unknown key
    delnote(1, 60, 0, 5, -1);  // other channel
    EXPECT_EQ(active_voices(), 2);
}

TEST_F(VoiceTest, StoppingByNumberFreesTheVoiceOnlyWhenChannelAndKeyMatch) {
    addnote(3, 40, 0, 100, true, 0, 0);
    drain_notices();
    delnote(3, 41, 0, 0, 0);
    EXPECT_EQ(nlist[0].state(), kVoicePlaying);
    delnote(3, 40, 0, 0, 0);
    EXPECT_EQ(nlist[0].state(), kVoiceFree);
    const auto notices = drain_notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_FALSE(notices[0].ww);
    delnote(3, 40, 0, 0, 200);  // out of range: ignored
}

TEST_F(VoiceTest, StreamedSoundsPlayInOneVoiceAndRewindOnlyWhenStopped) {
    p_s* s = new_sound();
    s->type = kTypeStreamed;
    replace_sound(0, s);
    addnote(0, 60, 0, 100, true, 0, 0);
    addnote(5, 62, 0, 100, true, 0, 0);  // second note on the stream, other channel: dropped
    EXPECT_EQ(active_voices(), 1);
    delnote(0, 60, 0, 64, -1);
    EXPECT_EQ(s->d2d_state, 0);  // a release leaves the stream alone
    delnote(0, 60, 0, 0, 0);
    EXPECT_EQ(s->d2d_state, 3);  // the end tells the reader to rewind
    addnote(5, 62, 0, 100, true, 0, 0);
    EXPECT_EQ(active_voices(), 1);
}

TEST_F(VoiceTest, NoKeyNoticesUntilTheMainWindowListens) {
    prince = false;
    addnote(0, 60, 0, 100, true, 0, 0);
    delnote(0, 60, 0, 0, -1);
    EXPECT_TRUE(drain_notices().empty());
}
