// Playing from the computer keyboard: two rows of keys laid out as a piano
// (Z row white and S row black keys from C of the lower octave, Q row white
// and digit row black keys from the C above), "-" and "=" an octave down and
// up. Keys play while the main window has the focus and no text field is
// typing, through the same path as a click on the on-screen keyboard.
//
// An X server that cannot report auto-repeat sends a release and a press for
// every repeat of a held key. A release is therefore held back briefly and
// dropped when the same key comes down again within that time, so holding a
// key plays one note; and a key already sounding never starts another.
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
    // GUI thread. Releases every key still held, at once.
    void release_all();
    // How long a key's release waits for a repeat's press, in milliseconds.
    static constexpr int kRepeatGapMs = 30;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool ours(QObject* watched, int modifiers) const;
    // GUI thread. Lets go of `qt_key` now: its MIDI key stops unless another
    // held computer key plays it too.
    void let_go(int qt_key);

    QWidget* window_;
    KeyboardView* keyboard_;
    int base_ = 48;
    std::map<int, int> held_;       // Qt key -> MIDI key it plays
    std::map<int, unsigned> gone_;  // Qt key released -> its pending release's number
    unsigned releases_ = 0;
};
