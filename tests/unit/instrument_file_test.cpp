#include "io/instrument_file.h"

#include <sys/resource.h>

#include <csignal>
#include <tuple>

#include "io/loadi.h"
#include "support/testkit.h"

namespace fs = std::filesystem;
using files::Bytes;
using files::ItSound;

namespace {

class InstrumentFile : public testkit::EngineTest {
  protected:
    static int read(const Bytes& b) {
        MemoryInput in(b.data(), b.size());
        return read_instrument_file(in, "/x/kit.it");
    }
    static ItSound sound16(std::vector<std::int16_t> pts, const std::string& name) {
        return {.name = name, .data = files::be_points(pts)};
    }
    static bool alerted(const char* part) {
        return !alerts().empty() && alerts().back().text.find(part) != std::string::npos;
    }
    files::TempDir dir_;
};

TEST_F(InstrumentFile, BlocksReplaceTheSelectedInstrumentsSoundsInOrder) {
    // Count 3 into an instrument of two: both replaced, two appended.
    add_inst("second");
    no_s = 0;
    add_sounds(0, 1);  // instrument 0 owns two sounds
    std::vector<ItSound> s;
    for (int i = 0; i < 4; ++i)
        s.push_back(sound16({std::int16_t(i), 2, 3, 4}, "n" + std::to_string(i)));
    EXPECT_EQ(read(files::it_file(s)), 4);
    EXPECT_EQ(testkit::layout(), "n0 n1 n2 n3 | None sample");
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(reinterpret_cast<std::int16_t*>(t_sound[i].load()->data)[0], i);
    EXPECT_EQ(t_sound[0].load()->type, kTypeInstrumentHead);
    EXPECT_STREQ(t_sound[0].load()->ipath, "/x/kit.it");
    EXPECT_EQ(t_sound[1].load()->type, kTypeMemory);
    EXPECT_EQ(no_s, 0);
    EXPECT_TRUE(alerts().empty());
    // One block into an instrument of four replaces the first sound only.
    const auto before = testkit::TableSnapshot::take().sounds;
    EXPECT_EQ(read(files::it_file({sound16({9}, "solo")})), 1);
    EXPECT_STREQ(t_sound[0].load()->name, "solo");
    for (int i = 1; i < 4; ++i) EXPECT_EQ(t_sound[i].load(), before[i]);
}

TEST_F(InstrumentFile, FieldsAreRepairedWhereTheFileDisagrees) {
    // Odd loop offsets of 16-bit data round down, a shift wrong for 16-bit
    // mono is mended, any non-zero stereo value means stereo, and the third
    // sound's loop lies beyond its data.
    const ItSound a{.loop_start = 1001,
                    .loop_end = 3001,
                    .loop = 1,
                    .base = 300,
                    .shift = 0,
                    .data = Bytes(10000, 0)};
    const ItSound b{.loop_end = 77, .bits = 8, .stereo = 7, .data = Bytes(10000, 1)};
    const ItSound c{.loop_start = 500,
                    .loop_end = 900,
                    .loop = 1,
                    .name = "a name longer than fifteen",
                    .data = files::be_points({1, 2})};
    EXPECT_EQ(read(files::it_file({a, b, c})), 3);
    EXPECT_EQ(testkit::describe(t_sound[0]),
              "16-bit mono shift 1, 22050 Hz, base 48, keys 0-127, size 10000, loop on 1000-3000");
    EXPECT_EQ(testkit::describe(t_sound[1]),
              "8-bit stereo shift 1, 22050 Hz, base 60, keys 0-127, size 10000, loop off 0-10000");
    const p_s* rc = t_sound[2];
    EXPECT_STREQ(rc->name, "a name longer t");
    // Without the marker in its tail a block leaves curves and release at the defaults.
    const std::unique_ptr<p_s> fresh(new_sound());
    EXPECT_EQ(std::memcmp(rc->env, fresh->env, sizeof rc->env), 0);
    EXPECT_EQ(rc->flags, fresh->flags);
    EXPECT_EQ(rc->rel_time, fresh->rel_time);
    EXPECT_LE(rc->loop_start, rc->size);
    EXPECT_LE(rc->loop_end, rc->size);
}

TEST_F(InstrumentFile, UnusableFilesChangeNothingAndTruncatedOnesKeepWholeSounds) {
    add_sounds(0, 2);  // instrument 0 owns three sounds
    const testkit::TableSnapshot before = testkit::TableSnapshot::take();
    const ItSound good = sound16({1, 2, 3}, "good"), twelve{.bits = 12, .data = good.data};
    Bytes wrong_magic = files::it_file({good});
    wrong_magic[0] = 'Q';
    Bytes cut = files::it_file({good});
    cut.resize(100);  // not even one whole block
    const std::tuple<Bytes, const char*> cases[] = {
        // file, reason (null: silently ignored)
        {wrong_magic, nullptr},
        {files::it_file({good, good}, -1, 0), "no sample data"},  // data flag 0
        {files::it_file({good, twelve}), "12 bits"},
        {cut, ""}};
    for (const auto& [file, reason] : cases) {
        alerts().clear();
        EXPECT_EQ(read(file), 0);
        EXPECT_EQ(alerts().size(), reason ? 1u : 0u);
        EXPECT_TRUE(!reason || alerted(reason)) << reason;
        testkit::expect_unchanged(before);
    }
    // The third block's data is cut short: the two whole sounds are kept.
    Bytes f =
        files::it_file({sound16({1, 1}, "a"), sound16({2, 2}, "b"), sound16({3, 3, 3, 3}, "c")});
    f.resize(f.size() - 3);
    EXPECT_EQ(read(f), 2);
    EXPECT_STREQ(t_sound[0].load()->name, "a");
    EXPECT_STREQ(t_sound[1].load()->name, "b");
    EXPECT_EQ(t_sound[2].load(), before.sounds[2]);
    EXPECT_TRUE(alerted("2 of 3"));
    // A count of 65535 announces far more blocks than the file holds.
    EXPECT_EQ(read(files::it_file({sound16({5}, "x"), sound16({6}, "y")}, 65535)), 2);
    EXPECT_TRUE(alerted("2 of 65536"));
    EXPECT_EQ(nb_sound, 3);
    // More blocks than the sound table can take.
    add_inst("other");
    ASSERT_TRUE(add_sounds(1, kMaxSounds - nb_sound - 1));
    no_s = 0;
    const p_s* first = t_sound[0];
    EXPECT_EQ(read(files::it_file({good, good, good, good, good})), 0);  // two more than fit
    EXPECT_TRUE(alerted("more sounds"));
    EXPECT_EQ(t_sound[0].load(), first);
}

TEST_F(InstrumentFile, SavedInstrumentReadsBackIntoTheSameSounds) {
    add_inst("other");  // a second instrument that must not be written
    no_s = 0;
    std::vector<p_s*> made{
        testkit::make_sound8({1, -2, 3, -4, 5, -6, 7, -8}, 11025, 40),
        testkit::make_sound8({10, 20, -10, -20, 30, 40}, 8000, 72, true),
        testkit::make_sound16(testkit::sine16(440, 44100, 3000), 44100, 69),
        testkit::make_sound16({-32768, 32767, 1234, -1234, 7, 8, 9, 10}, 48000, 60, true)};
    testkit::set_loop_frames(made[0], 2, 6);
    testkit::set_loop_frames(made[2], 100, 2900);
    testkit::set_loop_frames(made[3], 1, 2);
    made[1]->loop_start = 2, made[1]->loop_end = 4;  // not looping
    made[2]->key_lo = 10, made[2]->key_hi = 64;
    made[3]->key_lo = 65, made[3]->vel_lo = 5, made[3]->vel_hi = 100, made[3]->file_offset = 128;
    std::strcpy(made[3]->name, "sixteen-stereo-long-name");
    made[2]->art = {.on = true,
                    .sample_mode = kLoopUntilRelease,
                    .exclusive_class = 5,
                    .cuts = kCutsNone,
                    .tune = -1234,
                    .attenuation = 960,
                    .pan = -500,
                    .release = 321,
                    .filter_cutoff = 9000,
                    .mod_decay = 1234,
                    .mod_env_to_filter = -800,
                    .velocity_attenuation = 800,
                    .modulator_count = 1,
                    .modulators = {{0x0102, 0x0003, 36, -1200}}};
    for (int i = 0; i < 4; ++i) {  // curves, flags and release differ from the defaults
        for (int c = 0; c < kCurves; ++c)
            for (int p = 0; p < kPoints; ++p)
                made[i]->env[p][c] = std::uint16_t((i * 31 + c * 7 + p) * 977);
        made[i]->flags = std::uint16_t(0x15 ^ i);
        made[i]->rel_time = 1000u * i + 77;
        made[i]->pan = std::uint16_t(i == 3 ? 300 : 20 * i);  // 300: Panning has no range check
    }
    set_inst_name(0, "Grand kit, pedal down");
    ASSERT_TRUE(add_sounds(0, 3));
    for (int i = 0; i < 4; ++i) replace_sound(i, made[i]);
    no_s = 2;

    ASSERT_TRUE(saveinst(dir_.file("kit").c_str()));
    const std::string file = dir_.file("kit.it");
    const Bytes bytes = files::read_bytes(file);
    const std::size_t fourth = 18 + 4 * 352 + 8 + 6 + 6000;
    ASSERT_EQ(bytes.size(), fourth + 16);
    EXPECT_EQ(bytes[fourth], 0x80);  // 16-bit data is stored big-endian: -32768
    EXPECT_EQ(bytes[fourth + 1], 0x00);
    EXPECT_EQ(bytes[18 + 44], 0);
    EXPECT_EQ(bytes[18 + 45], 3);  // three blocks after the first
    // Readers that know only the fixed fields find the name cut to 15 characters.
    const std::size_t fourth_block = fourth - 352;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[fourth_block + 28])),
              "sixteen-stereo-");

    std::vector<p_s> copies;
    for (p_s* m : made) copies.emplace_back(*m);
    testkit::fresh_tables();
    loadi(1, file.c_str(), "kit.it");
    ASSERT_EQ(nb_sound, 4);
    for (int i = 0; i < 4; ++i) {
        const p_s& a = copies[i];
        const p_s* b = t_sound[i];
        SCOPED_TRACE(i);
        EXPECT_STREQ(b->name, a.name);
        EXPECT_EQ(std::memcmp(b->env, a.env, sizeof a.env), 0);
        EXPECT_TRUE(b->art == a.art);
        EXPECT_EQ(testkit::describe(b), testkit::describe(&a));
        EXPECT_EQ(std::tuple(int(b->flags), int(b->rel_time), int(b->vel_lo), int(b->vel_hi),
                             int(b->file_offset), int(b->nb_next), int(b->pan)),
                  std::tuple(int(a.flags), int(a.rel_time), int(a.vel_lo), int(a.vel_hi),
                             int(a.file_offset), 0, int(a.pan)));
        ASSERT_NE(b->data, nullptr);
        EXPECT_EQ(std::memcmp(b->data, a.data, a.size), 0);
    }
    EXPECT_STREQ(t_sound[0].load()->ipath, file.c_str());
    EXPECT_STREQ(inst_name(0), "Grand kit, pedal down");
}

