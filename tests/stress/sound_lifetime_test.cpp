// Who may hold a sound while the structure changes under it: the streaming
// reader decoding into a record a bank load replaces, a late release meeting
// a reused voice, loop fields edited on a streamed sound, and the rewind of a
// stream whose voice ends.
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>

#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/render.h"
#include "engine/stream.h"
#include "engine/tone_tables.h"
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "io/bank_import_place.h"
#include "io/d2d_reader.h"
#include "support/testkit.h"

using testkit::EngineTest;

namespace {

constexpr std::int64_t kHalf = std::int64_t{kHalfChunks} * kChunkFrames;
constexpr int kPeriod = 30000;

std::int16_t value_at(std::int64_t i) {
    return static_cast<std::int16_t>(i % kPeriod + 1);  // never 0: silence is told apart
}

// A read can be held at its start until the test lets it go. Kept outside
// the source, which the fault under test frees while the reader is inside.
std::atomic<bool> g_hold{false};
std::atomic<bool> g_inside{false};

// 16-bit mono frames numbered by `value_at`; says when it is destroyed.
class HeldSource : public StreamSource {
  public:
    explicit HeldSource(std::atomic<bool>* destroyed) : destroyed_(destroyed) {}
    ~HeldSource() override { destroyed_->store(true); }
    unsigned frame_bytes() const override { return 2; }
    std::size_t scratch_samples(std::int64_t) const override { return 0; }
    std::int64_t read(std::int8_t* dst, std::int64_t frames, DecodeScratch&) override {
        if (g_hold.load()) {
            g_inside = true;
            while (g_hold.load()) std::this_thread::yield();
        }
        for (std::int64_t k = 0; k < frames; ++k) {
            const std::int16_t v = value_at(at_ + k);
            std::memcpy(dst + 2 * k, &v, 2);
        }
        at_ += frames;
        return frames;
    }
    bool seek(std::int64_t frame) override {
        at_ = frame;
        return true;
    }

  private:
    std::atomic<bool>* destroyed_;
    std::int64_t at_ = 0;
};

// A streamed sound laid out as the loader lays it out, its resident start read.
p_s* make_stream(const std::shared_ptr<HeldSource>& src) {
    const std::uint32_t chunk = kChunkFrames * 2;
    p_s* s = new_sound_with_data(kRingChunks * chunk);
    s->type = kTypeStreamed;
    s->bits = 16;
    s->rate = 44100;
    finish_loaded_sound(s);
    s->base = 48;
    s->chunk = chunk;
    s->nframes = 100'000'000;
    DecodeScratch scratch;
    src->read(s->data, kHalf, scratch);
    s->rd_frames = kHalf;
    s->rd_frames2 = kHalf;
    s->d2d_state = kFirstHalfDue;
    s->loop = 1;
    s->loop_start = kHalfChunks * chunk;
    s->loop_end = kRingChunks * chunk;
    s->mfile = src;
    return s;
}

class SoundLifetime : public EngineTest {
  protected:
    std::atomic<bool> destroyed{false};
    std::shared_ptr<HeldSource> src = std::make_shared<HeldSource>(&destroyed);
    p_s* stream = nullptr;

    void SetUp() override {
        EngineTest::SetUp();
        stream = make_stream(src);
        replace_sound(0, stream);  // the one sound of instrument 0
        src.reset();               // the record owns its decoder from now on
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
    g_inside = false;
    g_hold = true;
    std::thread reader([] {
        DecodeScratch scratch;
        d2d_pass(scratch);  // pins the record, then fills its first half
        reclaim::release_thread_slot();
    });
    while (!g_inside.load()) std::this_thread::yield();

    std::vector<BuiltInstrument> bank(1);
    bank[0].name = "bank";
    bank[0].sounds.emplace_back(testkit::make_sound16(std::vector<std::int16_t>(64, 5), 44100, 60));
    BankPlacement placement(0, 1);
    placement.publish(bank);
    reclaim::reclaim();  // the window's periodic reclamation
    EXPECT_FALSE(destroyed.load()) << "the decoder the reader is inside was freed";

    g_hold = false;
    reader.join();
    EXPECT_NE(t_sound[0].load(), stream);
    reclaim::reclaim_all();
    EXPECT_TRUE(destroyed.load()) << "the replaced stream was never freed";
    // The voice's sound is gone: it ends instead of playing the bank's sound.
    testkit::render(512);
    EXPECT_EQ(active_voices(), 0);
}

// Loop fields written on a streamed sound while it plays (as an editor
// would) change nothing of how its ring is played: the file comes out in
// order, every frame once.
TEST_F(SoundLifetime, LoopFieldsEditedOnAPlayingStreamLeaveItsRingAlone) {
    addnote(0, 48, 0, 127, false, 0, 0);  // key = base, rate = output rate: step 1
    const float g = 127.0f * tab_pan[64] * (127.0f / 128.0f) / 4194304.0f / 4.0f;
    DecodeScratch scratch;
    std::int64_t expected = 0;
    std::int64_t heard = 0;
    std::int64_t wrong = 0;
    for (int b = 0; heard < 4 * kHalf && b < 2000; ++b) {
        if (b == 20) {
            stream->loop_start = 0;
            stream->loop_end = 4096;
        }
        if (b == 300) stream->loop = 0;
        d2d_pass(scratch);
        for (float x : testkit::channel(testkit::render(512), 0)) {
            const long v = std::lround(x / g);
            if (v == 0) continue;  // waiting for the reader
            wrong += v != value_at(expected);
            expected = v % kPeriod;
            ++heard;
        }
    }
    EXPECT_GE(heard, 4 * kHalf);
    EXPECT_EQ(wrong, 0) << "frames out of file order";
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
