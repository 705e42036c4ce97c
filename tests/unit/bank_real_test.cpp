// Imports the General MIDI banks shipped by Debian and checks what each
// program and drum kit plays against the banks' own headers and presets, read
// here by a parser of the test's own.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "core/hooks.h"
#include "core/instruments.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "engine/voices.h"
#include "io/loadi.h"
#include "support/testkit.h"

namespace {

// Every chunk of a RIFF file by id (first one wins), descending into LISTs.
struct Riff {
    std::vector<unsigned char> bytes;
    std::map<std::string, std::pair<std::size_t, std::size_t>> chunks;  // start, size

    explicit Riff(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(f), {});
        scan(12, bytes.size());
    }
    void scan(std::size_t from, std::size_t to) {
        while (from + 8 <= to) {
            const std::string id(reinterpret_cast<const char*>(&bytes[from]), 4);
            const std::size_t size = u32(from + 4);
            if (id == "LIST")
                scan(from + 12, from + 8 + size);
            else
                chunks.emplace(id, std::pair{from + 8, size});
            from += 8 + size + (size & 1);
        }
    }
    std::uint32_t u32(std::size_t at) const { return u16(at) | std::uint32_t{u16(at + 2)} << 16; }
    std::uint16_t u16(std::size_t at) const {
        return std::uint16_t(bytes[at] | bytes[at + 1] << 8);
    }
    // Where field `offset` of record `i` of a chunk of `width`-byte records lies.
    std::size_t rec(const char* id, std::size_t i, std::size_t width, std::size_t offset) const {
        return chunks.at(id).first + i * width + offset;
    }
    std::size_t count(const char* id, std::size_t width) const {
        return chunks.at(id).second / width;
    }
    std::string text(std::size_t at) const {
        return std::string(reinterpret_cast<const char*>(&bytes[at]),
                           strnlen(reinterpret_cast<const char*>(&bytes[at]), 20));
    }
};

// A zone of an instrument or preset: where each generator's amount lies (the
// first of each operator wins) and the last operator.
struct Zone {
    std::map<unsigned, std::size_t> gens;
    unsigned last = 0;
    int lo(const Riff& r) const { return gens.count(43) ? r.bytes[gens.at(43)] : 0; }
    int hi(const Riff& r) const { return gens.count(43) ? r.bytes[gens.at(43) + 1] : 127; }
};

// The zones of record `i` of `head` (of `width` bytes, bag index at `bag_at`).
std::vector<Zone> zones(const Riff& r, const char* head, std::size_t width, std::size_t bag_at,
                        std::size_t i, const char* bag, const char* gen) {
    std::vector<Zone> out;
    const unsigned b1 = r.u16(r.rec(head, i + 1, width, bag_at));
    for (unsigned b = r.u16(r.rec(head, i, width, bag_at)); b < b1; ++b) {
        Zone& z = out.emplace_back();
        const unsigned g0 = r.u16(r.rec(bag, b, 4, 0)), g1 = r.u16(r.rec(bag, b + 1, 4, 0));
        for (unsigned g = g0; g < g1; ++g)
            z.gens.emplace(r.bytes[r.rec(gen, g, 4, 0)], r.rec(gen, g, 4, 2));
        if (g1 > g0) z.last = r.bytes[r.rec(gen, g1 - 1, 4, 0)];
    }
    return out;
}

struct Expected {
    std::string name;
    std::uint32_t size, rate, start;
    int base, key_lo, key_hi;
};

// What the headers say each instrument's sounds should become.
std::vector<std::vector<Expected>> instruments_from(const Riff& r) {
    std::vector<std::vector<Expected>> out;
    for (std::size_t i = 0; i + 1 < r.count("inst", 22); ++i) {
        std::vector<Expected>& sounds = out.emplace_back();
        const std::vector<Zone> zs = zones(r, "inst", 22, 20, i, "ibag", "igen");
        for (std::size_t b = 0; b < zs.size(); ++b) {
            const Zone& z = zs[b];
            if (!z.gens.count(53) || (b == 0 && z.last != 53)) continue;  // a global zone
            const unsigned sid = r.u16(z.gens.at(53));
            const std::uint32_t start = r.u32(r.rec("shdr", sid, 46, 20));
            const std::uint32_t end = r.u32(r.rec("shdr", sid, 46, 24));
            if (start >= end || std::size_t{end} * 2 > r.chunks.at("smpl").second) continue;
            const int root = r.bytes[z.gens.count(58) ? z.gens.at(58) : r.rec("shdr", sid, 46, 40)];
            sounds.push_back({r.text(r.rec("shdr", sid, 46, 0)), (end - start) * 2,
                              r.u32(r.rec("shdr", sid, 46, 36)), start, root > 127 ? 48 : root,
                              z.lo(r), z.hi(r)});
        }
    }
    return out;
}

struct ExpectedPreset {
    std::string name;
    int number = -1;
    std::vector<Expected> zones;  // every zone, in file order, keys narrowed
};

