// General MIDI banks: instruments by program number, drum kits after them.
#include <string>
#include <vector>

#include "core/instruments.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "engine/voices.h"
#include "io/bank_import.h"
#include "io/input_bytes.h"
#include "midi/midi_port.h"
#include "support/file_builders.h"
#include "support/table_snapshot.h"
#include "support/testkit.h"

using files::instrument;
using files::key_range;
using files::sample_id;
using files::SfPreset;
using files::SfSample;

namespace {

class BankPresets : public testkit::EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        clear_inst_names();
    }
    static int import(const files::Bytes& b) {
        MemoryInput in(b.data(), b.size());
        return import_bank(in);
    }
    static SfSample sample(const char* name) {
        SfSample s;
        s.name = name;
        s.points.assign(64, 100);
        return s;
    }
    // The sample names and key ranges of instrument k, as "name lo-hi" each.
    static std::vector<std::string> sounds_of(int k) {
        std::vector<std::string> out;
        for (int i = inst_first(k); i < inst_first(k) + inst_count(k); ++i) {
            const p_s* s = t_sound[i];
            out.push_back(std::string(s->name) + " " + std::to_string(s->key_lo) + "-" +
                          std::to_string(s->key_hi));
        }
        return out;
    }

    // Samples a, b, c; instruments: Keys (a below 60, b from 60), Pad (b),
    // Kit (c on 36, a on 38).
    const std::vector<SfSample> samples_{sample("a"), sample("b"), sample("c")};
    const std::vector<files::SfInst> insts_{
        {"Keys", {{key_range(0, 59), sample_id(0)}, {key_range(60, 127), sample_id(1)}}},
        {"Pad", {{sample_id(1)}}},
        {"Kit", {{key_range(36, 36), sample_id(2)}, {key_range(38, 38), sample_id(0)}}}};
};

TEST_F(BankPresets, PresetsLandAtTheirProgramNumbersAndDrumKitsFollow) {
    const std::vector<SfPreset> presets{
        {"Organ", 2, 0, {{instrument(1)}}},
        {"Room", 8, 128, {{instrument(2)}}},
        // A preset zone's key range narrows its instrument's zones.
        {"Piano", 0, 0, {{key_range(50, 70), instrument(0)}}},
        // Below 40 only Keys' first zone is left; Pad adds the keys above it.
        {"Split", 5, 0, {{key_range(0, 40), instrument(0)}, {instrument(1)}}},
        // Two layers of one instrument: the second adds no key, only its last
        // zone stays (it also answers keys outside every range).
        {"Layers", 3, 0, {{instrument(0)}, {instrument(0)}}},
        {"Standard", 0, 128, {{files::pan(3)}, {instrument(2)}}},  // with a global zone
        {"Variation", 0, 8, {{instrument(1)}}},                    // other banks are left out
        {"Again", 2, 0, {{instrument(0)}}},                        // the first preset 2 wins
    };
    EXPECT_EQ(import(files::sf_bank(samples_, insts_, presets)), 12);
    EXPECT_TRUE(alerts().empty());
    ASSERT_EQ(nb_inst, 130);
    EXPECT_STREQ(inst_name(0), "Piano");
    EXPECT_EQ(sounds_of(0), (std::vector<std::string>{"a 50-59", "b 60-70"}));
    // Missing programs: one empty sound each, so numbers keep matching.
    EXPECT_EQ(inst_count(1), 1);
    EXPECT_EQ(t_sound[inst_first(1)].load()->data, nullptr);
    EXPECT_EQ(inst_count(127), 1);
    EXPECT_STREQ(inst_name(2), "Organ");
    EXPECT_EQ(sounds_of(2), (std::vector<std::string>{"b 0-127"}));
    EXPECT_EQ(sounds_of(3), (std::vector<std::string>{"a 0-59", "b 60-127", "b 60-127"}));
    EXPECT_EQ(sounds_of(5), (std::vector<std::string>{"a 0-40", "b 0-127"}));
    EXPECT_STREQ(inst_name(128), "Standard");
    EXPECT_STREQ(inst_name(129), "Room");
    EXPECT_EQ(sounds_of(128), (std::vector<std::string>{"c 36-36", "a 38-38"}));
    EXPECT_EQ(nb_sound, 12 + 124);

    // One copy of each sample, whichever presets use it.
    EXPECT_EQ(t_sound[inst_first(2)].load()->data, t_sound[inst_first(0) + 1].load()->data);
    EXPECT_EQ(t_sound[inst_first(5)].load()->data, t_sound[inst_first(128) + 1].load()->data);

    // Channel 10 plays the standard kit and program changes leave it there.
    EXPECT_EQ(ch_inst[9], 128);
    EXPECT_TRUE(ch_instf[9]);
    fmodei = false;
    MyBMidiPort port;
    port.ProgramChange(9, 2);
    port.ProgramChange(0, 2);
    EXPECT_EQ(ch_inst[9], 128);
    EXPECT_EQ(ch_inst[0], 2);
    EXPECT_STREQ(sample_used(true, static_cast<std::uint32_t>(ch_inst[9]), 36)->name, "c");

    // Imported again from the second instrument on, everything moves up one.
    no_s = static_cast<std::int16_t>(inst_first(1));
    EXPECT_EQ(import(files::sf_bank(samples_, insts_, presets)), 12);
    EXPECT_EQ(nb_inst, 131);
    EXPECT_STREQ(inst_name(0), "Piano");
    EXPECT_STREQ(inst_name(1), "Piano");
    EXPECT_EQ(sounds_of(129), (std::vector<std::string>{"c 36-36", "a 38-38"}));
    EXPECT_EQ(ch_inst[9], 129);
    EXPECT_EQ(no_s, inst_first(1));
    for (int s = 0; s < nb_sound; ++s) EXPECT_EQ(t_invert[s], quel_baseson(s));
}

