// The sample editor's operations on real records in the sound table: exact
// arithmetic, lengths and loops, copy-on-write, the view and block rules,
// the loop fields, previews, and undo/redo.
#include "edit/sample_edit.h"

#include "edit/sample_ops.h"
#include "edit/view_ops.h"
#include "support/testkit.h"

using testkit::bytes_of;
using testkit::EngineTest;

namespace {

constexpr int kSlot = 1;
// The refusal of a loop change on a streamed sound.
const std::string kLoopRefusal =
    "This sound is streamed from disk and has no loop: it plays its file once, from start to end.";

// A sound's samples as numbers, whatever their width.
std::vector<int> samples_of(const p_s* s) {
    std::vector<int> v;
    for (std::uint32_t i = 0; i < s->size / (s->bits / 8u); ++i)
        v.push_back(s->bits == 16 ? testkit::word_at(s, i) : s->data[i]);
    return v;
}

class SampleEditTest : public EngineTest {
  protected:
    void open(p_s* rec) {
        replace_sound(kSlot, rec);
        nb_sound = 2;
        EditHooks h;
        h.refresh_images = [this] { ++refreshes; };
        h.data_changed = [this] { ++uppo; };
        h.set_button = [this](EditButton b, int v) { buttons[int(b)] = v; };
        h.set_field = [this](LoopField f, std::uint32_t v) { fields[int(f)] = v; };
        ed = std::make_unique<SampleEdit>(kSlot, h);
    }
    void select(std::int32_t a, std::int32_t b) {
        ed->state().block_start = a;
        ed->state().block_end = b;
    }
    p_s* rec() const { return t_sound[kSlot].load(); }

    std::unique_ptr<SampleEdit> ed;
    int refreshes = 0, uppo = 0;
    int buttons[3] = {-1, -1, -1};
    std::uint32_t fields[2] = {~0u, ~0u};
};

}  // namespace

TEST_F(SampleEditTest, BlockOperationsWorkOnWholeFramesInEveryWidth) {
    // Fades ramp per frame and give both samples of a frame its gain.
    // Normalize scales by the whole sound's peak to 101.6 (8-bit) or 26213.6
    // (16-bit), truncated toward zero; the most negative value does not count
    // as a peak and saturates instead of wrapping around. Reverse moves whole
    // frames and keeps an odd block's middle.
    const std::tuple<int, bool, std::vector<int>, int, int, EditOp, std::vector<int>> cases[] = {
        // bits, stereo, samples, block from, block to, op, samples afterwards
        {16, false, {1000, 1000, 1000, 1000}, 0, 4, kFadeIn, {0, 250, 500, 750}},
        {16, false, {1000, 1000, 1000, 1000}, 0, 4, kFadeOut, {1000, 750, 500, 250}},
        {16, true, {-800, 800, -800, 800}, 0, 2, kFadeIn, {0, 0, -400, 400}},
        {8, false, {50, -25, 10, -128, 3}, 0, 4, kNormalize, {101, -50, 20, -128, 3}},
        {16, false, {1000, -500, 7}, 0, 3, kNormalize, {26213, -13106, 183}},
        {16, true, {1, 2, 3, 4, 5, 6, 7, 8}, 0, 3, kReverse, {5, 6, 3, 4, 1, 2, 7, 8}},
        {8, true, {1, 2, 3, 4, 5, 6}, 1, 3, kReverse, {1, 2, 5, 6, 3, 4}},
    };
    for (const auto& [bits, stereo, samples, from, to, op, want] : cases) {
        const std::vector<std::int16_t> v(samples.begin(), samples.end());
        open(bits == 16 ? testkit::make_sound16(v, 44100, 60, stereo)
                        : testkit::make_sound8({v.begin(), v.end()}, 8000, 60, stereo));
        uppo = refreshes = 0;
        select(from, to);
        ASSERT_TRUE(ed->apply(op));
        EXPECT_EQ(samples_of(rec()), want) << op;
        EXPECT_EQ(uppo, 1);
        EXPECT_EQ(refreshes, 1);
    }
    // A silent sound has nothing to normalize: no new data, no undo step.
    open(testkit::make_sound16({0, 0, 0}, 44100, 60));
    const p_s* before = rec();
    select(0, 3);
    EXPECT_FALSE(ed->apply(kNormalize));
    EXPECT_EQ(rec(), before);
    EXPECT_EQ(ed->history().undo_steps(), 0u);
}

