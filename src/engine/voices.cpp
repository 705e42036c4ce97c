#include "engine/voices.h"

#include <algorithm>
#include <bitset>
#include <cmath>

#include "core/articulation.h"
#include "core/keymap.h"
#include "core/notify.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "core/sound_ref.h"
#include "engine/stream.h"
#include "engine/voice_table.h"

int sample_slot(const InstrumentStructure& st, bool is_inst, std::uint32_t index,
                std::uint32_t key) {
    if (!is_inst) return index < kMaxSounds && st.sound[index] ? static_cast<int>(index) : -1;
    const std::uint32_t insts = st.nb_inst;
    // An instrument that does not exist (deleted while a channel still names
    // it) plays nothing.
    if (index >= insts || index >= kMaxInsts) return -1;
    const int first = st.inst[index];
    if (first >= kMaxSounds) return -1;
    int count = (index == insts - 1) ? int(st.nb_sound) - first : int(st.inst[index + 1]) - first;
    if (count <= 0) return st.sound[first] ? first : -1;
    if (first + count > kMaxSounds) count = kMaxSounds - first;
    const int k = static_cast<int>(key);
    int last = -1;
    for (int i = first; i < first + count; ++i) {
        const p_s* r = st.sound[i];
        last = r ? i : -1;
        if (r && zone_holds(*r, k)) return i;
    }
    return last;
}

p_s* sample_used(bool is_inst, std::uint32_t index, std::uint32_t key) {
    const InstrumentStructure& st = structure();
    return st.at(sample_slot(st, is_inst, index, key));
}

VoiceSeams voice_seams;

p_s* voice_sound(int voice, bool remember_move) {
    NOTE_LIST& v = nlist[voice];
    const std::uint64_t ident = v.ident;
    const int slot = v.slot;
    const InstrumentStructure& st = structure();
    if (p_s* r = st.at(slot); r && r->ident == ident) return r;
    const int now = find_sound(st, slot, ident);
    if (now < 0) return nullptr;
    if (remember_move) v.slot = now;
    return st.sound[now];
}