TEST_F(InstrumentFile, OlderFilesKeepTheDefaultPanningAndTheInstrumentsName) {
    // Files written before the Panning and the instrument's name were kept:
    // no marker, and the marker with versions 1 and 2 (the bytes after the
    // articulation left zero, as the older writers left them).
    for (int version : {0, 1, 2}) {
        SCOPED_TRACE(version);
        testkit::fresh_tables();
        set_inst_name(0, "Mine");
        Bytes b = files::it_file({sound16({1, 2}, "a"), sound16({3, 4}, "b")});
        for (std::size_t at : {std::size_t{18}, std::size_t{18 + 352 + 4}}) {
            if (version == 0) continue;
            std::memcpy(&b[at + kInstExtraAt], kInstExtraMarker, 4);
            b[at + kInstExtraAt + 5] = std::uint8_t(version);
            std::strcpy(reinterpret_cast<char*>(&b[at + kInstExtraNameAt]), "whole name");
        }
        ASSERT_EQ(read(b), 2);
        EXPECT_STREQ(inst_name(0), "Mine");
        for (int i = 0; i < 2; ++i) EXPECT_EQ(int(t_sound[i].load()->pan), 64);
        EXPECT_STREQ(t_sound[1].load()->name, version ? "whole name" : "b");
    }
}

