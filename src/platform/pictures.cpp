#include "platform/pictures.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "core/bytes.h"

namespace pictures {

const Slot kSlots[kCount] = {
    {"bbar", 701, 16},    {"plexora", 332, 234}, {"bois", 256, 256},   {"bout", 320, 220},
    {"fondbar", 701, 20}, {"fondosc", 160, 94},  {"fondsam", 532, 84}, {"grille", 292, 180},
    {"ledoffr", 16, 16},  {"ledoffv", 16, 16},   {"ledonr", 16, 16},   {"ledonv", 16, 16},
    {"piano2", 652, 68},  {"playboff", 24, 24},  {"playbon", 24, 24},  {"playoff", 24, 24},
    {"playon", 24, 24},   {"stopoff", 24, 24},   {"stopon", 24, 24},
};

namespace {

using bytes::le16;

void put_le(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v, int count) {
    bytes::put_le(out.data() + at, v, count);
}

// A bitmap file and info header for a picture whose pixels follow at `offset`.
void append_header(std::vector<std::uint8_t>& out, int width, int height, int bits,
                   std::size_t offset, std::size_t pixel_bytes) {
    const std::size_t at = out.size();
    out.resize(at + kHeaderBytes, 0);
    out[at] = 'B';
    out[at + 1] = 'M';
    put_le(out, at + 2, static_cast<std::uint32_t>(offset + pixel_bytes), 4);
    put_le(out, at + 10, static_cast<std::uint32_t>(offset), 4);
    put_le(out, at + 14, 40, 4);
    put_le(out, at + kWidthAt, static_cast<std::uint32_t>(width), 4);
    put_le(out, at + kHeightAt, static_cast<std::uint32_t>(height), 4);
    put_le(out, at + 26, 1, 2);
    put_le(out, at + kBitsAt, static_cast<std::uint32_t>(bits), 2);
    put_le(out, at + 34, static_cast<std::uint32_t>(pixel_bytes), 4);
    put_le(out, at + 38, 2835, 4);
    put_le(out, at + 42, 2835, 4);
    if (bits == 8) put_le(out, at + 46, 256, 4);
}

std::string name_of(int n) {
    char text[64];
    std::snprintf(text, sizeof text, "picture %d (%s)", n + 1, n < kCount ? kSlots[n].name : "?");
    return text;
}

}  // namespace

Decoded decode(const std::uint8_t* data, std::size_t size) {
    Decoded out;
    if (!data) size = 0;
    std::size_t at = 0;
    for (int n = 0; n < kCount; ++n) {
        const std::size_t left = size - at;
        if (left < kBitsAt + 1) {
            out.message =
                name_of(n) + " is missing: the file ends after " + std::to_string(at) + " bytes";
            break;
        }
        const std::uint8_t* p = data + at;
        Image img;
        img.width = static_cast<int>(le16(p + kWidthAt));
        img.height = static_cast<int>(le16(p + kHeightAt));
        const bool true_colour = p[kBitsAt] == 24;
        if (img.width == 0 || img.height == 0) {
            out.message = name_of(n) + " has no pixels (" + std::to_string(img.width) + " x " +
                          std::to_string(img.height) + ")";
            break;
        }
        const std::size_t pixels = std::size_t(img.width) * std::size_t(img.height);
        const std::size_t start = true_colour ? kHeaderBytes : kHeaderBytes + kPaletteBytes;
        const std::size_t bytes = true_colour ? pixels * 3 : pixels;
        if (left < start || left - start < bytes) {
            out.message = name_of(n) + " of " + std::to_string(img.width) + " x " +
                          std::to_string(img.height) + " needs " + std::to_string(start + bytes) +
                          " bytes, only " + std::to_string(left) + " are left";
            break;
        }
        img.rgb.resize(pixels * 3);
        const std::uint8_t* src = p + start;
        const std::uint8_t* palette = p + kHeaderBytes;
        const std::size_t row_bytes = true_colour ? std::size_t(img.width) * 3 : img.width;
        for (int y = 0; y < img.height; ++y) {
            // Stored bottom row first.
            const std::uint8_t* row = src + std::size_t(img.height - 1 - y) * row_bytes;
            std::uint8_t* dst = &img.rgb[std::size_t(y) * img.width * 3];
            for (int x = 0; x < img.width; ++x) {
                const std::uint8_t* bgr =
                    true_colour ? row + std::size_t(x) * 3 : palette + std::size_t(row[x]) * 4;
                dst[3 * x] = bgr[2];
                dst[3 * x + 1] = bgr[1];
                dst[3 * x + 2] = bgr[0];
            }
        }
        out.images.push_back(std::move(img));
        at += start + bytes;
    }
    return out;
}

void append_rgb(std::vector<std::uint8_t>& out, const Image& image) {
    const std::size_t pixels = std::size_t(image.width) * image.height;
    append_header(out, image.width, image.height, 24, kHeaderBytes, pixels * 3);
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* rgb = image.pixel(x, y);
            out.push_back(rgb[2]);
            out.push_back(rgb[1]);
            out.push_back(rgb[0]);
        }
    }
}

void append_indexed(std::vector<std::uint8_t>& out, int width, int height,
                    const std::uint8_t palette[kPaletteBytes], const std::uint8_t* indexes) {
    const std::size_t pixels = std::size_t(width) * height;
    append_header(out, width, height, 8, kHeaderBytes + kPaletteBytes, pixels);
    out.insert(out.end(), palette, palette + kPaletteBytes);
    for (int y = height - 1; y >= 0; --y) {
        const std::uint8_t* row = indexes + std::size_t(y) * width;
        out.insert(out.end(), row, row + width);
    }
}

Loaded load(const std::string& path) {
    Loaded result;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) return result;
    result.status = LoadStatus::kUnreadable;
    const std::string too_large =
        "larger than " + std::to_string(kMaxFileBytes >> 20) + " MB: not a picture file";
    struct stat st {};
    if (::fstat(::fileno(f.get()), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) {
        result.pictures.message = too_large;
        return result;
    }
    std::vector<std::uint8_t> bytes;
    try {
        std::uint8_t chunk[65536];
        for (;;) {
            const std::size_t got = std::fread(chunk, 1, sizeof chunk, f.get());
            if (bytes.size() + got > kMaxFileBytes) {
                result.pictures.message = too_large;
                return result;
            }
            bytes.insert(bytes.end(), chunk, chunk + got);
            if (got < sizeof chunk) break;
        }
    } catch (const std::bad_alloc&) {
        result.pictures.message = "not enough memory to read it";
        return result;
    }
    if (std::ferror(f.get())) {
        result.pictures.message = std::string("cannot be read: ") + std::strerror(errno);
        return result;
    }
    result.status = LoadStatus::kOk;
    result.pictures = decode(bytes.data(), bytes.size());
    return result;
}

}  // namespace pictures