TEST_F(SampleEditTest, InsertClearAndDeleteInEveryFormat) {
    for (const testkit::Format f : testkit::kFormats) {
        SCOPED_TRACE(testing::Message() << f.bits << (f.stereo ? " stereo" : " mono"));
        const int fb = (f.bits / 8) * (f.stereo ? 2 : 1);
        open(testkit::ramp_sound(f.bits, f.stereo, 100));
        const std::vector<std::int8_t> orig = bytes_of(rec());
        select(10, 20);
        ASSERT_TRUE(ed->apply(kInsert));
        EXPECT_EQ(ed->state().total_frames, 110);
        std::vector<std::int8_t> want(orig.begin(), orig.begin() + 20 * fb);
        want.insert(want.end(), orig.begin() + 10 * fb, orig.end());
        EXPECT_EQ(bytes_of(rec()), want);
        EXPECT_EQ(rec()->capacity, 110u * fb + kSpareBytes);
        EXPECT_EQ(rec()->data[110 * fb + kSpareBytes - 1], 0);  // spare tail is silent

        ASSERT_TRUE(ed->apply(kDelete));  // the copy goes away again
        EXPECT_EQ(bytes_of(rec()), orig);
        EXPECT_EQ(ed->state().block_start, 10);  // same frame numbers, next frames

        ASSERT_TRUE(ed->apply(kClear));
        for (int i = 0; i < 100 * fb; ++i)
            EXPECT_EQ(rec()->data[i], (i >= 10 * fb && i < 20 * fb) ? 0 : orig[i]) << i;
    }
}

TEST_F(SampleEditTest, DeleteKeepsLoopsAndViewInsideTheShorterSound) {
    p_s* s = testkit::ramp_sound(16, false, 100);
    testkit::set_loop_frames(s, 40, 90);
    open(s);
    ed->state().view_start = 60, ed->state().view_end = 100;
    select(50, 100);  // the last frames, with the loop end
    ASSERT_TRUE(ed->apply(kDelete));
    EXPECT_EQ(ed->state().total_frames, 50);
    EXPECT_EQ(std::uint32_t(rec()->loop_end), 100u);  // bytes: frame 50
    EXPECT_EQ(std::uint32_t(rec()->loop), 1u);
    EXPECT_FALSE(ed->state().has_block());
    EXPECT_LE(ed->state().view_start, ed->state().view_end);
    EXPECT_EQ(ed->state().view_end, 50);

    select(10, 30);  // cuts the loop start off too
    ASSERT_TRUE(ed->apply(kDelete));
    EXPECT_EQ(std::uint32_t(rec()->loop), 0u);
    EXPECT_EQ(std::uint32_t(rec()->loop_end), 60u);
    EXPECT_TRUE(ed->state().has_block());  // 10..30 still inside 30 frames
}

TEST_F(SampleEditTest, NothingHappensWithoutABlockOrOnAStreamedSound) {
    open(testkit::ramp_sound(16, true, 50));
    const p_s* before = rec();
    for (int op = kClear; op <= kReverse; ++op) EXPECT_FALSE(ed->apply(EditOp(op)));
    select(5, 5);
    for (int op = kClear; op <= kReverse; ++op) EXPECT_FALSE(ed->apply(EditOp(op)));
    EXPECT_EQ(rec(), before);
    EXPECT_EQ(uppo, 0);

    p_s* streamed = testkit::ramp_sound(16, false, 50);
    streamed->type = kTypeStreamed;
    open(streamed);
    select(0, 10);
    EXPECT_FALSE(ed->apply(kFadeIn));
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(alerts()[0].text, kStreamedRefusal);
}

TEST_F(SampleEditTest, EditsAreCopiesThatLeaveTheOldDataAndSharersAlone) {
    // Two sounds on one block, as a bank import shares them.
    p_s* a = testkit::ramp_sound(16, false, 64);
    p_s* b = new p_s(*a);
    replace_sound(2, b);
    const std::int8_t* shared = a->data;
    const std::vector<std::int8_t> orig = bytes_of(a);
    open(a);
    select(0, 64);
    ed->apply(kReverse);
    EXPECT_NE(rec(), a);
    EXPECT_NE(rec()->data, shared);
    EXPECT_EQ(t_sound[2].load()->data, shared);
    EXPECT_EQ(bytes_of(t_sound[2].load()), orig);
    EXPECT_EQ(bytes_of(a), orig);  // retired, not freed nor written
    EXPECT_GE(reclaim::pending(), 1u);
    reclaim::reclaim_all();
    EXPECT_EQ(bytes_of(t_sound[2].load()), orig);
}

