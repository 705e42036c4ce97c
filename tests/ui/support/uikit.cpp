#include "support/uikit.h"

#include <sndfile.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QSettings>
#include <QStandardPaths>
#include <limits>

#include "core/reclaim.h"
#include "ui/alert.h"
#include "ui/main/sound_tree.h"

namespace uikit {

void pump(int ms) {
    QElapsedTimer t;
    t.start();
    do {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    } while (t.elapsed() < ms);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

void mouse(QWidget* w, int type, QPoint at, bool button_held) {
    const QPointF local(at);
    const QPointF global(w->mapToGlobal(at));
    const auto t = static_cast<QEvent::Type>(type);
    const Qt::MouseButton button = t == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    Qt::MouseButtons buttons =
        (t == QEvent::MouseButtonPress || button_held) ? Qt::LeftButton : Qt::NoButton;
    QMouseEvent e(t, local, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

unsigned pixel(QWidget* w, int x, int y) {
    const QImage img = w->grab().toImage();
    return img.pixel(x, y) & 0xFFFFFF;
}

void write_wav(const std::string& path, const std::vector<short>& samples) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_write_short(f, samples.data(), sf_count_t(samples.size()));
    sf_close(f);
}

void MainWindowTest::SetUp() {
    EngineTest::SetUp();
    set_alert_function([this](const QString& text, const QStringList&, int) {
        alerts << text;
        return alert_answer;
    });
    set_popup_function([this](const QStringList& items, QPoint) {
        popups.push_back(items);
        return popup_answer;
    });
    // Settings go to a test folder, start empty, and files load at once.
    QStandardPaths::setTestModeEnabled(true);
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "plexora", "plexora").clear();
    MyWindow::set_loader({}, std::numeric_limits<qint64>::max());
    win = std::make_unique<MyWindow>(MainWindowOptions{false, false});
    win->show();
    pump();
}

void MainWindowTest::TearDown() {
    win.reset();
    pump();
    set_alert_function({});
    set_popup_function({});
    reclaim::reclaim_all();
    EngineTest::TearDown();
}

void MainWindowTest::post(const char (&code)[5]) {
    post(Message(fourcc(code)));
}

void MainWindowTest::post(const Message& m) {
    post_message(win.get(), m);
    pump();
}

QStringList MainWindowTest::rows() const {
    QStringList out;
    auto* tree = win->tree();
    for (int k = 0; k < tree->topLevelItemCount(); ++k) {
        out << tree->topLevelItem(k)->text(0);
        for (int j = 0; j < tree->topLevelItem(k)->childCount(); ++j)
            out << "  " + tree->topLevelItem(k)->child(j)->text(0);
    }
    return out;
}

void MainWindowTest::select_row(int row) {
    win->tree()->setCurrentItem(win->tree()->item_at_full_row(row));
    pump();
}

int MainWindowTest::selected_row() const {
    return win->tree()->full_row(win->tree()->selected());
}

}  // namespace uikit

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
