// The sample parameter window: name, base key, panning, key range and
// velocity range of one sound, and a keyboard that shows the key range and
// sets its ends with the mouse (primary button the low end, secondary the
// high end). Every open one is in the registry `samwin`; a change made with
// the mouse or a new name refreshes all of them.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <memory>

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
    int key() const override { return sound_; }
    bool is_instrument() const override { return false; }
    bool follow(int at, int by, int inst_at, int inst_by) override;

    // GUI thread. Shows the stored values in every field and redraws the keyboard.
    virtual void rafraichi();

    int sound() const { return sound_; }
    // The text field that sends `code`.
    QLineEdit* field(std::uint32_t code) const;
    ParamKeyboard* keyboard() const { return keyboard_; }
    QLabel* key_label() const { return key_label_; }

    // Colours of a key inside the range shown: white keys, black keys.
    static const QColor kHighWhite, kHighBlack;

  protected:
    void paintEvent(QPaintEvent*) override;
    // The record shown, or null when its slot is empty.
    p_s* record() const;
    // Paints the range over the keyboard picture.
    virtual void mydraw(QImage& canvas);
    // Posts 'rafr' to this window and every window of the registry.
    void broadcast();

    int sound_;

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
};
