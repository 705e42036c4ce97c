// The channel window and the oscilloscope, driven through their messages.

#include "platform/midi_roster.h"
#include "support/uikit.h"
#include "ui/windows/ch_window.h"
#include "ui/windows/osc_window.h"

using uikit::MainWindowTest;

namespace {

constexpr BarRange kPitch{7, -8192, 8191};
constexpr BarRange kLevel{0, 0, 127};
constexpr BarRange kCentred{0, -64, 63};

class ChannelWindowTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        post("pach");
        ch = dynamic_cast<ChWindow*>(chwin.data());
        ASSERT_NE(ch, nullptr);
    }
    void TearDown() override {
        midi_roster = nullptr;
        MainWindowTest::TearDown();
    }
    void type(int bar, const QString& text, const char (&code)[5]) {
        ch->bar(bar)->field()->setText(text);
        uikit::send(ch, fourcc(code));
    }

    ChWindow* ch = nullptr;
    MyBMidiPort port;
};

}  // namespace

TEST(LevelBarRules, ShownValueTextAndTyping) {
    const std::tuple<BarRange, std::int32_t, const char*> shown[] = {
        // range, entry, text
        {kPitch, 0, "-064"}, {kPitch, 8192, "000"}, {kPitch, 16383, "063"}, {kLevel, 127, "127"},
        {kLevel, 5, "005"},  {kCentred, 64, "000"}, {kCentred, 0, "-064"}};
    for (const auto& [r, entry, text] : shown)
        EXPECT_EQ(bar_text(bar_shown(r, entry)), text) << entry;
    // Range, value typed, entry stored (-1: refused).
    const std::tuple<BarRange, int, std::int32_t> typed[] = {
        {kPitch, -64, 0},   {kPitch, 0, 8192}, {kPitch, 63, 16256}, {kPitch, 64, -1},
        {kPitch, -65, -1},  {kCentred, 0, 64}, {kCentred, -64, 0},  {kCentred, -70, -1},
        {kLevel, 127, 127}, {kLevel, 128, -1}, {kLevel, -1, -1}};
    for (const auto& [r, value, entry] : typed) {
        std::int32_t got = -1;
        EXPECT_EQ(bar_typed(r, value, got) ? got : -1, entry) << value;
    }
}

TEST(OscilloscopeRows, ScalingTruncationAndClamping) {
    const std::pair<float, int> rows[] = {{0.0f, 32},  {1.0f, 0},    {-1.0f, 63}, {0.02f, 32},
                                          {0.04f, 31}, {-0.04f, 33}, {5.0f, 0},   {-7.0f, 63}};
    for (const auto& [v, row] : rows) EXPECT_EQ(osc_row(v), row) << v;
}

// The scope shows what the render callback played (silence), not what the
// buffer held before; how silence is drawn is the oscilloscope window's test.
TEST(Oscilloscope, ShowsWhatTheRenderCallbackPlayedNotWhatTheBufferHeld) {
    testkit::fresh_tables();
    std::vector<float> buf(2 * 512, 0.7f);
    BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), raw_audio_format{});
    ScopeTrace t;
    ASSERT_TRUE(scope_read(t));
    ASSERT_EQ(t.frames, 128);
    EXPECT_EQ(testkit::peak({t.left, t.left + 128}) + testkit::peak({t.right, t.right + 128}),
              0.0f);
}

TEST_F(ChannelWindowTest, SelectBoxesActAsOneRadioGroupAndBarsFollowTheChannel) {
    ch_pitch[8] = 0, ch_main[8] = 100, ch_pan[8] = 0, ch_ctune[8] = 127, ch_lpf[8] = 90;
    ch_lpf[4] = 90;  // the LPF bar must still show channel 9's, not a stale one
    uikit::send(ch, fourcc("zu00") + 4);
    ch_lpf[8] = 33;
    uikit::send(ch, fourcc("zu00") + 8);
    for (int c = 0; c < 16; ++c) EXPECT_EQ(ch->select_box(c)->Value(), c == 8) << c;
    EXPECT_EQ(ch->selected(), 8);
    const char* texts[] = {"-064", "100", "-064", "063", "033"};
    for (int b = 0; b < ChWindow::kBars; ++b) EXPECT_EQ(ch->bar(b)->field()->text(), texts[b]);
    EXPECT_EQ(ch->bar(ChWindow::kMainBar)->bar()->value(), 100);

    // Typed values act within their range and leave the old one shown otherwise.
    type(ChWindow::kPitchBar, "63", "cpit");
    EXPECT_EQ(ch_pitch[8], 16256);
    type(ChWindow::kPitchBar, "64", "cpit");
    EXPECT_EQ(ch_pitch[8], 16256);
    EXPECT_EQ(ch->bar(ChWindow::kPitchBar)->field()->text(), "063");
    type(ChWindow::kPanBar, "0", "cpan");  // the other bars' ranges are the rules' test above
    EXPECT_EQ(ch_pan[8], 64);
}

