#include "platform/x11_window_type.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
}

// The first 32-bit value of `property` on `window`, or 0.
std::uint32_t window_property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property) {
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, XCB_ATOM_WINDOW, 0, 1), nullptr);
    std::uint32_t v = 0;
    if (r && xcb_get_property_value_length(r) >= 4)
        std::memcpy(&v, xcb_get_property_value(r), sizeof v);
    std::free(r);
    return v;
}

// The running window manager's name, as it states it on its check window.
std::string wm_name(xcb_connection_t* c) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    const xcb_screen_iterator_t screen = xcb_setup_roots_iterator(setup);
    if (!screen.rem) return {};
    const xcb_window_t check =
        window_property(c, screen.data->root, atom(c, "_NET_SUPPORTING_WM_CHECK"));
    if (!check) return {};
    xcb_get_property_reply_t* r = xcb_get_property_reply(
        c, xcb_get_property(c, 0, check, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"), 0, 64),
        nullptr);
    std::string name;
    if (r)
        name.assign(static_cast<const char*>(xcb_get_property_value(r)),
                    static_cast<std::size_t>(xcb_get_property_value_length(r)));
    std::free(r);
    return name;
}

}  // namespace

void x11_forbid_minimise(void* connection, std::uint32_t window, const char* fallback) {
    auto* c = static_cast<xcb_connection_t*>(connection);
    if (!c || !window) return;
    // Asked again for every window: a window manager may be replaced while we run.
    if (wm_name(c) != "Openbox") return;
    const xcb_atom_t types[2] = {atom(c, "_NET_WM_WINDOW_TYPE_TOOLBAR"), atom(c, fallback)};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, atom(c, "_NET_WM_WINDOW_TYPE"),
                        XCB_ATOM_ATOM, 32, 2, types);
    xcb_flush(c);
}
