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

#include "core/instruments.h"
#include "core/tables.h"
#include "io/loadi.h"
#include "support/testkit.h"

namespace {

// Every chunk of a RIFF file by id (first one wins), descending into LISTs.
struct Riff {
    std::vector<unsigned char> bytes;
    std::map<std::string, std::pair<std::size_t, std::size_t>> chunks;  // offset, size

    explicit Riff(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(f), {});
        scan(12, bytes.size());
    }
    void scan(std::size_t from, std::size_t to) {
        while (from + 8 <= to) {
            const std::string id(reinterpret_cast<const char*>(&bytes[from]), 4);
            const std::size_t size = u(from + 4, 4);
            if (id == "LIST")
                scan(from + 12, from + 8 + size);
            else
                chunks.emplace(id, std::pair{from + 8, size});
            from += 8 + size + (size & 1);
        }
    }
    std::uint32_t u(std::size_t at, int n) const {
        std::uint32_t v = 0;
        std::memcpy(&v, &bytes[at], n);
        return v;
    }
    // Field at `offset` (of `n` bytes) of record `i` of a chunk of `width`-byte records.
    std::uint32_t field(const char* id, std::size_t i, std::size_t width, std::size_t offset,
                        int n) const {
        return u(chunks.at(id).first + i * width + offset, n);
    }
    std::string name(const char* id, std::size_t i, std::size_t width) const {
        const char* p = reinterpret_cast<const char*>(&bytes[chunks.at(id).first + i * width]);
        return std::string(p, strnlen(p, 20));
    }
};

struct Expected {
    std::string name;
    std::uint32_t size, loop, loop_start, loop_end, rate, start;
    int base, key_lo, key_hi;
};

// What the headers say each instrument's sounds should become.
std::vector<std::pair<std::string, std::vector<Expected>>> expected_from(const Riff& r) {
    std::vector<std::pair<std::string, std::vector<Expected>>> out;
    const std::size_t insts = r.chunks.at("inst").second / 22;
    for (std::size_t i = 0; i + 1 < insts; ++i) {
        std::vector<Expected> sounds;
        const unsigned bag0 = r.field("inst", i, 22, 20, 2),
                       bag1 = r.field("inst", i + 1, 22, 20, 2);
        for (unsigned b = bag0; b < bag1; ++b) {
            const unsigned g0 = r.field("ibag", b, 4, 0, 2), g1 = r.field("ibag", b + 1, 4, 0, 2);
            int sid = -1, root = -1, lo = 0, hi = 127;
            for (unsigned g = g1; g-- > g0;) {  // backwards, so the first of each wins
                const unsigned op = r.field("igen", g, 4, 0, 1);
                if (op == 53) sid = static_cast<int>(r.field("igen", g, 4, 2, 2));
                if (op == 58) root = static_cast<int>(r.field("igen", g, 4, 2, 1));
                if (op == 43) lo = r.field("igen", g, 4, 2, 1), hi = r.field("igen", g, 4, 3, 1);
            }
            const bool ends_with_sample = g1 > g0 && r.field("igen", g1 - 1, 4, 0, 1) == 53;
            if (sid < 0 || (b == bag0 && !ends_with_sample)) continue;
            const std::uint32_t start = r.field("shdr", sid, 46, 20, 4),
                                end = r.field("shdr", sid, 46, 24, 4);
            if (start >= end || std::size_t{end} * 2 > r.chunks.at("smpl").second) continue;
            const std::uint32_t ls = std::clamp(r.field("shdr", sid, 46, 28, 4), start, end);
            const std::uint32_t le = std::clamp(r.field("shdr", sid, 46, 32, 4), start, end);
            Expected e{r.name("shdr", sid, 46),
                       (end - start) * 2,
                       0,
                       (ls - start) * 2,
                       0,
                       r.field("shdr", sid, 46, 36, 4),
                       start,
                       0,
                       lo,
                       hi};
            e.loop = e.size >= 4 && e.size - 4 > e.loop_start && le > ls;
            e.loop_end = e.loop ? (le - start) * 2 : e.size - e.loop_start;
            e.base = root >= 0 ? root : static_cast<int>(r.field("shdr", sid, 46, 40, 1));
            if (e.base > 127) e.base = 48;
            sounds.push_back(e);
        }
        out.emplace_back(r.name("inst", i, 22), sounds);
    }
    return out;
}

class RealBanks : public testkit::EngineTest, public testing::WithParamInterface<const char*> {};

TEST_P(RealBanks, EveryInstrumentIsImportedAsTheHeadersSay) {
    const std::string path = std::string("/usr/share/sounds/sf2/") + GetParam();
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
    clear_inst_names();
    const Riff r(path);
    const auto expected = expected_from(r);
    loadi(1, path.c_str(), "");
    EXPECT_TRUE(alerts().empty());
    ASSERT_EQ(nb_inst, static_cast<int>(expected.size()));
    int total = 0;
    std::set<const std::int8_t*> distinct;
    std::set<std::uint32_t> starts;
    const void* block = nullptr;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const auto& [name, sounds] = expected[k];
        SCOPED_TRACE(name);
        EXPECT_EQ(inst_name(static_cast<int>(k)), name);
        ASSERT_EQ(inst_count(static_cast<int>(k)),
                  std::max<int>(1, static_cast<int>(sounds.size())));
        total += inst_count(static_cast<int>(k));
        for (std::size_t z = 0; z < sounds.size(); ++z) {
            const Expected& e = sounds[z];
            const p_s* s = t_sound[inst_first(static_cast<int>(k)) + static_cast<int>(z)];
            SCOPED_TRACE(z);
            EXPECT_EQ(s->name, e.name);
            const std::int64_t got[] = {s->size, s->loop,   s->loop_start, s->loop_end, s->rate,
                                        s->base, s->key_lo, s->key_hi,     s->bits,     s->shift};
            const std::int64_t want[] = {e.size, e.loop,   e.loop_start, e.loop_end, e.rate,
                                         e.base, e.key_lo, e.key_hi,     16,         1};
            for (std::size_t f = 0; f < std::size(got); ++f)
                EXPECT_EQ(got[f], want[f]) << "field " << f;
            ASSERT_GE(std::uint64_t{s->capacity}, std::uint64_t{s->size} + kSpareBytes);
            EXPECT_EQ(std::memcmp(s->data, &r.bytes[r.chunks.at("smpl").first + e.start * 2],
                                  std::min<std::size_t>(e.size, 64)),
                      0);
            // One copy of the sample data for the whole bank.
            if (!block) block = s->block.get();
            EXPECT_EQ(s->block.get(), block);
            distinct.insert(s->data);
            starts.insert(e.start);
        }
    }
    EXPECT_EQ(nb_sound, total);
    EXPECT_EQ(distinct.size(), starts.size());
    EXPECT_EQ(no_s, 0);
}

INSTANTIATE_TEST_SUITE_P(Debian, RealBanks, testing::Values("TimGM6mb.sf2", "FluidR3_GM.sf2"),
                         [](const testing::TestParamInfo<const char*>& p) {
                             return std::string(p.param).substr(0, std::string(p.param).find('.'));
                         });

}  // namespace
