#include "io/avr.h"

#include "io/file_kind.h"
#include "io/load.h"
#include "support/testkit.h"

TEST(FileKind, ExtensionsAndRecordedTypeChooseTheReader) {
    // A prefix of the ending is enough; ".AIF" is tried before ".aiff"; only
    // the last dot counts, and not one in a folder.
    const std::pair<FileKind, std::vector<const char*>> by_name[] = {
        {kKindAvr, {"/s/drum.avr", "/s/DRUM.Avr", "/s/drum.avr2"}},
        {kKindWav, {"/s/drum.WAVE", "/s/drum.avr.wav"}},
        {kKindAif, {"/s/drum.aif"}},
        {kKindAiff, {"/s/x.aiff", "/s/x.AIFF"}},
        {kKindUnknown, {"/s/x.flac", "/s/drum", "/s/kit.v2/drum"}},
    };
    for (const auto& [kind, paths] : by_name)
        for (const char* path : paths) EXPECT_EQ(file_kind(path, ""), kind) << path;
    // A recorded type wins over the name.
    EXPECT_EQ(file_kind("/s/noext", "AUDIO/X-AIFF"), kKindAiff);
    EXPECT_EQ(file_kind("/s/drum.avr", "audio/x-aiff"), kKindAiff);
    EXPECT_EQ(file_kind("/s/drum.wav", "audio/x-wav"), kKindWav);
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
    static std::vector<std::uint32_t> posts;  // codes for the main window
    ui_hooks().post = [](std::uint32_t code) { posts.push_back(code); };
    for (int bits : {8, 16}) {
        for (int stereo : {0, 1}) {
            SCOPED_TRACE(testing::Message() << bits << "-bit stereo " << stereo);
            files::Avr avr{.channels = std::uint8_t(stereo ? 0xFF : 0),
                           .bits = std::uint8_t(bits),
                           .note = 72,
                           .rate = 44100};
            const int samples = 1000 * (stereo ? 2 : 1);
            for (int i = 0; i < samples; ++i) {
                const auto v = static_cast<std::uint16_t>(files::pattern16(i, 0));
                avr.data.push_back(static_cast<std::uint8_t>(v >> 8));
                if (bits == 16) avr.data.push_back(static_cast<std::uint8_t>(v));
            }
            posts.clear();
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
            EXPECT_EQ(posts, std::vector<std::uint32_t>{fourcc("RauQ")});
        }
    }
    EXPECT_TRUE(alerts().empty());
}

TEST_F(AvrLoad, HeaderFieldsAreRepairedOrDefaulted) {
    // An odd loop begin is rounded down, the loop end replaced by the data
    // length, and an odd byte of 16-bit data dropped.
    files::Avr avr{.name = "",
                   .bits = 16,
                   .loop = 1,
                   .note = 0xFF,
                   .loop_begin = 0x000101,
                   .loop_end = 8,
                   .data = files::Bytes(1001, 0x11)};
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
    const files::Avr good{.data = files::Bytes(64, 3)};
    ASSERT_EQ(load_avr(good), LoadResult::loaded);
    const p_s* before = t_sound[0];
    files::Bytes short_file = good.bytes();
    short_file.resize(127);
    for (const auto& [leaf, bytes] : {std::pair{"bad_bits.avr", files::Avr{.bits = 12}.bytes()},
                                      {"no_rate.avr", files::Avr{.rate = 0}.bytes()},
                                      {"short.avr", short_file},
                                      {"empty.avr", files::Bytes{}}})
        ASSERT_TRUE(files::write_bytes(dir_.file(leaf), bytes));

    // Each refusal keeps the alert's text and button and gives its reason in
    // the details; a file that cannot be opened shows nothing but has a reason.
    const std::tuple<std::string, LoadResult, const char*> cases[] = {
        // path, result, reason
        {dir_.file("bad_bits.avr"), LoadResult::refused, "resolution is neither 8 nor 16 bits"},
        {dir_.file("no_rate.avr"), LoadResult::refused, "sample rate is 0"},
        {dir_.file("short.avr"), LoadResult::refused, "shorter than its header"},
        {dir_.file("empty.avr"), LoadResult::refused, "is empty"},
        {dir_.file("missing.avr"), LoadResult::unopenable,
         "cannot be opened: No such file or directory"},
        {dir_.file(""), LoadResult::unopenable, "is a directory"}};
    int shown = 0;
    for (const auto& [path, result, reason] : cases) {
        std::string why;
        EXPECT_EQ(load(1, path.c_str(), "x.avr", &why), result) << path;
        EXPECT_EQ(why, reason) << path;
        if (result == LoadResult::refused) {
            ++shown;
            EXPECT_EQ(alerts().back().text, "Not an audio file or format not supported");
            EXPECT_EQ(alerts().back().button, "...");
            EXPECT_EQ(alerts().back().details, reason);
        }
        EXPECT_EQ(int(alerts().size()), shown) << path;
        EXPECT_EQ(t_sound[0].load(), before) << path;
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
    add_sounds(0, 1);
    const p_s* second = t_sound[1];
    no_s = 1;
    ASSERT_EQ(load_avr({.data = files::Bytes(10, 1)}), LoadResult::loaded);
    EXPECT_NE(t_sound[1].load(), second);
    EXPECT_EQ(t_sound[1].load()->size, 10u);
    EXPECT_STREQ(t_sound[0].load()->name, "None Sample");
    reclaim::reclaim_all();
    EXPECT_EQ(reclaim::pending(), 0u);
}
