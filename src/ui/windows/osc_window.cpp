#include "ui/windows/osc_window.h"

#include <QPainter>
#include <cmath>
#include <cstring>

#include "ui/graphics.h"
#include "ui/registry.h"

namespace {

constexpr int kPulseMs = 50;
const QPoint kScreenAt[2] = {{15, 15}, {176, 15}};

}  // namespace

int osc_row(float v) {
    if (!(v == v)) return kOscHeight / 2;  // NaN draws as silence
    const float scaled = std::trunc(std::clamp(v, -2.0f, 2.0f) * 32.0f);
    return std::clamp(32 - static_cast<int>(scaled), 0, kOscHeight - 1);
}

void osc_trace(const float* samples, int n, std::uint8_t (&image)[kOscRowBytes * kOscHeight]) {
    std::memset(image, 0, sizeof image);
    for (int x = 0; x < n && x < kOscWidth; ++x) {
        image[osc_row(samples[x]) * kOscRowBytes + x / 8] |= std::uint8_t(0x80 >> (x % 8));
    }
}

OscBBox::OscBBox(OscWindow* owner, QRect frame) : QWidget(owner), owner_(owner) {
    setGeometry(frame);
}

void OscBBox::Pulse() {
    OscWindow& w = *owner_;
    // A snapshot the audio thread kept overtaking leaves the last trace up.
    if (!scope_read(w.trace_)) return;
    const float* sides[2] = {w.trace_.left, w.trace_.right};
    for (int k = 0; k < 2; ++k) {
        osc_trace(sides[k], w.trace_.frames, w.images_[k]);
        QImage& s = w.screens_[k];
        for (int y = 0; y < kOscHeight; ++y)
            std::memcpy(s.scanLine(y), w.images_[k] + y * kOscRowBytes, kOscRowBytes);
    }
    update();
}

void OscBBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(224, 224, 224));
    p.drawTiledPixmap(rect(),
                      QPixmap::fromImage(picture_or(kFondosc, 160, 94, QColor(90, 90, 90))));
    for (int k = 0; k < 2; ++k) p.drawImage(kScreenAt[k], owner_->screens_[k]);
}

OscWindow::OscWindow()
    : MyBWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                             Qt::CustomizeWindowHint) {
    setWindowTitle("Oscillo");
    set_place_kind("oscillo");
    setGeometry(10, 10, 321, 95);
    setFixedSize(321, 95);
    setAttribute(Qt::WA_DeleteOnClose);
    for (QImage& s : screens_) {
        s = QImage(kOscWidth, kOscHeight, QImage::Format_Mono);
        s.setColorTable({qRgb(0, 0, 0), qRgb(255, 0, 0)});
        s.fill(0);
    }
    box_ = new OscBBox(this, rect());
    box_->Pulse();
    connect(&pulse_, &QTimer::timeout, this, [this] { box_->Pulse(); });
    pulse_.start(kPulseMs);
}

void OscWindow::MessageReceived(const Message&) {}

OscWindow* appel_osc() {
    if (auto* w = dynamic_cast<OscWindow*>(oscwin.data())) {
        w->show();
        w->raise();
        w->activateWindow();
        return w;
    }
    auto* w = new OscWindow;
    oscwin = w;
    w->show();
    return w;
}
