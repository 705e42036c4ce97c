// The about window: the about picture, then a black box of credit lines that
// slides into view and scrolls upward. The same window, without a frame,
// is the splash shown while the program starts.
#pragma once

#include <QTimer>
#include <QWidget>
#include <climits>

#include "ui/message.h"

class ABWindow;

// The credits box and its animation, driven by the window's 50 ms pulse.
class ABBBox : public QWidget {
  public:
    ABBBox(ABWindow* owner, QRect frame);
    // One pulse: grow the window after 2.5 s, scroll from 7.5 s on, stop
    // after 527 half-pixel steps. False once the animation has ended.
    bool Pulse();
    double scrolled() const { return scrolled_; }

  private:
    ABWindow* owner_;
    QWidget* lines_;
    int countdown_ = 150;
    int scroll_ = 526;
    bool grown_ = false;
    double scrolled_ = 0;
};

class ABWindow : public MyBWindow {
  public:
    // `splash`: a frameless window centred on the screen.
    explicit ABWindow(bool splash);
    void MessageReceived(const Message& m) override;
    void grow();
    ABBBox* credits() const { return box_; }
    // The credit lines, one per role.
    static const char* const kCredits[19];

  protected:
    void hideEvent(QHideEvent* e) override;

  private:
    ABBBox* box_;
    QTimer pulse_;
};

// GUI thread. Opens a new about window.
ABWindow* appel_about();
// GUI thread. Shows the splash, its picture in place from its first frame;
// null, and nothing shown, where the window system cannot promise that.
ABWindow* open_splash();
