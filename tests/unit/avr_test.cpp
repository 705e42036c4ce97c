#include "io/avr.h"

#include <cstdio>
#include <cstring>

#include "core/notify.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "io/file_kind.h"
#include "io/load.h"
#include "support/file_builders.h"
#include "support/testkit.h"

TEST(FileKind, ExtensionsAndRecordedTypeChooseTheReader) {
    const struct {
        const char *path, *type;
        FileKind kind;
    } cases[] = {
        {"/s/drum.avr", "", kKindAvr},
        {"/s/DRUM.Avr", "", kKindAvr},
        {"/s/drum.avr2", "", kKindAvr},  // a prefix test
        {"/s/drum.WAVE", "", kKindWav},
        {"/s/drum.aif", "", kKindAif},
        {"/s/x.aiff", "", kKindAiff},
        {"/s/x.AIFF", "", kKindAiff},  // ".AIF" first, then ".aiff"
        {"/s/x.flac", "", kKindUnknown},
        {"/s/drum", "", kKindUnknown},
        {"/s/kit.v2/drum", "", kKindUnknown},  // a dot in a folder
        {"/s/drum.avr.wav", "", kKindWav},     // only the last dot counts
        {"/s/noext", "AUDIO/X-AIFF", kKindAiff},
        {"/s/drum.avr", "audio/x-aiff", kKindAiff},
        {"/s/drum.wav", "audio/x-wav", kKindWav},
    };
    for (const auto& c : cases)
        EXPECT_EQ(file_kind(c.path, c.type), c.kind) << c.path << " " << c.type;
}

namespace {

class AvrLoad : public testkit::EngineTest {
  protected:
    // Writes `avr` as `leaf` and loads it into the selected slot.
    LoadResult load_avr(const files::Avr& avr, const std::string& leaf = "drum.avr") {
        path_ = dir_.file(leaf);
        EXPECT_TRUE(files::write_bytes(path_, avr.bytes()));
        return load(1, path_.c_str(), leaf.c_str());
    }
    files::TempDir dir_;
    std::string path_;
};

}  // namespace

TEST_F(AvrLoad, EachWidthAndChannelCountLoadsValueByValue) {
    for (int bits : {8, 16}) {
        for (int stereo : {0, 1}) {
            SCOPED_TRACE(testing::Message() << bits << "-bit stereo " << stereo);
            files::Avr avr;
            avr.bits = static_cast<std::uint8_t>(bits);
            avr.channels = stereo ? 0xFF : 0;
            avr.rate = 44100;
            avr.note = 72;
            const int samples = 1000 * (stereo ? 2 : 1);
            for (int i = 0; i < samples; ++i) {
                const auto v = static_cast<std::uint16_t>(files::pattern16(i, 0));
                avr.data.push_back(static_cast<std::uint8_t>(v >> 8));
                if (bits == 16) avr.data.push_back(static_cast<std::uint8_t>(v));
            }
            posts().clear();
            ASSERT_EQ(load_avr(avr), LoadResult::loaded);
            const p_s* s = t_sound[0];
            char want[120];
            std::snprintf(
                want, sizeof want,
                "%d-bit %s shift %d, 44100 Hz, base 72, keys 0-127, size %zu, loop off 0-%zu", bits,
                stereo ? "stereo" : "mono", bits / 16 + stereo, avr.data.size(), avr.data.size());
            EXPECT_EQ(testkit::describe(s), want);
            EXPECT_EQ(s->rel_time, 22050u);
            EXPECT_EQ(s->pan, 128);
            EXPECT_EQ(s->file_offset, 128u);
            EXPECT_STREQ(s->name, "kick");
            EXPECT_STREQ(s->path, path_.c_str());
            for (int i = 0; i < samples; ++i) {
                std::int16_t got = s->data[i];
                if (bits == 16) std::memcpy(&got, s->data + 2 * i, 2);
                ASSERT_EQ(got, bits == 16 ? files::pattern16(i, 0) : files::pattern16(i, 0) >> 8)
                    << i;
            }
            EXPECT_EQ(posts(), std::vector<std::uint32_t>{fourcc("RauQ")});
        }
    }
    EXPECT_TRUE(alerts().empty());
}

