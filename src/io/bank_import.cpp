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

#include "core/articulation.h"
#include "core/bytes.h"
#include "core/hooks.h"
#include "core/instruments.h"
#include "core/notify.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "io/bank_chunks.h"
#include "io/bank_decode.h"
#include "io/bank_import_lists.h"
#include "io/bank_import_place.h"
#include "io/bank_import_plan.h"
#include "io/input_bytes.h"

namespace {

constexpr int kDrumChannel = 9;

// Generators the import reads besides ranges, sample and root key.
enum Gen : int {
    kGenStartOffset = 0,
    kGenEndOffset = 1,
    kGenLoopStartOffset = 2,
    kGenLoopEndOffset = 3,
    kGenStartCoarseOffset = 4,
    kGenEndCoarseOffset = 12,
    kGenFilterCutoff = 8,
    kGenFilterQ = 9,
    kGenModEnvToFilter = 11,
    kGenPan = 17,
    kGenDelay = 33,
    kGenAttack = 34,
    kGenHold = 35,
    kGenDecay = 36,
    kGenSustain = 37,
    kGenRelease = 38,
    kGenKeyToHold = 39,
    kGenKeyToDecay = 40,
    kGenModDelay = 25,
    kGenLoopStartCoarseOffset = 45,
    kGenAttenuation = 48,
    kGenLoopEndCoarseOffset = 50,
    kGenCoarseTune = 51,
    kGenFineTune = 52,
    kGenSampleModes = 54,
    kGenScaleTuning = 56,
    kGenExclusiveClass = 57,
};
constexpr std::uint16_t kRightSample = 2;
constexpr std::uint16_t kLeftSample = 4;

// The sample's frames a zone plays and loops over: the header's, moved by the
// zone's address offsets (bank articulation only) and kept inside the sample.
struct ZoneFrames {
    std::uint32_t start, end, loop_start, loop_end;
};

ZoneFrames zone_frames(const std::uint8_t* h, const BankZone& z, bool articulated) {
    const std::uint32_t start = bytes::le32(h + 20);
    const std::uint32_t end = bytes::le32(h + 24);
    std::int64_t ls = bytes::le32(h + 28);
    std::int64_t le = bytes::le32(h + 32);
    ZoneFrames f{start, end, 0, 0};
    if (articulated) {
        const auto offset = [&](int fine, int coarse) {
            return std::int64_t{z.gens.get(fine, 0)} + 32768 * std::int64_t{z.gens.get(coarse, 0)};
        };
        const std::int64_t s = std::clamp<std::int64_t>(
            start + offset(kGenStartOffset, kGenStartCoarseOffset), start, end - 1);
        const std::int64_t e =
            std::clamp<std::int64_t>(end + offset(kGenEndOffset, kGenEndCoarseOffset), s + 1, end);
        f.start = static_cast<std::uint32_t>(s);
        f.end = static_cast<std::uint32_t>(e);
        ls += offset(kGenLoopStartOffset, kGenLoopStartCoarseOffset);
        le += offset(kGenLoopEndOffset, kGenLoopEndCoarseOffset);
    }
    f.loop_start = static_cast<std::uint32_t>(std::clamp<std::int64_t>(ls, f.start, f.end));
    f.loop_end = static_cast<std::uint32_t>(std::clamp<std::int64_t>(le, f.start, f.end));
    return f;
}

// The modulators a zone's notes play: the bank's own on the velocity and the
// key, those of the instrument level replacing an identical one (the
// format's default velocity curve included), those of the preset level
// adding to it.
void zone_modulators(const BankZone& z, Articulation& a) {
    constexpr std::uint16_t kDefaultVelocitySource = 0x0502;  // concave, falling
    // The format's default: loud notes (from velocity 64 up) close the
    // low-pass a little less the louder they are.
    a.modulators[0] = {0x0102, 0x0C02, kModFilterCutoff, -2400};
    a.modulator_count = 1;
    const auto take = [&](const ZoneMod& m, bool add) {
        if (m.transform != 0) return;
        if (m.source == kDefaultVelocitySource && m.dest == kModAttenuation &&
            m.amount_source == 0) {
            a.velocity_attenuation = static_cast<std::int16_t>(
                std::clamp(add ? a.velocity_attenuation + m.amount : int{m.amount}, -1440, 1440));
            return;
        }
        if (!note_modulator_playable(m.source, m.amount_source, m.dest)) return;
        const NoteModulator n{m.source, m.amount_source, static_cast<std::uint8_t>(m.dest),
                              m.amount};
        for (int i = 0; i < a.modulator_count; ++i) {
            NoteModulator& o = a.modulators[i];
            if (o.source == n.source && o.amount_source == n.amount_source && o.dest == n.dest) {
                o.amount = static_cast<std::int16_t>(add ? o.amount + n.amount : n.amount);
                return;
            }
        }
        if (a.modulator_count < kNoteModulators) a.modulators[a.modulator_count++] = n;
    };
    for (int i = 0; i < z.gens.mod_count; ++i) take(z.gens.mods[i], false);
    for (int i = 0; i < z.preset.mod_count; ++i) take(z.preset.mods[i], true);
}

// A generator's value at the instrument level with the preset's added, kept
// within [lo, hi].
int summed(const BankZone& z, int oper, int absent, int lo, int hi) {
    return std::clamp(z.gens.get(oper, absent) + z.preset.get(oper, 0), lo, hi);
}

// What the bank's maker set for `z` with sample header `h`.
Articulation zone_articulation(const BankZone& z, const std::uint8_t* h) {
    Articulation a;
    a.on = true;
    const int mode = z.gens.get(kGenSampleModes, 0) & 3;
    a.sample_mode = static_cast<std::uint8_t>(mode == 2 ? 0 : mode);
    a.exclusive_class =
        static_cast<std::uint8_t>(std::clamp(z.gens.get(kGenExclusiveClass, 0), 0, 127));
    const int correction = static_cast<std::int8_t>(h[41]);
    a.tune = static_cast<std::int16_t>(summed(z, kGenCoarseTune, 0, -120, 120) * 100 +
                                       summed(z, kGenFineTune, 0, -99, 99) + correction);
    a.scale_tuning = static_cast<std::int16_t>(summed(z, kGenScaleTuning, 100, 0, 1200));
    a.attenuation = static_cast<std::int16_t>(summed(z, kGenAttenuation, 0, 0, 1440));
    const std::uint16_t type = bytes::le16(h + 44) & 0x7FFF;
    int pan_default = 0;  // a stereo pair without a pan of its own plays as one
    if (type == kLeftSample) pan_default = -500;
    if (type == kRightSample) pan_default = 500;
    const bool has_pan = z.gens.has(kGenPan) || z.preset.has(kGenPan);
    a.pan = static_cast<std::int16_t>(has_pan ? summed(z, kGenPan, 0, -500, 500) : pan_default);
    const auto time = [&](int oper) {
        return static_cast<std::int16_t>(summed(z, oper, -12000, -12000, 8000));
    };
    a.delay = time(kGenDelay);
    a.attack = time(kGenAttack);
    a.hold = time(kGenHold);
    a.decay = time(kGenDecay);
    a.release = time(kGenRelease);
    a.sustain = static_cast<std::int16_t>(summed(z, kGenSustain, 0, 0, 1440));
    a.key_to_hold = static_cast<std::int16_t>(summed(z, kGenKeyToHold, 0, -1200, 1200));
    a.key_to_decay = static_cast<std::int16_t>(summed(z, kGenKeyToDecay, 0, -1200, 1200));
    a.filter_cutoff = static_cast<std::int16_t>(summed(z, kGenFilterCutoff, 13500, 1500, 13500));
    a.filter_q = static_cast<std::int16_t>(summed(z, kGenFilterQ, 0, 0, 960));
    std::int16_t* const mod_env[] = {&a.mod_delay,       &a.mod_attack,      &a.mod_hold,
                                     &a.mod_decay,       &a.mod_sustain,     &a.mod_release,
                                     &a.key_to_mod_hold, &a.key_to_mod_decay};
    for (int i = 0; i < 8; ++i) {  // generators 25 to 32, in this order
        const int oper = kGenModDelay + i;
        *mod_env[i] = static_cast<std::int16_t>(i == 4   ? summed(z, oper, 0, 0, 1000)
                                                : i >= 6 ? summed(z, oper, 0, -1200, 1200)
                                                         : summed(z, oper, -12000, -12000, 8000));
    }
    a.mod_env_to_filter =
        static_cast<std::int16_t>(summed(z, kGenModEnvToFilter, 0, -12000, 12000));
    zone_modulators(z, a);
    return a;
}

// A new record for `z`, sharing the bank's sample block; with the bank's
// articulation when `articulated`.
std::unique_ptr<p_s> zone_sound(const BankLists& l, const BankZone& z,
                                const std::shared_ptr<std::int8_t[]>& block,
                                std::uint64_t block_bytes, bool articulated) {
    const std::uint8_t* h = l.shdr.at(z.sample);
    const ZoneFrames f = zone_frames(h, z, articulated);
    const std::uint32_t start = f.start;
    std::unique_ptr<p_s> r(new_sound());
    r->block = block;
    r->data = block.get() + std::uint64_t{start} * 2;
    r->capacity = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(block_bytes - std::uint64_t{start} * 2, UINT32_MAX));
    for (int i = 0; i < kSfNameChars && h[i]; ++i) r->name[i] = static_cast<char>(h[i]);
    const std::uint32_t size = (f.end - start) * 2;
    r->size = size;
    const std::uint32_t loop_start = (f.loop_start - start) * 2;
    const std::uint32_t loop_end = (f.loop_end - start) * 2;
    r->loop_start = loop_start;
    r->loop_end = loop_end;
    // A loop that ends within two points of the sample's end, or that holds no
    // point at all, is not played as a loop.
    bool loops = size >= 4 && size - 4 > loop_start && loop_end > loop_start;
    if (articulated) {
        r->art = zone_articulation(z, h);
        // Played as set, a loop may end at the sample's end, and only the
        // sample modes that loop do.
        loops = loop_end > loop_start + 2 && r->art.sample_mode != kNoLoop;
        if (!loops) r->art.sample_mode = kNoLoop;
        r->vel_lo = static_cast<std::int16_t>(z.vel_lo);
        r->vel_hi = static_cast<std::int16_t>(z.vel_hi);
    }
    r->loop = loops ? 1 : 0;
    if (!loops) r->loop_end = size - loop_start;
    r->rate = bytes::le32(h + 36);
    // Played as set, a root key the instrument's global zone gives counts too.
    const int zone_root = articulated ? z.gens.get(kGenRootKey, -1) : z.root;
    int root = zone_root >= 0 ? zone_root : h[40];
    if (articulated && root > 127) root = 60;  // an unpitched sample plays at its rate on key 60
    r->base = static_cast<std::int16_t>(root);
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
    bool articulated = false;
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
    const bool articulated = play_as_set;
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
        built->articulated = articulated;
        BankPlan& plan = built->plan;
        if (!plan_bank(l, sample_bytes, plan, articulated)) {
            set_refusal(
                "This bank has more sounds than the program can hold: its presets name millions "
                "of zones.");
            return false;
        }
        std::vector<bool> used(l.shdr.count());
        bool compressed = false;
        for (const PlannedInstrument& p : plan.insts) {
            for (const BankZone& z : p.zones) {
                used[z.sample] = true;
                compressed = compressed || sample_compressed(l.shdr.at(z.sample));
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

        std::shared_ptr<std::int8_t[]> block = read_samples(in, chunks.smpl, sample_bytes);
        if (!block) {
            set_refusal("This bank could not be read.");
            return false;
        }
        std::uint64_t block_bytes = sample_bytes + kSpareBytes;
        if (compressed) {
            DecodedSamples d =
                decode_bank_samples(l, used, block.get(), sample_bytes, decode_progress);
            if (!d.problem.empty()) {
                set_refusal(d.problem.c_str());
                return false;
            }
            block = std::move(d.block);
            block_bytes = d.bytes + kSpareBytes;
        }
        built->insts.resize(plan.insts.size());
        for (std::size_t j = 0; j < plan.insts.size(); ++j) {
            const PlannedInstrument& p = plan.insts[j];
            BuiltInstrument& b = built->insts[j];
            b.name = p.name;
            b.sounds.reserve(std::max<std::size_t>(1, p.zones.size()));
            for (const BankZone& z : p.zones) {
                b.sounds.push_back(zone_sound(l, z, block, block_bytes, articulated));
                // Where its bytes lie in the file, while they are the file's own.
                p_s* r = b.sounds.back().get();
                const std::uint64_t at =
                    chunks.smpl.offset + static_cast<std::uint64_t>(r->data - block.get());
                if (!compressed && source.size() < sizeof r->path && at + r->size <= UINT32_MAX) {
                    std::memcpy(r->path, source.c_str(), source.size() + 1);
                    r->file_offset = static_cast<std::uint32_t>(at);
                }
            }
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
    for (auto& kit : drum_kit_inst) kit = -1;
    if (built->plan.drum_kit >= 0) {
        ch_inst[kDrumChannel] = k0 + built->plan.drum_kit;
        // Played as set, the drum channel's program changes choose the kit;
        // otherwise they are locked out, as they would pick melodic sounds.
        ch_instf[kDrumChannel] = !built->articulated;
        const std::vector<int>& numbers = built->plan.kit_numbers;
        for (std::size_t d = 0; d < numbers.size(); ++d) {
            if (numbers[d] < kDrumKits)
                drum_kit_inst[numbers[d]] = k0 + built->plan.drum_kit + int(d);
        }
    }
    loadin = false;
    notify_instruments_changed();
    post_to_main(fourcc("RauQ"));
    return static_cast<int>(built->zones);
}

int import_bank(InputBytes& in, const char* name, const char* path) {
    PreparedBank bank;
    if (path) bank.source = path;
    bank.prepare(in, name);
    return bank.publish();
}
