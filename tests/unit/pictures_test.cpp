#include "platform/pictures.h"

#include <unistd.h>

#include "support/testkit.h"

namespace {

using files::Bytes;
using files::operator+;

// A stored picture written byte by byte at the documented offsets, so that the
// reader is checked against the layout and not against our own writer.
// 24-bit: pixel (x, y) (top row y = 0) is r = 10x + y, g = 100 + y, b = 200 + x.
// 8-bit: palette entry i is (i, 255 - i, i / 2) and pixel (x, y) uses entry 16y + x.
Bytes picture(unsigned w, unsigned h, unsigned bits) {
    Bytes b(54, 0xEE);  // header bytes the reader must ignore
    for (auto [at, v] : {std::pair{18u, w}, {20u, 0u}, {22u, h}, {24u, 0u}})
        b[at] = v & 0xFF, b[at + 1] = (v >> 8) & 0xFF;
    b[28] = static_cast<std::uint8_t>(bits);
    for (unsigned i = 0; bits == 8 && i < 256; ++i)
        b.insert(b.end(), {std::uint8_t(i / 2), std::uint8_t(255 - i), std::uint8_t(i), 0x55});
    for (unsigned y = h; y-- > 0;) {  // bottom row first
        for (unsigned x = 0; x < w; ++x) {
            if (bits == 8)
                b.push_back(static_cast<std::uint8_t>(16 * y + x));
            else
                b.insert(b.end(),
                         {std::uint8_t(200 + x), std::uint8_t(100 + y), std::uint8_t(10 * x + y)});
        }
    }
    return b;
}

void expect_picture(const pictures::Image& img, int w, int h, bool indexed) {
    ASSERT_EQ(std::tuple(img.width, img.height, img.rgb.size()),
              std::tuple(w, h, std::size_t(w) * h * 3));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int i = 16 * y + x;
            const std::uint8_t* p = img.pixel(x, y);
            EXPECT_EQ((std::vector<int>{p[0], p[1], p[2]}),
                      (indexed ? std::vector<int>{i, 255 - i, i / 2}
                               : std::vector<int>{10 * x + y, 100 + y, 200 + x}))
                << x << "," << y;
        }
    }
}

TEST(Pictures, EachPictureUsesItsOwnDepthAndSize) {
    // The second picture starts right after 54 + w * h * 3 bytes, the third
    // right after 1078 + w * h; rows have no padding.
    Bytes file = picture(5, 2, 24) + picture(3, 4, 8) + picture(3, 3, 24);
    ASSERT_EQ(file.size(), 84u + 1078 + 12 + 54 + 27);
    pictures::Decoded d = pictures::decode(file.data(), file.size());
    ASSERT_EQ(d.images.size(), 3u);
    expect_picture(d.images[0], 5, 2, false);
    expect_picture(d.images[1], 3, 4, true);
    expect_picture(d.images[2], 3, 3, false);
    EXPECT_NE(d.message.find("picture 4"), std::string::npos) << d.message;

    // Only the low sixteen bits of the sizes and the low byte of the depth count.
    file = picture(2, 2, 24);
    file[20] = 0x01;
    file[24] = 0x7F;
    file[29] = 0xFF;
    d = pictures::decode(file.data(), file.size());
    ASSERT_EQ(d.images.size(), 1u);
    expect_picture(d.images[0], 2, 2, false);
    // Any depth but 24 is read as a palette picture.
    file = picture(4, 2, 8);
    file[28] = 32;
    d = pictures::decode(file.data(), file.size());
    ASSERT_EQ(d.images.size(), 1u);
    expect_picture(d.images[0], 4, 2, true);
}

TEST(Pictures, CompleteFileReadsAllNineteenAndACutOneThePicturesBeforeTheCut) {
    Bytes file;  // the 19 pictures at their sizes, in file order
    for (const pictures::Slot& s : pictures::kSlots) {
        pictures::Image img{s.width, s.height, Bytes(std::size_t(s.width) * s.height * 3)};
        for (std::size_t i = 0; i < img.rgb.size(); ++i) img.rgb[i] = static_cast<std::uint8_t>(i);
        pictures::append_rgb(file, img);
    }
    const Bytes longer = file + Bytes{0};  // trailing bytes are ignored
    const pictures::Decoded d = pictures::decode(longer.data(), longer.size());
    ASSERT_EQ(d.images.size(), std::size_t(pictures::kCount));
    EXPECT_TRUE(d.message.empty()) << d.message;
    std::vector<std::size_t> ends;
    std::size_t at = 0;
    for (int n = 0; n < pictures::kCount; ++n) {
        EXPECT_EQ(d.images[n].width, pictures::kSlots[n].width);
        EXPECT_EQ(d.images[n].height, pictures::kSlots[n].height);
        at += 54 + std::size_t(pictures::kSlots[n].width) * pictures::kSlots[n].height * 3;
        ends.push_back(at);
    }
    EXPECT_EQ(d.images[pictures::kPiano2].width, 652);
    EXPECT_EQ(d.images[pictures::kPiano2].height, 68);
    ASSERT_EQ(ends.back(), file.size());
    // Cut inside headers, inside pixels and exactly on picture boundaries.
    for (std::size_t cut : {std::size_t(0), std::size_t(1), std::size_t(28), std::size_t(29),
                            std::size_t(53), std::size_t(54), ends[0] - 1, ends[0], ends[0] + 20,
                            ends[5] + 60, ends[12] - 1, ends[17], file.size() - 1}) {
        // A copy of exactly `cut` bytes, so that reading past it is caught.
        const Bytes part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        const pictures::Decoded p = pictures::decode(part.data(), part.size());
        std::size_t whole = 0;
        while (whole < ends.size() && ends[whole] <= cut) ++whole;
        EXPECT_EQ(p.images.size(), whole) << "cut at " << cut;
        EXPECT_FALSE(p.message.empty()) << "cut at " << cut;
    }
}

