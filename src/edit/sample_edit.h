// One sample editor's model: the edit state of one sound slot, the commands
// of the editor window as plain functions, and its undo history. The window
// (or a test) receives three notifications through EditHooks.
//
// Every data change is made on a new record that is published in the sound
// table with one pointer exchange; the replaced record is retired and freed
// only once no voice can be reading it. A voice playing the sound hears the
// old data or the new, never a mix, and sounds that shared the old data with
// this one (bank sounds) keep it.
#pragma once

#include <cstdint>
#include <functional>

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
    SampleEdit(int sound, EditHooks hooks);

    EditState& state() { return st_; }
    const EditState& state() const { return st_; }
    // The record in the edited slot now (re-read on every call).
    p_s* record() const;

    // Re-reads the slot: the whole sound in view, no block, history emptied.
    // False when the slot is empty or has no data.
    bool reinit();

    // The seven operations; false when nothing changed (no sound, no block,
    // a streamed sound, no memory).
    bool apply(EditOp op);
    // A command code of the window ('T001'.. 'T007', 'loon', 'bply', 'bplb',
    // 'bstp', 'uped', 'zpls', 'zmns'); false for codes it does not know.
    bool command(std::uint32_t code);

    void toggle_loop();
    // The loop fields after Enter: accepted values are stored, and the field
    // is always rewritten with what is stored.
    void set_loop_start(const char* text);
    void set_loop_end(const char* text);

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
    Snapshot snapshot() const;
    void finish_edit();
    void loop_changed(const Snapshot& before);

    EditState st_;
    EditHooks hooks_;
    History history_;
};

// The text of the alert that refuses to edit a streamed sound.
extern const char* const kStreamedRefusal;
