#include "core/articulation.h"

#include <algorithm>
#include <cmath>

rt<bool> play_as_set{false};

double timecents_seconds(double timecents) {
    return std::exp2(timecents / 1200.0);
}

double centibels_gain(double centibels) {
    return std::pow(10.0, -centibels / 200.0);
}

namespace {

constexpr int kSourceVelocity = 2;
constexpr int kSourceKey = 3;
constexpr std::uint16_t kControllerFlag = 0x80;

// The format's concave curve over 0..127: 0 at 0, 1 at 127, rising as a
// level in decibels does.
double concave(double x) {
    if (x <= 0.0) return 0.0;
    if (x >= 127.0) return 1.0;
    return std::min(1.0, -(400.0 / 960.0) * std::log10((127.0 - x) / 127.0));
}

bool plain_source(std::uint16_t source) {
    const int index = source & 0x7F;
    return !(source & kControllerFlag) && (index == kSourceVelocity || index == kSourceKey);
}

}  // namespace

bool note_modulator_playable(std::uint16_t source, std::uint16_t amount_source, int dest) {
    const bool known_dest =
        dest == kModFilterCutoff || dest == kModFilterQ || dest == kModEnvToFilter ||
        (dest >= kModEnvAttack && dest <= kModEnvRelease) || dest == kModPan ||
        (dest >= kModAttack && dest <= kModRelease) || dest == kModAttenuation ||
        dest == kModCoarseTune || dest == kModFineTune;
    return known_dest && plain_source(source) &&
           (amount_source == 0 || plain_source(amount_source));
}

double note_source_value(std::uint16_t source, int key, int velocity) {
    const int value = (source & 0x7F) == kSourceKey ? key : velocity;
    const bool negative = source & 0x100;
    const bool bipolar = source & 0x200;
    const int curve = source >> 10;
    const double v = std::clamp(value, 0, 127);
    const double x = negative ? 127.0 - v : v;  // the direction turned into a rise
    double y = 0.0;
    switch (curve) {
        case 1:  // concave
            y = bipolar ? (x > 64 ? concave(2 * (x - 64)) : -concave(2 * (64 - x))) : concave(x);
            return y;
        case 2:  // convex
            y = bipolar ? (x > 64 ? 1 - concave(127 - 2 * (x - 64))
                                  : -(1 - concave(127 - 2 * (64 - x))))
                        : 1.0 - concave(127.0 - x);
            return y;
        case 3:  // switch
            y = x >= 64 ? 1.0 : 0.0;
            break;
        default:  // linear
            y = x / 128.0;
            break;
    }
    return bipolar ? 2.0 * y - 1.0 : y;
}

Articulation note_articulation(const Articulation& a, int key, int velocity, double& attenuation) {
    Articulation n = a;
    attenuation = a.velocity_attenuation * concave(127.0 - std::clamp(velocity, 0, 127));
    for (int i = 0; i < std::min<int>(a.modulator_count, kNoteModulators); ++i) {
        const NoteModulator& m = a.modulators[i];
        double by = m.amount * note_source_value(m.source, key, velocity);
        if (m.amount_source) by *= note_source_value(m.amount_source, key, velocity);
        const auto add = [&](std::int16_t& field, int lo, int hi) {
            field = static_cast<std::int16_t>(std::clamp<long>(std::lround(field + by), lo, hi));
        };
        switch (m.dest) {
            case kModFilterCutoff:
                add(n.filter_cutoff, 1500, 13500);
                break;
            case kModFilterQ:
                add(n.filter_q, 0, 960);
                break;
            case kModEnvToFilter:
                add(n.mod_env_to_filter, -12000, 12000);
                break;
            case kModEnvAttack:
                add(n.mod_attack, -12000, 8000);
                break;
            case kModEnvHold:
                add(n.mod_hold, -12000, 5000);
                break;
            case kModEnvDecay:
                add(n.mod_decay, -12000, 8000);
                break;
            case kModEnvSustain:
                add(n.mod_sustain, 0, 1000);
                break;
            case kModEnvRelease:
                add(n.mod_release, -12000, 8000);
                break;
            case kModPan:
                add(n.pan, -500, 500);
                break;
            case kModAttack:
                add(n.attack, -12000, 8000);
                break;
            case kModHold:
                add(n.hold, -12000, 5000);
                break;
            case kModDecay:
                add(n.decay, -12000, 8000);
                break;
            case kModSustain:
                add(n.sustain, 0, 1440);
                break;
            case kModRelease:
                add(n.release, -12000, 8000);
                break;
            case kModAttenuation:
                attenuation += by;
                break;
            case kModCoarseTune:
                by *= 100;
                add(n.tune, -12000, 12000);
                break;
            case kModFineTune:
                add(n.tune, -12000, 12000);
                break;
            default:
                break;
        }
    }
    return n;
}
