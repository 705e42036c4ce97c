#include "core/instruments.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/reclaim.h"
#include "core/sound.h"
#include "support/testkit.h"

namespace {

class Instruments : public testkit::EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        clear_inst_names();
    }

    // Instruments of the given sizes; sound j of instrument k is named "k.j".
    void build(const std::vector<int>& sizes) {
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            const int inst = k == 0 ? 0 : add_inst(("inst" + std::to_string(k)).c_str());
            ASSERT_EQ(inst, static_cast<int>(k));
            if (k == 0) set_inst_name(0, "inst0");
            ASSERT_TRUE(add_sounds(inst, sizes[k] - 1));
            for (int j = 0; j < sizes[k]; ++j) {
                std::snprintf(t_sound[inst_first(inst) + j].load()->name, 32, "%zu.%d", k, j);
            }
        }
    }

    static std::string name_of(int s) {
        return t_sound[s].load() ? t_sound[s].load()->name : "(null)";
    }

    // Checks every invariant of the structure.
    static void expect_consistent() {
        ASSERT_GE(nb_inst, 0);
        if (nb_inst == 0) {
            EXPECT_EQ(nb_sound, 0);
            return;
        }
        EXPECT_EQ(t_inst[0], 0);
        for (int k = 0; k < nb_inst; ++k) {
            EXPECT_GE(inst_count(k), 1) << "instrument " << k << " owns no sound";
            if (k + 1 < nb_inst) {
                EXPECT_LT(t_inst[k], t_inst[k + 1]);
            }
            for (int s = inst_first(k); s < inst_first(k) + inst_count(k); ++s) {
                EXPECT_EQ(t_invert[s], k) << "sound " << s;
                EXPECT_EQ(quel_baseson(s), k) << "sound " << s;
                EXPECT_NE(t_sound[s].load(), nullptr) << "sound " << s;
            }
        }
        for (int s = nb_sound; s < kMaxSounds; ++s) ASSERT_EQ(t_sound[s].load(), nullptr) << s;
    }
};

TEST_F(Instruments, RowsAndSoundsMapBothWays) {
    build({2, 3, 1});
    expect_consistent();
    for (int s = 0; s < nb_sound; ++s) {
        const int k = quel_baseson(s);
        EXPECT_EQ(listtoson(s + k + 1), s) << "sample row of sound " << s;
    }
    for (int k = 0; k < nb_inst; ++k)
        EXPECT_EQ(listtoson(t_inst[k] + k), t_inst[k]) << "instrument row " << k;
    // Rows: I0 0.0 0.1 I1 1.0 1.1 1.2 I2 2.0
    EXPECT_EQ(listtoson(0), 0);
    EXPECT_EQ(listtoson(3), 2);
    EXPECT_EQ(listtoson(6), 4);
    EXPECT_EQ(listtoson(7), 5);
    EXPECT_EQ(listtoson(8), 5);
}

TEST_F(Instruments, AddSubSampleGoesToTheEndOfTheSelectedInstrument) {
    build({2, 2, 2});
    p_s* third_first = t_sound[4];
    no_s = 2;  // first sound of the second instrument
    const int added = add_multi();
    EXPECT_EQ(added, 4);
    EXPECT_EQ(no_s, 4);
    EXPECT_STREQ(t_sound[4].load()->name, "None sample");
    EXPECT_EQ(t_sound[4].load()->data, nullptr);
    EXPECT_EQ(t_inst[2], 5);
    EXPECT_EQ(t_sound[5].load(), third_first);  // the third instrument moved up by one
    EXPECT_EQ(name_of(6), "2.1");
    EXPECT_EQ(nb_sound, 7);
    EXPECT_EQ(t_invert[4], 1);
    EXPECT_EQ(t_invert[5], 2);
    expect_consistent();
    // On the last instrument the new slot is simply appended.
    no_s = 6;
    EXPECT_EQ(add_multi(), 7);
    EXPECT_EQ(inst_count(2), 3);
    expect_consistent();
}

