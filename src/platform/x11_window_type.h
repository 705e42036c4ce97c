// What the toolkit cannot tell an X window manager: a window that offers no
// minimise or maximise button.
#pragma once

#include <cstdint>

// GUI thread, before window `window` of the X connection `connection` (an
// xcb_connection_t) is mapped. The toolkit's hints against minimising and
// maximising (the Motif hints and a fixed size) are honoured by most window
// managers; Openbox ignores them and honours only the window type. Under
// Openbox this makes the window a toolbar-type window, `fallback` (an atom
// name such as "_NET_WM_WINDOW_TYPE_NORMAL") for window managers that do not
// know it, the one kind of titled window Openbox offers neither for. Under
// any other window manager it does nothing.
void x11_forbid_minimise(void* connection, std::uint32_t window, const char* fallback);
