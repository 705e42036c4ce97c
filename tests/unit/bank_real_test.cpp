// Imports the SoundFont banks shipped by Debian and checks each sound against
// the bank's own headers, read here by a parser of the test's own.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/instruments.h"
#include "core/sound.h"
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
        for (std::size_t size; from + 8 <= to; from += 8 + size + (size & 1)) {
            const std::string id(reinterpret_cast<const char*>(&bytes[from]), 4);
            size = u(from + 4, 4);
            if (id == "LIST") scan(from + 12, from + 8 + size);
            chunks.emplace(id, std::pair{from + 8, size});
        }
    }
    std::uint32_t u(std::size_t at, int n) const {
        std::uint32_t v = 0;
        std::memcpy(&v, &bytes[at], n);
        return v;
    }
    // Field at `offset` (of `n` bytes) of record `i` of chunk `id`.
    std::uint32_t field(const char* id, std::size_t i, std::size_t offset, int n) const {
        static const std::map<std::string, std::size_t> width = {
            {"inst", 22}, {"ibag", 4}, {"igen", 4}, {"shdr", 46}};
        return u(chunks.at(id).first + i * width.at(id) + offset, n);
    }
    std::string name(const char* id, std::size_t i) const {
        const char* p = reinterpret_cast<const char*>(
            &bytes[chunks.at(id).first + i * (id[0] == 'i' ? 22 : 46)]);
        return std::string(p, strnlen(p, 20));
    }
};

class RealBanks : public testkit::EngineTest, public testing::WithParamInterface<const char*> {};

// Instrument by instrument, zone by zone: the zones that name a sample (after
// a global first zone, which names none) become the instrument's sounds, with
// the sample's name, data and rate and the zone's key range.
TEST_P(RealBanks, EveryZoneBecomesTheSoundItsHeadersDescribe) {
    const std::string path = std::string("/usr/share/sounds/sf2/") + GetParam();
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed";
    clear_inst_names();
    const Riff r(path);
    loadi(1, path.c_str(), "");
    EXPECT_TRUE(alerts().empty());
    const std::size_t insts = r.chunks.at("inst").second / 22 - 1;
    ASSERT_EQ(nb_inst, static_cast<int>(insts));
    int sounds = 0;
    std::map<std::uint32_t, const std::int8_t*> data_at;  // by sample start
    std::set<const std::int8_t*> pointers;
    for (std::size_t k = 0; k < insts; ++k) {
        SCOPED_TRACE(r.name("inst", k));
        EXPECT_EQ(inst_name(static_cast<int>(k)), r.name("inst", k));
        int z = 0;
        for (unsigned b = r.field("inst", k, 20, 2); b < r.field("inst", k + 1, 20, 2); ++b) {
            int sid = -1, lo = 0, hi = 127;
            for (unsigned g = r.field("ibag", b + 1, 0, 2); g-- > r.field("ibag", b, 0, 2);) {
                if (r.field("igen", g, 0, 1) == 53)
                    sid = static_cast<int>(r.field("igen", g, 2, 2));
                if (r.field("igen", g, 0, 1) == 43)
                    lo = r.field("igen", g, 2, 1), hi = r.field("igen", g, 3, 1);
            }
            if (sid < 0) continue;
            const p_s* s = t_sound[inst_first(static_cast<int>(k)) + z++];
            const std::uint32_t start = r.field("shdr", sid, 20, 4);
            EXPECT_EQ(s->name, r.name("shdr", sid));
            EXPECT_EQ(s->size, (r.field("shdr", sid, 24, 4) - start) * 2);
            EXPECT_EQ(s->rate, r.field("shdr", sid, 36, 4));
            EXPECT_EQ(s->key_lo * 1000 + s->key_hi, lo * 1000 + hi);
            EXPECT_TRUE(s->loop_start <= s->size && (!s->loop || s->loop_end <= s->size));
            EXPECT_TRUE(s->base >= 0 && s->base <= 127);
            ASSERT_GE(std::uint64_t{s->capacity}, std::uint64_t{s->size} + kSpareBytes);
            EXPECT_EQ(std::memcmp(s->data, &r.bytes[r.chunks.at("smpl").first + start * 2],
                                  std::min<std::size_t>(s->size, 64)),
                      0);
            // One copy of the sample data for the whole bank, zones of one sample sharing it.
            EXPECT_EQ(s->block.get(), t_sound[0].load()->block.get());
            EXPECT_EQ(data_at.emplace(start, s->data).first->second, s->data);
            pointers.insert(s->data);
        }
        ASSERT_EQ(inst_count(static_cast<int>(k)), std::max(1, z));
        sounds += std::max(1, z);
    }
    EXPECT_EQ(nb_sound, sounds);
    EXPECT_EQ(pointers.size(), data_at.size());
    EXPECT_EQ(no_s, 0);
}

INSTANTIATE_TEST_SUITE_P(Debian, RealBanks, testing::Values("TimGM6mb.sf2", "FluidR3_GM.sf2"),
                         [](const testing::TestParamInfo<const char*>& p) {
                             return std::string(p.param).substr(0, std::string(p.param).find('.'));
                         });

}  // namespace
