// The sample editor changes a sound while 64 voices play it: one thread
// edits, undoes and redoes, the render callback runs in another, and a MIDI
// thread starts and stops notes on the sound. Every value the sound can hold
// is at or above zero, so a rendered sample below zero (or not finite) means
// a voice read something that was not the sound. Run under ThreadSanitizer
// and AddressSanitizer in CI.

#include "edit/sample_edit.h"
#include "support/testkit.h"

using testkit::EngineTest;

TEST_F(EngineTest, EditingASoundWhileSixtyFourVoicesPlayItIsSafe) {
    // Sound 0 belongs to instrument 0, which channel 0 plays.
    p_s* s = testkit::make_sound16(std::vector<std::int16_t>(6000, 1000), 44100, 60);
    testkit::set_loop_frames(s, 100, 5000);
    replace_sound(0, s);
    ch_main[0] = 8;  // 64 voices at full scale stay inside the output range
    prin = true;

    std::atomic<long> buffers{0}, bad{0};
    std::atomic<int> most_voices{0};
    testkit::Looper audio([&] {
        for (float x : testkit::render(256, 48000.0f))
            if (!std::isfinite(x) || x < 0.0f || x > 4.0f) bad.fetch_add(1);
        most_voices.store(std::max(most_voices.load(), active_voices()));
        buffers.fetch_add(1);
    });
    MyBMidiPort port;
    std::mt19937 midi_rng(3);
    for (std::uint8_t key = 30; key < 94; ++key) port.NoteOn(0, key, 100);
    testkit::Looper midi([&] {
        // Restart one of the 64 held notes.
        const std::uint8_t key = std::uint8_t(30 + midi_rng() % 64);
        port.NoteOff(0, key, 64);
        port.NoteOn(0, key, std::uint8_t(1 + midi_rng() % 127));
        std::this_thread::yield();
    });

    SampleEdit ed(0, {});
    std::mt19937 rng(9);
    int edits = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    for (int i = 0; i < 3000 && std::chrono::steady_clock::now() < until; ++i) {
        EditState& st = ed.state();
        const std::int32_t n = st.total_frames;
        st.block_start = std::int32_t(rng() % (n + 1));
        st.block_end = std::int32_t(rng() % (n + 1));
        if (st.block_start > st.block_end) std::swap(st.block_start, st.block_end);
        const int what = int(rng() % 12);
        if (what < 7) {
            // Keep the sound between a few hundred and 40000 frames.
            EditOp op = EditOp(what);
            if (op == kInsert && n > 40000) op = kDelete;
            if (op == kDelete && n - (st.block_end - st.block_start) < 300) op = kReverse;
            edits += ed.apply(op);
        } else if (what < 9) {
            ed.undo();
        } else if (what < 10) {
            ed.redo();
        } else if (what < 11) {
            ed.set_loop_start(std::to_string(rng() % (n + 1)).c_str());
            ed.set_loop_end(std::to_string(rng() % (n + 1)).c_str());
        } else {
            (rng() % 2) ? ed.play_whole() : ed.play_block();
            if (rng() % 2) ed.stop();
        }
        if (i % 8 == 0) reclaim::reclaim();
    }
    audio.stop();
    midi.stop();

    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(edits, 100);
    EXPECT_GT(buffers.load(), 100);
    EXPECT_GE(most_voices.load(), 60);
}