namespace {

void notify_key(std::uint32_t channel, std::uint32_t key, bool on) {
    if (prince)
        post_key_notice(static_cast<std::int16_t>(channel), static_cast<std::int16_t>(key), on);
}

constexpr std::uint64_t kSerialMask = ~std::uint64_t{0} << kVoiceSerialShift;

std::uint64_t with_state(std::uint64_t w, VoiceState st) {
    return (w & kSerialMask) | (std::uint64_t{st} << kVoiceStateShift);
}

// The claim a stream owner names is still playing or being filled.
bool owner_live(std::uint64_t owner) {
    if (owner == 0) return false;
    const int voice = static_cast<int>(owner & 0xFF) - 1;
    if (voice < 0 || voice >= kVoices) return false;
    const std::uint64_t w = nlist[voice].word();
    return NOTE_LIST::serial_of(w) == static_cast<std::uint32_t>(owner >> 8) &&
           NOTE_LIST::state_of(w) != kVoiceFree;
}

// A streamed sound whose voice ends starts over: marked for the reader
// before the voice is free, so that a note that takes the stream as soon as it
// is free never finds it where the last one left it.
void mark_rewind(p_s* s) {
    if (s && s->type == kTypeStreamed) {
        s->d2d_state = kRewind;
        d2d_rewind_due.store(true, std::memory_order_release);
    }
}

// What ending a voice tells the others once it is free: the reader wakes to
// rewind, the key goes up. `s`, `channel` and `key` were read while the voice
// was still ours.
void after_end(int voice, p_s* s, std::uint32_t channel, std::uint32_t key) {
    if (voice_seams.after_free) voice_seams.after_free(voice);
    if (s && s->type == kTypeStreamed) d2d_signal();
    notify_key(channel, key, false);
}

// Claims the lowest free voice: free -> filling, with a new serial.
int claim_voice() {
    for (int i = 0; i < kVoices; ++i) {
        NOTE_LIST& v = nlist[i];
        std::uint64_t w = v.ctl.load(std::memory_order_relaxed);
        while (NOTE_LIST::state_of(w) == kVoiceFree) {
            const std::uint64_t next =
                (std::uint64_t{NOTE_LIST::serial_of(w) + 1u} << kVoiceSerialShift) |
                (std::uint64_t{kVoiceFilling} << kVoiceStateShift);
            if (v.ctl.compare_exchange_weak(w, next, std::memory_order_acquire,
                                            std::memory_order_relaxed)) {
                return i;
            }
        }
    }
    return -1;
}

// When every voice plays, a note played as set takes the voice of the
// oldest released note played as set, else of the oldest note played as
// set: that voice ends and the note claims it. -1 when none comes free at
// once (the voice chosen is being rendered; it ends as the callback leaves
// it, and the note is dropped).
int steal_voice() {
    int best = -1;
    bool best_released = false;
    std::uint64_t best_started = UINT64_MAX;
    std::uint32_t best_serial = 0;
    for (int i = 0; i < kVoices; ++i) {
        const NOTE_LIST& v = nlist[i];
        const std::uint64_t w = v.word();
        if (NOTE_LIST::state_of(w) != kVoicePlaying || !v.art || v.end != 0) continue;
        const bool released = (w & kVoiceReleaseMask) > 255;
        const std::uint64_t started = v.started;
        if (best < 0 || (released && !best_released) ||
            (released == best_released && started < best_started)) {
            best = i;
            best_released = released;
            best_started = started;
            best_serial = NOTE_LIST::serial_of(w);
        }
    }
    if (best < 0) return -1;
    end_voice_claim(best, best_serial);
    return claim_voice();
}

// Gives a voice claimed but never published back.
void unclaim(int voice) {
    NOTE_LIST& v = nlist[voice];
    v.ctl.store(with_state(v.ctl.load(std::memory_order_relaxed), kVoiceFree),
                std::memory_order_release);
}

// A streamed sound plays in one voice at a time: the claim `voice` takes the
// stream unless a live claim holds it. One compare-and-swap decides.
bool take_stream(p_s* s, int voice) {
    const std::uint64_t mine = (std::uint64_t{nlist[voice].serial()} << 8) | (voice + 1u);
    std::uint64_t owner = s->stream_owner;
    for (;;) {
        if (owner_live(owner)) return false;
        if (s->stream_owner.cas(owner, mine)) return true;
    }
}

// Sets request `bit` on voice `voice` if it still holds claim `serial` and plays.
void ask_voice(int voice, std::uint32_t serial, std::uint64_t bit) {
    NOTE_LIST& v = nlist[voice];
    std::uint64_t w = v.word();
    while (NOTE_LIST::serial_of(w) == serial && NOTE_LIST::state_of(w) == kVoicePlaying &&
           !(w & bit)) {
        if (v.ctl.compare_exchange_weak(w, w | bit, std::memory_order_acq_rel)) return;
    }
}

}  // namespace

std::atomic<bool> d2d_rewind_due{false};

