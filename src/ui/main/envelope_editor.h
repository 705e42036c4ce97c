// The envelope editor: one curve of the selected sound drawn as four line
// segments through its five points, a point picked by the mouse's x and
// dragged, and the preset shapes of the amplitude and pan curves.
#pragma once

#include <QImage>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>

struct p_s;

constexpr int kEnvelopeWidth = 292;
constexpr int kEnvelopeHeight = 180;

// View mapping. Times 0..255 span x = 10..280, levels 0..128 span y = 172..12.
inline int env_x(int time) {
    return 10 + time * 272 / 256;
}
inline int env_y(int level) {
    return 172 - level * 160 / 128;
}
int env_time_at(int x);   // clamped to 0..255
int env_level_at(int y);  // clamped to 0..128
// The point picked by a mouse at `x` among points at `xs`, or 0xFFFF.
std::uint16_t env_pick(const int xs[5], int x);
// The x positions of the five points of `curve` of `sound`.
void env_xs(const p_s* sound, int curve, int xs[5]);
// GUI thread. Moves point `point` of `curve` to (`time`, `level`) with the
// editor's rules: point 0 stays at time 0, point 4 at time 255, and on the
// "Velocity" curve points 2 and 3 share their level.
void env_drag(p_s* sound, int curve, int point, int time, int level);

// The preset names of a curve (none for "Start Sound" and "Coarse tune").
QStringList env_presets(int curve);
// GUI thread. Rewrites `curve` of `sound` with preset `item` of env_presets(curve).
void env_apply_preset(p_s* sound, int curve, int item);

class EnvelopeView : public QWidget {
  public:
    EnvelopeView(QRect frame, QWidget* parent);
    // Called before each redraw so the "On" box follows the sound.
    void set_on_redraw(std::function<void()> f) { on_redraw_ = std::move(f); }
    // GUI thread. Redraws the curve of the selected sound.
    void aff_ADSR();
    // GUI thread. The preset menu at the screen point `where`; false while
    // the release curve is shown (the button then acts as a plain one).
    bool build_pop(QPoint where);
    const QImage& canvas() const { return canvas_; }

  protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

  private:
    void press(QPoint at);

    QImage canvas_;
    std::function<void()> on_redraw_;
};
