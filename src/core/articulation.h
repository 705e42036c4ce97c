// How a sound from a bank is played as its maker set it: tuning, loop mode,
// level, pan and a volume envelope in time, taken from the bank's generators.
//
// The switch `play_as_set` chooses, for the whole program, between playing
// banks this way and the plain way (every zone looped, no envelope, linear
// velocity and volume). Imports read the switch when they run; a note reads
// it when it starts and keeps that mode to its end.
#pragma once

#include <cstdint>

#include "core/rt.h"

// Any thread. On: banks import and play as their makers set them. The
// program and the renderer turn it on at start unless told otherwise.
extern rt<bool> play_as_set;

// Sample modes of a bank zone.
enum SampleMode : std::uint8_t { kNoLoop = 0, kLoopAlways = 1, kLoopUntilRelease = 3 };

// A modulator that the note's velocity or key drives, read once as the note
// starts; `source` and `amount_source` are the bank format's source words
// (controller, curve, direction, polarity; 0 for an amount source: none).
struct NoteModulator {
    std::uint16_t source = 0;
    std::uint16_t amount_source = 0;
    std::uint8_t dest = 0;  // the generator it adds to
    std::int16_t amount = 0;
    bool operator==(const NoteModulator&) const = default;
};
constexpr int kNoteModulators = 10;

// A bank zone's playing parameters, with the sums of its preset's and
// instrument's generators in the bank's own units (cents, centibels,
// timecents). `on` false: the sound has none and plays the plain way.
// Written before the sound is published and never changed after.
struct Articulation {
    bool on = false;
    std::uint8_t sample_mode = kNoLoop;
    // A voice of a sound with an exclusive class is cut when a note of that
    // class starts on its channel (0: none). A note cuts the voices of its
    // own class, unless `cuts` names another one (kCutsNone: none), as an
    // SFZ group does for the regions whose off_by names it.
    std::uint8_t exclusive_class = 0;
    std::uint8_t cuts = 0;
    std::int16_t tune = 0;            // cents, sample correction included
    std::int16_t scale_tuning = 100;  // cents per key
    std::int16_t attenuation = 0;     // centibels, as the bank states it
    std::int16_t pan = 0;             // -500 left .. 500 right
    std::int16_t delay = -12000;      // timecents
    std::int16_t attack = -12000;
    std::int16_t hold = -12000;
    std::int16_t decay = -12000;
    std::int16_t sustain = 0;  // centibels below the peak
    std::int16_t release = -12000;
    std::int16_t key_to_hold = 0;  // timecents per key below 60
    std::int16_t key_to_decay = 0;
    std::int16_t filter_cutoff = 13500;  // low-pass cutoff, cents above 8.176 Hz (13500: open)
    std::int16_t filter_q = 0;           // its resonance, centibels
    // The modulation envelope (times in timecents, sustain in tenths of a
    // percent below the peak) and how far it opens the filter, in cents.
    std::int16_t mod_delay = -12000;
    std::int16_t mod_attack = -12000;
    std::int16_t mod_hold = -12000;
    std::int16_t mod_decay = -12000;
    std::int16_t mod_sustain = 0;
    std::int16_t mod_release = -12000;
    std::int16_t key_to_mod_hold = 0;
    std::int16_t key_to_mod_decay = 0;
    std::int16_t mod_env_to_filter = 0;
    // The velocity's concave fall in centibels at velocity 0, as the bank
    // leaves the format's default; and the bank's own modulators.
    std::int16_t velocity_attenuation = 960;
    std::uint8_t modulator_count = 0;
    NoteModulator modulators[kNoteModulators];

    bool operator==(const Articulation&) const = default;
};

constexpr std::uint8_t kCutsNone = 255;

// Any thread. The class whose voices a note of a sound with `a` cuts; 0: none.
inline int cut_class(const Articulation& a) {
    if (a.cuts == kCutsNone) return 0;
    return (a.cuts ? a.cuts : a.exclusive_class) & 127;
}

// A bank's attenuation is heard at this share of what it states, as the
// hardware the format was made for played it and as other players of these
// banks do.
constexpr double kAttenuationScale = 0.4;

// The generators a note modulator may drive.
enum ModulatedGen : std::uint8_t {
    kModFilterCutoff = 8,
    kModFilterQ = 9,
    kModEnvToFilter = 11,
    kModPan = 17,
    kModAttack = 34,
    kModHold = 35,
    kModDecay = 36,
    kModSustain = 37,
    kModRelease = 38,
    kModEnvAttack = 26,
    kModEnvHold = 27,
    kModEnvDecay = 28,
    kModEnvSustain = 29,
    kModEnvRelease = 30,
    kModAttenuation = 48,
    kModCoarseTune = 51,
    kModFineTune = 52
};

// Any thread. True when a modulator of `source` and `amount_source` onto
// `dest` can be played: sources the velocity, the key or (for the amount)
// none, without controllers.
bool note_modulator_playable(std::uint16_t source, std::uint16_t amount_source, int dest);
// Any thread. The value (0..1, or -1..1 when bipolar) of `source` for a
// note of `key` and `velocity`.
double note_source_value(std::uint16_t source, int key, int velocity);
// Any thread. `a` with its modulators applied for a note of `key` and
// `velocity`; `attenuation` gets the centibels they add to the level (the
// velocity's fall included), which the bank's own attenuation does not scale.
Articulation note_articulation(const Articulation& a, int key, int velocity, double& attenuation);

// Any thread. Seconds for `timecents`, as the bank format defines them.
double timecents_seconds(double timecents);
// Any thread. The amplitude factor for an attenuation in centibels.
double centibels_gain(double centibels);
