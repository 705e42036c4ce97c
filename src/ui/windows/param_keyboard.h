// The keyboard of the sample and instrument parameter windows: it shows key
// ranges in colour, names the key under the mouse, and passes presses on
// to its window, which sets a range end from them.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

class ParamKeyboard : public QWidget {
  public:
    // GUI thread. `frame` is in the parent's coordinates.
    ParamKeyboard(QRect frame, QWidget* parent);

    // Paints the ranges over the keyboard picture.
    std::function<void(QImage&)> compose;
    // The key under the mouse changed: 0..120, or -1 off the keys.
    std::function<void(int key)> hovered;
    // A press with `buttons` held, over `key` (never called off the keys).
    std::function<void(int key, Qt::MouseButtons buttons)> pressed;

    int hover_key() const { return hover_; }
    // GUI thread. The keyboard as it draws itself now.
    QImage composed() const;

  protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent*) override;

  private:
    void hover(int key);

    int hover_ = -1;
};
