#include "engine/voices.h"

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

}  // namespace

void addnote(std::uint32_t channel, std::uint32_t key, std::uint32_t index, std::uint32_t velocity,
             bool is_inst, std::uint32_t end, std::uint32_t start) {
    reclaim::ReadSection section;
    p_s* s = sample_used(is_inst, index, key);
    if (s && s->type == kTypeStreamed) {
        // A streamed sound has one ring, so it plays in one voice at a time.
        for (NOTE_LIST& v : nlist) {
            if (v.playing() && voice_sound(v) == s) return;
        }
    }
    for (NOTE_LIST& v : nlist) {
        std::uint8_t expected = kVoiceFree;
        if (v.active.load(std::memory_order_relaxed) != kVoiceFree) continue;
        if (!v.active.compare_exchange_strong(expected, kVoiceFilling, std::memory_order_acquire)) {
            continue;
        }
        v.channel = channel;
        v.index = index;
        v.is_inst = is_inst;
        v.key = key;
        v.velocity = velocity;
        const std::uint64_t serial = (v.release_word.load(std::memory_order_relaxed) >> 32) + 1;
        v.release_word.store(serial << 32, std::memory_order_relaxed);
        v.pos = start;
        v.rel_pos = 0;
        v.end = end;
        v.frac = 0.0f;
        v.stop = false;
        v.active.store(kVoicePlaying, std::memory_order_release);
        notify_key(channel, key, true);
        return;
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
        if (!v.playing()) continue;
        const std::uint64_t word = v.release_word.load(std::memory_order_acquire);
        if (v.channel != channel || v.key != key) continue;
        if (voice >= 0) {
            p_s* s = voice_sound(v);
            std::uint8_t expected = kVoicePlaying;
            if (!v.active.compare_exchange_strong(expected, kVoiceFree,
                                                  std::memory_order_acq_rel)) {
                return;
            }
            if (s && s->type == kTypeStreamed) s->d2d_state = kRewind;  // the reader rewinds it
            notify_key(channel, key, false);
            return;
        }
        if (static_cast<std::uint32_t>(word) >= 256) continue;  // already released
        // `rel_pos` is still 0 from addnote: only released voices advance it.
        const std::uint64_t released = (word & ~std::uint64_t{0xFFFFFFFF}) | (velocity + 256u);
        std::uint64_t expected = word;
        if (!v.release_word.compare_exchange_strong(expected, released,
                                                    std::memory_order_acq_rel)) {
            continue;  // released or reused by another thread meanwhile
        }
        notify_key(channel, key, false);
        return;
    }
}

int active_voices() {
    int n = 0;
    for (const NOTE_LIST& v : nlist) n += v.active.load(std::memory_order_relaxed) == kVoicePlaying;
    return n;
}