TEST_F(ChannelWindowTest, PulseFollowsMidiAndFreezeGuardsOnlyProgramChanges) {
    post("ains");
    post("ains");  // instruments 0, 1 and 2
    ASSERT_EQ(int(nb_inst), 3);
    port.ProgramChange(0, 2);
    port.ControlChange(0, 7, 50);
    ch->Pulse();
    EXPECT_EQ(ch->inst_button()->text(), "Inst (002) :None inst (002)");
    EXPECT_EQ(ch->bar(ChWindow::kMainBar)->field()->text(), "050");

    uikit::send(ch, fourcc("fins"));
    EXPECT_TRUE(ch_instf[0]);
    pick(ch->inst_button(), 1);
    ASSERT_FALSE(popups.empty());
    EXPECT_EQ(popups.back(),
              QStringList({"None Inst (000)", "None inst (001)", "None inst (002)"}));
    EXPECT_EQ(ch_inst[0], 1);
    EXPECT_EQ(ch->inst_button()->text(), "Inst (001) :None inst (001)");

    uikit::send(ch, fourcc("mu00") + 3);
    EXPECT_TRUE(mute[3]);
    EXPECT_EQ(ch->mute_box(3)->Value(), 1);
    const bool play_selected = fmodei;
    uikit::send(ch, fourcc("Mins"));
    EXPECT_EQ(bool(fmodei), !play_selected);
}

TEST_F(ChannelWindowTest, MidiInputMenuListsTheSourcesPresentWhenItOpens) {
    uikit::TestRoster roster;
    midi_roster = &roster;
    // No source at start: the menu says so, and choosing its item does nothing.
    pick(ch->port_button(), 0);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups.back(), QStringList({"No MIDI source"}));
    uikit::pump();
    EXPECT_EQ(roster.id, 0u);
    EXPECT_TRUE(alerts().empty());
    // Sources plugged in later are listed the next time the menu opens,
    // while nothing is connected and while one is.
    roster.list = {{11, "Keys:out"}};
    pick(ch->port_button(), 0);
    EXPECT_EQ(popups.back(), QStringList({"Keys:out"}));
    uikit::pump();
    EXPECT_EQ(ch->port_button()->text(), "Keys:out");
    roster.list.push_back({22, "Pads:out"});
    pick(ch->port_button(), 1);
    ASSERT_EQ(popups.size(), 3u);
    EXPECT_EQ(popups.back(), QStringList({"Keys:out", "Pads:out"}));
    uikit::pump();
    EXPECT_EQ(roster.id, 22u);
    EXPECT_EQ(ch->port_button()->text(), "Pads:out");
    EXPECT_TRUE(alerts().empty());

    // The source chosen goes away between the menu and the connection.
    pick(ch->port_button(), 0);
    roster.list.erase(roster.list.begin());
    uikit::pump();
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].text, "Midi in not find !");
    EXPECT_EQ(alerts()[0].button, "Arg !");
    EXPECT_EQ(roster.id, 0u);
    EXPECT_EQ(ch->port_button()->text(), "");
}

TEST_F(ChannelWindowTest, OscilloscopeDrawsTheLastSnapshotAndOpensOnce) {
    post("sosc");
    auto* osc = dynamic_cast<OscWindow*>(oscwin.data());
    ASSERT_NE(osc, nullptr);
    post("sosc");
    EXPECT_EQ(oscwin.data(), osc);

    // Left at +1.0, right at -1.0 for the first 64 frames, then silence.
    std::vector<float> buf(2 * 256, 0.0f);
    for (int i = 0; i < 64; ++i) buf[2 * i] = 1.0f, buf[2 * i + 1] = -1.0f;
    scope_write(buf.data(), buf.size(), 2);
    osc->box()->Pulse();
    EXPECT_EQ(osc->left_image()[32 * kOscRowBytes + 15], 0xFF);  // silence: the middle row
    EXPECT_EQ(uikit::pixel(osc->box(), 15 + 3, 15 + 0), 0xFF0000u);
    EXPECT_EQ(uikit::pixel(osc->box(), 176 + 3, 15 + 63), 0xFF0000u);
}
