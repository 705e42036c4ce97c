// The sound tree in the real main window: start-up rows, adding sample
// slots and instruments, deleting with the alert's two answers, renaming.

#include "support/uikit.h"

using uikit::MainWindowTest;

TEST_F(MainWindowTest, StartsWithOneEmptyInstrumentSelected) {
    EXPECT_EQ(rows(), QStringList({"None Inst (000)", "  None sample"}));
    EXPECT_EQ(selected_row(), 0);
    EXPECT_EQ(int(no_s), 0);
    EXPECT_TRUE(Finst);
}

TEST_F(MainWindowTest, SelectingRowsSetsSoundAndInstrumentFlagAndASubSampleGoesToItsInstrument) {
    post("ains");
    post("ains");
    ASSERT_EQ(rows(), QStringList({"None Inst (000)", "  None sample", "None inst (001)",
                                   "  None sample", "None inst (002)", "  None sample"}));
    select_row(2);  // instrument 1's row
    EXPECT_EQ(int(no_s), 1);
    EXPECT_TRUE(Finst);
    EXPECT_EQ(win->name_field()->text(), "None inst (001)");
    // Instrument 1, the middle one, now owns sounds 1 and 2 (where sounds go
    // and which is selected are the instrument tests'); the new row is selected.
    post("asam");
    EXPECT_FALSE(Finst);
    EXPECT_EQ(selected_row(), 4);
    EXPECT_EQ(rows()[4], "  None sample");
    EXPECT_EQ(rows().size(), 7);
}

TEST_F(MainWindowTest, DeletingAnOnlySampleAsksAndYesRemovesTheInstrument) {
    post("ains");
    post("ains");
    select_row(3);  // the only sample of instrument 1
    const QStringList before = rows();

    alert_answer = 0;  // "No"
    post("dsam");
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].text, "Delete instrument and his samples ?");
    EXPECT_EQ(rows(), before);

    alert_answer = 1;  // "Yes"
    post("dsam");
    EXPECT_EQ(alerts().size(), 2u);
    EXPECT_EQ(rows(), QStringList({"None Inst (000)", "  None sample", "None inst (002)",
                                   "  None sample"}));
    EXPECT_EQ(selected_row(), 3);  // the last sound of the last instrument
}

TEST_F(MainWindowTest, DeletingTheLastInstrumentLeavesAnEmptyTreeThatCanGrowAgain) {
    alert_answer = 1;
    post("dins");
    EXPECT_TRUE(rows().isEmpty());
    post("aoff");  // nothing to play or show must not trip anything
    post("ains");
    EXPECT_EQ(rows(), QStringList({"None inst (001)", "  None sample"}));
}

TEST_F(MainWindowTest, RenamingThroughTheNameField) {
    select_row(1);
    win->name_field()->setText("Kick drum");
    post("cins");
    EXPECT_STREQ(t_sound[0]->name, "Kick drum");
    EXPECT_EQ(rows()[1], "  Kick drum");

    select_row(0);
    win->name_field()->setText("Drums");
    post("cins");
    EXPECT_EQ(rows()[0], "Drums");
    EXPECT_STREQ(inst_name(0), "Drums");
    EXPECT_STREQ(t_sound[0]->name, "Kick drum");  // an instrument's name lives in the tree
    // It stays with its instrument when others come and go.
    post("ains");
    EXPECT_EQ(rows()[0], "Drums");
}

TEST_F(MainWindowTest, DeletingOneOfSeveralSamplesRemovesItsOwnRowAndSelectsTheLastSound) {
    for (int doomed : {0, 1, 2}) {
        SCOPED_TRACE(doomed);
        alert_answer = 1;
        select_row(0);
        post("dins");  // start again from one new instrument
        post("ains");
        post("asam");
        post("asam");  // the instrument owns sounds 0, 1 and 2
        for (int s = 0; s < 3; ++s) {
            select_row(s + 1);
            win->name_field()->setText(QString("sound %1").arg(s));
            post("cins");
        }
        select_row(doomed + 1);
        alerts().clear();
        post("dsam");  // one of several: no alert, and the last sound is selected
        EXPECT_TRUE(alerts().empty());
        EXPECT_EQ(selected_row(), 2);
        ASSERT_EQ(int(nb_sound), 2);
        ASSERT_EQ(rows().size(), 3);
        for (int s = 0; s < 2; ++s) {
            EXPECT_EQ(rows()[s + 1], QString("  ") + t_sound[s]->name);
            EXPECT_NE(QString(t_sound[s]->name), QString("sound %1").arg(doomed));
        }
    }
}
