#include "ui/main/keyboard.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "core/sound.h"
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "ui/graphics.h"

namespace {

enum Shape { kBlack, kWidenRight, kWidenLeft, kNarrow };

struct PitchClass {
    int span_end;  // last offset r inside the octave that the mouse gives this key
    int offset;    // left of the highlight inside the octave
    Shape shape;
};

constexpr PitchClass kClasses[12] = {
    {7, 2, kWidenRight},  {10, 8, kBlack},       {16, 11, kNarrow}, {21, 17, kBlack},
    {28, 22, kWidenLeft}, {34, 29, kWidenRight}, {37, 35, kBlack},  {43, 38, kNarrow},
    {46, 44, kBlack},     {52, 47, kNarrow},     {57, 53, kBlack},  {62, 58, kWidenLeft},
};

constexpr int kOctave = 63;

// Fills the inclusive rectangle (l, t)-(r, b), shifted onto the keys.
void fill(QImage& img, int l, int t, int r, int b, QColor c, int style) {
    static const std::uint8_t pattern[8] = {0xAA, 0xCC, 0xAA, 0xCC, 0xAA, 0xCC, 0xAA, 0xCC};
    l += 10, r += 10, t += 10, b += 10;
    l = std::max(l, 0), t = std::max(t, 0);
    r = std::min(r, img.width() - 1), b = std::min(b, img.height() - 1);
    const QRgb rgb = c.rgb();
    for (int y = t; y <= b; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = l; x <= r; ++x)
            if (style == 0 || (pattern[y & 7] & (0x80 >> (x & 7)))) line[x] = rgb;
    }
}

}  // namespace

std::uint16_t piatonote(float x, float y) {
    if (x < 10 || x > 642 || y < 10 || y > 58) return kNoKey;
    const int octave = int((x - 10) / kOctave);
    const int r = int(std::trunc(x - 10)) % kOctave;
    int pc = 0;
    while (pc < 11 && r > kClasses[pc].span_end) ++pc;
    return std::uint16_t(12 * octave + pc);
}

void affonenote(std::uint16_t key, QColor white, QColor black, QImage& canvas, int style) {
    if (key >= 120) return;
    const int top = 0, bottom = canvas.height() - 1;
    const PitchClass& pc = kClasses[key % 12];
    const int L = kOctave * (key / 12) + pc.offset;
    switch (pc.shape) {
        case kBlack:
            fill(canvas, L, top + 1, L + 4, bottom - 40, black, style);
            break;
        case kWidenRight:
        case kWidenLeft:
            fill(canvas, L, top + 1, L + 5, bottom - 23, white, style);
            if (pc.shape == kWidenRight)
                fill(canvas, L, top + 28, L + 7, bottom - 23, white, style);
            else
                fill(canvas, L - 2, top + 28, L + 5, bottom - 23, white, style);
            break;
        case kNarrow:
            fill(canvas, L, top + 28, L + 7, bottom - 23, white, style);
            fill(canvas, L + 2, top + 1, L + 5, bottom - 40, white, style);
            break;
    }
}

QImage keyboard_picture() {
    const QImage& pic = picture(kPiano2);
    if (!pic.isNull()) return pic.convertToFormat(QImage::Format_RGB32);
    // A plain keyboard in the same geometry: 71 white keys of 9 pixels from
    // x = 10, black keys over them.
    QImage img(kKeyboardWidth, kKeyboardHeight, QImage::Format_RGB32);
    img.fill(QColor(40, 24, 14));
    QPainter p(&img);
    p.fillRect(9, 10, 71 * 9 + 1, 49, QColor(30, 30, 30));
    for (int i = 0; i < 71; ++i) p.fillRect(10 + 9 * i, 10, 8, 48, QColor(250, 248, 240));
    for (int key = 0; key < 120; ++key) {
        const PitchClass& pc = kClasses[key % 12];
        if (pc.shape != kBlack) continue;
        p.fillRect(10 + kOctave * (key / 12) + pc.offset, 10, 5, 28, QColor(15, 15, 15));
    }
    return img;
}

KeyboardView::KeyboardView(QRect frame, QWidget* parent) : QWidget(parent) {
    setGeometry(frame);
    setMouseTracking(true);
    redraw_held();
}

void KeyboardView::redraw_held() {
    canvas_ = keyboard_picture();
    for (const NOTE_LIST& v : nlist) {
        if (!v.playing() || v.release() >= 256) continue;
        const QColor c = channel_colour(int(v.channel) & 15);
        affonenote(std::uint16_t(v.key), c, c, canvas_, 0);
    }
    update();
}

void KeyboardView::affnote(int channel, std::uint16_t key, bool on, int style) {
    if (on) {
        const QColor c = channel_colour(channel & 15);
        affonenote(key, c, c, canvas_, style);
    } else {
        affonenote(key, Qt::white, Qt::black, canvas_, style);
    }
    update();
}

void KeyboardView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, canvas_);
}

void KeyboardView::hover(std::uint16_t key) {
    if (key == hover_) return;
    if (hover_ != kNoKey) affnote(1, hover_, false, 0);
    if (key != kNoKey) {
        affonenote(key, hover_colour(), hover_colour(), canvas_, 0);
        update();
    }
    hover_ = key;
}

void KeyboardView::mouseMoveEvent(QMouseEvent* e) {
    hover(piatonote(float(e->position().x()), float(e->position().y())));
}

void KeyboardView::leaveEvent(QEvent*) {
    hover(kNoKey);
}

void KeyboardView::mousePressEvent(QMouseEvent* e) {
    hover(piatonote(float(e->position().x()), float(e->position().y())));
    if (e->button() != Qt::LeftButton || hover_ == kNoKey) return;
    play(hover_, 127);
    played_ = hover_;
    playing_ = true;
}

void KeyboardView::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !playing_) return;
    playing_ = false;
    release(played_);
}

void KeyboardView::play(std::uint16_t key, int velocity) {
    const int s = no_s;
    if (Finst)
        addnote(0, key, t_invert[s & (kMaxSounds - 1)], std::uint32_t(velocity), true, 0, 0);
    else
        addnote(0, key, std::uint32_t(s), std::uint32_t(velocity), false, 0, 0);
}

void KeyboardView::release(std::uint16_t key) {
    delnote(0, key, std::uint32_t(int(no_s)), 100, -1);
}
