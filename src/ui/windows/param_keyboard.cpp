#include "ui/windows/param_keyboard.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/main/keyboard.h"

ParamKeyboard::ParamKeyboard(QRect frame, QWidget* parent) : QWidget(parent) {
    setGeometry(frame);
    setMouseTracking(true);
}

QImage ParamKeyboard::composed() const {
    QImage canvas = keyboard_picture();
    if (compose) compose(canvas);
    return canvas;
}

void ParamKeyboard::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, composed());
}

void ParamKeyboard::hover(int key) {
    if (key == hover_) return;
    hover_ = key;
    if (hovered) hovered(key);
}

// The key under a mouse position as a signed number: -1 off the keys.
static int key_at(const QMouseEvent* e) {
    return std::int16_t(piatonote(float(e->position().x()), float(e->position().y())));
}

void ParamKeyboard::mouseMoveEvent(QMouseEvent* e) {
    hover(key_at(e));
}

void ParamKeyboard::leaveEvent(QEvent*) {
    hover(-1);
}

void ParamKeyboard::mousePressEvent(QMouseEvent* e) {
    hover(key_at(e));
    if (hover_ >= 0 && pressed) pressed(hover_, e->buttons());
}
