// The envelope editor: picking and dragging points, presets, the curve
// selector and the "On" box, driven through the real main window.

#include "support/uikit.h"
#include "ui/main/envelope_editor.h"

using uikit::mouse;

class EnvelopeTest : public uikit::MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        select_row(1);
        sound = t_sound[0];
    }
    // Hovers at `from_x`, which picks a point, then presses at (x, y).
    void drag(int from_x, int x, int y) {
        mouse(win->envelope(), QEvent::MouseMove, {from_x, 100});
        mouse(win->envelope(), QEvent::MouseButtonPress, {x, y});
    }
    int time(int point, int curve) const { return sound->env[point][curve] >> 8; }
    int level(int point, int curve) const { return sound->env[point][curve] & 0xFF; }
    // "time/level" of a point.
    std::string at(int point, int curve) const {
        return std::to_string(time(point, curve)) + "/" + std::to_string(level(point, curve));
    }
    void choose_curve(int k) { pick(win->curve_selector(), k); }
    p_s* sound = nullptr;
};

TEST(EnvelopeMapping, MouseToTimeAndLevelIsClamped) {
    for (auto [y, level] : {std::pair{12, 128}, {0, 128}, {172, 0}, {190, 0}})
        EXPECT_EQ(env_level_at(y), level) << y;
    for (auto [x, time] : {std::pair{10, 0}, {3, 0}, {281, 255}})
        EXPECT_EQ(env_time_at(x), time) << x;
    EXPECT_EQ(env_x(255), 280);
    const int xs[5] = {10, 78, 146, 214, 280};
    EXPECT_EQ(env_pick(xs, 9), 0xFFFF);
    EXPECT_EQ(env_pick(xs, 281), 0xFFFF);
    EXPECT_EQ(env_pick(xs, 43), 0);
    EXPECT_EQ(env_pick(xs, 44), 1);
}

TEST_F(EnvelopeTest, OnlyAPickedPointMovesAndEndPointsKeepTheirTimes) {
    std::uint16_t before[5];
    for (int p = 0; p < 5; ++p) before[p] = sound->env[p][0];
    drag(5, 5, 20);  // outside the points (both sides are the mapping's test)
    EXPECT_EQ(old_sel, 0xFFFF);
    for (int p = 0; p < 5; ++p) EXPECT_EQ(sound->env[p][0], before[p]);
    drag(12, 200, 12);  // point 0, dragged right and to the top
    EXPECT_EQ(at(0, 0), "0/128");
    drag(278, 150, 172);  // point 4, dragged left and to the bottom
    EXPECT_EQ(at(4, 0), "255/0");
    // A dragged point is drawn where it went.
    drag(env_x(128), env_x(128), env_y(100));
    const QImage& c = win->envelope()->canvas();
    EXPECT_EQ(c.pixel(env_x(128), env_y(100)) & 0xFFFFFF, 0xFFFF00u);  // selected: yellow
}

TEST_F(EnvelopeTest, VelocityCurveLinksPoints2And3OtherCurvesDoNot) {
    drag(env_x(128), env_x(96), env_y(40));
    EXPECT_EQ(at(2, 0), "96/40");
    EXPECT_EQ(at(3, 0), "192/40");
    drag(env_x(192), env_x(200), env_y(100));
    EXPECT_EQ(level(2, 0), 100);

    choose_curve(2);
    drag(env_x(128), env_x(128), env_y(8));
    EXPECT_EQ(level(2, 2), 8);
    EXPECT_EQ(level(3, 2), 64);
    // A middle point may pass its neighbour.
    drag(env_x(64), env_x(224), env_y(64));
    EXPECT_EQ(time(1, 2), 224);
}

TEST_F(EnvelopeTest, CurveSelectorLabelsAndStoresTheCurveAndInverseTwiceRestoresIt) {
    const char* labels[] = {"Velocity", "Start Sound", "Panoramic", "Coarse tune", "Velocity Off"};
    for (int k = 4; k >= 0; --k) {
        choose_curve(k);
        EXPECT_EQ(no_courbe, k);
        EXPECT_EQ(win->curve_selector()->Text(), labels[k]);
    }
    EXPECT_EQ(popups.back(),
              QStringList({"Velocity", "Start Sound", "Panoramic", "Coarse tune", "Velocity off"}));
    choose_curve(-1);  // dismissed
    EXPECT_EQ(no_courbe, 0);
    choose_curve(2);
    pick(win->options_button(), 3);  // "Left to Right"
    EXPECT_EQ(popups.back()[3], "Left to Right");
    EXPECT_EQ(level(0, 2), 128);
    EXPECT_EQ(level(4, 2), 0);
    std::uint16_t before[5];
    for (int p = 0; p < 5; ++p) before[p] = sound->env[p][2];
    pick(win->options_button(), 4);  // "Inverse"
    EXPECT_EQ(level(0, 2), 0);
    EXPECT_EQ(at(1, 2), "64/32");
    mouse(win->options_button(), QEvent::MouseButtonPress, {5, 5});
    for (int p = 0; p < 5; ++p) EXPECT_EQ(sound->env[p][2], before[p]);
}

TEST_F(EnvelopeTest, OptionsButtonAndOnBoxFollowTheShownCurve) {
    // "Start Sound" has no presets, the release curve a plain button.
    choose_curve(1);
    popups.clear();
    mouse(win->options_button(), QEvent::MouseButtonPress, {5, 5});
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_TRUE(popups[0].isEmpty());
    choose_curve(4);
    popups.clear();
    mouse(win->options_button(), QEvent::MouseButtonPress, {5, 5});
    mouse(win->options_button(), QEvent::MouseButtonRelease, {5, 5});
    EXPECT_TRUE(popups.empty());
    choose_curve(0);
    ASSERT_EQ(int(sound->flags), 16);
    uikit::click(win->curve_check()->lamp());  // curve 0 on
    EXPECT_EQ(int(sound->flags), 17);
    uikit::click(win->curve_check()->lamp());  // and off again
    EXPECT_EQ(int(sound->flags), 16);
    choose_curve(4);
    EXPECT_EQ(win->curve_check()->Value(), 1);  // the box follows the shown curve
}
