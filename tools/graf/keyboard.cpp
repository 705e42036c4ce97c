#include <QLinearGradient>
#include <QPainter>
#include <QString>
#include <vector>

#include "drawings.h"

// The keys follow the geometry the keyboard view lights them with: white
// keys 9 pixels apart with a one-pixel gap at x = 11 + 9k, faces from y = 11
// to 54; black keys 5 pixels wide from y = 11 to 37, centred on the gaps
// after C, D, F, G and A. Lit and unlit keys are painted over the faces in
// flat colours, so the faces themselves are flat white and black; the depth
// comes from the gaps, the key fronts and the case.
QImage draw_piano2() {
    constexpr int kW = 652, kH = 68;
    constexpr int kTop = 11, kWhiteBottom = 54, kBlackBottom = 37;
    constexpr int kWhites = 70;      // ten octaves of seven
    QImage img = wood(kW, kH, 2.6);  // dark case
    QPainter p(&img);

    // Felt strip along the back of the keys.
    p.fillRect(QRect(8, 8, kW - 16, 3), QColor(120, 18, 24));
    p.fillRect(QRect(8, 8, kW - 16, 1), QColor(80, 8, 12));
    // Well under the keys.
    p.fillRect(QRect(10, kTop, 9 * kWhites + 2, 48), QColor(20, 16, 14));

    for (int k = 0; k < kWhites; ++k) {
        const int x = 12 + 9 * k;
        p.fillRect(QRect(x, kTop, 8, kWhiteBottom - kTop + 1), Qt::white);
        // Key front: a rounded ivory edge that catches the light.
        QLinearGradient front(0, kWhiteBottom + 1, 0, kWhiteBottom + 4);
        front.setColorAt(0, QColor(226, 222, 212));
        front.setColorAt(1, QColor(150, 146, 138));
        p.fillRect(QRect(x, kWhiteBottom + 1, 8, 3), front);
        p.fillRect(QRect(x, kWhiteBottom + 4, 8, 1), QColor(60, 56, 52));
        // The gap to the left of each key.
        p.fillRect(QRect(x - 1, kTop, 1, kWhiteBottom - kTop + 4), QColor(150, 150, 150));
    }
    p.fillRect(QRect(12 + 9 * kWhites - 1, kTop, 1, kWhiteBottom - kTop + 4),
               QColor(150, 150, 150));

    // Black keys after C, D, F, G and A: offsets inside the octave.
    static const int kBlack[5] = {8, 17, 35, 44, 53};
    for (int octave = 0; octave < 10; ++octave) {
        for (int off : kBlack) {
            const int x = 10 + 63 * octave + off;
            p.fillRect(QRect(x, kTop, 5, kBlackBottom - kTop + 1), Qt::black);
        }
    }
    p.end();
    bevel(img, img.rect(), 3, true, 45);
    bevel(img, QRect(9, 7, kW - 18, kH - 14), 1, false, 80);
    return img;
}

namespace {

// The rectangles the keyboard view fills to light key `key` (already moved
// by (10, 10) into the picture), and whether the key is black.
std::vector<QRect> highlight(int key, bool& black) {
    static const int kOffset[12] = {2, 8, 11, 17, 22, 29, 35, 38, 44, 47, 53, 58};
    const int pc = key % 12;
    const int L = 63 * (key / 12) + kOffset[pc] + 10;
    const int top = 10, bottom = 67 + 10;  // view bounds 0..67, moved by 10
    black = pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
    auto box = [](int l, int t, int r, int b) { return QRect(QPoint(l, t), QPoint(r, b)); };
    if (black) return {box(L, top + 1, L + 4, bottom - 40)};
    if (pc == 0 || pc == 5)
        return {box(L, top + 1, L + 5, bottom - 23), box(L, top + 28, L + 7, bottom - 23)};
    if (pc == 4 || pc == 11)
        return {box(L, top + 1, L + 5, bottom - 23), box(L - 2, top + 28, L + 5, bottom - 23)};
    return {box(L, top + 28, L + 7, bottom - 23), box(L + 2, top + 1, L + 5, bottom - 40)};
}

}  // namespace

QString check_piano2(const QImage& img) {
    // Unlit keys are repainted flat white or black over these rectangles, so
    // the picture must hold exactly those colours there, and every face
    // pixel must belong to its own key only.
    QImage owner(img.size(), QImage::Format_Grayscale16);
    owner.fill(0);
    for (int key = 0; key < 120; ++key) {
        bool black = false;
        for (const QRect& r : highlight(key, black)) {
            for (int y = r.top(); y <= r.bottom(); ++y) {
                for (int x = r.left(); x <= r.right(); ++x) {
                    const QRgb want = black ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
                    if ((img.pixel(x, y) & 0xFFFFFF) != (want & 0xFFFFFF)) {
                        return QString("key %1 at (%2, %3) is not %4")
                            .arg(key)
                            .arg(x)
                            .arg(y)
                            .arg(black ? "black" : "white");
                    }
                    const auto mark = reinterpret_cast<quint16*>(owner.scanLine(y)) + x;
                    if (*mark != 0 && *mark != key + 1) {
                        return QString("keys %1 and %2 overlap at (%3, %4)")
                            .arg(*mark - 1)
                            .arg(key)
                            .arg(x)
                            .arg(y);
                    }
                    *mark = static_cast<quint16>(key + 1);
                }
            }
        }
    }
    return {};
}
