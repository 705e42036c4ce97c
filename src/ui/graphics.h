// The interface pictures, as drawable images, in the order of the picture
// file. A picture that could not be read is a null image, and every view
// then draws a plain stand-in of the same size.
#pragma once

#include <QColor>
#include <QImage>
#include <cstdint>

#include "platform/pictures.h"

class QFont;
class QPainter;

// Picture numbers (kBbar .. kStopon) are those of the picture file.
using enum pictures::Index;
constexpr int kPicCount = pictures::kCount;

// GUI thread. Keeps picture `index` from `width` x `height` red-green-blue
// pixels, top row first.
void set_picture(int index, int width, int height, const std::uint8_t* rgb);
// GUI thread. Forgets every picture.
void clear_pictures();
// GUI thread. The picture, or a null image.
const QImage& picture(int index);

// GUI thread. `index` when it exists, else an image of `w` x `h` filled with `fill`.
QImage picture_or(int index, int w, int h, QColor fill);
// The wood texture, or a plain brown stand-in of 256 x 256.
const QImage& wood();

// GUI thread. Writes "D2D File", in `font` at 25 pixels, where the waveform of
// a sound streamed from disk would be drawn.
void draw_streamed_label(QPainter& p, QFont font);