TEST_F(Instruments, DeletingTheMiddleInstrumentMovesTheNextOneDown) {
    build({1, 3, 2});
    p_s* removed = t_sound[1];
    const std::size_t pending_before = reclaim::pending();
    EXPECT_EQ(del_sound(2, true), 3);
    EXPECT_EQ(nb_inst, 2);
    EXPECT_EQ(nb_sound, 3);
    EXPECT_EQ(name_of(1), "2.0");
    EXPECT_EQ(name_of(2), "2.1");
    EXPECT_EQ(t_invert[1], 1);
    EXPECT_EQ(t_invert[2], 1);
    EXPECT_STREQ(inst_name(1), "inst2");  // names follow their instruments
    EXPECT_STREQ(inst_name(2), "");
    EXPECT_EQ(no_s, 2);  // the last sound is selected
    for (int s = 0; s < kMaxSounds; ++s) EXPECT_NE(t_sound[s].load(), removed);
    EXPECT_EQ(reclaim::pending(), pending_before + 3);  // retired, not freed on the spot
    expect_consistent();
}

TEST_F(Instruments, DeletingOneSampleOrTheOnlySample) {
    build({3, 1, 2});
    EXPECT_EQ(del_sound(1, false), 1);  // a sample of the first instrument
    EXPECT_EQ(nb_sound, 5);
    EXPECT_EQ(name_of(1), "0.2");
    EXPECT_EQ(t_inst[1], 2);
    expect_consistent();
    // The only sample of an instrument takes the instrument with it.
    EXPECT_EQ(del_sound(2, false), 1);
    EXPECT_EQ(nb_inst, 2);
    EXPECT_EQ(name_of(2), "2.0");
    EXPECT_EQ(no_s, 3);
    expect_consistent();
    // A range that would leave an instrument empty is refused.
    EXPECT_FALSE(del_sounds(1, 2, 2));
    EXPECT_TRUE(del_sounds(1, 3, 1));
    expect_consistent();
}

TEST_F(Instruments, DeletingEverythingAndStartingAgain) {
    build({2, 1});
    del_sound(0, true);
    del_sound(0, true);
    EXPECT_EQ(nb_inst, 0);
    EXPECT_EQ(nb_sound, 0);
    EXPECT_EQ(quel_baseson(0), -1);
    EXPECT_EQ(listtoson(0), 0);
    EXPECT_EQ(listtoson(3), 2);
    EXPECT_EQ(add_multi(), -1);  // no instrument to add to
    EXPECT_EQ(del_sound(0, false), 0);
    EXPECT_EQ(add_inst("again"), 0);
    EXPECT_EQ(nb_sound, 1);
    EXPECT_STREQ(t_sound[0].load()->name, "None sample");
    expect_consistent();
}

TEST_F(Instruments, FullTablesRefuseToGrowAndLoseNothing) {
    build({2, 2});
    ASSERT_TRUE(add_sounds(0, kMaxSounds - 4));
    ASSERT_EQ(nb_sound, kMaxSounds);
    p_s* last = t_sound[kMaxSounds - 1];
    no_s = 0;
    EXPECT_EQ(add_multi(), -1);
    EXPECT_EQ(add_inst("x"), -1);
    EXPECT_FALSE(add_sounds(1, 1));
    EXPECT_EQ(nb_sound, kMaxSounds);
    EXPECT_EQ(t_sound[kMaxSounds - 1].load(), last);
    EXPECT_EQ(nb_inst, 2);
    expect_consistent();
    // Freeing one slot makes room for exactly one more.
    del_sound(5, false);
    no_s = 0;
    EXPECT_EQ(add_multi(), kMaxSounds - 3);
    EXPECT_EQ(add_multi(), -1);
    expect_consistent();
}

}  // namespace
