// The voice table: one record per playing note.
//
// Ownership: a voice is claimed with a compare-and-swap of `active` from
// kVoiceFree to kVoiceFilling, filled by the claiming thread, then published
// with a release store of kVoicePlaying; the render callback loads `active`
// with acquire. A release names the claim it was made for through the claim
// serial in `release_word`, so it never lands on a voice reused meanwhile.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/rt.h"

constexpr int kVoices = 128;

// Values of NOTE_LIST::active.
enum VoiceState : std::uint8_t {
    kVoiceFree = 0,
    kVoicePlaying = 1,
    kVoiceFilling = 2  // claimed, being filled by the thread that claimed it
};

// One playing note.
struct NOTE_LIST {
    std::atomic<std::uint8_t> active{kVoiceFree};  // VoiceState
    rt<std::uint32_t> channel;
    rt<std::uint32_t> key;
    rt<std::uint32_t> index;
    rt<bool> is_inst;
    rt<std::uint32_t> velocity;
    // Low 32 bits: `release` (0 while held, 256 + note-off velocity once
    // released). High 32 bits: a claim serial that changes each time the voice
    // is claimed, so a release can never land on a voice reused meanwhile.
    std::atomic<std::uint64_t> release_word{0};
    rt<std::uint32_t> pos;
    rt<std::uint32_t> rel_pos;
    rt<float> frac;
    rt<std::uint32_t> end;
    rt<bool> stop;

    // Any thread.
    std::uint32_t release() const noexcept {
        return static_cast<std::uint32_t>(release_word.load(std::memory_order_acquire));
    }
    // Any thread.
    bool playing() const noexcept {
        return active.load(std::memory_order_acquire) == kVoicePlaying;
    }
};

extern NOTE_LIST nlist[kVoices];

// GUI thread, with no other thread running. Every voice free.
void reset_voice_table();
