#include "engine/voices.h"

#include <algorithm>

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

}  // namespace

std::atomic<bool> d2d_rewind_due{false};

void addnote(std::uint32_t channel, std::uint32_t key, std::uint32_t index, std::uint32_t velocity,
             bool is_inst, std::uint32_t end, std::uint32_t start) {
    reclaim::ReadSection section;
    const InstrumentStructure& st = structure();
    const int slot = sample_slot(st, is_inst, index, key);
    p_s* s = st.at(slot);
    const int i = claim_voice();
    if (i < 0) return;
    if (s && s->type == kTypeStreamed && !take_stream(s, i)) {
        unclaim(i);
        return;
    }
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
    v.ctl.store(with_state(v.ctl.load(std::memory_order_relaxed), kVoicePlaying),
                std::memory_order_release);
    // The reader sleeps while no stream plays: published first, then woken,
    // so the pass it runs sees the voice.
    if (s && s->type == kTypeStreamed) d2d_signal();
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
        const std::uint64_t released_bits = std::min<std::uint32_t>(velocity, 0x7FFF) + 256u;
        const std::uint32_t serial = NOTE_LIST::serial_of(w);
        if (voice_seams.before_release) voice_seams.before_release(i);
        bool done = false;
        // `rel_pos` is still 0 from addnote: only released voices advance it.
        // The release acts on the claim it read and no other: a voice ended
        // and started again meanwhile plays another note, even one of the
        // same channel and key.
        while ((w & kVoiceReleaseMask) < 256) {
            if (v.ctl.compare_exchange_weak(w, (w & ~kVoiceReleaseMask) | released_bits,
                                            std::memory_order_acq_rel)) {
                done = true;
                break;
            }
            if (NOTE_LIST::state_of(w) != kVoicePlaying || NOTE_LIST::serial_of(w) != serial) break;
        }
        if (!done) continue;
        notify_key(channel, key, false);
        return;
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
