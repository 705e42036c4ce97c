// Sessions reaching the main window: saving and opening the whole set-up,
// the title's mark of unsaved changes, the question before quitting, and the
// recovery file autosaved meanwhile and offered again after a crash.
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QProgressDialog>
#include <QSettings>
#include <atomic>
#include <cstdio>
#include <thread>

#include "core/reclaim.h"
#include "core/sound.h"
#include "platform/engine_services.h"
#include "platform/midi_roster.h"
#include "ui/alert.h"
#include "ui/editor/ed_window.h"
#include "ui/main/main_window.h"
#include "ui/main/recent_files.h"
#include "ui/windows/audio_window.h"

namespace {

constexpr const char* kTitle = "Plexora, the virtual Midi sampler 1.1";
// Seconds between two autosaves while there are unsaved changes.
constexpr int kAutosaveSeconds = 120;

QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "plexora", "plexora");
}

// Whether saving stores the samples that come unchanged from files whole
// (remembered from one save to the next).
constexpr const char* kCopySamplesKey = "sessions/copy_samples";

int autosave_ms() {
    bool ok = false;
    const int s = qEnvironmentVariableIntValue("PLEXORA_AUTOSAVE_SECONDS", &ok);
    return (ok && s >= 0 ? s : kAutosaveSeconds) * 1000;
}

// Where runs leave their recovery files and the marks that they are running.
QString recovery_dir() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty()) base = QDir::homePath() + "/.local/share";
    return base + "/plexora/recovery";
}

QString marker_of(qint64 pid) {
    return recovery_dir() + QString("/running-%1").arg(pid);
}

QString recovery_of(qint64 pid) {
    return recovery_dir() + QString("/recovery-%1.pxsession").arg(pid);
}

// True while the run `pid` still goes: a process of that number that has not
// ended (a killed run can linger as a zombie until its parent reaps it) and
// runs this program (not another one that took the number since).
bool alive(qint64 pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly)) return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size() || line[close + 2] == 'Z') return false;
    const QByteArray name = line.mid(line.indexOf('(') + 1, close - line.indexOf('(') - 1);
    return name ==
               QFileInfo(QCoreApplication::applicationFilePath()).fileName().left(15).toUtf8() ||
           name == "plexora";
}

std::string audio_text(const AudioChoice& c) {
    return std::to_string(static_cast<int>(c.output)) + "," + std::to_string(c.period) + "," +
           std::to_string(c.rate) + "," + c.device;
}

bool audio_from(const std::string& text, AudioChoice& c) {
    int output = 0;
    unsigned period = 0, rate = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%d,%u,%u,%n", &output, &period, &rate, &used) < 3 || used == 0)
        return false;
    c.output = static_cast<AudioBackend>(output);
    c.period = period;
    c.rate = rate;
    c.device = text.substr(static_cast<std::size_t>(used));
    return true;
}

}  // namespace

void MyWindow::show_session_panel(bool save) {
    if (session_panel_) session_panel_->deleteLater();
    session_panel_ = new QFileDialog(this, save ? "Save Session" : "Open Session", last_folder());
    session_panel_->setOption(QFileDialog::DontUseNativeDialog);
    session_panel_->setAttribute(Qt::WA_DeleteOnClose);
    session_panel_->setNameFilters({"Sessions (*.pxsession)", "All files (*)"});
    if (save) {
        session_panel_->setAcceptMode(QFileDialog::AcceptSave);
        session_panel_->setDefaultSuffix("pxsession");
        auto* copy = new QCheckBox("Copy sample files into the session", session_panel_);
        copy->setObjectName("copy_samples");
        copy->setChecked(settings().value(kCopySamplesKey, false).toBool());
        connect(copy, &QCheckBox::toggled, this,
                [](bool on) { settings().setValue(kCopySamplesKey, on); });
        if (auto* grid = qobject_cast<QGridLayout*>(session_panel_->layout()))
            grid->addWidget(copy, grid->rowCount(), 0, 1, grid->columnCount());
    } else {
        session_panel_->setFileMode(QFileDialog::ExistingFile);
    }
    connect(session_panel_, &QFileDialog::fileSelected, this, [this, save](const QString& path) {
        if (save)
            save_session_to(path);
        else
            PostMessage(Message(fourcc("_RRC")).add("refs", QStringList(path)));
    });
    session_panel_->show();
}

