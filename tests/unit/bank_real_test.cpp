// Imports the SoundFont banks shipped by Debian and checks the result against
// the banks' own headers, read here by a parser of the test's own.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/hooks.h"
#include "core/instruments.h"
#include "core/sound.h"
#include "io/loadi.h"
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

    // Imports `path` and compares every instrument and sound with its headers.
    void check_bank(const std::string& path) {
        if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
        const Riff r(path);
        const auto expected = expected_from(r);
        loadi(1, path.c_str(), "");

        ASSERT_EQ(nb_inst, static_cast<int>(expected.size()));
        std::size_t total = 0;
        for (const auto& ei : expected) total += std::max<std::size_t>(1, ei.sounds.size());
        ASSERT_EQ(nb_sound, static_cast<int>(total));
        const std::int8_t* block = nullptr;
        const std::size_t smpl_at = r.chunks.at("smpl").at;
        std::set<const std::int8_t*> distinct;
        std::set<std::uint32_t> starts;
        for (std::size_t k = 0; k < expected.size(); ++k) {
            const ExpectedInst& ei = expected[k];
            SCOPED_TRACE(ei.name);
            EXPECT_EQ(inst_name(static_cast<int>(k)), ei.name);
            ASSERT_EQ(inst_count(static_cast<int>(k)),
                      static_cast<int>(std::max<std::size_t>(1, ei.sounds.size())));
            for (std::size_t z = 0; z < ei.sounds.size(); ++z) {
                const Expected& e = ei.sounds[z];
                const p_s* s = t_sound[inst_first(static_cast<int>(k)) + static_cast<int>(z)];
                SCOPED_TRACE(z);
                EXPECT_EQ(s->name, e.name);
                EXPECT_EQ(s->size, e.size);
                EXPECT_EQ(s->loop, e.loop);
                EXPECT_EQ(s->loop_start, e.loop_start);
                EXPECT_EQ(s->loop_end, e.loop_end);
                EXPECT_EQ(s->rate, e.rate);
                EXPECT_EQ(s->base, e.base);
                EXPECT_EQ(s->key_lo, e.key_lo);
                EXPECT_EQ(s->key_hi, e.key_hi);
                EXPECT_EQ(s->bits, 16);
                EXPECT_EQ(s->shift, 1);
                ASSERT_GE(std::uint64_t{s->capacity}, std::uint64_t{s->size} + kSpareBytes);
                EXPECT_EQ(std::memcmp(s->data, &r.bytes[smpl_at + e.start * 2],
                                      std::min<std::size_t>(e.size, 64)),
                          0);
                if (!block) block = s->block.get();
                EXPECT_EQ(s->block.get(), block);  // one copy of the sample data for the whole bank
                distinct.insert(s->data);
                starts.insert(e.start);
            }
        }
        EXPECT_EQ(distinct.size(), starts.size());
        EXPECT_EQ(no_s, 0);
    }
};

TEST_F(RealBanks, EveryInstrumentOfTimGM6mbIsImportedAsItsHeadersSay) {
    check_bank("/usr/share/sounds/sf2/TimGM6mb.sf2");
}

TEST_F(RealBanks, FluidR3IsImportedAsItsHeadersSay) {
    check_bank("/usr/share/sounds/sf2/FluidR3_GM.sf2");
}

}  // namespace
