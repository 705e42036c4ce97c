#include "io/bank_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <set>
#include <tuple>

#include "core/articulation.h"
#include "core/instruments.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/channels.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

enum Gen : std::uint16_t {
    kFilterCutoff = 8,
    kFilterQ = 9,
    kModEnvToFilter = 11,
    kPan = 17,
    kModDelay = 25,
    kDelay = 33,
    kKeyToHold = 39,
    kKeyToDecay = 40,
    kInstrument = 41,
    kKeyRange = 43,
    kVelRange = 44,
    kAttenuation = 48,
    kCoarseTune = 51,
    kFineTune = 52,
    kSampleId = 53,
    kSampleModes = 54,
    kScaleTuning = 56,
    kExclusiveClass = 57,
};
enum SampleType : std::uint32_t { kMono = 1, kRight = 2, kLeft = 4 };
constexpr int kZeroPoints = 46;  // the format's silence after each sample
constexpr NoteModulator kDefaultFilterMod{0x0102, 0x0C02, kModFilterCutoff, -2400};
constexpr std::uint16_t kVelocityToLevel = 0x0502;  // the format's default velocity source

void le16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void le32(Bytes& b, std::uint32_t v) {
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}
void name20(Bytes& b, const char* s) {
    // A name of all 20 characters goes without its ending zero, as banks write it.
    for (int i = 0; i < 20; ++i) b.push_back(s && *s ? static_cast<std::uint8_t>(*s++) : 0);
}
void chunk(Bytes& out, const char* id, const Bytes& body) {
    out.insert(out.end(), id, id + 4);
    le32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1) out.push_back(0);
}
Bytes list(const char* type, const Bytes& body) {
    Bytes b(type, type + 4);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}
Bytes text(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    if (b.size() & 1) b.push_back(0);
    return b;
}

std::int16_t clamp16(double v, double lo, double hi) {
    return static_cast<std::int16_t>(std::lround(std::clamp(v, lo, hi)));
}

// The memory some sounds share (a bank's sample chunk, an SFZ sample file)
// and the part of it they play, written once as one stretch of points per side.
struct SpanKey {
    const std::int8_t* base;
    std::uint16_t bits, stereo;
    bool operator<(const SpanKey& o) const {
        return std::tie(base, bits, stereo) < std::tie(o.base, o.bits, o.stereo);
    }
};
struct Span {
    std::uint64_t lo = UINT64_MAX, hi = 0;  // bytes from `base`
    std::uint32_t start[2] = {};            // where each side begins in the sample chunk, in points
};
struct HeaderKey {
    std::uint32_t start, end;  // in points of the sample chunk
    std::uint32_t loop_start, loop_end, rate;
    int base, side;  // side -1: a mono sound
    std::string name;
    bool operator<(const HeaderKey& o) const {
        return std::tie(start, end, loop_start, loop_end, rate, base, side, name) <
               std::tie(o.start, o.end, o.loop_start, o.loop_end, o.rate, o.base, o.side, o.name);
    }
};

SpanKey span_key(const p_s& s) {
    return {s.block ? s.block.get() : s.data, s.bits, s.stereo};
}
std::uint32_t frame_bytes(const p_s& s) {
    return (s.bits == 8 ? 1u : 2u) * (s.stereo ? 2u : 1u);
}
std::uint32_t frames_of(const p_s& s) {
    return std::min<std::uint32_t>(s.size, s.capacity) / frame_bytes(s);
}

class BankBuilder {
  public:
    // Notes the data `s` plays; every sound goes through here before any is added.
    bool plan(const p_s& s, std::string& why) {
        if (s.type == kTypeStreamed) {
            why = "the sound \"" + std::string(s.name) +
                  "\" is streamed from disk; load it into memory first";
            return false;
        }
        if (s.bits != 8 && s.bits != 16) {
            why = "the sound \"" + std::string(s.name) + "\" has samples of an unknown size";
            return false;
        }
        const SpanKey k = span_key(s);
        const auto off = static_cast<std::uint64_t>(s.data - k.base);
        Span& span = spans_[k];
        span.lo = std::min(span.lo, off);
        span.hi = std::max(span.hi, off + std::uint64_t{frames_of(s)} * frame_bytes(s));
        return true;
    }

