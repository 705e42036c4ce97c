#include "io/bank_import_plan.h"

#include <algorithm>
#include <bitset>

#include "core/bytes.h"
#include "io/bank_import.h"

namespace {

constexpr int kGenInstrument = 41;
constexpr int kMelodicBank = 0;
constexpr int kDrumBank = 128;
constexpr int kPrograms = 128;

std::size_t preset_count(const BankLists& l) {
    return l.phdr.count() > 0 ? l.phdr.count() - 1 : 0;  // the last record ends the list
}
int preset_number(const BankLists& l, std::size_t p) {
    return bytes::le16(l.phdr.at(p) + 20);
}
int preset_bank(const BankLists& l, std::size_t p) {
    return bytes::le16(l.phdr.at(p) + 22);
}

// Calls `visit(instrument, key range generator or null, generators)` for
// every zone of preset `p` that names an instrument of the bank; a first zone
// whose generators do not end with an instrument is the global zone: it is
// skipped, and each other zone takes from it what it does not set itself.
// The generators are read only when `with_gens` is set.
template <typename Visit>
void for_each_preset_zone(const BankLists& l, std::size_t p, Visit visit, bool with_gens = false) {
    const std::size_t gens = l.pgen.count();
    const std::size_t insts = l.inst.count() > 0 ? l.inst.count() - 1 : 0;
    const std::uint8_t* gen = l.pgen.bytes.data();
    const std::size_t b0 = bytes::le16(l.phdr.at(p) + 24);
    const std::size_t b1 = bytes::le16(l.phdr.at(p + 1) + 24);
    ZoneGens global;
    if (with_gens) global = global_zone(l.pbag, l.pgen, l.pmod, b0, b1, kGenInstrument);
    for_each_zone(l.pbag, l.pgen, b0, b1, kGenInstrument,
                  [&](std::size_t g0, std::size_t g1, std::size_t b) {
                      const std::uint8_t* id = find_igen(gen, gens, g0, g1, kGenInstrument);
                      if (!id || bytes::le16(id + 2) >= insts) return;
                      ZoneGens zone;
                      if (with_gens) {
                          zone.read(l.pgen, g0, g1);
                          zone.read_mods(l.pbag, l.pmod, b);
                          zone.inherit(global);
                      }
                      visit(std::size_t{bytes::le16(id + 2)},
                            find_igen(gen, gens, g0, g1, kGenKeyRange), zone);
                  });
}

bool names_instrument(const BankLists& l, std::size_t p) {
    bool any = false;
    for_each_preset_zone(l, p,
                         [&](std::size_t, const std::uint8_t*, const ZoneGens&) { any = true; });
    return any;
}

// The drum presets in preset-number order; of two with one number, the first in the file.
void drum_presets(const BankLists& l, std::vector<std::size_t>& out) {
    for (std::size_t p = 0; p < preset_count(l); ++p) {
        if (preset_bank(l, p) == kDrumBank) out.push_back(p);
    }
    std::sort(out.begin(), out.end(), [&](std::size_t a, std::size_t b) {
        const int na = preset_number(l, a);
        const int nb = preset_number(l, b);
        return na < nb || (na == nb && a < b);
    });
    out.erase(std::unique(out.begin(), out.end(),
                          [&](std::size_t a, std::size_t b) {
                              return preset_number(l, a) == preset_number(l, b);
                          }),
              out.end());
}

std::size_t drum_preset_count(const BankLists& l) {
    std::bitset<65536> seen;  // counted without allocating
    std::size_t n = 0;
    for (std::size_t p = 0; p < preset_count(l); ++p) {
        if (preset_bank(l, p) != kDrumBank || seen[preset_number(l, p)]) continue;
        seen[preset_number(l, p)] = true;
        ++n;
    }
    return n;
}

// The keys from `lo` to `hi` (within 0 to 127) as a 128-bit set.
struct KeySet {
    std::uint64_t low = 0, high = 0;
    static KeySet range(int lo, int hi) {
        const auto part = [](int from, int to) {  // bits [from, to] of one half
            if (from > to) return std::uint64_t{0};
            const std::uint64_t upto = to >= 63 ? ~std::uint64_t{0} : (std::uint64_t{2} << to) - 1;
            return upto & (~std::uint64_t{0} << from);
        };
        return {part(std::max(lo, 0), std::min(hi, 63)),
                part(std::max(lo, 64) - 64, std::min(hi, 127) - 64)};
    }
    bool within(const KeySet& o) const { return (low & ~o.low) == 0 && (high & ~o.high) == 0; }
    void add(const KeySet& o) {
        low |= o.low;
        high |= o.high;
    }
};

class PresetPlanner {
  public:
    PresetPlanner(const BankLists& l, std::uint64_t sample_bytes, bool articulated)
        : l_(l),
          sample_bytes_(sample_bytes),
          articulated_(articulated),
          zones_(l.inst.count() - 1),
          read_(zones_.size()) {}