TEST(Pictures, HostileSizesAreRefusedWithoutReadingOrAllocating) {
    Bytes file = picture(4, 4, 24) + picture(0, 0, 24);
    file[54 + 48 + 18] = file[54 + 48 + 19] = file[54 + 48 + 22] = file[54 + 48 + 23] = 0xFF;
    file.resize(file.size() + 100, 0);  // 65535 x 65535 claims 12 GB of pixels
    pictures::Decoded d = pictures::decode(file.data(), file.size());
    EXPECT_EQ(d.images.size(), 1u);
    EXPECT_NE(d.message.find("picture 2"), std::string::npos) << d.message;
    EXPECT_NE(d.message.find("65535 x 65535"), std::string::npos) << d.message;
    Bytes short_palette = picture(1, 1, 8);  // the palette itself cut short
    short_palette.resize(54 + 500);
    d = pictures::decode(short_palette.data(), short_palette.size());
    EXPECT_TRUE(d.images.empty());
    EXPECT_FALSE(d.message.empty());
    const Bytes empty = picture(0, 7, 24);
    d = pictures::decode(empty.data(), empty.size());
    EXPECT_TRUE(d.images.empty());
    EXPECT_NE(d.message.find("no pixels"), std::string::npos) << d.message;
    EXPECT_TRUE(pictures::decode(nullptr, 100).images.empty());
}

TEST(Pictures, WriterOutputReadsBackUnchanged) {
    const pictures::Image a{3, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}};
    std::uint8_t palette[pictures::kPaletteBytes] = {};
    palette[4 * 7 + 0] = 30, palette[4 * 7 + 1] = 20, palette[4 * 7 + 2] = 10;  // entry 7: BGR
    const std::uint8_t indexes[6] = {0, 7, 0, 7, 7, 0};
    Bytes file;
    pictures::append_rgb(file, a);
    pictures::append_indexed(file, 3, 2, palette, indexes);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    const pictures::Decoded d = pictures::decode(file.data(), file.size());
    ASSERT_EQ(d.images.size(), 2u);
    EXPECT_EQ(d.images[0].rgb, a.rgb);
    EXPECT_EQ(d.images[1].rgb,
              (Bytes{0, 0, 0, 10, 20, 30, 0, 0, 0, 10, 20, 30, 10, 20, 30, 0, 0, 0}));
}

TEST(Pictures, FilesThatCannotBeReadWholeSayWhyOnce) {
    const files::TempDir dir;
    const std::string huge = dir.file("huge.bin");
    ASSERT_TRUE(files::write_bytes(huge, {}));
    ASSERT_EQ(::truncate(huge.c_str(), off_t(pictures::kMaxFileBytes) + 1), 0);  // sparse
    const std::tuple<std::string, pictures::LoadStatus, const char*> cases[] = {
        // path, status, reason
        {"/nonexistent/graf.bin", pictures::LoadStatus::kMissing, ""},
        {dir.path(), pictures::LoadStatus::kUnreadable, "cannot be read: Is a directory"},
        {huge, pictures::LoadStatus::kUnreadable, "larger than 64 MB"},
    };
    for (const auto& [path, status, reason] : cases) {
        const pictures::Loaded l = pictures::load(path);
        EXPECT_EQ(l.status, status) << path;
        EXPECT_TRUE(l.pictures.images.empty()) << path;
        EXPECT_NE(l.pictures.message.find(reason), std::string::npos) << l.pictures.message;
        EXPECT_EQ(l.pictures.message.find("graf.bin"), std::string::npos) << l.pictures.message;
    }

    // A cut file's message names the picture, not the file: the caller does.
    const pictures::Decoded d = pictures::decode(nullptr, 0);
    EXPECT_EQ(d.message.rfind("picture 1", 0), 0u) << d.message;
}

}  // namespace
