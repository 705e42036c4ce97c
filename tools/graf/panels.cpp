#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <algorithm>

#include "drawings.h"

namespace {

// A recessed window in a panel: dark rim, then the given fill.
void recess(QImage& img, const QRect& r, const QColor& fill) {
    {
        QPainter p(&img);
        p.fillRect(r, fill);
    }
    bevel(img, r.adjusted(-2, -2, 2, 2), 2, false, 90);
}

void screw(QPainter& p, QPointF c) {
    QRadialGradient g(c - QPointF(1, 1), 3.5);
    g.setColorAt(0, QColor(235, 235, 230));
    g.setColorAt(1, QColor(90, 90, 88));
    p.setPen(QPen(QColor(40, 40, 40), 0.8));
    p.setBrush(g);
    p.drawEllipse(c, 2.8, 2.8);
    p.setPen(QPen(QColor(50, 50, 50), 1));
    p.drawLine(c + QPointF(-1.8, 1.2), c + QPointF(1.8, -1.2));
}

// Brushed metal: fine horizontal streaks.
QImage metal(int w, int h, int base) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double n = tiled_noise(x / 40.0, y * 1.0, 64, 512, 7) - 0.5;
            const int v = std::clamp(static_cast<int>(base + 26 * n - 10.0 * y / h), 0, 255);
            img.setPixel(x, y, qRgb(v, v, std::min(255, v + 4)));
        }
    }
    return img;
}

}  // namespace

// Envelope grid: time 0..255 over x = 10..280, level 0..128 over
// y = 172..12 (level 64 on y = 92).
QImage draw_grille() {
    QImage img(292, 180, QImage::Format_RGB32);
    QLinearGradient bg(0, 0, 0, 180);
    bg.setColorAt(0, QColor(22, 30, 40));
    bg.setColorAt(1, QColor(10, 14, 20));
    {
        QPainter p(&img);
        p.fillRect(img.rect(), bg);
        for (int i = 0; i <= 16; ++i) {  // every 16 time units
            const int x = 10 + i * 272 / 16;
            p.setPen(i % 4 == 0 ? QColor(60, 86, 110) : QColor(32, 46, 60));
            p.drawLine(x, 12, x, 172);
        }
        for (int l = 0; l <= 128; l += 16) {
            const int y = 172 - l * 160 / 128;
            p.setPen(l % 64 == 0 ? QColor(60, 86, 110) : QColor(32, 46, 60));
            p.drawLine(10, y, 282, y);
        }
        p.setPen(QColor(96, 132, 160));
        QFont f("DejaVu Sans", 6);
        f.setPixelSize(8);
        p.setFont(f);
        p.drawText(QRect(250, 1, 40, 10), Qt::AlignRight, "128");
        p.drawText(QRect(250, 83, 40, 10), Qt::AlignRight, "64");
        p.drawText(QRect(250, 170, 40, 10), Qt::AlignRight, "0");
    }
    bevel(img, img.rect(), 2, false, 80);
    return img;
}

// Waveform overview: the 512 x 64 silhouette is drawn in black at (10, 10).
QImage draw_fondsam() {
    QImage img = metal(532, 84, 150);
    QLinearGradient lcd(0, 10, 0, 74);
    lcd.setColorAt(0, QColor(196, 210, 170));
    lcd.setColorAt(1, QColor(172, 190, 146));
    {
        QPainter p(&img);
        p.fillRect(QRect(10, 10, 512, 64), lcd);
        p.setPen(QColor(160, 176, 136));
        for (int x = 10; x < 522; x += 32) p.drawLine(x, 10, x, 73);
        p.setPen(QColor(140, 158, 118));
        p.drawLine(10, 42, 521, 42);
        p.setRenderHint(QPainter::Antialiasing);
        screw(p, QPointF(4.5, 4.5));
        screw(p, QPointF(527.5, 4.5));
        screw(p, QPointF(4.5, 79.5));
        screw(p, QPointF(527.5, 79.5));
    }
    bevel(img, QRect(8, 8, 516, 68), 2, false, 90);
    bevel(img, img.rect(), 2, true, 50);
    return img;
}

// Oscilloscope panel, tiled twice: a bezel around each 128 x 64 screen
// (at x = 15 in the first tile and x = 16 in the second).
QImage draw_fondosc() {
    QImage img = metal(160, 94, 170);
    {
        QPainter p(&img);
        p.fillRect(QRect(12, 12, 136, 70), QColor(36, 36, 38));
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QColor(70, 70, 74));
        QFont f("DejaVu Sans", 6, QFont::Bold);
        f.setPixelSize(8);
        p.setFont(f);
        p.drawText(QRect(12, 83, 136, 10), Qt::AlignCenter, "OUTPUT");
        screw(p, QPointF(5, 5));
        screw(p, QPointF(154, 5));
        screw(p, QPointF(5, 88));
        screw(p, QPointF(154, 88));
    }
    bevel(img, QRect(10, 10, 140, 74), 2, false, 100);
    return img;
}

// Sound tree panel: the tree shows its rows over (18, 19)-(284, 159) and
// the name field sits at (14, 186)-(290, 211).
QImage draw_bout() {
    QImage img = wood(320, 220, 1.35);
    bevel(img, img.rect(), 3, true, 60);
    recess(img, QRect(16, 17, 271, 145), QColor(240, 232, 212));
    {
        QPainter p(&img);
        QLinearGradient shade(0, 17, 0, 40);
        shade.setColorAt(0, QColor(0, 0, 0, 40));
        shade.setColorAt(1, QColor(0, 0, 0, 0));
        p.fillRect(QRect(16, 17, 271, 23), shade);
        p.setRenderHint(QPainter::Antialiasing);
        QFont f("DejaVu Sans", 8, QFont::Bold);
        f.setPixelSize(11);
        p.setFont(f);
        p.setPen(QColor(255, 236, 200, 200));
        p.drawText(QRect(16, 2, 271, 14), Qt::AlignLeft | Qt::AlignVCenter, "Instruments");
        p.drawText(QRect(16, 166, 271, 16), Qt::AlignLeft | Qt::AlignVCenter, "Instrument name");
    }
    bevel(img, QRect(10, 183, 300, 32), 2, false, 70);
    return img;
}

// Behind the menu bar (701 x 16).
QImage draw_bbar() {
    QImage img(701, 16, QImage::Format_RGB32);
    QLinearGradient g(0, 0, 0, 16);
    g.setColorAt(0, QColor(246, 240, 226));
    g.setColorAt(1, QColor(208, 196, 172));
    QPainter p(&img);
    p.fillRect(img.rect(), g);
    p.setPen(QColor(120, 96, 64));
    p.drawLine(0, 15, 700, 15);
    return img;
}

// A status strip along a window's foot (701 x 20).
QImage draw_fondbar() {
    QImage img = wood(701, 20, 1.6);
    bevel(img, img.rect(), 2, true, 60);
    return img;
}
