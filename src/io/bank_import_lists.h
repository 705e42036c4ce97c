// The record lists of a SoundFont 2 bank as the import reads them, and the
// zones of its instruments that can be played.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/bytes.h"
#include "io/bank_chunks.h"
#include "io/bank_import.h"

class InputBytes;

constexpr int kSfNameChars = 20;
constexpr std::size_t kSfPresetBytes = 38;

// One record list of the bank, read whole.
struct RecordList {
    std::vector<std::uint8_t> bytes;
    std::size_t width = 1;
    std::size_t count() const { return bytes.size() / width; }
    const std::uint8_t* at(std::size_t i) const { return bytes.data() + i * width; }
};

constexpr std::size_t kSfModBytes = 10;

struct BankLists {
    RecordList inst, ibag, igen, shdr;
    RecordList phdr, pbag, pgen;  // empty when the bank has no preset lists
    RecordList imod, pmod;        // empty when the bank has no modulators
};

// GUI thread. Reads the lists `chunks` names. False when one of them is not
// a whole number of records or cannot be read. May throw std::bad_alloc.
bool read_bank_lists(InputBytes& in, const BankChunks& chunks, BankLists& out);

// Any thread. Calls `visit(g0, g1, b)` with the generator range of every
// zone b in [b0, b1) of the bag list `bag` that lies inside the generator
// list `gen`, skipping a first zone whose generators do not end with
// `last_op`: the global zone.
template <typename Visit>
void for_each_zone(const RecordList& bag, const RecordList& gen, std::size_t b0, std::size_t b1,
                   int last_op, Visit visit) {
    const std::size_t bags = bag.count();
    const std::size_t gens = gen.count();
    for (std::size_t b = b0; b < b1 && b + 1 < bags; ++b) {
        const std::size_t g0 = bytes::le16(bag.at(b));
        const std::size_t g1 = bytes::le16(bag.at(b + 1));
        if (g1 < g0 || g1 > gens) continue;
        if (b == b0 && (g1 == g0 || gen.bytes[(g1 - 1) * kSfGenBytes] != last_op)) continue;
        visit(g0, g1, b);
    }
}

// One modulator of a zone as the bank states it.
struct ZoneMod {
    std::uint16_t source = 0, dest = 0, amount_source = 0, transform = 0;
    std::int16_t amount = 0;
    bool same_as(const ZoneMod& o) const {
        return source == o.source && dest == o.dest && amount_source == o.amount_source &&
               transform == o.transform;
    }
};

// The generators of one zone: the last value of each operator the zone
// sets, and which it sets; and its modulators.
struct ZoneGens {
    static constexpr int kCount = 61;
    std::int16_t value[kCount] = {};
    std::uint64_t present = 0;

    static constexpr int kMaxMods = 16;
    ZoneMod mods[kMaxMods];
    int mod_count = 0;

    // Any thread. Reads the generators [g0, g1) of `gen`.
    void read(const RecordList& gen, std::size_t g0, std::size_t g1);
    // Any thread. Reads the modulators of zone `b` of `bag` from `mod` (the
    // first kMaxMods; a later one identical to an earlier replaces it).
    void read_mods(const RecordList& bag, const RecordList& mod, std::size_t b);
    // Any thread. Takes from `global` what this zone does not set itself.
    void inherit(const ZoneGens& global);
    bool has(int oper) const { return oper < kCount && (present >> oper) & 1; }
    int get(int oper, int absent) const { return has(oper) ? value[oper] : absent; }
    // The low and high byte of a range generator.
    int lo(int oper) const { return value[oper] & 0xFF; }
    int hi(int oper) const { return (value[oper] >> 8) & 0xFF; }
};

// A zone that plays a sample, with what it takes from its generators.
struct BankZone {
    std::uint32_t sample = 0;
    int root = -1;    // overridingRootKey, -1 when absent
    int key_lo = -1;  // keyRange, -1 when absent
    int key_hi = -1;
    int vel_lo = 0;  // velRange, narrowed by the preset's (bank articulation only)
    int vel_hi = 127;
    ZoneGens gens;    // the instrument zone's, its global zone's filled in
    ZoneGens preset;  // the preset zone's, added to them (none for a bank without presets)
};

// Any thread. The generators of the global zone among [b0, b1) of `bag`
// (none when the first zone ends with `last_op`).
ZoneGens global_zone(const RecordList& bag, const RecordList& gen, const RecordList& mod,
                     std::size_t b0, std::size_t b1, int last_op);

// Any thread. The zones of bank instrument `i` (below inst.count() - 1) that
// can be played, in file order: indices out of range or going backwards,
// zones without a sample and samples outside the `sample_bytes` of the sample
// chunk are left out; a first zone whose generators do not end with a sample
// is the global zone and is left out too. May throw std::bad_alloc.
std::vector<BankZone> playable_zones(const BankLists& l, std::size_t i, std::uint64_t sample_bytes);

// Any thread. The zero-terminated name of at most 20 characters at `p`.
void copy_sf_name(const std::uint8_t* p, char (&out)[kSfNameChars + 1]);
