
#include "core/keymap.h"
#include "support/testkit.h"

namespace {

std::vector<KeyNotice> drain_notices() {
    std::vector<KeyNotice> out;
    KeyNotice n;
    while (take_key_notice(n)) out.push_back(n);
    return out;
}

class VoiceTest : public testkit::EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        prince = true;  // the main window listens for notices
    }
    // Sounds 0.. with the given key zones.
    static void zones(const std::vector<std::pair<int, int>>& z) {
        for (std::size_t i = 0; i < z.size(); ++i) {
            p_s* s = new_sound();
            set_key_range(*s, z[i].first, z[i].second);
            replace_sound(static_cast<int>(i), s);
        }
        nb_sound = static_cast<std::uint16_t>(z.size());
    }
};

}  // namespace

TEST_F(VoiceTest, ZoneLookupTakesTheFirstMatchingSoundOfTheInstrumentElseItsLast) {
    zones({{0, 59}, {60, 71}, {60, 99}, {0, 10}, {11, 20}, {0, 127}});
    nb_inst = 3;
    t_inst[1] = 3;
    t_inst[2] = 5;
    const std::tuple<std::uint32_t, std::uint32_t, int> cases[] = {
        // inst, key, sound (-1: none)
        {0, 10, 0}, {0, 60, 1}, {0, 80, 2},  {0, 120, 2},    {1, 15, 4},
        {1, 90, 4}, {2, 90, 5}, {3, 60, -1}, {70000, 60, -1}};
    for (const auto& [inst, key, sound] : cases) {
        EXPECT_EQ(sample_used(true, inst, key), sound < 0 ? nullptr : t_sound[sound].load())
            << inst << " " << key;
    }
    EXPECT_EQ(sample_used(false, 1, 0), t_sound[1].load());  // a sound by index
    EXPECT_EQ(sample_used(false, 4095, 0), nullptr);
    EXPECT_EQ(sample_used(false, 5000, 0), nullptr);
}

TEST_F(VoiceTest, AddnoteClaimsTheLowestFreeVoiceUpTo128AndTellsTheKeyboard) {
    addnote(2, 60, 0, 100, true, 0, 0);
    addnote(3, 64, 0, 90, false, 500, 20);
    const NOTE_LIST &a = nlist[0], &b = nlist[1];
    ASSERT_EQ(a.state(), kVoicePlaying);
    EXPECT_EQ(std::tuple(+a.channel, +a.key, +a.is_inst, +a.velocity, a.release()),
              std::tuple(2u, 60u, 1, 100u, 0u));
    EXPECT_EQ(std::tuple(+b.pos, +b.end, +b.is_inst), std::tuple(20u, 500u, 0));
    end_voice_claim(0, nlist[0].serial());  // free the lower voice: the next note takes it again
    addnote(4, 10, 0, 1, true, 0, 0);
    EXPECT_EQ(nlist[0].channel, 4u);
    const auto notices = drain_notices();
    ASSERT_EQ(notices.size(), 4u);  // on, on, off, on
    EXPECT_FALSE(notices[2].ww);
    EXPECT_EQ(std::tuple(notices[0].what, +notices[0].ch, +notices[0].no, notices[0].ww),
              std::tuple(fourcc("ppia"), 2, 60, true));
    // The note beyond 128 voices is dropped without a notice.
    for (int i = 0; i < 126; ++i) addnote(0, static_cast<std::uint32_t>(i), 0, 100, true, 0, 0);
    EXPECT_EQ(active_voices(), 128);
    drain_notices();
    addnote(1, 50, 0, 100, true, 0, 0);
    EXPECT_EQ(active_voices(), 128);
    EXPECT_TRUE(drain_notices().empty());
    for (const NOTE_LIST& v : nlist) EXPECT_NE(v.channel, 1u);
}

TEST_F(VoiceTest, NoteOffReleasesOneVoiceInTableOrderAndStopFreesAMatchingOne) {
    addnote(0, 60, 0, 100, true, 0, 0);
    addnote(0, 60, 0, 100, true, 0, 0);
    delnote(0, 60, 0, 100, -1);
    EXPECT_EQ(nlist[0].release(), 356u);
    EXPECT_EQ(nlist[1].release(), 0u);
    delnote(0, 60, 0, 5, -1);
    EXPECT_EQ(nlist[1].release(), 261u);
    delnote(0, 60, 0, 5, -1);  // nothing left to release: nothing changes
    delnote(0, 61, 0, 5, -1);  // unknown key
    delnote(1, 60, 0, 5, -1);  // other channel
    EXPECT_EQ(nlist[0].release(), 356u);
    EXPECT_EQ(nlist[1].release(), 261u);
    EXPECT_EQ(active_voices(), 2);
    drain_notices();
    // Stopping by number frees the voice only when channel and key match.
    delnote(0, 41, 0, 0, 1);
    delnote(0, 60, 0, 0, 200);  // out of range: ignored
    EXPECT_EQ(active_voices(), 2);
    delnote(0, 60, 0, 0, 1);
    EXPECT_EQ(nlist[1].state(), kVoiceFree);
    const auto notices = drain_notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_FALSE(notices[0].ww);
    // No notices while the main window does not listen.
    prince = false;
    addnote(0, 60, 0, 100, true, 0, 0);
    delnote(0, 60, 0, 0, -1);
    EXPECT_TRUE(drain_notices().empty());
}

TEST_F(VoiceTest, StreamedSoundsPlayInOneVoiceAndRewindOnlyWhenStopped) {
    p_s* s = new_sound();
    s->type = kTypeStreamed;
    replace_sound(0, s);
    addnote(0, 60, 0, 100, true, 0, 0);
    addnote(5, 62, 0, 100, true, 0, 0);  // second note on the stream: dropped
    EXPECT_EQ(active_voices(), 1);
    delnote(0, 60, 0, 64, -1);
    EXPECT_EQ(s->d2d_state, 0);  // a release leaves the stream alone
    delnote(0, 60, 0, 0, 0);
    EXPECT_EQ(s->d2d_state, 3);  // the end tells the reader to rewind
    addnote(5, 62, 0, 100, true, 0, 0);
    EXPECT_EQ(active_voices(), 1);
}
