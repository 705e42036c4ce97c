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
    // Shown but not yet mapped: the last moment the window manager reads its type.
    if (e->type() == QEvent::Show) hold_window_hints(this);
    return QWidget::event(e);
}
