// Sessions through the main window: the File menu, the title's mark, the
// question before quitting, opening from "Open Recent", refusals, and the
// recovery file of a run that was killed.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenuBar>
#include <QProcess>
#include <QProgressDialog>

#include "core/instruments.h"
#include "engine/channels.h"
#include "io/load.h"
#include "io/loadi.h"
#include "support/file_builders.h"
#include "support/uikit.h"
#include "ui/main/recent_files.h"

using namespace uikit;

namespace {

class SessionWindowTest : public MainWindowTest {
  protected:
    QStringList file_menu() const {
        QStringList out;
        for (QAction* a : win->menu_bar()->actions().first()->menu()->actions()) out << a->text();
        return out;
    }
    // The set-up the windows show and the engine plays.
    std::string setup() const {
        std::string s = rows().join("/").toStdString() + "|" + std::to_string(ch_main[0]) + "," +
                        std::to_string(mute[3]) + "," + std::to_string(ch_inst[1]);
        for (int i = 0; i < nb_sound; ++i)
            if (t_sound[i]) s += "|" + testkit::describe(t_sound[i]);
        return s;
    }
};

TEST_F(SessionWindowTest, SavedFromTheMenuMarkedWhileChangedAndOpenedAgainFromRecent) {
    for (const char* item : {"Open Session...", "Save Session", "Save Session As..."})
        EXPECT_TRUE(file_menu().contains(item)) << item;
    EXPECT_FALSE(win->isWindowModified());
    open_paths({write_wav("tone.wav")});
    post("ains");
    ch_main[0] = 90;
    mute[3] = true;
    ch_inst[1] = 1;
    win->watch_session();
    EXPECT_TRUE(win->isWindowModified());

    // The first "Save Session" asks where, through the session panel.
    post("sass");
    ASSERT_TRUE(win->session_panel());
    const QString path = dir.filePath("evening");
    emit win->session_panel()->fileSelected(path);
    pump();
    EXPECT_EQ(win->session_path(), path + ".pxsession");
    EXPECT_TRUE(win->windowTitle().contains("evening.pxsession"))
        << win->windowTitle().toStdString();
    EXPECT_FALSE(win->isWindowModified());
    EXPECT_EQ(recent_files().first(), path + ".pxsession");
    const std::string saved = setup();
    const auto manifest = [](const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.read(4096) : QByteArray();
    };
    EXPECT_TRUE(manifest(path + ".pxsession").contains("from_file.path="));
    // "Copy sample files into the session": the sample stored whole, and the
    // choice remembered.
    post("sasa");
    ASSERT_TRUE(win->session_panel());
    auto* copy = win->session_panel()->findChild<QCheckBox*>("copy_samples");
    ASSERT_TRUE(copy && copy->isVisible() && !copy->isChecked());
    copy->setChecked(true);
    emit win->session_panel()->fileSelected(dir.filePath("copied"));
    pump();
    EXPECT_FALSE(manifest(dir.filePath("copied.pxsession")).contains("from_file"));
    post("sasa");
    EXPECT_TRUE(win->session_panel()->findChild<QCheckBox*>("copy_samples")->isChecked());
    win->session_panel()->findChild<QCheckBox*>("copy_samples")->setChecked(false);
    emit win->session_panel()->fileSelected(path);
    pump();

    ch_main[0] = 20;  // a later change, saved in place by "Save Session"
    win->watch_session();
    EXPECT_TRUE(win->isWindowModified());
    post("sass");
    EXPECT_FALSE(win->isWindowModified());
    const std::string resaved = setup();
    EXPECT_NE(resaved, saved);

    testkit::fresh_tables();
    win->rebuild_tree();
    const std::string fresh = setup();
    ASSERT_NE(fresh, resaved);
    // Cancel pressed while it is read (queued before the reader can finish):
    // nothing changes, nothing is said.
    QMetaObject::invokeMethod(
        win.get(),
        [this] {
            auto* progress = win->findChild<QProgressDialog*>("session_progress");
            ASSERT_TRUE(progress);
            emit progress->canceled();  // as its button does
        },
        Qt::QueuedConnection);
    EXPECT_FALSE(win->open_session_file(path + ".pxsession"));
    EXPECT_EQ(setup(), fresh);
    EXPECT_TRUE(alerts().empty());
    start_open({path + ".pxsession"});  // as "Open Recent" or the command line hands it over
    EXPECT_EQ(setup(), resaved);
    EXPECT_FALSE(win->isWindowModified());
    EXPECT_TRUE(alerts().empty());

    // A cut-short session: said so, and nothing changes.
    QFile::copy(path + ".pxsession", dir.filePath("cut.pxsession"));
    QFile(dir.filePath("cut.pxsession")).resize(QFileInfo(path + ".pxsession").size() - 100);
    start_open({dir.filePath("cut.pxsession")});
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_NE(alerts()[0].details.find("incomplete"), std::string::npos) << alerts()[0].details;
    EXPECT_EQ(setup(), resaved);
    EXPECT_EQ(win->session_path(), path + ".pxsession");
}

TEST_F(SessionWindowTest, ABankThatMovedIsLocatedAndTheSessionOpensFromItsNewPlace) {
    std::vector<files::SfSample> samples{{"s0", std::vector<std::int16_t>(3000, 900), 10, 2900}};
    const std::string sf2 = dir.filePath("bank.sf2").toStdString();
    ASSERT_TRUE(
        files::write_bytes(sf2, files::sf_bank(samples, {{"One", {{files::sample_id(0)}}}},
                                               {{"Piano", 0, 0, {{files::instrument(0)}}}})));
    loadi(1, sf2.c_str(), "bank.sf2");
    win->rebuild_tree();
    const std::string before = setup();
    const QString path = dir.filePath("bank.pxsession");
    ASSERT_TRUE(win->save_session_to(path));
    const QString moved = dir.filePath("moved.sf2");
    ASSERT_TRUE(QFile::rename(QString::fromStdString(sf2), moved));
    testkit::fresh_tables();
    win->rebuild_tree();

    alert_answer = 0;  // Locate...
    EXPECT_FALSE(win->open_session_file(path));
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].button, "Locate...|Cancel");
    ASSERT_TRUE(win->locate_panel());
    emit win->locate_panel()->fileSelected(moved);
    pump();
    EXPECT_EQ(setup(), before);
    EXPECT_EQ(t_sound[0]->path, moved.toStdString());  // saved again, from there
    EXPECT_EQ(win->session_path(), path);
}

