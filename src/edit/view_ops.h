// What the editor's zoom steps, zoom menu, strip clicks, drags and scroll bar
// do to the visible range and the block. Pure functions of the edit state;
// x is a window coordinate in a strip, whose columns start at x = 10.
// All functions: GUI thread (or any thread owning the state).
#pragma once

#include <cstdint>

#include "edit/edit_state.h"

// The view halves around its centre; nothing when it is 3 frames wide or less.
void zoom_in(EditState& st);
// The view grows by half its width on each side, within the sound.
void zoom_out(EditState& st);

// The zoom menu, item by item.
enum ZoomItem : int {
    kViewAll,
    kZoomLocator,
    kNormalView,
    kSetLocatorAll,
    kSetLocatorView,
    kZoomMinus,
    kZoomPlus
};
void zoom_menu(EditState& st, int item);

// The frame under x in the zoom strip and in the overview.
std::int32_t zoom_frame_at(const EditState& st, int x);
std::int32_t overview_frame_at(const EditState& st, int x);

// A click in the zoom strip: the primary button sets the block start, any
// other the block end (the start becomes 0 when there was no block).
void click_zoom(EditState& st, int x, bool primary);
// A click in the overview: the primary button sets the view start, any
// other the view end.
void click_overview(EditState& st, int x, bool primary);
// A primary-button drag in the zoom strip from x0 to x1 selects the block
// between the two frames; a drag in the overview moves the view by the
// frames between them, keeping its width.
void drag_zoom(EditState& st, int x0, int x1);
void drag_overview(EditState& st, int x0, int x1);

// The scroll bar: its value moves the view start, keeping the view width.
void scroll_to(EditState& st, float value);
struct ScrollSetting {
    float proportion;
    std::int32_t maximum;  // range 0 .. maximum
    std::int32_t value;
};
ScrollSetting scroll_setting(const EditState& st);

// Keeps 0 <= view_start <= view_end <= total_frames.
void clamp_view(EditState& st);
