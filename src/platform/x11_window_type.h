// What the toolkit cannot tell an X server: a window that offers no minimise
// or maximise button, and a window whose picture the server paints itself.
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

// GUI thread, before window `window` of the X connection `connection` is
// mapped. Makes `pixels` (`width` x `height` pixels 0xffRRGGBB, `stride`
// pixels a row) the window's background, which the server paints wherever the
// window is exposed before its owner has drawn, so the window shows the
// picture from its first frame. False when the server refused it.
bool x11_paint_background(void* connection, std::uint32_t window, const std::uint32_t* pixels,
                          int width, int height, int stride);
