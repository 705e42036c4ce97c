#include "io/bank_import.h"

#include "support/testkit.h"

using namespace files;

namespace {

class BankImport : public testkit::EngineTest {
  protected:
    static int import(const Bytes& b) {
        MemoryInput in(b.data(), b.size());
        return import_bank(in);
    }
    // `n` rising points from `first`, looping from point 10 to 10 before the end
    // unless the loop is given.
    static SfSample sample(const char* name, std::uint32_t n = 64, std::int16_t first = 1000,
                           std::uint32_t loop_start = 10, std::uint32_t loop_end = 0) {
        SfSample s{name, std::vector<std::int16_t>(n), loop_start, loop_end ? loop_end : n - 10};
        for (std::uint32_t i = 0; i < n; ++i) s.points[i] = static_cast<std::int16_t>(first + i);
        return s;
    }
    static const p_s* snd(int i) { return t_sound[i].load(); }
    // The sample names and key ranges of instrument k, as "name lo-hi" each.
    static std::vector<std::string> sounds_of(int k) {
        std::vector<std::string> out;
        for (int i = inst_first(k); i < inst_first(k) + inst_count(k); ++i)
            out.push_back(std::string(snd(i)->name) + " " + std::to_string(snd(i)->key_lo) + "-" +
                          std::to_string(snd(i)->key_hi));
        return out;
    }
    // For presets: samples a, b, c; instruments Keys (a below 60, b from 60),
    // Pad (b), Kit (c on 36, a on 38).
    const std::vector<SfSample> samples_{sample("a"), sample("b"), sample("c")};
    const std::vector<SfInst> insts_{
        {"Keys", {{key_range(0, 59), sample_id(0)}, {key_range(60, 127), sample_id(1)}}},
        {"Pad", {{sample_id(1)}}},
        {"Kit", {{key_range(36, 36), sample_id(2)}, {key_range(38, 38), sample_id(0)}}}};
};

TEST_F(BankImport, ZonesBecomeSoundsWithTheirKeysRootAndLoopSharingOneCopy) {
    std::vector<SfSample> samples{sample("low", 200), sample("high", 300, -5)};
    samples[1].pitch = 255;  // no usable original pitch
    const SfInst piano{"Piano",
                       {{key_range(0, 59), sample_id(0)},
                        {key_range(60, 127), root_key(72), pan(100), sample_id(1)},
                        {sample_id(1)}}};
    EXPECT_EQ(import(sf_bank(samples, {piano})), 3);
    EXPECT_TRUE(alerts().empty());
    ASSERT_EQ(nb_inst, 1);
    ASSERT_EQ(nb_sound, 3);
    EXPECT_STREQ(inst_name(0), "Piano");
    EXPECT_STREQ(snd(0)->name, "low");
    EXPECT_EQ(testkit::describe(snd(0)),
              "16-bit mono shift 1, 22050 Hz, base 60, keys 0-59, size 400, loop on 20-380");
    // The root key wins; with neither a usable original pitch nor a root key, 48.
    EXPECT_EQ(testkit::describe(snd(1)),
              "16-bit mono shift 1, 22050 Hz, base 72, keys 60-127, size 600, loop on 20-580");
    EXPECT_EQ(testkit::describe(snd(2)),
              "16-bit mono shift 1, 22050 Hz, base 48, keys 0-127, size 600, loop on 20-580");
    for (int i = 0; i < 3; ++i) EXPECT_GE(snd(i)->capacity, snd(i)->size + kSpareBytes);
    EXPECT_EQ(reinterpret_cast<const std::int16_t*>(snd(0)->data)[0], 1000);
    EXPECT_EQ(reinterpret_cast<const std::int16_t*>(snd(1)->data)[0], -5);
    EXPECT_EQ(reinterpret_cast<const std::int16_t*>(snd(0)->data)[199], 1199);
    EXPECT_EQ(snd(1)->data, snd(2)->data);  // zones that use one sample share one copy
    EXPECT_EQ(snd(0)->block.get(), snd(2)->block.get());
    EXPECT_EQ(no_s, 0);
}

TEST_F(BankImport, AGlobalZoneIsSkippedAndLoopsThatCannotPlayAreClampedOrDropped) {
    // A loop within 4 bytes of the 200-byte end, one far past the sample, one reversed.
    const std::vector<SfSample> s{sample("near-end", 100, 1000, 98, 100),
                                  sample("outside", 100, 1000, 50, 5000),
                                  sample("reversed", 100, 1000, 60, 20)};
    const SfInst inst{"x",
                      {{key_range(30, 40), root_key(50)},  // global: no sample, not inherited
                       {sample_id(0)},
                       {key_range(1, 2), sample_id(1)},
                       {sample_id(2)}}};
    EXPECT_EQ(import(sf_bank(s, {inst})), 3);
    EXPECT_EQ(testkit::describe(snd(0)),
              "16-bit mono shift 1, 22050 Hz, base 60, keys 0-127, size 200, loop off 196-4");
    EXPECT_EQ(testkit::describe(snd(1)),
              "16-bit mono shift 1, 22050 Hz, base 60, keys 1-2, size 200, loop on 100-200");
    EXPECT_EQ(snd(2)->loop, 0);
}

TEST_F(BankImport, BankInstrumentsReplaceFromTheSelectedOneOnAndAddTheRest) {
    // Program instruments of 2, 1 and 3 sounds; the second one is selected.
    add_sounds(0, 1);
    add_inst("one");
    add_inst("two");
    add_sounds(2, 2);
    const testkit::TableSnapshot before = testkit::TableSnapshot::take();
    no_s = 2;
    const std::vector<SfSample> smp{sample("a", 50), sample("b", 60)};
    const SfInst i0{"Bank0", {{sample_id(0)}}};
    const SfInst i1{"Bank1", {{sample_id(0)}, {sample_id(1)}, {sample_id(1)}, {sample_id(0)}}};
    const SfInst i2{"Bank2", {{sample_id(1)}, {sample_id(0)}}};
    const SfInst silent{"Silent", {{key_range(1, 2)}}};  // no zone with a sample
    EXPECT_EQ(import(sf_bank(smp, {i0, i1, i2, silent})), 7);
    ASSERT_EQ(nb_inst, 5);
    EXPECT_EQ(nb_sound, 10);
    EXPECT_EQ(snd(0), before.sounds[0]);  // the instrument before the selected one is untouched
    EXPECT_EQ(snd(1), before.sounds[1]);
    const char* names[] = {"Bank0", "Bank1", "Bank2", "Silent"};
    for (int k = 1; k < 5; ++k) EXPECT_STREQ(inst_name(k), names[k - 1]);
    EXPECT_EQ(testkit::layout(), "None Sample None sample | a | a b b a | b a | None sample");
    EXPECT_EQ(snd(inst_first(4))->data, nullptr);
    for (int s = 0; s < nb_sound; ++s) EXPECT_NE(snd(s), before.sounds[2]);  // replaced: gone
    EXPECT_EQ(no_s, 2);
    // Importing again over the now larger instrument 2 shrinks it to the bank's one zone.
    no_s = static_cast<std::int16_t>(inst_first(2));
    EXPECT_EQ(import(sf_bank(smp, {i0})), 1);
    EXPECT_EQ(nb_inst, 5);
    EXPECT_EQ(inst_count(2), 1);
    EXPECT_EQ(nb_sound, 7);
}

TEST_F(BankImport, ImpossibleZonesAreSkipped) {
    SfChunks k =
        sf_chunks({sample("ok", 40), sample("empty", 40)},
                  {{"x", {{sample_id(0)}, {sample_id(1)}, {sample_id(9)}, {sample_id(0)}}}});
    std::memcpy(k.c["shdr"].data() + 46 + 24, k.c["shdr"].data() + 46 + 20, 4);  // start = end
    k.c["ibag"][4 * 4] = 0xFF;  // the last zone's generators end past the list
    EXPECT_EQ(import(assemble(k)), 1);
    EXPECT_EQ(nb_sound, 1);
    EXPECT_STREQ(snd(0)->name, "ok");

    // A sample whose end lies past the sample chunk, and bags that go backwards.
    testkit::fresh_tables();
    const std::vector<SfInst> two{{"y", {{sample_id(0)}}}, {"z", {{sample_id(0)}}}};
    k = sf_chunks({sample("far", 40)}, two);
    k.c["shdr"][24] = k.c["shdr"][25] = 0xFF;
    EXPECT_EQ(import(assemble(k)), 0);
    EXPECT_NE(alerts().back().text.find("no sound"), std::string::npos);
    k = sf_chunks({sample("ok", 40)}, two);
    k.c["inst"][20] = 2;  // the first instrument's zones end before they start
    EXPECT_EQ(import(assemble(k)), 1);
    EXPECT_EQ(nb_inst, 2);
}

TEST_F(BankImport, UnusableBanksAreRefusedWithTheirReasonAndChangeNothing) {
    add_inst("keep");
    const testkit::TableSnapshot before = testkit::TableSnapshot::take();
    const std::vector<SfSample> smp{sample("a", 40)};
    const std::vector<SfInst> insts{{"i", {{sample_id(0)}}}};
    const std::tuple<void (*)(SfChunks&), void (*)(Bytes&), const char*> cases[] = {
        // chunks, file, reason (null: no alert)
        {nullptr, [](Bytes& b) { b[0] = 'X'; }, nullptr},
        {nullptr, [](Bytes& b) { b.erase(b.end() - 30, b.end()); },
         ""},  // sample headers run past the end
        {[](SfChunks& k) { k.c["inst"].push_back(0); }, nullptr, "whole number"},
        {[](SfChunks& k) { k.c.erase("shdr"); }, nullptr, ""},
        // A header marking a sample compressed over data that is no stream is damage.
        {[](SfChunks& k) { k.c["shdr"][44] = 0x11; }, nullptr,
         "damaged: sample \"a\" is marked compressed, but its data cannot be decoded"},
    };
    for (const auto& [chunks, file, reason] : cases) {
        alerts().clear();
        SfChunks k = sf_chunks(smp, insts);
        if (chunks) chunks(k);
        Bytes b = assemble(k);
        if (file) file(b);
        EXPECT_EQ(import(b), 0);
        ASSERT_EQ(alerts().size(), reason ? 1u : 0u);
        EXPECT_TRUE(!reason || alerts().back().text.find(reason) != std::string::npos);
        testkit::expect_unchanged(before);
    }
}

// A version 3 bank keeps each sample as an Ogg Vorbis stream: its header
// gives the stream's bytes and the loop in points from the sample's start.
TEST_F(BankImport, CompressedSamplesAreDecodedWithTheirLoops) {
    TempDir dir;
    const std::string ogg = dir.file("a.ogg");
    ASSERT_TRUE(write_sound(ogg, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 22050,
                            testkit::sine16(441, 22050, 22050, 0.5)));
    const Bytes stream = read_bytes(ogg);
    SfChunks k = sf_chunks({sample("a", 40), sample("b", 40)},
                           {{"i", {{key_range(0, 63), sample_id(0)}, {sample_id(1)}}}});
    k.major = 3;
    k.c["smpl"] = stream + Bytes{'x'};  // an odd size, whose pad byte the bank leaves out
    std::uint8_t* h = k.c["shdr"].data();
    for (const auto& [at, value] :
         {std::pair{20, 0u}, {24, unsigned(stream.size())}, {28, 100u}, {32, 2100u}})
        for (int i = 0; i < 4; ++i) h[at + i] = std::uint8_t(value >> (8 * i));
    h[44] = 0x11;  // compressed mono; the second sample is plain, from bytes 0..80
    Bytes bank = assemble(k);
    const std::size_t smpl =
        std::search(bank.begin(), bank.end(), k.c["smpl"].begin(), k.c["smpl"].end()) -
        bank.begin();
    bank.erase(bank.begin() + std::ptrdiff_t(smpl + stream.size() + 1));
    for (const std::size_t size_at : {std::size_t{4}, smpl - 16}) {  // the RIFF and sdta sizes
        std::uint32_t v = 0;
        std::memcpy(&v, &bank[size_at], 4);
        v -= 1;
        std::memcpy(&bank[size_at], &v, 4);
    }
    ASSERT_EQ(import(bank), 2) << (alerts().empty() ? "" : alerts().back().text);
    const p_s* a = snd(0);
    EXPECT_NEAR(double(a->size), 2 * 22050.0, 2 * 2048.0);  // the decoder may pad its last page
    EXPECT_EQ(std::tuple(int(a->loop), a->loop_start.load(), a->loop_end.load()),
              std::tuple(1, 200u, 4200u));
    EXPECT_EQ(snd(1)->size, 80u);
    addnote(0, 60, 0, 127, true, 0, 0);
    const auto left = testkit::channel(testkit::render(22050), 0);
    EXPECT_NEAR(testkit::zero_crossing_hz({left.begin() + 2000, left.end()}, 44100), 441.0, 1.0);
}

TEST_F(BankImport, SharersStillPlayAfterTheFirstOwnerIsDeleted) {
    SfSample s{"sine", testkit::sine16(441, 22050, 4000), 0, 4000, 22050, 60};
    ASSERT_EQ(import(sf_bank(
                  {s}, {{"shared",
                         {{key_range(0, 63), sample_id(0)}, {key_range(64, 127), sample_id(0)}}}})),
              2);
    const std::int8_t* data = snd(1)->data;
    ASSERT_EQ(snd(0)->data, data);
    del_sound(0, false);  // the sound that first received the sample
    reclaim::reclaim_all();
    ASSERT_EQ(nb_sound, 1);
    ASSERT_EQ(snd(0)->data, data);
    addnote(0, 60, 0, 127, true, 0, 0);
    const auto out = testkit::render(22050);
    EXPECT_GT(testkit::peak(out), 0.05f);
    EXPECT_NEAR(testkit::zero_crossing_hz(testkit::channel(out, 0), 44100), 441.0, 3.0);
    EXPECT_EQ(active_voices(), 1);  // the loop keeps it going
}

// General MIDI banks: instruments by program number, drum kits after them.
TEST_F(BankImport, PresetsLandAtTheirProgramNumbersAndDrumKitsFollow) {
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
        {"Standard", 0, 128, {{pan(3)}, {instrument(2)}}},  // with a global zone
        {"Variation", 0, 8, {{instrument(1)}}},             // other banks are left out
        {"Again", 2, 0, {{instrument(0)}}},                 // the first preset 2 wins
    };
    EXPECT_EQ(import(sf_bank(samples_, insts_, presets)), 12);
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

