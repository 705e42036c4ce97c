#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "drawings.h"

QImage draw_led(QColor hue, bool lit) {
    QImage img(16, 16, QImage::Format_RGB32);
    img.fill(QColor(58, 56, 54));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Metal bezel.
    QLinearGradient ring(0, 0, 16, 16);
    ring.setColorAt(0, QColor(210, 208, 200));
    ring.setColorAt(1, QColor(70, 68, 64));
    p.setPen(Qt::NoPen);
    p.setBrush(ring);
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    p.setBrush(QColor(30, 28, 26));
    p.drawEllipse(QRectF(2.2, 2.2, 11.6, 11.6));
    // The lens: glowing when lit, a dim tint of the same colour when not.
    QRadialGradient lens(QPointF(7.0, 6.5), 6.5);
    if (lit) {
        lens.setColorAt(0, hue.lighter(190));
        lens.setColorAt(0.45, hue);
        lens.setColorAt(1, hue.darker(170));
    } else {
        const QColor dim = QColor::fromHsv(hue.hsvHue(), 200, 85);
        lens.setColorAt(0, dim.lighter(150));
        lens.setColorAt(1, dim.darker(200));
    }
    p.setBrush(lens);
    p.drawEllipse(QRectF(3, 3, 10, 10));
    // Reflection on the glass.
    p.setBrush(QColor(255, 255, 255, lit ? 190 : 110));
    p.drawEllipse(QRectF(5, 4.4, 3.2, 2.2));
    return img;
}

QImage draw_face(Face face, bool pressed) {
    QImage img(24, 24, QImage::Format_RGB32);
    img.fill(QColor(40, 38, 36));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Rounded key cap; a pressed cap is lit from below and sits lower.
    QLinearGradient cap(0, 0, 0, 24);
    cap.setColorAt(0, pressed ? QColor(120, 122, 126) : QColor(236, 236, 232));
    cap.setColorAt(1, pressed ? QColor(188, 190, 194) : QColor(150, 150, 146));
    p.setPen(QPen(QColor(20, 20, 20), 1));
    p.setBrush(cap);
    const QRectF body = pressed ? QRectF(1.5, 2.5, 21, 20) : QRectF(1.5, 1.5, 21, 20);
    p.drawRoundedRect(body, 4, 4);
    if (!pressed) {
        p.setPen(QPen(QColor(255, 255, 255, 170), 1));
        p.drawLine(QPointF(4.5, 2.5), QPointF(19.5, 2.5));
    }
    // Symbol: lit (green to play, red to stop) when the face is on, dark when off.
    const QColor on = face == Face::kStop ? QColor(235, 50, 40) : QColor(40, 220, 70);
    const QColor ink = pressed ? on : QColor(52, 52, 56);
    const double dy = pressed ? 1 : 0;
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    QPainterPath path;
    switch (face) {
        case Face::kPlay:
            path.moveTo(8.5, 6.5 + dy);
            path.lineTo(17.5, 11.5 + dy);
            path.lineTo(8.5, 16.5 + dy);
            path.closeSubpath();
            p.drawPath(path);
            break;
        case Face::kPlayBlock:
            // Play between two bars: play the marked block.
            p.drawRect(QRectF(5, 6.5 + dy, 2, 10));
            p.drawRect(QRectF(17, 6.5 + dy, 2, 10));
            path.moveTo(9, 7.5 + dy);
            path.lineTo(15.5, 11.5 + dy);
            path.lineTo(9, 15.5 + dy);
            path.closeSubpath();
            p.drawPath(path);
            break;
        case Face::kStop:
            p.drawRoundedRect(QRectF(7.5, 6.5 + dy, 9, 9), 1, 1);
            break;
    }
    return img;
}
