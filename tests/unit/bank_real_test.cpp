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
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "io/loadi.h"
#include "midi/midi_port.h"
#include "support/testkit.h"

namespace {

struct Chunk {
    std::size_t at = 0;
    std::size_t size = 0;
};

// Every chunk of a RIFF file by id (first one wins), descending into LISTs.
struct Riff {
    std::vector<unsigned char> bytes;
    std::map<std::string, Chunk> chunks;

    explicit Riff(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(f), {});
        scan(12, bytes.size());
    }
    void scan(std::size_t from, std::size_t to) {
        while (from + 8 <= to) {
            const std::string id(reinterpret_cast<const char*>(&bytes[from]), 4);
            const std::size_t size = u32(from + 4);
            if (id == "LIST") {
                scan(from + 12, from + 8 + size);
            } else {
                chunks.emplace(id, Chunk{from + 8, size});
            }
            from += 8 + size + (size & 1);
        }
    }
    std::uint32_t u32(std::size_t at) const {
        std::uint32_t v;
        std::memcpy(&v, &bytes[at], 4);
        return v;
    }
    std::uint16_t u16(std::size_t at) const {
        std::uint16_t v;
        std::memcpy(&v, &bytes[at], 2);
        return v;
    }
    // Field `offset` of record `i` of a chunk of `width`-byte records.
    std::size_t rec(const char* id, std::size_t i, std::size_t width, std::size_t offset) const {
        return chunks.at(id).at + i * width + offset;
    }
    std::size_t count(const char* id, std::size_t width) const {
        return chunks.at(id).size / width;
    }
};

struct Expected {
    std::string name;
    std::uint32_t size, loop, loop_start, loop_end, rate, start;
    int base, key_lo, key_hi;
};

struct ExpectedInst {
    std::string name;
    std::vector<Expected> sounds;
};

std::string fixed(const unsigned char* p, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(p),
                       strnlen(reinterpret_cast<const char*>(p), n));
}

