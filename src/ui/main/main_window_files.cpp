// Files reaching the main window: the open and save panels, dropped files,
// and the documentation.
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include "core/sound.h"
#include "io/instrument_file.h"
#include "io/load.h"
#include "io/loadi.h"
#include "platform/paths.h"
#include "ui/main/keyboard.h"
#include "ui/main/main_window.h"
#include "ui/main/open_flow.h"

void MyWindow::build_panels() {
    open_panel_ = new QFileDialog(this, "Open");
    open_panel_->setFileMode(QFileDialog::ExistingFile);
    open_panel_->setNameFilters(open_filters());
    open_panel_->setOption(QFileDialog::DontUseNativeDialog);
    connect(open_panel_, &QFileDialog::fileSelected, this, [this](const QString& path) {
        PostMessage(Message(fourcc("_RRC")).add("refs", QStringList(path)));
    });
    save_panel_ = new QFileDialog(this, "Save Instrument");
    save_panel_->setAcceptMode(QFileDialog::AcceptSave);
    save_panel_->setNameFilters({"Instrument files (*.it)", "All files (*)"});
    save_panel_->setOption(QFileDialog::DontUseNativeDialog);
    connect(save_panel_, &QFileDialog::fileSelected, this, [this](const QString& path) {
        const QFileInfo info(path);
        PostMessage(Message(fourcc("SAVE"))
                        .add("directory", info.absolutePath())
                        .add("name", info.fileName()));
    });
}

void MyWindow::RefsReceived(const Message& m) {
    const QStringList refs = m.refs();
    if (refs.isEmpty()) return;
    // Only the first file of a message is opened.
    const QFileInfo info(refs.first());
    if (!info.exists() || !info.isFile()) return;
    const QByteArray path = info.absoluteFilePath().toUtf8();
    const QByteArray leaf = info.fileName().toUtf8();
    if (is_instrument_name(info.fileName())) {
        loadi(1, path.constData(), leaf.constData());
    } else {
        load(1, path.constData(), leaf.constData());
    }
    PostMessage(fourcc("RauQ"));
    myupdate();
    aff_ADSR();
    keyboard_->update();
}

void MyWindow::save_instrument(const Message& m) {
    const QString dir = m.string_field("directory"), name = m.string_field("name");
    if (dir.isEmpty() || name.isEmpty()) return;
    // A failure to write is not reported: the existing file stays whole.
    saveinst((dir + "/" + name).toUtf8().constData());
}

void MyWindow::show_documentation() {
    // Beside the program in a build tree, in share/plexora once installed.
    const std::string doc = paths::data_file("doc/index.htm");
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(doc)));
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
