#include "io/bank_import.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstddef>
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
#include "engine/channels.h"
#include "io/bank_chunks.h"
#include "io/bank_import_lists.h"
#include "io/bank_import_place.h"
#include "io/bank_import_plan.h"
#include "io/input_bytes.h"

namespace {

constexpr std::uint16_t kCompressedSample = 0x10;
constexpr int kDrumChannel = 9;
const char* const kCompressedText =
    "This is a SoundFont 3 bank: its samples are compressed and cannot be read.";

// A new record for `z`, sharing the bank's sample block.
std::unique_ptr<p_s> zone_sound(const BankLists& l, const BankZone& z,
                                const std::shared_ptr<std::int8_t[]>& block,
                                std::uint64_t block_bytes) {
    const std::uint8_t* h = l.shdr.at(z.sample);
    const std::uint32_t start = bytes::le32(h + 20);
    const std::uint32_t end = bytes::le32(h + 24);
    const std::uint32_t ls = std::clamp(bytes::le32(h + 28), start, end);
    const std::uint32_t le = std::clamp(bytes::le32(h + 32), start, end);
    std::unique_ptr<p_s> r(new_sound());
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
    r->rate = bytes::le32(h + 36);
    r->base = static_cast<std::int16_t>(z.root >= 0 ? z.root : h[40]);
    if (z.key_lo >= 0) {
        r->key_lo = static_cast<std::int16_t>(z.key_lo);
        r->key_hi = static_cast<std::int16_t>(z.key_hi);
    }
    r->bits = 16;
    r->stereo = 0;
    r->nb_next = 0;
    finish_loaded_sound(r.get());
    return r;
}

std::unique_ptr<p_s> empty_sound() {
    std::unique_ptr<p_s> r(new_sound());
    std::strcpy(r->name, "None sample");
    r->nb_next = 0;
    return r;
}

void refuse(const char* text) {
    alert(text, "...");
}

// Why a bank that needs more of the tables than they hold is refused; written
// without allocating.
void too_big_text(char* out, std::size_t size, const char* what, std::size_t needed,
                  std::size_t room) {
    std::snprintf(out, size, "This bank has more %s than the program can hold (%zu of %zu).", what,
                  needed, room);
}

bool refuse_if_too_big(const char* what, std::size_t needed, std::size_t room) {
    if (needed <= room) return false;
    char text[160];
    too_big_text(text, sizeof text, what, needed, room);
    refuse(text);
    return true;
}

// The bank's sample chunk, read once with the spare tail every sound needs;
// null when it cannot be read. A large block is aligned for the kernel's huge
// pages, which makes reading a large bank about three times faster (most of
// the time otherwise goes to faulting in 4 KB pages). May throw
// std::bad_alloc.
std::shared_ptr<std::int8_t[]> read_samples(InputBytes& in, const ChunkSpan& smpl,
                                            std::uint64_t bytes) {
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const std::size_t total = bytes + kSpareBytes;
    const std::align_val_t align{total >= 4 * kHugePage ? kHugePage : alignof(std::max_align_t)};
    auto* raw = static_cast<std::int8_t*>(::operator new[](total, align));
    std::shared_ptr<std::int8_t[]> block(
        raw, [align](std::int8_t* p) { ::operator delete[](p, align); });
#ifdef MADV_HUGEPAGE
    if (static_cast<std::size_t>(align) == kHugePage) ::madvise(raw, total, MADV_HUGEPAGE);
#endif
    if (!in.read_at(smpl.offset, raw, bytes)) return nullptr;
    std::memset(raw + bytes, 0, kSpareBytes);
    if constexpr (std::endian::native == std::endian::big) {
        for (std::uint64_t i = 0; i + 1 < bytes; i += 2) std::swap(raw[i], raw[i + 1]);
    }
    return block;
}

}  // namespace

// The records of a prepared bank, owned until they go into the tables.
struct PreparedBank::Built {
    BankPlan plan;  // the instruments' names point into it
    std::vector<BuiltInstrument> insts;
    std::size_t zones = 0;
    std::size_t sounds = 0;
};

PreparedBank::PreparedBank() = default;
PreparedBank::~PreparedBank() = default;

void PreparedBank::set_refusal(const char* text) {
    std::snprintf(refusal_, sizeof refusal_, "%s", text);
}

