// The oscilloscope "Oscillo": the first 128 frames of the last rendered
// buffer, left channel in one black screen and right in the other, redrawn
// every 50 ms from the render callback's snapshot.
#pragma once

#include <QImage>
#include <QTimer>
#include <cstdint>

#include "engine/scope.h"
#include "ui/message.h"

constexpr int kOscWidth = 128;
constexpr int kOscHeight = 64;
constexpr int kOscRowBytes = kOscWidth / 8;

// The row a sample is drawn on: +1.0 on row 0, 0 on row 32, -1.0 and below
// on row 63 (the value is truncated toward zero after scaling by 32).
int osc_row(float v);

// A one-bit trace image: 16 bytes per row, 64 rows, bit 7 of a byte its
// leftmost pixel. Draws one dot per column for `n` samples (at most 128).
void osc_trace(const float* samples, int n, std::uint8_t (&image)[kOscRowBytes * kOscHeight]);

class OscWindow;

class OscBBox : public QWidget {
  public:
    OscBBox(OscWindow* owner, QRect frame);
    // GUI thread. Reads the snapshot and redraws both screens.
    void Pulse();

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    OscWindow* owner_;
};

class OscWindow : public MyBWindow {
  public:
    OscWindow();
    void MessageReceived(const Message& m) override;

    OscBBox* box() const { return box_; }
    // The screens as last drawn: set bits red, clear bits black.
    const QImage& left_screen() const { return screens_[0]; }
    const QImage& right_screen() const { return screens_[1]; }
    const std::uint8_t* left_image() const { return images_[0]; }
    const std::uint8_t* right_image() const { return images_[1]; }

  private:
    friend class OscBBox;
    std::uint8_t images_[2][kOscRowBytes * kOscHeight] = {};
    QImage screens_[2];
    ScopeTrace trace_;
    OscBBox* box_;
    QTimer pulse_;
};

// GUI thread. Opens the oscilloscope, or brings the open one to the front.
OscWindow* appel_osc();