    // Writes the data of every planned sound, each stretch once.
    void write_samples() {
        for (auto& [k, span] : spans_) {
            const int sides = k.stereo ? 2 : 1;
            const std::uint64_t bpf = (k.bits == 8 ? 1u : 2u) * sides;
            for (int side = 0; side < sides; ++side) {
                span.start[side] = static_cast<std::uint32_t>(smpl_.size() / 2);
                for (std::uint64_t at = span.lo; at + bpf <= span.hi; at += bpf) {
                    std::int16_t v;
                    if (k.bits == 8) {
                        v = static_cast<std::int16_t>(k.base[at + side] * 256);
                    } else {
                        std::memcpy(&v, k.base + at + 2 * side, 2);
                    }
                    le16(smpl_, static_cast<std::uint16_t>(v));
                }
                smpl_.resize(smpl_.size() + kZeroPoints * 2, 0);
            }
        }
    }

    // Adds the zones of `s` to the current instrument.
    void add_sound(const p_s& s) {
        const std::uint32_t frames = frames_of(s);
        if (frames == 0) return;
        const std::uint32_t bpf = frame_bytes(s);
        const std::uint32_t ls = std::min<std::uint32_t>(s.loop_start / bpf, frames);
        std::uint32_t le = s.loop ? std::min<std::uint32_t>(s.loop_end / bpf, frames) : frames;
        le = std::max(le, ls);
        const int sides = s.stereo ? 2 : 1;
        const SpanKey k = span_key(s);
        const Span& span = spans_.at(k);
        const auto first = static_cast<std::uint32_t>((s.data - k.base - span.lo) / bpf);
        // A stereo sound's sides, panned hard, are heard as its pan law
        // would place them.
        const double angle =
            (std::clamp<int>(s.art.on ? s.art.pan : 0, -500, 500) + 500) / 1000.0 * (M_PI / 2);
        std::size_t ids[2] = {};
        for (int side = 0; side < sides; ++side) {
            const std::uint32_t start = span.start[side] + first;
            const HeaderKey hk{start,
                               start + frames,
                               start + ls,
                               start + le,
                               s.rate,
                               std::clamp<int>(s.base, 0, 127),
                               sides == 1 ? -1 : side,
                               s.name};
            const auto [it, added] = headers_.try_emplace(hk, header_order_.size());
            if (added) header_order_.push_back(hk);
            ids[side] = it->second;
        }
        if (sides == 2) links_[ids[0]] = ids[1], links_[ids[1]] = ids[0];
        for (int side = 0; side < sides; ++side) {
            double extra_cb = 0;
            if (sides == 2) {
                const double g = side == 0 ? std::cos(angle) : std::sin(angle);
                extra_cb = g > 1e-6 ? -200.0 * std::log10(g) : 1440.0;
            }
            zone(s, static_cast<std::uint16_t>(ids[side]),
                 sides == 1  ? 0
                 : side == 0 ? -500
                             : 500,
                 extra_cb);
        }
    }

    // With `share` set, each different zone becomes an instrument of its
    // own that every preset playing it names: banks whose presets share
    // instruments need this to stay within the format's 65535 generators.
    explicit BankBuilder(bool share) : share_(share) {}

    // Starts the preset of a program instrument named `name`.
    void start_preset(const std::string& name) {
        flush_instrument();
        preset_names_.push_back(name);
        preset_zones_.emplace_back();
        preset_global_.emplace_back();
        if (!share_) {
            preset_zones_.back().push_back({insts_, {}});
            start_instrument(name.c_str());
        }
    }

