#include "ui/main/envelope_editor.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "core/sound.h"
#include "ui/alert.h"
#include "ui/graphics.h"
#include "ui/registry.h"

namespace {

p_s* current_sound() {
    const int s = no_s;
    return (s >= 0 && s < kMaxSounds) ? t_sound[s].load() : nullptr;
}

QImage grid_picture() {
    const QImage& g = picture(kGrille);
    if (!g.isNull()) return g.convertToFormat(QImage::Format_RGB32);
    QImage img(kEnvelopeWidth, kEnvelopeHeight, QImage::Format_RGB32);
    img.fill(QColor(12, 24, 16));
    QPainter p(&img);
    p.setPen(QColor(40, 90, 50));
    for (int t = 0; t <= 256; t += 32) p.drawLine(env_x(t), 12, env_x(t), 172);
    for (int l = 0; l <= 128; l += 16) p.drawLine(10, env_y(l), 282, env_y(l));
    return img;
}

}  // namespace

int env_time_at(int x) {
    return std::clamp((x - 10) * 256 / 272, 0, 255);
}
int env_level_at(int y) {
    return std::clamp((172 - y) * 128 / 160, 0, 128);
}

std::uint16_t env_pick(const int xs[5], int x) {
    for (int i = 0; i < 4; ++i) {
        if (xs[i] <= x && x <= xs[i + 1])
            return std::uint16_t(x < xs[i] + (xs[i + 1] - xs[i]) / 2 ? i : i + 1);
    }
    return 0xFFFF;
}

void env_xs(const p_s* sound, int curve, int xs[5]) {
    for (int p = 0; p < 5; ++p) xs[p] = p == 0 ? 10 : env_x(sound->env[p][curve] >> 8);
}

void env_drag(p_s* sound, int curve, int point, int time, int level) {
    if (point < 0 || point > 4 || curve < 0 || curve > 4) return;
    const auto word = [](int t, int l) { return std::uint16_t((t << 8) | l); };
    switch (point) {
        case 0:
            sound->env[0][curve] = word(0, level);
            break;
        case 4:
            sound->env[4][curve] = word(255, level);
            break;
        default:
            sound->env[point][curve] = word(time, level);
            if (curve == kCurveVelocity && (point == 2 || point == 3)) {
                const int other = point == 2 ? 3 : 2;
                sound->env[other][curve] =
                    std::uint16_t((sound->env[other][curve] & 0xFF00) | level);
            }
    }
}

QStringList env_presets(int curve) {
    if (curve == kCurveVelocity) return {"Set Maximum", "Fade in", "Fade out"};
    if (curve == kCurvePanoramic)
        return {"Set Left", "Set Mono", "Set Right", "Left to Right", "Inverse"};
    return {};
}

void env_apply_preset(p_s* sound, int curve, int item) {
    const QStringList names = env_presets(curve);
    if (item < 0 || item >= names.size()) return;
    const QString name = names[item];
    if (name == "Inverse") {
        for (int p = 0; p < 5; ++p) {
            const std::uint16_t w = sound->env[p][curve];
            sound->env[p][curve] = std::uint16_t((w & 0xFF00) + 128 - (w & 0xFF));
        }
        return;
    }
    static const int maximum[5] = {128, 128, 128, 128, 128}, rise[5] = {0, 32, 64, 96, 128},
                     fall[5] = {128, 96, 64, 32, 0}, mono[5] = {64, 64, 64, 64, 64},
                     zero[5] = {0, 0, 0, 0, 0};
    const int* levels = maximum;
    if (name == "Fade in") levels = rise;
    if (name == "Fade out" || name == "Left to Right") levels = fall;
    if (name == "Set Mono") levels = mono;
    if (name == "Set Right") levels = zero;
    for (int p = 0; p < 5; ++p)
        sound->env[p][curve] = std::uint16_t(((p == 4 ? 255 : 64 * p) << 8) | levels[p]);
}

EnvelopeView::EnvelopeView(QRect frame, QWidget* parent) : QWidget(parent) {
    setGeometry(frame);
    setMouseTracking(true);
    canvas_ = grid_picture();
}

void EnvelopeView::aff_ADSR() {
    p_s* sound = current_sound();
    if (!sound) return;  // the view keeps its last picture
    if (on_redraw_) on_redraw_();
    canvas_ = grid_picture();
    QPainter p(&canvas_);
    p.setRenderHint(QPainter::Antialiasing);
    const int c = no_courbe;
    QPoint pts[5];
    for (int i = 0; i < 5; ++i) {
        const std::uint16_t w = sound->env[i][c];
        pts[i] = QPoint(i == 0 ? 10 : env_x(w >> 8), env_y(w & 0xFF));
    }
    p.setPen(QPen(QColor(255, 0, 0), 1));
    for (int i = 0; i < 4; ++i) p.drawLine(pts[i], pts[i + 1]);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) {
        p.setBrush(i == old_sel ? QColor(255, 255, 0) : QColor(255, 0, 0));
        p.drawEllipse(pts[i], 3, 3);
    }
    update();
}

bool EnvelopeView::build_pop(QPoint where) {
    if (no_courbe == kCurveVelocityOff) return false;
    const int curve = no_courbe;
    const int item = run_popup(env_presets(curve), where);
    p_s* sound = current_sound();
    if (item >= 0 && sound) env_apply_preset(sound, curve, item);
    aff_ADSR();
    return true;
}

void EnvelopeView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, canvas_);
}

void EnvelopeView::mouseMoveEvent(QMouseEvent* e) {
    p_s* sound = current_sound();
    if (!sound) return;
    int xs[5];
    env_xs(sound, no_courbe, xs);
    const std::uint16_t sel = env_pick(xs, int(e->position().x()));
    if (sel != old_sel) {
        old_sel = sel;
        aff_ADSR();
    }
    if (e->buttons() & Qt::LeftButton) press(e->position().toPoint());
}

void EnvelopeView::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    press(e->position().toPoint());
}

void EnvelopeView::press(QPoint at) {
    p_s* sound = current_sound();
    if (!sound || old_sel == 0xFFFF) return;
    env_drag(sound, no_courbe, old_sel, env_time_at(at.x()), env_level_at(at.y()));
    aff_ADSR();
}
