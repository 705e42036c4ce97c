// Starting, releasing and ending voices, and the zone lookup that tells which
// sound a note plays.
#pragma once

#include <atomic>
#include <cstdint>

struct p_s;
struct InstrumentStructure;

// Any thread, inside a reclaim::ReadSection. The sound a note plays: sound
// `index` itself, or, for an instrument, the first of its sounds whose key
// zone holds `key` (the instrument's last sound when none does). Null when
// there is no such sound.
p_s* sample_used(bool is_inst, std::uint32_t index, std::uint32_t key);
// Any thread that may read `st`. The same as a slot of `st`; -1 for none.
int sample_slot(const InstrumentStructure& st, bool is_inst, std::uint32_t index,
                std::uint32_t key);

// Audio thread, inside the voice; or any thread inside a read section that
// only reads. The record voice `voice` plays: the sound it started with,
// followed to the slot it moved to. Null once that sound has left the table
// (a load replaced it, it was deleted): the voice has nothing left to play.
// The callback remembers a move, so the search happens once per move.
p_s* voice_sound(int voice, bool remember_move = false);

// MIDI or GUI thread. Starts a voice on the lowest free voice. `end` is 0 for
// an ordinary note, or the frame at which a preview stops; `start` is the
// first frame played. A note that finds no free voice is dropped, as is a
// second note on a streamed sound that is already playing.
void addnote(std::uint32_t channel, std::uint32_t key, std::uint32_t index, std::uint32_t velocity,
             bool is_inst, std::uint32_t end, std::uint32_t start);

// Any thread but the render callback. `voice` 0..127 stops that voice (when
// it plays `channel` and `key`): at once, or as soon as the render callback
// leaves it when it is rendering it right now; -1 releases the first held
// voice of `channel` and `key` (every one when it plays as its bank set it:
// a note of several zones), passing over those the sustain pedal holds.
// `instrument` is not used.
void delnote(std::uint32_t channel, std::uint32_t key, std::uint32_t instrument,
             std::uint32_t velocity, int voice);

// MIDI thread. The key of `channel` and `key` went up while the sustain pedal
// is down: its voices keep playing until the pedal lifts.
void hold_for_pedal(std::uint32_t channel, std::uint32_t key);
// MIDI thread. The sustain pedal of `channel` lifted: every voice it held is
// released.
void release_pedal(std::uint32_t channel);
// Any thread but the render callback. All sound off on `channel`: its
// voices fade out within kSilenceFadeSeconds, as the render callback plays them.
void silence_channel(std::uint32_t channel);
// Any thread but the render callback. Every voice, previews too, fades out
// as silence_channel's do; with `at_once` every voice ends now instead.
void silence_all(bool at_once);

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

// Tests only: called, when set, at two points where another thread may act.
struct VoiceSeams {
    // A release (delnote with -1) read voice `voice` and is about to change it.
    void (*before_release)(int voice) = nullptr;
    // Voice `voice` has just been freed.
    void (*after_free)(int voice) = nullptr;
};
extern VoiceSeams voice_seams;

// Any thread. Voices currently active (for tests, the renderer and meters).
int active_voices();
