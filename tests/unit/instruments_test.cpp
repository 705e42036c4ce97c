
#include "support/testkit.h"

namespace {

class Instruments : public testkit::EngineTest {
  protected:
    // Instruments of the given sizes; sound j of instrument k is named "k.j".
    static void build(const std::vector<int>& sizes) {
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            const int inst = k == 0 ? 0 : add_inst(("inst" + std::to_string(k)).c_str());
            if (k == 0) set_inst_name(0, "inst0");
            ASSERT_TRUE(add_sounds(inst, sizes[k] - 1));
            for (int j = 0; j < sizes[k]; ++j)
                std::snprintf(t_sound[inst_first(inst) + j].load()->name, 32, "%zu.%d", k, j);
        }
    }
};

using testkit::layout;

}  // namespace

TEST_F(Instruments, RowsAndSoundsMapBothWays) {
    build({2, 3, 1});
    EXPECT_EQ(layout(), "0.0 0.1 | 1.0 1.1 1.2 | 2.0");
    // Rows: I0 0.0 0.1 I1 1.0 1.1 1.2 I2 2.0
    const int sound_of_row[] = {0, 0, 1, 2, 2, 3, 4, 5, 5};
    for (int row = 0; row < 9; ++row) EXPECT_EQ(listtoson(row), sound_of_row[row]) << row;
}

TEST_F(Instruments, AddSubSampleGoesToTheEndOfTheSelectedInstrument) {
    build({2, 2, 2});
    no_s = 2;  // first sound of the second instrument
    EXPECT_EQ(add_multi(), 4);
    EXPECT_EQ(no_s, 4);
    EXPECT_EQ(t_sound[4].load()->data, nullptr);
    EXPECT_EQ(layout(), "0.0 0.1 | 1.0 1.1 None sample | 2.0 2.1");
    no_s = 6;  // on the last instrument the new slot is simply appended
    EXPECT_EQ(add_multi(), 7);
    EXPECT_EQ(layout(), "0.0 0.1 | 1.0 1.1 None sample | 2.0 2.1 None sample");
}

TEST_F(Instruments, DeletingSoundsAndInstruments) {
    build({1, 3, 2});
    p_s* removed = t_sound[1];
    const std::size_t pending = reclaim::pending();
    EXPECT_EQ(del_sound(2, true), 3);  // the middle instrument
    EXPECT_EQ(layout(), "0.0 | 2.0 2.1");
    EXPECT_STREQ(inst_name(1), "inst2");  // names follow their instruments
    EXPECT_STREQ(inst_name(2), "");
    EXPECT_EQ(no_s, 2);  // the last sound is selected
    for (int s = 0; s < kMaxSounds; ++s) EXPECT_NE(t_sound[s].load(), removed);
    // Retired, not freed on the spot: the three records and the snapshot that held them.
    EXPECT_EQ(reclaim::pending(), pending + 3 + 1);

    testkit::fresh_tables();
    build({3, 1, 2});
    EXPECT_EQ(del_sound(1, false), 1);  // one sample
    EXPECT_EQ(layout(), "0.0 0.2 | 1.0 | 2.0 2.1");
    EXPECT_EQ(del_sound(2, false), 1);  // the only sample takes its instrument with it
    EXPECT_EQ(layout(), "0.0 0.2 | 2.0 2.1");
    EXPECT_EQ(no_s, 3);
    EXPECT_FALSE(del_sounds(1, 2, 2));  // a range that would leave an instrument empty
    EXPECT_TRUE(del_sounds(1, 3, 1));
    EXPECT_EQ(layout(), "0.0 0.2 | 2.0");
}

TEST_F(Instruments, DeletingEverythingAndStartingAgain) {
    build({2, 1});
    del_sound(0, true);
    del_sound(0, true);
    EXPECT_EQ(layout(), "");
    EXPECT_EQ(nb_inst, 0);
    EXPECT_EQ(quel_baseson(0), -1);
    EXPECT_EQ(listtoson(0), 0);
    EXPECT_EQ(listtoson(3), 2);
    EXPECT_EQ(add_multi(), -1);  // no instrument to add to
    EXPECT_EQ(del_sound(0, false), 0);
    EXPECT_EQ(add_inst("again"), 0);
    EXPECT_EQ(layout(), "None sample");
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
    del_sound(5, false);  // freeing one slot makes room for exactly one more
    no_s = 0;
    EXPECT_EQ(add_multi(), kMaxSounds - 3);
    EXPECT_EQ(add_multi(), -1);
    layout();
}
