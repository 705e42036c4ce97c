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

// A bank zone's playing parameters, with the sums of its preset's and
// instrument's generators in the bank's own units (cents, centibels,
// timecents). `on` false: the sound has none and plays the plain way.
// Written before the sound is published and never changed after.
struct Articulation {
    bool on = false;
    std::uint8_t sample_mode = kNoLoop;
    std::uint8_t exclusive_class = 0;  // 0: none
    std::int16_t tune = 0;             // cents, sample correction included
    std::int16_t scale_tuning = 100;   // cents per key
    std::int16_t attenuation = 0;      // centibels, as the bank states it
    std::int16_t pan = 0;              // -500 left .. 500 right
    std::int16_t delay = -12000;       // timecents
    std::int16_t attack = -12000;
    std::int16_t hold = -12000;
    std::int16_t decay = -12000;
    std::int16_t sustain = 0;  // centibels below the peak
    std::int16_t release = -12000;
    std::int16_t key_to_hold = 0;  // timecents per key below 60
    std::int16_t key_to_decay = 0;

    bool operator==(const Articulation&) const = default;
};

// A bank's attenuation is heard at this share of what it states, as the
// hardware the format was made for played it and as other players of these
// banks do.
constexpr double kAttenuationScale = 0.4;

// Any thread. Seconds for `timecents`, as the bank format defines them.
double timecents_seconds(double timecents);
// Any thread. The amplitude factor for an attenuation in centibels.
double centibels_gain(double centibels);
