// Running out of memory anywhere in a bank's import: the import is refused
// with an alert, nothing in the tables changes and nothing leaks.
//
// This test program replaces the global allocator with a counting one that
// can make any single allocation fail.
#include <cstdlib>
#include <new>

#include "io/bank_import.h"
#include "support/testkit.h"

namespace {

// Every block carries a header saying whether it was taken while counting,
// so that frees of older blocks do not disturb the count of live ones.
bool g_counting = false;
long g_allocations = 0;  // while counting
long g_fail_at = 0;      // the allocation (1-based) that fails; 0 for none
long g_live = 0;         // blocks taken while counting and not yet freed

[[gnu::noinline]] void* take(std::size_t n, std::size_t align = alignof(std::max_align_t)) {
    if (g_counting && ++g_allocations == g_fail_at) return nullptr;
    const std::size_t total = (n + 2 * align - 1) / align * align;
    auto* p = static_cast<unsigned char*>(std::aligned_alloc(align, total));
    if (!p) return nullptr;
    p[0] = g_counting ? 1 : 0;
    if (g_counting) ++g_live;
    return p + align;
}

[[gnu::noinline]] void give_back(void* q, std::size_t align = alignof(std::max_align_t)) noexcept {
    if (!q) return;
    auto* p = static_cast<unsigned char*>(q) - align;
    if (p[0] == 1) --g_live;
    std::free(p);
}

}  // namespace

// The library's array, nothrow and other sized forms call these.
void* operator new(std::size_t n) {
    if (void* p = take(n)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, std::align_val_t a) {
    if (void* p = take(n, static_cast<std::size_t>(a))) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    give_back(p);
}
void operator delete(void* p, std::size_t) noexcept {
    give_back(p);
}
void operator delete(void* p, std::align_val_t a) noexcept {
    give_back(p, static_cast<std::size_t>(a));
}

namespace {

char g_alert[256];
int g_alerts = 0;

class BankImportOutOfMemory : public testkit::EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        ui_hooks().alert = [](const char* text, const char*) {
            std::snprintf(g_alert, sizeof g_alert, "%s", text);  // without allocating
            ++g_alerts;
        };
    }
};

TEST_F(BankImportOutOfMemory, EveryFailedAllocationChangesNothingAndLeaksNothing) {
    using namespace files;
    using Points = std::vector<std::int16_t>;
    // A small General MIDI bank.
    const Bytes bank =
        sf_bank({{"s0", Points(100, 0)}, {"s1", Points(100, 100)}, {"s2", Points(100, 200)}},
                {{"Keys", {{key_range(0, 59), sample_id(0)}, {key_range(60, 127), sample_id(1)}}},
                 {"Kit", {{key_range(36, 36), sample_id(2)}}}},
                {{"Piano", 0, 0, {{instrument(0)}}},
                 {"Organ", 16, 0, {{key_range(40, 80), instrument(0)}}},
                 {"Standard", 0, 128, {{instrument(1)}}}});
    // Instruments before, at and after the selection, so the import replaces
    // some and moves others.
    add_sounds(0, 2);
    add_inst("selected");
    add_inst("after");
    no_s = static_cast<std::int16_t>(inst_first(1));

    long fail_at = 1;
    for (;; ++fail_at) {
        const testkit::TableSnapshot before = testkit::TableSnapshot::take();
        const std::size_t pending = reclaim::pending();
        g_allocations = g_live = g_alerts = 0;
        g_fail_at = fail_at;
        g_counting = true;
        MemoryInput in(bank.data(), bank.size());
        const int zones = import_bank(in, "small.sf2");
        g_counting = false;
        if (g_allocations < fail_at) {  // no allocation failed: imported
            EXPECT_EQ(zones, 5);
            EXPECT_EQ(g_alerts, 0) << g_alert;
            break;
        }
        SCOPED_TRACE("allocation " + std::to_string(fail_at) + " failed");
        EXPECT_EQ(zones, 0);
        ASSERT_EQ(g_alerts, 1);
        EXPECT_STREQ(g_alert, "not enough memory to load small.sf2");
        EXPECT_EQ(g_live, 0);
        EXPECT_EQ(reclaim::pending(), pending);
        testkit::expect_unchanged(before);
    }
    // The import allocates at least its lists, plan, sample block and records.
    EXPECT_GT(fail_at, 20);
    ASSERT_EQ(nb_inst, 129 + 1);
    EXPECT_STREQ(inst_name(1), "Piano");
    EXPECT_STREQ(inst_name(17), "Organ");
    EXPECT_STREQ(inst_name(129), "Standard");
    EXPECT_EQ(ch_inst[9], 129);
    EXPECT_EQ(no_s, inst_first(1));
    for (int s = 0; s < nb_sound; ++s) EXPECT_EQ(t_invert[s], quel_baseson(s));
}

}  // namespace