TEST_F(BankPresets, BanksWithoutMelodicPresetsKeepTheirInstrumentOrder) {
    const std::vector<std::vector<SfPreset>> cases{
        {{"Standard", 0, 128, {{instrument(2)}}}},                   // drums only
        {{"Empty", 0, 0, {}}, {"Broken", 1, 0, {{instrument(9)}}}},  // name no instrument
    };
    for (const auto& presets : cases) {
        testkit::fresh_tables();
        clear_inst_names();
        EXPECT_EQ(import(files::sf_bank(samples_, insts_, presets)), 5);
        ASSERT_EQ(nb_inst, 3);
        EXPECT_STREQ(inst_name(0), "Keys");
        EXPECT_STREQ(inst_name(2), "Kit");
        EXPECT_EQ(sounds_of(2), (std::vector<std::string>{"c 36-36", "a 38-38"}));
        EXPECT_FALSE(ch_instf[9]);
        EXPECT_EQ(ch_inst[9], 0);
    }
}

TEST_F(BankPresets, PresetsNamingMillionsOfZonesAreRefused) {
    // 2100 preset zones over one instrument of 2100 zones: 4.4 million pairs.
    const testkit::TableSnapshot before = testkit::TableSnapshot::take();
    const files::SfInst wide{"Wide", std::vector<std::vector<files::SfGen>>(2100, {sample_id(0)})};
    const SfPreset many{"Many", 0, 0,
                        std::vector<std::vector<files::SfGen>>(2100, {instrument(0)})};
    EXPECT_EQ(import(files::sf_bank(samples_, {wide}, {many})), 0);
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_NE(alerts()[0].text.find("millions of zones"), std::string::npos) << alerts()[0].text;
    testkit::expect_unchanged(before);
}

TEST_F(BankPresets, ABankNeedingMoreInstrumentsThanTheTablesHoldIsRefused) {
    while (nb_inst < 3990) ASSERT_GE(add_inst("filler"), 0);
    no_s = static_cast<std::int16_t>(inst_first(3980));
    const testkit::TableSnapshot before = testkit::TableSnapshot::take();
    const std::vector<SfPreset> presets{{"Piano", 0, 0, {{instrument(0)}}},
                                        {"Standard", 0, 128, {{instrument(2)}}}};
    EXPECT_EQ(import(files::sf_bank(samples_, insts_, presets)), 0);
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_NE(alerts()[0].text.find("more instruments than the program can hold (4109 of 4096)"),
              std::string::npos)
        << alerts()[0].text;
    testkit::expect_unchanged(before);
}

}  // namespace
