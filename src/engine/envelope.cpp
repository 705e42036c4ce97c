#include "engine/envelope.h"

#include "core/sound.h"
#include "engine/voice_table.h"

float curve_value(int mode, std::uint32_t elapsed, std::uint32_t total, const p_s* sound) {
    if (mode < 0 || mode >= kCurves || mode == kCurveStartSound || !sound) return 0.0f;
    if (mode == kCurveVelocityOff && elapsed >= total) return -1.0f;
    // Position on the curve's 0..255 time scale. 64-bit so long sounds do not
    // overflow; a curve of length 0 stands at its end.
    std::uint64_t t = 255;
    if (total != 0) t = std::uint64_t{elapsed} * 255u / total;
    if (t > 255) t = 255;
    const int ti = static_cast<int>(t);

    int time[kPoints];
    int level[kPoints];
    for (int k = 0; k < kPoints; ++k) {
        const std::uint16_t w = sound->env[k][mode];
        time[k] = k == 0 ? 0 : w >> 8;
        level[k] = w & 0xFF;
    }
    int value = 0;
    // Each segment is tested on its own; with non-ascending times the last
    // segment that applies wins, and past the last point the value is 0.
    if (ti < time[1]) value = level[0] + ((level[1] - level[0]) * ti) / time[1];
    for (int k = 1; k < kPoints - 1; ++k) {
        if (time[k] <= ti && ti < time[k + 1]) {
            value =
                level[k] + ((level[k + 1] - level[k]) * (ti - time[k])) / (time[k + 1] - time[k]);
        }
    }
    switch (mode) {
        case kCurveVelocity:
        case kCurveVelocityOff:
            return static_cast<float>(value) / 128.0f;
        case kCurvePanoramic:
            return static_cast<float>(value > 127 ? 127 : value);
        default:
            return static_cast<float>(value);
    }
}

float compute_adsr(int mode, std::uint32_t voice, std::uint32_t total, const p_s* sound) {
    if (voice >= kVoices) return 0.0f;
    const NOTE_LIST& v = nlist[voice];
    std::uint32_t elapsed = 0;
    if (mode == kCurveVelocity || mode == kCurvePanoramic || mode == kCurveCoarseTune)
        elapsed = v.pos;
    if (mode == kCurveVelocityOff) elapsed = v.rel_pos;
    return curve_value(mode, elapsed, total, sound);
}