    // The sounds of preset `p`. A zone every key of which an earlier zone of
    // the preset already answers never plays (the first sound whose range
    // holds the key plays) and is left out, except the last one, which also
    // answers keys outside every range. False when the presets name more
    // zones than any bank that fits the tables could.
    bool plan(std::size_t p, PlannedInstrument& out) {
        copy_sf_name(l_.phdr.at(p), out.name);
        if (articulated_) return plan_every_zone(p, out);
        KeySet answered;
        bool last_left_out = false;
        BankZone last;
        for_each_preset_zone(
            l_, p, [&](std::size_t inst, const std::uint8_t* range, const ZoneGens&) {
                for (BankZone z : zones_of(inst)) {
                    ++visits_;
                    if (range) {
                        z.key_lo = std::max(z.key_lo < 0 ? 0 : z.key_lo, int{range[2]});
                        z.key_hi = std::min(z.key_hi < 0 ? 127 : z.key_hi, int{range[3]});
                    }
                    const KeySet keys =
                        z.key_lo < 0 ? KeySet::range(0, 127) : KeySet::range(z.key_lo, z.key_hi);
                    if (keys.within(KeySet{})) continue;  // no key left
                    last_left_out = keys.within(answered);
                    if (last_left_out) {
                        last = z;
                        continue;
                    }
                    answered.add(keys);
                    out.zones.push_back(z);
                }
            });
        if (last_left_out) out.zones.push_back(last);
        return visits_ <= kMaxZoneVisits;
    }

  private:
    static constexpr std::size_t kMaxZoneVisits = std::size_t{1} << 22;

    // Played as the bank's maker set it, a note sounds every zone whose key
    // and velocity ranges hold it (velocity layers, stereo pairs), so every
    // zone with a key and a velocity left is kept.
    bool plan_every_zone(std::size_t p, PlannedInstrument& out) {
        for_each_preset_zone(
            l_, p,
            [&](std::size_t inst, const std::uint8_t*, const ZoneGens& preset) {
                for (BankZone z : zones_of(inst)) {
                    ++visits_;
                    if (visits_ > kMaxZoneVisits) return;
                    if (z.gens.has(kGenKeyRange)) {  // the global zone's range counts too
                        z.key_lo = z.gens.lo(kGenKeyRange);
                        z.key_hi = z.gens.hi(kGenKeyRange);
                    }
                    z.key_lo = std::max(z.key_lo < 0 ? 0 : z.key_lo,
                                        preset.has(kGenKeyRange) ? preset.lo(kGenKeyRange) : 0);
                    z.key_hi = std::min(z.key_hi < 0 ? 127 : z.key_hi,
                                        preset.has(kGenKeyRange) ? preset.hi(kGenKeyRange) : 127);
                    if (preset.has(kGenVelRange)) {
                        z.vel_lo = std::max(z.vel_lo, preset.lo(kGenVelRange));
                        z.vel_hi = std::min(z.vel_hi, preset.hi(kGenVelRange));
                    }
                    if (z.key_lo > z.key_hi || z.vel_lo > z.vel_hi) continue;
                    z.preset = preset;
                    out.zones.push_back(z);
                }
            },
            true);
        return visits_ <= kMaxZoneVisits;
    }

    const std::vector<BankZone>& zones_of(std::size_t inst) {
        if (!read_[inst]) {
            zones_[inst] = playable_zones(l_, inst, sample_bytes_);
            read_[inst] = true;
        }
        return zones_[inst];
    }

    const BankLists& l_;
    std::uint64_t sample_bytes_;
    bool articulated_;
    std::vector<std::vector<BankZone>> zones_;  // each bank instrument's, read once
    std::vector<bool> read_;
    std::size_t visits_ = 0;
};

}  // namespace

bool has_melodic_presets(const BankLists& l) {
    for (std::size_t p = 0; p < preset_count(l); ++p) {
        if (preset_bank(l, p) == kMelodicBank && preset_number(l, p) < kPrograms &&
            names_instrument(l, p))
            return true;
    }
    return false;
}

std::size_t planned_instrument_count(const BankLists& l) {
    if (has_melodic_presets(l)) return kPrograms + drum_preset_count(l);
    return l.inst.count() > 0 ? l.inst.count() - 1 : 0;
}

bool plan_bank(const BankLists& l, std::uint64_t sample_bytes, BankPlan& plan, bool articulated) {
    plan = BankPlan{};
    if (!has_melodic_presets(l)) {
        plan.insts.resize(planned_instrument_count(l));
        for (std::size_t i = 0; i < plan.insts.size(); ++i) {
            copy_sf_name(l.inst.at(i), plan.insts[i].name);
            plan.insts[i].zones = playable_zones(l, i, sample_bytes);
        }
        return true;
    }
    std::vector<std::size_t> drums;
    drum_presets(l, drums);
    plan.insts.resize(kPrograms + drums.size());
    PresetPlanner planner(l, sample_bytes, articulated);
    std::bitset<kPrograms> placed;
    for (std::size_t p = 0; p < preset_count(l); ++p) {
        const int n = preset_number(l, p);
        if (preset_bank(l, p) != kMelodicBank || n >= kPrograms || placed[n]) continue;
        placed[n] = true;
        if (!planner.plan(p, plan.insts[n])) return false;
    }
    for (std::size_t d = 0; d < drums.size(); ++d) {
        if (!planner.plan(drums[d], plan.insts[kPrograms + d])) return false;
        plan.kit_numbers.push_back(preset_number(l, drums[d]));
    }
    if (!drums.empty()) plan.drum_kit = kPrograms;
    return true;
}
