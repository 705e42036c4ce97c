#include "edit/strip.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/sound.h"
#include "edit/edit_state.h"

int frame_height(const p_s& sound, std::uint32_t frame, std::uint32_t bytes) {
    const int shift = sound.shift;
    const std::size_t at = std::size_t(frame) << shift;
    int v;
    if (sound.bits == 16 && at + 1 < bytes) {
        std::int16_t s;
        std::memcpy(&s, sound.data + at, 2);
        v = s >> 10;
    } else {
        v = sound.data[at] >> 2;
    }
    return std::abs(v);
}

void compute_strip(const p_s* sound, float first, float step, ColumnImage& out) {
    out.fill(0);
    if (!sound || !sound->data) {
        std::memset(&out[32 * kStripRowBytes], 0xFF, kStripRowBytes);
        return;
    }
    if (sound->type == kTypeStreamed) return;
    const int shift = sound->shift;
    const std::uint32_t bytes = std::min<std::uint32_t>(sound->size, sound->capacity);
    const std::uint32_t frames = bytes >> shift;
    if (frames == 0) {
        std::memset(&out[32 * kStripRowBytes], 0xFF, kStripRowBytes);
        return;
    }
    float p = first;
    for (int byte = 0; byte < kStripRowBytes; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            float fp = std::max(p, 0.0f);
            std::uint32_t f = fp < float(frames) ? std::uint32_t(fp) : frames - 1;
            f = std::min(f, frames - 1);
            out[std::size_t(32 - frame_height(*sound, f, bytes)) * kStripRowBytes + byte] |=
                std::uint8_t(0x80 >> bit);
            p += step;
        }
        // Down to the centre each row takes in every row above it; the lower
        // half mirrors the upper (row 64, the spare, mirrors row 0).
        std::uint8_t run = 0;
        for (int r = 0; r <= 32; ++r) {
            run |= out[std::size_t(r) * kStripRowBytes + byte];
            out[std::size_t(r) * kStripRowBytes + byte] = run;
            out[std::size_t(64 - r) * kStripRowBytes + byte] = run;
        }
    }
}

void compute_overview(const p_s* sound, const EditState& st, ColumnImage& out) {
    compute_strip(sound, 0.0f, float(st.total_frames) / float(kStripColumns), out);
}

void compute_zoom(const p_s* sound, const EditState& st, ColumnImage& out) {
    compute_strip(sound, float(st.view_start),
                  float(st.view_end - st.view_start) / float(kStripColumns), out);
}

ColumnSpan overview_span(const EditState& st) {
    if (st.total_frames <= 0) return {0, 0};
    const auto col = [&](std::int32_t x) {
        return int(std::int64_t(x) * kStripColumns / st.total_frames);
    };
    return {col(st.view_start), col(st.view_end)};
}

ColumnSpan zoom_span(const EditState& st) {
    const std::int64_t w = std::int64_t(st.view_end) - st.view_start;
    if (!st.has_block() || w <= 0) return {511, 512};
    const auto col = [&](std::int32_t x, int left, int right) -> std::int64_t {
        if (x < st.view_start) return left;
        if (x > st.view_end) return right;
        return (std::int64_t(x) - st.view_start) * kStripColumns / w;
    };
    std::int64_t a = col(st.block_start, 0, 511);
    std::int64_t b = col(st.block_end, 0, 512);
    a = std::max<std::int64_t>(a, 0);
    if (a > 511) {
        a = 511;
        b = 512;
    }
    if (b <= 0) {
        a = 511;
        b = 512;
    }
    b = std::min<std::int64_t>(b, 512);
    return {int(a), int(b)};
}