namespace {

// Fills and publishes voice `i`, claimed, with the note; `s` in `slot` is
// its sound (may be null), `as_set` whether it plays as its bank set it.
void start_voice(int i, int slot, const p_s* s, std::uint32_t channel, std::uint32_t key,
                 std::uint32_t index, std::uint32_t velocity, bool is_inst, std::uint32_t end,
                 std::uint32_t start, bool as_set) {
    NOTE_LIST& v = nlist[i];
    v.channel = channel;
    v.index = index;
    v.is_inst = is_inst;
    v.key = key;
    v.velocity = velocity;
    v.pos = start;
    v.rel_pos = 0;
    v.end = end;
    v.frac = 0.0f;
    v.slot = slot;
    v.ident = s ? s->ident : 0;
    v.art = as_set;
    v.pedal_serial = 0;
    v.released_frames = 0;
    v.fade_frames = 0;
    v.fade_left = 0;
    if (as_set) {
        static std::atomic<std::uint64_t> notes_started{0};
        v.started = notes_started.fetch_add(1, std::memory_order_relaxed);
        double modulated = 0.0;
        const Articulation a =
            note_articulation(s->art, static_cast<int>(key), static_cast<int>(velocity), modulated);
        const double cents =
            (static_cast<double>(key) - s->base) * a.scale_tuning + static_cast<double>(a.tune);
        v.art_pitch = static_cast<float>(std::exp2(cents / 1200.0));
        v.art_gain = static_cast<float>(
            centibels_gain(std::clamp(kAttenuationScale * a.attenuation + modulated, 0.0, 1440.0)));
        v.exclusive_class = a.exclusive_class;
        v.env = VoiceEnvelope::start(a, static_cast<int>(key));
        v.mod_env = VoiceEnvelope::start_modulation(a, static_cast<int>(key));
        v.filter = VoiceFilter::start(a.filter_cutoff, a.filter_q, a.mod_env_to_filter);
    }
    v.ctl.store(with_state(v.ctl.load(std::memory_order_relaxed), kVoicePlaying),
                std::memory_order_release);
    // The reader sleeps while no stream plays: published first, then woken,
    // so the pass it runs sees the voice.
    if (s && s->type == kTypeStreamed) d2d_signal();
}

// Claims a voice for sound `slot` and starts it; false when none is free or
// the sound is a stream another voice plays.
bool claim_and_start(const InstrumentStructure& st, int slot, std::uint32_t channel,
                     std::uint32_t key, std::uint32_t index, std::uint32_t velocity, bool is_inst,
                     std::uint32_t end, std::uint32_t start, bool as_set) {
    p_s* s = st.at(slot);
    int i = claim_voice();
    if (i < 0 && as_set) i = steal_voice();
    if (i < 0) return false;
    if (s && s->type == kTypeStreamed && !take_stream(s, i)) {
        unclaim(i);
        return false;
    }
    start_voice(i, slot, s, channel, key, index, velocity, is_inst, end, start,
                as_set && s && s->art.on && s->type != kTypeStreamed);
    return true;
}

bool holds_velocity(const p_s& s, std::uint32_t velocity) {
    const int v = static_cast<int>(velocity);
    return s.vel_lo <= v && v <= s.vel_hi;
}

// Asks every voice of `channel` played as set whose exclusive class is in
// `classes` to fade out fast.
void choke_classes(std::uint32_t channel, const std::bitset<128>& classes) {
    for (int i = 0; i < kVoices; ++i) {
        NOTE_LIST& v = nlist[i];
        const std::uint64_t w = v.word();
        if (NOTE_LIST::state_of(w) != kVoicePlaying || !v.art || v.channel != channel) continue;
        if (classes[v.exclusive_class]) ask_voice(i, NOTE_LIST::serial_of(w), kVoiceChokeAsked);
    }
}

// A note when banks play as their makers set them: every sound of the
// instrument whose key and velocity ranges hold the note plays, and cuts
// the voices of its exclusive class. An instrument with no sound from such
// a bank plays its first sound that holds both. False: no sound holds the
// key, and the note goes to the plain rule.
bool start_as_set(const InstrumentStructure& st, std::uint32_t channel, std::uint32_t key,
                  std::uint32_t index, std::uint32_t velocity, bool is_inst) {
    int first = static_cast<int>(index);
    int count = 1;
    if (is_inst) {
        const std::uint32_t insts = st.nb_inst;
        if (index >= insts || index >= kMaxInsts) return false;
        first = st.inst[index];
        count = (index == insts - 1) ? int(st.nb_sound) - first : int(st.inst[index + 1]) - first;
    }
    if (first >= kMaxSounds || count <= 0) return false;
    count = std::min(count, kMaxSounds - first);
    const int k = static_cast<int>(key);
    bool any_art = false;
    bool key_held = false;
    int plain = -1;
    std::bitset<128> classes;
    for (int i = first; i < first + count; ++i) {
        const p_s* r = st.sound[i];
        if (!r || !zone_holds(*r, k)) continue;
        key_held = true;
        if (!holds_velocity(*r, velocity)) continue;
        if (r->art.on) {
            any_art = true;
            if (const int c = cut_class(r->art)) classes[c] = true;
        } else if (plain < 0) {
            plain = i;
        }
    }
    if (!key_held) return false;
    if (!any_art) {
        if (plain >= 0)
            claim_and_start(st, plain, channel, key, index, velocity, is_inst, 0, 0, true);
        return true;
    }
    if (classes.any()) choke_classes(channel, classes);
    for (int i = first; i < first + count; ++i) {
        const p_s* r = st.sound[i];
        if (!r || !r->art.on || !zone_holds(*r, k) || !holds_velocity(*r, velocity)) continue;
        if (!claim_and_start(st, i, channel, key, index, velocity, is_inst, 0, 0, true)) break;
    }
    return true;
}

}  // namespace

