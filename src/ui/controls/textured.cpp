#include "ui/controls/textured.h"

#include <algorithm>

#include "ui/graphics.h"

namespace {

// The shading factor of pixel (x, y): below 1 lightens, above 1 darkens.
// W and H are the image's right and bottom coordinates.
float factor(int x, int y, int W, int H, bool down) {
    float d = 1.0f;
    if (!down) {
        if (y <= 2) d = y / 12.0f + 0.7f;
        if (x >= W - 3) d = float(x - W + 3) / 3.0f + 1.0f;
        if (x <= 2 && d == 1.0f) d = x / 12.0f + 0.7f;
        if (y > H - 3) d = float(y - H + 3) / 3.0f + 1.0f;
    } else {
        if (y <= 2) d = float(2 - y) / 3.0f + 1.0f;
        if (x >= W - 3) d = float(W - x) / 12.0f + 0.7f;
        if (x <= 2 && d == 1.0f) d = float(2 - x) / 3.0f + 1.0f;
        if (y > H - 3) d = float(H - y) / 12.0f + 0.7f;
    }
    return d;
}

int shade_channel(int c, float d) {
    return std::min(255, int(c / d));
}

}  // namespace

QImage textured(int width, int height, Shade shade) {
    QImage out(width, height, QImage::Format_RGB32);
    out.fill(Qt::black);
    const QImage& tex = wood();
    const int W = width - 1, H = height - 1;
    for (int y = 0; y < H; ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(tex.constScanLine(y % tex.height()));
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < W; ++x) {
            float d = factor(x, y, W, H, shade == Shade::kDown);
            // A label's darker band along its bottom and right edges.
            if (shade == Shade::kLabel && ((y >= H - 2 && x >= 3) || (x >= W - 2 && y >= 3)))
                d = 1.8f;
            const QRgb t = src[x % tex.width()];
            dst[x] = qRgb(shade_channel(qRed(t), d), shade_channel(qGreen(t), d),
                          shade_channel(qBlue(t), d));
        }
    }
    return out;
}
