#include "engine/mix.h"

#include <atomic>

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

// A vector path into a stereo output: runs of frames whose positions are
// exact multiples of a fixed step go through `kernel` `lanes` at a time;
// everything else (positions below 1, the frame that crosses into the next
// binade, rounding ties, the last frames of a run) takes the plain frame.
template <typename Sample, bool Stereo>
void mix_runs(mixing::Kernel kernel, int lanes, const SoundView& sv, std::uint64_t pos, float& frac,
              float step, int n, float* out, float g1, float g2) {
    const Sample* src = reinterpret_cast<const Sample*>(sv.data);
    const std::uint64_t last = sv.last_index;
    float f = frac;
    int j = 0;
    const bool vector_ok = pos <= last && last - pos < (1u << 30) &&
                           f + static_cast<float>(n) * step < static_cast<float>(1 << 29);
    mixing::KernelArgs a{};
    if (vector_ok) {
        a.src = sv.data + (pos << sv.shift);
        a.lim = static_cast<std::uint32_t>(last - pos);
        // A 4-byte load of an 8-bit mono frame reads two frames past it.
        a.safe = (sizeof(Sample) == 1 && !Stereo) ? (a.lim >= 2 ? a.lim - 2 : 0) : UINT32_MAX;
        a.g1 = g1;
        a.g2 = g2;
    }
    while (j < n) {
        if (vector_ok) {
            const mixing::Run run = mixing::binade_run(f, step);
            const long frames = run.frames < n - j ? run.frames : n - j;
            const int groups = static_cast<int>(frames / lanes);
            if (groups > 0) {
                a.f = f;
                a.rstep = run.rstep;
                a.out = out + 2 * j;
                const int done = kernel(a, groups);
                j += done * lanes;
                f += static_cast<float>(done * lanes) * run.rstep;  // exact inside the run
                if (done == groups) {
                    // The rest of the run frame by frame: the same sums.
                    for (long k = groups * lanes; k < frames; ++k, ++j, f += step) {
                        plain_frame<Sample, Stereo, false>(src, pos, last, f, out + 2 * j, g1, g2);
                    }
                    continue;
                }
            }
        }
        plain_frame<Sample, Stereo, false>(src, pos, last, f, out + 2 * j, g1, g2);
        f += step;
        ++j;
    }
    frac = f;
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
            mix_runs<Sample, Stereo>(mixing::kAvx2Kernels[format], mixing::kAvx2Lanes, sv, pos,
                                     frac, step, n, out, g1, g2);
        } else {
            mix_runs<Sample, Stereo>(mixing::kSse2Kernels[format], mixing::kSse2Lanes, sv, pos,
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
