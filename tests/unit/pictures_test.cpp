#include "platform/pictures.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A stored picture written byte by byte at the documented offsets, so that
// the reader is checked against the layout and not against our own writer.
void put16(Bytes& b, std::size_t at, unsigned v) {
    b[at] = v & 0xFF;
    b[at + 1] = (v >> 8) & 0xFF;
}

Bytes header(unsigned w, unsigned h, unsigned bits) {
    Bytes b(54, 0xEE);  // header bytes the reader must ignore
    put16(b, 18, w);
    put16(b, 20, 0);
    put16(b, 22, h);
    put16(b, 24, 0);
    b[28] = static_cast<std::uint8_t>(bits);
    return b;
}

void append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// 24-bit picture; pixel (x, y) of the image (top row y = 0) is
// r = 10 * x + y, g = 100 + y, b = 200 + x.
Bytes rgb_picture(unsigned w, unsigned h) {
    Bytes b = header(w, h, 24);
    for (unsigned row = 0; row < h; ++row) {
        const unsigned y = h - 1 - row;  // bottom row first
        for (unsigned x = 0; x < w; ++x) {
            b.push_back(static_cast<std::uint8_t>(200 + x));
            b.push_back(static_cast<std::uint8_t>(100 + y));
            b.push_back(static_cast<std::uint8_t>(10 * x + y));
        }
    }
    return b;
}

// 8-bit picture whose palette entry i is (r, g, b) = (i, 255 - i, i / 2) and
// whose pixel (x, y) uses entry 16 * y + x.
Bytes indexed_picture(unsigned w, unsigned h) {
    Bytes b = header(w, h, 8);
    for (unsigned i = 0; i < 256; ++i) {
        b.push_back(static_cast<std::uint8_t>(i / 2));
        b.push_back(static_cast<std::uint8_t>(255 - i));
        b.push_back(static_cast<std::uint8_t>(i));
        b.push_back(0x55);
    }
    for (unsigned row = 0; row < h; ++row) {
        const unsigned y = h - 1 - row;
        for (unsigned x = 0; x < w; ++x) b.push_back(static_cast<std::uint8_t>(16 * y + x));
    }
    return b;
}

void expect_rgb_picture(const pictures::Image& img, int w, int h) {
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    ASSERT_EQ(img.rgb.size(), std::size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* p = img.pixel(x, y);
            EXPECT_EQ(p[0], 10 * x + y) << x << "," << y;
            EXPECT_EQ(p[1], 100 + y) << x << "," << y;
            EXPECT_EQ(p[2], 200 + x) << x << "," << y;
        }
    }
}

void expect_indexed_picture(const pictures::Image& img, int w, int h) {
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const unsigned i = 16 * y + x;
            const std::uint8_t* p = img.pixel(x, y);
            EXPECT_EQ(p[0], i) << x << "," << y;
            EXPECT_EQ(p[1], 255 - i) << x << "," << y;
            EXPECT_EQ(p[2], i / 2) << x << "," << y;
        }
    }
}

// A complete file: the 19 pictures at their sizes, in file order.
Bytes full_file() {
    Bytes file;
    for (const pictures::Slot& s : pictures::kSlots) {
        pictures::Image img;
        img.width = s.width;
        img.height = s.height;
        img.rgb.assign(std::size_t(s.width) * s.height * 3, 0);
        for (std::size_t i = 0; i < img.rgb.size(); ++i) img.rgb[i] = static_cast<std::uint8_t>(i);
        pictures::append_rgb(file, img);
    }
    return file;
}

TEST(Pictures, TrueColourThenPaletteUseTheirOwnSizes) {
    // The second picture starts right after 54 + w * h * 3 bytes; the third
    // right after 1078 + w * h bytes of the second, with rows of 3 bytes.
    Bytes file = rgb_picture(5, 2);
    ASSERT_EQ(file.size(), 54u + 5 * 2 * 3);
    append(file, indexed_picture(3, 4));
    ASSERT_EQ(file.size(), 84u + 1078 + 3 * 4);
    append(file, rgb_picture(3, 3));  // width 3: 9-byte rows, no padding either

    const pictures::Decoded d = pictures::decode(file.data(), file.size());
    ASSERT_EQ(d.images.size(), 3u);
    expect_rgb_picture(d.images[0], 5, 2);
    expect_indexed_picture(d.images[1], 3, 4);
    expect_rgb_picture(d.images[2], 3, 3);
    EXPECT_NE(d.message.find("picture 4"), std::string::npos) << d.message;
}

TEST(Pictures, OnlyTheLowSixteenBitsOfTheSizesCount) {
    Bytes file = rgb_picture(2, 2);
    file[20] = 0x01;  // width 0x10002 in the header: the picture is 2 wide
    file[24] = 0x7F;
    file[29] = 0xFF;  // bits-per-pixel word 0xFF18: its low byte 24 decides
    const pictures::Decoded d = pictures::decode(file.data(), file.size());
    ASSERT_EQ(d.images.size(), 1u);
    expect_rgb_picture(d.images[0], 2, 2);
}

TEST(Pictures, AnyOtherDepthIsReadAsPalette) {
    Bytes file = indexed_picture(4, 2);
    file[28] = 32;
    const pictures::Decoded d = pictures::decode(file.data(), file.size());
    ASSERT_EQ(d.images.size(), 1u);
    expect_indexed_picture(d.images[0], 4, 2);
}

