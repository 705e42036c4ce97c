#include "support/uikit.h"

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QSettings>
#include <QStandardPaths>

#include "ui/alert.h"

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

void mouse(QWidget* w, int type, QPoint at, bool button_held, Qt::MouseButton button,
           Qt::MouseButtons held) {
    const auto t = static_cast<QEvent::Type>(type);
    if (t == QEvent::MouseButtonPress || button_held) held |= button;
    QMouseEvent e(t, QPointF(at), QPointF(w->mapToGlobal(at)),
                  t == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void send(QObject* to, const Message& m) {
    post_message(to, m);
    pump();
}

unsigned pixel(QWidget* w, int x, int y) {
    return w->grab().toImage().pixel(x, y) & 0xFFFFFF;
}

void MainWindowTest::SetUp() {
    EngineTest::SetUp();
    set_alert_function(
        [this](const QString& text, const QStringList& buttons, int, const QString& details) {
            alerts().push_back(
                {text.toStdString(), buttons.join("|").toStdString(), details.toStdString()});
            return alert_answer;
        });
    set_popup_function([this](const QStringList& items, QPoint) {
        popups.push_back(items);
        return popup_answer;
    });
    // Settings go to this test's own folder (tests run side by side), start
    // empty, and every file is small enough to be waited for a moment.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "plexora", "plexora").clear();
    MyWindow::set_background_from(std::numeric_limits<qint64>::max());
    services = std::make_unique<EngineServices>(EngineServicesOptions{false, false, false});
    win = std::make_unique<MyWindow>(*services);
    win->show();
    pump();
}

void MainWindowTest::TearDown() {
    // The windows a test opened go before the main window.
    for (const auto& w : samwin) delete w.data();
    samwin.clear();
    for (QPointer<MyBWindow> w : {chwin, edwin, valwin, oscwin}) delete w.data();
    win.reset();
    services.reset();
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
    send(win.get(), m);
}

void MainWindowTest::start_open(const QStringList& paths) {
    post(Message(fourcc("_RRC")).add("refs", paths));
}

void MainWindowTest::open_paths(const QStringList& paths) {
    start_open(paths);
    finish_loads();
}

void MainWindowTest::finish_loads() {
    for (int i = 0; i < 4000 && win->loading(); ++i) pump(5);
    EXPECT_FALSE(win->loading()) << "a load did not end";
}

QString MainWindowTest::write_wav(const QString& leaf, int frames) {
    const QString path = dir.filePath(leaf);
    EXPECT_TRUE(files::write_sound(path.toStdString(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100,
                                   testkit::sine16(350, 44100, std::uint32_t(frames), 0.4)));
    return path;
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

void MainWindowTest::select_sound(int s) {
    win->select_sound(s);
    pump();
}

void MainWindowTest::pick(QWidget* w, int answer) {
    popup_answer = answer;
    mouse(w, QEvent::MouseButtonPress, {5, 5});
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
