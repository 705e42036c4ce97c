#include "io/bank_import_lists.h"

#include <algorithm>

#include "core/bytes.h"
#include "io/bank_import.h"
#include "io/input_bytes.h"

namespace {

// An absent chunk reads as an empty list.
bool read_list(InputBytes& in, const ChunkSpan& span, std::size_t width, RecordList& out) {
    out.width = width;
    if (span.size % width != 0) return false;
    out.bytes.resize(span.size);
    return in.read_at(span.offset, out.bytes.data(), span.size);
}

}  // namespace

bool read_bank_lists(InputBytes& in, const BankChunks& c, BankLists& l) {
    return read_list(in, c.inst, kSfInstBytes, l.inst) &&
           read_list(in, c.ibag, kSfBagBytes, l.ibag) &&
           read_list(in, c.igen, kSfGenBytes, l.igen) &&
           read_list(in, c.shdr, kSfSampleBytes, l.shdr) &&
           read_list(in, c.phdr, kSfPresetBytes, l.phdr) &&
           read_list(in, c.pbag, kSfBagBytes, l.pbag) &&
           read_list(in, c.pgen, kSfGenBytes, l.pgen) &&
           read_list(in, c.imod, kSfModBytes, l.imod) && read_list(in, c.pmod, kSfModBytes, l.pmod);
}

std::vector<BankZone> playable_zones(const BankLists& l, std::size_t i,
                                     std::uint64_t sample_bytes) {
    std::vector<BankZone> zones;
    const std::size_t gens = l.igen.count();
    const std::uint8_t* gen = l.igen.bytes.data();
    const std::size_t b0 = bytes::le16(l.inst.at(i) + 20);
    const std::size_t b1 = bytes::le16(l.inst.at(i + 1) + 20);
    const ZoneGens global = global_zone(l.ibag, l.igen, l.imod, b0, b1, kGenSampleId);
    for_each_zone(l.ibag, l.igen, b0, b1, kGenSampleId,
                  [&](std::size_t g0, std::size_t g1, std::size_t b) {
                      const std::uint8_t* id = find_igen(gen, gens, g0, g1, kGenSampleId);
                      if (!id) return;
                      BankZone z;
                      z.sample = bytes::le16(id + 2);
                      if (z.sample >= l.shdr.count()) return;
                      const std::uint8_t* h = l.shdr.at(z.sample);
                      const std::uint64_t start = bytes::le32(h + 20);
                      const std::uint64_t end = bytes::le32(h + 24);
                      // A compressed sample's header gives bytes of the sample chunk, not points.
                      const bool compressed = bytes::le16(h + 44) & 0x10;
                      if (start >= end || end * (compressed ? 1 : 2) > sample_bytes) return;
                      if (const std::uint8_t* g = find_igen(gen, gens, g0, g1, kGenRootKey))
                          z.root = g[2];
                      if (const std::uint8_t* g = find_igen(gen, gens, g0, g1, kGenKeyRange)) {
                          z.key_lo = g[2];
                          z.key_hi = g[3];
                      }
                      z.gens.read(l.igen, g0, g1);
                      z.gens.read_mods(l.ibag, l.imod, b);
                      z.gens.inherit(global);
                      if (z.gens.has(kGenVelRange)) {
                          z.vel_lo = z.gens.lo(kGenVelRange);
                          z.vel_hi = z.gens.hi(kGenVelRange);
                      }
                      zones.push_back(z);
                  });
    return zones;
}

void ZoneGens::read(const RecordList& gen, std::size_t g0, std::size_t g1) {
    g1 = std::min(g1, gen.count());
    for (std::size_t g = g0; g < g1; ++g) {
        const std::uint8_t* rec = gen.at(g);
        const int oper = bytes::le16(rec);
        if (oper >= kCount) continue;
        value[oper] = static_cast<std::int16_t>(bytes::le16(rec + 2));
        present |= std::uint64_t{1} << oper;
    }
}

void ZoneGens::inherit(const ZoneGens& global) {
    for (int g = 0; g < kCount; ++g) {
        if (!has(g) && global.has(g)) value[g] = global.value[g];
    }
    present |= global.present;
    for (int j = 0; j < global.mod_count && mod_count < kMaxMods; ++j) {
        int i = 0;
        while (i < mod_count && !mods[i].same_as(global.mods[j])) ++i;
        if (i == mod_count) mods[mod_count++] = global.mods[j];
    }
}

void ZoneGens::read_mods(const RecordList& bag, const RecordList& mod, std::size_t b) {
    if (b + 1 >= bag.count()) return;
    const std::size_t m0 = bytes::le16(bag.at(b) + 2);
    const std::size_t m1 = std::min<std::size_t>(bytes::le16(bag.at(b + 1) + 2), mod.count());
    for (std::size_t m = m0; m < m1; ++m) {
        const std::uint8_t* r = mod.at(m);
        const ZoneMod z{bytes::le16(r), bytes::le16(r + 2), bytes::le16(r + 6), bytes::le16(r + 8),
                        static_cast<std::int16_t>(bytes::le16(r + 4))};
        int i = 0;
        while (i < mod_count && !mods[i].same_as(z)) ++i;
        if (i == kMaxMods) continue;
        mods[i] = z;
        if (i == mod_count) ++mod_count;
    }
}

ZoneGens global_zone(const RecordList& bag, const RecordList& gen, const RecordList& mod,
                     std::size_t b0, std::size_t b1, int last_op) {
    ZoneGens z;
    if (b0 >= b1 || b0 + 1 >= bag.count()) return z;
    const std::size_t g0 = bytes::le16(bag.at(b0));
    const std::size_t g1 = bytes::le16(bag.at(b0 + 1));
    if (g1 <= g0 || g1 > gen.count() || gen.bytes[(g1 - 1) * kSfGenBytes] == last_op) return z;
    z.read(gen, g0, g1);
    z.read_mods(bag, mod, b0);
    return z;
}

void copy_sf_name(const std::uint8_t* p, char (&out)[kSfNameChars + 1]) {
    int c = 0;
    for (; c < kSfNameChars && p[c]; ++c) out[c] = static_cast<char>(p[c]);
    out[c] = 0;
}