    // `presets`: bank, number and index of each preset started.
    bool finish(const std::string& bank_name, const std::vector<std::tuple<int, int, int>>& presets,
                Bytes& out, std::string& why) {
        flush_instrument();
        std::size_t preset_zones = 0;
        for (const auto& z : preset_zones_) preset_zones += z.size();
        if (header_order_.size() >= 65535 || bags_ >= 65535 || igen_.size() / 4 >= 65535 ||
            imod_.size() / 10 >= 65535 || insts_ >= 65535 || preset_zones >= 65535 ||
            smpl_.size() + 64 > UINT32_MAX / 2) {
            why = "the instruments hold more than a SoundFont 2 bank can";
            return false;
        }
        Bytes shdr;
        for (std::size_t i = 0; i < header_order_.size(); ++i) {
            const HeaderKey& h = header_order_[i];
            name20(shdr, h.name.c_str());
            for (std::uint32_t v : {h.start, h.end, h.loop_start, h.loop_end, h.rate})
                le32(shdr, v);
            shdr.push_back(static_cast<std::uint8_t>(h.base));
            shdr.push_back(0);  // correction: the zone's tuning says it all
            const auto link = links_.find(i);
            le16(shdr, link == links_.end() ? 0 : static_cast<std::uint32_t>(link->second));
            le16(shdr, h.side < 0 ? kMono : h.side == 0 ? kLeft : kRight);
        }
        name20(shdr, "EOS");
        shdr.resize(shdr.size() + 26, 0);

        // Presets: each one zone naming its instrument.
        Bytes phdr, pbag, pgen;
        int pb = 0;
        for (const auto& [bank, number, p] : presets) {
            name20(phdr, preset_names_[static_cast<std::size_t>(p)].c_str());
            le16(phdr, static_cast<std::uint32_t>(number));
            le16(phdr, static_cast<std::uint32_t>(bank));
            le16(phdr, static_cast<std::uint32_t>(pb));
            le32(phdr, 0), le32(phdr, 0), le32(phdr, 0);
            const auto zone = [&](const std::map<std::uint16_t, int>& gens) {
                le16(pbag, static_cast<std::uint32_t>(pgen.size() / 4)), le16(pbag, 0);
                for (const auto& [op, v] : gens)
                    le16(pgen, op),
                        le16(pgen, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
                ++pb;
            };
            const auto i = static_cast<std::size_t>(p);
            if (!preset_global_[i].empty()) zone(preset_global_[i]);
            for (const PresetZone& z : preset_zones_[i]) {
                zone(z.gens);
                le16(pgen, kInstrument), le16(pgen, static_cast<std::uint32_t>(z.inst));
            }
        }
        if (pgen.size() / 4 >= 65535 || pb >= 65535) {
            why = "the instruments hold more than a SoundFont 2 bank can";
            return false;
        }
        name20(phdr, "EOP");
        le16(phdr, 0), le16(phdr, 0), le16(phdr, static_cast<std::uint32_t>(pb));
        le32(phdr, 0), le32(phdr, 0), le32(phdr, 0);
        le16(pbag, static_cast<std::uint32_t>(pgen.size() / 4)), le16(pbag, 0);
        le32(pgen, 0);
        const Bytes pmod(10, 0);

        Bytes inst = inst_;
        name20(inst, "EOI");
        le16(inst, static_cast<std::uint32_t>(bags_));
        Bytes ibag = ibag_;
        le16(ibag, static_cast<std::uint32_t>(igen_.size() / 4));
        le16(ibag, static_cast<std::uint32_t>(imod_.size() / 10));
        Bytes imod = imod_;
        imod.resize(imod.size() + 10, 0);
        Bytes igen = igen_;
        le32(igen, 0);

        Bytes info;
        Bytes ver;
        le16(ver, 2), le16(ver, 1);
        chunk(info, "ifil", ver);
        chunk(info, "isng", text("EMU8000"));
        chunk(info, "INAM", text(bank_name.substr(0, 200)));
        chunk(info, "ISFT", text("Plexora"));
        Bytes sdta;
        chunk(sdta, "smpl", smpl_);
        Bytes pdta;
        chunk(pdta, "phdr", phdr);
        chunk(pdta, "pbag", pbag);
        chunk(pdta, "pmod", pmod);
        chunk(pdta, "pgen", pgen);
        chunk(pdta, "inst", inst);
        chunk(pdta, "ibag", ibag);
        chunk(pdta, "imod", imod);
        chunk(pdta, "igen", igen);
        chunk(pdta, "shdr", shdr);
        Bytes body{'s', 'f', 'b', 'k'};
        chunk(body, "LIST", list("INFO", info));
        chunk(body, "LIST", list("sdta", sdta));
        chunk(body, "LIST", list("pdta", pdta));
        out.clear();
        chunk(out, "RIFF", body);
        return true;
    }

  private:
    // A zone's generators other than the sample, by operator; its modulators.
    struct Zone {
        std::map<std::uint16_t, int> gens;
        Bytes mods;
        std::uint16_t sample = 0;
        std::string name;
    };

    static int default_of(std::uint16_t op) {
        switch (op) {
            case kFilterCutoff:
                return 13500;
            case kScaleTuning:
                return 100;
            case kKeyRange:
            case kVelRange:
                return 127 << 8;
            case kModDelay + 4:  // the modulation envelope's sustain
            case kDelay + 4:
                return 0;
            default:
                return (op >= kModDelay && op <= kModDelay + 5) ||
                               (op >= kDelay && op <= kDelay + 5)
                           ? -12000
                           : 0;
        }
    }

    void gen(std::uint16_t op, int amount) { zone_.gens[op] = amount; }
    void gen_unless(std::uint16_t op, int amount, int absent) {
        if (amount != absent) gen(op, amount);
    }
    void mod(std::uint16_t source, std::uint16_t dest, int amount, std::uint16_t amount_source) {
        for (const std::uint32_t v :
             {std::uint32_t{source}, std::uint32_t{dest},
              std::uint32_t{static_cast<std::uint16_t>(static_cast<std::int16_t>(amount))},
              std::uint32_t{amount_source}, 0u})
            le16(zone_.mods, v);
    }

    // Writes a zone's bag and generators: key and velocity range first, the
    // sample last; `global` (with its value of each operator it sets) and
    // the zone's own value say which operators the zone must state.
    void write_zone(const Zone& z, const std::map<std::uint16_t, int>& global, bool with_sample) {
        le16(ibag_, static_cast<std::uint32_t>(igen_.size() / 4));
        le16(ibag_, static_cast<std::uint32_t>(imod_.size() / 10));
        ++bags_;
        const auto put = [&](std::uint16_t op) {
            const auto own = z.gens.find(op);
            const int v = own != z.gens.end() ? own->second : default_of(op);
            const auto g = global.find(op);
            if (g != global.end() ? g->second == v : own == z.gens.end()) return;
            le16(igen_, op);
            le16(igen_, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
        };
        std::set<std::uint16_t> ops;
        for (const auto& [op, v] : z.gens) ops.insert(op);
        for (const auto& [op, v] : global) ops.insert(op);
        for (const std::uint16_t op : {kKeyRange, kVelRange})
            if (ops.erase(op)) put(op);
        for (const std::uint16_t op : ops) put(op);
        if (with_sample) le16(igen_, kSampleId), le16(igen_, z.sample);
        imod_.insert(imod_.end(), z.mods.begin(), z.mods.end());
    }

    // Adds the zone just made to the instrument being made.
    void emit_zone() { pending_.push_back(std::move(zone_)); }

    // Generators that go to the preset's zones when zones are shared: those
    // a preset's value adds to its instruments', but the pan and tuning,
    // which belong with a sample more than with a preset.
    static bool additive(std::uint16_t op) {
        return op != kKeyRange && op != kVelRange && op != kSampleModes && op != kExclusiveClass &&
               op != kPan && op != kCoarseTune && op != kFineTune;
    }

    // The most common value of each generator among `zones` (a zone without
    // it counting as `absent(op)`), for those where another value is more
    // common than leaving it out.
    template <typename Gens, typename Absent>
    static std::map<std::uint16_t, int> most_common(const std::vector<Gens>& zones, Absent absent) {
        std::map<std::uint16_t, std::map<int, std::size_t>> tally;
        for (const auto& z : zones)
            for (const auto& [op, v] : z) ++tally[op][v];
        std::map<std::uint16_t, int> out;
        for (const auto& [op, values] : tally) {
            std::size_t set = 0, best = 0;
            int value = 0;
            for (const auto& [v, n] : values) {
                set += n;
                if (n > best && v != absent(op)) best = n, value = v;
            }
            const auto left_out = values.count(absent(op)) ? values.at(absent(op)) : 0;
            if (best > zones.size() - set + left_out) out[op] = value;
        }
        return out;
    }

    // With shared zones, the generators that add up go to the preset's
    // zones (each the value less the format's default), and what is left of
    // a zone (sample, ranges, sample mode, class, modulators) becomes an
    // instrument of its own, made once for every preset zone that plays it.
    // The preset and the instrument levels each have their 65535 generators.
    void flush_shared() {
        std::vector<std::map<std::uint16_t, int>> adds;
        for (Zone& z : pending_) {
            std::map<std::uint16_t, int> add;
            for (auto it = z.gens.begin(); it != z.gens.end();) {
                if (!additive(it->first)) {
                    ++it;
                    continue;
                }
                add[it->first] = it->second - default_of(it->first);
                it = z.gens.erase(it);
            }
            adds.push_back(std::move(add));
            Bytes key = z.mods;
            for (const auto& [op, v] : z.gens)
                le16(key, op), le16(key, static_cast<std::uint32_t>(v));
            le16(key, z.sample);
            const auto [it, added] = shared_.try_emplace(std::move(key), insts_);
            preset_zones_.back().push_back({it->second, {}});
            if (!added) continue;
            start_instrument(z.name.c_str());
            write_zone(z, {}, true);
        }
        preset_global_.back() = most_common(adds, [](std::uint16_t) { return 0; });
        for (std::size_t i = 0; i < adds.size(); ++i) {
            for (const auto& [op, v] : adds[i]) {
                const auto g = preset_global_.back().find(op);
                if (v != (g == preset_global_.back().end() ? 0 : g->second))
                    preset_zones_.back()[i].gens[op] = v;
            }
            for (const auto& [op, g] : preset_global_.back())
                if (!adds[i].count(op)) preset_zones_.back()[i].gens[op] = 0;
        }
        pending_.clear();
    }

    // Writes the zones of the instrument being made, behind a global zone
    // that holds each generator's most common value among them (but the
    // key range, which a plain reading of the bank takes from zones alone).
    void flush_instrument() {
        if (pending_.empty()) return;
        if (share_) return flush_shared();
        std::vector<std::map<std::uint16_t, int>> gens;
        for (const Zone& z : pending_) {
            gens.push_back(z.gens);
            gens.back().erase(kKeyRange);
        }
        const auto global = most_common(gens, default_of);
        if (!global.empty()) write_zone(Zone{global, {}, 0, ""}, {}, false);
        for (const Zone& z : pending_) write_zone(z, global, true);
        pending_.clear();
    }

    // One instrument zone for sound `s` over sample header `id`, panned
    // `side_pan` when it is one side of a stereo sound (0: not), its level
    // lowered by `extra_cb` as heard.
    void zone(const p_s& s, std::uint16_t id, int side_pan, double extra_cb) {
        zone_ = Zone{{}, {}, id, s.name};
        gen_unless(kKeyRange,
                   std::clamp<int>(s.key_lo, 0, 127) | std::clamp<int>(s.key_hi, 0, 127) << 8,
                   default_of(kKeyRange));
        gen_unless(kVelRange,
                   std::clamp<int>(s.vel_lo, 0, 127) | std::clamp<int>(s.vel_hi, 0, 127) << 8,
                   default_of(kVelRange));
        const Articulation& a = s.art;
        int mode = s.loop ? 1 : 0;
        if (a.on) {
            const int coarse = std::clamp(a.tune / 100, -120, 120);
            gen_unless(kCoarseTune, coarse, 0);
            gen_unless(kFineTune, std::clamp(a.tune - coarse * 100, -99, 99), 0);
            gen_unless(kScaleTuning, a.scale_tuning, 100);
            gen_unless(kFilterCutoff, a.filter_cutoff, 13500);
            gen_unless(kFilterQ, a.filter_q, 0);
            gen_unless(kModEnvToFilter, a.mod_env_to_filter, 0);
            const std::int16_t mod_env[] = {a.mod_delay,       a.mod_attack,      a.mod_hold,
                                            a.mod_decay,       a.mod_sustain,     a.mod_release,
                                            a.key_to_mod_hold, a.key_to_mod_decay};
            for (int i = 0; i < 8; ++i)
                gen_unless(static_cast<std::uint16_t>(kModDelay + i), mod_env[i],
                           i == 4 || i >= 6 ? 0 : -12000);
            const std::int16_t env[] = {a.delay, a.attack, a.hold, a.decay, a.sustain, a.release};
            for (int i = 0; i < 6; ++i)
                gen_unless(static_cast<std::uint16_t>(kDelay + i), env[i], i == 4 ? 0 : -12000);
            gen_unless(kKeyToHold, a.key_to_hold, 0);
            gen_unless(kKeyToDecay, a.key_to_decay, 0);
            const double heard = a.attenuation + extra_cb / kAttenuationScale;
            gen_unless(kAttenuation, clamp16(heard, 0, 1440), 0);
            gen_unless(kPan, side_pan ? side_pan : a.pan, 0);
            gen_unless(kExclusiveClass, a.exclusive_class ? a.exclusive_class : cut_class(a), 0);
            mode = s.loop ? a.sample_mode : 0;
            for (int i = 0; i < std::min<int>(a.modulator_count, kNoteModulators); ++i) {
                const NoteModulator& m = a.modulators[i];
                if (i == 0 && m == kDefaultFilterMod) continue;
                mod(m.source, m.dest, m.amount, m.amount_source);
            }
            if (a.velocity_attenuation != 960)
                mod(kVelocityToLevel, kModAttenuation, a.velocity_attenuation, 0);
        } else {
            // Played the plain way: the release curve's time, when it is on.
            if ((s.flags & (1u << kCurveVelocityOff)) && s.rate > 0)
                gen(kDelay + 5,
                    clamp16(1200.0 * std::log2(std::max(1e-3, double(s.rel_time) / s.rate)), -12000,
                            8000));
            gen_unless(kAttenuation, clamp16(extra_cb / kAttenuationScale, 0, 1440), 0);
            gen_unless(kPan, side_pan, 0);
        }
        gen_unless(kSampleModes, mode, 0);
        // The root key is the sample header's.
        emit_zone();
    }

    void start_instrument(const char* name) {
        name20(inst_, name);
        le16(inst_, static_cast<std::uint32_t>(bags_));
        ++insts_;
    }

    bool share_;
    Bytes smpl_, inst_, ibag_, igen_, imod_;
    Zone zone_;                  // the zone being made
    std::vector<Zone> pending_;  // the zones of the instrument being made
    std::size_t bags_ = 0, insts_ = 0;
    std::vector<std::string> preset_names_;
    // Each preset's zones: the instrument each names, with the generators
    // that add to it; and each preset's global zone.
    struct PresetZone {
        std::size_t inst;
        std::map<std::uint16_t, int> gens;
    };
    std::vector<std::vector<PresetZone>> preset_zones_;
    std::vector<std::map<std::uint16_t, int>> preset_global_;
    std::map<Bytes, std::size_t> shared_;  // a shared zone's instrument
    std::map<SpanKey, Span> spans_;
    std::map<HeaderKey, std::size_t> headers_;
    std::vector<HeaderKey> header_order_;
    std::map<std::size_t, std::size_t> links_;  // the other side of a stereo sound's header
};

std::string shown_name(int k) {
    const char* n = inst_name(k);
    return n && *n ? n : "Instrument " + std::to_string(k + 1);
}

// Where instrument `k` goes when every instrument is written: (bank, preset).
std::pair<int, int> preset_of(int k) {
    for (int d = 0; d < kDrumKits; ++d)
        if (drum_kit_inst[d] == k) return {128, d};
    if (k < 128) return {0, k};
    return {k / 128, k % 128};
}

}  // namespace

bool export_bank_bytes(int k, std::vector<std::uint8_t>& out, std::string& why) {
    reclaim::ReadSection section;
    const int insts = std::min<int>(nb_inst, kMaxInsts);
    if (k >= insts) {
        why = "there is no such instrument";
        return false;
    }
    try {
        // The instruments that hold a sound with data, with those sounds.
        std::vector<std::pair<int, std::vector<const p_s*>>> chosen;
        for (int i = k < 0 ? 0 : k; i < (k < 0 ? insts : k + 1); ++i) {
            std::vector<const p_s*> sounds;
            for (int s = inst_first(i); s < inst_first(i) + inst_count(i); ++s) {
                const p_s* r = t_sound[s].load();
                if (r && r->data && r->size > 0) sounds.push_back(r);
            }
            if (!sounds.empty()) chosen.emplace_back(i, std::move(sounds));
        }
        if (chosen.empty()) {
            why = "no instrument holds a sound with data";
            return false;
        }
        for (const bool share : {false, true}) {
            BankBuilder b(share);
            for (const auto& [i, sounds] : chosen)
                for (const p_s* r : sounds)
                    if (!b.plan(*r, why)) return false;
            b.write_samples();
            std::vector<std::tuple<int, int, int>> presets;
            for (const auto& [i, sounds] : chosen) {
                const auto [bank, number] = k < 0 ? preset_of(i) : std::pair{0, 0};
                presets.emplace_back(bank, number, static_cast<int>(presets.size()));
                b.start_preset(shown_name(i));
                for (const p_s* r : sounds) b.add_sound(*r);
            }
            std::sort(presets.begin(), presets.end());
            if (b.finish(k < 0 ? "Plexora" : shown_name(k), presets, out, why)) {
                why.clear();
                return true;
            }
        }
        return false;
    } catch (const std::bad_alloc&) {
        why = "not enough memory";
        return false;
    }
}

bool export_bank(const char* path, int k, std::string& why) {
    if (!path || !*path) {
        why = "no file name";
        return false;
    }
    Bytes bytes;
    if (!export_bank_bytes(k, bytes, why)) return false;
    std::string tmp = std::string(path) + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    bool ok = ::fchmod(fd, 0644) == 0;
    for (std::size_t at = 0; ok && at < bytes.size();) {
        const ssize_t put = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (put < 0 && errno == EINTR) continue;
        ok = put > 0;
        if (ok) at += static_cast<std::size_t>(put);
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok) why = std::strerror(errno);
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(tmp.c_str(), path) != 0) {
        why = std::strerror(errno);
        ok = false;
    }
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}
