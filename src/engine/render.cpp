#include "engine/render.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define PLEXORA_HAVE_MXCSR 1
#endif

#include "core/notify.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/channel_stage.h"
#include "engine/channels.h"
#include "engine/envelope.h"
#include "engine/mix.h"
#include "engine/output_level.h"
#include "engine/scope.h"
#include "engine/stream.h"
#include "engine/tone_tables.h"
#include "engine/voice_table.h"
#include "engine/voices.h"

std::atomic<std::uint64_t> stream_underruns{0};

namespace {

// Gain scales: a voice's gain is its velocity (up to 127) times pan and volume
// factors below 1, so these bring a full-scale 8-bit (2^7) or 16-bit (2^15)
// sample at velocity 128 to 1.0 (2^7 * 2^7 = 16384, 2^15 * 2^7 = 4194304)...
constexpr float kGain8 = 1.0f / 16384.0f;
constexpr float kGain16 = 1.0f / 4194304.0f;
// ...and the mix is divided by 4 before the clip (finish_output), so four
// such voices together reach full scale.

constexpr double kSemitone = 1.059463094;
// Pitch is kept inside ten octaves either way of unity; anything beyond (an
// absurd bend range, a broken curve) is clamped rather than overflowing.
constexpr float kMinStep = 1.0f / 1024.0f;
constexpr float kMaxStep = 1024.0f;

// The render callback's last power of the semitone for each source of an
// exponent, so that many voices on few channels compute each power once.
// Audio thread only.
struct SemitonePower {
    double exponent = 0.0;
    double value = 1.0;
};
SemitonePower bend_memo[kChannels];
SemitonePower tune_memo[kChannels];
SemitonePower tune_curve_memo[kVoices];

double semitone_pow(SemitonePower& memo, double exponent) {
    if (exponent != memo.exponent) {
        memo.value = std::pow(kSemitone, exponent);
        memo.exponent = exponent;
    }
    return memo.value;
}

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

// Ends the voice the callback is in; always true, for `return end_voice(v);`.
bool end_voice(int v) {
    end_voice_inside(v);
    return true;
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

// The frame a streamed voice at ring frame `pos` must not reach yet: the
// start of a refill half the streaming reader has not refilled for this lap
// (`state` says which half it fills next), or the start of the one after
// when the next is ready. Past the end of the ring playback wraps to the
// first half, checked again after the wrap. UINT64_MAX: no limit.
std::uint64_t stream_wait_frame(std::uint64_t pos, std::uint64_t half, std::uint64_t endf,
                                std::uint16_t state) {
    if (half == 0) return UINT64_MAX;
    if (pos < half) return state == kSecondHalfDue ? 2 * half : half;
    if (pos < 2 * half) return state == kFirstHalfDue ? endf : 2 * half;
    return state == kSecondHalfDue ? UINT64_MAX : endf;
}

// Output frames whose positions, frac + step + step ..., stay below `room`
// and whose end position does too; at most `most`.
std::int64_t frames_below(float room, float frac, float step, std::int64_t most) {
    std::int64_t c = 0;
    for (float g = frac; c < most; ++c) {
        g += step;
        if (!(g < room)) break;
    }
    return c;
}

// Renders one voice the callback has entered. True when it ended the voice
// (which also left it).
bool render_voice(int v, float* out, std::int64_t frames, std::uint32_t stride, float out_rate) {
    NOTE_LIST& n = nlist[v];
    const std::uint32_t key = n.key;
    const p_s* s = voice_sound(v, true);
    if (!s || !s->data) {
        return end_voice(v);
    }

    // Geometry. Frame size comes from bits and stereo, whatever `shift` says.
    const std::uint32_t bits = s->bits;
    const bool stereo = s->stereo != 0;
    int sh = frame_shift(bits, stereo);
    if (bits != 8 && bits != 16) sh = std::clamp<int>(s->shift, 0, 2);
    const std::uint64_t cap_frames = std::uint64_t{s->capacity} >> sh;
    if (cap_frames < 2) {
        return end_voice(v);
    }
    const SoundView sv{s->data, cap_frames - 2, bits, stereo, sh};
    // A streamed sound's ring is refilled by the streaming reader, which
    // publishes each refill with a release store of its position.
    const bool streamed = s->type == kTypeStreamed;
    if (streamed) (void)s->rd_frames.raw().load(std::memory_order_acquire);
    const std::uint64_t max_end = cap_frames - 1;

    const std::uint32_t end = n.end;
    // A streamed sound loops over its ring, whose shape comes from the
    // record's buffer size alone, the same shape the streaming reader fills.
    RingGeometry ring{};
    if (streamed && !ring_geometry(*s, &ring)) {
        return end_voice(v);
    }
    const bool looping = streamed || s->loop != 0;
    const std::uint32_t loop_start_b = s->loop_start;
    const std::uint32_t loop_end_b = s->loop_end;
    std::uint64_t endf = end == 0 ? (std::uint64_t{s->size} >> sh) : end;
    if (streamed) {
        endf = ring.end;
    } else if (looping) {
        endf = std::uint64_t{loop_end_b} >> sh;
    }
    // A preview started before its sound was shortened stops at the new end.
    if (end != 0 && !streamed) endf = std::min(endf, std::uint64_t{s->size} >> sh);
    endf = std::min(endf, max_end);
    const std::uint64_t loop_startf =
        std::min<std::uint64_t>(streamed ? ring.half : loop_start_b >> sh, endf);
    const bool loop_has_room = streamed ? ring.half < ring.end : loop_start_b < loop_end_b;

    // Pitch.
    const int base = clamp_key(s->base);
    const float base_step =
        (static_cast<float>(s->rate) * inote[clamp_key(key)]) / (out_rate * inote[base]);
    if (!(base_step > 0.0f) || !std::isfinite(base_step)) {
        return end_voice(v);  // a sound without a rate cannot play
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
        // The bend and tuning factors in double precision, rounded to float once.
        double b =
            semitone_pow(bend_memo[ch], ((static_cast<double>(ch_pitch[ch]) - 8192.0) / 8192.0) *
                                            (static_cast<double>(ch_pitchsens[ch]) / 100.0));
        if (flags & (1u << kCurveCoarseTune)) {
            const float e3 = compute_adsr(kCurveCoarseTune, v, length, s);
            if (e3 != 64.0f) {
                b *= semitone_pow(tune_curve_memo[v], (static_cast<double>(e3) - 64.0) / 64.0);
            }
        } else if (const std::int32_t tune = ch_ctune[ch]; tune != 64) {
            b *= semitone_pow(tune_memo[ch], (static_cast<double>(tune) - 64.0) / 64.0);
        }
        const StageVoice stage = stage_voice(ch);
        step = base_step * static_cast<float>(b) * stage.pitch;
        if (!(step >= kMinStep)) step = kMinStep;  // also catches NaN
        if (step > kMaxStep) step = kMaxStep;

        auto vel = static_cast<std::int16_t>(n.velocity);
        if (release_curve) {
            const float e4 = compute_adsr(kCurveVelocityOff, v, s->rel_time, s);
            if (e4 == -1.0f) {
                n.velocity = 0;
                return end_voice(v);
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
        g1 *= stage.gain;
        g2 *= stage.gain;
    } else {
        if (released) {
            return end_voice(v);  // a preview stops the moment it is told to
        }
        if (step > kMaxStep) step = kMaxStep;
        g1 = g2 = 127.0f;
    }
    const float scale = bits == 8 ? kGain8 : kGain16;
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
                return end_voice(v);
            }
            if (count == 0 && looping) {
                pos = loop_startf;
                count = remaining;
                if (static_cast<std::int64_t>(pos) + advance >= static_cast<std::int64_t>(endf)) {
                    count = until_end();
                }
            }
        }
        // A streamed voice never plays a half the reader has not refilled:
        // it stops short of it, silent for the rest of the buffer, and goes
        // on from the same place once the half is ready.
        bool wait = false;
        SoundView view = sv;
        if (streamed && count > 0) {
            const std::uint16_t state = s->d2d_state.raw().load(std::memory_order_acquire);
            const std::uint64_t at = stream_wait_frame(pos, loop_startf, endf, state);
            if (at <= endf &&
                pos + static_cast<std::uint64_t>(std::max<std::int64_t>(advance, 0)) + 2 >= at) {
                const std::int64_t fit = frames_below(static_cast<float>(at - pos), frac, step,
                                                      std::min(count, remaining));
                if (fit < std::min(count, remaining)) {
                    count = fit;
                    wait = true;
                    // The mix may read past its last frame (vector lanes
                    // beyond the count); none of it may reach the half the
                    // reader is writing now.
                    view.last_index = std::min<std::uint64_t>(sv.last_index, at >= 2 ? at - 2 : 0);
                    stream_underruns.fetch_add(1, std::memory_order_relaxed);
                }
            }
        }
        if (count <= 0 && !wait) {
            stalled = true;
            break;
        }
        count = std::min(count, remaining);
        if (count > 0) mix(view, pos, frac, step, static_cast<int>(count), o, stride, g1, g2);
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
        if (wait) break;
        if (remaining != 0 && looping && loop_has_room) {
            pos = loop_startf;
            continue;
        }
        break;
    }
    n.frac = frac;
    // Release: the streaming reader refills only what this position has passed.
    n.pos.raw().store(static_cast<std::uint32_t>(pos), std::memory_order_release);
    if (release_curve) n.rel_pos = rel_pos;

    if (stalled) return false;
    if ((pos >= endf && !looping) || voice_stop_asked(v)) {
        end_voice(v);
        if (end != 0 && prin) post_preview_ended();
        return true;
    }
    return false;
}

}  // namespace

