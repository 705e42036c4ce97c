#include "io/bank_import_lists.h"

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
           read_list(in, c.pbag, kSfBagBytes, l.pbag) && read_list(in, c.pgen, kSfGenBytes, l.pgen);
}

std::vector<BankZone> playable_zones(const BankLists& l, std::size_t i,
                                     std::uint64_t sample_bytes) {
    std::vector<BankZone> zones;
    const std::size_t gens = l.igen.count();
    const std::uint8_t* gen = l.igen.bytes.data();
    const std::size_t b0 = bytes::le16(l.inst.at(i) + 20);
    const std::size_t b1 = bytes::le16(l.inst.at(i + 1) + 20);
    for_each_zone(l.ibag, l.igen, b0, b1, kGenSampleId, [&](std::size_t g0, std::size_t g1) {
        const std::uint8_t* id = find_igen(gen, gens, g0, g1, kGenSampleId);
        if (!id) return;
        BankZone z;
        z.sample = bytes::le16(id + 2);
        if (z.sample >= l.shdr.count()) return;
        const std::uint8_t* h = l.shdr.at(z.sample);
        const std::uint64_t start = bytes::le32(h + 20);
        const std::uint64_t end = bytes::le32(h + 24);
        if (start >= end || end * 2 > sample_bytes) return;
        if (const std::uint8_t* g = find_igen(gen, gens, g0, g1, kGenRootKey)) z.root = g[2];
        if (const std::uint8_t* g = find_igen(gen, gens, g0, g1, kGenKeyRange)) {
            z.key_lo = g[2];
            z.key_hi = g[3];
        }
        zones.push_back(z);
    });
    return zones;
}

void copy_sf_name(const std::uint8_t* p, char (&out)[kSfNameChars + 1]) {
    int c = 0;
    for (; c < kSfNameChars && p[c]; ++c) out[c] = static_cast<char>(p[c]);
    out[c] = 0;
}
