#include "ui/editor/picture_button.h"

#include <QPainter>

#include "ui/graphics.h"
#include "ui/message.h"

PictureButton::PictureButton(QRect frame, int on, int off, std::uint32_t code, QObject* target,
                             QWidget* parent)
    : QAbstractButton(parent), on_(on), off_(off) {
    setGeometry(frame);
    setFocusPolicy(Qt::NoFocus);
    connect(this, &QAbstractButton::clicked, this, [this, code, target] {
        SetValue(1);
        post_message(target, code);
    });
}

void PictureButton::SetValue(int v) {
    value_ = v ? 1 : 0;
    update();
}

void PictureButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const bool lit = value_ || isDown();
    p.drawImage(
        0, 0,
        picture_or(lit ? on_ : off_, 24, 24, lit ? QColor(230, 60, 40) : QColor(120, 90, 60)));
}
