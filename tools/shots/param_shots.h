// The parameter windows for the manual's screenshots, over an instrument of
// three named sounds laid out by "Map".
#pragma once

// GUI thread. Shows the window `what` names ("sample", "instrument" or
// "noteoff"); false for any other name.
bool show_param_window(const char* what);