TEST_F(SessionWindowTest, AMidiSourceNotPresentIsConnectedWhenItAppears) {
    TestRoster roster;
    roster.list = {{7, "Keys"}};
    midi_roster = &roster;
    roster.connect(7);
    const QString path = dir.filePath("keys.pxsession");
    ASSERT_TRUE(win->save_session_to(path));
    roster.disconnect();
    roster.list = {{3, "Pads"}};
    EXPECT_TRUE(win->open_session_file(path));
    EXPECT_EQ(roster.connected_name(), "");  // not there: kept, and saved again so
    ASSERT_TRUE(win->save_session_to(path));
    roster.list.push_back({9, "Keys"});
    win->watch_session();
    EXPECT_EQ(roster.connected_id(), 9u);
    midi_roster = nullptr;
}

TEST_F(SessionWindowTest, QuittingWithUnsavedChangesAsksFirst) {
    ch_main[5] = 3;
    alert_answer = 2;  // Cancel
    EXPECT_FALSE(win->close());
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].button, "Save|Don't Save|Cancel");
    EXPECT_TRUE(win->isVisible());
    alert_answer = 0;  // Save, with no session yet: the panel asks where first
    EXPECT_FALSE(win->close());
    EXPECT_TRUE(win->session_panel() && win->session_panel()->isVisible());
}