void addnote(std::uint32_t channel, std::uint32_t key, std::uint32_t index, std::uint32_t velocity,
             bool is_inst, std::uint32_t end, std::uint32_t start) {
    reclaim::ReadSection section;
    const InstrumentStructure& st = structure();
    const bool as_set = end == 0 && play_as_set;
    if (as_set && start_as_set(st, channel, key, index, velocity, is_inst)) {
        notify_key(channel, key, true);
        return;
    }
    const int slot = sample_slot(st, is_inst, index, key);
    if (!claim_and_start(st, slot, channel, key, index, velocity, is_inst, end, start, as_set))
        return;
    notify_key(channel, key, true);
}

bool end_voice_claim(int voice, std::uint32_t serial) {
    if (voice < 0 || voice >= kVoices) return false;
    reclaim::ReadSection section;
    NOTE_LIST& v = nlist[voice];
    std::uint64_t w = v.word();
    if (NOTE_LIST::serial_of(w) != serial || NOTE_LIST::state_of(w) != kVoicePlaying) return false;
    // Read while the claim is still ours: nobody refills a playing voice.
    const std::uint32_t channel = v.channel;
    const std::uint32_t key = v.key;
    p_s* s = voice_sound(voice);
    for (;;) {
        if (NOTE_LIST::serial_of(w) != serial || NOTE_LIST::state_of(w) != kVoicePlaying ||
            (w & kVoiceEndAsked)) {
            return false;
        }
        if (w & kVoiceInCallback) {
            // The callback is inside: it ends the voice as it leaves.
            if (v.ctl.compare_exchange_weak(w, w | kVoiceEndAsked, std::memory_order_acq_rel)) {
                return true;
            }
            continue;
        }
        mark_rewind(s);
        if (v.ctl.compare_exchange_weak(w, with_state(w, kVoiceFree), std::memory_order_acq_rel)) {
            after_end(voice, s, channel, key);
            return true;
        }
    }
}

void stop_voice_claim(int voice, std::uint32_t serial) {
    if (voice < 0 || voice >= kVoices) return;
    NOTE_LIST& v = nlist[voice];
    std::uint64_t w = v.word();
    while (NOTE_LIST::serial_of(w) == serial && NOTE_LIST::state_of(w) == kVoicePlaying &&
           !(w & kVoiceStopAsked)) {
        if (v.ctl.compare_exchange_weak(w, w | kVoiceStopAsked, std::memory_order_acq_rel)) return;
    }
}

namespace {

// Releases voice `i`, read as `w`, if it still holds that claim and is held:
// true when this call released it.
bool release_claim(int i, std::uint64_t w, std::uint32_t velocity) {
    NOTE_LIST& v = nlist[i];
    const std::uint64_t released_bits = std::min<std::uint32_t>(velocity, 0x7FFF) + 256u;
    const std::uint32_t serial = NOTE_LIST::serial_of(w);
    if (voice_seams.before_release) voice_seams.before_release(i);
    // `rel_pos` is still 0 from addnote: only released voices advance it.
    // The release acts on the claim it read and no other: a voice ended
    // and started again meanwhile plays another note, even one of the
    // same channel and key.
    while ((w & kVoiceReleaseMask) < 256) {
        if (v.ctl.compare_exchange_weak(w, (w & ~kVoiceReleaseMask) | released_bits,
                                        std::memory_order_acq_rel)) {
            return true;
        }
        if (NOTE_LIST::state_of(w) != kVoicePlaying || NOTE_LIST::serial_of(w) != serial) break;
    }
    return false;
}

// A voice of `channel` and `key` (any key when `key` is negative), playing
// and not yet released.
bool held_voice(const NOTE_LIST& v, std::uint64_t w, std::uint32_t channel, int key) {
    return NOTE_LIST::state_of(w) == kVoicePlaying && (w & kVoiceReleaseMask) < 256 &&
           v.channel == channel && (key < 0 || v.key == static_cast<std::uint32_t>(key));
}

}  // namespace

