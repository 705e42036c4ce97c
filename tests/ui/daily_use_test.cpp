// The main window in daily use: menu texts, the file panels, the manual
// without a browser, tree focus, playing from the computer keyboard, recent
// files, loading in the background, and files handed over at start-up.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPushButton>

#include "io/instrument_file.h"
#include "support/uikit.h"
#include "ui/main/computer_keys.h"
#include "ui/main/recent_files.h"

using uikit::MainWindowTest;

namespace {

void send_key(QWidget* to, QEvent::Type type, int k, bool repeat = false) {
    QKeyEvent e(type, k, Qt::NoModifier, QString(), repeat);
    QApplication::sendEvent(to, &e);
}
void key(QWidget* to, QEvent::Type type, int k, bool repeat = false) {
    send_key(to, type, k, repeat);
    uikit::pump();
}
// Runs the event loop until `done` holds (a deferred action has run), failing
// after a generous while.
template <typename F>
void settle(F done) {
    for (int i = 0; i < 1000 && !done(); ++i) uikit::pump(5);
    EXPECT_TRUE(done());
}

const char* const kBank = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// A disk that holds files up (a network mount that stopped answering, a
// pipe nobody writes to): opening a file waits until the test lets it go,
// or until a watchdog does, so that a window stuck waiting for it fails the
// test instead of hanging it.
struct StuckDisk {
    std::mutex m;
    std::condition_variable cv;
    bool released = false;
    std::atomic<bool> watchdog_fired{false};
    void wait() {
        std::unique_lock lock(m);
        cv.wait(lock, [this] { return released; });
    }
    void release() {
        const std::lock_guard lock(m);
        released = true;
        cv.notify_all();
    }
    void watch(std::chrono::seconds limit) {
        std::unique_lock lock(m);
        if (cv.wait_for(lock, limit, [this] { return released; })) return;
        watchdog_fired = true;
        released = true;
        cv.notify_all();
    }
};

}  // namespace

class DailyUse : public MainWindowTest {
  protected:
    // A wav in the test folder, loaded into the selected slot.
    QString load_wav(const QString& name) {
        open_paths({write_wav(name)});
        return dir.filePath(name);
    }
    // Opens `path` from a stuck disk: the window does not wait for it, and
    // nothing changes while it loads, not even when asked to; then the disk
    // answers, and a cancelled load leaves everything as it was.
    void stuck_load(const QString& path, bool cancel) {
        SCOPED_TRACE(path.toStdString() + (cancel ? " cancelled" : ""));
        const QStringList rows_before = rows();
        const testkit::TableSnapshot before = testkit::TableSnapshot::take();
        auto disk = std::make_shared<StuckDisk>();
        services->set_opener([disk](const std::string& p) -> std::unique_ptr<InputBytes> {
            disk->wait();
            auto file = std::make_unique<FileInput>(p.c_str());
            if (!file->ok()) return nullptr;
            return file;
        });
        std::jthread watchdog([disk] { disk->watch(std::chrono::seconds(20)); });
        start_open({path});
        ASSERT_FALSE(disk->watchdog_fired) << "the window waited for the stuck file";
        ASSERT_TRUE(win->loading());
        EXPECT_TRUE(win->progress()->isVisible());
        EXPECT_TRUE(win->progress_label()->text().contains(QFileInfo(path).fileName()));
        auto* stop = win->progress()->findChild<QPushButton*>();
        ASSERT_TRUE(stop && stop->isVisible());
        post("ains");  // refused while the tables are about to change
        EXPECT_EQ(alerts().size(), 1u);
        alerts().clear();
        EXPECT_EQ(rows(), rows_before);
        testkit::expect_unchanged(before);
        if (cancel) stop->click();
        EXPECT_EQ(win->loading(), !cancel);
        EXPECT_EQ(win->progress()->isVisible(), !cancel);
        disk->release();
        finish_loads();
        for (int i = 0; i < 4000 && services->dropping(); ++i) uikit::pump(5);
        EXPECT_FALSE(services->dropping());
        EXPECT_FALSE(win->progress()->isVisible());
        if (!cancel) return;
        EXPECT_EQ(rows(), rows_before);
        testkit::expect_unchanged(before);
    }
};

