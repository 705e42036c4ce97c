// Files reaching the main window: the open and save panels, dropped files,
// the files of the "Open Recent" menu, and the documentation.
#include <QAbstractItemView>
#include <QCompleter>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "core/instruments.h"
#include "core/sound.h"
#include "io/bank_export.h"
#include "io/instrument_file.h"
#include "platform/engine_services.h"
#include "platform/paths.h"
#include "ui/alert.h"
#include "ui/main/main_window.h"
#include "ui/main/open_flow.h"
#include "ui/main/recent_files.h"

namespace {

// A panel made for one use: it opens empty in the folder of the last file,
// and goes (with its completion pop-up) as soon as it is done.
QFileDialog* new_panel(QWidget* parent, const QString& title) {
    auto* panel = new QFileDialog(parent, title, last_folder());
    panel->setOption(QFileDialog::DontUseNativeDialog);
    QObject::connect(panel, &QDialog::finished, panel, [panel] {
        for (QCompleter* c : panel->findChildren<QCompleter*>())
            if (c->popup()) c->popup()->hide();
        panel->deleteLater();
    });
    return panel;
}

// True when a web browser can be started to show a local page.
bool browser_available() {
    if (!qEnvironmentVariableIsEmpty("BROWSER")) return true;
    if (QStandardPaths::findExecutable("xdg-open").isEmpty()) return false;
    QProcess query;
    query.start("xdg-mime", {"query", "default", "text/html"});
    if (!query.waitForFinished(2000)) return true;  // cannot tell: let xdg-open try
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

}  // namespace

void MyWindow::show_open_panel() {
    if (open_panel_ && open_panel_->isVisible()) {
        open_panel_->raise();
        return;
    }
    if (open_panel_) open_panel_->deleteLater();
    open_panel_ = new_panel(this, "Open");
    open_panel_->setFileMode(QFileDialog::ExistingFile);
    open_panel_->setNameFilters(open_filters());
    connect(open_panel_, &QFileDialog::fileSelected, this, [this](const QString& path) {
        PostMessage(Message(fourcc("_RRC")).add("refs", QStringList(path)));
    });
    open_panel_->show();
}

void MyWindow::show_save_panel() {
    if (save_panel_ && save_panel_->isVisible()) {
        save_panel_->raise();
        return;
    }
    if (save_panel_) save_panel_->deleteLater();
    save_panel_ = new_panel(this, "Save Instrument");
    save_panel_->setAcceptMode(QFileDialog::AcceptSave);
    save_panel_->setNameFilters({"Instrument files (*.it)", "All files (*)"});
    connect(save_panel_, &QFileDialog::fileSelected, this, [this](const QString& path) {
        const QFileInfo info(path);
        PostMessage(Message(fourcc("SAVE"))
                        .add("directory", info.absolutePath())
                        .add("name", info.fileName()));
    });
    save_panel_->show();
}

void MyWindow::show_record_panel() {
    if (record_panel_ && record_panel_->isVisible()) {
        record_panel_->raise();
        return;
    }
    if (record_panel_) record_panel_->deleteLater();
    record_panel_ = new_panel(this, "Record Output");
    record_panel_->setAcceptMode(QFileDialog::AcceptSave);
    record_panel_->setNameFilters({"WAV files (*.wav)", "FLAC files (*.flac)"});
    connect(record_panel_, &QFileDialog::fileSelected, this, [this](const QString& chosen) {
        // A name without either ending takes the one of the filter shown.
        QString path = chosen;
        const QString suffix = QFileInfo(path).suffix().toLower();
        if (suffix != "wav" && suffix != "flac")
            path += record_panel_->selectedNameFilter().startsWith("FLAC") ? ".flac" : ".wav";
        PostMessage(Message(fourcc("rcpa")).add("path", path));
    });
    record_panel_->show();
}

void MyWindow::show_bank_panel(bool all) {
    auto* panel = new_panel(this, all ? "Save All as SF2" : "Save Instrument as SF2");
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setNameFilters({"SoundFont banks (*.sf2)", "All files (*)"});
    connect(panel, &QFileDialog::fileSelected, this, [this, all](const QString& path) {
        PostMessage(Message(fourcc("SASF")).add("path", path).add("all", all ? 1 : 0));
    });
    panel->show();
}

void MyWindow::save_bank(const Message& m) {
    QString path = m.string_field("path");
    if (path.isEmpty() || refused_while_loading()) return;
    if (!path.endsWith(".sf2", Qt::CaseInsensitive)) path += ".sf2";
    std::string why;
    const int k = m.int_field("all") ? -1 : quel_baseson(no_s);
    if (!export_bank(path.toUtf8().constData(), k, why)) {
        show_alert("The bank could not be written: " + QString::fromStdString(why), {"..."}, 0);
        return;
    }
    add_recent_file(path);
}

void MyWindow::RefsReceived(const Message& m) {
    const QStringList refs = m.refs();
    if (refs.isEmpty()) return;
    // Only the first file of a message is opened.
    const QFileInfo info(refs.first());
    if (info.isFile() && is_session_path(info.fileName().toStdString()))
        open_session_file(info.absoluteFilePath());
    else if (info.isFile() && !refused_while_loading())
        start_load(info.absoluteFilePath());
    // A file of the command line that went away does not hold up the others.
    if (!services_.loading() && !pending_.isEmpty()) open_files({});
}

void MyWindow::open_files(const QStringList& paths) {
    pending_ += paths;
    if (!services_.loading() && !pending_.isEmpty())
        PostMessage(Message(fourcc("_RRC")).add("refs", QStringList(pending_.takeFirst())));
}

void MyWindow::save_instrument(const Message& m) {
    const QString dir = m.string_field("directory"), name = m.string_field("name");
    if (dir.isEmpty() || name.isEmpty()) return;
    const QString path = dir + "/" + name;
    // A failure to write is not reported: the existing file stays whole.
    if (saveinst(path.toUtf8().constData()))
        add_recent_file(QString::fromStdString(instrument_file_path(path.toUtf8().constData())));
}

void MyWindow::fill_recent_menu() {
    recent_->clear();
    const QStringList files = recent_files();
    if (files.isEmpty()) recent_->addAction("No recent files")->setEnabled(false);
    for (const QString& path : files) {
        const QFileInfo info(path);
        QAction* a = recent_->addAction(
            shown_as_is(info.fileName() + "   " + QDir::toNativeSeparators(info.absolutePath())));
        a->setToolTip(path);
        connect(a, &QAction::triggered, this, [this, path] {
            if (!QFileInfo(path).isFile()) {
                remove_recent_file(path);
                show_alert("This file is no longer there:\n" + path, {"..."}, 0);
                return;
            }
            PostMessage(Message(fourcc("_RRC")).add("refs", QStringList(path)));
        });
    }
}

void MyWindow::show_documentation() {
    // Beside the program in a build tree, in share/plexora once installed.
    const QString doc = QString::fromStdString(paths::data_file("doc/index.htm"));
    if (!browser_available() || !QDesktopServices::openUrl(QUrl::fromLocalFile(doc)))
        show_alert("No web browser could be started. The manual is at\n" + doc, {"Ok"}, 0);
}

void MyWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void MyWindow::dropEvent(QDropEvent* e) {
    // A drop is handled as the open panel's choice.
    QStringList refs;
    for (const QUrl& url : e->mimeData()->urls())
        if (url.isLocalFile()) refs << url.toLocalFile();
    if (refs.isEmpty()) return;
    e->acceptProposedAction();
    PostMessage(Message(fourcc("_RRC")).add("refs", refs));
}
