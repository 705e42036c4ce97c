#include "engine/render.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#if defined(__SSE__) || defined(__x86_64__)
#include <emmintrin.h>
#define PLEXORA_HAVE_MXCSR 1
#endif

#include "core/notify.h"
#include "core/reclaim.h"
#include "core/tables.h"
#include "engine/envelope.h"
#include "engine/voices.h"

namespace {

constexpr float kSemitone = 1.059463094f;
// Pitch is kept inside ten octaves either way of unity; anything beyond (an
// absurd bend range, a broken curve) is clamped rather than overflowing.
constexpr float kMinStep = 1.0f / 1024.0f;
constexpr float kMaxStep = 1024.0f;

// Flushes denormals to zero for the life of one buffer, then restores the
// caller's floating-point state.
class DenormalGuard {
  public:
    DenormalGuard() {
#ifdef PLEXORA_HAVE_MXCSR
        saved_ = _mm_getcsr();
        _mm_setcsr(saved_ | 0x8040);  // flush-to-zero and denormals-are-zero
#endif
    }
    ~DenormalGuard() {
#ifdef PLEXORA_HAVE_MXCSR
        _mm_setcsr(saved_);
#endif
    }

  private:
    unsigned saved_ = 0;
};

// Everything one voice needs from its sound, read once per buffer and
// checked, so that no later change by another thread can make the mix read
// outside the data.
struct SoundView {
    const std::int8_t* data;
    std::uint64_t last_index;  // highest frame index that may be read
    std::uint32_t bits;
    bool stereo;
    int shift;
};

// Mixes `n` output frames of one source format. Interpolates mono sources
// linearly; stereo sources take the nearest earlier frame of each side.
// `Stride` is the output frame size when known at compile time (0: `stride`).
template <typename Sample, bool Stereo, int Stride>
void mix_block(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n, float* out,
               std::uint32_t stride, float g1, float g2) {
    const Sample* src = reinterpret_cast<const Sample*>(sv.data);
    const std::uint64_t last = sv.last_index;
    const std::size_t os = Stride ? Stride : stride;
    float f = frac;
    for (int j = 0; j < n; ++j) {
        const int t = static_cast<int>(f);
        std::uint64_t i0 = pos + static_cast<std::uint64_t>(t);
        i0 = i0 < last ? i0 : last;
        float left;
        float right;
        if constexpr (Stereo) {
            left = static_cast<float>(src[2 * i0]) * g1;
            right = static_cast<float>(src[2 * i0 + 1]) * g2;
        } else {
            const float s0 = src[i0];
            const float s1 = src[i0 + 1];
            const float s = s0 + (s1 - s0) * (f - static_cast<float>(t));
            left = s * g1;
            right = s * g2;
        }
        if (os == 1) {
            out[j] += 0.5f * (left + right);  // a mono device hears both sides
        } else {
            out[j * os] += left;
            out[j * os + 1] += right;
        }
        f += step;
    }
    frac = f;
}

#ifdef __SSE2__
// The common case, 16-bit mono into a stereo device, four frames at a time.
// The positions of the four frames come from one running position, the
// samples are fetched in pairs (a frame and the next) and interpolated,
// panned and added to the output together. Returns the frames it rendered;
// the caller renders the rest (and everything, when positions would leave
// the range this path handles).
int mix_mono16_sse(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n,
                   float* out, float g1, float g2) {
    if (pos > sv.last_index) return 0;
    const std::uint64_t room = sv.last_index - pos;
    if (room > (1u << 30) || frac + static_cast<float>(n) * step >= static_cast<float>(1 << 30)) {
        return 0;
    }
    const auto lim = static_cast<std::uint32_t>(room);
    const auto* src = reinterpret_cast<const std::int16_t*>(sv.data) + pos;
    const __m128 offsets = _mm_mul_ps(_mm_set1_ps(step), _mm_set_ps(3.0f, 2.0f, 1.0f, 0.0f));
    const __m128 vg1 = _mm_set1_ps(g1);
    const __m128 vg2 = _mm_set1_ps(g2);
    const float step4 = 4.0f * step;
    float f = frac;
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        const __m128 vf = _mm_add_ps(_mm_set1_ps(f), offsets);
        const __m128i vt = _mm_cvttps_epi32(vf);
        const __m128 within = _mm_sub_ps(vf, _mm_cvtepi32_ps(vt));
        alignas(16) std::uint32_t idx[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(idx), vt);
        std::int32_t pair[4];
        for (int k = 0; k < 4; ++k) {
            const std::uint32_t i = idx[k] < lim ? idx[k] : lim;
            std::memcpy(&pair[k], src + i, sizeof pair[k]);  // this frame and the next
        }
        const __m128i vp = _mm_set_epi32(pair[3], pair[2], pair[1], pair[0]);
        const __m128 s0 = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(vp, 16), 16));
        const __m128 s1 = _mm_cvtepi32_ps(_mm_srai_epi32(vp, 16));
        const __m128 sv4 = _mm_add_ps(s0, _mm_mul_ps(_mm_sub_ps(s1, s0), within));
        const __m128 left = _mm_mul_ps(sv4, vg1);
        const __m128 right = _mm_mul_ps(sv4, vg2);
        float* o = out + 2 * j;
        _mm_storeu_ps(o, _mm_add_ps(_mm_loadu_ps(o), _mm_unpacklo_ps(left, right)));
        _mm_storeu_ps(o + 4, _mm_add_ps(_mm_loadu_ps(o + 4), _mm_unpackhi_ps(left, right)));
        f += step4;
    }
    frac = f;
    return j;
}
#endif

