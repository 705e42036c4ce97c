#include "engine/channel_stage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "engine/channels.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kTopHz = 20000.0f;
constexpr float kBottomHz = 100.0f;
// Critically damped (Q = 1/2): the response to a sudden change never
// overshoots, not even while the cutoff moves. Its natural frequency sits
// above the -3 dB point by this factor.
constexpr float kDamping = 2.0f;
constexpr float kNaturalPerCutoff = 1.5538f;
constexpr double kVibratoHz = 5.5;
constexpr float kVibratoSemitones = 0.5f;  // at modulation 127

// A two-pole low-pass state-variable filter in its trapezoidal form, which
// stays stable however fast its cutoff moves.
struct Svf {
    float ic1 = 0.0f;
    float ic2 = 0.0f;
    float run(float x, float a1, float a2, float a3) {
        const float v3 = x - ic2;
        const float v1 = a1 * ic1 + a2 * v3;
        const float v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0f * v1 - ic1;
        ic2 = 2.0f * v2 - ic2;
        return v2;
    }
};

struct Coefficients {
    float a1, a2, a3;
    explicit Coefficients(float g) {
        a1 = 1.0f / (1.0f + g * (g + kDamping));
        a2 = g * a1;
        a3 = g * a2;
    }
};

// Audio thread only.
struct Channel {
    // As the last buffer ended.
    float gain = 1.0f;  // 1 heard, 0 muted
    int lpf = 0;
    float g = 0.0f;  // the filter's warped cutoff
    Svf side[2];
    double phase = 0.0;  // vibrato, in cycles
    int mod = 0;
    // This buffer.
    bool own = false;
    bool filter = false;
    bool start = false;   // the filter starts in this buffer...
    bool finish = false;  // ...or stops at its end
    float gain_to = 1.0f;
    float g_to = 0.0f;
    StageVoice voice;
};

Channel chans[kChannels];
float buffers[kChannels][kStageFrames * 2];
std::int64_t cur_frames = 0;
std::uint32_t cur_stride = 2;

// The filter's coefficient for a -3 dB point at `hz`.
float warped(float hz, float rate) {
    hz = std::min(hz * kNaturalPerCutoff, 0.45f * rate);
    return static_cast<float>(std::tan(kPi * hz / rate));
}

void run_filter(Channel& c, float* buf, std::int64_t frames, std::uint32_t stride) {
    const int sides = stride == 1 ? 1 : 2;
    if (c.start) {
        // Starting: the memories take the first input as if it had always
        // been there, so the output starts where the input is.
        for (int s = 0; s < sides; ++s) c.side[s] = Svf{0.0f, buf[s]};
    }
    const float from = c.g;
    const float to = c.g_to;
    if (from == to && !c.start && !c.finish) {
        const Coefficients k(to);
        for (std::int64_t j = 0; j < frames; ++j)
            for (int s = 0; s < sides; ++s)
                buf[j * stride + s] = c.side[s].run(buf[j * stride + s], k.a1, k.a2, k.a3);
        return;
    }
    // The cutoff glides; a filter that starts or stops also fades between
    // the plain and the filtered sound, so that neither end jumps.
    const float d = (to - from) / static_cast<float>(frames);
    const float plain_from = c.start ? 1.0f : 0.0f;
    const float plain_d = ((c.finish ? 1.0f : 0.0f) - plain_from) / static_cast<float>(frames);
    for (std::int64_t j = 0; j < frames; ++j) {
        const float t = static_cast<float>(j + 1);
        const Coefficients k(from + d * t);
        const float plain = plain_from + plain_d * t;
        for (int s = 0; s < sides; ++s) {
            const float x = buf[j * stride + s];
            const float y = c.side[s].run(x, k.a1, k.a2, k.a3);
            buf[j * stride + s] = y + (x - y) * plain;
        }
    }
}

void add_into(float* out, const float* buf, std::size_t floats) {
    std::size_t i = 0;
#ifdef __SSE2__
    for (; i + 4 <= floats; i += 4)
        _mm_storeu_ps(out + i, _mm_add_ps(_mm_loadu_ps(out + i), _mm_loadu_ps(buf + i)));
#endif
    for (; i < floats; ++i) out[i] += buf[i];
}

