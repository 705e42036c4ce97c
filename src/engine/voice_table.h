// The voice table: one record per playing note.
//
// Ownership. Everything that decides who owns a voice lives in one atomic
// word, `ctl`: the claim serial (changed on every claim), the state (free,
// being filled, playing), the release, and three request bits.
// - Any thread may claim a free voice (a compare-and-swap from free to
//   filling that also moves the serial on), fill it, and publish it with a
//   release store of "playing".
// - The render callback enters a playing voice by setting kVoiceInCallback
//   and clears it when it leaves. A voice returns to the free pool only where
//   no other thread can be inside it: the callback frees voices it is in; any
//   other thread frees a voice only while kVoiceInCallback is clear, and
//   otherwise sets kVoiceEndAsked for the callback to carry out as it leaves.
// - Every request (release, end, stop) is a compare-and-swap on `ctl` that
//   names the serial it was made for, so a stale request never lands on a
//   voice reused meanwhile.
// The other fields are written by the claiming thread while filling and by
// the render callback while inside the voice; other threads only read them.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/rt.h"
#include "engine/bank_envelope.h"

constexpr int kVoices = 128;

// States of a voice (bits 16..17 of NOTE_LIST::ctl).
enum VoiceState : std::uint8_t {
    kVoiceFree = 0,
    kVoicePlaying = 1,
    kVoiceFilling = 2  // claimed, being filled by the thread that claimed it
};

// Layout of NOTE_LIST::ctl.
constexpr std::uint64_t kVoiceReleaseMask = 0xFFFF;  // 0 held, 256 + note-off velocity released
constexpr int kVoiceStateShift = 16;
constexpr std::uint64_t kVoiceStateMask = std::uint64_t{3} << kVoiceStateShift;
constexpr std::uint64_t kVoiceInCallback = std::uint64_t{1} << 18;  // the render callback is inside
constexpr std::uint64_t kVoiceEndAsked = std::uint64_t{1} << 19;    // end as the callback leaves
constexpr std::uint64_t kVoiceStopAsked = std::uint64_t{1} << 20;   // end after the next buffer
// Voices played as their bank set them: fade out fast (another voice of the
// exclusive class started), or at once (all sound off).
constexpr std::uint64_t kVoiceChokeAsked = std::uint64_t{1} << 21;
constexpr std::uint64_t kVoiceSilenceAsked = std::uint64_t{1} << 22;
constexpr int kVoiceSerialShift = 32;

// One playing note.
struct NOTE_LIST {
    std::atomic<std::uint64_t> ctl{0};
    rt<std::uint32_t> channel;
    rt<std::uint32_t> key;
    rt<std::uint32_t> index;
    rt<bool> is_inst;
    rt<std::uint32_t> velocity;
    rt<std::uint32_t> pos;
    rt<std::uint32_t> rel_pos;
    rt<float> frac;
    rt<std::uint32_t> end;
    // The sound the voice plays, found when it started: the slot it was in
    // and its identity (see p_s::ident). 0: none.
    rt<std::int32_t> slot;
    rt<std::uint64_t> ident;
    // Played as the bank's maker set it (see articulation.h): the pitch
    // factor of the zone's tuning for this key, the amplitude of its
    // attenuation and the note's velocity, its exclusive class and its
    // envelope, which the render callback moves on.
    rt<bool> art;
    rt<std::uint64_t> started;  // order of the notes played as set, for stealing the oldest
    rt<float> art_pitch;
    rt<float> art_gain;
    rt<std::uint8_t> exclusive_class;
    VoiceEnvelope env;
    VoiceEnvelope mod_env;
    VoiceFilter filter;
    // Output frames heard since the voice was released, counted by the
    // render callback (a released voice never outlives kReleaseBound), and
    // a fade to silence under way: its length and the frames it has left
    // (0: none). Zeroed when the voice is filled.
    rt<std::uint32_t> released_frames;
    rt<std::uint32_t> fade_frames;
    rt<std::uint32_t> fade_left;
    // The claim serial of a voice whose key is up while the sustain pedal
    // holds it; 0 for none. MIDI thread only.
    rt<std::uint32_t> pedal_serial;

    // Any thread. The whole control word.
    std::uint64_t word() const noexcept { return ctl.load(std::memory_order_acquire); }
    // Any thread.
    VoiceState state() const noexcept { return state_of(word()); }
    // Any thread. `release`: 0 while held, 256 + note-off velocity once released.
    std::uint32_t release() const noexcept {
        return static_cast<std::uint32_t>(word() & kVoiceReleaseMask);
    }
    // Any thread.
    bool playing() const noexcept { return state() == kVoicePlaying; }
    // Any thread. The claim serial.
    std::uint32_t serial() const noexcept { return serial_of(word()); }

    static VoiceState state_of(std::uint64_t w) noexcept {
        return static_cast<VoiceState>((w & kVoiceStateMask) >> kVoiceStateShift);
    }
    static std::uint32_t serial_of(std::uint64_t w) noexcept {
        return static_cast<std::uint32_t>(w >> kVoiceSerialShift);
    }
};

extern NOTE_LIST nlist[kVoices];

// GUI thread, with no other thread running. Every voice free.
void reset_voice_table();
