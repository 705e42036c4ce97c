// A stable reference to a sound: the slot it was found in and the identity
// of its record. Slots shift under every change of the instrument structure
// and a load puts another sound in the same slot; the identity tells which.
#pragma once

#include <cstdint>

#include "core/sound.h"

struct SoundRef {
    int slot = -1;
    std::uint64_t ident = 0;  // 0: no sound

    bool empty() const noexcept { return ident == 0; }
    friend bool operator==(const SoundRef&, const SoundRef&) = default;
};

// GUI thread, or any thread inside a read section. The sound in slot `slot`
// now; empty when the slot holds none.
SoundRef sound_ref(int slot) noexcept;

// Any thread that may read `st`. The slot of `st` that holds the sound
// `ident`, looked for at `hint` first; -1 when the sound has left the table.
int find_sound(const InstrumentStructure& st, int hint, std::uint64_t ident) noexcept;

// GUI thread, or any thread inside a read section. The record `ref` names
// now, following the sound to the slot it moved to (`ref.slot` is updated);
// null when the sound is no longer in the table.
p_s* resolve(SoundRef& ref) noexcept;