#ifdef __SSE2__
// Filters whose cutoff holds still, on channels heard all through, run side
// by side: each vector holds the left and right of two channels, four
// vectors are in flight so that their feedback delays overlap, and the
// filtered frames go straight into the output.
float spare[kStageFrames * 2];  // the partner of a channel left without one

void run_steady_filters(Channel* const* list, float* const* bufs, int count, std::int64_t frames,
                        float* out) {
    for (int first = 0; first < count; first += 8) {
        const int n = std::min(8, count - first);
        Svf unused[2];
        const float* src[8];
        Svf* mem[8][2];
        alignas(16) float a[3][4][4];
        for (int i = 0; i < 8; ++i) {
            const bool real = i < n;
            src[i] = real ? bufs[first + i] : spare;
            mem[i][0] = real ? &list[first + i]->side[0] : &unused[0];
            mem[i][1] = real ? &list[first + i]->side[1] : &unused[1];
            const Coefficients k(real ? list[first + i]->g_to : 0.0f);
            for (int side = 0; side < 2; ++side) {
                a[0][i / 2][(i % 2) * 2 + side] = k.a1;
                a[1][i / 2][(i % 2) * 2 + side] = k.a2;
                a[2][i / 2][(i % 2) * 2 + side] = k.a3;
            }
        }
        __m128 ic1[4], ic2[4];
        for (int v = 0; v < 4; ++v) {
            const int p = 2 * v;
            ic1[v] =
                _mm_setr_ps(mem[p][0]->ic1, mem[p][1]->ic1, mem[p + 1][0]->ic1, mem[p + 1][1]->ic1);
            ic2[v] =
                _mm_setr_ps(mem[p][0]->ic2, mem[p][1]->ic2, mem[p + 1][0]->ic2, mem[p + 1][1]->ic2);
        }
        const __m128 two = _mm_set1_ps(2.0f);
        const auto step = [&](int v, std::int64_t j) {
            const __m128 x =
                _mm_loadh_pi(_mm_loadl_pi(_mm_setzero_ps(), (const __m64*)(src[2 * v] + 2 * j)),
                             (const __m64*)(src[2 * v + 1] + 2 * j));
            const __m128 a1 = _mm_load_ps(a[0][v]);
            const __m128 a2 = _mm_load_ps(a[1][v]);
            const __m128 a3 = _mm_load_ps(a[2][v]);
            const __m128 v3 = _mm_sub_ps(x, ic2[v]);
            const __m128 v1 = _mm_add_ps(_mm_mul_ps(a1, ic1[v]), _mm_mul_ps(a2, v3));
            const __m128 v2 =
                _mm_add_ps(ic2[v], _mm_add_ps(_mm_mul_ps(a2, ic1[v]), _mm_mul_ps(a3, v3)));
            ic1[v] = _mm_sub_ps(_mm_mul_ps(two, v1), ic1[v]);
            ic2[v] = _mm_sub_ps(_mm_mul_ps(two, v2), ic2[v]);
            return v2;
        };
        for (std::int64_t j = 0; j < frames; ++j) {
            const __m128 y =
                _mm_add_ps(_mm_add_ps(step(0, j), step(1, j)), _mm_add_ps(step(2, j), step(3, j)));
            // Lanes 0, 1 and 2, 3 are two channels' left and right: add both.
            const __m128 both = _mm_add_ps(y, _mm_movehl_ps(y, y));
            float* o = out + 2 * j;
            _mm_storel_pi((__m64*)o,
                          _mm_add_ps(_mm_loadl_pi(_mm_setzero_ps(), (const __m64*)o), both));
        }
        for (int v = 0; v < 4; ++v) {
            alignas(16) float m1[4], m2[4];
            _mm_store_ps(m1, ic1[v]);
            _mm_store_ps(m2, ic2[v]);
            for (int l = 0; l < 4; ++l) {
                Svf* m = mem[2 * v + l / 2][l % 2];
                m->ic1 = m1[l];
                m->ic2 = m2[l];
            }
        }
    }
}
#endif

}  // namespace

float lpf_cutoff(int value) {
    value = std::clamp(value, 1, 127);
    return kTopHz * std::pow(kBottomHz / kTopHz, static_cast<float>(value - 1) / 126.0f);
}

