// The oscilloscope's snapshot of the last buffer: what it keeps, and that a
// reader never sees half of one buffer and half of the next.
#include "engine/scope.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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
    for (int i = 0; i < 20000; ++i) {
        if (!scope_read(t)) continue;
        ++whole;
        for (int f = 0; f < t.frames; ++f) {
            ASSERT_EQ(t.left[f], t.left[0]) << "frame " << f;
            ASSERT_EQ(t.right[f], t.left[0]) << "frame " << f;
        }
    }
    stop = true;
    writer.join();
    EXPECT_GT(whole, 0);
}
