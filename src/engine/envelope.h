// The five envelope curves of a sound, evaluated for one voice.
#pragma once

#include <cstdint>

struct p_s;

// Any thread (the render callback calls it once per curve per buffer).
// Evaluates curve `mode` (0..4) of `sound` for voice `voice` over `total`
// source frames:
//   0 "Velocity" and 4 "Velocity off": level / 128; mode 4 returns -1.0 once
//     the release (`rel_pos`) has run its length;
//   2 "Panoramic": level, at most 127;  3 "Coarse tune": level (64 neutral);
//   1 "Start Sound" and any other mode: 0.
float compute_adsr(int mode, std::uint32_t voice, std::uint32_t total, const p_s* sound);

// Any thread. The same evaluation for an elapsed count given directly
// (the envelope editor draws curves with it).
float curve_value(int mode, std::uint32_t elapsed, std::uint32_t total, const p_s* sound);
