#include "ui/main/computer_keys.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>

#include "ui/main/keyboard.h"

namespace {

constexpr int kVelocity = 100;

struct KeyNote {
    int key;
    int note;
};

constexpr KeyNote kKeys[] = {
    // Lower octave: Z row white, S row black.
    {Qt::Key_Z, 0},
    {Qt::Key_S, 1},
    {Qt::Key_X, 2},
    {Qt::Key_D, 3},
    {Qt::Key_C, 4},
    {Qt::Key_V, 5},
    {Qt::Key_G, 6},
    {Qt::Key_B, 7},
    {Qt::Key_H, 8},
    {Qt::Key_N, 9},
    {Qt::Key_J, 10},
    {Qt::Key_M, 11},
    {Qt::Key_Comma, 12},
    {Qt::Key_L, 13},
    {Qt::Key_Period, 14},
    {Qt::Key_Semicolon, 15},
    {Qt::Key_Slash, 16},
    // Upper octave: Q row white, digit row black.
    {Qt::Key_Q, 12},
    {Qt::Key_2, 13},
    {Qt::Key_W, 14},
    {Qt::Key_3, 15},
    {Qt::Key_E, 16},
    {Qt::Key_R, 17},
    {Qt::Key_5, 18},
    {Qt::Key_T, 19},
    {Qt::Key_6, 20},
    {Qt::Key_Y, 21},
    {Qt::Key_7, 22},
    {Qt::Key_U, 23},
    {Qt::Key_I, 24},
    {Qt::Key_9, 25},
    {Qt::Key_O, 26},
    {Qt::Key_0, 27},
    {Qt::Key_P, 28},
    {Qt::Key_BracketLeft, 29},
};

bool typing(QObject* o) {
    return qobject_cast<QLineEdit*>(o) || qobject_cast<QTextEdit*>(o) ||
           qobject_cast<QAbstractSpinBox*>(o);
}

}  // namespace

int computer_key_note(int qt_key) {
    for (const KeyNote& k : kKeys)
        if (k.key == qt_key) return k.note;
    return -1;
}

ComputerKeys::ComputerKeys(QWidget* window, KeyboardView* keyboard)
    : QObject(window), window_(window), keyboard_(keyboard) {
    qApp->installEventFilter(this);
}

void ComputerKeys::release_all() {
    while (!held_.empty()) let_go(held_.begin()->first);
}

void ComputerKeys::let_go(int qt_key) {
    gone_.erase(qt_key);
    const auto it = held_.find(qt_key);
    if (it == held_.end()) return;
    const int key = it->second;
    held_.erase(it);
    const bool shared =
        std::any_of(held_.begin(), held_.end(), [key](const auto& h) { return h.second == key; });
    if (!shared) keyboard_->release(std::uint16_t(key));
}

bool ComputerKeys::ours(QObject* watched, int modifiers) const {
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != window_ || typing(w) || typing(window_->focusWidget()) ||
        typing(QApplication::focusWidget()))
        return false;
    return true;
}

bool ComputerKeys::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::WindowDeactivate && watched == window_) {
        release_all();  // a key released elsewhere would never reach us
        return false;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
    auto* e = static_cast<QKeyEvent*>(event);
    if (!ours(watched, int(e->modifiers()))) return false;
    const int qt_key = e->key();
    const bool press = type == QEvent::KeyPress;
    if (qt_key == Qt::Key_Minus || qt_key == Qt::Key_Equal) {
        if (press && !e->isAutoRepeat())
            base_ = std::clamp(base_ + (qt_key == Qt::Key_Minus ? -12 : 12), 0, 108);
        return true;
    }
    const int note = computer_key_note(qt_key);
    if (note < 0) return false;
    if (e->isAutoRepeat()) return true;
    if (press) {
        gone_.erase(qt_key);  // a repeat: the key never went up
        if (held_.count(qt_key)) return true;
        const int key = base_ + note;
        if (key > 127) return true;
        const bool sounding = std::any_of(held_.begin(), held_.end(),
                                          [key](const auto& h) { return h.second == key; });
        held_[qt_key] = key;
        if (!sounding) keyboard_->play(std::uint16_t(key), kVelocity);
    } else if (held_.count(qt_key) && !gone_.count(qt_key)) {
        const unsigned n = ++releases_;
        gone_[qt_key] = n;
        QTimer::singleShot(kRepeatGapMs, this, [this, qt_key, n] {
            if (auto it = gone_.find(qt_key); it != gone_.end() && it->second == n) let_go(qt_key);
        });
    }
    return true;
}