void stage_begin(std::int64_t frames, std::uint32_t stride, float rate) {
    cur_frames = frames;
    cur_stride = stride;
    const bool fits = frames > 0 && frames <= kStageFrames && (stride == 1 || stride == 2);
    // Vibrato cycles this buffer lasts.
    const double span = kVibratoHz * static_cast<double>(frames) / rate;
    for (int ch = 0; ch < kChannels; ++ch) {
        Channel& c = chans[ch];
        const int lpf = std::clamp<int>(ch_lpf[ch], 0, 127);
        const int mod = std::clamp<int>(ch_mod[ch], 0, 127);
        c.gain_to = mute[ch] ? 0.0f : 1.0f;
        const bool silent = c.gain == 0.0f && c.gain_to == 0.0f;
        c.filter = fits && !silent && (lpf > 0 || c.lpf > 0);
        c.own = fits && !silent && (c.filter || c.gain != c.gain_to);
        c.start = c.filter && c.lpf == 0;
        c.finish = c.filter && lpf == 0;
        c.voice = StageVoice{};
        if (!c.own) {
            // Open, or silent all through (or a buffer too long for the
            // stage): no buffer of its own, no filter memories.
            c.voice.gain = c.gain_to;
            c.gain = c.gain_to;
            c.lpf = 0;
            c.side[0] = c.side[1] = Svf{};
        }
        if (c.filter) {
            c.g_to = warped(lpf > 0 ? lpf_cutoff(lpf) : kTopHz, rate);
            if (c.start) c.g = warped(kTopHz, rate);
            c.lpf = lpf;  // 0 when gliding out: open again from the next buffer
        }
        if (c.own) std::memset(buffers[ch], 0, sizeof(float) * std::size_t(frames) * stride);

        // The vibrato starts from no deviation whenever the wheel leaves 0.
        if (c.mod == 0) c.phase = 0.0;
        c.mod = mod;
        if (mod > 0 && span > 0.0 && std::isfinite(span)) {
            const double mid = c.phase + 0.5 * span;
            const float depth = kVibratoSemitones * static_cast<float>(mod) / 127.0f;
            c.voice.pitch =
                std::exp2(depth * static_cast<float>(std::sin(2.0 * kPi * mid)) / 12.0f);
            c.phase = std::fmod(c.phase + span, 1.0);
        }
    }
}

float* stage_target(std::uint32_t ch, float* out) {
    Channel& c = chans[ch & (kChannels - 1)];
    return c.own ? buffers[ch & (kChannels - 1)] : out;
}

StageVoice stage_voice(std::uint32_t ch) {
    return chans[ch & (kChannels - 1)].voice;
}

void stage_end(float* out) {
    const std::int64_t frames = cur_frames;
    const std::uint32_t stride = cur_stride;
    bool added[kChannels] = {};
#ifdef __SSE2__
    Channel* steady[kChannels];
    float* steady_bufs[kChannels];
    int n_steady = 0;
#endif
    for (int ch = 0; ch < kChannels; ++ch) {
        Channel& c = chans[ch];
        if (!c.filter) continue;
#ifdef __SSE2__
        if (stride == 2 && !c.start && !c.finish && c.g == c.g_to && c.gain == c.gain_to) {
            steady[n_steady] = &c;
            steady_bufs[n_steady++] = buffers[ch];
            added[ch] = true;
            continue;
        }
#endif
        run_filter(c, buffers[ch], frames, stride);
        c.g = c.g_to;
    }
#ifdef __SSE2__
    run_steady_filters(steady, steady_bufs, n_steady, frames, out);
#endif
    const std::size_t floats = static_cast<std::size_t>(frames) * stride;
    for (int ch = 0; ch < kChannels; ++ch) {
        Channel& c = chans[ch];
        if (!c.own || added[ch]) continue;
        const float* buf = buffers[ch];
        if (c.gain == c.gain_to) {
            add_into(out, buf, floats);  // heard all through
            continue;
        }
        const float from = c.gain;
        const float d = (c.gain_to - from) / static_cast<float>(frames);
        for (std::int64_t j = 0; j < frames; ++j) {
            const float gain = from + d * static_cast<float>(j + 1);
            for (std::uint32_t s = 0; s < stride; ++s)
                out[j * stride + s] += buf[j * stride + s] * gain;
        }
        c.gain = c.gain_to;
    }
}

void stage_reset() {
    for (Channel& c : chans) c = Channel{};
}
