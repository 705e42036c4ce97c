// The windows the program keeps track of, and the editing state the main
// window shares with the controls and the other windows.
#pragma once

#include <QPointer>
#include <cstdint>
#include <vector>

#include "ui/message.h"

class MyWindow;

// A sample or instrument parameter window: `key` is the sound, or for an
// instrument window the instrument, it shows. It answers 'rafr' by refreshing.
class ParamWindow : public MyBWindow {
  public:
    using MyBWindow::MyBWindow;
    virtual int key() const = 0;
    virtual bool is_instrument() const = 0;
    // GUI thread. The tables moved under the window: the sounds from `at` on
    // moved by `by` places, the instruments from `inst_at` on by `inst_by`
    // (a negative move deletes the places it moves over). False when the
    // window's own sound or instrument was deleted.
    virtual bool follow(int at, int by, int inst_at, int inst_by) = 0;
};

constexpr int kMaxParamWindows = 128;

// GUI thread only, all of them.
extern MyWindow* awin;                             // the main window
extern std::vector<QPointer<ParamWindow>> samwin;  // open parameter windows, in opening order
int nb_sam();                                      // how many of them are still open
// Single windows; null while closed.
extern QPointer<MyBWindow> chwin, edwin, valwin, oscwin;
extern QPointer<QWidget> helpwin;  // the last help bubble

extern std::uint16_t no_courbe;  // envelope curve shown by the editor, 0..4
extern std::uint16_t old_sel;    // envelope point under the mouse, 0xFFFF for none
extern std::uint16_t creation;   // number of the next instrument the user adds

constexpr std::uint16_t kNone = 0xFFFF;
