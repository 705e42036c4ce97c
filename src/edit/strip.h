// The two waveform strips of the sample editor as 1-bit column images:
// 512 columns by 64 visible rows plus one spare row, 64 bytes a row, the
// most significant bit the leftmost pixel. Each column is a bar from row
// 32 - v to row 32 + v, where v is the magnitude of one frame's left sample
// on a scale of 0..32.
#pragma once

#include <array>
#include <cstdint>

struct p_s;
struct EditState;

constexpr int kStripColumns = 512;
constexpr int kStripRows = 64;
constexpr int kStripRowBytes = kStripColumns / 8;
using ColumnImage = std::array<std::uint8_t, (kStripRows + 1) * kStripRowBytes>;

// GUI thread, inside a read of the sound table. The magnitude, 0 to 32, of
// the left sample of frame `frame` of `sound`, whose first `bytes` bytes are
// readable; also the height of the main window's overview columns.
int frame_height(const p_s& sound, std::uint32_t frame, std::uint32_t bytes);

// GUI thread, inside a read of the sound table. Column c shows frame
// trunc(first + c * step), with first and step in single precision. A null
// or empty sound gives a flat line on row 32; a streamed one gives nothing.
void compute_strip(const p_s* sound, float first, float step, ColumnImage& out);
// The overview (whole sound) and the zoom strip (the visible range).
void compute_overview(const p_s* sound, const EditState& st, ColumnImage& out);
void compute_zoom(const p_s* sound, const EditState& st, ColumnImage& out);

inline bool strip_bit(const ColumnImage& img, int column, int row) {
    return img[std::size_t(row) * kStripRowBytes + column / 8] & (0x80 >> (column & 7));
}

// Highlighted columns [first, last) of a strip; first == last for none.
struct ColumnSpan {
    int first;
    int last;
};
// Any thread. The overview's visible range and the zoom strip's block.
ColumnSpan overview_span(const EditState& st);
ColumnSpan zoom_span(const EditState& st);