TEST_F(DailyUse, MenuItemsShowTheirAmpersandsAndPanelsOpenEmptyInTheFolderOfTheLastFile) {
    QStringList shown;
    for (QAction* m : win->menu_bar()->actions())
        if (m->text() == "Instrument")
            for (QAction* a : m->menu()->actions()) shown << a->iconText();
    EXPECT_TRUE(shown.contains("Add & Load sub Sample")) << shown.join('|').toStdString();
    EXPECT_TRUE(shown.contains("Add & Load Instrument"));
    post("opes");
    ASSERT_TRUE(win->open_panel());
    EXPECT_EQ(win->open_panel()->directory(), QDir(QDir::homePath()));
    select_row(1);
    const QString path = load_wav("first.wav");
    win->open_panel()->selectFile(path);
    win->open_panel()->reject();
    uikit::pump();
    for (const bool open : {true, false}) {
        const char* code = open ? "opes" : "sait";
        post(open ? "opes" : "sait");
        QFileDialog* panel = open ? win->open_panel() : win->save_panel();
        ASSERT_TRUE(panel);
        EXPECT_EQ(panel->directory(), QDir(dir.path())) << code;
        auto* name = panel->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_TRUE(name);
        EXPECT_TRUE(name->text().isEmpty()) << code;
        panel->reject();
    }
}

TEST_F(DailyUse, DocumentationWithoutABrowserSaysWhereTheManualIs) {
    const QByteArray path = qgetenv("PATH"), browser = qgetenv("BROWSER");
    qputenv("PATH", dir.path().toUtf8());
    qunsetenv("BROWSER");
    post("wmed");
    qputenv("PATH", path);
    if (!browser.isEmpty()) qputenv("BROWSER", browser);
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_NE(alerts()[0].text.find("doc/index.htm"), std::string::npos);
}

TEST_F(DailyUse, TheTreeKeepsTheFocusAndArrowKeysSelectLikeClicks) {
    post("asam");
    post("ains");  // rows: inst 0, sound 0, sound 1, inst 1, sound 2
    auto* tree = win->tree();
    const QRect r = tree->visualItemRect(tree->item_at_full_row(1));
    uikit::mouse(tree->viewport(), QEvent::MouseButtonPress, r.center());
    uikit::mouse(tree->viewport(), QEvent::MouseButtonRelease, r.center());
    uikit::pump();
    EXPECT_EQ(int(no_s), 0);
    EXPECT_EQ(win->focusWidget(), tree);
    key(tree, QEvent::KeyPress, Qt::Key_Down);
    EXPECT_EQ(int(no_s), 1);
    EXPECT_FALSE(Finst);
    key(tree, QEvent::KeyPress, Qt::Key_End);
    EXPECT_EQ(int(no_s), 2);
    key(tree, QEvent::KeyPress, Qt::Key_Home);
    EXPECT_EQ(int(no_s), 0);
    EXPECT_TRUE(Finst);
    EXPECT_EQ(win->focusWidget(), tree);
    // The name field gives its typing focus back when a row is chosen.
    win->name_field()->setFocus();
    select_row(2);
    EXPECT_NE(win->focusWidget(), win->name_field());
}

