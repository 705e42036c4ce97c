// The shared controls, codes the main window does not know, and the splash.

#include <QScreen>
#include <QWindow>

#include "support/uikit.h"
#include "ui/alert.h"
#include "ui/windows/about_window.h"

using uikit::MainWindowTest;

TEST(Controls, SourceMenuStoresTheChoiceAndTheLabelNamesIt) {
    testkit::fresh_tables();
    QWidget parent;
    MyBStringView* label = boutonombre(2, QRect(0, 0, 90, 20), "Panoramic", &parent);
    QStringList shown;
    auto old = set_popup_function([&](const QStringList& items, QPoint) {
        shown = items;
        return 3;  // "Coarse tune Midi msg"
    });
    uikit::mouse(label, QEvent::MouseButtonPress, {4, 4});
    EXPECT_EQ(shown[3], "Coarse tune Midi msg");
    EXPECT_EQ(int(midimess_to_func[2]), 3);
    EXPECT_EQ(label->Text(), "Coarse tune");
    set_popup_function([](const QStringList&, QPoint) { return -1; });
    uikit::mouse(label, QEvent::MouseButtonPress, {4, 4});
    EXPECT_EQ(int(midimess_to_func[2]), 3);  // dismissing changes nothing
    set_popup_function(old);
    testkit::fresh_tables();
}

TEST(Controls, ButtonsPostTheirCodeAndCheckBoxesGoWithTheirOwner) {
    struct Sink : MyBWindow {
        std::vector<std::uint32_t> got;
        void MessageReceived(const Message& m) override { got.push_back(m.what); }
    } sink;
    MyBButton b(36, QRect(0, 0, 100, 16), "All Note-Off", fourcc("aoff"), &sink, &sink);
    uikit::click(&b);
    ASSERT_EQ(sink.got, std::vector<std::uint32_t>{fourcc("aoff")});
    QPointer<LampButton> lamp;
    {
        mycheck box(QRect(0, 20, 60, 16), "On", fourcc("aron"), &sink, &sink);
        lamp = box.lamp();
        uikit::click(box.lamp());
        EXPECT_EQ(box.Value(), 1);
        EXPECT_EQ(sink.got.back(), fourcc("aron"));
    }
    EXPECT_TRUE(lamp.isNull());
}

TEST_F(MainWindowTest, UnknownCodesReachTheWindowAndChangeNothing) {
    // Records the messages that reach the window, so that nothing changing
    // cannot come from a message that never arrived.
    struct Seen : QObject {
        std::vector<std::uint32_t> codes;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == MessageEvent::type())
                codes.push_back(static_cast<MessageEvent*>(e)->message.what);
            return false;
        }
    } seen;
    const auto shown = [] {
        QWidgetList v;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) v << w;
        return v;
    };
    const QStringList rows_before = rows();
    const testkit::TableSnapshot before = testkit::TableSnapshot::take();
    const int row = selected_row();
    const QWidgetList windows = shown();
    // Near misses too: a known code in capitals, and the codes on either side
    // of the sixteen lamp codes.
    const std::vector<std::uint32_t> codes = {fourcc("zzzz"), fourcc("AINS"), fourcc("ri00") - 1,
                                              fourcc("ri00") + 16};
    win->installEventFilter(&seen);
    for (const std::uint32_t code : codes) post(Message(code));
    win->removeEventFilter(&seen);
    EXPECT_EQ(seen.codes, codes);
    EXPECT_EQ(rows(), rows_before);
    testkit::expect_unchanged(before);
    EXPECT_EQ(selected_row(), row);
    EXPECT_EQ(shown(), windows);
    EXPECT_TRUE(helpwin.isNull());
    EXPECT_TRUE(alerts().empty());
}

TEST(Splash, ShowsItsPictureFromItsFirstFrame) {
    // What the window system holds for the splash the moment it is first
    // exposed, before the splash has had any chance to paint.
    struct FirstFrame : QObject {
        QImage shot;
        bool eventFilter(QObject* o, QEvent* e) override {
            auto* w = qobject_cast<QWindow*>(o);
            if (e->type() == QEvent::Expose && w && w->isExposed() && shot.isNull())
                shot = w->screen()->grabWindow(w->winId()).toImage();
            return false;
        }
    } first;
    qApp->installEventFilter(&first);
    ABWindow* splash = open_splash();
    uikit::pump();
    qApp->removeEventFilter(&first);
    ASSERT_NE(splash, nullptr);
    const QImage drawn = splash->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(first.shot.isNull());
    const QImage shot = first.shot.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), drawn.size());
    int differ = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) differ += shot.pixel(x, y) != drawn.pixel(x, y);
    EXPECT_EQ(differ, 0) << "of " << shot.width() * shot.height() << " pixels";
    delete splash;
}
