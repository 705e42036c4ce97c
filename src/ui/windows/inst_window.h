// The instrument map window: a sample parameter window for the sound chosen
// in the list of its instrument's sounds, with the instrument's key map on
// the keyboard (the chosen sound solid, the others stippled), "Map" to share
// the keys evenly among the sounds, and "Auto Map", the switch shared by
// every instrument window that makes the neighbours of a range changed with
// the mouse meet it.
//
// The chosen sound is held as a sample parameter window holds its sound: the
// window follows it, and with it its instrument, when sounds are added or
// deleted before it, and closes once a load has replaced it. When the chosen
// sound itself is deleted from its instrument, another row of the instrument
// is chosen instead.
#pragma once

#include <QListWidget>

#include "ui/windows/sam_window.h"

class MyBButton;

class InstWindow : public SamWindow {
  public:
    // GUI thread. Shows instrument `inst`, its first sound chosen.
    InstWindow(QRect frame, int inst, const QString& title);

    void MessageReceived(const Message& m) override;
    int key() const override { return inst_; }
    bool is_instrument() const override { return true; }
    bool follow(int at, int by, int inst_at, int inst_by) override;
    void rafraichi() override;

    QListWidget* list() const { return list_; }
    MyBButton* map_button() const { return map_; }
    MyBButton* auto_map_button() const { return auto_map_; }

  protected:
    void mydraw(QImage& canvas) override;

  private:
    void build_list();
    void choose(int row);
    void refresh_with_auto_map();
    // Finds the chosen sound's instrument and row again (it may have moved);
    // rebuilds the list when the instrument's slots changed. False, after
    // closing the window, when the chosen sound has gone.
    bool sync();

    int inst_;
    int first_ = 0;  // the instrument's first sound
    int count_ = 0;  // its sound slots
    int row_ = 0;    // the list row chosen; `sound_` is first_ + row_
    QListWidget* list_ = nullptr;
    MyBButton* auto_map_ = nullptr;
    MyBButton* map_ = nullptr;
};
