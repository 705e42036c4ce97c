// "Record Output...": the mix as heard goes to a WAV or FLAC file until the
// item, then reading "Stop Recording", is chosen again or the program quits.
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

#include "platform/engine_services.h"
#include "platform/output_recorder.h"
#include "platform/sound_player.h"
#include "ui/alert.h"
#include "ui/main/main_window.h"

namespace {

constexpr int kRecordTickMs = 200;
// How long the line says what was recorded once a recording stops.
constexpr int kRecordedShownMs = 6000;

// "1:05.3"
QString clock_text(double seconds) {
    const int tenths = int(seconds * 10.0);
    return QString("%1:%2.%3")
        .arg(tenths / 600)
        .arg(tenths / 10 % 60, 2, 10, QChar('0'))
        .arg(tenths % 10);
}

QString frames_text(std::uint64_t frames, float rate) {
    return QString("%1 frames (%2 ms)").arg(frames).arg(qRound64(1000.0 * double(frames) / rate));
}

}  // namespace

void MyWindow::start_recording(const QString& path) {
    if (recorder_ || path.isEmpty()) return;
    const SoundPlayer* player = services_.player();
    auto rec = std::make_unique<OutputRecorder>();
    std::string error;
    if (rec->start(path.toStdString(), player ? player->FrameRate() : 0.0f, error)) {
        recorder_ = std::move(rec);
        output_tap::attach(recorder_.get());
        record_item_->setText("Stop Recording");
        show_record_time();
        record_timer_.start(kRecordTickMs);
        return;
    }
    show_alert("Cannot record to " + path + ":\n" + QString::fromStdString(error), {"..."}, 0);
}

void MyWindow::stop_recording(bool quitting) {
    if (!recorder_) return;
    output_tap::attach(nullptr);
    const OutputRecorder::Summary s = recorder_->stop();
    const QString name = QFileInfo(QString::fromStdString(recorder_->path())).fileName();
    recorder_.reset();
    record_timer_.stop();
    if (record_item_) record_item_->setText("Record Output...");
    QString trouble;
    if (s.dropped)
        trouble = frames_text(s.dropped, s.rate) +
                  " could not be written in time and are missing from the file.";
    if (!s.error.empty())
        trouble += (trouble.isEmpty() ? "" : "\n") +
                   QString("Writing stopped early: %1").arg(QString::fromStdString(s.error));
    if (quitting) {
        if (!trouble.isEmpty())
            std::printf("Recording %s: %s\n", qPrintable(name), qPrintable(trouble));
        return;
    }
    record_line_->setText(QString("Recorded %1 to %2").arg(clock_text(s.written / s.rate), name));
    record_line_->show();
    audio_line_->hide();
    QTimer::singleShot(kRecordedShownMs, record_line_, [line = record_line_, this] {
        if (recorder_) return;
        line->hide();
        show_audio_state();
    });
    if (!trouble.isEmpty()) show_alert("Recording " + name + ":\n" + trouble, {"Ok"}, 0);
}

void MyWindow::show_record_time() {
    if (!recorder_) return;
    const float rate = recorder_->rate();
    QString text = "REC " + clock_text(double(recorder_->captured()) / rate) + "  " +
                   QFileInfo(QString::fromStdString(recorder_->path())).fileName();
    if (const std::uint64_t lost = recorder_->dropped())
        text += QString("  dropped %1 ms").arg(qRound64(1000.0 * double(lost) / rate));
    record_line_->setText(text);
    record_line_->show();
    audio_line_->hide();
}
