#include "io/bank_import.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "core/hooks.h"
#include "core/instruments.h"
#include "core/notify.h"
#include "core/sound.h"
#include "io/bank_chunks.h"
#include "io/input_bytes.h"

namespace {

constexpr int kSfNameChars = 20;
constexpr std::uint16_t kCompressedSample = 0x10;

using bytes::le16;
using bytes::le32;

// One record list of the bank, read whole.
struct RecordList {
    std::vector<std::uint8_t> bytes;
    std::size_t width = 1;
    std::size_t count() const { return bytes.size() / width; }
    const std::uint8_t* at(std::size_t i) const { return bytes.data() + i * width; }
};

// False when the list is not a whole number of records or cannot be read.
bool read_list(InputBytes& in, const ChunkSpan& span, std::size_t width, RecordList& out) {
    out.width = width;
    if (span.size % width != 0) return false;
    out.bytes.resize(span.size);
    return in.read_at(span.offset, out.bytes.data(), span.size);
}

struct Lists {
    RecordList inst, ibag, igen, shdr;
};

// A zone that plays a sample, with what it takes from its generators.
struct Zone {
    std::uint32_t sample = 0;
    int root = -1;  // overridingRootKey, -1 when absent
    int key_lo = -1;
    int key_hi = -1;
};

struct BankInstrument {
    char name[kSfNameChars + 1] = {};
    std::vector<Zone> zones;
    std::vector<p_s*> sounds;  // built from the zones, not yet published
};

// The zones of instrument `i` that can be played: indices out of range or
// going backwards, zones without a sample and samples outside the sample
// chunk are left out; a first zone whose generators do not end with a sample
// is the global zone and is left out too.
std::vector<Zone> playable_zones(const Lists& l, std::size_t i, std::uint64_t sample_bytes) {
    std::vector<Zone> zones;
    const std::size_t bags = l.ibag.count();
    const std::size_t gens = l.igen.count();
    const std::size_t b0 = le16(l.inst.at(i) + 20);
    const std::size_t b1 = le16(l.inst.at(i + 1) + 20);
    for (std::size_t b = b0; b < b1 && b + 1 < bags; ++b) {
        const std::size_t g0 = le16(l.ibag.at(b));
        const std::size_t g1 = le16(l.ibag.at(b + 1));
        if (g1 < g0 || g1 > gens) continue;
        const std::uint8_t* gen = l.igen.bytes.data();
        if (b == b0 && (g1 == g0 || gen[(g1 - 1) * kSfGenBytes] != kGenSampleId)) continue;
        const std::uint8_t* id = find_igen(gen, gens, g0, g1, kGenSampleId);
        if (!id) continue;
        Zone z;
        z.sample = le16(id + 2);
        if (z.sample >= l.shdr.count()) continue;
        const std::uint8_t* h = l.shdr.at(z.sample);
        const std::uint64_t start = le32(h + 20);
        const std::uint64_t end = le32(h + 24);
        if (start >= end || end * 2 > sample_bytes) continue;
        if (const std::uint8_t* g = find_igen(gen, gens, g0, g1, kGenRootKey)) z.root = g[2];
        if (const std::uint8_t* g = find_igen(gen, gens, g0, g1, kGenKeyRange)) {
            z.key_lo = g[2];
            z.key_hi = g[3];
        }
        zones.push_back(z);
    }
    return zones;
}

// A new record for `z`, sharing the bank's sample block.
p_s* zone_sound(const Lists& l, const Zone& z, const std::shared_ptr<std::int8_t[]>& block,
                std::uint64_t block_bytes) {
    const std::uint8_t* h = l.shdr.at(z.sample);
    const std::uint32_t start = le32(h + 20);
    const std::uint32_t end = le32(h + 24);
    const std::uint32_t ls = std::clamp(le32(h + 28), start, end);
    const std::uint32_t le = std::clamp(le32(h + 32), start, end);
    p_s* r = new_sound();
    r->block = block;
    r->data = block.get() + std::uint64_t{start} * 2;
    r->capacity = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(block_bytes - std::uint64_t{start} * 2, UINT32_MAX));
    for (int i = 0; i < kSfNameChars && h[i]; ++i) r->name[i] = static_cast<char>(h[i]);
    const std::uint32_t size = (end - start) * 2;
    r->size = size;
    const std::uint32_t loop_start = (ls - start) * 2;
    const std::uint32_t loop_end = (le - start) * 2;
    r->loop_start = loop_start;
    r->loop_end = loop_end;
    // A loop that ends within two points of the sample's end, or that holds no
    // point at all, is not played as a loop.
    const bool loops = size >= 4 && size - 4 > loop_start && loop_end > loop_start;
    r->loop = loops ? 1 : 0;
    if (!loops) r->loop_end = size - loop_start;
    r->rate = le32(h + 36);
    r->base = static_cast<std::int16_t>(z.root >= 0 ? z.root : h[40]);
    if (z.key_lo >= 0) {
        r->key_lo = static_cast<std::int16_t>(z.key_lo);
        r->key_hi = static_cast<std::int16_t>(z.key_hi);
    }
    r->bits = 16;
    r->stereo = 0;
    r->nb_next = 0;
    finish_loaded_sound(r);
    return r;
}

