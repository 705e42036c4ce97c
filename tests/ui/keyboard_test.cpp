// The keyboard, lamps and overview of the main window.
#include "ui/main/keyboard.h"

#include "support/uikit.h"
#include "ui/main/overview.h"

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
    EXPECT_EQ(std::tuple(+nlist[0].key, +nlist[0].channel, +nlist[0].is_inst),
              std::tuple(1u, 0u, 0));
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

TEST_F(KeyboardWindowTest, HoverPicksAKeyAndTheInstrumentRowPlaysTheInstrument) {
    auto* kb = win->keyboard();
    mouse(kb, QEvent::MouseMove, {75, 50});  // C of octave 1, lower part
    EXPECT_EQ(kb->hover_key(), 12);          // lit by the call the press test sees drawing
    mouse(kb, QEvent::MouseMove, {75, 65});  // below the keys
    EXPECT_EQ(kb->hover_key(), kNoKey);
    select_row(0);
    mouse(kb, QEvent::MouseButtonPress, {73, 50});
    EXPECT_TRUE(nlist[0].is_inst);
    EXPECT_EQ(int(nlist[0].key), 12);
    mouse(kb, QEvent::MouseButtonPress, {700, 50});  // off the keys
    EXPECT_EQ(active_voices(), 1);
}

TEST_F(KeyboardWindowTest, AllNoteOffDarkensTheLampsAndClickingALampLeavesItOffAndShowsTheBubble) {
    addnote(0, 60, 0, 100, false, 0, 0);
    addnote(3, 64, 0, 100, false, 0, 0);
    pump(120);
    EXPECT_TRUE(win->led(0)->isChecked());
    EXPECT_TRUE(win->led(3)->isChecked());
    // The voices fade out as the next buffers play them; with nothing
    // rendering them, pressed again it ends them at once.
    post("aoff");
    EXPECT_EQ(active_voices(), 2);
    post("aoff");
    EXPECT_EQ(active_voices(), 0);
    pump(120);
    for (int ch = 0; ch < 16; ++ch) EXPECT_FALSE(win->led(ch)->isChecked()) << ch;
    uikit::click(win->led(5));
    EXPECT_FALSE(win->led(5)->isChecked());
    EXPECT_TRUE(helpwin);
}

TEST(Overview, FullScaleReachesTheEdgesShortSoundsRepeatFramesAndEmptyShowsAFlatLine) {
    testkit::fresh_tables();
    // 1024 frames: a column every second frame, the picture mirrored.
    std::vector<std::int16_t> v(1024, 0);
    v[0] = -32768;
    v[512] = 16384;
    std::unique_ptr<p_s> s(testkit::make_sound16(v, 44100, 60));
    OverviewBits bits;
    build_overview(s.get(), 1024, 0, false, bits);
    using Bit = std::tuple<int, int, bool>;  // column, row, set
    const auto expect_bits = [&](std::initializer_list<Bit> want) {
        for (const auto& [x, y, on] : want)
            EXPECT_EQ(overview_bit(bits, x, y), on) << x << "," << y;
    };
    expect_bits({{0, 0, true},
                 {0, 63, true},
                 {256, 16, true},
                 {256, 15, false},
                 {300, 32, true},
                 {300, 31, false}});
    // 256 frames: frame 1 covers columns 2 and 3; while loading, a flat line.
    v.assign(256, 0);
    v[1] = 32767;
    s.reset(testkit::make_sound16(v, 44100, 60));
    build_overview(s.get(), 256, 0, false, bits);
    expect_bits({{1, 1, false}, {2, 1, true}, {3, 1, true}, {4, 1, false}});
    build_overview(s.get(), 256, 0, true, bits);
    expect_bits({{2, 32, true}, {2, 1, false}});
    build_overview(nullptr, 0, 0, false, bits);
    for (int x = 0; x < kOverviewWidth; x += 37) EXPECT_TRUE(overview_bit(bits, x, 32));
}

// Which columns are inked is the Overview test's; here the window draws them.
TEST_F(MainWindowTest, OverviewOfTheSelectedSoundIsDrawnInBlackFromItsCorner) {
    std::vector<std::int16_t> v(2048, 0);
    v[0] = -32768;
    replace_sound(0, testkit::make_sound16(v, 44100, 60));
    select_row(1);
    EXPECT_EQ(win->overview()->length(), 2048u);
    EXPECT_EQ(uikit::pixel(win->overview(), 10, 10), 0x000000u);
}
