// Who may hold a sound while the structure changes under it: the streaming
// reader decoding into a record a bank load replaces, a late release meeting
// a reused voice, loop fields edited on a streamed sound, and the rewind of a
// stream whose voice ends.
#include "io/bank_import_place.h"
#include "io/d2d_reader.h"
#include "support/testkit.h"

using testkit::EngineTest;

namespace {

constexpr std::int64_t kHalf = std::int64_t{kHalfChunks} * kChunkFrames;

class SoundLifetime : public EngineTest {
  protected:
    // Kept outside the source, which the fault under test frees while the
    // reader is inside it.
    std::shared_ptr<testkit::SourceControl> control = std::make_shared<testkit::SourceControl>();
    p_s* stream = nullptr;

    void SetUp() override {
        EngineTest::SetUp();
        stream = testkit::numbered_stream(control);
        replace_sound(0, stream);  // the one sound of instrument 0
    }
    void TearDown() override {
        EngineTest::TearDown();
        reclaim::release_thread_slot();
    }
};

// A bank loaded onto the instrument of a playing stream while the reader
// decodes into that stream's ring: the replaced record, its ring and its
// decoder live until the reader is done with them, then go.
TEST_F(SoundLifetime, ABankLoadedOverAStreamTheReaderFillsFreesNothingItHolds) {
    addnote(0, 48, 0, 127, true, 0, 0);
    ASSERT_EQ(active_voices(), 1);
    control->hold = true;
    std::thread reader([] {
        DecodeScratch scratch;
        d2d_pass(scratch);  // pins the record, then fills its first half
        reclaim::release_thread_slot();
    });
    while (!control->inside.load()) std::this_thread::yield();

    std::vector<BuiltInstrument> bank(1);
    bank[0].name = "bank";
    bank[0].sounds.emplace_back(testkit::make_sound16(std::vector<std::int16_t>(64, 5), 44100, 60));
    BankPlacement placement(0, 1);
    placement.publish(bank);
    reclaim::reclaim();  // the window's periodic reclamation
    EXPECT_FALSE(control->destroyed.load()) << "the decoder the reader is inside was freed";

    control->hold = false;
    reader.join();
    EXPECT_NE(t_sound[0].load(), stream);
    reclaim::reclaim_all();
    EXPECT_TRUE(control->destroyed.load()) << "the replaced stream was never freed";
    // The voice's sound is gone: it ends instead of playing the bank's sound.
    testkit::render(512);
    EXPECT_EQ(active_voices(), 0);
}

// Loop fields written on a streamed sound while it plays (as an editor
// would) change nothing of how its ring is played: the file comes out in
// order, every frame once.
TEST_F(SoundLifetime, LoopFieldsEditedOnAPlayingStreamLeaveItsRingAlone) {
    addnote(0, 48, 0, 127, false, 0, 0);  // key = base, rate = output rate: step 1
    DecodeScratch scratch;
    testkit::FileOrder order;
    for (int b = 0; order.heard < 4 * kHalf && b < 2000; ++b) {
        if (b == 20) {
            stream->loop_start = 0;
            stream->loop_end = 4096;
        }
        if (b == 300) stream->loop = 0;
        d2d_pass(scratch);
        order.hear(testkit::render(512));  // silent while waiting for the reader
    }
    EXPECT_GE(order.heard, 4 * kHalf);
    EXPECT_EQ(order.wrong, 0) << "frames out of file order";
}

// A rewind asked for while the reader can pin nothing is done by a later pass.
TEST_F(SoundLifetime, ARewindTheReaderCouldNotDoNowIsDoneLater) {
    addnote(0, 48, 0, 127, false, 0, 0);
    DecodeScratch scratch;
    d2d_pass(scratch);
    ASSERT_EQ(stream->rd_frames, 2 * kHalf);
    delnote(0, 48, 0, 0, 0);
    ASSERT_EQ(stream->d2d_state, kRewind);
    {
        const char others[reclaim::kPins] = {};
        reclaim::Pin pins[reclaim::kPins];
        for (int i = 0; i < reclaim::kPins; ++i) ASSERT_TRUE(pins[i].hold(&others[i]));
        d2d_pass(scratch);
    }
    EXPECT_EQ(stream->d2d_state, kRewind);
    d2d_pass(scratch);
    EXPECT_EQ(stream->d2d_state, kFirstHalfDue) << "the rewind was forgotten";
    EXPECT_EQ(stream->rd_frames, kHalf);
}

// Stream state seen by a thread the moment a voice is freed.
std::atomic<int> g_state_when_freed{-1};
std::uint32_t g_reuse_key = 0;

// A stream is marked for rewinding before its voice is free again, so a
// note that takes the stream at once never starts where the last one ended.
TEST_F(SoundLifetime, AStreamIsMarkedForRewindBeforeItsVoiceIsFree) {
    voice_seams.after_free = [](int) {
        g_state_when_freed = static_cast<p_s*>(t_sound[0])->d2d_state;
    };
    for (const bool by_callback : {false, true}) {
        g_state_when_freed = -1;
        addnote(0, 48, 0, 127, false, 0, 0);
        DecodeScratch scratch;
        d2d_pass(scratch);
        ASSERT_EQ(stream->d2d_state, kSecondHalfDue);
        if (by_callback) {
            stop_voice_claim(0, nlist[0].serial());  // the callback ends it after this buffer
            testkit::render(64);
        } else {
            delnote(0, 48, 0, 0, 0);
        }
        EXPECT_EQ(active_voices(), 0);
        EXPECT_EQ(g_state_when_freed, kRewind) << (by_callback ? "ended by the callback" : "");
        d2d_pass(scratch);
    }
    voice_seams.after_free = nullptr;
}

// A release that read a voice, then found it ended and started again for
// another note of the same channel and key (the on-screen keyboard, say),
// leaves the new note held.
TEST_F(EngineTest, AStaleReleaseNeverReleasesTheNoteThatReusedItsVoice) {
    replace_sound(0, testkit::make_sound16(std::vector<std::int16_t>(44100, 1000), 44100, 48));
    addnote(0, 60, 0, 100, false, 0, 0);
    g_reuse_key = 60;
    voice_seams.before_release = [](int voice) {
        voice_seams.before_release = nullptr;
        ASSERT_TRUE(end_voice_claim(voice, nlist[voice].serial()));
        addnote(0, g_reuse_key, 0, 90, false, 0, 0);  // the lowest free voice: the same one
    };
    const std::uint32_t first = nlist[0].serial();
    delnote(0, 60, 0, 64, -1);
    voice_seams.before_release = nullptr;
    ASSERT_TRUE(nlist[0].playing());
    EXPECT_NE(nlist[0].serial(), first);
    EXPECT_EQ(nlist[0].velocity, 90u);
    EXPECT_EQ(nlist[0].release(), 0u) << "the new note was released by the old note-off";
    delnote(0, 60, 0, 64, -1);  // its own note-off still releases it
    EXPECT_EQ(nlist[0].release(), 256u + 64u);
}

}  // namespace
