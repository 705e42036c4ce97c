#include <QPainter>
#include <algorithm>
#include <cmath>

#include "drawings.h"

namespace {

double lattice(int x, int y, int px, int py, unsigned seed) {
    x = ((x % px) + px) % px;
    y = ((y % py) + py) % py;
    unsigned h = static_cast<unsigned>(x) * 374761393u + static_cast<unsigned>(y) * 668265263u +
                 seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / double(0xFFFFFF);
}

double smooth(double t) {
    return t * t * (3 - 2 * t);
}

}  // namespace

double tiled_noise(double x, double y, int px, int py, unsigned seed) {
    const int ix = static_cast<int>(std::floor(x));
    const int iy = static_cast<int>(std::floor(y));
    const double fx = smooth(x - ix);
    const double fy = smooth(y - iy);
    const double a = lattice(ix, iy, px, py, seed);
    const double b = lattice(ix + 1, iy, px, py, seed);
    const double c = lattice(ix, iy + 1, px, py, seed);
    const double d = lattice(ix + 1, iy + 1, px, py, seed);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}

QImage draw_bois() {
    // Horizontal planks of 64 rows; the grain runs along x. Every term
    // repeats over 256 pixels so the texture tiles without seams.
    constexpr int kSize = 256;
    QImage img(kSize, kSize, QImage::Format_RGB32);
    const QColor light(206, 160, 106), dark(138, 86, 44);
    for (int y = 0; y < kSize; ++y) {
        const int plank = y / 64;
        const int py = y % 64;
        for (int x = 0; x < kSize; ++x) {
            // Warp: slow bends of the grain along the plank.
            const double warp = 9.0 * tiled_noise(x / 32.0, y / 16.0, 8, 16, 11 + plank) +
                                3.0 * tiled_noise(x / 8.0, y / 8.0, 32, 32, 23 + plank);
            // Growth rings cut across: a sine of the warped row.
            const double rings = 0.5 + 0.5 * std::sin((py + warp) * 2 * M_PI / (9.0 + plank));
            // Fine fibres: noise stretched along the grain.
            const double fibre = tiled_noise(x / 64.0, y * 1.0, 4, 256, 37 + plank);
            const double speck = tiled_noise(x / 2.0, y / 2.0, 128, 128, 51);
            double t = 0.55 * std::pow(rings, 3.0) + 0.3 * fibre + 0.15 * speck;
            t += 0.08 * (plank % 2 ? -1 : 1);  // planks differ a little in tone
            // Dark joint between planks, with a soft edge.
            if (py == 0) t = 1.5;
            if (py == 1 || py == 63) t = std::max(t, 1.1);
            t = std::clamp(t, 0.0, 1.5);
            const double k = std::min(t, 1.0);
            int r = static_cast<int>(light.red() + (dark.red() - light.red()) * k);
            int g = static_cast<int>(light.green() + (dark.green() - light.green()) * k);
            int b = static_cast<int>(light.blue() + (dark.blue() - light.blue()) * k);
            if (t > 1.0) {
                r = r * 2 / 3;
                g = g * 2 / 3;
                b = b * 2 / 3;
            }
            img.setPixel(x, y, qRgb(r, g, b));
        }
    }
    return img;
}

QImage wood(int width, int height, double shade) {
    static const QImage tile = draw_bois();
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb p = tile.pixel(x % 256, y % 256);
            img.setPixel(
                x, y,
                qRgb(std::min(255, int(qRed(p) / shade)), std::min(255, int(qGreen(p) / shade)),
                     std::min(255, int(qBlue(p) / shade))));
        }
    }
    return img;
}

void bevel(QImage& img, const QRect& r, int depth, bool raised, int strength) {
    for (int i = 0; i < depth; ++i) {
        const int amount = strength * (depth - i) / depth;
        const QRect e = r.adjusted(i, i, -i, -i);
        for (int x = e.left(); x <= e.right(); ++x) {
            for (int y : {e.top(), e.bottom()}) {
                const bool lit = (y == e.top()) == raised;
                const QColor c = QColor(img.pixel(x, y));
                img.setPixel(x, y, (lit ? c.lighter(100 + amount) : c.darker(100 + amount)).rgb());
            }
        }
        for (int y = e.top() + 1; y < e.bottom(); ++y) {
            for (int x : {e.left(), e.right()}) {
                const bool lit = (x == e.left()) == raised;
                const QColor c = QColor(img.pixel(x, y));
                img.setPixel(x, y, (lit ? c.lighter(100 + amount) : c.darker(100 + amount)).rgb());
            }
        }
    }
}
