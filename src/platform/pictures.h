// The interface pictures: the file "graf.bin" beside the program holds 19
// bitmaps one after another, each with a bitmap header and unpadded rows,
// bottom row first. Decoded pictures are red-green-blue, top row first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pictures {

constexpr int kCount = 19;

// Byte offsets inside one stored picture.
constexpr std::size_t kWidthAt = 18;
constexpr std::size_t kHeightAt = 22;
constexpr std::size_t kBitsAt = 28;
constexpr std::size_t kHeaderBytes = 54;
constexpr std::size_t kPaletteBytes = 1024;

// The pictures in file order, with the size the windows draw them at.
struct Slot {
    const char* name;
    int width;
    int height;
};
extern const Slot kSlots[kCount];

enum Index : int {
    kBbar,
    kPlexora,
    kBois,
    kBout,
    kFondbar,
    kFondosc,
    kFondsam,
    kGrille,
    kLedoffr,
    kLedoffv,
    kLedonr,
    kLedonv,
    kPiano2,
    kPlayboff,
    kPlaybon,
    kPlayoff,
    kPlayon,
    kStopoff,
    kStopon
};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3, top row first

    bool empty() const { return rgb.empty(); }
    const std::uint8_t* pixel(int x, int y) const { return &rgb[(std::size_t(y) * width + x) * 3]; }
};

struct Decoded {
    std::vector<Image> images;  // in file order; fewer than kCount when the data ran out
    std::string message;        // why not every picture was read; empty when all were
};

// Picture files larger than this are refused unread.
constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

// Any thread. Decodes the pictures held in `size` bytes at `data`. Every
// width, height and offset is checked against the bytes present: a picture
// that does not fit ends the decoding, and `message` says why.
Decoded decode(const std::uint8_t* data, std::size_t size);

// Any thread. Stores pictures in the file layout; 24-bit, or 8-bit with the
// given 256-entry palette (blue, green, red, unused) and one index per pixel.
void append_rgb(std::vector<std::uint8_t>& out, const Image& image);
void append_indexed(std::vector<std::uint8_t>& out, int width, int height,
                    const std::uint8_t palette[kPaletteBytes], const std::uint8_t* indexes);

enum class LoadStatus { kOk, kMissing, kUnreadable };

struct Loaded {
    LoadStatus status = LoadStatus::kMissing;
    Decoded pictures;
};

// GUI thread. Reads and decodes the picture file at `path`. A file that
// cannot be read whole (an error, or more than kMaxFileBytes) is
// kUnreadable, with the reason in `pictures.message`.
Loaded load(const std::string& path);

}  // namespace pictures