TEST_F(SampleEditTest, LoopFieldsAcceptOnlyPointsInsideTheSound) {
    p_s* s = testkit::ramp_sound(16, true, 200);
    testkit::set_loop_frames(s, 10, 100);
    open(s);
    const std::tuple<bool, const char*, std::uint32_t> cases[] = {
        // end, text, stored (frames after the command)
        {false, "-5", 10},  {false, "12x4", 10}, /* 124 is past the end */ {false, "50", 50},
        {false, "100", 50}, {true, "50", 100},   {true, "199", 199},
        {true, "200", 199}, {true, "abc", 199},  {false, "0", 0},
        {true, "1", 1},
    };
    for (const auto& [end, text, stored] : cases) {
        end ? ed->set_loop_end(text) : ed->set_loop_start(text);
        const std::uint32_t got = std::uint32_t(end ? rec()->loop_end : rec()->loop_start) >> 2;
        EXPECT_EQ(got, stored) << text;
        EXPECT_EQ(fields[end ? 1 : 0], stored) << text;  // the field shows what is stored
    }
    ed->set_loop_end("150");
    ed->set_loop_start("12x4");
    EXPECT_EQ(std::uint32_t(rec()->loop_start) >> 2, 124u);
    ed->toggle_loop();
    EXPECT_EQ(std::uint32_t(rec()->loop), 0u);
    EXPECT_EQ(buttons[int(EditButton::kLoop)], 0);
    EXPECT_EQ(uppo, 0);  // loop changes are no data changes
}

TEST_F(SampleEditTest, ZoomStepsStayInsideTheSound) {
    open(testkit::ramp_sound(8, false, 1000));
    EditState& st = ed->state();
    const auto view = [&] { return std::pair(st.view_start, st.view_end); };
    ed->zoom_out();
    EXPECT_EQ(view(), std::pair(0, 1000));
    ed->zoom_in();
    EXPECT_EQ(view(), std::pair(250, 750));
    st.view_start = 10, st.view_end = 13;
    ed->zoom_in();
    EXPECT_EQ(view(), std::pair(10, 13));
    st.view_start = 900, st.view_end = 980;
    ed->zoom_out();
    EXPECT_EQ(view(), std::pair(860, 1000));
}

TEST_F(SampleEditTest, PreviewsStartOneVoiceEachAndStopClearsTheButtons) {
    open(testkit::ramp_sound(16, false, 5000));
    EXPECT_FALSE(ed->command(fourcc("_VCH")));
    ed->command(fourcc("bplb"));  // no block: nothing
    EXPECT_EQ(active_voices(), 0);
    ed->command(fourcc("bply"));
    ed->command(fourcc("bply"));
    EXPECT_EQ(active_voices(), 1);
    EXPECT_EQ(buttons[int(EditButton::kPlayWhole)], 1);
    select(100, 200);
    ed->command(fourcc("bplb"));
    EXPECT_EQ(active_voices(), 2);
    EXPECT_EQ(ed->state().play_state, 3);
    ed->command(fourcc("bstp"));
    EXPECT_EQ(ed->state().play_state, 0);
    EXPECT_EQ(buttons[int(EditButton::kPlayWhole)], 0);
    EXPECT_EQ(buttons[int(EditButton::kPlayBlock)], 0);
}

TEST_F(SampleEditTest, UndoAndRedoRestoreEveryByteOverRandomEdits) {
    std::mt19937 rng(12);
    for (const testkit::Format f : testkit::kFormats) {
        SCOPED_TRACE(testing::Message() << f.bits << (f.stereo ? " stereo" : " mono"));
        p_s* s = testkit::ramp_sound(f.bits, f.stereo, 300);
        testkit::set_loop_frames(s, 30, 250);
        open(s);
        struct Seen {
            std::vector<std::int8_t> bytes;
            std::uint32_t loop_start, loop_end, loop;
            std::int32_t bs, be;
            auto sound() const { return std::tie(bytes, loop_start, loop_end, loop); }
        };
        const auto seen = [&] {
            return Seen{bytes_of(rec()), rec()->loop_start,       rec()->loop_end,
                        rec()->loop,     ed->state().block_start, ed->state().block_end};
        };
        std::vector<Seen> states{seen()};
        while (states.size() < 201) {
            const std::int32_t n = ed->state().total_frames;
            select(std::int32_t(rng() % (n + 1)), std::int32_t(rng() % (n + 1)));
            if (ed->state().block_start > ed->state().block_end)
                std::swap(ed->state().block_start, ed->state().block_end);
            const Seen before = seen();
            int op = int(rng() % 9);
            if (op == kDelete && n - (before.be - before.bs) < 20) op = kInsert;  // keep some sound
            bool changed;
            if (op < 7) {
                changed = ed->apply(EditOp(op));
            } else {
                const std::size_t steps = ed->history().undo_steps();
                ed->set_loop_start(std::to_string(rng() % (n + 1)).c_str());
                changed = ed->history().undo_steps() != steps;
            }
            if (!changed) continue;
            // The block a step restores is the one it began with.
            states.back().bs = before.bs, states.back().be = before.be;
            states.push_back(seen());
        }
        for (std::size_t i = states.size() - 1; i-- > 0;) {
            ASSERT_TRUE(ed->undo());
            const Seen got = seen();
            EXPECT_EQ(got.sound(), states[i].sound());
            EXPECT_EQ(std::pair(got.bs, got.be), std::pair(states[i].bs, states[i].be));
        }
        EXPECT_FALSE(ed->undo());
        for (std::size_t i = 1; i < states.size(); ++i) {
            ASSERT_TRUE(ed->redo());
            EXPECT_EQ(seen().sound(), states[i].sound());
        }
        EXPECT_FALSE(ed->redo());
        // A new edit after undoing forgets what could be redone.
        ed->undo();
        select(0, 1);
        ed->apply(kClear);
        EXPECT_EQ(ed->history().redo_steps(), 0u);
    }
}

