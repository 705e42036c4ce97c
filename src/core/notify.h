// Notices from the engine threads to the windows.
//
// The audio and MIDI threads must never block, lock or allocate, so they
// leave their news here and the GUI thread collects it on a timer:
// - key-display notices ('ppia': a voice started or ended on a channel/key)
//   go through a fixed-size lock-free ring;
// - the end of a sample-editor preview ('uped') is a single flag.
#pragma once

#include <cstdint>

#include "core/fourcc.h"
#include "core/rt.h"

// Set while the main window takes key-display notices.
extern rt<bool> prince;
// Set while the sample editor takes the end-of-preview notice.
extern rt<bool> prin;

struct KeyNotice {
    std::uint32_t what;  // 'ppia'
    std::int16_t ch;     // channel of the voice
    std::int16_t no;     // key
    bool ww;             // true: a voice started; false: released or stopped
};

// Any thread; lock-free, allocation-free. Drops the notice (and counts it)
// when the ring is full.
void post_key_notice(std::int16_t ch, std::int16_t no, bool ww) noexcept;
// GUI thread. Takes the oldest notice; false when there is none.
bool take_key_notice(KeyNotice& out) noexcept;
// Any thread. Notices dropped because nobody collected them in time.
std::uint64_t key_notices_dropped() noexcept;

// Any thread. A preview voice ended by itself.
void post_preview_ended() noexcept;
// GUI thread. True once per posted end of preview.
bool take_preview_ended() noexcept;
