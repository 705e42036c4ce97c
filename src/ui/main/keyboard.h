// The on-screen keyboard: ten octaves and a C of keys 9 pixels wide, held
// keys lit in their MIDI channel's colour, the key under the mouse lit, and
// mouse presses playing the selected sound or instrument on channel 0.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <cstdint>

constexpr std::uint16_t kNoKey = 0xFFFF;
constexpr int kKeyboardWidth = 652;
constexpr int kKeyboardHeight = 68;

// Any thread. The key under (x, y) in keyboard coordinates, or kNoKey.
std::uint16_t piatonote(float x, float y);
// The colour a key is lit in for `channel`.
inline QColor channel_colour(int channel) {
    return QColor(255, 16 * channel, 0);
}
// The colour of the key under the mouse: a blue that no channel's
// red-to-yellow comes near.
inline QColor hover_colour() {
    return QColor(70, 150, 255);
}
// GUI thread. Paints the highlight of `key` into `canvas` (a keyboard image
// whose top-left is the keyboard's); style 0 solid, 1 or more stippled.
void affonenote(std::uint16_t key, QColor white, QColor black, QImage& canvas, int style);
// GUI thread. The keyboard picture, or a plain drawn one when the picture
// file had none.
QImage keyboard_picture();

class KeyboardView : public QWidget {
  public:
    KeyboardView(QRect frame, QWidget* parent);

    // GUI thread. Recomposes the keyboard from its picture and the voices
    // held now, and shows it.
    void redraw_held();
    // GUI thread. Paints one key lit in `channel`'s colour, or unlit.
    void affnote(int channel, std::uint16_t key, bool on, int style);
    // GUI thread. Starts `key` on channel 0 with the selected sound, or with
    // its instrument while an instrument row is selected; releases it.
    void play(std::uint16_t key, int velocity);
    void release(std::uint16_t key);
    std::uint16_t hover_key() const { return hover_; }
    std::uint16_t played_key() const { return played_; }
    const QImage& canvas() const { return canvas_; }

  protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent*) override;

  private:
    void hover(std::uint16_t key);

    QImage canvas_;
    std::uint16_t hover_ = kNoKey;
    std::uint16_t played_ = kNoKey;
    bool playing_ = false;
};