TEST_F(InstrumentFile, FailedSaveLeavesTheExistingFileAlone) {
    add_sounds(0, 1);
    replace_sound(1, testkit::make_sound16(std::vector<std::int16_t>(50000, 3), 22050, 60));
    const std::string file = dir_.file("keep.it");
    std::ofstream(file) << "precious";
    // Writes past this size fail; the temporary file takes the failure.
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit small = {4096, old.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = saveinst(file.c_str());
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(saved);
    std::string content;
    std::ifstream(file) >> content;
    EXPECT_EQ(content, "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator{}), 1);
    // A streamed sound cannot be written; nothing is created.
    t_sound[0].load()->type = kTypeStreamed;
    EXPECT_FALSE(saveinst(dir_.file("streamed").c_str()));
    EXPECT_FALSE(fs::exists(dir_.file("streamed.it")));
}

TEST(InstrumentFileNames, WriterAndOpenFlowAgreeOnEndings) {
    EXPECT_EQ(instrument_file_path("/a/kit"), "/a/kit.it");
    EXPECT_EQ(instrument_file_path("/a/KIT.IT"), "/a/KIT.IT");
    EXPECT_EQ(instrument_file_path("/a/kit.it.bak"), "/a/kit.it.bak.it");
    for (const char* yes : {"/a/kit.SF2", "/a/a.b.sf2"}) EXPECT_TRUE(is_bank_path(yes)) << yes;
    for (const char* no : {"/a/kit.sf2.wav", "/a/kit.it", "/a/sf2"})
        EXPECT_FALSE(is_bank_path(no)) << no;
}

}  // namespace
