// The textured push button. Types 0 and 46 (the channel window's instrument
// and MIDI input buttons) and 2 (the envelope preset button) open their
// pop-up on a press instead of clicking, whenever the pop-up function
// accepts; type 36 is a plain button.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <functional>

#include "ui/message.h"

class MyBButton : public QAbstractButton {
  public:
    // GUI thread. `code` is posted to `target` when the button is clicked.
    MyBButton(int type, QRect frame, const QString& label, std::uint32_t code, QObject* target,
              QWidget* parent);

    int type() const { return type_; }
    // 0 shows the up image, 1 the down image (a lamp such as "Loop").
    void SetValue(int value);
    int Value() const { return value_; }
    // Called with the screen point of a press that opens a pop-up.
    void set_popup(std::function<bool(QPoint)> popup) { popup_ = std::move(popup); }

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;

  private:
    int type_;
    int value_ = 0;
    QImage up_, down_;
    std::function<bool(QPoint)> popup_;
};
