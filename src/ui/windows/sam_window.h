// The sample parameter window: name, base key, panning, key range and
// velocity range of one sound, and a keyboard that shows the key range and
// sets its ends with the mouse (primary button the low end, secondary the
// high end). Every open one is in the registry `samwin`; a change made with
// the mouse or a new name refreshes all of them.
//
// The window holds its sound by identity (SoundRef): it follows the sound to
// the slot it moves to when sounds are added or deleted before it, and closes
// once the sound has left the table (deleted, or replaced by a load). Every
// command and every refresh looks the sound up again first.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <memory>

#include "core/sound_ref.h"
#include "ui/registry.h"

class ParamKeyboard;
class mycheck;
struct p_s;

class SamWindow : public ParamWindow {
  public:
    // GUI thread. `frame` in screen coordinates; the window shows sound `sound`.
    SamWindow(QRect frame, int sound, const QString& title);
    ~SamWindow() override;

    void MessageReceived(const Message& m) override;
    // The slot of the sound shown now; -1 once it has gone.
    int key() const override;
    bool is_instrument() const override { return false; }
    bool follow(int at, int by, int inst_at, int inst_by) override;

    // GUI thread. Shows the stored values in every field and redraws the
    // keyboard; closes the window when its sound has gone.
    virtual void rafraichi();

    // The slot of the sound shown, as last looked up.
    int sound() const { return sound_; }
    // The text field that sends `code`.
    QLineEdit* field(std::uint32_t code) const;
    ParamKeyboard* keyboard() const { return keyboard_; }
    QLabel* key_label() const { return key_label_; }
    // Shown while From Vel is above To Vel (the sound then never plays).
    QLabel* velocity_warning() const { return vel_warning_; }

    // Colours of a key inside the range shown: white keys, black keys.
    static const QColor kHighWhite, kHighBlack;

  protected:
    void paintEvent(QPaintEvent*) override;
    // The record shown, followed to its slot now (`sound_` follows); null
    // when it has gone, or when the window shows an empty slot.
    p_s* record();
    // Shows from now on the sound in slot `slot` now.
    void show_slot(int slot);
    // False, after closing the window, when its sound has gone.
    bool still_there();
    // Paints the range over the keyboard picture.
    virtual void mydraw(QImage& canvas);
    // Posts 'rafr' to this window and every window of the registry.
    void broadcast();

    int sound_;
    // The sound shown; empty while the window shows an empty slot, which it
    // takes on once a sound is put there.
    SoundRef ref_;

  private:
    void edited(std::uint32_t code);
    void clicked(int key, Qt::MouseButtons buttons);

    struct Field {
        std::uint32_t code;
        QLineEdit* edit;
    };
    std::vector<Field> fields_;
    std::unique_ptr<mycheck> freeze_base_, freeze_pan_;
    ParamKeyboard* keyboard_ = nullptr;
    QLabel* key_label_ = nullptr;
    QLabel* vel_warning_ = nullptr;
};