// What the headers say each instrument should become.
std::vector<ExpectedInst> expected_from(const Riff& r) {
    std::vector<ExpectedInst> out;
    const std::size_t insts = r.count("inst", 22);
    const std::size_t smpl_bytes = r.chunks.at("smpl").size;
    for (std::size_t i = 0; i + 1 < insts; ++i) {
        ExpectedInst ei;
        ei.name = fixed(&r.bytes[r.rec("inst", i, 22, 0)], 20);
        const unsigned bag0 = r.u16(r.rec("inst", i, 22, 20));
        const unsigned bag1 = r.u16(r.rec("inst", i + 1, 22, 20));
        for (unsigned b = bag0; b < bag1; ++b) {
            const unsigned g0 = r.u16(r.rec("ibag", b, 4, 0));
            const unsigned g1 = r.u16(r.rec("ibag", b + 1, 4, 0));
            int sid = -1, root = -1, lo = 0, hi = 127;
            for (unsigned g = g1; g-- > g0;) {  // backwards, so the first of each wins
                const unsigned op = r.bytes[r.rec("igen", g, 4, 0)];
                const std::size_t amount = r.rec("igen", g, 4, 2);
                if (op == 53) sid = r.u16(amount);
                if (op == 58) root = r.bytes[amount];
                if (op == 43) lo = r.bytes[amount], hi = r.bytes[amount + 1];
            }
            const bool ends_with_sample = g1 > g0 && r.bytes[r.rec("igen", g1 - 1, 4, 0)] == 53;
            if (sid < 0 || (b == bag0 && !ends_with_sample)) continue;
            const std::uint32_t start = r.u32(r.rec("shdr", sid, 46, 20));
            const std::uint32_t end = r.u32(r.rec("shdr", sid, 46, 24));
            if (start >= end || std::size_t{end} * 2 > smpl_bytes) continue;
            const std::uint32_t ls = std::clamp(r.u32(r.rec("shdr", sid, 46, 28)), start, end);
            const std::uint32_t le = std::clamp(r.u32(r.rec("shdr", sid, 46, 32)), start, end);
            Expected e;
            e.name = fixed(&r.bytes[r.rec("shdr", sid, 46, 0)], 20);
            e.start = start;
            e.size = (end - start) * 2;
            e.loop_start = (ls - start) * 2;
            e.loop = e.size >= 4 && e.size - 4 > e.loop_start && le > ls;
            e.loop_end = e.loop ? (le - start) * 2 : e.size - e.loop_start;
            e.rate = r.u32(r.rec("shdr", sid, 46, 36));
            e.base = root >= 0 ? root : r.bytes[r.rec("shdr", sid, 46, 40)];
            if (e.base > 127) e.base = 48;
            e.key_lo = lo;
            e.key_hi = hi;
            ei.sounds.push_back(e);
        }
        out.push_back(ei);
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
void presets_from(const Riff& r, const std::vector<ExpectedInst>& insts,
                  std::vector<ExpectedPreset>& melodic, std::vector<ExpectedPreset>& drums) {
    melodic.assign(128, {});
    const std::size_t presets = r.count("phdr", 38);
    for (std::size_t p = 0; p + 1 < presets; ++p) {
        ExpectedPreset ep;
        ep.name = fixed(&r.bytes[r.rec("phdr", p, 38, 0)], 20);
        ep.number = r.u16(r.rec("phdr", p, 38, 20));
        const unsigned bank = r.u16(r.rec("phdr", p, 38, 22));
        const unsigned bag0 = r.u16(r.rec("phdr", p, 38, 24));
        const unsigned bag1 = r.u16(r.rec("phdr", p + 1, 38, 24));
        for (unsigned b = bag0; b < bag1; ++b) {
            const unsigned g0 = r.u16(r.rec("pbag", b, 4, 0));
            const unsigned g1 = r.u16(r.rec("pbag", b + 1, 4, 0));
            int inst = -1, lo = 0, hi = 127;
            for (unsigned g = g1; g-- > g0;) {
                const unsigned op = r.bytes[r.rec("pgen", g, 4, 0)];
                const std::size_t amount = r.rec("pgen", g, 4, 2);
                if (op == 41) inst = r.u16(amount);
                if (op == 43) lo = r.bytes[amount], hi = r.bytes[amount + 1];
            }
            if (inst < 0) continue;  // the global zone
            for (Expected e : insts.at(inst).sounds) {
                e.key_lo = std::max(e.key_lo, lo);
                e.key_hi = std::min(e.key_hi, hi);
                if (e.key_lo <= e.key_hi) ep.zones.push_back(e);
            }
        }
        if (bank == 0 && ep.number < 128 && melodic[ep.number].number < 0) melodic[ep.number] = ep;
        if (bank == 128) drums.push_back(ep);
    }
    std::stable_sort(drums.begin(), drums.end(),
                     [](const auto& a, const auto& b) { return a.number < b.number; });
}

// The zone that answers `key`: the first whose range holds it, else the last.
const Expected* answering(const ExpectedPreset& p, int key) {
    for (const Expected& e : p.zones) {
        if (e.key_lo <= key && key <= e.key_hi) return &e;
    }
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
    void TearDown() override {
        ui_hooks().alert = nullptr;
        EngineTest::TearDown();
    }

    // Imports `path` and checks, for every program and drum kit and every
    // key, that the sound that plays is the one the bank's presets give.
    void check_bank(const std::string& path, const char* piano, const char* piano_c4,
                    const char* kick) {
        if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
        const Riff r(path);
        std::vector<ExpectedPreset> melodic, drums;
        presets_from(r, expected_from(r), melodic, drums);
        loadi(1, path.c_str(), "");

        ASSERT_EQ(nb_inst, static_cast<int>(128 + drums.size()));
        std::vector<const ExpectedPreset*> all;
        for (const auto& p : melodic) all.push_back(&p);
        for (const auto& p : drums) all.push_back(&p);
        const std::size_t smpl_at = r.chunks.at("smpl").at;
        const std::int8_t* block = t_sound[0].load()->block.get();
        ASSERT_NE(block, nullptr);
        for (std::size_t k = 0; k < all.size(); ++k) {
            const ExpectedPreset& p = *all[k];
            SCOPED_TRACE(std::to_string(k) + " " + p.name);
            EXPECT_EQ(inst_name(static_cast<int>(k)), p.name);
            for (int key = 0; key < 128; ++key) {
                const Expected* e = answering(p, key);
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
                ASSERT_EQ(s->loop, e->loop);
                ASSERT_EQ(s->loop_start, e->loop_start);
                ASSERT_EQ(s->loop_end, e->loop_end);
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
        EXPECT_EQ(melodic[0].name, piano);
        EXPECT_EQ(answering(melodic[0], 60)->name, piano_c4);
        EXPECT_EQ(drums[0].number, 0);
        EXPECT_EQ(answering(drums[0], 36)->name, kick);
        fmodei = false;
        MyBMidiPort port;
        port.ProgramChange(9, 0);  // locked: ignored
        port.NoteOn(0, 60, 100);
        port.NoteOn(9, 36, 100);
        ASSERT_EQ(active_voices(), 2);
        for (const NOTE_LIST& v : nlist) {
            if (!v.playing()) continue;
            const p_s* s = sample_used(v.is_inst, v.index, v.key);
            const ExpectedPreset& p = v.channel == 9 ? drums[0] : melodic[0];
            EXPECT_STREQ(s->name, answering(p, static_cast<int>(v.key))->name.c_str());
            EXPECT_EQ(static_cast<int>(v.index), v.channel == 9 ? 128 : 0);
        }
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