    // Channel 10 plays the standard kit, locked against program changes.
    EXPECT_EQ(ch_inst[9], 128);
    EXPECT_TRUE(ch_instf[9]);
    EXPECT_STREQ(sample_used(true, static_cast<std::uint32_t>(ch_inst[9]), 36)->name, "c");
}

TEST_F(BankImport, BanksWithoutMelodicPresetsKeepTheirInstrumentOrder) {
    const std::vector<std::vector<SfPreset>> cases{
        {{"Standard", 0, 128, {{instrument(2)}}}},                   // drums only
        {{"Empty", 0, 0, {}}, {"Broken", 1, 0, {{instrument(9)}}}},  // name no instrument
    };
    for (const auto& presets : cases) {
        testkit::fresh_tables();
        EXPECT_EQ(import(sf_bank(samples_, insts_, presets)), 5);
        ASSERT_EQ(nb_inst, 3);
        EXPECT_STREQ(inst_name(0), "Keys");
        EXPECT_STREQ(inst_name(2), "Kit");
        EXPECT_EQ(sounds_of(2), (std::vector<std::string>{"c 36-36", "a 38-38"}));
        EXPECT_FALSE(ch_instf[9]);
        EXPECT_EQ(ch_inst[9], 0);
    }
}

TEST_F(BankImport, BanksTooLargeForTheTablesAreRefusedAndChangeNothing) {
    using Zones = std::vector<std::vector<SfGen>>;
    const Bytes big = sf_bank({sample("a", 40)}, {{"big", Zones(1200, {sample_id(0)})}});
    // The bank of 1200 sounds would replace only the last instrument.
    const auto full = [] {
        add_sounds(0, kMaxSounds - 1096);
        add_inst("other");
        no_s = static_cast<std::int16_t>(nb_sound - 1);
    };
    const std::tuple<std::function<void()>, Bytes, const char*> cases[] = {
        // setup, bank, reason
        {full, big, "more sounds"},
        // 2100 preset zones over one instrument of 2100 zones: 4.4 million pairs.
        {[] {},
         sf_bank(samples_, {{"Wide", Zones(2100, {sample_id(0)})}},
                 {{"Many", 0, 0, Zones(2100, {instrument(0)})}}),
         "millions of zones"},
        {[] {
             while (nb_inst < 3990) add_inst("filler");
             no_s = static_cast<std::int16_t>(inst_first(3980));
         },
         sf_bank(samples_, insts_,
                 {{"Piano", 0, 0, {{instrument(0)}}}, {"Standard", 0, 128, {{instrument(2)}}}}),
         "more instruments than the program can hold (4109 of 4096)"},
    };
    for (const auto& [setup, bank, reason] : cases) {
        SetUp();
        setup();
        const testkit::TableSnapshot before = testkit::TableSnapshot::take();
        EXPECT_EQ(import(bank), 0);
        ASSERT_EQ(alerts().size(), 1u);
        EXPECT_NE(alerts()[0].text.find(reason), std::string::npos) << alerts()[0].text;
        testkit::expect_unchanged(before);
    }
    SetUp();
    full();
    no_s = 0;  // over the large first instrument it fits
    EXPECT_EQ(import(big), 1200);
    EXPECT_EQ(nb_sound, 1201);
}

}  // namespace
