#include "ui/message.h"

#include <QCoreApplication>

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
    return QWidget::event(e);
}
