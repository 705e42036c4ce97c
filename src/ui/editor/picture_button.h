// The editor's preview buttons: two-state buttons drawn with two 24 x 24
// pictures of the picture file.
#pragma once

#include <QAbstractButton>
#include <cstdint>

// A two-state button drawn with two 24 x 24 pictures.
class PictureButton : public QAbstractButton {
  public:
    PictureButton(QRect frame, int on, int off, std::uint32_t code, QObject* target,
                  QWidget* parent);
    void SetValue(int v);
    int Value() const { return value_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int on_, off_, value_ = 0;
};
