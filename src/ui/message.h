// Messages between windows: a four-character command code with named
// fields, carried as a Qt event so that any window (or a test) can post a
// code to another and each window answers it in its one handler.
#pragma once

#include <QEvent>
#include <QString>
#include <QStringList>
#include <QVariantHash>
#include <QWidget>
#include <cstdint>

#include "core/fourcc.h"

struct Message {
    std::uint32_t what = 0;
    QVariantHash fields;

    Message() = default;
    explicit Message(std::uint32_t code) : what(code) {}
    Message& add(const QString& name, const QVariant& value) {
        fields.insert(name, value);
        return *this;
    }
    qint64 int_field(const QString& name, qint64 fallback = 0) const {
        auto it = fields.find(name);
        return it == fields.end() ? fallback : it->toLongLong();
    }
    QString string_field(const QString& name) const { return fields.value(name).toString(); }
    // The file paths of a "refs" field.
    QStringList refs() const { return fields.value("refs").toStringList(); }
};

class MessageEvent : public QEvent {
  public:
    explicit MessageEvent(Message m) : QEvent(type()), message(std::move(m)) {}
    static QEvent::Type type();
    Message message;
};

// GUI thread. Queues `m` for `target`; it is handled when the event loop
// next runs. Codes a window does not know are dropped there.
void post_message(QObject* target, const Message& m);
inline void post_message(QObject* target, std::uint32_t code) {
    post_message(target, Message(code));
}

// A window with the one message handler. Messages posted to it arrive in
// `MessageReceived`.
class MyBWindow : public QWidget {
  public:
    explicit MyBWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = {})
        : QWidget(parent, flags) {}
    // GUI thread.
    virtual void MessageReceived(const Message& m) = 0;
    void PostMessage(const Message& m) { post_message(this, m); }
    void PostMessage(std::uint32_t code) { post_message(this, code); }
    // GUI thread, before the window is first shown. Windows of `kind` open
    // where the user last left one (place_window).
    void set_place_kind(const char* kind) { place_kind_ = kind; }

  protected:
    bool event(QEvent* e) override;

  private:
    const char* place_kind_ = nullptr;
    bool placed_ = false;
    QPoint asked_;  // where the window was put; any other place is the user's
};
