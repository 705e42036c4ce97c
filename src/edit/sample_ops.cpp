#include "edit/sample_ops.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "core/tables.h"

namespace {

struct Geometry {
    int shift;
    std::uint32_t size;  // bytes of data
    std::size_t a, b;    // byte range of the frames
};

Geometry geometry(const p_s& s, std::int32_t start, std::int32_t end) {
    const int sh = s.shift;
    return {sh, s.size, std::size_t(start) << sh, std::size_t(end) << sh};
}

// s * gain / 128, truncated toward zero, saturated to the sample's width.
// The division by 128 is exact in single precision, so this equals the
// double-precision quotient of the single-precision product.
template <typename T>
inline T scaled(T s, float gain) {
    const float v = std::trunc(float(s) * gain * 0.0078125f);
    if (v > float(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    if (v < float(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    return T(v);
}

template <typename T>
void ramp(std::int8_t* bytes, std::size_t frames, int channels, float gain, float step) {
    T* p = reinterpret_cast<T*>(bytes);
    for (std::size_t k = 0; k < frames; ++k) {
        for (int c = 0; c < channels; ++c, ++p) {
            T v;
            std::memcpy(&v, p, sizeof v);
            v = scaled(v, gain);
            std::memcpy(p, &v, sizeof v);
        }
        gain += step;
    }
}

// The shared loop of the fades and Normalize over frames [start, end) of a
// fresh copy of `old`.
p_s* scale_frames(const p_s& old, std::int32_t start, std::int32_t end, float gain, float step) {
    const Geometry g = geometry(old, start, end);
    p_s* n = copy_with_new_block(old, g.size);
    if (!n) return nullptr;
    std::memcpy(n->data, old.data, g.size);
    const std::size_t frames = std::size_t(end - start);
    const int channels = old.stereo ? 2 : 1;
    if (old.bits == 16)
        ramp<std::int16_t>(n->data + g.a, frames, channels, gain, step);
    else
        ramp<std::int8_t>(n->data + g.a, frames, channels, gain, step);
    return n;
}

// Frames moved whole (a stereo frame keeps its left/right order).
template <typename Frame>
void reversed(const std::int8_t* from, std::int8_t* to, std::size_t frames) {
    for (std::size_t k = 0; k < frames; ++k) {
        Frame f;
        std::memcpy(&f, from + (frames - 1 - k) * sizeof f, sizeof f);
        std::memcpy(to + k * sizeof f, &f, sizeof f);
    }
}

}  // namespace

p_s* copy_with_new_block(const p_s& old, std::uint32_t bytes) {
    const std::size_t total = std::size_t(bytes) + kSpareBytes;
    if (total > UINT32_MAX) return nullptr;
    std::int8_t* mem = new (std::nothrow) std::int8_t[total];
    if (!mem) return nullptr;
    std::memset(mem + bytes, 0, kSpareBytes);
    p_s* n = new (std::nothrow) p_s(old);
    if (!n) {
        delete[] mem;
        return nullptr;
    }
    n->block = std::shared_ptr<std::int8_t[]>(mem);
    n->data = mem;
    n->capacity = std::uint32_t(total);
    n->size = bytes;
    return n;
}

p_s* clear_frames(const p_s& old, std::int32_t start, std::int32_t end) {
    const Geometry g = geometry(old, start, end);
    p_s* n = copy_with_new_block(old, g.size);
    if (!n) return nullptr;
    std::memcpy(n->data, old.data, g.a);
    std::memset(n->data + g.a, 0, g.b - g.a);
    std::memcpy(n->data + g.b, old.data + g.b, g.size - g.b);
    return n;
}

p_s* delete_frames(const p_s& old, std::int32_t start, std::int32_t end) {
    const Geometry g = geometry(old, start, end);
    const std::uint32_t bytes = std::uint32_t(g.size - (g.b - g.a));
    p_s* n = copy_with_new_block(old, bytes);
    if (!n) return nullptr;
    std::memcpy(n->data, old.data, g.a);
    std::memcpy(n->data + g.a, old.data + g.b, g.size - g.b);
    if (n->loop_end > bytes) {
        if (n->loop_start >= bytes) n->loop = 0;
        n->loop_end = bytes;
    }
    return n;
}

p_s* insert_frames(const p_s& old, std::int32_t start, std::int32_t end) {
    const Geometry g = geometry(old, start, end);
    const std::uint64_t bytes = std::uint64_t(g.size) + (g.b - g.a);
    p_s* n = bytes + kSpareBytes <= UINT32_MAX ? copy_with_new_block(old, std::uint32_t(bytes))
                                               : nullptr;
    if (!n) {
        std::printf("puet pas allouer...teh !\n");
        return nullptr;
    }
    // Before the block and the block, then the block again and the rest.
    std::memcpy(n->data, old.data, g.b);
    std::memcpy(n->data + g.b, old.data + g.a, g.size - g.a);
    return n;
}

p_s* fade_in_frames(const p_s& old, std::int32_t start, std::int32_t end) {
    const float step = 128.0f / float(end - start);
    return scale_frames(old, start, end, 0.0f, step);
}

p_s* fade_out_frames(const p_s& old, std::int32_t start, std::int32_t end) {
    const float step = 128.0f / float(end - start);
    return scale_frames(old, start, end, 128.0f, -step);
}

int sound_peak(const p_s& s) {
    const std::size_t samples =
        (std::size_t(std::uint32_t(s.size) >> s.shift) << s.shift) / (s.bits == 16 ? 2 : 1);
    int peak = 0;
    if (s.bits == 16) {
        const auto* p = reinterpret_cast<const std::int16_t*>(s.data);
        for (std::size_t i = 0; i < samples; ++i) {
            std::int16_t v;
            std::memcpy(&v, p + i, 2);
            const int m = v == INT16_MIN ? 0 : std::abs(int(v));
            peak = std::max(peak, m);
        }
    } else {
        for (std::size_t i = 0; i < samples; ++i) {
            const int v = s.data[i];
            peak = std::max(peak, v == INT8_MIN ? 0 : std::abs(v));
        }
    }
    return peak;
}

p_s* normalize_frames(const p_s& old, std::int32_t start, std::int32_t end) {
    const int peak = sound_peak(old);
    if (peak == 0) return nullptr;
    const double target = old.bits == 16 ? kNormalizeTarget16 : kNormalizeTarget8;
    const float gain = float((target / peak) * 128.0);
    return scale_frames(old, start, end, gain, 0.0f);
}

p_s* reverse_frames(const p_s& old, std::int32_t start, std::int32_t end) {
    const Geometry g = geometry(old, start, end);
    p_s* n = copy_with_new_block(old, g.size);
    if (!n) return nullptr;
    std::memcpy(n->data, old.data, g.a);
    std::memcpy(n->data + g.b, old.data + g.b, g.size - g.b);
    const std::size_t frames = std::size_t(end - start);
    switch (g.shift) {
        case 0:
            reversed<std::uint8_t>(old.data + g.a, n->data + g.a, frames);
            break;
        case 1:
            reversed<std::uint16_t>(old.data + g.a, n->data + g.a, frames);
            break;
        default:
            reversed<std::uint32_t>(old.data + g.a, n->data + g.a, frames);
            break;
    }
    return n;
}
