// Instruments written as SoundFont 2 banks: the file passes a strict reading
// of its layout, and importing it again gives the sounds that were written.
#include "io/bank_export.h"

#include "core/articulation.h"
#include "io/bank_import.h"
#include "io/loadi.h"
#include "io/sfz_import.h"
#include "support/testkit.h"

using files::Bytes;

namespace {

std::uint32_t u32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t{b[at + 3]} << 24;
}
std::uint16_t u16(const Bytes& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

// What a strict reader finds wrong with a bank: every chunk's size inside
// its list and the file, record lists of whole records in the format's order
// with their terminal records, indices that go forward and stay inside their
// lists, and samples and loops inside the sample chunk. Empty when nothing.
std::vector<std::string> strict_problems(const Bytes& b) {
    std::vector<std::string> p;
    const auto fail = [&](const std::string& what) { p.push_back(what); };
    if (b.size() < 12 || u32(b, 4) != b.size() - 8 || std::memcmp(&b[8], "sfbk", 4) != 0)
        return {"not a RIFF sfbk of its stated size"};
    std::map<std::string, std::pair<std::size_t, std::uint32_t>> at;  // chunk: offset, size
    std::vector<std::string> order;
    for (std::size_t l = 12; l < b.size();) {
        const std::uint32_t size = u32(b, l + 4);
        if (std::memcmp(&b[l], "LIST", 4) != 0 || l + 8 + size > b.size()) return {"bad list"};
        for (std::size_t c = l + 12; c < l + 8 + size;) {
            const std::string id(b.begin() + long(c), b.begin() + long(c) + 4);
            const std::uint32_t n = u32(b, c + 4);
            if (c + 8 + n > l + 8 + size) fail(id + " runs past its list");
            at[id] = {c + 8, n};
            order.push_back(id);
            c += 8 + n + (n & 1);
        }
        l += 8 + size + (size & 1);
    }
    const std::vector<std::string> want{"ifil", "isng", "INAM", "ISFT", "smpl", "phdr", "pbag",
                                        "pmod", "pgen", "inst", "ibag", "imod", "igen", "shdr"};
    if (order != want) return {"chunks missing or out of order"};
    const std::map<std::string, std::uint32_t> width{{"phdr", 38}, {"pbag", 4},  {"pmod", 10},
                                                     {"pgen", 4},  {"inst", 22}, {"ibag", 4},
                                                     {"imod", 10}, {"igen", 4},  {"shdr", 46}};
    for (const auto& [id, w] : width)
        if (at[id].second % w || at[id].second < w) fail(id + " is not whole records");
    if (!p.empty()) return p;
    const auto count = [&](const char* id) { return at[id].second / width.at(id); };
    const auto rec = [&](const char* id, std::size_t i) { return at[id].first + i * width.at(id); };
    const auto name = [&](const char* id, std::size_t i) {
        return std::string(reinterpret_cast<const char*>(&b[rec(id, i)]));
    };
    if (name("phdr", count("phdr") - 1) != "EOP" || name("inst", count("inst") - 1) != "EOI" ||
        name("shdr", count("shdr") - 1) != "EOS")
        fail("terminal records missing");
    // Header -> bag -> generator indices ascend and end on the next list's size.
    for (const auto& [head, off, bag, gen, mod, last] :
         {std::tuple{"phdr", 24, "pbag", "pgen", "pmod", 41},
          {"inst", 20, "ibag", "igen", "imod", 53}}) {
        for (std::size_t i = 0; i + 1 < count(head); ++i) {
            const std::size_t b0 = u16(b, rec(head, i) + off), b1 = u16(b, rec(head, i + 1) + off);
            if (b1 <= b0) fail(std::string(head) + " zones go backwards or are empty");
            for (std::size_t z = b0; z < b1 && z + 1 < count(bag); ++z) {
                const std::size_t g1 = u16(b, rec(bag, z + 1));
                // Only a first zone may go without it: the global zone.
                if (g1 < u16(b, rec(bag, z)) ||
                    (z > b0 && (g1 == u16(b, rec(bag, z)) || u16(b, rec(gen, g1 - 1)) != last)))
                    fail(std::string(bag) + " zone without its final generator");
            }
        }
        if (u16(b, rec(head, count(head) - 1) + off) != count(bag) - 1 ||
            u16(b, rec(bag, count(bag) - 1)) != count(gen) - 1 ||
            u16(b, rec(bag, count(bag) - 1) + 2) != count(mod) - 1)
            fail(std::string(head) + " indices do not end on the terminal records");
    }
    const std::uint32_t points = at["smpl"].second / 2;
    for (std::size_t i = 0; i + 1 < count("shdr"); ++i) {
        const std::size_t h = rec("shdr", i);
        const std::uint32_t s = u32(b, h + 20), e = u32(b, h + 24), ls = u32(b, h + 28),
                            le = u32(b, h + 32);
        if (!(s < e && e <= points && s <= ls && ls <= le && le <= e && u32(b, h + 36) > 0))
            fail("sample " + name("shdr", i) + " lies outside the sample chunk");
    }
    return p;
}

// Every sound of the tables: its fields and data as text, and its articulation.
using Table = std::vector<std::pair<std::string, Articulation>>;
Table table() {
    Table out;
    for (int k = 0; k < nb_inst; ++k)
        out.emplace_back("inst " + std::string(inst_name(k)) + " " + std::to_string(inst_first(k)),
                         Articulation{});
    for (int i = 0; i < nb_sound; ++i) {
        const p_s* s = t_sound[i];
        std::string line = testkit::describe(s) + " " + s->name + " vel " +
                           std::to_string(s->vel_lo) + "-" + std::to_string(s->vel_hi);
        if (s->data)
            line += " data " + std::to_string(std::hash<std::string_view>{}(
                                   {reinterpret_cast<const char*>(s->data), s->size}));
        out.emplace_back(line, s->art);
    }
    for (int d = 0; d < kDrumKits; ++d)
        out.emplace_back("kit " + std::to_string(drum_kit_inst[d]), Articulation{});
    return out;
}

class BankExport : public testkit::AsSetTest {
  protected:
    // Exports everything, checks the file strictly, and imports it again
    // in place of what was there.
    static Bytes round_trip(int k = -1) {
        Bytes out;
        std::string why;
        EXPECT_TRUE(export_bank_bytes(k, out, why)) << why;
        EXPECT_EQ(strict_problems(out), std::vector<std::string>{});
        testkit::fresh_tables();
        EXPECT_GT(import(out), 0);
        return out;
    }
    files::TempDir dir;
};

}  // namespace