TEST_F(SampleEditTest, UndoBelongsToTheSoundItWasMadeOnAndFollowsItToItsNewSlot) {
    open(testkit::ramp_sound(16, false, 100));
    const std::vector<std::int8_t> orig = bytes_of(rec());
    select(0, 100);
    ASSERT_TRUE(ed->apply(kReverse));
    const std::vector<std::int8_t> reversed = bytes_of(rec());

    // A sound put in before it moves it one slot on: the editor follows.
    {
        StructureEdit e;
        InstrumentStructure& st = e.next();
        st.sound[2] = st.sound[1];
        st.sound[1] = testkit::ramp_sound(8, false, 10);
        st.nb_sound = 3;
        e.publish();
    }
    const std::vector<std::int8_t> newcomer = bytes_of(t_sound[1].load());
    ASSERT_TRUE(ed->undo());
    EXPECT_EQ(ed->state().sound, 2);
    EXPECT_EQ(bytes_of(t_sound[2].load()), orig);
    EXPECT_EQ(bytes_of(t_sound[1].load()), newcomer);
    ASSERT_TRUE(ed->redo());
    EXPECT_EQ(bytes_of(t_sound[2].load()), reversed);

    // A load puts another sound in its slot: the history is not for that one.
    replace_sound(2, testkit::ramp_sound(16, false, 100));
    const std::vector<std::int8_t> loaded = bytes_of(t_sound[2].load());
    const std::string loaded_fields = testkit::describe(t_sound[2].load());
    EXPECT_EQ(ed->record(), nullptr);
    EXPECT_FALSE(ed->undo());
    EXPECT_FALSE(ed->redo());
    EXPECT_EQ(bytes_of(t_sound[2].load()), loaded);
    EXPECT_EQ(ed->history().undo_steps() + ed->history().redo_steps(), 0u);
    select(0, 100);
    EXPECT_FALSE(ed->apply(kReverse));
    ed->set_loop_end("50");
    ed->toggle_loop();
    EXPECT_EQ(bytes_of(t_sound[2].load()), loaded);
    EXPECT_EQ(testkit::describe(t_sound[2].load()), loaded_fields);
}

TEST_F(SampleEditTest, AStreamedSoundShowsItsFileAndItsLoopCannotBeChanged) {
    // A ring of 150 buffers of 1024 frames standing for a file of 130 s.
    p_s* s = testkit::ramp_sound(16, false, 153600);
    s->type = kTypeStreamed;
    s->chunk = 2048;
    s->nframes = 5733000;
    s->rate = 44100;
    s->loop = 1;
    s->loop_start = 50 * 2048;
    s->loop_end = 150 * 2048;
    open(s);
    EXPECT_EQ(ed->state().total_frames, 5733000);
    EXPECT_EQ(ed->state().view_end, 5733000);

    ed->toggle_loop();
    ed->set_loop_start("1000");
    ed->set_loop_end("2000");
    ASSERT_EQ(alerts().size(), 3u);
    for (const auto& a : alerts()) EXPECT_EQ(a.text, kLoopRefusal);
    EXPECT_EQ(std::uint32_t(rec()->loop), 1u);
    EXPECT_EQ(std::uint32_t(rec()->loop_start), 50u * 2048);
    EXPECT_EQ(std::uint32_t(rec()->loop_end), 150u * 2048);
    // The controls show the file's "no loop" again.
    EXPECT_EQ(buttons[int(EditButton::kLoop)], 0);
    EXPECT_EQ(fields[0], 0u);
    EXPECT_EQ(fields[1], 5733000u);
    EXPECT_EQ(ed->history().undo_steps(), 0u);
}
