// The lamp check box: a 16 x 16 green lamp that toggles, with a bold label
// to its right, both placed in the parent given.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QPointer>
#include <cstdint>

// A two-state lamp of 16 x 16 pixels showing the pictures `on` and `off`
// (or, without them, a round lamp of `colour`).
class LampButton : public QAbstractButton {
  public:
    LampButton(QWidget* parent, int on, int off, QColor colour);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int on_, off_;
    QColor colour_;
};

class mycheck {
  public:
    // GUI thread. `code` (0 for none) is posted to `target` on each click.
    mycheck(QRect frame, const QString& label, std::uint32_t code, QObject* target,
            QWidget* parent);
    // Removes the lamp and the label from their window.
    ~mycheck();
    mycheck(const mycheck&) = delete;
    mycheck& operator=(const mycheck&) = delete;

    int Value() const { return lamp_ && lamp_->isChecked() ? 1 : 0; }
    void SetValue(int v);
    LampButton* lamp() const { return lamp_; }

  private:
    QPointer<LampButton> lamp_;
    QPointer<QLabel> label_;
};
