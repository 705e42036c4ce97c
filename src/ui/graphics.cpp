#include "ui/graphics.h"

#include <QPainter>
#include <array>

namespace {

std::array<QImage, kPicCount>& store() {
    static std::array<QImage, kPicCount> pics;
    return pics;
}

}  // namespace

void set_picture(int index, int width, int height, const std::uint8_t* rgb) {
    if (index < 0 || index >= kPicCount || width <= 0 || height <= 0) return;
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        const std::uint8_t* p = rgb + std::size_t(y) * width * 3;
        for (int x = 0; x < width; ++x, p += 3) line[x] = qRgb(p[0], p[1], p[2]);
    }
    store()[index] = img;
}

void clear_pictures() {
    for (QImage& i : store()) i = QImage();
}

const QImage& picture(int index) {
    static const QImage none;
    if (index < 0 || index >= kPicCount) return none;
    return store()[index];
}

QImage picture_or(int index, int w, int h, QColor fill) {
    const QImage& p = picture(index);
    if (!p.isNull()) return p;
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(fill);
    return img;
}

const QImage& wood() {
    static QImage plain;
    if (!picture(kBois).isNull()) return picture(kBois);
    if (plain.isNull()) {
        plain = QImage(256, 256, QImage::Format_RGB32);
        plain.fill(QColor(150, 100, 60));
    }
    return plain;
}

void draw_streamed_label(QPainter& p, QFont font) {
    font.setPixelSize(25);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(100, 50, "D2D File");
}
