#include "engine/mix.h"

#include <atomic>
#include <cstring>

#include "engine/mix_frame.h"
#include "engine/mix_kernels.h"

namespace {

using mixing::plain_frame;

// The plain loop: one frame after the other, the position advanced by
// adding the step each frame.
template <typename Sample, bool Stereo>
void mix_plain(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n, float* out,
               std::uint32_t stride, float g1, float g2) {
    const Sample* src = reinterpret_cast<const Sample*>(sv.data);
    const std::uint64_t last = sv.last_index;
    float f = frac;
    if (stride == 1) {
        for (int j = 0; j < n; ++j, f += step) {
            plain_frame<Sample, Stereo, true>(src, pos, last, f, out + j, g1, g2);
        }
    } else if (stride == 2) {
        for (int j = 0; j < n; ++j, f += step) {
            plain_frame<Sample, Stereo, false>(src, pos, last, f, out + 2 * j, g1, g2);
        }
    } else {
        for (int j = 0; j < n; ++j, f += step) {
            plain_frame<Sample, Stereo, false>(src, pos, last, f, out + std::size_t{stride} * j, g1,
                                               g2);
        }
    }
    frac = f;
}

// A vector path into a stereo output: `kernel` renders the frames `Lanes`
// at a time at the plain loop's positions (see Cursor). The last frames of
// the block, fewer than `Lanes`, go through a copy of their output so that
// the kernel never touches a frame past the block.
template <typename Sample, bool Stereo, int Lanes>
void mix_vector(mixing::Kernel kernel, const SoundView& sv, std::uint64_t pos, float& frac,
                float step, int n, float* out, float g1, float g2) {
    const std::uint64_t last = sv.last_index;
    constexpr bool kByteMono = sizeof(Sample) == 1 && !Stereo;
    // Positions and indices must fit the kernels' 32-bit integers, and an
    // 8-bit mono sound needs four bytes for its loads.
    if (!(pos <= last && last - pos < (1u << 30) &&
          frac + static_cast<float>(n) * step < static_cast<float>(1 << 29) &&
          (!kByteMono || last - pos >= 2))) {
        mix_plain<Sample, Stereo>(sv, pos, frac, step, n, out, 2, g1, g2);
        return;
    }
    mixing::KernelArgs a{};
    a.src = sv.data + (pos << sv.shift);
    a.lim = static_cast<std::uint32_t>(last - pos);
    // A 4-byte load of an 8-bit mono frame reads two frames past the next.
    a.safe = kByteMono ? a.lim - 2 : a.lim;
    a.out = out;
    a.g1 = g1;
    a.g2 = g2;
    mixing::Cursor c = mixing::cursor_at(frac, step);
    const int groups = n / Lanes;
    if (groups > 0) kernel(a, c, groups);
    if (const int m = n - groups * Lanes; m > 0) {
        alignas(32) float at[Lanes + mixing::kPositionSlack];
        c.take(m, at);
        for (int k = m; k < Lanes; ++k) at[k] = at[m - 1];
        float tail[2 * Lanes] = {};
        float* o = out + 2 * groups * Lanes;
        std::memcpy(tail, o, sizeof(float) * 2 * m);
        a.at = at;
        a.out = tail;
        kernel(a, c, 1);
        std::memcpy(o, tail, sizeof(float) * 2 * m);
    }
    frac = c.f;
}

bool avx2_supported() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

MixPath best_path() {
    if (mixing::kAvx2Kernels[0] && avx2_supported()) return MixPath::Avx2;
    if (mixing::kSse2Kernels[0]) return MixPath::Sse2;
    return MixPath::Plain;
}

std::atomic<MixPath> g_path{best_path()};

template <typename Sample, bool Stereo>
void mix_format(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n, float* out,
                std::uint32_t stride, float g1, float g2) {
    const MixPath path = g_path.load(std::memory_order_relaxed);
    if (stride == 2 && path != MixPath::Plain) {
        const int format = (sizeof(Sample) == 2 ? 2 : 0) + (Stereo ? 1 : 0);
        if (path == MixPath::Avx2) {
            mix_vector<Sample, Stereo, mixing::kAvx2Lanes>(mixing::kAvx2Kernels[format], sv, pos,
                                                           frac, step, n, out, g1, g2);
        } else {
            mix_vector<Sample, Stereo, mixing::kSse2Lanes>(mixing::kSse2Kernels[format], sv, pos,
                                                           frac, step, n, out, g1, g2);
        }
        return;
    }
    mix_plain<Sample, Stereo>(sv, pos, frac, step, n, out, stride, g1, g2);
}

}  // namespace

bool mix_path_available(MixPath path) {
    switch (path) {
        case MixPath::Plain:
            return true;
        case MixPath::Sse2:
            return mixing::kSse2Kernels[0] != nullptr;
        case MixPath::Avx2:
            return mixing::kAvx2Kernels[0] != nullptr && avx2_supported();
    }
    return false;
}

bool set_mix_path(MixPath path) {
    if (!mix_path_available(path)) return false;
    g_path.store(path, std::memory_order_relaxed);
    return true;
}

MixPath mix_path() {
    return g_path.load(std::memory_order_relaxed);
}

void mix(const SoundView& sv, std::uint64_t pos, float& frac, float step, int n, float* out,
         std::uint32_t stride, float g1, float g2) {
    if (sv.bits == 16) {
        if (sv.stereo) {
            mix_format<std::int16_t, true>(sv, pos, frac, step, n, out, stride, g1, g2);
        } else {
            mix_format<std::int16_t, false>(sv, pos, frac, step, n, out, stride, g1, g2);
        }
    } else if (sv.bits == 8) {
        if (sv.stereo) {
            mix_format<std::int8_t, true>(sv, pos, frac, step, n, out, stride, g1, g2);
        } else {
            mix_format<std::int8_t, false>(sv, pos, frac, step, n, out, stride, g1, g2);
        }
    } else {
        for (int j = 0; j < n; ++j) frac += step;  // unknown width: silent, but time goes on
    }
}
