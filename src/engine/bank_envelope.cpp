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
                stage = value > 0.0f ? kEnvSustain : kEnvDone;
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
    if (stage == kEnvAttack) {
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
