#include "engine/scope.h"

#include <algorithm>
#include <atomic>

namespace {

// A sequence lock: the writer makes the counter odd while it stores and
// even again when done; a reader that sees the same even count before and
// after its copy has a whole snapshot. The samples are atomics with relaxed
// order, so a read racing a write is a retry, never undefined behaviour.
std::atomic<std::uint32_t> seq{0};
std::atomic<float> left[kScopeFrames];
std::atomic<float> right[kScopeFrames];
std::atomic<int> held{0};

constexpr int kReadTries = 8;

}  // namespace

void scope_write(const float* out, std::size_t floats, std::uint32_t channels) {
    if (!out || channels == 0) return;
    const int n = static_cast<int>(std::min<std::size_t>(floats / channels, kScopeFrames));
    const std::uint32_t s = seq.load(std::memory_order_relaxed);
    seq.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    const std::size_t second = channels > 1 ? 1 : 0;
    for (int i = 0; i < n; ++i) {
        left[i].store(out[i * channels], std::memory_order_relaxed);
        right[i].store(out[i * channels + second], std::memory_order_relaxed);
    }
    held.store(n, std::memory_order_relaxed);
    seq.store(s + 2, std::memory_order_release);
}

bool scope_read(ScopeTrace& trace) {
    for (int attempt = 0; attempt < kReadTries; ++attempt) {
        const std::uint32_t before = seq.load(std::memory_order_acquire);
        if (before & 1u) continue;
        const int n = std::clamp(held.load(std::memory_order_relaxed), 0, kScopeFrames);
        for (int i = 0; i < n; ++i) {
            trace.left[i] = left[i].load(std::memory_order_relaxed);
            trace.right[i] = right[i].load(std::memory_order_relaxed);
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (seq.load(std::memory_order_relaxed) == before) {
            trace.frames = n;
            return true;
        }
    }
    return false;
}

void scope_clear() {
    const std::uint32_t s = seq.load(std::memory_order_relaxed);
    seq.store(s + 1, std::memory_order_relaxed);
    held.store(0, std::memory_order_relaxed);
    seq.store(s + 2, std::memory_order_release);
}
