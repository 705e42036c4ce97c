#include "ui/controls/my_button.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/controls/textured.h"

MyBButton::MyBButton(int type, QRect frame, const QString& label, std::uint32_t code,
                     QObject* target, QWidget* parent)
    : QAbstractButton(parent), type_(type) {
    setGeometry(frame);
    setText(label);
    setFocusPolicy(Qt::NoFocus);
    up_ = textured(frame.width(), frame.height(), Shade::kUp);
    down_ = textured(frame.width(), frame.height(), Shade::kDown);
    connect(this, &QAbstractButton::clicked, this, [code, target] {
        if (code && target) post_message(target, code);
    });
}

void MyBButton::SetValue(int value) {
    value_ = value ? 1 : 0;
    update();
}

void MyBButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, (value_ || isDown()) ? down_ : up_);
    QFont f = font();
    f.setPixelSize(11);
    f.setBold(true);
    p.setFont(f);
    p.setPen(isEnabled() ? Qt::black : QColor(90, 70, 50));
    const int w = p.fontMetrics().horizontalAdvance(text());
    p.drawText((width() - w) / 2, std::min(14, height() - 3), text());
}

void MyBButton::mousePressEvent(QMouseEvent* e) {
    if (popup_ && e->button() == Qt::LeftButton) {
        // The pop-up runs here; when it declines, the button acts as a plain one.
        if (popup_(e->globalPosition().toPoint())) return;
    }
    QAbstractButton::mousePressEvent(e);
}