SessionSettings MyWindow::session_settings() const {
    SessionSettings s{{"audio", audio_text(services_.audio_choice())}};
    std::string source = midi_roster ? midi_roster->connected_name() : "";
    if (source.empty()) source = wanted_source_;
    if (!source.empty()) s.emplace_back("midi_source", source);
    return s;
}

void MyWindow::apply_session_settings(const SessionSettings& settings) {
    wanted_source_.clear();
    for (const auto& [key, value] : settings) {
        AudioChoice choice;
        if (key == "audio" && audio_from(value, choice) && services_.player() &&
            !(choice == services_.audio_choice())) {
            std::string why;
            if (services_.apply_audio(choice, why)) remember_audio_choice(choice);
            show_audio_state();
        }
        if (key == "midi_source") wanted_source_ = value;
    }
    // A source not present now is connected when it appears (watch_session).
    watch_session();
}

bool MyWindow::save_session_to(QString path) {
    if (!path.endsWith(kSessionSuffix)) path += kSessionSuffix;
    std::string error;
    if (!save_session(path.toStdString(), session_settings(), error,
                      settings().value(kCopySamplesKey, false).toBool())) {
        show_alert("The session could not be saved.", {"..."}, 0, QString::fromStdString(error));
        return false;
    }
    session_path_ = QFileInfo(path).absoluteFilePath();
    saved_fingerprint_ = session_fingerprint();
    add_recent_file(session_path_);
    show_session_title();
    return true;
}

