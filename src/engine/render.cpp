#include "engine/render.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define PLEXORA_HAVE_MXCSR 1
#endif

#include "core/articulation.h"
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

// What the block loop of one voice reads, fixed for the buffer.
struct Span {
    SoundView sv;
    const p_s* s;
    bool streamed, looping, loop_has_room, release_curve;
    std::uint64_t endf, loop_startf;
    float step;
    std::uint32_t stride;
    float g1, g2;
};

enum class SpanEnd {
    kPlayed,     // every frame, or up to a half the streaming reader has not refilled
    kStalled,    // a loop shorter than one step: active but silent
    kSoundEnded  // the sound ended and does not loop
};

// Mixes `frames` output frames of a voice into `out` from `pos` and `frac`,
// which come back moved on (and `rel_pos` with them while a release curve
// plays); wraps at the loop as often as the frames need.
SpanEnd mix_span(const Span& sp, std::uint64_t& pos, float& frac, std::uint32_t& rel_pos,
                 float* out, std::int64_t frames) {
    const float step = sp.step;
    const std::uint64_t endf = sp.endf;
    const std::uint64_t loop_startf = sp.loop_startf;
    const bool looping = sp.looping;
    std::int64_t remaining = frames;
    float* o = out;
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
            if (count <= 0 && !looping) return SpanEnd::kSoundEnded;
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
        SoundView view = sp.sv;
        if (sp.streamed && count > 0) {
            const std::uint16_t state = sp.s->d2d_state.raw().load(std::memory_order_acquire);
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
                    view.last_index =
                        std::min<std::uint64_t>(sp.sv.last_index, at >= 2 ? at - 2 : 0);
                    stream_underruns.fetch_add(1, std::memory_order_relaxed);
                }
            }
        }
        if (count <= 0 && !wait) return SpanEnd::kStalled;  // a loop shorter than one step
        count = std::min(count, remaining);
        if (count > 0)
            mix(view, pos, frac, step, static_cast<int>(count), o, sp.stride, sp.g1, sp.g2);
        const std::int64_t whole = trunc_to_int(frac);
        frac -= static_cast<float>(whole);
        pos = std::min<std::uint64_t>(
            pos + static_cast<std::uint64_t>(std::max<std::int64_t>(whole, 0)), UINT32_MAX);
        o += count * sp.stride;
        remaining -= count;
        if (sp.release_curve) {
            rel_pos = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                std::uint64_t{rel_pos} + static_cast<std::uint64_t>(advance), UINT32_MAX));
        }
        if (wait) break;
        if (remaining != 0 && looping && sp.loop_has_room) {
            pos = loop_startf;
            continue;
        }
        break;
    }
    return SpanEnd::kPlayed;
}

// Mixes `frames` frames of a looping voice played as set: every frame
// whose position lies before the loop's end plays, and the position wraps
// back by the loop's length exactly, so that a loop of a few dozen frames
// keeps its pitch.
void mix_loop_exact(const Span& sp, std::uint64_t& pos, float& frac, float* out,
                    std::int64_t frames) {
    const std::uint64_t length = sp.endf - sp.loop_startf;
    while (frames > 0) {
        if (pos >= sp.endf) pos = sp.loop_startf + (pos - sp.loop_startf) % length;
        const float left = static_cast<float>(sp.endf - pos) - frac;
        const std::int64_t count =
            std::clamp<std::int64_t>(trunc_to_int(std::ceil(left / sp.step)), 1, frames);
        mix(sp.sv, pos, frac, sp.step, static_cast<int>(count), out, sp.stride, sp.g1, sp.g2);
        const std::int64_t whole = trunc_to_int(frac);
        frac -= static_cast<float>(whole);
        pos += static_cast<std::uint64_t>(std::max<std::int64_t>(whole, 0));
        out += count * sp.stride;
        frames -= count;
    }
}

// Frames of `seconds` at `rate`, at least one.
std::uint32_t frames_of(float seconds, float rate) {
    return static_cast<std::uint32_t>(std::max(1.0f, seconds * rate));
}

// Audio thread. Counts the `frames` of this buffer into a released voice's
// time; true when they bring it to within `fade` frames of the bound, so
// its fade out must start now.
bool due_to_fade(NOTE_LIST& n, std::int64_t frames, float rate, std::uint32_t fade) {
    const std::uint64_t heard = std::uint64_t{n.released_frames} + std::uint64_t(frames);
    n.released_frames = static_cast<std::uint32_t>(std::min<std::uint64_t>(heard, UINT32_MAX));
    return heard + fade >= frames_of(kReleaseBoundSeconds, rate);
}

