// Loading files in the background: a loader thread reads and decodes while
// the window stays usable and shows how far it got with a "Cancel" button;
// the result goes into the tables in one step on this thread at the end. A
// cancelled or failed load changes nothing.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <cstdio>

#include "core/sound.h"
#include "io/loadi.h"
#include "ui/alert.h"
#include "ui/main/keyboard.h"
#include "ui/main/main_window.h"
#include "ui/main/open_flow.h"
#include "ui/main/recent_files.h"

namespace {

// How often the window looks at a running load.
constexpr int kProgressMs = 50;
// Loads at least this large say on standard output how long they took.
constexpr std::uint64_t kReportBytes = 16u << 20;

LoadJob::Opener g_opener;
// Files at least this large load in the background; smaller ones at once.
qint64 g_background_from = 4 << 20;

QString megabytes(std::uint64_t bytes) {
    return QString::number(double(bytes) / 1e6, 'f', 1);
}

}  // namespace

void MyWindow::set_loader(LoadJob::Opener open, qint64 background_from) {
    g_opener = std::move(open);
    g_background_from = background_from;
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
    if (!job_) return false;
    show_alert("A file is being loaded: wait until it is done, or cancel it first.", {"..."}, 0);
    return true;
}

void MyWindow::start_load(const QString& path) {
    const QFileInfo info(path);
    const bool instrument = is_instrument_name(info.fileName());
    job_slot_ = no_s;
    job_ = std::make_unique<LoadJob>(path.toStdString(), info.fileName().toStdString(), instrument);
    job_clock_.start();
    job_->start(g_opener);
    if (info.size() < g_background_from) {
        // Small files are done before anyone could see a progress display.
        while (!job_->finished()) QThread::usleep(200);
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
    if (!job_) return;
    job_->cancel();
    poll_load();
}

void MyWindow::poll_load() {
    // Cancelled jobs finish their piece on their own thread, then go.
    std::erase_if(dropped_, [](const auto& j) { return j->finished(); });
    if (!job_) {
        if (dropped_.empty()) job_timer_.stop();
        return;
    }
    const std::uint64_t total = job_->total_bytes(), done = job_->done_bytes();
    if (total > 0) progress_bar_->setValue(int(1000 * double(done) / double(total)));
    progress_label_->setText(
        QString("Loading %1: %2 of %3 MB")
            .arg(QString::fromStdString(job_->leaf()), megabytes(done), megabytes(total)));
    if (!job_->finished() && !job_->cancelled()) return;
    progress_->hide();
    std::unique_ptr<LoadJob> job = std::move(job_);
    if (job->cancelled()) {
        if (!job->finished()) dropped_.push_back(std::move(job));
        if (dropped_.empty()) job_timer_.stop();
    } else {
        job_timer_.stop();
        // The file was chosen for the sound selected then; the tree could
        // not change while it loaded.
        no_s = std::int16_t(job_slot_);
        QElapsedTimer publishing;
        publishing.start();
        const bool loaded = job->publish(job_slot_);
        if (loaded) add_recent_file(QString::fromStdString(job->path()));
        PostMessage(fourcc("RauQ"));
        myupdate();
        aff_ADSR();
        keyboard_->update();
        if (loaded && job->total_bytes() >= kReportBytes)
            std::printf("Loaded %s: %.1f MB in %lld ms, %lld ms of it putting it in place\n",
                        job->leaf().c_str(), double(job->total_bytes()) / 1e6,
                        static_cast<long long>(job_clock_.elapsed()),
                        static_cast<long long>(publishing.elapsed()));
        std::fflush(stdout);
    }
    if (!pending_.isEmpty()) open_files({});
}
