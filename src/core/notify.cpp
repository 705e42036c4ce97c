#include "core/notify.h"

#include <atomic>
#include <cstddef>

rt<bool> prince;
rt<bool> prin;

namespace {

// Bounded multi-producer queue (sequence-numbered cells): producers claim a
// cell with one compare-and-swap, the consumer reads cells in order.
constexpr std::size_t kCells = 4096;  // power of two

struct Cell {
    std::atomic<std::size_t> seq;
    KeyNotice notice;
};

struct Ring {
    Ring() {
        for (std::size_t i = 0; i < kCells; ++i) cells[i].seq.store(i, std::memory_order_relaxed);
    }
    Cell cells[kCells];
    alignas(64) std::atomic<std::size_t> head{0};  // next cell to write
    alignas(64) std::atomic<std::size_t> tail{0};  // next cell to read
    std::atomic<std::uint64_t> dropped{0};
};

Ring g_ring;
std::atomic<bool> g_preview_ended{false};

}  // namespace

void post_key_notice(std::int16_t ch, std::int16_t no, bool ww) noexcept {
    std::size_t pos = g_ring.head.load(std::memory_order_relaxed);
    for (;;) {
        Cell& c = g_ring.cells[pos & (kCells - 1)];
        const std::size_t seq = c.seq.load(std::memory_order_acquire);
        const auto diff = static_cast<std::ptrdiff_t>(seq) - static_cast<std::ptrdiff_t>(pos);
        if (diff == 0) {
            if (g_ring.head.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                c.notice = KeyNotice{fourcc("ppia"), ch, no, ww};
                c.seq.store(pos + 1, std::memory_order_release);
                return;
            }
        } else if (diff < 0) {
            g_ring.dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        } else {
            pos = g_ring.head.load(std::memory_order_relaxed);
        }
    }
}

bool take_key_notice(KeyNotice& out) noexcept {
    const std::size_t pos = g_ring.tail.load(std::memory_order_relaxed);
    Cell& c = g_ring.cells[pos & (kCells - 1)];
    if (c.seq.load(std::memory_order_acquire) != pos + 1) return false;
    out = c.notice;
    c.seq.store(pos + kCells, std::memory_order_release);
    g_ring.tail.store(pos + 1, std::memory_order_relaxed);
    return true;
}

std::uint64_t key_notices_dropped() noexcept {
    return g_ring.dropped.load(std::memory_order_relaxed);
}

void post_preview_ended() noexcept {
    g_preview_ended.store(true, std::memory_order_release);
}

bool take_preview_ended() noexcept {
    return g_preview_ended.exchange(false, std::memory_order_acq_rel);
}