// Mixes a voice that is fading out: its frames go through a scratch buffer
// and reach `out` under a gain that falls in a straight line to nothing at
// the fade's end. `done` says when the fade has run its length.
SpanEnd mix_fading(const Span& sp, std::uint64_t& pos, float& frac, std::uint32_t& rel_pos,
                   float* out, std::int64_t frames, NOTE_LIST& n, bool& done) {
    constexpr std::int64_t kChunk = 64;
    alignas(32) static float scratch[2 * kChunk];
    Span chunk_span = sp;
    chunk_span.stride =
        std::min<std::uint32_t>(sp.stride, 2);  // the mix writes two outputs at most
    const std::uint32_t total = std::max<std::uint32_t>(n.fade_frames, 1);
    std::uint32_t left = n.fade_left;
    SpanEnd how = SpanEnd::kPlayed;
    for (std::int64_t at = 0; at < frames && left > 0 && how == SpanEnd::kPlayed;) {
        const std::int64_t m = std::min<std::int64_t>({kChunk, frames - at, std::int64_t{left}});
        std::memset(scratch, 0, sizeof scratch);
        how = mix_span(chunk_span, pos, frac, rel_pos, scratch, m);
        float* o = out + at * sp.stride;
        for (std::int64_t j = 0; j < m; ++j, o += sp.stride) {
            const float g = static_cast<float>(left - 1 - j) / static_cast<float>(total);
            o[0] += scratch[j * chunk_span.stride] * g;
            if (chunk_span.stride == 2) o[1] += scratch[2 * j + 1] * g;
        }
        left -= static_cast<std::uint32_t>(m);
        at += m;
    }
    // A voice that cannot move on (a loop shorter than one step) is silent:
    // it has nothing left to fade.
    if (how == SpanEnd::kStalled) left = 0;
    n.fade_left = left;
    done = left == 0;
    return how;
}

// The level and pan a voice played as set has from its channel: the
// concave curves of the channel volume and the expression, and the pan
// controller added to the zone's pan. Audio thread only.
struct ChannelLevel {
    std::int32_t main = -1, expr = -1;
    float gain = 0.0f;
};
ChannelLevel level_memo[kChannels];

float channel_level(std::uint32_t ch) {
    ChannelLevel& m = level_memo[ch];
    const std::int32_t main = ch_main[ch];
    const std::int32_t expr = ch_expr[ch];
    if (main != m.main || expr != m.expr) {
        const auto concave = [](std::int32_t value) {
            return value <= 0 ? 960.0
                              : std::min(960.0, 400.0 * std::log10(127.0 / std::min(value, 127)));
        };
        m.gain = static_cast<float>(centibels_gain(concave(main) + concave(expr)));
        m.main = main;
        m.expr = expr;
    }
    return m.gain;
}

// A full-scale 16-bit sample at the envelope's peak, velocity 127 and no
// attenuation is heard 14 dB below full scale (per output channel, before
// the pan), the level General MIDI banks are made for.
constexpr float kAsSetLevel = 0.2f * kMixHeadroom / 32768.0f;
// The output level below which a falling voice ends: 90 dB under a
// full-scale sample at the peak, before the 14 dB of the level above.
constexpr float kNoiseFloor = 0.00003f * 0.2f;
// Frames over which the envelope's amplitude glides in a straight line.
constexpr std::int64_t kEnvelopeFrames = 64;

// Adds the mono signal in the even floats of `scratch` (`m` frames) to the
// stereo output at `o`, under an amplitude gliding from `a0` by `da` a frame
// (reaching a0 + da on the first) and panned by `left` and `right`.
void add_panned(const float* scratch, std::int64_t m, float* o, float a0, float da, float left,
                float right) {
    std::int64_t j = 0;
#if defined(PLEXORA_HAVE_MXCSR)
    const __m128 pan = _mm_setr_ps(left, right, left, right);
    const __m128 step = _mm_set1_ps(2.0f * da);
    __m128 amp = _mm_setr_ps(a0 + da, a0 + da, a0 + 2.0f * da, a0 + 2.0f * da);
    for (; j + 2 <= m; j += 2) {
        const __m128 x = _mm_loadu_ps(scratch + 2 * j);  // x0, 0, x1, 0
        const __m128 both = _mm_shuffle_ps(x, x, _MM_SHUFFLE(2, 2, 0, 0));
        _mm_storeu_ps(o + 2 * j,
                      _mm_add_ps(_mm_loadu_ps(o + 2 * j), _mm_mul_ps(_mm_mul_ps(both, amp), pan)));
        amp = _mm_add_ps(amp, step);
    }
#endif
    for (; j < m; ++j) {
        const float x = scratch[2 * j] * (a0 + da * static_cast<float>(j + 1));
        o[2 * j] += x * left;
        o[2 * j + 1] += x * right;
    }
}

