// The reclamation scheme under pressure: more reading threads than reader
// slots, and a record pinned across slow work outside any section.

#include "support/testkit.h"

using testkit::EngineTest;

namespace {

// Renders one buffer on a thread of its own (one that holds no slot yet).
std::vector<float> render_on_new_thread() {
    std::vector<float> out;
    std::thread audio([&out] {
        out = testkit::render(256);
        reclaim::release_thread_slot();
    });
    audio.join();
    return out;
}

}  // namespace

TEST_F(EngineTest, WithEveryReaderSlotTakenAudioIsSilentAndOtherReadersWait) {
    p_s* s = testkit::make_sound16(std::vector<std::int16_t>(4000, 12000), 44100, 60);
    testkit::set_loop_frames(s, 0, 4000);
    replace_sound(0, s);
    addnote(0, 60, 0, 127, false, 0, 0);
    ASSERT_GT(testkit::peak(render_on_new_thread()), 0.01f);

    // Every slot that is free gets a holder; the last holders find none.
    std::atomic<bool> let_go{false};
    std::atomic<int> holding{0};
    std::atomic<int> turned_away{0};
    std::vector<std::thread> holders;
    for (int i = 0; i < reclaim::kReaderSlots; ++i) {
        holders.emplace_back([&] {
            {
                reclaim::ReadSection section(reclaim::no_wait);
                if (section.entered()) {
                    holding.fetch_add(1);
                    let_go.wait(false);
                } else {
                    turned_away.fetch_add(1);
                }
            }
            reclaim::release_thread_slot();
        });
    }
    while (holding.load() + turned_away.load() < reclaim::kReaderSlots) std::this_thread::yield();
    ASSERT_GE(turned_away.load(), 1);  // this thread owns a slot, so one holder found none

    // The render callback does not wait and does not abort: it plays silence
    // and counts the buffer.
    const std::uint64_t before = reclaim::slot_shortages();
    EXPECT_EQ(testkit::peak(render_on_new_thread()), 0.0f);
    EXPECT_EQ(reclaim::slot_shortages(), before + 1);
    EXPECT_TRUE(nlist[0].playing());  // the voice is untouched

    // Any other thread waits for a slot, and gets one when a holder leaves.
    std::atomic<bool> inside{false};
    std::thread waiter([&] {
        {
            reclaim::ReadSection section;
            inside.store(true);
        }
        reclaim::release_thread_slot();
    });
    while (reclaim::slot_shortages() < before + 2) std::this_thread::yield();
    EXPECT_FALSE(inside.load());
    let_go.store(true);
    let_go.notify_all();
    waiter.join();
    EXPECT_TRUE(inside.load());
    for (std::thread& t : holders) t.join();

    EXPECT_GT(testkit::peak(render_on_new_thread()), 0.01f);
}

TEST_F(EngineTest, APinnedRecordOutlivesItsSectionAndOnlyIt) {
    replace_sound(0, testkit::make_sound16(std::vector<std::int16_t>(100, 1), 44100, 60));
    replace_sound(1, testkit::make_sound16(std::vector<std::int16_t>(100, 2), 44100, 60));
    reclaim::reclaim_all();

    reclaim::Pin pin;
    p_s* held = nullptr;
    {
        reclaim::ReadSection section;
        held = t_sound[0];
        ASSERT_TRUE(pin.hold(held));
    }
    // Both records are replaced while the pinning thread is outside any
    // section: the unpinned one is freed at once, the pinned one is kept.
    replace_sound(0, testkit::make_sound16(std::vector<std::int16_t>(10, 3), 44100, 60));
    replace_sound(1, testkit::make_sound16(std::vector<std::int16_t>(10, 4), 44100, 60));
    reclaim::reclaim();  // the snapshots that held them go too
    EXPECT_EQ(reclaim::pending(), 1u);
    EXPECT_EQ(held->size, 200u);  // still readable (AddressSanitizer checks it)
    EXPECT_EQ(held->data[0], 1);

    pin.release();
    EXPECT_EQ(reclaim::reclaim(), 1u);
    EXPECT_EQ(reclaim::pending(), 0u);
}
