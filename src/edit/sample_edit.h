// One sample editor's model: the edit state of one sound, the commands of
// the editor window as plain functions, and its undo history. The window (or
// a test) receives three notifications through EditHooks.
//
// The editor holds the sound it edits by identity (SoundRef), not by slot:
// every command looks the sound up again and follows it to the slot it has
// moved to when sounds were added or deleted before it. Once the sound has
// left the table (a load replaced it, or it was deleted) every command does
// nothing and the undo history, which belongs to that sound, is dropped; an
// undo step is never applied to another sound.
//
// Every data change is made on a new record that is published in the sound
// table with one pointer exchange; the replaced record is retired and freed
// only once no voice can be reading it. A voice playing the sound hears the
// old data or the new, never a mix, and sounds that shared the old data with
// this one (bank sounds) keep it.
#pragma once

#include <cstdint>
#include <functional>

#include "core/sound_ref.h"
#include "edit/edit_state.h"
#include "edit/history.h"

struct p_s;

enum class EditButton { kPlayWhole, kPlayBlock, kLoop };
enum class LoopField { kStart, kEnd };

struct EditHooks {
    std::function<void()> refresh_images;  // recompute and redraw both strips
    std::function<void()> data_changed;    // post 'uppo' to the main window
    std::function<void(EditButton, int)> set_button;
    std::function<void(LoopField, std::uint32_t)> set_field;
};

// Edit operations in the order of the "Functions" menu.
enum EditOp : int { kClear, kDelete, kInsert, kFadeIn, kFadeOut, kNormalize, kReverse };

// All members: GUI thread.
class SampleEdit {
  public:
    // Edits the sound in slot `sound` now.
    SampleEdit(int sound, EditHooks hooks);

    EditState& state() { return st_; }
    const EditState& state() const { return st_; }
    // The record of the edited sound now, looked up again on every call;
    // `state().sound` follows it to the slot it is in. Null once the sound
    // has left the table (the history is then dropped) or when there was
    // none.
    p_s* record();
    // The sound edited (its identity, and its slot when last looked up).
    const SoundRef& sound() const { return ref_; }
    // True when there was a sound and it has left the table.
    bool gone();

    // Re-reads the edited sound, following it: the whole sound in view, no
    // block. Its history stays (it is the same sound). False when the sound
    // has left the table or has no data.
    bool reinit();
    // Edits from now on the sound in slot `slot` now: when it is another
    // sound than the one edited so far the history is dropped; then as reinit.
    bool retarget(int slot);

    // The seven operations; false when nothing changed (no sound, no block,
    // a streamed sound, no memory).
    bool apply(EditOp op);
    // The sound's length in frames as shown: its data's, or for a streamed
    // sound its file's (the data is only a ring of it).
    static std::int32_t shown_frames(const p_s& s);
    // A command code of the window ('T001'.. 'T007', 'loon', 'bply', 'bplb',
    // 'bstp', 'uped', 'zpls', 'zmns'); false for codes it does not know.
    bool command(std::uint32_t code);

    // The loop switch and the loop fields after Enter: accepted values are
    // stored, and the field is always rewritten with what is stored. A
    // streamed sound plays its file once and has no loop to change: the
    // change is refused with kStreamedLoopRefusal and the button and fields
    // show "no loop" again (loop off, 0 to the file's length).
    void toggle_loop();
    void set_loop_start(const char* text);
    void set_loop_end(const char* text);
    // The loop as shown, in frames: the record's, or "no loop" over the
    // whole file for a streamed sound.
    struct ShownLoop {
        bool on = false;
        std::uint32_t start = 0, end = 0;
    };
    static ShownLoop shown_loop(const p_s& s);

    void play_whole();
    void play_block();
    void stop();
    void preview_ended();

    void zoom_in();
    void zoom_out();

    bool undo();
    bool redo();
    const History& history() const { return history_; }

  private:
    bool publish(p_s* rec, const Snapshot& before);
    bool restore(const Snapshot& s);
    Snapshot snapshot();
    void finish_edit();
    void loop_changed(const Snapshot& before);
    // Refuses a loop change on a streamed sound and shows its loop again.
    void refuse_loop_change(const p_s& rec);

    SoundRef ref_;
    EditState st_;
    EditHooks hooks_;
    History history_;
};

// The text of the alert that refuses to edit a streamed sound's data.
extern const char* const kStreamedRefusal;
// The text of the alert that refuses to change a streamed sound's loop.
extern const char* const kStreamedLoopRefusal;