// Renders voice `v`, entered, played as its bank set it: `s` is its sound,
// `sv` its data and `sh` its frame shift. True when it ended the voice.
bool render_as_set(int v, const p_s& s, const SoundView& sv, int sh, float* out,
                   std::int64_t frames, std::uint32_t stride, float out_rate) {
    NOTE_LIST& n = nlist[v];
    VoiceEnvelope& env = n.env;
    const std::uint64_t w = n.word();
    if ((w & kVoiceSilenceAsked) && !(env.stage == kEnvRelease && env.release <= kSilenceRelease)) {
        env.release_now(kSilenceRelease);
    } else if ((w & kVoiceChokeAsked) &&
               !(env.stage == kEnvRelease && env.release <= kChokeRelease)) {
        env.release_now(kChokeRelease);
    } else if ((w & kVoiceReleaseMask) > 255 && env.stage < kEnvRelease) {
        env.release_now(env.release);
        n.mod_env.release_now(n.mod_env.release);
    }
    // A release the bank made longer than the bound is cut short by a fade.
    if (env.stage == kEnvRelease && env.release > kBoundFadeSeconds &&
        due_to_fade(n, frames, out_rate, frames_of(kBoundFadeSeconds, out_rate))) {
        env.release_now(kBoundFadeSeconds);
    }
    if (env.done()) return end_voice(v);

    // Geometry: a loop-until-release zone plays on to its end once released.
    const bool released = env.stage >= kEnvRelease;
    const bool looping = s.loop != 0 && !(released && s.art.sample_mode == kLoopUntilRelease);
    const std::uint64_t max_end = sv.last_index + 1;
    std::uint64_t endf = (looping ? std::uint64_t{s.loop_end} : std::uint64_t{s.size}) >> sh;
    endf = std::min(endf, max_end);
    const std::uint64_t loop_startf = std::min<std::uint64_t>(s.loop_start >> sh, endf);

    const std::uint32_t ch = n.channel & (kChannels - 1);
    double b = semitone_pow(bend_memo[ch], ((static_cast<double>(ch_pitch[ch]) - 8192.0) / 8192.0) *
                                               (static_cast<double>(ch_pitchsens[ch]) / 100.0));
    if (const std::int32_t tune = ch_ctune[ch]; tune != 64) {
        b *= semitone_pow(tune_memo[ch], (static_cast<double>(tune) - 64.0) / 64.0);
    }
    const StageVoice stage = stage_voice(ch);
    float step =
        static_cast<float>(s.rate) * n.art_pitch / out_rate * static_cast<float>(b) * stage.pitch;
    if (!(step >= kMinStep)) step = kMinStep;  // also catches NaN
    if (step > kMaxStep) step = kMaxStep;

    const float pan = std::clamp(
        static_cast<float>(s.art.pan) + (64.0f - static_cast<float>(ch_pan[ch])) / 64.0f * 500.0f,
        -500.0f, 500.0f);
    const float angle = (pan + 500.0f) / 1000.0f * static_cast<float>(M_PI / 2.0);
    float heard = n.art_gain * channel_level(ch) * kAsSetLevel;
    if (s.bits == 8) heard *= 256.0f;
    const float level = heard * stage.gain;
    // What a full-scale sample reaches at the output at the envelope's peak.
    const float peak = heard * 32768.0f / kMixHeadroom;
    const bool mono_out = stride == 1;
    const float left = level * std::cos(angle);
    const float right = level * std::sin(angle);
    // A mono sound is mixed, filtered and enveloped once, and panned as it
    // is added; a stereo one goes through each step on both sides.
    const bool mono_source = !sv.stereo;
    const std::uint32_t scratch_stride = mono_out && !mono_source ? 1u : 2u;
    const Span span{sv,
                    &s,
                    false,
                    looping,
                    s.loop_start < s.loop_end,
                    false,
                    endf,
                    loop_startf,
                    step,
                    scratch_stride,
                    mono_source ? 1.0f : left,
                    mono_source ? 0.0f : right};
    const float mono_left = mono_out ? 0.5f * (left + right) : left;

    const bool exact_loop = looping && loop_startf < endf;
    // Each stretch is mixed at the envelope's peak into a scratch buffer and
    // added to the output under the envelope, which glides from one
    // stretch's amplitude to the next, so no frame steps from the last.
    alignas(32) static float scratch[2 * kEnvelopeFrames];
    std::uint64_t pos = n.pos;
    float frac = n.frac;
    if (!(frac >= 0.0f && frac < 1.0f)) frac = 0.0f;
    std::uint32_t rel_pos = 0;
    SpanEnd how = SpanEnd::kPlayed;
    const float seconds_per_frame = 1.0f / out_rate;
    float heard_now = env.amplitude();
    for (std::int64_t done = 0; done < frames && how == SpanEnd::kPlayed && !env.done();) {
        const std::int64_t m = std::min(kEnvelopeFrames, frames - done);
        std::memset(scratch, 0, sizeof scratch);
        if (exact_loop) {
            mix_loop_exact(span, pos, frac, scratch, m);
        } else {
            how = mix_span(span, pos, frac, rel_pos, scratch, m);
        }
        // A sound that does not loop ends where its data does.
        if (how == SpanEnd::kPlayed && !looping && pos >= endf) how = SpanEnd::kSoundEnded;
        n.filter.run(scratch, m, int(scratch_stride), mono_source ? 1 : int(scratch_stride),
                     out_rate, n.mod_env.value);
        n.mod_env.advance(static_cast<float>(m) * seconds_per_frame);
        const float a0 = heard_now;
        env.advance(static_cast<float>(m) * seconds_per_frame);
        const float a1 = heard_now = env.amplitude();
        const float da = (a1 - a0) / static_cast<float>(m);
        // Once it falls, a voice fainter than the noise floor has nothing
        // more to be heard: it ends, as the players of these banks end it.
        if (env.stage >= kEnvDecay && a1 * peak < kNoiseFloor) env.stage = kEnvDone;
        float* o = out + done * stride;
        if (mono_source && stride == 2) {  // the common case
            add_panned(scratch, m, o, a0, da, left, right);
        } else {
            for (std::int64_t j = 0; j < m; ++j, o += stride) {
                const float a = a0 + da * static_cast<float>(j + 1);
                if (mono_source) {
                    const float x = scratch[2 * j] * a;
                    o[0] += x * mono_left;
                    if (!mono_out) o[1] += x * right;
                } else if (mono_out) {
                    o[0] += scratch[j] * a;
                } else {
                    o[0] += scratch[2 * j] * a;
                    o[1] += scratch[2 * j + 1] * a;
                }
            }
        }
        done += m;
    }
    if (how == SpanEnd::kSoundEnded || env.done()) return end_voice(v);
    n.frac = frac;
    n.pos = static_cast<std::uint32_t>(pos);
    if (how == SpanEnd::kStalled) return false;
    if ((pos >= endf && !looping) || voice_stop_asked(v)) return end_voice(v);
    return false;
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
    if (n.art && end == 0 && !streamed) {
        return render_as_set(v, *s, sv, sh, out, frames, stride, out_rate);
    }

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
    // All sound off, and a released voice that reaches the bound, fade out.
    std::uint32_t fade = 0;
    if (n.word() & kVoiceSilenceAsked) {
        fade = frames_of(kSilenceFadeSeconds, out_rate);
    } else if (released && end == 0) {
        const std::uint32_t bound_fade = frames_of(kBoundFadeSeconds, out_rate);
        if (due_to_fade(n, frames, out_rate, bound_fade)) fade = bound_fade;
    }
    if (fade != 0 && (n.fade_left == 0 || n.fade_left > fade)) {
        n.fade_frames = fade;
        n.fade_left = fade;
    }

    // The block loop: one block, or several when the sound wraps inside the buffer.
    std::uint64_t pos = n.pos;
    float frac = n.frac;
    if (!(frac >= 0.0f && frac < 1.0f)) frac = 0.0f;
    std::uint32_t rel_pos = n.rel_pos;
    const Span span{
        sv,   s,      streamed, looping, loop_has_room, release_curve, endf, loop_startf,
        step, stride, g1,       g2};
    bool faded = false;
    const SpanEnd how = n.fade_left != 0
                            ? mix_fading(span, pos, frac, rel_pos, out, frames, n, faded)
                            : mix_span(span, pos, frac, rel_pos, out, frames);
    if (how == SpanEnd::kSoundEnded || faded) return end_voice(v);
    const bool stalled = how == SpanEnd::kStalled;
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
