// The keyboard, lamps and overview of the main window.
#include "ui/main/keyboard.h"

#include <QEvent>

#include "core/sound.h"
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "support/uikit.h"
#include "ui/controls/my_check.h"
#include "ui/main/overview.h"
#include "ui/registry.h"

using uikit::MainWindowTest;
using uikit::mouse;
using uikit::pump;

TEST(Keyboard, MousePositionsMapToKeysAtTheEdges) {
    EXPECT_EQ(piatonote(10, 10), 0);
    EXPECT_EQ(piatonote(17, 30), 0);   // r = 7 is still C
    EXPECT_EQ(piatonote(18, 30), 1);   // r = 8 is C#
    EXPECT_EQ(piatonote(73, 30), 12);  // first pixel of octave 1
    EXPECT_EQ(piatonote(642, 30), 120);
    EXPECT_EQ(piatonote(643, 30), kNoKey);
    EXPECT_EQ(piatonote(100, 59), kNoKey);
    EXPECT_EQ(piatonote(9.5f, 30), kNoKey);
    EXPECT_EQ(piatonote(10 + 63 * 4 + 58, 20), 4 * 12 + 11);  // B of octave 4
}

TEST(Keyboard, KeysAbove119AreNeverPainted) {
    QImage canvas = keyboard_picture();
    const QImage before = canvas;
    affonenote(120, Qt::red, Qt::red, canvas, 0);
    EXPECT_EQ(canvas, before);
    affonenote(119, Qt::red, Qt::red, canvas, 0);
    EXPECT_NE(canvas, before);
}

class KeyboardWindowTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        // A second of a quiet tone in sound 0 at its own rate on key 1,
        // released over 1000 frames.
        p_s* s = testkit::make_sound16(testkit::sine16(440, 44100, 44100, 0.3), 44100, 1);
        s->rel_time = 1000;
        replace_sound(0, s);
        select_row(1);
    }
};

TEST_F(KeyboardWindowTest, PressPlaysTheKeyOnChannel0AndLightsItAndTheLamp) {
    auto* kb = win->keyboard();
    mouse(kb, QEvent::MouseMove, {18, 20});
    mouse(kb, QEvent::MouseButtonPress, {18, 20});
    EXPECT_EQ(active_voices(), 1);
    EXPECT_EQ(int(nlist[0].key), 1);
    EXPECT_EQ(int(nlist[0].channel), 0);
    EXPECT_FALSE(nlist[0].is_inst);
    pump(120);  // the notice reaches the window on its timer
    EXPECT_TRUE(win->led(0)->isChecked());
    EXPECT_FALSE(win->led(1)->isChecked());
    // C# of octave 0: its highlight starts at 8 + 10, rows 11..37, in channel 0's red.
    EXPECT_EQ(uikit::pixel(kb, 20, 20), 0xFF0000u);

    mouse(kb, QEvent::MouseButtonRelease, {18, 20});
    EXPECT_GE(nlist[0].release(), 256u);
    // Released but still sounding: the lamp stays on.
    testkit::render(256);
    pump(120);
    EXPECT_EQ(active_voices(), 1);
    EXPECT_TRUE(win->led(0)->isChecked());
    // Once the release has run out the voice ends and the lamp goes off.
    testkit::render(4096);
    pump(120);
    EXPECT_EQ(active_voices(), 0);
    EXPECT_FALSE(win->led(0)->isChecked());
    EXPECT_NE(kb->canvas().pixel(20, 20) & 0xFFFFFF, 0xFF0000u);
}

TEST_F(KeyboardWindowTest, InstrumentRowPlaysTheInstrument) {
    select_row(0);
    mouse(win->keyboard(), QEvent::MouseButtonPress, {73, 50});
    EXPECT_TRUE(nlist[0].is_inst);
    EXPECT_EQ(int(nlist[0].key), 12);
    mouse(win->keyboard(), QEvent::MouseButtonPress, {700, 50});  // off the keys
    EXPECT_EQ(active_voices(), 1);
}

