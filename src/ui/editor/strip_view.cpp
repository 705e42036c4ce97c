#include "ui/editor/strip_view.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/graphics.h"

namespace {

// Moves shorter than this stay a click.
constexpr int kDragSlop = 3;

QImage mono(const ColumnImage& bits, QColor ink) {
    QImage img(bits.data(), kStripColumns, kStripRows, kStripRowBytes, QImage::Format_Mono);
    img = img.copy();
    img.setColorCount(2);
    img.setColor(0, qRgba(0, 0, 0, 0));
    img.setColor(1, ink.rgb());
    return img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

StripView::StripView(int number, QRect frame, QColor highlight, QWidget* parent)
    : QWidget(parent), number_(number), colour_(highlight) {
    setGeometry(frame);
    compose();
}

void StripView::set_image(const ColumnImage& img, ColumnSpan span, bool highlight, bool streamed) {
    bits_ = img;
    span_ = span;
    highlight_ = highlight;
    streamed_ = streamed;
    compose();
    update();
}

void StripView::compose() {
    composed_ = picture_or(kFondsam, 532, 84, QColor(170, 190, 160))
                    .convertToFormat(QImage::Format_RGB32)
                    .copy(0, 0, 532, 84);
    QPainter p(&composed_);
    if (streamed_) {
        draw_streamed_label(p, font());
        return;
    }
    p.drawImage(10, 10, mono(bits_, Qt::black));
    if (highlight_ && span_.first != span_.last) {
        p.setClipRect(QRect(span_.first + 10, 0, span_.last - span_.first, 84));
        p.drawImage(10, 10, mono(bits_, colour_));
    }
}

void StripView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, composed_);
}

void StripView::mousePressEvent(QMouseEvent* e) {
    const int x = int(e->position().x());
    const bool primary = e->button() == Qt::LeftButton;
    press_x_ = primary ? x : -1;
    dragging_ = false;
    if (on_press) on_press(x, primary);
}

void StripView::mouseMoveEvent(QMouseEvent* e) {
    if (press_x_ < 0 || !(e->buttons() & Qt::LeftButton)) return;
    const int x = int(e->position().x());
    if (!dragging_ && std::abs(x - press_x_) < kDragSlop) return;
    dragging_ = true;
    if (on_drag) on_drag(press_x_, x);
}

void StripView::mouseReleaseEvent(QMouseEvent*) {
    press_x_ = -1;
    dragging_ = false;
}
