#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

#include "drawings.h"

// The about picture (332 x 234): the title over a night sky, a waveform
// running into a small keyboard.
QImage draw_plexora() {
    constexpr int kW = 332, kH = 234;
    QImage img(kW, kH, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient sky(0, 0, 0, kH);
    sky.setColorAt(0, QColor(14, 18, 46));
    sky.setColorAt(0.6, QColor(48, 22, 72));
    sky.setColorAt(1, QColor(90, 30, 60));
    p.fillRect(img.rect(), sky);
    QRadialGradient glow(QPointF(kW / 2.0, 92), 150);
    glow.setColorAt(0, QColor(255, 140, 60, 70));
    glow.setColorAt(1, QColor(255, 140, 60, 0));
    p.fillRect(img.rect(), glow);

    // A few stars.
    for (int i = 0; i < 60; ++i) {
        const double x = tiled_noise(i * 1.37, 0.5, 1000, 1000, 3) * kW;
        const double y = tiled_noise(i * 2.11, 7.5, 1000, 1000, 5) * 120;
        const int a = 80 + static_cast<int>(170 * tiled_noise(i * 0.7, 3.3, 1000, 1000, 9));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 240, a));
        p.drawEllipse(QPointF(x, y), 0.8, 0.8);
    }

    // Waveform: a decaying tone sweeping across the picture.
    QPainterPath wave;
    for (int x = 0; x <= kW; ++x) {
        const double t = x / double(kW);
        const double y = 150 - 26 * std::exp(-2.2 * t) * std::sin(t * 2 * M_PI * 9.5) *
                                   (0.6 + 0.4 * std::sin(t * 2 * M_PI * 1.5));
        if (x == 0) {
            wave.moveTo(x, y);
        } else {
            wave.lineTo(x, y);
        }
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(80, 240, 200, 60), 6));
    p.drawPath(wave);
    p.setPen(QPen(QColor(140, 255, 220), 1.6));
    p.drawPath(wave);

    // Title.
    QFont title("DejaVu Serif", 40, QFont::Bold);
    title.setPixelSize(58);
    title.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    QPainterPath text;
    text.addText(0, 0, title, "Plexora");
    const QRectF box = text.boundingRect();
    text.translate((kW - box.width()) / 2 - box.left(), 78 - box.top() - box.height() / 2 + 8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 120));
    p.drawPath(text.translated(3, 3));
    QLinearGradient gold(0, 50, 0, 110);
    gold.setColorAt(0, QColor(255, 244, 190));
    gold.setColorAt(0.5, QColor(240, 170, 60));
    gold.setColorAt(1, QColor(170, 90, 30));
    p.setBrush(gold);
    p.setPen(QPen(QColor(90, 40, 10), 1.2));
    p.drawPath(text);

    QFont sub("DejaVu Sans", 10);
    sub.setPixelSize(13);
    sub.setItalic(true);
    p.setFont(sub);
    p.setPen(QColor(230, 220, 255));
    p.drawText(QRect(0, 106, kW, 18), Qt::AlignCenter, "the virtual Midi sampler");

    // Keyboard along the foot: three octaves.
    const int top = 186, bottom = 226, left = 19, key = 14;
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(QRect(left - 4, top - 5, 21 * key + 9, bottom - top + 9), QColor(20, 12, 10));
    p.fillRect(QRect(left - 4, top - 5, 21 * key + 9, 2), QColor(150, 20, 30));
    for (int k = 0; k < 21; ++k) {
        QLinearGradient ivory(0, top, 0, bottom);
        ivory.setColorAt(0, QColor(250, 248, 240));
        ivory.setColorAt(1, QColor(214, 208, 196));
        p.fillRect(QRect(left + k * key, top, key - 1, bottom - top), ivory);
    }
    static const bool kHasBlack[7] = {true, true, false, true, true, true, false};
    for (int k = 0; k < 20; ++k) {
        if (!kHasBlack[k % 7]) continue;
        const int x = left + k * key + key - 5;
        QLinearGradient ebony(0, top, 0, top + 24);
        ebony.setColorAt(0, QColor(60, 60, 64));
        ebony.setColorAt(1, QColor(8, 8, 10));
        p.fillRect(QRect(x, top, 9, 24), ebony);
    }
    p.setPen(QColor(255, 255, 255, 90));
    p.drawLine(0, 0, kW - 1, 0);
    return img;
}
