#include "ui/controls/my_check.h"

#include <QPainter>

#include "ui/graphics.h"
#include "ui/message.h"

LampButton::LampButton(QWidget* parent, int on, int off, QColor colour)
    : QAbstractButton(parent), on_(on), off_(off), colour_(colour) {
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
}

void LampButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QImage& img = picture(isChecked() ? on_ : off_);
    if (!img.isNull()) {
        p.drawImage(0, 0, img);
        return;
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(isChecked() ? colour_ : colour_.darker(350));
    p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
}

mycheck::mycheck(QRect frame, const QString& label, std::uint32_t code, QObject* target,
                 QWidget* parent) {
    lamp_ = new LampButton(parent, kLedonv, kLedoffv, QColor(60, 240, 60));
    lamp_->setGeometry(frame.left(), frame.top(), 16, 16);
    label_ = new QLabel(label, parent);
    QFont f = label_->font();
    f.setBold(true);
    f.setPixelSize(11);
    label_->setFont(f);
    label_->setGeometry(frame.left() + 16, frame.top(), frame.width() - 16, frame.height());
    label_->setIndent(3);
    label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label_->setContentsMargins(0, 1, 0, 0);
    QObject::connect(lamp_.data(), &QAbstractButton::clicked, lamp_.data(), [code, target] {
        if (code && target) post_message(target, code);
    });
}

mycheck::~mycheck() {
    delete lamp_.data();
    delete label_.data();
}

void mycheck::SetValue(int v) {
    if (lamp_) lamp_->setChecked(v != 0);
}