TEST_F(SessionWindowTest, AutosavesOnlyWhileThereAreUnsavedChanges) {
    const QString data = dir.filePath("data");
    qputenv("XDG_DATA_HOME", data.toUtf8());
    qputenv("PLEXORA_AUTOSAVE_SECONDS", "0");  // at every look
    EXPECT_FALSE(win->offer_recovery());
    EXPECT_FALSE(win->watch_session());  // nothing changed since the start
    ASSERT_TRUE(win->save_session_to(dir.filePath("s")));
    ch_main[0] = 33;
    EXPECT_TRUE(win->watch_session());
    // Bounded only so that a broken writer cannot hang the suite.
    for (int i = 0; i < 2000 && !QFile::exists(win->recovery_file()); ++i) pump(5);
    EXPECT_TRUE(QFile::exists(win->recovery_file()));
    EXPECT_FALSE(win->watch_session());  // this change is in it already
    ch_main[0] = 127;                    // back to what was saved
    for (int i = 0; i < 2000 && QFile::exists(win->recovery_file()); ++i) {
        pump(5);
        EXPECT_FALSE(win->watch_session());
    }
    EXPECT_FALSE(QFile::exists(win->recovery_file()));
    qunsetenv("PLEXORA_AUTOSAVE_SECONDS");
    qunsetenv("XDG_DATA_HOME");
}

#ifdef PLEXORA_EXE
TEST_F(SessionWindowTest, AKilledRunsLastAutosaveIsOfferedAndRestoredOnTheNextStart) {
    const QString wav = write_wav("kept.wav", 5000);
    ASSERT_EQ(load(1, wav.toUtf8().constData(), "kept.wav"), LoadResult::loaded);
    const std::string want = testkit::describe(t_sound[0]) + t_sound[0]->name;
    const auto want_bytes = testkit::bytes_of(t_sound[0]);
    testkit::fresh_tables();
    win->rebuild_tree();

    const QString data = dir.filePath("data");
    qputenv("XDG_DATA_HOME", data.toUtf8());
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_DATA_HOME", data);
    env.insert("PLEXORA_AUTOSAVE_SECONDS", "1");
    env.insert("JACK_NO_START_SERVER", "1");
    run.setProcessEnvironment(env);
    run.start(PLEXORA_EXE, {wav});
    ASSERT_TRUE(run.waitForStarted());
    const QString recovery =
        data + QString("/plexora/recovery/recovery-%1.pxsession").arg(run.processId());
    // The load, then the autosave that follows it (bounded only so that a
    // broken program cannot hang the suite).
    for (int i = 0; i < 1200 && !QFile::exists(recovery); ++i) run.waitForFinished(50);
    ASSERT_TRUE(QFile::exists(recovery)) << run.readAllStandardOutput().toStdString();
    const qint64 pid = run.processId();
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    run.waitForFinished();
    // Its files, as a killed run leaves them while it lingers unreaped (a zombie).
    const pid_t zombie = ::fork();
    if (zombie == 0) ::_exit(0);
    const QString dead = data + "/plexora/recovery/%1-%2";
    for (const char* kind : {"running", "recovery"}) {
        const QString ext = kind[1] == 'e' ? ".pxsession" : "";
        QFile::rename(dead.arg(kind).arg(pid) + ext, dead.arg(kind).arg(zombie) + ext);
    }
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(zombie), &info, WEXITED | WNOWAIT);  // ended, not reaped

    alert_answer = 0;  // Restore
    EXPECT_TRUE(win->offer_recovery());
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_NE(alerts()[0].text.find("did not end normally"), std::string::npos);
    EXPECT_EQ(testkit::describe(t_sound[0]) + t_sound[0]->name, want);
    EXPECT_EQ(testkit::bytes_of(t_sound[0]), want_bytes);
    EXPECT_TRUE(win->isWindowModified());  // restored, not yet saved by the user
    EXPECT_FALSE(QFile::exists(dead.arg("recovery").arg(zombie) + ".pxsession"));
    ::waitpid(zombie, nullptr, 0);
    // This run now holds its own mark; a second look finds nothing to offer.
    EXPECT_FALSE(win->offer_recovery());
    EXPECT_EQ(alerts().size(), 1u);
    QDir(data).removeRecursively();
    qunsetenv("XDG_DATA_HOME");
}
#endif

}  // namespace
