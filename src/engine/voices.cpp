#include "engine/voices.h"

#include <algorithm>

#include "core/keymap.h"
#include "core/notify.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/stream.h"
#include "engine/voice_table.h"

p_s* sample_used(bool is_inst, std::uint32_t index, std::uint32_t key) {
    if (!is_inst) return index < kMaxSounds ? t_sound[index].load() : nullptr;
    const std::uint32_t insts = nb_inst;
    // An instrument that does not exist (deleted while a channel still names
    // it) plays nothing.
    if (index >= insts || index >= kMaxInsts) return nullptr;
    const int first = t_inst[index];
    if (first >= kMaxSounds) return nullptr;
    int count = (index == insts - 1) ? int(nb_sound) - first : int(t_inst[index + 1]) - first;
    if (count <= 0) return t_sound[first].load();
    if (first + count > kMaxSounds) count = kMaxSounds - first;
    const int k = static_cast<int>(key);
    p_s* last = nullptr;
    for (int i = first; i < first + count; ++i) {
        last = t_sound[i].load();
        if (last && zone_holds(*last, k)) return last;
    }
    return last;
}

namespace {

p_s* voice_sound(const NOTE_LIST& v) {
    return sample_used(v.is_inst, v.index, v.key);
}

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

// What ending a voice tells the others: a streamed sound rewinds, the key goes up.
// `s`, `channel` and `key` were read while the voice was still ours.
void after_end(p_s* s, std::uint32_t channel, std::uint32_t key) {
    if (s && s->type == kTypeStreamed) {
        s->d2d_state = kRewind;  // the reader rewinds it
        d2d_rewind_due.store(true, std::memory_order_release);
        d2d_signal();
    }
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
    p_s* s = sample_used(is_inst, index, key);
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
    p_s* s = voice_sound(v);
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
        if (v.ctl.compare_exchange_weak(w, with_state(w, kVoiceFree), std::memory_order_acq_rel)) {
            after_end(s, channel, key);
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
        bool done = false;
        // `rel_pos` is still 0 from addnote: only released voices advance it.
        while ((w & kVoiceReleaseMask) < 256) {
            if (v.ctl.compare_exchange_weak(w, (w & ~kVoiceReleaseMask) | released_bits,
                                            std::memory_order_acq_rel)) {
                done = true;
                break;
            }
            if (NOTE_LIST::state_of(w) != kVoicePlaying) break;  // ended or reused meanwhile
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
    p_s* s = voice_sound(v);
    // Nobody else frees a voice the callback is in, so this store wins; a
    // request racing with it was for this claim and is moot.
    v.ctl.store(with_state(v.ctl.load(std::memory_order_relaxed), kVoiceFree),
                std::memory_order_release);
    after_end(s, channel, key);
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
