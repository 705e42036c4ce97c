// Telling the window manager what a window does not offer, showing a
// window's picture from its first frame, and where windows open.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// GUI thread, before `w` is first mapped (its show event). A titled window
// whose flags offer neither a minimise nor a maximise button asks the window
// manager to offer neither, where the toolkit's own hints are not enough.
void hold_window_hints(QWidget* w);

// GUI thread, before `w` is first shown. Draws `w` once and puts the result
// where the window system shows it the moment the window appears (under X,
// the window's background, which the server paints itself; everywhere, the
// window's first buffer), so that no frame of it is ever blank. False when
// the window system may still show it blank.
bool paint_before_showing(QWidget* w);

// Any thread. Where a window of frame size `size` opens on the screen area
// `screen` beside the main window's frame `main`: to its right, else to its
// left, else below it, whichever leaves both whole; when none has room, below
// `needed` (the main window's menu bar and sound tree) and kept on the screen.
QPoint free_place(QSize size, QRect main, QRect needed, QRect screen);

// GUI thread, before `w` is first shown. Moves `w` where the user last left a
// window of `kind`, when that place is on a screen present now; else to the
// free place beside the main window. A window of ours standing there already
// pushes it a step down and to the right.
void place_window(QWidget* w, const char* kind);
// GUI thread. Remembers where `w`, a window of `kind`, stands now.
void remember_place(QWidget* w, const char* kind);
