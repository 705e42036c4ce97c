#include "core/reclaim.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace reclaim {
namespace {

constexpr int kSlots = 512;
constexpr std::uint64_t kIdle = 0;

struct alignas(64) Slot {
    std::atomic<bool> owned{false};
    std::atomic<std::uint64_t> epoch{kIdle};  // epoch announced while reading
};

Slot g_slots[kSlots];
std::atomic<std::uint64_t> g_epoch{1};
// Readers and writers meet on this counter instead of on standalone fences:
// read-modify-writes of one variable are totally ordered, so either a reader
// sees a record already unpublished, or the writer's scan sees the reader's
// announced epoch. (ThreadSanitizer understands this; it ignores fences.)
std::atomic<std::uint64_t> g_meet{0};

void meet() noexcept {
    g_meet.fetch_add(1, std::memory_order_seq_cst);
}

// Per-thread state is trivially destructible so that touching it on the
// audio thread registers no destructor (which could allocate).
thread_local Slot* t_slot = nullptr;
thread_local int t_depth = 0;

Slot* claim_slot() noexcept {
    for (Slot& s : g_slots) {
        bool expected = false;
        if (!s.owned.load(std::memory_order_relaxed) &&
            s.owned.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
            return &s;
        }
    }
    // More live reader threads than slots is a programming error.
    std::fputs("reclaim: no free reader slot\n", stderr);
    std::abort();
}

struct Retired {
    void* object;
    Deleter deleter;
    std::uint64_t epoch;  // unpublished before this epoch ended
};

std::mutex g_mutex;
std::vector<Retired> g_retired;
std::atomic<std::size_t> g_pending{0};

// Smallest epoch announced by a thread inside a section, or UINT64_MAX.
std::uint64_t oldest_reader() noexcept {
    meet();
    std::uint64_t oldest = UINT64_MAX;
    for (Slot& s : g_slots) {
        const std::uint64_t e = s.epoch.load(std::memory_order_acquire);
        if (e != kIdle && e < oldest) oldest = e;
    }
    return oldest;
}

}  // namespace

ReadSection::ReadSection() noexcept {
    if (t_depth++ > 0) return;
    if (!t_slot) t_slot = claim_slot();
    t_slot->epoch.store(g_epoch.load(std::memory_order_seq_cst), std::memory_order_seq_cst);
    meet();
}

ReadSection::~ReadSection() {
    if (--t_depth > 0) return;
    t_slot->epoch.store(kIdle, std::memory_order_release);
}

void retire(void* object, Deleter deleter) {
    if (!object) return;
    // The object was unpublished before this point; readers that announce a
    // later epoch cannot have found it.
    meet();
    const std::uint64_t e = g_epoch.fetch_add(1, std::memory_order_seq_cst);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_retired.push_back({object, deleter, e});
    g_pending.fetch_add(1, std::memory_order_relaxed);
}

void reserve(std::size_t count) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_retired.reserve(g_retired.size() + count);
}

std::size_t reclaim() {
    std::vector<Retired> ready;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_retired.empty()) return 0;
        const std::uint64_t oldest = oldest_reader();
        std::size_t keep = 0;
        for (Retired& r : g_retired) {
            if (r.epoch < oldest) {
                ready.push_back(r);
            } else {
                g_retired[keep++] = r;
            }
        }
        g_retired.resize(keep);
    }
    // Deleters run outside the lock: a deleter may retire further objects.
    for (Retired& r : ready) r.deleter(r.object);
    g_pending.fetch_sub(ready.size(), std::memory_order_relaxed);
    return ready.size();
}

void reclaim_all() {
    while (pending() > 0) {
        if (reclaim() == 0) std::this_thread::yield();
    }
}

std::size_t pending() {
    return g_pending.load(std::memory_order_relaxed);
}

void release_thread_slot() noexcept {
    if (!t_slot || t_depth > 0) return;
    t_slot->epoch.store(kIdle, std::memory_order_release);
    t_slot->owned.store(false, std::memory_order_release);
    t_slot = nullptr;
}

}  // namespace reclaim
