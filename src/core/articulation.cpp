#include "core/articulation.h"

#include <algorithm>
#include <cmath>
#include <iterator>

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

// Where a modulator onto a generator lands in the articulation, the range
// that generator keeps to, and its unit in the field's.
struct Target {
    std::uint8_t dest;
    std::int16_t Articulation::*field;
    int lo, hi, scale;
};
constexpr Target kTargets[] = {
    {kModFilterCutoff, &Articulation::filter_cutoff, 1500, 13500, 1},
    {kModFilterQ, &Articulation::filter_q, 0, 960, 1},
    {kModEnvToFilter, &Articulation::mod_env_to_filter, -12000, 12000, 1},
    {kModPan, &Articulation::pan, -500, 500, 1},
    {kModEnvAttack, &Articulation::mod_attack, -12000, 8000, 1},
    {kModEnvHold, &Articulation::mod_hold, -12000, 5000, 1},
    {kModEnvDecay, &Articulation::mod_decay, -12000, 8000, 1},
    {kModEnvSustain, &Articulation::mod_sustain, 0, 1000, 1},
    {kModEnvRelease, &Articulation::mod_release, -12000, 8000, 1},
    {kModAttack, &Articulation::attack, -12000, 8000, 1},
    {kModHold, &Articulation::hold, -12000, 5000, 1},
    {kModDecay, &Articulation::decay, -12000, 8000, 1},
    {kModSustain, &Articulation::sustain, 0, 1440, 1},
    {kModRelease, &Articulation::release, -12000, 8000, 1},
    {kModCoarseTune, &Articulation::tune, -12000, 12000, 100},
    {kModFineTune, &Articulation::tune, -12000, 12000, 1},
};

}  // namespace

bool note_modulator_playable(std::uint16_t source, std::uint16_t amount_source, int dest) {
    const bool known_dest =
        dest == kModAttenuation || std::any_of(std::begin(kTargets), std::end(kTargets),
                                               [&](const Target& t) { return t.dest == dest; });
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
        const double by =
            m.amount * note_source_value(m.source, key, velocity) *
            (m.amount_source ? note_source_value(m.amount_source, key, velocity) : 1.0);
        if (m.dest == kModAttenuation) attenuation += by;
        for (const Target& t : kTargets) {
            if (t.dest != m.dest) continue;
            std::int16_t& field = n.*t.field;
            field = static_cast<std::int16_t>(
                std::clamp<long>(std::lround(field + by * t.scale), t.lo, t.hi));
        }
    }
    return n;
}
