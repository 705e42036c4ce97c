#include "io/bank_import.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/hooks.h"
#include "core/instruments.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/voices.h"
#include "io/input_bytes.h"
#include "support/file_builders.h"
#include "support/testkit.h"

using files::Bytes;
using files::SfInst;
using files::SfSample;

namespace {

class BankImport : public testkit::AlertingTest {
  protected:
    static int import(const Bytes& b) {
        MemoryInput in(b.data(), b.size());
        return import_bank(in);
    }

    static SfSample sample(const char* name, std::size_t n, std::int16_t first = 1000) {
        SfSample s;
        s.name = name;
        for (std::size_t i = 0; i < n; ++i)
            s.points.push_back(static_cast<std::int16_t>(first + i));
        s.loop_start = 10;
        s.loop_end = static_cast<std::uint32_t>(n - 10);
        return s;
    }

    struct Snapshot {
        std::vector<p_s*> sounds;
        int nb_sound, nb_inst;
        std::vector<int> first;
    };
    static Snapshot snapshot() {
        Snapshot s{{}, nb_sound, nb_inst, {}};
        for (int i = 0; i < nb_sound; ++i) s.sounds.push_back(t_sound[i]);
        for (int k = 0; k < nb_inst; ++k) s.first.push_back(t_inst[k]);
        return s;
    }
    static void expect_unchanged(const Snapshot& s) {
        const Snapshot now = snapshot();
        EXPECT_EQ(now.sounds, s.sounds);
        EXPECT_EQ(now.nb_sound, s.nb_sound);
        EXPECT_EQ(now.nb_inst, s.nb_inst);
        EXPECT_EQ(now.first, s.first);
    }
};

TEST_F(BankImport, ZonesBecomeSoundsWithTheirKeysRootAndLoop) {
    std::vector<SfSample> samples{sample("low", 200), sample("high", 300, -5)};
    samples[1].pitch = 255;  // no usable original pitch
    const SfInst piano{
        "Piano",
        {{files::key_range(0, 59), files::sample_id(0)},
         {files::key_range(60, 127), files::root_key(72), files::pan(100), files::sample_id(1)},
         {files::sample_id(1)}}};
    EXPECT_EQ(import(files::sf_bank(samples, {piano})), 3);
    EXPECT_TRUE(alerts().empty());
    ASSERT_EQ(nb_inst, 1);
    ASSERT_EQ(nb_sound, 3);
    EXPECT_STREQ(inst_name(0), "Piano");

    const p_s* a = t_sound[0];
    EXPECT_STREQ(a->name, "low");
    EXPECT_EQ(a->size, 400u);
    EXPECT_EQ(a->loop, 1);
    EXPECT_EQ(a->loop_start, 20u);
    EXPECT_EQ(a->loop_end, 380u);
    EXPECT_EQ(a->key_lo, 0);
    EXPECT_EQ(a->key_hi, 59);
    EXPECT_EQ(a->base, 60);
    EXPECT_EQ(a->rate, 22050u);
    EXPECT_EQ(a->bits, 16);
    EXPECT_EQ(a->shift, 1);
    const auto* pts = reinterpret_cast<const std::int16_t*>(a->data);
    EXPECT_EQ(pts[0], 1000);
    EXPECT_EQ(pts[199], 1199);
    EXPECT_GE(a->capacity, a->size + kSpareBytes);

    const p_s* b = t_sound[1];
    EXPECT_EQ(b->base, 72);  // overridingRootKey wins
    EXPECT_EQ(b->key_lo, 60);
    EXPECT_EQ(b->key_hi, 127);
    EXPECT_EQ(reinterpret_cast<const std::int16_t*>(b->data)[0], -5);
    const p_s* c = t_sound[2];
    EXPECT_EQ(c->base, 48);  // original pitch 255 and no root key
    EXPECT_EQ(c->key_lo, 0);
    EXPECT_EQ(c->key_hi, 127);
    // Zones that use one sample share one copy of it.
    EXPECT_EQ(b->data, c->data);
    EXPECT_EQ(a->block.get(), c->block.get());
    EXPECT_EQ(no_s, 0);
}

TEST_F(BankImport, AGlobalZoneIsSkippedAndNotInherited) {
    const SfInst inst{"Strings",
                      {{files::key_range(30, 40), files::root_key(50)},
                       {files::sample_id(0)},
                       {files::key_range(1, 2), files::sample_id(0)}}};
    EXPECT_EQ(import(files::sf_bank({sample("s", 100)}, {inst})), 2);
    ASSERT_EQ(nb_sound, 2);
    EXPECT_EQ(t_sound[0].load()->key_lo, 0);
    EXPECT_EQ(t_sound[0].load()->key_hi, 127);
    EXPECT_EQ(t_sound[0].load()->base, 60);
    EXPECT_EQ(t_sound[1].load()->key_hi, 2);
}

TEST_F(BankImport, LoopsAreClampedOrDroppedWhenTheyCannotPlay) {
    std::vector<SfSample> s{sample("near-end", 100), sample("outside", 100),
                            sample("reversed", 100)};
    s[0].loop_start = 98;  // 196 bytes: within 4 bytes of the 200-byte end
    s[0].loop_end = 100;
    s[1].loop_start = 50;
    s[1].loop_end = 5000;  // far past the sample
    s[2].loop_start = 60;
    s[2].loop_end = 20;
    const SfInst inst{"x", {{files::sample_id(0)}, {files::sample_id(1)}, {files::sample_id(2)}}};
    EXPECT_EQ(import(files::sf_bank(s, {inst})), 3);
    const p_s* a = t_sound[0];
    EXPECT_EQ(a->loop, 0);
    EXPECT_EQ(a->loop_start, 196u);
    EXPECT_EQ(a->loop_end, 4u);  // size - loop start
    const p_s* b = t_sound[1];
    EXPECT_EQ(b->loop, 1);
    EXPECT_EQ(b->loop_start, 100u);
    EXPECT_EQ(b->loop_end, 200u);
    EXPECT_EQ(t_sound[2].load()->loop, 0);
}

TEST_F(BankImport, BankInstrumentsReplaceFromTheSelectedOneOnAndAddTheRest) {
    // Program instruments of 2, 1 and 3 sounds; the second one is selected.
    add_sounds(0, 1);
    add_inst("one");
    add_inst("two");
    add_sounds(2, 2);
    p_s* kept0 = t_sound[0];
    p_s* kept1 = t_sound[1];
    p_s* replaced = t_sound[2];
    no_s = 2;
    const std::vector<SfSample> smp{sample("a", 50), sample("b", 60)};
    const SfInst i0{"Bank0", {{files::sample_id(0)}}};
    const SfInst i1{"Bank1",
                    {{files::sample_id(0)},
                     {files::sample_id(1)},
                     {files::sample_id(1)},
                     {files::sample_id(0)}}};
    const SfInst i2{"Bank2", {{files::sample_id(1)}, {files::sample_id(0)}}};
    const SfInst silent{"Silent", {{files::key_range(1, 2)}}};  // no zone with a sample
    EXPECT_EQ(import(files::sf_bank(smp, {i0, i1, i2, silent})), 7);

    ASSERT_EQ(nb_inst, 5);
    EXPECT_EQ(t_sound[0].load(), kept0);  // the instrument before the selected one is untouched
    EXPECT_EQ(t_sound[1].load(), kept1);
    EXPECT_EQ(inst_count(1), 1);
    EXPECT_EQ(inst_count(2), 4);
    EXPECT_EQ(inst_count(3), 2);
    EXPECT_EQ(inst_count(4), 1);
    EXPECT_STREQ(inst_name(1), "Bank0");
    EXPECT_STREQ(inst_name(2), "Bank1");
    EXPECT_STREQ(inst_name(3), "Bank2");
    EXPECT_STREQ(inst_name(4), "Silent");
    EXPECT_EQ(t_sound[inst_first(4)].load()->data, nullptr);
    EXPECT_STREQ(t_sound[inst_first(3)].load()->name, "b");
    EXPECT_EQ(nb_sound, 10);
    for (int s = 0; s < nb_sound; ++s) {
        EXPECT_NE(t_sound[s].load(), replaced);
        EXPECT_EQ(t_invert[s], quel_baseson(s));
    }
    EXPECT_EQ(no_s, 2);

    // Importing again over the now larger instrument 2 shrinks it to the bank's one zone.
    no_s = static_cast<std::int16_t>(inst_first(2));
    EXPECT_EQ(import(files::sf_bank(smp, {i0})), 1);
    EXPECT_EQ(nb_inst, 5);
    EXPECT_EQ(inst_count(2), 1);
    EXPECT_EQ(nb_sound, 7);
}

TEST_F(BankImport, ImpossibleZonesAreSkipped) {
    std::vector<SfSample> smp{sample("ok", 40), sample("empty", 40)};
    files::SfChunks k = files::sf_chunks(smp, {{"x",
                                                {{files::sample_id(0)},
                                                 {files::sample_id(1)},
                                                 {files::sample_id(9)},
                                                 {files::sample_id(0)}}}});
    // Sample 1: start equal to end.
    std::memcpy(k.c["shdr"].data() + 46 + 24, k.c["shdr"].data() + 46 + 20, 4);
    // The last zone's generators end past the generator list.
    Bytes& ibag = k.c["ibag"];
    ibag[4 * 4] = 0xFF;
    EXPECT_EQ(import(files::assemble(k)), 1);
    EXPECT_EQ(nb_sound, 1);
    EXPECT_STREQ(t_sound[0].load()->name, "ok");

    // A sample whose end lies past the sample chunk, and bags that go backwards.
    testkit::fresh_tables();
    files::SfChunks e = files::sf_chunks(
        {sample("far", 40)}, {{"y", {{files::sample_id(0)}}}, {"z", {{files::sample_id(0)}}}});
    Bytes& shdr = e.c["shdr"];
    shdr[24] = 0xFF;
    shdr[25] = 0xFF;
    EXPECT_EQ(import(files::assemble(e)), 0);
    EXPECT_NE(alerts().back().find("no sound"), std::string::npos);
    e = files::sf_chunks({sample("ok", 40)},
                         {{"y", {{files::sample_id(0)}}}, {"z", {{files::sample_id(0)}}}});
    e.c["inst"][20] = 2;  // the first instrument's zones end before they start
    EXPECT_EQ(import(files::assemble(e)), 1);
    EXPECT_EQ(nb_inst, 2);
}

TEST_F(BankImport, UnusableBanksAreRefusedAndChangeNothing) {
    add_inst("keep");
    const Snapshot before = snapshot();
    const std::vector<SfSample> smp{sample("a", 40)};
    const std::vector<SfInst> insts{{"i", {{files::sample_id(0)}}}};

    Bytes not_riff = files::sf_bank(smp, insts);
    not_riff[0] = 'X';
    EXPECT_EQ(import(not_riff), 0);
    EXPECT_TRUE(alerts().empty());

    Bytes cut = files::sf_bank(smp, insts);
    cut.resize(cut.size() - 30);  // the sample headers run past the end
    EXPECT_EQ(import(cut), 0);

    files::SfChunks k = files::sf_chunks(smp, insts);
    k.c["inst"].push_back(0);  // not a whole number of records
    EXPECT_EQ(import(files::assemble(k)), 0);
    EXPECT_NE(alerts().back().find("whole number"), std::string::npos);

    k = files::sf_chunks(smp, insts);
    k.c.erase("shdr");
    EXPECT_EQ(import(files::assemble(k)), 0);

    k = files::sf_chunks(smp, insts);
    k.major = 3;
    EXPECT_EQ(import(files::assemble(k)), 0);
    EXPECT_NE(alerts().back().find("SoundFont 3"), std::string::npos);

    std::vector<SfSample> ogg = smp;
    ogg[0].type = 0x11;  // compressed, in a bank that claims version 2
    EXPECT_EQ(import(files::sf_bank(ogg, insts)), 0);
    EXPECT_NE(alerts().back().find("compressed"), std::string::npos);

    EXPECT_EQ(alerts().size(), 5u);
    expect_unchanged(before);
}

TEST_F(BankImport, ABankLargerThanTheTablesIsRefused) {
    ASSERT_TRUE(add_sounds(0, 3000));
    add_inst("other");
    no_s =
        static_cast<std::int16_t>(nb_sound - 1);  // the bank would replace only the last instrument
    const Snapshot before = snapshot();
    std::vector<std::vector<files::SfGen>> zones(1200, {files::sample_id(0)});
    EXPECT_EQ(import(files::sf_bank({sample("a", 40)}, {{"big", zones}})), 0);
    ASSERT_FALSE(alerts().empty());
    EXPECT_NE(alerts().back().find("more sounds"), std::string::npos);
    expect_unchanged(before);
    // Over the large first instrument it fits.
    no_s = 0;
    EXPECT_EQ(import(files::sf_bank({sample("a", 40)}, {{"big", zones}})), 1200);
    EXPECT_EQ(nb_sound, 1201);
}

TEST_F(BankImport, SharersStillPlayAfterTheFirstOwnerIsDeleted) {
    const SfInst inst{"shared",
                      {{files::key_range(0, 63), files::sample_id(0)},
                       {files::key_range(64, 127), files::sample_id(0)}}};
    SfSample s;
    s.name = "sine";
    s.points = testkit::sine16(441, 22050, 4000);
    s.loop_start = 0;
    s.loop_end = 4000;
    s.rate = 22050;
    s.pitch = 60;
    ASSERT_EQ(import(files::sf_bank({s}, {inst})), 2);
    const std::int8_t* data = t_sound[1].load()->data;
    ASSERT_EQ(t_sound[0].load()->data, data);

    del_sound(0, false);  // the sound that first received the sample
    reclaim::reclaim_all();
    ASSERT_EQ(nb_sound, 1);
    ASSERT_EQ(t_sound[0].load()->data, data);
    addnote(0, 60, 0, 127, true, 0, 0);
    const auto out = testkit::render(22050);
    EXPECT_GT(testkit::peak(out), 0.05f);
    EXPECT_NEAR(testkit::zero_crossing_hz(testkit::channel(out, 0), 44100), 441.0, 3.0);
    EXPECT_EQ(active_voices(), 1);  // the loop keeps it going
}

TEST(FindIgen, SearchesOnlyTheRangeAndTheLowByte) {
    const std::uint8_t gens[] = {43, 0, 1, 2, 53, 1, 7, 0, 58, 0, 60, 0, 53, 0, 9, 0};
    EXPECT_EQ(find_igen(gens, 4, 0, 4, 53), gens + 4);  // operator 0x0135: low byte 53
    EXPECT_EQ(find_igen(gens, 4, 2, 4, 53), gens + 12);
    EXPECT_EQ(find_igen(gens, 4, 0, 2, 58), nullptr);
    EXPECT_EQ(find_igen(gens, 4, 3, 99, 53), gens + 12);  // the end is clamped to the list
    EXPECT_EQ(find_igen(gens, 2, 2, 4, 53), nullptr);
    EXPECT_EQ(find_igen(nullptr, 4, 0, 4, 53), nullptr);
}

}  // namespace
