#include "ui/main/overview.h"

#include <QPainter>
#include <cstdlib>
#include <cstring>

#include "core/sound.h"
#include "edit/strip.h"
#include "ui/graphics.h"

void build_overview(const p_s* sound, std::uint32_t length, std::uint32_t start, bool loading,
                    OverviewBits& bits) {
    bits.fill(0);
    const bool empty = !sound || !sound->data;
    if (empty || loading) {
        std::memset(&bits[32 * 64], 0xFF, 64);
        return;
    }
    if (sound->type == kTypeStreamed) return;
    const std::uint32_t bytes = std::min<std::uint32_t>(sound->size, sound->capacity);
    const std::uint32_t frames = bytes >> sound->shift;
    if (frames == 0) return;
    const double step = double(length) / kOverviewWidth;
    double position = start;
    std::uint8_t mask = 0x80;
    for (int x = 0; x < kOverviewWidth; ++x) {
        // One frame per column, its left channel, never past the data.
        const std::uint32_t i = std::min<std::uint32_t>(std::uint32_t(position), frames - 1);
        bits[std::size_t(32 - frame_height(*sound, i, bytes)) * 64 + x / 8] |= mask;
        mask >>= 1;
        if (mask == 0) {
            // Fill the eight columns just done from the top down to the centre
            // and mirror them below it.
            std::uint8_t run = 0;
            for (int r = 0; r <= 32; ++r) {
                run |= bits[std::size_t(r) * 64 + x / 8];
                bits[std::size_t(r) * 64 + x / 8] = run;
                if (r >= 1) bits[std::size_t(64 - r) * 64 + x / 8] = run;
            }
            mask = 0x80;
        }
        position += step;
    }
}

OverviewView::OverviewView(QRect frame, QWidget* parent) : QWidget(parent) {
    setGeometry(frame);
    rebuild(-1);
}

void OverviewView::rebuild(int s) {
    const p_s* sound = (s >= 0 && s < kMaxSounds) ? t_sound[s].load() : nullptr;
    length_ = sound ? (std::uint32_t(sound->size) >> sound->shift) : 0;
    streamed_ = sound && sound->data && sound->type == kTypeStreamed;
    build_overview(sound, length_, 0, loadin, bits_);
    mono_ = QImage(bits_.data(), kOverviewWidth, kOverviewRows, 64, QImage::Format_Mono).copy();
    mono_.setColorCount(2);
    mono_.setColor(0, qRgba(0, 0, 0, 0));
    mono_.setColor(1, qRgb(0, 0, 0));
    mono_ = mono_.convertToFormat(QImage::Format_ARGB32);
    update();
}

void OverviewView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QImage& back = picture(kFondsam);
    if (!back.isNull())
        p.drawImage(0, 0, back);
    else
        p.fillRect(rect(), QColor(170, 190, 160));
    if (streamed_) {
        draw_streamed_label(p, font());
        return;
    }
    p.drawImage(10, 10, mono_);
}
