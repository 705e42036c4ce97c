#include "engine/bank_envelope.h"

#include <algorithm>
#include <cmath>

#include "core/articulation.h"

namespace {

// Levels span 96 dB (960 centibels) from the peak to silence.
constexpr float kRangeCentibels = 960.0f;
// The shortest release, so that no key-up clicks.
constexpr int kMinReleaseTimecents = -7200;

float seconds(int timecents, int lo, int hi) {
    return static_cast<float>(timecents_seconds(std::clamp(timecents, lo, hi)));
}

}  // namespace

VoiceEnvelope VoiceEnvelope::start(const Articulation& a, int key) {
    VoiceEnvelope e;
    const int below_60 = 60 - key;
    e.delay = seconds(a.delay, -12000, 5000);
    e.attack = seconds(a.attack, -12000, 8000);
    e.hold = seconds(a.hold + a.key_to_hold * below_60, -12000, 5000);
    e.decay = seconds(a.decay + a.key_to_decay * below_60, -12000, 8000);
    e.sustain = std::clamp(1.0f - static_cast<float>(a.sustain) / 1000.0f, 0.0f, 1.0f);
    e.release = seconds(a.release, kMinReleaseTimecents, 8000);
    return e;
}

VoiceEnvelope VoiceEnvelope::start_modulation(const Articulation& a, int key) {
    VoiceEnvelope e;
    const int below_60 = 60 - key;
    e.level_scaled = false;
    e.delay = seconds(a.mod_delay, -12000, 5000);
    e.attack = seconds(a.mod_attack, -12000, 8000);
    e.hold = seconds(a.mod_hold + a.key_to_mod_hold * below_60, -12000, 5000);
    e.decay = seconds(a.mod_decay + a.key_to_mod_decay * below_60, -12000, 8000);
    e.sustain = std::clamp(1.0f - static_cast<float>(a.mod_sustain) / 1000.0f, 0.0f, 1.0f);
    e.release = seconds(a.mod_release, -12000, 8000);
    return e;
}

void VoiceEnvelope::advance(float dt) {
    while (dt > 0.0f) {
        switch (stage) {
            case kEnvDelay:
            case kEnvAttack:
            case kEnvHold: {
                const float length = stage == kEnvDelay    ? delay
                                     : stage == kEnvAttack ? attack
                                                           : hold;
                const float left = length - clock;
                if (dt < left) {
                    clock += dt;
                    if (stage == kEnvAttack) value = clock / attack;
                    return;
                }
                dt -= std::max(left, 0.0f);
                clock = 0.0f;
                value = stage == kEnvDelay ? 0.0f : 1.0f;
                stage = static_cast<EnvelopeStage>(stage + 1);
                break;
            }
            case kEnvDecay: {
                const float left = (value - sustain) * decay;  // seconds to the sustain level
                if (dt < left) {
                    value -= dt / decay;
                    return;
                }
                dt -= std::max(left, 0.0f);
                value = sustain;
                stage = value > 0.0f || !level_scaled ? kEnvSustain : kEnvDone;
                break;
            }
            case kEnvSustain:
                return;
            case kEnvRelease:
                value -= dt / release;
                if (value <= 0.0f) {
                    value = 0.0f;
                    stage = kEnvDone;
                }
                return;
            case kEnvDone:
                return;
        }
    }
}

void VoiceEnvelope::release_now(float release_seconds) {
    if (stage == kEnvDone) return;
    if (stage == kEnvDelay) {
        stage = kEnvDone;
        value = 0.0f;
        return;
    }
    // The attack rises in amplitude and the release falls in level: the
    // release starts from the level that gives the amplitude heard now.
    if (stage == kEnvAttack && level_scaled) {
        value =
            std::max(0.0f, 1.0f + 200.0f * std::log10(std::max(value, 1e-6f)) / kRangeCentibels);
    }
    release = release_seconds;
    stage = value > 0.0f ? kEnvRelease : kEnvDone;
}

float VoiceEnvelope::amplitude() const {
    switch (stage) {
        case kEnvDelay:
        case kEnvDone:
            return 0.0f;
        case kEnvAttack:
            return value;
        default:
            return std::pow(10.0f, -kRangeCentibels * (1.0f - value) / 200.0f);
    }
}

VoiceFilter VoiceFilter::start(int cutoff_cents, int q_centibels, int env_cents) {
    VoiceFilter f;
    f.cutoff = static_cast<float>(cutoff_cents);
    f.env_depth = static_cast<float>(env_cents);
    if (cutoff_cents < 13500 || cutoff_cents + env_cents < 13500) {
        f.on = true;
        // The resonance is a peak in decibels above a flat response, from a
        // Butterworth response at 0 (3.01 dB down at the cutoff).
        f.q = static_cast<float>(
            std::pow(10.0, (std::clamp(q_centibels, 0, 960) / 10.0 - 3.01) / 20.0));
    }
    return f;
}

void VoiceFilter::run(float* data, std::int64_t frames, int channels, float out_rate, float env) {
    if (!on) return;
    const float cents = std::clamp(cutoff + env_depth * env, 1500.0f, 13500.0f);
    if (rate != out_rate || std::fabs(cents - last_cutoff) > 1.0f) {
        rate = out_rate;
        last_cutoff = cents;
        const float hz = 8.176f * std::exp2(cents / 1200.0f);
        const float fc = std::min(hz, 0.45f * out_rate);
        const float omega = 2.0f * static_cast<float>(M_PI) * fc / out_rate;
        const float cosw = std::cos(omega);
        const float alpha = std::sin(omega) / (2.0f * q);
        const float a0 = 1.0f + alpha;
        b1 = (1.0f - cosw) / a0;
        b0 = b2 = b1 * 0.5f;
        a1 = -2.0f * cosw / a0;
        a2 = (1.0f - alpha) / a0;
    }
    for (int c = 0; c < channels; ++c) {
        float s1 = z1[c], s2 = z2[c];
        for (std::int64_t j = 0; j < frames; ++j) {
            float& x = data[j * channels + c];
            const float y = b0 * x + s1;
            s1 = b1 * x - a1 * y + s2;
            s2 = b2 * x - a2 * y;
            x = y;
        }
        z1[c] = s1;
        z2[c] = s2;
    }
}
