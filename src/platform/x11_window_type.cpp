#include "platform/x11_window_type.h"

#include <xcb/xcb.h>

#include <algorithm>
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

bool x11_paint_background(void* connection, std::uint32_t window, const std::uint32_t* pixels,
                          int width, int height, int stride) {
    auto* c = static_cast<xcb_connection_t*>(connection);
    if (!c || !window || !pixels || width <= 0 || height <= 0) return false;
    xcb_get_geometry_reply_t* g = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    if (!g) return false;
    const std::uint8_t depth = g->depth;
    std::free(g);
    // The pixels go as they are only where a pixel of this depth takes 32 bits.
    bool fits = false;
    for (auto f = xcb_setup_pixmap_formats_iterator(xcb_get_setup(c)); f.rem; xcb_format_next(&f))
        if (f.data->depth == depth) fits = f.data->bits_per_pixel == 32;
    const std::uint32_t one = 1;
    const bool host_lsb = *reinterpret_cast<const std::uint8_t*>(&one) == 1;
    if (xcb_get_setup(c)->image_byte_order !=
        (host_lsb ? XCB_IMAGE_ORDER_LSB_FIRST : XCB_IMAGE_ORDER_MSB_FIRST))
        fits = false;
    if (!fits || (depth != 24 && depth != 32)) return false;
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    if (xcb_generic_error_t* e = xcb_request_check(
            c, xcb_create_pixmap_checked(c, depth, pixmap, window, std::uint16_t(width),
                                         std::uint16_t(height)))) {
        std::free(e);
        return false;
    }
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, pixmap, 0, nullptr);
    // As many rows a request as the server takes.
    const std::size_t max_bytes = std::size_t(xcb_get_maximum_request_length(c)) * 4 - 64;
    const int rows = std::max(1, int(max_bytes / (std::size_t(width) * 4)));
    std::string row_bytes;
    bool ok = true;
    for (int y = 0; ok && y < height; y += rows) {
        const int n = std::min(rows, height - y);
        row_bytes.resize(std::size_t(width) * 4 * std::size_t(n));
        for (int r = 0; r < n; ++r)
            std::memcpy(&row_bytes[std::size_t(r) * width * 4],
                        pixels + std::size_t(y + r) * stride, std::size_t(width) * 4);
        xcb_generic_error_t* e = xcb_request_check(
            c, xcb_put_image_checked(c, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, std::uint16_t(width),
                                     std::uint16_t(n), 0, std::int16_t(y), 0, depth,
                                     std::uint32_t(row_bytes.size()),
                                     reinterpret_cast<const std::uint8_t*>(row_bytes.data())));
        ok = !e;
        std::free(e);
    }
    if (ok) {
        const std::uint32_t value = pixmap;
        xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXMAP, &value);
    }
    xcb_free_gc(c, gc);
    xcb_free_pixmap(c, pixmap);  // the window keeps its own reference
    xcb_flush(c);
    return ok;
}
