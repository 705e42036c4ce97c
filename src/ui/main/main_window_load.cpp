// Loading files in the background: the engine's loader reads and decodes on
// a thread of its own while the window stays usable and shows how far it got
// with a "Cancel" button; the result goes into the tables in one step on this
// thread at the end. A cancelled or failed load changes nothing.
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "core/sound.h"
#include "platform/engine_services.h"
#include "ui/alert.h"
#include "ui/main/keyboard.h"
#include "ui/main/main_window.h"
#include "ui/main/open_flow.h"
#include "ui/main/recent_files.h"

namespace {

// How often the window looks at a running load.
constexpr int kProgressMs = 50;
// How long a small file is waited for before its progress is shown: long
// enough for one on a local disk to land without a flash of the display,
// short enough that one on a stalled disk leaves the window usable.
constexpr std::chrono::milliseconds kSmallFileWait{120};

// Files at least this large show their progress at once.
qint64 g_background_from = 4 << 20;

QString megabytes(std::uint64_t bytes) {
    return QString::number(double(bytes) / 1e6, 'f', 1);
}

}  // namespace

void MyWindow::set_background_from(qint64 bytes) {
    g_background_from = bytes;
}

void MyWindow::build_progress() {
    // Over the overview, which has nothing to show while its sound loads.
    progress_ = new QWidget(this);
    progress_->setObjectName("progress");
    progress_->setGeometry(75, 260, 532, 84);
    progress_->setAutoFillBackground(true);
    progress_->setStyleSheet(
        "#progress { background: rgb(40, 26, 16); border: 2px solid rgb(150, 110, 70); }"
        "QLabel { color: rgb(255, 235, 190); font-weight: bold; }");
    progress_label_ = new QLabel(progress_);
    progress_label_->setGeometry(14, 8, 504, 20);
    progress_bar_ = new QProgressBar(progress_);
    progress_bar_->setGeometry(14, 34, 400, 22);
    progress_bar_->setRange(0, 1000);
    auto* cancel = new QPushButton("Cancel", progress_);
    cancel->setGeometry(426, 32, 92, 26);
    connect(cancel, &QPushButton::clicked, this, [this] { cancel_load(); });
    progress_->hide();
    connect(&job_timer_, &QTimer::timeout, this, [this] { poll_load(); });
}

bool MyWindow::refused_while_loading() {
    if (!services_.loading()) return false;
    show_alert("A file is being loaded: wait until it is done, or cancel it first.", {"..."}, 0);
    return true;
}

void MyWindow::start_load(const QString& path) {
    const QFileInfo info(path);
    if (!services_.start_load(path.toStdString(), info.fileName().toStdString(),
                              is_instrument_name(info.fileName()), no_s))
        return;
    // A small file is usually in before a progress display could be seen;
    // one that a slow or stuck disk holds up shows it like a large file.
    if (info.size() < g_background_from && services_.wait_load(kSmallFileWait)) {
        poll_load();
        return;
    }
    progress_label_->setText("Loading " + info.fileName());
    progress_bar_->setValue(0);
    progress_->show();
    progress_->raise();
    job_timer_.start(kProgressMs);
}

void MyWindow::cancel_load() {
    if (!services_.loading()) return;
    services_.cancel_load();
    poll_load();
}

void MyWindow::poll_load() {
    if (const LoadJob* job = services_.load()) {
        const std::uint64_t total = job->total_bytes(), done = job->done_bytes();
        if (total > 0) progress_bar_->setValue(int(1000 * double(done) / double(total)));
        progress_label_->setText(
            QString("Loading %1: %2 of %3 MB")
                .arg(QString::fromStdString(job->leaf()), megabytes(done), megabytes(total)));
    }
    const LoadStep step = services_.poll_load();
    // The timer runs on while cancelled jobs still have to be forgotten.
    if (step != LoadStep::kRunning && !services_.dropping()) job_timer_.stop();
    if (step == LoadStep::kIdle || step == LoadStep::kRunning) return;
    progress_->hide();
    if (step != LoadStep::kCancelled) {
        if (step == LoadStep::kLoaded)
            add_recent_file(QString::fromStdString(services_.last_loaded()));
        PostMessage(fourcc("RauQ"));
        myupdate();
        aff_ADSR();
        keyboard_->update();
    }
    if (!pending_.isEmpty()) open_files({});
}
