// Playing from the computer keyboard: two rows of keys laid out as a piano
// (Z row white and S row black keys from C of the lower octave, Q row white
// and digit row black keys from the C above), "-" and "=" an octave down and
// up. Keys play while the main window has the focus and no text field is
// typing, through the same path as a click on the on-screen keyboard.
#pragma once

#include <QObject>
#include <map>

class KeyboardView;
class QWidget;

// Any thread. Semitones above the lower octave's C that the key `qt_key`
// plays, or -1 when it plays nothing.
int computer_key_note(int qt_key);

class ComputerKeys : public QObject {
  public:
    // GUI thread. Watches the key events of every widget of `window`.
    ComputerKeys(QWidget* window, KeyboardView* keyboard);

    // The MIDI key of the lower octave's C: 48 at start, 0 to 108.
    int base() const { return base_; }
    // GUI thread. Releases every key still held.
    void release_all();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool ours(QObject* watched, int modifiers) const;

    QWidget* window_;
    KeyboardView* keyboard_;
    int base_ = 48;
    std::map<int, int> held_;  // Qt key -> MIDI key it started
};
