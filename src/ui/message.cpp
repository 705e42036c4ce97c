#include "ui/message.h"

#include <QCoreApplication>

#include "ui/window_hints.h"

QEvent::Type MessageEvent::type() {
    static const auto t = static_cast<QEvent::Type>(QEvent::registerEventType());
    return t;
}

void post_message(QObject* target, const Message& m) {
    if (target) QCoreApplication::postEvent(target, new MessageEvent(m));
}

bool MyBWindow::event(QEvent* e) {
    if (e->type() == MessageEvent::type()) {
        MessageReceived(static_cast<MessageEvent*>(e)->message);
        return true;
    }
    // Shown but not yet mapped: the last moment the window manager reads its
    // type, and the moment to choose where the window goes.
    if (e->type() == QEvent::Show) {
        if (place_kind_ && !placed_) place_window(this, place_kind_);
        if (!placed_) asked_ = pos();
        placed_ = true;
        hold_window_hints(this);
    }
    // Moved by the user (the window system reports it), or closed elsewhere
    // than it was put.
    const bool moved = (e->type() == QEvent::Move && e->spontaneous()) || e->type() == QEvent::Hide;
    if (moved && place_kind_ && placed_ && pos() != asked_) remember_place(this, place_kind_);
    return QWidget::event(e);
}