p_s* empty_sound() {
    p_s* r = new_sound();
    std::strcpy(r->name, "None sample");
    r->nb_next = 0;
    return r;
}

void refuse(const char* text) {
    alert(text, "...");
}

void discard(std::vector<BankInstrument>& bank) {
    for (BankInstrument& b : bank) {
        for (p_s* r : b.sounds) delete r;
        b.sounds.clear();
    }
}

// Puts the bank's instruments in place from instrument `k0` on. The capacity
// has been checked; shrinking instruments go first so that the table never
// overflows on the way.
void place(std::vector<BankInstrument>& bank, int k0) {
    const int existing = nb_inst;
    const int n = static_cast<int>(bank.size());
    for (int j = 0; j < n && k0 + j < existing; ++j) {
        const int k = k0 + j;
        const int want = static_cast<int>(bank[j].sounds.size());
        const int have = inst_count(k);
        if (have > want) del_sounds(k, inst_first(k) + want, have - want);
    }
    for (int j = 0; j < n; ++j) {
        BankInstrument& b = bank[j];
        const int want = static_cast<int>(b.sounds.size());
        int k = k0 + j;
        bool ok = true;
        if (k < existing) {
            const int have = inst_count(k);
            if (have < want) ok = add_sounds(k, want - have);
            set_inst_name(k, b.name);
        } else {
            k = add_inst(b.name);
            ok = k >= 0 && add_sounds(k, want - 1);
        }
        if (!ok) break;
        const int first = inst_first(k);
        for (int i = 0; i < want; ++i) replace_sound(first + i, b.sounds[i]);
        b.sounds.clear();
    }
    discard(bank);  // only when the table unexpectedly filled up
}

}  // namespace

const std::uint8_t* find_igen(const std::uint8_t* gens, std::size_t count, std::size_t first,
                              std::size_t last, int oper) {
    if (!gens) return nullptr;
    last = std::min(last, count);
    for (std::size_t g = first; g < last; ++g) {
        const std::uint8_t* rec = gens + g * kSfGenBytes;
        if (rec[0] == static_cast<std::uint8_t>(oper)) return rec;
    }
    return nullptr;
}