bool PreparedBank::prepare(InputBytes& in, const char* name) {
    built_.reset();
    // Nothing here allocates, so that running out of memory can be told.
    std::snprintf(name_, sizeof name_, "%s", name && *name ? name : "this bank");
    refusal_[0] = 0;
    try {
        const BankChunks chunks = find_bank_chunks(in);
        if (!chunks.riff) return false;
        if (!chunks.problem.empty()) {
            set_refusal(chunks.problem.c_str());
            return false;
        }
        if (chunks.version_major >= 3) {
            set_refusal(kCompressedText);
            return false;
        }
        BankLists l;
        if (!read_bank_lists(in, chunks, l)) {
            set_refusal(
                "This bank is damaged: one of its record lists is not a whole number of records.");
            return false;
        }
        if (l.inst.count() < 2) {
            set_refusal("This bank holds no instrument.");
            return false;
        }
        // A plan of more instruments than the tables hold is not even made.
        if (const std::size_t n = planned_instrument_count(l); n > kMaxInsts) {
            too_big_text(refusal_, sizeof refusal_, "instruments", n, kMaxInsts);
            return false;
        }
        const std::uint64_t sample_bytes = chunks.smpl.found ? chunks.smpl.size : 0;
        auto built = std::make_unique<Built>();
        BankPlan& plan = built->plan;
        if (!plan_bank(l, sample_bytes, plan)) {
            set_refusal(
                "This bank has more sounds than the program can hold: its presets name millions "
                "of zones.");
            return false;
        }
        for (const PlannedInstrument& p : plan.insts) {
            for (const BankZone& z : p.zones) {
                if (bytes::le16(l.shdr.at(z.sample) + 44) & kCompressedSample) {
                    set_refusal(kCompressedText);
                    return false;
                }
            }
            built->zones += p.zones.size();
            built->sounds += std::max<std::size_t>(1, p.zones.size());
        }
        if (built->zones == 0) {
            set_refusal("This bank holds no sound that can be played.");
            return false;
        }
        // No bank that fits the tables holds more sounds than this; the
        // exact check against what the tables hold comes when publishing.
        if (built->sounds > kMaxSounds) {
            too_big_text(refusal_, sizeof refusal_, "sounds", built->sounds, kMaxSounds);
            return false;
        }

        const std::shared_ptr<std::int8_t[]> block = read_samples(in, chunks.smpl, sample_bytes);
        if (!block) {
            set_refusal("This bank could not be read.");
            return false;
        }
        const std::uint64_t block_bytes = sample_bytes + kSpareBytes;
        built->insts.resize(plan.insts.size());
        for (std::size_t j = 0; j < plan.insts.size(); ++j) {
            const PlannedInstrument& p = plan.insts[j];
            BuiltInstrument& b = built->insts[j];
            b.name = p.name;
            b.sounds.reserve(std::max<std::size_t>(1, p.zones.size()));
            for (const BankZone& z : p.zones)
                b.sounds.push_back(zone_sound(l, z, block, block_bytes));
            if (b.sounds.empty()) b.sounds.push_back(empty_sound());
        }
        built_ = std::move(built);
        return true;
    } catch (const std::bad_alloc&) {
        std::snprintf(refusal_, sizeof refusal_, "not enough memory to load %s", name_);
        return false;
    }
}

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

int PreparedBank::publish() {
    if (!built_) {
        if (refusal_[0]) refuse(refusal_);
        return 0;
    }
    const std::unique_ptr<Built> built = std::move(built_);
    // The instruments and sounds the tables will hold, checked against them
    // as they are now.
    const int k0 = std::max<int>(0, quel_baseson(no_s));
    const std::size_t count = built->insts.size();
    const std::size_t insts_after =
        std::max<std::size_t>(std::min<int>(nb_inst, kMaxInsts), k0 + count);
    if (refuse_if_too_big("instruments", insts_after, kMaxInsts)) return 0;
    if (refuse_if_too_big("sounds", sounds_after_placement(k0, count, built->sounds), kMaxSounds))
        return 0;
    try {
        BankPlacement placement(k0, count);
        // Nothing below allocates: the bank goes in whole.
        loadin = true;
        placement.publish(built->insts);
    } catch (const std::bad_alloc&) {
        char text[sizeof name_ + 40];
        std::snprintf(text, sizeof text, "not enough memory to load %s", name_);
        refuse(text);
        return 0;
    }
    no_s = static_cast<std::int16_t>(inst_first(k0));
    if (built->plan.drum_kit >= 0) {
        ch_inst[kDrumChannel] = k0 + built->plan.drum_kit;
        ch_instf[kDrumChannel] = true;
    }
    loadin = false;
    notify_instruments_changed();
    post_to_main(fourcc("RauQ"));
    return static_cast<int>(built->zones);
}

int import_bank(InputBytes& in, const char* name) {
    PreparedBank bank;
    bank.prepare(in, name);
    return bank.publish();
}
