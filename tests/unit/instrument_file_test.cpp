#include "io/instrument_file.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/hooks.h"
#include "core/instruments.h"
#include "core/sound.h"
#include "io/input_bytes.h"
#include "io/loadi.h"
#include "support/file_builders.h"
#include "support/testkit.h"

namespace fs = std::filesystem;
using files::Bytes;
using files::ItSound;

namespace {

class InstrumentFile : public testkit::AlertingTest {
  protected:
    void SetUp() override {
        AlertingTest::SetUp();
        dir_ = fs::temp_directory_path() / ("plexora-it-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::remove_all(dir_);
        AlertingTest::TearDown();
    }

    static int read(const Bytes& b, const char* path = "/x/kit.it") {
        MemoryInput in(b.data(), b.size());
        return read_instrument_file(in, path);
    }

    // Instrument 0 with `n` sounds named "old0".. whose pointers are returned.
    static std::vector<p_s*> old_sounds(int n) {
        add_sounds(0, n - 1);
        std::vector<p_s*> v;
        for (int i = 0; i < n; ++i) {
            std::snprintf(t_sound[i].load()->name, 32, "old%d", i);
            v.push_back(t_sound[i]);
        }
        return v;
    }

    static ItSound sound16(std::vector<std::int16_t> pts, const char* name) {
        ItSound s;
        s.name = name;
        s.data = files::be_points(pts);
        return s;
    }

    static std::vector<p_s*> table() {
        std::vector<p_s*> v;
        for (int i = 0; i < nb_sound; ++i) v.push_back(t_sound[i]);
        return v;
    }

    fs::path dir_;
};

TEST_F(InstrumentFile, BlocksReplaceTheSelectedInstrumentsSoundsInOrder) {
    // Count 3 into an instrument of two: both replaced, two appended.
    add_inst("second");
    no_s = 0;
    old_sounds(2);
    std::vector<ItSound> s;
    for (int i = 0; i < 4; ++i)
        s.push_back(sound16({std::int16_t(i), 2, 3, 4}, ("n" + std::to_string(i)).c_str()));
    EXPECT_EQ(read(files::it_file(s)), 4);
    EXPECT_EQ(nb_inst, 2);
    EXPECT_EQ(inst_count(0), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(std::string(t_sound[i].load()->name), "n" + std::to_string(i));
        EXPECT_EQ(reinterpret_cast<std::int16_t*>(t_sound[i].load()->data)[0], i);
    }
    EXPECT_EQ(t_invert[4], 1);
    EXPECT_EQ(t_sound[0].load()->type, kTypeInstrumentHead);
    EXPECT_STREQ(t_sound[0].load()->ipath, "/x/kit.it");
    EXPECT_EQ(t_sound[1].load()->type, kTypeMemory);
    EXPECT_EQ(no_s, 0);
    EXPECT_TRUE(alerts().empty());

    // One block into an instrument of four replaces the first sound only.
    const auto before = table();
    EXPECT_EQ(read(files::it_file({sound16({9}, "solo")})), 1);
    EXPECT_STREQ(t_sound[0].load()->name, "solo");
    for (int i = 1; i < 4; ++i) EXPECT_EQ(t_sound[i].load(), before[i]);
}

TEST_F(InstrumentFile, FieldsAreRepairedWhereTheFileDisagrees) {
    ItSound a = sound16(std::vector<std::int16_t>(5000), "looped");
    a.loop = 1;
    a.loop_start = 1001;  // odd offsets of 16-bit data round down
    a.loop_end = 3001;
    a.shift = 0;  // wrong for 16-bit mono
    a.base = 300;
    ItSound b;
    b.bits = 8;
    b.stereo = 7;  // any non-zero value means stereo
    b.data = Bytes(10000, 1);
    b.loop = 0;
    b.loop_start = 0;
    b.loop_end = 77;
    ItSound c = sound16({1, 2}, "a name longer than fifteen");
    c.loop = 1;
    c.loop_start = 500;  // beyond the data
    c.loop_end = 900;
    EXPECT_EQ(read(files::it_file({a, b, c})), 3);
    p_s* ra = t_sound[0];
    EXPECT_EQ(ra->loop_start, 1000u);
    EXPECT_EQ(ra->loop_end, 3000u);
    EXPECT_EQ(ra->shift, 1);
    EXPECT_EQ(ra->base, 48);
    p_s* rb = t_sound[1];
    EXPECT_EQ(rb->stereo, 1);
    EXPECT_EQ(rb->shift, 1);
    EXPECT_EQ(rb->loop_end, 10000u);  // no loop: size - loop start
    p_s* rc = t_sound[2];
    EXPECT_STREQ(rc->name, "a name longer t");
    // Without the marker in its tail a block leaves curves and release at the defaults.
    const std::unique_ptr<p_s> fresh(new_sound());
    for (int c = 0; c < kCurves; ++c)
        for (int p = 0; p < kPoints; ++p) EXPECT_EQ(rc->env[p][c], fresh->env[p][c]);
    EXPECT_EQ(rc->flags, fresh->flags);
    EXPECT_EQ(rc->rel_time, fresh->rel_time);
    EXPECT_LE(rc->loop_start, rc->size);
    EXPECT_LE(rc->loop_end, rc->size);
}

TEST_F(InstrumentFile, UnusableFilesChangeNothing) {
    const auto before = old_sounds(2);
    const auto unchanged = [&] {
        EXPECT_EQ(nb_sound, 2);
        EXPECT_EQ(t_sound[0].load(), before[0]);
        EXPECT_EQ(t_sound[1].load(), before[1]);
    };
    const ItSound good = sound16({1, 2, 3}, "good");

    Bytes wrong_magic = files::it_file({good});
    wrong_magic[0] = 'Q';
    EXPECT_EQ(read(wrong_magic), 0);
    EXPECT_TRUE(alerts().empty());  // silently ignored
    unchanged();

    EXPECT_EQ(read(files::it_file({good, good}, -1, 0)), 0);  // data flag 0
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_NE(alerts()[0].find("no sample data"), std::string::npos);
    unchanged();

    ItSound twelve = good;
    twelve.bits = 12;
    EXPECT_EQ(read(files::it_file({good, twelve})), 0);
    EXPECT_NE(alerts().back().find("12 bits"), std::string::npos);
    unchanged();

    Bytes cut = files::it_file({good});
    cut.resize(100);  // not even one whole block
    EXPECT_EQ(read(cut), 0);
    EXPECT_EQ(alerts().size(), 3u);
    unchanged();

    // More blocks than the sound table can take.
    add_inst("other");
    ASSERT_TRUE(add_sounds(1, kMaxSounds - nb_sound - 1));
    no_s = 0;
    EXPECT_EQ(read(files::it_file({good, good, good, good})), 0);
    EXPECT_NE(alerts().back().find("more sounds"), std::string::npos);
    EXPECT_EQ(t_sound[0].load(), before[0]);
}

TEST_F(InstrumentFile, ATruncatedFileKeepsTheSoundsReadWhole) {
    const auto before = old_sounds(3);
    const std::vector<ItSound> s{sound16({1, 1}, "a"), sound16({2, 2}, "b"),
                                 sound16({3, 3, 3, 3}, "c")};
    Bytes f = files::it_file(s);
    f.resize(f.size() - 3);  // the third block's data is cut short
    EXPECT_EQ(read(f), 2);
    EXPECT_STREQ(t_sound[0].load()->name, "a");
    EXPECT_STREQ(t_sound[1].load()->name, "b");
    EXPECT_EQ(t_sound[2].load(), before[2]);
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_NE(alerts()[0].find("2 of 3"), std::string::npos);

    // A count of 65535 announces far more blocks than the file holds.
    EXPECT_EQ(read(files::it_file({sound16({5}, "x"), sound16({6}, "y")}, 65535)), 2);
    EXPECT_NE(alerts().back().find("2 of 65536"), std::string::npos);
    EXPECT_EQ(nb_sound, 3);
}

TEST_F(InstrumentFile, SavedInstrumentReadsBackIntoTheSameSounds) {
    add_inst("other");  // a second instrument that must not be written
    no_s = 0;
    std::vector<p_s*> made;
    made.push_back(testkit::make_sound8({1, -2, 3, -4, 5, -6, 7, -8}, 11025, 40));
    made.push_back(testkit::make_sound8({10, 20, -10, -20, 30, 40}, 8000, 72, true));
    made.push_back(testkit::make_sound16(testkit::sine16(440, 44100, 3000), 44100, 69));
    made.push_back(
        testkit::make_sound16({-32768, 32767, 1234, -1234, 7, 8, 9, 10}, 48000, 60, true));
    testkit::set_loop_frames(made[0], 2, 6);
    testkit::set_loop_frames(made[2], 100, 2900);
    made[1]->loop = 0;
    made[1]->loop_start = 2;
    made[1]->loop_end = 4;
    testkit::set_loop_frames(made[3], 1, 2);
    made[2]->key_lo = 10;
    made[2]->key_hi = 64;
    made[3]->key_lo = 65;
    made[3]->vel_lo = 5;
    made[3]->vel_hi = 100;
    made[3]->file_offset = 128;
    std::strcpy(made[3]->name, "sixteen-stereo-long-name");
    for (int i = 0; i < 4; ++i) {  // curves, flags and release differ from the defaults
        for (int c = 0; c < kCurves; ++c)
            for (int p = 0; p < kPoints; ++p)
                made[i]->env[p][c] = std::uint16_t((i * 31 + c * 7 + p) * 977);
        made[i]->flags = std::uint16_t(0x15 ^ i);
        made[i]->rel_time = 1000u * i + 77;
    }
    ASSERT_TRUE(add_sounds(0, 3));
    for (int i = 0; i < 4; ++i) replace_sound(i, made[i]);
    no_s = 2;

    const fs::path base = dir_ / "kit";
    ASSERT_TRUE(saveinst(base.c_str()));
    const fs::path file = dir_ / "kit.it";
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 18u + 4 * 352 + 8 + 6 + 6000 + 16);
    std::ifstream f(file, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(f)), {});
    // 16-bit data is stored big-endian: the fourth sound begins with -32768.
    const std::size_t fourth = 18 + 4 * 352 + 8 + 6 + 6000;
    EXPECT_EQ(bytes[fourth], 0x80);
    EXPECT_EQ(bytes[fourth + 1], 0x00);
    EXPECT_EQ(bytes[18 + 44], 0);
    EXPECT_EQ(bytes[18 + 45], 3);  // three blocks after the first
    // Readers that know only the fixed fields find the name cut to 15 characters.
    const std::size_t fourth_block = fourth - 352;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[fourth_block + 28])),
              "sixteen-stereo-");

    // Read back into a fresh table and compare.
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
        for (int c = 0; c < kCurves; ++c)
            for (int p = 0; p < kPoints; ++p) EXPECT_EQ(b->env[p][c], a.env[p][c]) << c << p;
        EXPECT_EQ(b->flags, a.flags);
        EXPECT_EQ(b->rel_time, a.rel_time);
        EXPECT_EQ(b->rate, a.rate);
        EXPECT_EQ(b->size, a.size);
        EXPECT_EQ(b->loop, a.loop);
        EXPECT_EQ(b->loop_start, a.loop_start);
        EXPECT_EQ(b->loop_end, a.loop_end);
        EXPECT_EQ(b->base, a.base);
        EXPECT_EQ(b->file_offset, a.file_offset);
        EXPECT_EQ(b->bits, a.bits);
        EXPECT_EQ(b->stereo, a.stereo);
        EXPECT_EQ(b->shift, a.shift);
        EXPECT_EQ(b->key_lo, a.key_lo);
        EXPECT_EQ(b->key_hi, a.key_hi);
        EXPECT_EQ(b->vel_lo, a.vel_lo);
        EXPECT_EQ(b->vel_hi, a.vel_hi);
        EXPECT_EQ(b->nb_next, 0);
        ASSERT_NE(b->data, nullptr);
        EXPECT_EQ(std::memcmp(b->data, a.data, a.size), 0);
    }
    EXPECT_STREQ(t_sound[0].load()->ipath, file.c_str());
}