int import_bank(InputBytes& in) {
    const BankChunks chunks = find_bank_chunks(in);
    if (!chunks.riff) return 0;
    if (!chunks.problem.empty()) {
        refuse(chunks.problem.c_str());
        return 0;
    }
    if (chunks.version_major >= 3) {
        refuse("This is a SoundFont 3 bank: its samples are compressed and cannot be read.");
        return 0;
    }
    Lists l;
    if (!read_list(in, chunks.inst, kSfInstBytes, l.inst) ||
        !read_list(in, chunks.ibag, kSfBagBytes, l.ibag) ||
        !read_list(in, chunks.igen, kSfGenBytes, l.igen) ||
        !read_list(in, chunks.shdr, kSfSampleBytes, l.shdr)) {
        refuse("This bank is damaged: one of its record lists is not a whole number of records.");
        return 0;
    }
    if (l.inst.count() < 2) {
        refuse("This bank holds no instrument.");
        return 0;
    }

    // The plan: every bank instrument with its playable zones.
    const std::uint64_t sample_bytes = chunks.smpl.found ? chunks.smpl.size : 0;
    std::vector<BankInstrument> bank(l.inst.count() - 1);
    std::size_t zones = 0;
    std::size_t sounds = 0;
    for (std::size_t i = 0; i < bank.size(); ++i) {
        for (int c = 0; c < kSfNameChars && l.inst.at(i)[c]; ++c)
            bank[i].name[c] = static_cast<char>(l.inst.at(i)[c]);
        bank[i].zones = playable_zones(l, i, sample_bytes);
        for (const Zone& z : bank[i].zones) {
            if (le16(l.shdr.at(z.sample) + 44) & kCompressedSample) {
                refuse(
                    "This is a SoundFont 3 bank: its samples are compressed and cannot be read.");
                return 0;
            }
        }
        zones += bank[i].zones.size();
        sounds += std::max<std::size_t>(1, bank[i].zones.size());
    }
    if (zones == 0) {
        refuse("This bank holds no sound that can be played.");
        return 0;
    }

    // Room in the tables once the replaced instruments have given up their sounds.
    const int k0 = std::max<int>(0, quel_baseson(no_s));
    const int existing = nb_inst;
    std::size_t final_sounds = static_cast<std::size_t>(nb_sound) + sounds;
    for (int k = k0; k < existing && k - k0 < static_cast<int>(bank.size()); ++k) {
        final_sounds -= static_cast<std::size_t>(inst_count(k));
    }
    const std::size_t final_insts = std::max<std::size_t>(existing, k0 + bank.size());
    if (final_sounds > kMaxSounds || final_insts > kMaxInsts) {
        const std::string text = "This bank has more sounds than the program can hold (" +
                                 std::to_string(final_sounds) + " of " +
                                 std::to_string(kMaxSounds) + ").";
        refuse(text.c_str());
        return 0;
    }

    // The sample chunk, read once; every sound points into it.
    const std::uint64_t block_bytes = sample_bytes + kSpareBytes;
    std::int8_t* raw = new (std::nothrow) std::int8_t[block_bytes];
    if (!raw) {
        std::printf("erreur malloc\n");
        refuse("There is not enough memory to import this bank.");
        return 0;
    }
    std::shared_ptr<std::int8_t[]> block(raw);
    if (!in.read_at(chunks.smpl.offset, raw, sample_bytes)) {
        refuse("This bank could not be read.");
        return 0;
    }
    std::memset(raw + sample_bytes, 0, kSpareBytes);
    if constexpr (std::endian::native == std::endian::big) {
        for (std::uint64_t i = 0; i + 1 < sample_bytes; i += 2) std::swap(raw[i], raw[i + 1]);
    }

    for (BankInstrument& b : bank) {
        b.sounds.reserve(std::max<std::size_t>(1, b.zones.size()));
        for (const Zone& z : b.zones) b.sounds.push_back(zone_sound(l, z, block, block_bytes));
        if (b.sounds.empty()) b.sounds.push_back(empty_sound());
    }

    loadin = true;
    place(bank, k0);
    no_s = static_cast<std::int16_t>(inst_first(k0));
    loadin = false;
    notify_instruments_changed();
    post_to_main(fourcc("RauQ"));
    return static_cast<int>(zones);
}