template <typename Sample, bool Stereo>
void mix_format(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n, float* out,
                std::uint32_t stride, float g1, float g2) {
    if (stride == 2) {
#ifdef __SSE2__
        if constexpr (std::is_same_v<Sample, std::int16_t> && !Stereo) {
            const int done = mix_mono16_sse(sv, pos, frac, step, n, out, g1, g2);
            if (done > 0) {
                // The last frames from where the four-at-a-time loop stopped.
                const int t = static_cast<int>(frac);
                float rest = frac - static_cast<float>(t);
                mix_block<Sample, Stereo, 2>(sv, pos + static_cast<std::uint64_t>(t), rest, step,
                                             n - done, out + 2 * done, stride, g1, g2);
                frac = rest + static_cast<float>(t);
                return;
            }
        }
#endif
        mix_block<Sample, Stereo, 2>(sv, pos, frac, step, n, out, stride, g1, g2);
    } else {
        mix_block<Sample, Stereo, 0>(sv, pos, frac, step, n, out, stride, g1, g2);
    }
}

void mix(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n, float* out,
         std::uint32_t stride, float g1, float g2) {
    if (sv.bits == 16) {
        if (sv.stereo) {
            mix_format<std::int16_t, true>(sv, pos, frac, step, n, out, stride, g1, g2);
        } else {
            mix_format<std::int16_t, false>(sv, pos, frac, step, n, out, stride, g1, g2);
        }
    } else if (sv.bits == 8) {
        if (sv.stereo) {
            mix_format<std::int8_t, true>(sv, pos, frac, step, n, out, stride, g1, g2);
        } else {
            mix_format<std::int8_t, false>(sv, pos, frac, step, n, out, stride, g1, g2);
        }
    } else {
        frac += step * static_cast<float>(n);  // unknown width: silent, but time goes on
    }
}

void end_voice(int v) {
    delnote(nlist[v].channel, nlist[v].key, 0, 0, v);
}

int clamp_key(std::int64_t k) {
    return static_cast<int>(std::clamp<std::int64_t>(k, 0, 127));
}

// Float to integer without undefined behaviour for NaN or huge values.
std::int64_t trunc_to_int(float x) {
    if (!(x == x)) return 0;
    if (x >= 9.0e18f) return INT64_MAX / 2;
    if (x <= -9.0e18f) return INT64_MIN / 2;
    return static_cast<std::int64_t>(x);
}