bool MyWindow::open_session_file(const QString& path, const SessionMoves& moved) {
    if (opening_session_ || refused_while_loading()) return false;
    // Reading and checking (the hashes of every file it uses) runs on a
    // thread of its own while the window shows how far it is; publishing
    // stays one step here.
    std::atomic<bool> cancel{false};
    std::atomic<int> permille{0};
    SessionRead read;
    {
        opening_session_ = true;
        QProgressDialog progress("Opening " + QFileInfo(path).fileName() + "...", "Cancel", 0, 1000,
                                 this);
        progress.setObjectName("session_progress");
        progress.setWindowModality(Qt::WindowModal);
        progress.setMinimumDuration(400);
        progress.setAutoClose(false);
        progress.setAutoReset(false);
        QEventLoop loop;
        connect(&progress, &QProgressDialog::canceled, &loop,
                [&cancel] { cancel.store(true, std::memory_order_relaxed); });
        QTimer tick;
        connect(&tick, &QTimer::timeout, &progress,
                [&] { progress.setValue(permille.load(std::memory_order_relaxed)); });
        tick.start(50);
        std::thread reader([&, file = path.toStdString()] {
            read = read_session(file, moved, &cancel, &permille);
            reclaim::release_thread_slot();
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        reader.join();
        opening_session_ = false;
        if (progress.wasCanceled()) cancel.store(true, std::memory_order_relaxed);
    }
    // Cancelled: what was read is dropped, even when it was read whole.
    if (cancel.load(std::memory_order_relaxed)) return false;
    const SessionOpened opened = publish_session(std::move(read));
    if (!opened.ok) {
        const QString text = "The session could not be opened:\n" + QFileInfo(path).fileName();
        const QString why = QString::fromStdString(opened.error);
        // A file it uses is not where it was: the user may say where it is now.
        if (!opened.missing.empty() && show_alert(text, {"Locate...", "Cancel"}, 1, why) == 0)
            show_locate_panel(path, moved, QString::fromStdString(opened.missing));
        else if (opened.missing.empty())
            show_alert(text, {"..."}, 0, why);
        return false;
    }
    session_path_ = QFileInfo(path).absoluteFilePath();
    add_recent_file(session_path_);
    rebuild_tree();
    select_sound(no_s);
    myupdate();
    aff_ADSR();
    editor_minit();  // an open sample editor follows the selected sound
    apply_session_settings(opened.settings);
    saved_fingerprint_ = session_fingerprint();
    show_session_title();
    return true;
}

void MyWindow::show_locate_panel(const QString& session, SessionMoves moved,
                                 const QString& missing) {
    if (locate_panel_) locate_panel_->deleteLater();
    locate_panel_ = new QFileDialog(this, "Where is " + QFileInfo(missing).fileName() + "?",
                                    QFileInfo(missing).absolutePath());
    locate_panel_->setOption(QFileDialog::DontUseNativeDialog);
    locate_panel_->setAttribute(Qt::WA_DeleteOnClose);
    locate_panel_->setFileMode(QFileDialog::ExistingFile);
    locate_panel_->selectFile(QFileInfo(missing).fileName());
    connect(locate_panel_, &QFileDialog::fileSelected, this,
            [this, session, moved, missing](const QString& now) mutable {
                moved[missing.toStdString()] = now.toStdString();
                open_session_file(session, moved);
            });
    locate_panel_->show();
}

bool MyWindow::unsaved_changes() const {
    return session_fingerprint() != saved_fingerprint_;
}

void MyWindow::show_session_title() {
    const QString name =
        session_path_.isEmpty() ? QString() : " - " + QFileInfo(session_path_).fileName();
    setWindowTitle(kTitle + name + "[*]");
    setWindowModified(unsaved_changes());
}

QString MyWindow::recovery_file() const {
    return recovery_of(QCoreApplication::applicationPid());
}

bool MyWindow::watch_session() {
    const std::uint64_t now = session_fingerprint();
    if (isWindowModified() != (now != saved_fingerprint_))
        setWindowModified(now != saved_fingerprint_);
    bool ok = false;
    std::string error;
    if (autosaver_.take_result(ok, error)) {
        if (ok)
            autosaved_fingerprint_ = pending_fingerprint_;
        else
            std::printf("autosave: %s\n", error.c_str());
    }
    // Once saved, nothing is left to recover.
    if (now == saved_fingerprint_ && !autosaver_.busy() && QFile::exists(recovery_file())) {
        QFile::remove(recovery_file());
        autosaved_fingerprint_ = now;
    }
    // Autosaves only while there are unsaved changes and this run holds its
    // marker (offer_recovery).
    bool started = false;
    if (!quitting_ && now != saved_fingerprint_ && now != autosaved_fingerprint_ &&
        since_autosave_.elapsed() >= autosave_ms() && !autosaver_.busy() && !services_.loading() &&
        QFile::exists(marker_of(QCoreApplication::applicationPid()))) {
        pending_fingerprint_ = now;
        since_autosave_.restart();
        started =
            autosaver_.start(recovery_file().toStdString(), capture_session(session_settings()));
    }
    if (!wanted_source_.empty() && midi_roster) {
        if (midi_roster->connected_name() == wanted_source_) {
            wanted_source_.clear();
        } else {
            for (const MidiSourceInfo& s : midi_roster->sources())
                if (s.name == wanted_source_ && midi_roster->connect(s.id)) {
                    wanted_source_.clear();
                    break;
                }
        }
    }
    return started;
}

bool MyWindow::offer_recovery() {
    QDir().mkpath(recovery_dir());
    bool restored = false;
    // Runs that left a marker and are gone ended abnormally.
    for (const QFileInfo& marker : QDir(recovery_dir()).entryInfoList({"running-*"}, QDir::Files)) {
        const qint64 pid = marker.fileName().mid(8).toLongLong();
        if (alive(pid) || pid == QCoreApplication::applicationPid()) continue;
        const QString file = recovery_of(pid);
        if (QFile::exists(file) && !restored) {
            const QString when = QFileInfo(file).lastModified().toString("yyyy-MM-dd hh:mm:ss");
            const int answer = show_alert(
                "The program did not end normally last time. Restore the set-up it saved "
                "at " +
                    when + "?",
                {"Restore", "Discard"}, 1);
            if (answer == 0 && open_session_file(file)) {
                restored = true;
                // Still unsaved: the recovery file is no session of the user's.
                session_path_.clear();
                saved_fingerprint_ = 0;
                show_session_title();
            }
        }
        QFile::remove(file);
        QFile::remove(marker.absoluteFilePath());
    }
    QFile mark(marker_of(QCoreApplication::applicationPid()));
    if (mark.open(QIODevice::WriteOnly))
        mark.write(QByteArray::number(QCoreApplication::applicationPid()));
    return restored;
}

bool MyWindow::may_quit() {
    if (!quitting_ && unsaved_changes()) {
        const int answer =
            show_alert("There are unsaved changes. Save the session before quitting?",
                       {"Save", "Don't Save", "Cancel"}, 2);
        if (answer == 2) return false;
        if (answer == 0) {
            if (session_path_.isEmpty()) {
                show_session_panel(true);
                return false;  // quit again once it is saved
            }
            if (!save_session_to(session_path_)) return false;
        }
    }
    quitting_ = true;
    autosaver_.wait();
    // A normal end: nothing to recover.
    QFile::remove(recovery_file());
    QFile::remove(marker_of(QCoreApplication::applicationPid()));
    return true;
}
