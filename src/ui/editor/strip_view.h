// One waveform strip of the sample editor: the `fondsam` background with a
// 512 x 64 column image at (10, 10), some columns drawn again in a colour
// (the visible range in the overview, the block in the zoom strip), or
// "D2D File" for a sound streamed from disk.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

#include "edit/strip.h"

class StripView : public QWidget {
  public:
    // `number` is 2 for the overview, 3 for the zoom strip.
    StripView(int number, QRect frame, QColor highlight, QWidget* parent);

    int number() const { return number_; }
    // GUI thread. Takes a new column image and what to draw over it.
    void set_image(const ColumnImage& img, ColumnSpan span, bool highlight, bool streamed);
    // The strip as it is drawn now (532 x 84).
    const QImage& composed() const { return composed_; }

    // Mouse hooks: a press (x in strip coordinates, primary button or not),
    // and a drag with the primary button from the press to x.
    std::function<void(int x, bool primary)> on_press;
    std::function<void(int x0, int x1)> on_drag;

  protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

  private:
    void compose();

    int number_;
    QColor colour_;
    ColumnImage bits_{};
    ColumnSpan span_{0, 0};
    bool highlight_ = false;
    bool streamed_ = false;
    QImage composed_;
    int press_x_ = -1;
    bool dragging_ = false;
};
