// The editor's parts that stand alone: the undo history's memory bound, the
// strips' column images and highlights, and saving a sound to a file.

#include "edit/edit_state.h"
#include "edit/history.h"
#include "edit/sample_save.h"
#include "edit/strip.h"
#include "support/testkit.h"

TEST(History, DropsTheOldestStepsBeyondItsMemory) {
    History h(1000);
    const auto step = [](std::uint32_t bytes) {
        std::shared_ptr<std::int8_t[]> block(new std::int8_t[bytes]);
        return Snapshot{block, block.get(), bytes};
    };
    Snapshot live = step(10);
    for (int i = 0; i < 5; ++i) h.record(step(300), live.data);
    EXPECT_EQ(h.undo_steps(), 3u);
    EXPECT_EQ(h.retained_bytes(live.data), 900u);
    Snapshot loop_only = live;  // same data as now: costs nothing
    for (int i = 0; i < 50; ++i) h.record(loop_only, live.data);
    EXPECT_EQ(h.undo_steps(), 53u);
}

TEST(Strip, FullScaleFillsTheColumnSilenceIsOneLineAndHighlightsFollowViewAndBlock) {
    testkit::fresh_tables();
    ColumnImage img;
    std::vector<std::int16_t> v(1024, 0);
    for (int i = 0; i < 512; ++i) v[i] = -32768;
    const std::unique_ptr<p_s> s(testkit::make_sound16(v, 44100, 60));
    compute_overview(s.get(), EditState{.total_frames = 1024, .view_end = 1024}, img);
    for (int row = 0; row < 64; ++row) {
        EXPECT_TRUE(strip_bit(img, 0, row)) << row;  // loud first half: full bars
        EXPECT_TRUE(strip_bit(img, 255, row)) << row;
        EXPECT_EQ(strip_bit(img, 256, row), row == 32) << row;  // silence: one line
    }
    compute_strip(nullptr, 0, 1, img);
    for (int c = 0; c < 512; c += 37) EXPECT_TRUE(strip_bit(img, c, 32) && !strip_bit(img, c, 31));
    EditState st{.total_frames = 1024, .view_start = 256, .view_end = 512};
    const auto span = [](ColumnSpan c) { return std::pair(c.first, c.last); };
    EXPECT_EQ(span(overview_span(st)), std::pair(128, 256));
    EXPECT_EQ(zoom_span(st).first, 511);       // no block
    st.block_start = 100, st.block_end = 384;  // from left of the view
    EXPECT_EQ(span(zoom_span(st)), std::pair(0, 256));
    st.block_start = 600, st.block_end = 700;  // right of it
    EXPECT_EQ(span(zoom_span(st)), std::pair(511, 512));
}

TEST(SaveSample, WritesEveryFormatBackBitForBitWithItsLoop) {
    testkit::fresh_tables();
    const files::TempDir dir;
    for (const testkit::Format f : testkit::kFormats) {
        for (const char* ext : {".wav", ".flac"}) {
            SCOPED_TRACE(testing::Message() << f.bits << f.stereo << ext);
            std::unique_ptr<p_s> s(testkit::ramp_sound(f.bits, f.stereo, 300));
            testkit::set_loop_frames(s.get(), 20, 250);
            const std::string path = dir.file(std::string("saved") + ext);
            ASSERT_EQ(save_sample(*s, path), "");
            SF_INFO info{};
            SNDFILE* in = sf_open(path.c_str(), SFM_READ, &info);
            ASSERT_NE(in, nullptr);
            EXPECT_EQ(info.frames, 300);
            EXPECT_EQ(info.channels, f.stereo ? 2 : 1);
            EXPECT_EQ(info.samplerate, 22050);
            std::vector<short> got(600);
            sf_readf_short(in, got.data(), 300);
            for (int i = 0; i < 300 * info.channels; ++i) {
                const int want =
                    f.bits == 16 ? reinterpret_cast<std::int16_t*>(s->data)[i] : s->data[i] * 256;
                ASSERT_EQ(got[i], want) << i;
            }
            SF_INSTRUMENT inst{};
            const bool has = sf_command(in, SFC_GET_INSTRUMENT, &inst, sizeof inst) == SF_TRUE;
            if (std::string(ext) == ".wav") {
                ASSERT_TRUE(has);
                ASSERT_EQ(inst.loop_count, 1);
                EXPECT_EQ(inst.loops[0].start, 20u);
                EXPECT_EQ(inst.loops[0].end, 250u);
                EXPECT_EQ(inst.basenote, 60);
            }
            sf_close(in);
        }
    }
    EXPECT_NE(
        save_sample(*std::unique_ptr<p_s>(testkit::ramp_sound(8, false, 10)), "/nonexistent/x.wav"),
        "");
}
