// Telling the window manager what a window does not offer, and showing a
// window's picture from its first frame.
#pragma once

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