TEST_F(AvrLoad, HeaderFieldsAreRepairedOrDefaulted) {
    files::Avr avr;
    avr.name = "";
    avr.note = 0xFF;
    avr.bits = 16;
    avr.loop = 1;
    avr.loop_begin = 0x000101;    // odd: rounded down to 256
    avr.loop_end = 8;             // replaced by the data length
    avr.data.assign(1001, 0x11);  // odd at 16 bits: the last byte is dropped
    const std::string leaf = "a_leaf_name_that_is_much_longer_than_thirty_one.AVR";
    ASSERT_EQ(load_avr(avr, leaf), LoadResult::loaded);
    const p_s* s = t_sound[0];
    EXPECT_EQ(std::string(s->name), leaf.substr(0, 31));
    EXPECT_EQ(testkit::describe(s),
              "16-bit mono shift 1, 22050 Hz, base 48, keys 0-127, size 1000, loop on 256-1000");
    // (channels byte, loop begin) -> stereo, loop start: a loop beginning beyond
    // the data loops the whole sound; a 16-bit stereo loop begins on a whole frame.
    const int cases[][4] = {{0, 0x123456, 0, 0}, {1, 6, 0, 6}, {2, 6, 1, 4}};
    for (const auto& c : cases) {
        avr.channels = static_cast<std::uint8_t>(c[0]);
        avr.loop_begin = static_cast<std::uint32_t>(c[1]);
        ASSERT_EQ(load_avr(avr), LoadResult::loaded);
        EXPECT_EQ(t_sound[0].load()->stereo, c[2]);
        EXPECT_EQ(t_sound[0].load()->loop_start, static_cast<std::uint32_t>(c[3]));
        EXPECT_EQ(t_sound[0].load()->loop_end, 1000u);
    }
    EXPECT_TRUE(alerts().empty());
}

TEST_F(AvrLoad, RefusedFilesLeaveTheSlotAsItWas) {
    files::Avr good;
    good.data.assign(64, 3);
    ASSERT_EQ(load_avr(good), LoadResult::loaded);
    const p_s* before = t_sound[0];
    files::Avr bad_bits = good;
    bad_bits.bits = 12;
    files::Avr no_rate = good;  // would play nothing
    no_rate.rate = 0;
    files::Bytes short_file = good.bytes();
    short_file.resize(127);
    for (const auto& [leaf, bytes] : {std::pair{"bad_bits.avr", bad_bits.bytes()},
                                      {"no_rate.avr", no_rate.bytes()},
                                      {"short.avr", short_file},
                                      {"empty.avr", files::Bytes{}}})
        ASSERT_TRUE(files::write_bytes(dir_.file(leaf), bytes));

    // Each refusal keeps the alert's text and button and gives its reason in
    // the details; a file that cannot be opened shows nothing but has a reason.
    struct Case {
        std::string path;
        LoadResult result;
        const char* reason;
    };
    const Case cases[] = {
        {dir_.file("bad_bits.avr"), LoadResult::refused, "resolution is neither 8 nor 16 bits"},
        {dir_.file("no_rate.avr"), LoadResult::refused, "sample rate is 0"},
        {dir_.file("short.avr"), LoadResult::refused, "shorter than its header"},
        {dir_.file("empty.avr"), LoadResult::refused, "is empty"},
        {dir_.file("missing.avr"), LoadResult::unopenable,
         "cannot be opened: No such file or directory"},
        {dir_.file(""), LoadResult::unopenable, "is a directory"},
    };
    int shown = 0;
    for (const Case& c : cases) {
        std::string why;
        EXPECT_EQ(load(1, c.path.c_str(), "x.avr", &why), c.result) << c.path;
        EXPECT_EQ(why, c.reason) << c.path;
        if (c.result == LoadResult::refused) {
            ++shown;
            EXPECT_EQ(alerts().back().text, "Not an audio file or format not supported");
            EXPECT_EQ(alerts().back().button, "...");
            EXPECT_EQ(alerts().back().details, c.reason);
        }
        EXPECT_EQ(int(alerts().size()), shown) << c.path;
        EXPECT_EQ(t_sound[0].load(), before) << c.path;
        EXPECT_FALSE(loadin);
    }
    // A header without data is a sound of nothing.
    const files::Bytes bytes = good.bytes();
    MemoryInput header_only(bytes.data(), 128);
    const std::unique_ptr<p_s> empty = read_avr(header_only, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->size + empty->loop_start, 0u);
}

TEST_F(AvrLoad, LoadGoesIntoTheSelectedSlotAndRetiresTheOldRecord) {
    p_s* second = new_sound();
    t_sound[1] = second;
    nb_sound = 2;
    no_s = 1;
    files::Avr avr;
    avr.data.assign(10, 1);
    ASSERT_EQ(load_avr(avr), LoadResult::loaded);
    EXPECT_NE(t_sound[1].load(), second);
    EXPECT_EQ(t_sound[1].load()->size, 10u);
    EXPECT_STREQ(t_sound[0].load()->name, "None Sample");
    reclaim::reclaim_all();
    EXPECT_EQ(reclaim::pending(), 0u);
}