TEST_F(BankExport, ABankWithPresetsKitsLayersAndModulatorsComesBackAsItWent) {
    using files::SfGen;
    const auto g = [](int op, int amount) {
        return SfGen(std::uint16_t(op), std::uint16_t(std::int16_t(amount)));
    };
    std::vector<files::SfSample> samples{
        {"tone", testkit::sine16(441, 22050, 3000), 100, 2900},
        {"hit", testkit::sine16(97, 44100, 1500), 0, 0, 44100, 38},
        {"left", testkit::sine16(200, 32000, 900), 10, 800, 32000, 255, 4},
        {"right", testkit::sine16(201, 32000, 900), 10, 800, 32000, 255, 2}};
    const std::vector<files::SfInst> insts{
        {"Keys",
         {{g(36, -1200), g(48, 100)},  // a global zone
          {files::key_range(0, 59), g(44, 0 | 63 << 8), g(54, 1), g(51, -3), g(52, 27), g(8, 9000),
           g(9, 50), g(26, -2000), g(11, 1200), files::sample_id(0)},
          {files::key_range(60, 127), g(54, 3), g(0, 40), g(2, -20), g(56, 50), g(17, -200),
           g(57, 3), g(38, 1000), files::root_key(72), files::sample_id(0)},
          {files::sample_id(2)},
          {files::sample_id(3)}}},
        {"Kit", {{files::key_range(38, 38), g(57, 1), files::sample_id(1)}}}};
    files::SfChunks k = files::sf_chunks(
        samples, insts,
        {{"Piano", 0, 0, {{g(48, 30)}, {files::key_range(10, 100), files::instrument(0)}}},
         {"Kit", 25, 128, {{files::instrument(1)}}}});
    // Modulators of the first zone: velocity onto the decay, and the
    // default velocity curve made shallower.
    Bytes imod;
    for (const auto& [src, dest, amount] :
         {std::tuple{0x0102, 36, -600}, std::tuple{0x0502, 48, 480}, std::tuple{0, 0, 0}}) {
        files::le(imod, src, 2), files::le(imod, dest, 2);
        files::le(imod, std::uint16_t(std::int16_t(amount)), 2), files::le(imod, 0, 4);
    }
    k.c["imod"] = imod;
    Bytes& ibag = k.c["ibag"];
    for (std::size_t z = 2; z < ibag.size() / 4; ++z) ibag[4 * z + 2] = 2;  // zone 1 has both
    ASSERT_EQ(import(files::assemble(k)), 5);
    const Table before = table();

    const Bytes out = round_trip();
    EXPECT_TRUE(table() == before);
    // The sample chunk holds the original's samples with the silence
    // between them, and silence after the last: nothing is written twice.
    EXPECT_EQ(
        u32(out,
            std::size_t(std::search(out.begin(), out.end(), "smpl", "smpl" + 4) - out.begin()) + 4),
        (3000 + 1500 + 900 + 900 + 4 * 46) * 2u);
}