TEST_F(DailyUse, ComputerKeysPlayAndReleaseTheSelectedSound) {
    replace_sound(0, testkit::make_sound16(testkit::sine16(440, 44100, 44100), 44100, 60));
    select_row(1);
    auto* tree = win->tree();
    key(tree, QEvent::KeyPress, Qt::Key_Z);
    key(tree, QEvent::KeyPress, Qt::Key_Z, true);  // key repeat starts nothing
    ASSERT_EQ(active_voices(), 1);
    const NOTE_LIST& v = nlist[0];
    EXPECT_EQ(std::tuple(+v.key, +v.velocity, +v.channel, +v.index, v.release()),
              std::tuple(48u, 100u, 0u, 0u, 0u));
    // An X server without detectable auto-repeat sends a release and a press,
    // both plain, for every repeat: held through them, the key plays one note.
    for (int i = 0; i < 20; ++i) {
        send_key(tree, QEvent::KeyRelease, Qt::Key_Z);
        send_key(tree, QEvent::KeyPress, Qt::Key_Z);
        uikit::pump();
    }
    EXPECT_EQ(active_voices(), 1);
    EXPECT_LT(nlist[0].release(), 256u);
    // Comma plays the same C an octave up as Q: held together, one note.
    key(tree, QEvent::KeyPress, Qt::Key_Comma);
    key(tree, QEvent::KeyPress, Qt::Key_Q);
    EXPECT_EQ(active_voices(), 2);
    key(tree, QEvent::KeyRelease, Qt::Key_Comma);
    key(tree, QEvent::KeyRelease, Qt::Key_Z);
    settle([] { return nlist[0].release() >= 256; });  // the real release, a moment later
    EXPECT_LT(nlist[1].release(), 256u);               // Q still holds its C
    key(tree, QEvent::KeyRelease, Qt::Key_Q);
    settle([] { return nlist[1].release() >= 256; });
    // An octave up, then the digit row's first black key: C#4 = 73.
    key(tree, QEvent::KeyPress, Qt::Key_Equal);
    key(tree, QEvent::KeyPress, Qt::Key_2);
    EXPECT_EQ(active_voices(), 3);  // the two released ones still sound
    EXPECT_EQ(int(nlist[2].key), 73);
    key(tree, QEvent::KeyRelease, Qt::Key_2);
    EXPECT_EQ(win->computer_keys()->base(), 60);
    // Typing a name plays nothing.
    win->name_field()->setFocus();
    QKeyEvent x(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x");
    QApplication::sendEvent(win->name_field(), &x);
    EXPECT_EQ(active_voices(), 3);
    EXPECT_EQ(computer_key_note(Qt::Key_M), 11);
    EXPECT_EQ(computer_key_note(Qt::Key_F), -1);
}

TEST_F(DailyUse, RecentFilesAreKeptNewestFirstAndMissingOnesLeaveWithAMessage) {
    select_row(1);
    const QString a = load_wav("a.wav");
    const QString b = load_wav("b.wav");
    load_wav("a.wav");
    EXPECT_EQ(recent_files(), QStringList({a, b}));
    // A new run of the window finds them again.
    win = std::make_unique<MyWindow>(*services);
    emit win->recent_menu()->aboutToShow();
    QList<QAction*> items = win->recent_menu()->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_TRUE(items[0]->text().startsWith("a.wav"));
    QFile::remove(b);
    items[1]->trigger();
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_NE(alerts()[0].text.find(b.toStdString()), std::string::npos);
    EXPECT_EQ(recent_files(), QStringList({a}));
    for (int i = 0; i < kRecentFiles + 2; ++i) add_recent_file(dir.filePath(QString::number(i)));
    EXPECT_EQ(recent_files().size(), kRecentFiles);
}

TEST_F(DailyUse, BackgroundLoadsCanBeCancelledAndAFinishedOneGoesInWhole) {
    select_row(1);
    load_wav("one.wav");
    post("asam");
    load_wav("two.wav");
    const QString it = dir.filePath("pair.it");
    ASSERT_TRUE(saveinst(it.toUtf8().constData()));
    post("ains");
    MyWindow::set_background_from(0);
    stuck_load(it, true);
    stuck_load(it, false);
    EXPECT_EQ(inst_count(1), 2);
    ASSERT_NE(t_sound[2]->data, nullptr);
    EXPECT_EQ(int(t_sound[3]->size), 6000);
    EXPECT_EQ(rows().size(), 6);
    EXPECT_EQ(recent_files().first(), it);
    // A bank: one row per instrument, each with one row per sound.
    if (!QFile::exists(kBank)) GTEST_SKIP() << "no bank installed";
    stuck_load(kBank, true);
    stuck_load(kBank, false);
    ASSERT_GT(int(nb_inst), 100);
    ASSERT_EQ(win->tree()->topLevelItemCount(), int(nb_inst));
    for (int k = 0; k < nb_inst; ++k)
        EXPECT_EQ(win->tree()->topLevelItem(k)->childCount(), inst_count(k)) << k;
    EXPECT_TRUE(alerts().empty());
}

TEST_F(DailyUse, ASmallFileOnAStuckDiskShowsItsProgressAndCancelLeavesEverythingAsItWas) {
    select_row(1);
    stuck_load(write_wav("stuck.wav"), true);  // far below the size that shows progress at once
    EXPECT_TRUE(recent_files().isEmpty());
}

TEST_F(DailyUse, FilesHandedOverAtStartUpOpenOneAfterTheOther) {
    const QString bank = kBank;
    if (!QFile::exists(bank)) GTEST_SKIP() << "no bank installed";
    select_row(1);
    const QString wav = write_wav("first.wav");
    MyWindow::set_background_from(1 << 20);                  // the bank shows its progress
    win->open_files({wav, dir.filePath("gone.wav"), bank});  // a missing file is passed over
    for (int i = 0; i < 1000 && recent_files().size() < 2; ++i) uikit::pump(5);
    EXPECT_EQ(recent_files(), QStringList({bank, wav}));
    EXPECT_GT(int(nb_inst), 100);
    EXPECT_EQ(win->tree()->topLevelItemCount(), int(nb_inst));
    EXPECT_TRUE(alerts().empty());
}
