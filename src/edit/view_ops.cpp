#include "edit/view_ops.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "edit/strip.h"

namespace {

std::int32_t trunc32(double v) {
    if (!(v == v)) return 0;
    return std::int32_t(std::clamp(v, -2147483648.0, 2147483647.0));
}

void order_block(EditState& st) {
    st.block_start = std::clamp(st.block_start, 0, st.total_frames);
    st.block_end = std::clamp(st.block_end, 0, st.total_frames);
    if (st.block_start > st.block_end) std::swap(st.block_start, st.block_end);
}

}  // namespace

void clamp_view(EditState& st) {
    st.view_end = std::clamp(st.view_end, 0, std::max(st.total_frames, 0));
    st.view_start = std::clamp(st.view_start, 0, st.view_end);
}

void zoom_in(EditState& st) {
    const std::int32_t h = (st.view_end - st.view_start) >> 1;
    if (h <= 1) return;
    st.view_start += h >> 1;
    st.view_end -= h >> 1;
}

void zoom_out(EditState& st) {
    const std::int32_t q = std::int32_t((2 * std::int64_t(st.view_end - st.view_start)) >> 2);
    st.view_start -= q;
    if (st.view_start <= 0) st.view_start = 0;
    st.view_end += q;
    if (st.view_end > st.total_frames) st.view_end = st.total_frames;
}

void zoom_menu(EditState& st, int item) {
    switch (item) {
        case kViewAll:
            st.view_start = 0;
            st.view_end = st.total_frames;
            break;
        case kZoomLocator:
            if (st.block_start < st.block_end) {
                st.view_start = st.block_start;
                st.view_end = st.block_end;
            }
            break;
        case kNormalView:
            st.view_end = st.view_start + kStripColumns;
            if (st.view_end > st.total_frames) {
                st.view_end = st.total_frames;
                st.view_start = std::max(st.total_frames - kStripColumns, 0);
            }
            break;
        case kSetLocatorAll:
            st.block_start = 0;
            st.block_end = st.total_frames;
            break;
        case kSetLocatorView:
            st.block_start = st.view_start;
            st.block_end = st.view_end;
            break;
        case kZoomMinus:
            zoom_out(st);
            break;
        case kZoomPlus:
            zoom_in(st);
            break;
        default:
            break;
    }
}

std::int32_t zoom_frame_at(const EditState& st, int x) {
    const float product = float(x - 10) * float(st.view_end - st.view_start);
    return st.view_start + trunc32(double(product) / 512.0);
}

std::int32_t overview_frame_at(const EditState& st, int x) {
    return trunc32(double(x - 10) * st.total_frames / 512.0);
}

void click_zoom(EditState& st, int x, bool primary) {
    const std::int32_t f = zoom_frame_at(st, x);
    if (primary) {
        st.block_start = f;
    } else {
        if (!st.has_block()) st.block_start = 0;
        st.block_end = f;
    }
    order_block(st);
}

void click_overview(EditState& st, int x, bool primary) {
    const std::int32_t f = overview_frame_at(st, x);
    (primary ? st.view_start : st.view_end) = f;
    st.view_start = std::clamp(st.view_start, 0, st.total_frames);
    st.view_end = std::clamp(st.view_end, 0, st.total_frames);
    if (st.view_start > st.view_end) std::swap(st.view_start, st.view_end);
}

void drag_zoom(EditState& st, int x0, int x1) {
    st.block_start = zoom_frame_at(st, x0);
    st.block_end = zoom_frame_at(st, x1);
    order_block(st);
}

void drag_overview(EditState& st, int x0, int x1) {
    const std::int32_t w = st.view_end - st.view_start;
    const std::int64_t delta = std::int64_t(overview_frame_at(st, x1)) - overview_frame_at(st, x0);
    const std::int64_t start =
        std::clamp<std::int64_t>(st.view_start + delta, 0, std::max(st.total_frames - w, 0));
    st.view_start = std::int32_t(start);
    st.view_end = st.view_start + w;
    clamp_view(st);
}

void scroll_to(EditState& st, float value) {
    const std::int32_t w = st.view_end - st.view_start;
    st.view_start = trunc32(value);
    st.view_end = st.view_start + w;
    if (st.view_end > st.total_frames) {
        st.view_end = st.total_frames;
        st.view_start = st.total_frames - w;
    }
    clamp_view(st);
}

ScrollSetting scroll_setting(const EditState& st) {
    const std::int32_t w = st.view_end - st.view_start;
    const float proportion = st.total_frames > 0 ? float(w) / float(st.total_frames) : 1.0f;
    return {proportion, std::max(st.total_frames - w, 0), st.view_start};
}