TEST(Pictures, CompleteFileReadsAllNineteenAndIgnoresTrailingBytes) {
    Bytes file = full_file();
    file.push_back(0);
    const pictures::Decoded d = pictures::decode(file.data(), file.size());
    ASSERT_EQ(d.images.size(), std::size_t(pictures::kCount));
    EXPECT_TRUE(d.message.empty()) << d.message;
    for (int n = 0; n < pictures::kCount; ++n) {
        EXPECT_EQ(d.images[n].width, pictures::kSlots[n].width);
        EXPECT_EQ(d.images[n].height, pictures::kSlots[n].height);
    }
    const pictures::Image& piano = d.images[pictures::kPiano2];
    EXPECT_EQ(piano.width, 652);
    EXPECT_EQ(piano.height, 68);
}

TEST(Pictures, TruncatedFileKeepsTheWholePicturesBeforeTheCut) {
    const Bytes file = full_file();
    std::vector<std::size_t> ends;
    std::size_t at = 0;
    for (const pictures::Slot& s : pictures::kSlots) {
        at += 54 + std::size_t(s.width) * s.height * 3;
        ends.push_back(at);
    }
    ASSERT_EQ(ends.back(), file.size());
    // Cut inside headers, inside pixels and exactly on picture boundaries.
    for (std::size_t cut : {std::size_t(0), std::size_t(1), std::size_t(28), std::size_t(29),
                            std::size_t(53), std::size_t(54), ends[0] - 1, ends[0], ends[0] + 20,
                            ends[5] + 60, ends[12] - 1, ends[17], file.size() - 1}) {
        // A copy of exactly `cut` bytes, so that reading past it is caught.
        const Bytes part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        const pictures::Decoded d = pictures::decode(part.data(), part.size());
        std::size_t whole = 0;
        while (whole < ends.size() && ends[whole] <= cut) ++whole;
        EXPECT_EQ(d.images.size(), whole) << "cut at " << cut;
        EXPECT_FALSE(d.message.empty()) << "cut at " << cut;
    }
}

TEST(Pictures, HostileSizesAreRefusedWithoutReadingOrAllocating) {
    Bytes file = rgb_picture(4, 4);
    append(file, header(65535, 65535, 24));  // claims 12 GB of pixels
    file.resize(file.size() + 100, 0);
    pictures::Decoded d = pictures::decode(file.data(), file.size());
    EXPECT_EQ(d.images.size(), 1u);
    EXPECT_NE(d.message.find("picture 2"), std::string::npos) << d.message;
    EXPECT_NE(d.message.find("65535 x 65535"), std::string::npos) << d.message;

    // A palette picture whose palette itself is cut short.
    Bytes short_palette = header(1, 1, 8);
    short_palette.resize(54 + 500, 0);
    d = pictures::decode(short_palette.data(), short_palette.size());
    EXPECT_TRUE(d.images.empty());
    EXPECT_FALSE(d.message.empty());

    // No pixels at all.
    Bytes empty = header(0, 7, 24);
    d = pictures::decode(empty.data(), empty.size());
    EXPECT_TRUE(d.images.empty());
    EXPECT_NE(d.message.find("no pixels"), std::string::npos) << d.message;

    d = pictures::decode(nullptr, 100);
    EXPECT_TRUE(d.images.empty());
}

TEST(Pictures, WriterOutputReadsBackUnchanged) {
    pictures::Image a;
    a.width = 3;
    a.height = 2;
    a.rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    std::uint8_t palette[pictures::kPaletteBytes] = {};
    palette[4 * 7 + 0] = 30;  // entry 7: blue 30, green 20, red 10
    palette[4 * 7 + 1] = 20;
    palette[4 * 7 + 2] = 10;
    const std::uint8_t indexes[6] = {0, 7, 0, 7, 7, 0};
    Bytes file;
    pictures::append_rgb(file, a);
    pictures::append_indexed(file, 3, 2, palette, indexes);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');

    const pictures::Decoded d = pictures::decode(file.data(), file.size());
    ASSERT_EQ(d.images.size(), 2u);
    EXPECT_EQ(d.images[0].rgb, a.rgb);
    const std::vector<std::uint8_t> expected = {0,  0,  0,  10, 20, 30, 0, 0, 0,
                                                10, 20, 30, 10, 20, 30, 0, 0, 0};
    EXPECT_EQ(d.images[1].rgb, expected);
}

TEST(Pictures, FilesThatCannotBeReadWholeSayWhyOnce) {
    const std::string dir = ::testing::TempDir() + "plexora_pictures_dir";
    ::mkdir(dir.c_str(), 0700);
    const std::string huge = ::testing::TempDir() + "plexora_pictures_huge.bin";
    {
        const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(pictures::kMaxFileBytes) + 1), 0);  // sparse
        ::close(fd);
    }
    struct Case {
        std::string path;
        pictures::LoadStatus status;
        const char* reason;
    };
    const Case cases[] = {
        {"/nonexistent/graf.bin", pictures::LoadStatus::kMissing, ""},
        {dir, pictures::LoadStatus::kUnreadable, "cannot be read: Is a directory"},
        {huge, pictures::LoadStatus::kUnreadable, "larger than 64 MB"},
    };
    for (const Case& c : cases) {
        const pictures::Loaded l = pictures::load(c.path);
        EXPECT_EQ(l.status, c.status) << c.path;
        EXPECT_TRUE(l.pictures.images.empty()) << c.path;
        EXPECT_NE(l.pictures.message.find(c.reason), std::string::npos) << l.pictures.message;
        EXPECT_EQ(l.pictures.message.find("graf.bin"), std::string::npos) << l.pictures.message;
    }
    ::unlink(huge.c_str());
    ::rmdir(dir.c_str());

    // A cut file's message names the picture, not the file: the caller does.
    const pictures::Decoded d = pictures::decode(nullptr, 0);
    EXPECT_EQ(d.message.rfind("picture 1", 0), 0u) << d.message;
}

}  // namespace
