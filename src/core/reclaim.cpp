#include "core/reclaim.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace reclaim {
namespace {

constexpr std::uint64_t kIdle = 0;

struct alignas(64) Slot {
    std::atomic<bool> owned{false};
    std::atomic<std::uint64_t> epoch{kIdle};  // epoch announced while reading
};

Slot g_slots[kReaderSlots];
// Slots [0, g_used) have ever been claimed; writers scan only those.
std::atomic<int> g_used{0};
std::atomic<const void*> g_pins[kPins];
std::atomic<std::uint64_t> g_shortages{0};
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

// Null when every slot is owned by another thread. The lowest free slot is
// taken, so the slots in use stay few and together.
Slot* try_claim_slot() noexcept {
    for (int i = 0; i < kReaderSlots; ++i) {
        Slot& s = g_slots[i];
        bool expected = false;
        if (!s.owned.load(std::memory_order_relaxed) &&
            s.owned.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
            // Before the slot's first announcement. A writer that still reads
            // the old count met the reader's later `meet`, so the reader
            // cannot find what that writer unpublished.
            int used = g_used.load(std::memory_order_seq_cst);
            while (used < i + 1 && !g_used.compare_exchange_weak(used, i + 1)) {
            }
            return &s;
        }
    }
    return nullptr;
}

// A non-real-time thread waits for another thread to give its slot back.
Slot* claim_slot_waiting() noexcept {
    Slot* s = try_claim_slot();
    if (s) return s;
    g_shortages.fetch_add(1, std::memory_order_relaxed);
    for (int tries = 0; !(s = try_claim_slot()); ++tries) {
        if (tries < 64) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    return s;
}

bool pinned(const void* object) noexcept {
    for (const auto& p : g_pins)
        if (p.load(std::memory_order_seq_cst) == object) return true;
    return false;
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
    const int used = g_used.load(std::memory_order_seq_cst);
    for (int i = 0; i < used; ++i) {
        const std::uint64_t e = g_slots[i].epoch.load(std::memory_order_acquire);
        if (e != kIdle && e < oldest) oldest = e;
    }
    return oldest;
}

}  // namespace

namespace {

void announce() noexcept {
    t_slot->epoch.store(g_epoch.load(std::memory_order_seq_cst), std::memory_order_seq_cst);
    meet();
}

}  // namespace

ReadSection::ReadSection() noexcept {
    if (t_depth++ > 0) return;
    if (!t_slot) t_slot = claim_slot_waiting();
    announce();
}

ReadSection::ReadSection(NoWait) noexcept {
    if (t_depth > 0) {
        ++t_depth;
        return;
    }
    if (!t_slot) t_slot = try_claim_slot();
    if (!t_slot) {
        g_shortages.fetch_add(1, std::memory_order_relaxed);
        entered_ = false;
        return;
    }
    ++t_depth;
    announce();
}

ReadSection::~ReadSection() {
    if (!entered_ || --t_depth > 0) return;
    t_slot->epoch.store(kIdle, std::memory_order_release);
}

bool Pin::hold(const void* object) noexcept {
    release();
    for (int i = 0; i < kPins; ++i) {
        const void* expected = nullptr;
        if (g_pins[i].compare_exchange_strong(expected, object, std::memory_order_seq_cst)) {
            index_ = i;
            return true;
        }
    }
    return false;
}

void Pin::release() noexcept {
    if (index_ < 0) return;
    g_pins[index_].store(nullptr, std::memory_order_seq_cst);
    index_ = -1;
}

std::uint64_t slot_shortages() noexcept {
    return g_shortages.load(std::memory_order_relaxed);
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
        // A pin is set inside the section that found the object, so a
        // reader seen gone from its section has its pin visible here.
        for (Retired& r : g_retired) {
            if (r.epoch < oldest && !pinned(r.object)) {
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
