#include "edit/sample_ops.h"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "core/sound.h"

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

// A copy of `old` in a new block of the same size with every byte outside
// [g.a, g.b) copied; the caller fills that range.
p_s* copy_around(const p_s& old, const Geometry& g) {
    p_s* n = copy_with_new_block(old, g.size);
    if (!n) return nullptr;
    std::memcpy(n->data, old.data, g.a);
    std::memcpy(n->data + g.b, old.data + g.b, g.size - g.b);
    return n;
}

// s * gain / 128, truncated toward zero, saturated to the sample's width.
// The division by 128 is exact in single precision, so this equals the
// double-precision quotient of the single-precision product; clamping
// before the conversion gives the same result as after it.
template <typename T>
inline T scaled(T s, float gain) {
    constexpr float lo = float(std::numeric_limits<T>::min());
    constexpr float hi = float(std::numeric_limits<T>::max());
    const float v = float(s) * gain * 0.0078125f;
    return T(std::min(std::max(v, lo), hi));
}

// Scales `frames` frames from `from` into `to`. The gains follow each other
// by repeated addition (a serial chain), so they are worked out a slice at a
// time and then applied to the slice in a loop the compiler can vectorise.
template <typename T>
void ramp(const std::int8_t* from, std::int8_t* to, std::size_t frames, int channels, float gain,
          float step) {
    constexpr std::size_t kSlice = 2048;
    float gains[2 * kSlice];  // one per sample: both samples of a frame share a gain
    const T* src = reinterpret_cast<const T*>(from);
    T* dst = reinterpret_cast<T*>(to);
    for (std::size_t k0 = 0; k0 < frames; k0 += kSlice) {
        const std::size_t m = std::min(kSlice, frames - k0);
        if (step == 0.0f) {
            std::fill(gains, gains + m * std::size_t(channels), gain);  // Normalize
        } else if (channels == 1) {
            for (std::size_t i = 0; i < m; ++i) {
                gains[i] = gain;
                gain += step;
            }
        } else {
            for (std::size_t i = 0; i < m; ++i) {
                gains[2 * i] = gains[2 * i + 1] = gain;
                gain += step;
            }
        }
        const std::size_t samples = m * std::size_t(channels);
        const T* in = src + k0 * std::size_t(channels);
        T* out = dst + k0 * std::size_t(channels);
        for (std::size_t i = 0; i < samples; ++i) out[i] = scaled(in[i], gains[i]);
    }
}

// The shared loop of the fades and Normalize over frames [start, end) of a
// fresh copy of `old`.
p_s* scale_frames(const p_s& old, std::int32_t start, std::int32_t end, float gain, float step) {
    const Geometry g = geometry(old, start, end);
    p_s* n = copy_around(old, g);
    if (!n) return nullptr;
    const std::size_t frames = std::size_t(end - start);
    const int channels = old.stereo ? 2 : 1;
    if (old.bits == 16)
        ramp<std::int16_t>(old.data + g.a, n->data + g.a, frames, channels, gain, step);
    else
        ramp<std::int8_t>(old.data + g.a, n->data + g.a, frames, channels, gain, step);
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

// Blocks of several megabytes are aligned for huge pages and asked to get
// them: an edit of a long sound then costs a few hundred page faults
// instead of tens of thousands.
std::shared_ptr<std::int8_t[]> new_data_block(std::size_t bytes) {
    constexpr std::size_t kHuge = std::size_t(2) << 20;
    if (bytes < 2 * kHuge) {
        std::int8_t* p = new (std::nothrow) std::int8_t[bytes];
        return p ? std::shared_ptr<std::int8_t[]>(p) : nullptr;
    }
    const std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
    void* p = std::aligned_alloc(kHuge, rounded);
    if (!p) return nullptr;
#ifdef MADV_HUGEPAGE
    madvise(p, rounded, MADV_HUGEPAGE);
#endif
    return std::shared_ptr<std::int8_t[]>(static_cast<std::int8_t*>(p),
                                          [](std::int8_t* q) { std::free(q); });
}

}  // namespace

p_s* copy_with_new_block(const p_s& old, std::uint32_t bytes) {
    const std::size_t total = std::size_t(bytes) + kSpareBytes;
    if (total > UINT32_MAX) return nullptr;
    std::shared_ptr<std::int8_t[]> block = new_data_block(total);
    if (!block) return nullptr;
    std::memset(block.get() + bytes, 0, kSpareBytes);
    p_s* n = new (std::nothrow) p_s(old);
    if (!n) return nullptr;
    n->block = std::move(block);
    n->data = n->block.get();
    n->capacity = std::uint32_t(total);
    n->size = bytes;
    return n;
}

p_s* clear_frames(const p_s& old, std::int32_t start, std::int32_t end) {
    const Geometry g = geometry(old, start, end);
    p_s* n = copy_around(old, g);
    if (n) std::memset(n->data + g.a, 0, g.b - g.a);
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
    p_s* n = copy_around(old, g);
    if (!n) return nullptr;
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
