// The oscilloscope's snapshot of the last buffer: what it keeps, and that a
// reader never sees half of one buffer and half of the next.
#include "engine/scope.h"

#include "support/testkit.h"

TEST(Scope, KeepsTheFirstFramesOfStereoAndMonoBuffers) {
    scope_clear();
    ScopeTrace t;
    ASSERT_TRUE(scope_read(t));
    EXPECT_EQ(t.frames, 0);

    std::vector<float> stereo(2 * 512);
    for (std::size_t i = 0; i < stereo.size(); ++i) stereo[i] = float(i);
    scope_write(stereo.data(), stereo.size(), 2);
    ASSERT_TRUE(scope_read(t));
    EXPECT_EQ(t.frames, kScopeFrames);
    EXPECT_EQ(t.left[5], 10.0f);
    EXPECT_EQ(t.right[127], 255.0f);

    const float mono[3] = {0.25f, -0.5f, 1.0f};
    scope_write(mono, 3, 1);
    ASSERT_TRUE(scope_read(t));
    EXPECT_EQ(t.frames, 3);
    EXPECT_EQ(t.left[1], -0.5f);
    EXPECT_EQ(t.right[1], -0.5f);
}

TEST(Scope, AReaderNeverSeesTwoBuffersMixed) {
    // Every buffer written holds one value throughout, starting with this one.
    const std::vector<float> first(2 * 256, 0.0f);
    scope_write(first.data(), first.size(), 2);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::vector<float> buf(2 * 256);
        for (int k = 1; !stop.load(std::memory_order_relaxed); ++k) {
            std::fill(buf.begin(), buf.end(), float(k % 1000));
            scope_write(buf.data(), buf.size(), 2);
        }
    });
    ScopeTrace t;
    int whole = 0;
    int torn_at = -1;
    // Reads until many whole snapshots were seen, however slowly the writer
    // runs (sanitizer builds); the bound only keeps a broken writer from
    // hanging the test.
    for (long i = 0; whole < 2000 && torn_at < 0 && i < 200'000'000; ++i) {
        if (!scope_read(t)) continue;
        ++whole;
        for (int f = 0; f < t.frames && torn_at < 0; ++f) {
            if (t.left[f] != t.left[0] || t.right[f] != t.left[0]) torn_at = f;
        }
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn_at, -1) << "a snapshot mixed two buffers";
    EXPECT_GT(whole, 0);
}
