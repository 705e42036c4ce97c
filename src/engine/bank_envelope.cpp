#include "engine/bank_envelope.h"

#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/articulation.h"

namespace {

// Levels span 96 dB (960 centibels) from the peak to silence.
constexpr float kRangeCentibels = 960.0f;
// The cutoff from which a voice's filter is left out.
constexpr int kAudibleCutoff = 13000;
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

void VoiceFilter::group_coefficients() {
    // The transposed second-order section as a state space: state (s1, s2),
    // s' = A s + B x, y = C s + D x with C = (1, 0).
    const float A[2][2] = {{-a1, 1.0f}, {-a2, 0.0f}};
    const float B[2] = {b1 - a1 * b0, b2 - a2 * b0};
    float P[5][2][2];  // the powers of A
    P[0][0][0] = P[0][1][1] = 1.0f;
    P[0][0][1] = P[0][1][0] = 0.0f;
    for (int k = 1; k <= 4; ++k)
        for (int r = 0; r < 2; ++r)
            for (int c = 0; c < 2; ++c)
                P[k][r][c] = P[k - 1][r][0] * A[0][c] + P[k - 1][r][1] * A[1][c];
    for (int k = 0; k < 4; ++k) {
        from_s1[k] = P[k][0][0];
        from_s2[k] = P[k][0][1];
        impulse[k] = k == 0 ? b0 : P[k - 1][0][0] * B[0] + P[k - 1][0][1] * B[1];
    }
    for (int r = 0; r < 2; ++r) {
        float* next = r == 0 ? next_s1 : next_s2;
        next[0] = P[4][r][0];
        next[1] = P[4][r][1];
        for (int i = 0; i < 4; ++i)  // input i reaches the state through A^(3 - i) B
            next[2 + i] = P[3 - i][r][0] * B[0] + P[3 - i][r][1] * B[1];
    }
}

VoiceFilter VoiceFilter::start(int cutoff_cents, int q_centibels, int env_cents) {
    VoiceFilter f;
    f.cutoff = static_cast<float>(cutoff_cents);
    f.env_depth = static_cast<float>(env_cents);
    if (std::min(cutoff_cents, cutoff_cents + env_cents) < kAudibleCutoff) {
        f.on = true;
        // The resonance is a peak in decibels above a flat response, from a
        // Butterworth response at 0 (3.01 dB down at the cutoff).
        f.q = static_cast<float>(
            std::pow(10.0, (std::clamp(q_centibels, 0, 960) / 10.0 - 3.01) / 20.0));
    }
    return f;
}

void VoiceFilter::run(float* data, std::int64_t frames, int stride, int channels, float out_rate,
                      float env) {
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
        group_coefficients();
    }
    // In locals, so that the loop keeps them in registers (the data could
    // alias the members as far as the compiler knows).
    const float k0 = b0, k1 = b1, k2 = b2, p1 = a1, p2 = a2;
    float n1[6], n2[6];
    std::copy(std::begin(next_s1), std::end(next_s1), n1);
    std::copy(std::begin(next_s2), std::end(next_s2), n2);
#if defined(__SSE2__)
    const __m128 f1 = _mm_loadu_ps(from_s1), f2 = _mm_loadu_ps(from_s2);
    // Column i of the group's response to its inputs: the impulse from frame i on.
    const __m128 h0 = _mm_loadu_ps(impulse);
    const __m128 h1 = _mm_setr_ps(0.0f, impulse[0], impulse[1], impulse[2]);
    const __m128 h2 = _mm_setr_ps(0.0f, 0.0f, impulse[0], impulse[1]);
    const __m128 h3 = _mm_setr_ps(0.0f, 0.0f, 0.0f, impulse[0]);
#endif
    for (int c = 0; c < channels; ++c) {
        float s1 = z1[c], s2 = z2[c];
        std::int64_t j = 0;
        for (; j + 4 <= frames; j += 4) {
            float* at = data + j * stride + c;
            const float x0 = at[0], x1 = at[stride], x2 = at[2 * stride], x3 = at[3 * stride];
            float y[4];
#if defined(__SSE2__)
            const __m128 from_state =
                _mm_add_ps(_mm_mul_ps(f1, _mm_set1_ps(s1)), _mm_mul_ps(f2, _mm_set1_ps(s2)));
            const __m128 from_inputs = _mm_add_ps(
                _mm_add_ps(_mm_mul_ps(h0, _mm_set1_ps(x0)), _mm_mul_ps(h1, _mm_set1_ps(x1))),
                _mm_add_ps(_mm_mul_ps(h2, _mm_set1_ps(x2)), _mm_mul_ps(h3, _mm_set1_ps(x3))));
            _mm_storeu_ps(y, _mm_add_ps(from_state, from_inputs));
#else
            const float x[4] = {x0, x1, x2, x3};
            for (int k = 0; k < 4; ++k) {
                y[k] = from_s1[k] * s1 + from_s2[k] * s2;
                for (int i = 0; i <= k; ++i) y[k] += impulse[k - i] * x[i];
            }
#endif
            const float u1 = n1[2] * x0 + n1[3] * x1 + n1[4] * x2 + n1[5] * x3;
            const float u2 = n2[2] * x0 + n2[3] * x1 + n2[4] * x2 + n2[5] * x3;
            const float t1 = n1[0] * s1 + n1[1] * s2 + u1;
            s2 = n2[0] * s1 + n2[1] * s2 + u2;
            s1 = t1;
            at[0] = y[0];
            at[stride] = y[1];
            at[2 * stride] = y[2];
            at[3 * stride] = y[3];
        }
        for (; j < frames; ++j) {
            float& x = data[j * stride + c];
            const float y = k0 * x + s1;
            s1 = k1 * x - p1 * y + s2;
            s2 = k2 * x - p2 * y;
            x = y;
        }
        z1[c] = s1;
        z2[c] = s2;
    }
}