TEST_F(KeyboardWindowTest, HoverLightsAKeyAndLeavingUnlightsIt) {
    auto* kb = win->keyboard();
    mouse(kb, QEvent::MouseMove, {75, 50});  // C of octave 1, lower part
    EXPECT_EQ(kb->hover_key(), 12);
    EXPECT_EQ(kb->canvas().pixel(75, 50) & 0xFFFFFF, 0x4696FFu);  // not a channel's colour
    mouse(kb, QEvent::MouseMove, {75, 65});                       // below the keys
    EXPECT_EQ(kb->hover_key(), kNoKey);
    EXPECT_EQ(kb->canvas().pixel(75, 50) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(KeyboardWindowTest, AllNoteOffCutsEveryVoiceAndDarkensTheLamps) {
    addnote(0, 60, 0, 100, false, 0, 0);
    addnote(3, 64, 0, 100, false, 0, 0);
    pump(120);
    EXPECT_TRUE(win->led(0)->isChecked());
    EXPECT_TRUE(win->led(3)->isChecked());
    post("aoff");
    EXPECT_EQ(active_voices(), 0);
    pump(120);
    for (int ch = 0; ch < 16; ++ch) EXPECT_FALSE(win->led(ch)->isChecked()) << ch;
}

TEST_F(KeyboardWindowTest, ClickingALampLeavesItOffAndShowsTheBubble) {
    win->led(5)->click();
    pump();
    EXPECT_FALSE(win->led(5)->isChecked());
    ASSERT_TRUE(helpwin);
    EXPECT_EQ(helpwin->size(), QSize(151, 16));
    QWidget* first = helpwin;
    win->led(5)->click();
    pump();
    EXPECT_NE(helpwin.data(), first);  // a second bubble
    pump(2300);
    EXPECT_TRUE(helpwin.isNull());  // gone after two seconds
}

TEST(Overview, FullScaleNegativeSampleReachesTheTopRow) {
    testkit::fresh_tables();
    std::vector<std::int16_t> v(1024, 0);
    v[0] = -32768;
    v[512] = 16384;  // frame 512 is column 256 when a column is every second frame
    p_s* s = testkit::make_sound16(v, 44100, 60);
    OverviewBits bits;
    build_overview(s, 1024, 0, false, bits);
    EXPECT_TRUE(overview_bit(bits, 0, 0));
    EXPECT_TRUE(overview_bit(bits, 0, 63));  // mirrored
    EXPECT_TRUE(overview_bit(bits, 256, 16));
    EXPECT_FALSE(overview_bit(bits, 256, 15));
    EXPECT_TRUE(overview_bit(bits, 300, 32));  // silence is the centre line alone
    EXPECT_FALSE(overview_bit(bits, 300, 31));
    delete s;
}

TEST(Overview, ShortSoundsRepeatFramesAndEmptyOrLoadingShowAFlatLine) {
    testkit::fresh_tables();
    std::vector<std::int16_t> v(256, 0);
    v[1] = 32767;  // frame 1 covers columns 2 and 3
    p_s* s = testkit::make_sound16(v, 44100, 60);
    OverviewBits bits;
    build_overview(s, 256, 0, false, bits);
    EXPECT_FALSE(overview_bit(bits, 1, 1));
    EXPECT_TRUE(overview_bit(bits, 2, 1));
    EXPECT_TRUE(overview_bit(bits, 3, 1));
    EXPECT_FALSE(overview_bit(bits, 4, 1));
    build_overview(s, 256, 0, true, bits);
    EXPECT_TRUE(overview_bit(bits, 2, 32));
    EXPECT_FALSE(overview_bit(bits, 2, 1));
    build_overview(nullptr, 0, 0, false, bits);
    for (int x = 0; x < kOverviewWidth; x += 37) EXPECT_TRUE(overview_bit(bits, x, 32));
    delete s;
}

TEST_F(MainWindowTest, OverviewOfTheSelectedSoundIsDrawnInBlackFromItsCorner) {
    std::vector<std::int16_t> v(2048, 0);
    v[0] = -32768;
    replace_sound(0, testkit::make_sound16(v, 44100, 60));
    select_row(1);
    EXPECT_EQ(win->overview()->length(), 2048u);
    EXPECT_EQ(uikit::pixel(win->overview(), 10, 10), 0x000000u);
    EXPECT_NE(uikit::pixel(win->overview(), 30, 10), 0x000000u);
    EXPECT_EQ(uikit::pixel(win->overview(), 30, 42), 0x000000u);  // centre line
}