TEST_F(InstrumentFile, FailedSaveLeavesTheExistingFileAlone) {
    old_sounds(2);
    replace_sound(1, testkit::make_sound16(std::vector<std::int16_t>(50000, 3), 22050, 60));
    const fs::path file = dir_ / "keep.it";
    { std::ofstream(file) << "precious"; }

    // Writes past this size fail; the temporary file takes the failure.
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = saveinst(file.c_str());
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_FALSE(saved);
    std::ifstream f(file);
    std::string content;
    f >> content;
    EXPECT_EQ(content, "precious");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}),
              1);  // no temporary left

    // A streamed sound cannot be written; nothing is created.
    t_sound[0].load()->type = kTypeStreamed;
    EXPECT_FALSE(saveinst((dir_ / "streamed").c_str()));
    EXPECT_FALSE(fs::exists(dir_ / "streamed.it"));
}

TEST(InstrumentFileNames, WriterAndOpenFlowAgreeOnEndings) {
    EXPECT_EQ(instrument_file_path("/a/kit"), "/a/kit.it");
    EXPECT_EQ(instrument_file_path("/a/KIT.IT"), "/a/KIT.IT");
    EXPECT_EQ(instrument_file_path("/a/kit.it.bak"), "/a/kit.it.bak.it");
    EXPECT_TRUE(is_bank_path("/a/kit.SF2"));
    EXPECT_TRUE(is_bank_path("/a/a.b.sf2"));
    EXPECT_FALSE(is_bank_path("/a/kit.sf2.wav"));
    EXPECT_FALSE(is_bank_path("/a/kit.it"));
    EXPECT_FALSE(is_bank_path("/a/sf2"));
}

}  // namespace