// The melodic presets (bank 0) by number and the drum kits (bank 128) in
// number order, each with the zones of the instruments its zones name.
void presets_from(const Riff& r, std::vector<ExpectedPreset>& melodic,
                  std::vector<ExpectedPreset>& drums) {
    const std::vector<std::vector<Expected>> insts = instruments_from(r);
    melodic.assign(128, {});
    for (std::size_t p = 0; p + 1 < r.count("phdr", 38); ++p) {
        ExpectedPreset ep{r.text(r.rec("phdr", p, 38, 0)), r.u16(r.rec("phdr", p, 38, 20)), {}};
        for (const Zone& z : zones(r, "phdr", 38, 24, p, "pbag", "pgen")) {
            if (!z.gens.count(41)) continue;  // the global zone
            for (Expected e : insts.at(r.u16(z.gens.at(41)))) {
                e.key_lo = std::max(e.key_lo, z.lo(r));
                e.key_hi = std::min(e.key_hi, z.hi(r));
                if (e.key_lo <= e.key_hi) ep.zones.push_back(e);
            }
        }
        const unsigned bank = r.u16(r.rec("phdr", p, 38, 22));
        if (bank == 0 && ep.number < 128 && melodic[ep.number].number < 0) melodic[ep.number] = ep;
        if (bank == 128) drums.push_back(ep);
    }
    std::stable_sort(drums.begin(), drums.end(),
                     [](const auto& a, const auto& b) { return a.number < b.number; });
}

// The zone that answers `key`: the first whose range holds it, else the last.
const Expected* answering(const ExpectedPreset& p, int key) {
    for (const Expected& e : p.zones)
        if (e.key_lo <= key && key <= e.key_hi) return &e;
    return p.zones.empty() ? nullptr : &p.zones.back();
}

class RealBanks : public testkit::EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        clear_inst_names();
        ui_hooks().alert = [](const char* text, const char*) {
            ADD_FAILURE() << "alert: " << text;
        };
    }

    // Imports `path` and checks, for every program and drum kit and every
    // key, that the sound that plays is the one the bank's presets give.
    void check_bank(const std::string& path, const char* piano, const char* piano_c4,
                    const char* kick) {
        if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
        const Riff r(path);
        std::vector<ExpectedPreset> all, drums;
        presets_from(r, all, drums);
        loadi(1, path.c_str(), "");

        ASSERT_EQ(nb_inst, static_cast<int>(128 + drums.size()));
        all.insert(all.end(), drums.begin(), drums.end());
        const std::size_t smpl_at = r.chunks.at("smpl").first;
        const std::int8_t* block = t_sound[0].load()->block.get();
        ASSERT_NE(block, nullptr);
        for (std::size_t k = 0; k < all.size(); ++k) {
            SCOPED_TRACE(std::to_string(k) + " " + all[k].name);
            EXPECT_EQ(inst_name(static_cast<int>(k)), all[k].name);
            for (int key = 0; key < 128; ++key) {
                const Expected* e = answering(all[k], key);
                const p_s* s = sample_used(true, static_cast<std::uint32_t>(k),
                                           static_cast<std::uint32_t>(key));
                ASSERT_NE(s, nullptr);
                if (!e) {
                    ASSERT_EQ(s->data, nullptr);
                    continue;
                }
                SCOPED_TRACE(key);
                ASSERT_EQ(s->name, e->name);
                ASSERT_EQ(s->size, e->size);
                ASSERT_LE(s->loop_end, s->size);  // the loop rules: see the import's own tests
                ASSERT_EQ(s->rate, e->rate);
                ASSERT_EQ(s->base, e->base);
                ASSERT_EQ(s->bits, 16);
                ASSERT_GE(std::uint64_t{s->capacity}, std::uint64_t{s->size} + kSpareBytes);
                // One copy of the sample data for the whole bank.
                ASSERT_EQ(s->block.get(), block);
                ASSERT_EQ(std::memcmp(s->data, &r.bytes[smpl_at + e->start * 2],
                                      std::min<std::size_t>(e->size, 64)),
                          0);
            }
        }
        EXPECT_EQ(no_s, 0);
        // Program 0 plays the piano, and note 36 on channel 10 the standard kit's kick.
        ASSERT_FALSE(drums.empty());
        EXPECT_EQ(all[0].name, piano);
        EXPECT_EQ(answering(all[0], 60)->name, piano_c4);
        EXPECT_EQ(drums[0].number, 0);
        EXPECT_EQ(answering(drums[0], 36)->name, kick);
        EXPECT_EQ(ch_inst[9], 128);
    }
};

TEST_F(RealBanks, TimGM6mbPlaysEachProgramAndDrumKitAsItsPresetsSay) {
    check_bank("/usr/share/sounds/sf2/TimGM6mb.sf2", "Piano 1", "Piano Db3", "Bass Drum New");
}

TEST_F(RealBanks, FluidR3PlaysEachProgramAndDrumKitAsItsPresetsSay) {
    check_bank("/usr/share/sounds/sf2/FluidR3_GM.sf2", "Yamaha Grand Piano", "P200 Piano D5(L)",
               "Std Kick(L)");
}

}  // namespace
