#include "core/structure.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "core/reclaim.h"
#include "core/sound.h"

namespace {

// The snapshot in force before the first publication; never retired.
InstrumentStructure g_initial;
std::atomic<const InstrumentStructure*> g_current{&g_initial};

void retire_snapshot(const InstrumentStructure* s) {
    if (s == &g_initial) return;
    reclaim::retire(const_cast<InstrumentStructure*>(s),
                    [](void* p) { delete static_cast<InstrumentStructure*>(p); });
}

}  // namespace

void InstrumentStructure::rebuild_invert() noexcept {
    const int n = sounds();
    const int k_end = insts();
    int s = 0;
    for (int k = 0; k < k_end && s < n; ++k) {
        const int end = k + 1 < k_end ? std::min<int>(n, inst[k + 1]) : n;
        for (; s < end; ++s) invert[s] = static_cast<std::uint16_t>(k);
    }
    // Sounds past the last range (none while the invariants hold).
    for (; s < n; ++s) invert[s] = static_cast<std::uint16_t>(k_end > 0 ? k_end - 1 : 0);
}

const InstrumentStructure& structure() noexcept {
    return *g_current.load(std::memory_order_acquire);
}

StructureEdit::StructureEdit() : next_(std::make_unique<InstrumentStructure>(structure())) {
    scratch_.reserve(2 * kMaxSounds);
    // The old snapshot and every record it holds may be retired at once.
    reclaim::reserve(kMaxSounds + 1);
}

StructureEdit::~StructureEdit() = default;

void StructureEdit::publish(bool rebuild_invert, bool retire_removed) noexcept {
    if (!next_) return;
    InstrumentStructure* fresh = next_.release();
    if (rebuild_invert) fresh->rebuild_invert();
    const InstrumentStructure* old = g_current.load(std::memory_order_relaxed);
    fresh->generation = old->generation + 1;
    g_current.store(fresh, std::memory_order_release);

    // The records the old snapshot held and the new one does not: each is
    // retired on its own, so a pin on any of them keeps exactly that one.
    scratch_.clear();
    if (retire_removed) {
        for (int i = 0; i < kMaxSounds; ++i)
            if (p_s* r = fresh->sound[i]) scratch_.push_back(r);
        std::sort(scratch_.begin(), scratch_.end());
        const std::size_t kept = scratch_.size();
        for (int i = 0; i < kMaxSounds; ++i) {
            p_s* r = old->sound[i];
            if (r && !std::binary_search(scratch_.begin(), scratch_.begin() + kept, r))
                scratch_.push_back(r);
        }
        // A record the old snapshot held in two slots is retired once.
        std::sort(scratch_.begin() + kept, scratch_.end());
        const auto gone_end = std::unique(scratch_.begin() + kept, scratch_.end());
        for (auto it = scratch_.begin() + kept; it != gone_end; ++it) reclaim::retire_object(*it);
    }
    retire_snapshot(old);
}