TEST_F(BankExport, AnSfzInstrumentPlaysTheSameFromItsBankAndSharedSamplesAreWrittenOnce) {
    const std::string kit = files::write_sfz_kit(dir.path());
    ASSERT_EQ(import_sfz(kit.c_str()), 5);
    // A stereo sound beside them: its sides go out as two zones panned hard.
    std::vector<std::int16_t> st(2000);
    for (int i = 0; i < 2000; ++i) st[i] = std::int16_t(i % 2 ? -3000 : 9000);
    p_s* stereo = testkit::make_sound16(st, 22050, 60, true);
    stereo->art = t_sound[4].load()->art;
    stereo->art.pan = 200;
    ASSERT_TRUE(add_sounds(0, 1));
    replace_sound(5, stereo);
    struct Was {
        std::string describe;
        Articulation art;
        std::vector<std::int8_t> data;
    };
    std::vector<Was> was;
    for (int i = 0; i < 5; ++i)
        was.push_back(
            {testkit::describe(t_sound[i]), t_sound[i].load()->art, testkit::bytes_of(t_sound[i])});

    const Bytes out = round_trip(0);
    ASSERT_EQ(nb_inst, 128);  // preset 0 of bank 0: laid out by program
    ASSERT_EQ(inst_count(0), 7);
    for (int i = 0; i < 5; ++i) {
        const p_s* s = t_sound[i];
        Articulation a = was[i].art;
        // The format has one class a zone both cuts and is cut by.
        if (a.cuts) {
            if (!a.exclusive_class) a.exclusive_class = std::uint8_t(cut_class(a));
            a.cuts = 0;
        }
        EXPECT_TRUE(s->art == a) << i;
        EXPECT_EQ(testkit::describe(s), was[i].describe) << i;
        EXPECT_EQ(testkit::bytes_of(s), was[i].data) << i;
    }
    // The hard-panned sides are 6.9 dB (left) and 1.0 dB (right) down as
    // heard, as the stereo sound's pan of 200 placed them.
    const p_s* l = t_sound[5];
    const p_s* r = t_sound[6];
    EXPECT_EQ(std::tuple(l->art.pan, r->art.pan, int(l->stereo), int(l->size)),
              std::tuple(-500, 500, 0, 2000));
    EXPECT_NEAR(l->art.attenuation * kAttenuationScale, -200 * std::log10(std::cos(0.7 * M_PI / 2)),
                1);
    EXPECT_NEAR(r->art.attenuation * kAttenuationScale, -200 * std::log10(std::sin(0.7 * M_PI / 2)),
                1);
    EXPECT_EQ(testkit::word_at(l, 3), 9000);
    EXPECT_EQ(testkit::word_at(r, 3), -3000);
    // tone a.wav (22050 points) and looped.wav (3000) once each, the
    // stereo sound's two sides, and the silence after each.
    const auto smpl =
        std::size_t(std::search(out.begin(), out.end(), "smpl", "smpl" + 4) - out.begin());
    EXPECT_EQ(u32(out, smpl + 4), (22050 + 3000 + 2 * 1000 + 4 * 46) * 2u);
}

TEST_F(BankExport, TheFileAppearsWholeOrNotAtAll) {
    std::string why;
    const std::string path = dir.file("out.sf2");
    ASSERT_TRUE(files::write_bytes(path, {'o', 'l', 'd'}));
    EXPECT_FALSE(export_bank(path.c_str(), -1, why));  // only the empty sound 0
    EXPECT_EQ(why, "no instrument holds a sound with data");
    EXPECT_EQ(files::read_bytes(path), (Bytes{'o', 'l', 'd'}));
    replace_sound(0, testkit::make_sound16(testkit::sine16(440, 44100, 500), 44100, 60));
    EXPECT_FALSE(export_bank(dir.file("no/such/dir.sf2").c_str(), -1, why));
    ASSERT_TRUE(export_bank(path.c_str(), -1, why)) << why;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_EQ(strict_problems(files::read_bytes(path)), std::vector<std::string>{});
}

TEST_F(BankExport, TheGeneralMidiBanksComeBackSoundForSound) {
    for (const char* bank :
         {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2"}) {
        if (!std::filesystem::exists(bank)) continue;
        testkit::fresh_tables();
        loadi(1, bank, "");
        ASSERT_TRUE(alerts().empty());
        const Table before = table();
        round_trip();
        const Table after = table();
        ASSERT_EQ(after.size(), before.size()) << bank;
        for (std::size_t i = 0; i < after.size(); ++i) {
            ASSERT_EQ(after[i].first, before[i].first) << bank << " " << i;
            ASSERT_TRUE(after[i].second == before[i].second) << bank << " " << i;
        }
    }
}
