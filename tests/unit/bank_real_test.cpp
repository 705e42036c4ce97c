// Imports the General MIDI banks shipped by Debian and checks known facts of
// each: how many programs and kits it gives, their names and sizes, and what
// chosen keys play, with the sample's bytes compared against the file.

#include "io/loadi.h"
#include "support/testkit.h"

namespace {

struct Program {
    int inst;
    const char* name;
    int sounds;  // zones left after the presets' key ranges narrowed them
};

// What `key` of instrument `inst` plays; `offset` is where its data lies in the file.
struct Played {
    int inst, key;
    const char* sample;
    std::uint32_t size, rate;
    int base, key_lo, key_hi;
    std::size_t offset;
};

struct Bank {
    const char* path;
    int instruments;  // 128 programs, then the drum kits
    std::vector<Program> programs;
    std::vector<Played> played;
};

// Keys 0 and 127 lie outside every range of the kit and of the piano's
// last zones: the instrument's last sound answers them.
const Bank kBanks[] = {
    {"/usr/share/sounds/sf2/TimGM6mb.sf2",
     136,
     {{0, "Piano 1", 33},
      {40, "Violin", 9},
      {73, "Flute TB", 10},
      {128, "Standard", 62},
      {129, "Room", 62}},
     {{0, 60, "Piano Db3", 22156, 22050, 80, 60, 62, 1239600},
      {0, 127, "Piano Gb5", 11456, 22050, 104, 99, 108, 1159570},
      {40, 61, "Violin D3", 3186, 44100, 74, 61, 66, 2654294},
      {73, 61, "FluteE5", 31080, 22500, 64, 61, 65, 126920},
      {128, 36, "Bass Drum New", 3792, 44100, 47, 36, 36, 1711714},
      {128, 0, "Carillon C6", 8248, 44100, 45, 34, 34, 1881020}}},
    {"/usr/share/sounds/sf2/FluidR3_GM.sf2",
     159,
     {{0, "Yamaha Grand Piano", 21},
      {40, "Violin", 15},
      {73, "Flute", 10},
      {128, "Standard", 61},
      {129, "Standard 1", 61},
      {149, "TR-808", 59}},
     {{0, 60, "P200 Piano D5(L)", 207774, 32000, 62, 59, 62, 126311944},
      {0, 127, "P200 Piano D2(R)", 439004, 32000, 26, 0, 26, 121344548},
      {40, 58, "Violin G#4(L)", 128280, 44100, 56, 0, 58, 34227772},
      {73, 63, "Flute E4(L)", 86064, 44100, 64, 63, 65, 23735526},
      {128, 36, "Std Kick(L)", 24924, 44100, 36, 35, 36, 78410104},
      {128, 38, "Std Snr 1(L)", 41280, 44100, 38, 38, 38, 72228792},
      // The kit's preset zones narrow an instrument that also holds key 39.
      {149, 39, "808 Clap", 47378, 44100, 39, 39, 39, 112428534}}},
};

void PrintTo(const Bank& b, std::ostream* os) {
    *os << b.path;
}

class RealBanks : public testkit::EngineTest, public testing::WithParamInterface<Bank> {};

TEST_P(RealBanks, ProgramsAndKitsPlayTheSamplesTheirPresetsGive) {
    const Bank& bank = GetParam();
    if (!std::filesystem::exists(bank.path)) GTEST_SKIP() << bank.path << " is not installed";
    loadi(1, bank.path, "");
    ASSERT_TRUE(alerts().empty()) << alerts()[0].text;
    ASSERT_EQ(nb_inst, bank.instruments);
    for (const Program& p : bank.programs) {
        EXPECT_STREQ(inst_name(p.inst), p.name);
        EXPECT_EQ(inst_count(p.inst), p.sounds) << p.name;
    }
    EXPECT_EQ(ch_inst[9], 128);  // channel 10 plays the standard kit
    EXPECT_EQ(no_s, 0);

    const files::Bytes file = files::read_bytes(bank.path);
    for (const Played& p : bank.played) {
        SCOPED_TRACE(testing::Message() << p.inst << " key " << p.key);
        const p_s* s = sample_used(true, static_cast<std::uint32_t>(p.inst),
                                   static_cast<std::uint32_t>(p.key));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(
            std::tuple(std::string(s->name), +s->size, +s->rate, +s->base, +s->key_lo, +s->key_hi),
            std::tuple(std::string(p.sample), p.size, p.rate, p.base, p.key_lo, p.key_hi));
        ASSERT_LE(p.offset + 64, file.size());
        EXPECT_EQ(std::memcmp(s->data, &file[p.offset], 64), 0);
    }
    // One copy of the sample data for the whole bank, and every sound playable within it.
    const std::int8_t* block = t_sound[0].load()->block.get();
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < nb_sound; ++i) {
        const p_s* s = t_sound[i];
        ASSERT_EQ(s->block.get(), block) << i;
        ASSERT_EQ(s->bits, 16) << i;
        ASSERT_LE(s->loop_end, s->size) << i;
        ASSERT_GE(std::uint64_t{s->capacity}, std::uint64_t{s->size} + kSpareBytes) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Debian, RealBanks, testing::ValuesIn(kBanks),
                         [](const testing::TestParamInfo<Bank>& b) {
                             return b.index == 0 ? "TimGM6mb" : "FluidR3";
                         });

}  // namespace