void delnote(std::uint32_t channel, std::uint32_t key, std::uint32_t /*instrument*/,
             std::uint32_t velocity, int voice) {
    if (voice >= kVoices) return;
    reclaim::ReadSection section;
    const int first = voice >= 0 ? voice : 0;
    const int last = voice >= 0 ? voice : kVoices - 1;
    for (int i = first; i <= last; ++i) {
        NOTE_LIST& v = nlist[i];
        std::uint64_t w = v.word();
        if (NOTE_LIST::state_of(w) != kVoicePlaying) continue;
        if (v.channel != channel || v.key != key) continue;
        if (voice >= 0) {
            end_voice_claim(i, NOTE_LIST::serial_of(w));
            return;
        }
        // A voice the pedal holds has had its key-up already.
        if (v.pedal_serial == NOTE_LIST::serial_of(w)) continue;
        if (!release_claim(i, w, velocity)) continue;
        notify_key(channel, key, false);
        // Played as set, a note of several zones releases them all.
        if (!v.art) return;
    }
}

void hold_for_pedal(std::uint32_t channel, std::uint32_t key) {
    for (NOTE_LIST& v : nlist) {
        const std::uint64_t w = v.word();
        if (held_voice(v, w, channel, static_cast<int>(key)))
            v.pedal_serial = NOTE_LIST::serial_of(w);
    }
    notify_key(channel, key, false);
}

void release_pedal(std::uint32_t channel) {
    reclaim::ReadSection section;
    for (int i = 0; i < kVoices; ++i) {
        NOTE_LIST& v = nlist[i];
        const std::uint64_t w = v.word();
        if (!held_voice(v, w, channel, -1) || v.pedal_serial != NOTE_LIST::serial_of(w)) continue;
        v.pedal_serial = 0;
        release_claim(i, w, 0);
    }
}

void silence_channel(std::uint32_t channel) {
    reclaim::ReadSection section;
    for (int i = 0; i < kVoices; ++i) {
        NOTE_LIST& v = nlist[i];
        const std::uint64_t w = v.word();
        if (NOTE_LIST::state_of(w) != kVoicePlaying || v.channel != channel || v.end != 0) continue;
        ask_voice(i, NOTE_LIST::serial_of(w), kVoiceSilenceAsked);
    }
}

void silence_all(bool at_once) {
    reclaim::ReadSection section;
    for (int i = 0; i < kVoices; ++i) {
        const std::uint64_t w = nlist[i].word();
        if (NOTE_LIST::state_of(w) != kVoicePlaying) continue;
        if (at_once) {
            end_voice_claim(i, NOTE_LIST::serial_of(w));
        } else {
            ask_voice(i, NOTE_LIST::serial_of(w), kVoiceSilenceAsked);
        }
    }
}

bool enter_voice(int voice) {
    NOTE_LIST& v = nlist[voice];
    std::uint64_t w = v.ctl.load(std::memory_order_acquire);
    while (NOTE_LIST::state_of(w) == kVoicePlaying && !(w & kVoiceEndAsked)) {
        if (v.ctl.compare_exchange_weak(w, w | kVoiceInCallback, std::memory_order_acq_rel)) {
            return true;
        }
    }
    return false;
}

void end_voice_inside(int voice) {
    NOTE_LIST& v = nlist[voice];
    const std::uint32_t channel = v.channel;
    const std::uint32_t key = v.key;
    p_s* s = voice_sound(voice);
    mark_rewind(s);
    // Nobody else frees a voice the callback is in, so this store wins; a
    // request racing with it was for this claim and is moot.
    v.ctl.store(with_state(v.ctl.load(std::memory_order_relaxed), kVoiceFree),
                std::memory_order_release);
    after_end(voice, s, channel, key);
}

void leave_voice(int voice) {
    NOTE_LIST& v = nlist[voice];
    std::uint64_t w = v.ctl.load(std::memory_order_acquire);
    for (;;) {
        if (w & kVoiceEndAsked) {
            end_voice_inside(voice);
            return;
        }
        if (v.ctl.compare_exchange_weak(w, w & ~kVoiceInCallback, std::memory_order_acq_rel))
            return;
    }
}

bool voice_stop_asked(int voice) {
    return (nlist[voice].word() & kVoiceStopAsked) != 0;
}

int active_voices() {
    int n = 0;
    for (const NOTE_LIST& v : nlist) n += v.state() == kVoicePlaying;
    return n;
}
