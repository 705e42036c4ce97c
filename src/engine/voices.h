// Starting, releasing and ending voices, and the zone lookup that tells which
// sound a note plays.
#pragma once

#include <atomic>
#include <cstdint>

struct p_s;

// Any thread, inside a reclaim::ReadSection. The sound a note plays: sound
// `index` itself, or, for an instrument, the first of its sounds whose key
// zone holds `key` (the instrument's last sound when none does). Null when
// there is no such sound.
p_s* sample_used(bool is_inst, std::uint32_t index, std::uint32_t key);

// MIDI or GUI thread. Starts a voice on the lowest free voice. `end` is 0 for
// an ordinary note, or the frame at which a preview stops; `start` is the
// first frame played. A note that finds no free voice is dropped, as is a
// second note on a streamed sound that is already playing.
void addnote(std::uint32_t channel, std::uint32_t key, std::uint32_t index, std::uint32_t velocity,
             bool is_inst, std::uint32_t end, std::uint32_t start);

// Any thread but the render callback. `voice` 0..127 stops that voice (when
// it plays `channel` and `key`): at once, or as soon as the render callback
// leaves it when it is rendering it right now; -1 releases the first held
// voice of `channel` and `key`. `instrument` is not used.
void delnote(std::uint32_t channel, std::uint32_t key, std::uint32_t instrument,
             std::uint32_t velocity, int voice);

// Any thread but the render callback. Ends `voice` if it still holds the
// claim `serial` (see NOTE_LIST::serial), like delnote with a voice number.
// False when the claim has already ended.
bool end_voice_claim(int voice, std::uint32_t serial);

// Streaming reader thread. Asks the render callback to end `voice` after the
// next buffer it renders, if the voice still holds the claim `serial`.
void stop_voice_claim(int voice, std::uint32_t serial);

// Audio thread. Enters a playing voice before rendering it; false when the
// voice is not playing (or is to end), and the voice must then be left alone.
bool enter_voice(int voice);
// Audio thread, inside the voice. Leaves it; an end asked for meanwhile is
// carried out here.
void leave_voice(int voice);
// Audio thread, inside the voice. Ends it (as delnote with its number would)
// and leaves it.
void end_voice_inside(int voice);
// Audio thread, inside the voice. True when the streaming reader asked for
// the voice to end after this buffer.
bool voice_stop_asked(int voice);

// Any thread. Set after a streamed sound was marked for rewinding, so that
// the streaming reader looks through the sounds only when one waits for it.
extern std::atomic<bool> d2d_rewind_due;

// Any thread. Voices currently active (for tests, the renderer and meters).
int active_voices();
