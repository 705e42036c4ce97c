// Telling the window manager what a window does not offer.
#pragma once

class QWidget;

// GUI thread, before `w` is first mapped (its show event). A titled window
// whose flags offer neither a minimise nor a maximise button asks the window
// manager to offer neither, where the toolkit's own hints are not enough.
void hold_window_hints(QWidget* w);