void BufferProc(void* /*cookie*/, void* buffer, std::size_t size, const raw_audio_format& format) {
    float* out = static_cast<float*>(buffer);
    const std::size_t floats = size / sizeof(float);
    if (format.format != kFormatFloat || !out) return;
    std::memset(out, 0, floats * sizeof(float));
    const std::uint32_t channels = format.channel_count;
    const float rate = format.frame_rate;
    if (channels == 0 || !(rate > 0.0f) || !std::isfinite(rate)) return;
    const auto frames = static_cast<std::int64_t>(floats / channels);

    DenormalGuard denormals;
    {
        // With every reader slot taken (more reading threads than the pool
        // holds) this buffer stays silent rather than waiting.
        reclaim::ReadSection section(reclaim::no_wait);
        stage_begin(frames, channels, rate);
        // The states first, in one pass of loads that do not wait on each
        // other; only voices found playing are entered (which checks again).
        // A voice that starts meanwhile plays from the next buffer.
        // Each word is gathered in a register: or-ing into memory would
        // chain every load to the one before.
        std::uint64_t playing[kVoices / 64];
        for (int w = 0; w < kVoices / 64; ++w) {
            std::uint64_t bits = 0;
            for (int b = 0; b < 64; ++b) bits |= std::uint64_t{nlist[64 * w + b].playing()} << b;
            playing[w] = bits;
        }
        for (int w = 0; section.entered() && w < kVoices / 64; ++w) {
            for (std::uint64_t bits = playing[w]; bits != 0; bits &= bits - 1) {
                const int v = 64 * w + std::countr_zero(bits);
                if (!enter_voice(v)) continue;
                // Previews from the sample editor belong to no channel.
                float* target = nlist[v].end ? out : stage_target(nlist[v].channel, out);
                if (!render_voice(v, target, frames, channels, rate)) leave_voice(v);
            }
        }
        stage_end(out);
    }
    finish_output(out, floats);
    scope_write(out, floats, channels);
}