void render_voice(int v, float* out, std::int64_t frames, std::uint32_t stride, float out_rate) {
    NOTE_LIST& n = nlist[v];
    const std::uint32_t key = n.key;
    const p_s* s = sample_used(n.is_inst, n.index, key);
    if (!s || !s->data) {
        end_voice(v);
        return;
    }

    // Geometry. Frame size comes from bits and stereo, whatever `shift` says.
    const std::uint32_t bits = s->bits;
    const bool stereo = s->stereo != 0;
    int sh = frame_shift(bits, stereo);
    if (bits != 8 && bits != 16) sh = std::clamp<int>(s->shift, 0, 2);
    const std::uint64_t cap_frames = std::uint64_t{s->capacity} >> sh;
    if (cap_frames < 2) {
        end_voice(v);
        return;
    }
    const SoundView sv{s->data, cap_frames - 2, bits, stereo, sh};
    // A streamed sound's ring is refilled by the streaming reader, which
    // publishes each refill with a release store of its position.
    if (s->type == kTypeStreamed) (void)s->rd_frames.raw().load(std::memory_order_acquire);
    const std::uint64_t max_end = cap_frames - 1;

    const std::uint32_t end = n.end;
    const bool looping = s->loop != 0;
    const std::uint32_t loop_start_b = s->loop_start;
    const std::uint32_t loop_end_b = s->loop_end;
    std::uint64_t endf = end == 0 ? (std::uint64_t{s->size} >> sh) : end;
    if (looping) endf = std::uint64_t{loop_end_b} >> sh;
    endf = std::min(endf, max_end);
    const std::uint64_t loop_startf = std::min<std::uint64_t>(loop_start_b >> sh, endf);

    // Pitch.
    const int base = clamp_key(s->base);
    const float base_step =
        (static_cast<float>(s->rate) * inote[clamp_key(key)]) / (out_rate * inote[base]);
    if (!(base_step > 0.0f) || !std::isfinite(base_step)) {
        end_voice(v);  // a sound without a rate cannot play
        return;
    }

    const std::uint32_t ch = n.channel & (kChannels - 1);
    const std::uint16_t flags = s->flags;
    const std::uint32_t length = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{s->size} >> sh, UINT32_MAX));
    const bool released = n.release() > 255;
    const bool release_curve = released && (flags & (1u << kCurveVelocityOff));
    float step = base_step;
    float g1;
    float g2;
    if (end == 0) {
        float b = std::pow(kSemitone, ((static_cast<float>(ch_pitch[ch]) - 8192.0f) / 8192.0f) *
                                          (static_cast<float>(ch_pitchsens[ch]) / 100.0f));
        if (flags & (1u << kCurveCoarseTune)) {
            const float e3 = compute_adsr(kCurveCoarseTune, v, length, s);
            if (e3 != 64.0f) b *= std::pow(kSemitone, (e3 - 64.0f) / 64.0f);
        } else if (const std::int32_t tune = ch_ctune[ch]; tune != 64) {
            b *= std::pow(kSemitone, (static_cast<float>(tune) - 64.0f) / 64.0f);
        }
        step = base_step * b;
        if (!(step >= kMinStep)) step = kMinStep;  // also catches NaN
        if (step > kMaxStep) step = kMaxStep;

        auto vel = static_cast<std::int16_t>(n.velocity);
        if (release_curve) {
            const float e4 = compute_adsr(kCurveVelocityOff, v, s->rel_time, s);
            if (e4 == -1.0f) {
                n.velocity = 0;
                end_voice(v);
                return;
            }
            vel = static_cast<std::int16_t>(trunc_to_int(static_cast<float>(vel) * e4));
        }
        const float e0 =
            (flags & (1u << kCurveVelocity)) ? compute_adsr(kCurveVelocity, v, length, s) : 1.0f;
        std::int64_t pan = ch_pan[ch];
        if (flags & (1u << kCurvePanoramic)) {
            pan = trunc_to_int(compute_adsr(kCurvePanoramic, v, length, s));
        }
        pan = std::clamp<std::int64_t>(pan, 0, 127);
        const float main = static_cast<float>(ch_main[ch]) / 128.0f;
        g1 = static_cast<float>(vel) * tab_pan[pan] * main * e0;
        g2 = static_cast<float>(vel) * tab_pan[127 - pan] * main * e0;
    } else {
        if (released) {
            end_voice(v);  // a preview stops the moment it is told to
            return;
        }
        if (step > kMaxStep) step = kMaxStep;
        g1 = g2 = 127.0f;
    }
    const float scale = bits == 8 ? 1.0f / 16384.0f : 1.0f / 4194304.0f;
    g1 *= scale;
    g2 *= scale;

    // The block loop: one block, or several when the sound wraps inside the buffer.
    std::uint64_t pos = n.pos;
    float frac = n.frac;
    if (!(frac >= 0.0f && frac < 1.0f)) frac = 0.0f;
    std::int64_t remaining = frames;
    float* o = out;
    std::uint32_t rel_pos = n.rel_pos;
    bool stalled = false;  // a loop shorter than one step: active but silent
    for (;;) {
        const std::int64_t advance = trunc_to_int(static_cast<float>(remaining) * step + frac);
        if (pos >= endf) pos = loop_startf;
        std::int64_t count = remaining;
        const auto until_end = [&]() {
            const float left = static_cast<float>(static_cast<std::int64_t>(endf) -
                                                  static_cast<std::int64_t>(pos)) -
                               frac;
            return trunc_to_int(left / step);
        };
        if (static_cast<std::int64_t>(pos) + advance >= static_cast<std::int64_t>(endf)) {
            count = until_end();
            if (count <= 0 && !looping) {
                end_voice(v);
                return;
            }
            if (count == 0 && looping) {
                pos = loop_startf;
                count = remaining;
                if (static_cast<std::int64_t>(pos) + advance >= static_cast<std::int64_t>(endf)) {
                    count = until_end();
                }
            }
        }
        if (count <= 0) {
            stalled = true;
            break;
        }
        count = std::min(count, remaining);
        mix(sv, pos, frac, step, static_cast<int>(count), o, stride, g1, g2);
        const std::int64_t whole = trunc_to_int(frac);
        frac -= static_cast<float>(whole);
        pos = std::min<std::uint64_t>(
            pos + static_cast<std::uint64_t>(std::max<std::int64_t>(whole, 0)), UINT32_MAX);
        o += count * stride;
        remaining -= count;
        if (release_curve) {
            rel_pos = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                std::uint64_t{rel_pos} + static_cast<std::uint64_t>(advance), UINT32_MAX));
        }
        if (remaining != 0 && looping && loop_start_b < loop_end_b) {
            pos = loop_startf;
            continue;
        }
        break;
    }
    n.frac = frac;
    // Release: the streaming reader refills only what this position has passed.
    n.pos.raw().store(static_cast<std::uint32_t>(pos), std::memory_order_release);
    if (release_curve) n.rel_pos = rel_pos;

    if (stalled) return;
    if ((pos >= endf && !looping) || n.stop) {
        n.stop = false;
        end_voice(v);
        if (end != 0 && prin) post_preview_ended();
    }
}

}  // namespace

void BufferProc(void* /*cookie*/, void* buffer, std::size_t size, const raw_audio_format& format) {
    float* out = static_cast<float*>(buffer);
    const std::size_t floats = size / sizeof(float);
    audbuf = out;
    sizbuf = static_cast<std::uint32_t>(std::min<std::size_t>(floats, UINT32_MAX));
    if (format.format != kFormatFloat || !out) return;
    std::memset(out, 0, floats * sizeof(float));
    const std::uint32_t channels = format.channel_count;
    const float rate = format.frame_rate;
    if (channels == 0 || !(rate > 0.0f) || !std::isfinite(rate)) return;
    const auto frames = static_cast<std::int64_t>(floats / channels);

    DenormalGuard denormals;
    {
        reclaim::ReadSection section;
        for (int v = 0; v < kVoices; ++v) {
            if (nlist[v].active.load(std::memory_order_acquire) == 1) {
                render_voice(v, out, frames, channels, rate);
            }
        }
    }
    for (std::size_t i = 0; i < floats; ++i) {
        float x = out[i] / 4.0f;
        if (x > 1.0f) x = 1.0f;
        if (x < -1.0f) x = -1.0f;
        out[i] = x;
    }
}
