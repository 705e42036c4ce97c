#include "io/d2d_reader.h"
#include "io/load.h"
#include "support/testkit.h"

using testkit::EngineTest;

namespace {

constexpr int kBuffer = 512;
constexpr std::int64_t kHalf = 51200;  // frames in the resident start and in each refill half

// Lets the reader finish a whole pass begun after this call.
void wait_for_reader(D2DReader& reader) {
    const std::uint64_t p = reader.passes();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (reader.passes() < p + 2 && std::chrono::steady_clock::now() < deadline) {
        reader.wake();
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    ASSERT_GE(reader.passes(), p + 2) << "the reader stopped answering";
}

// Writes `frames` frames of `channels` at 44100 Hz (value(i, c) at 32-bit scale)
// and loads them into slot 0, which must then stream.
template <typename F>
p_s* load_stream(const files::TempDir& dir, int format, int channels, std::int64_t frames,
                 F value) {
    std::vector<int> v;
    for (std::int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) v.push_back(value(i, c));
    const std::string path = dir.file("stream.wav");
    EXPECT_TRUE(files::write_sound(path, format, channels, 44100, v));
    EXPECT_EQ(load(1, path.c_str(), "stream.wav"), LoadResult::loaded);
    p_s* s = t_sound[0];
    EXPECT_EQ(s->type, kTypeStreamed);
    return s;
}

int pattern_at(std::int64_t i, int c) {
    return static_cast<int>(static_cast<std::uint32_t>(files::pattern16(i, c)) << 16);
}

class Streaming : public EngineTest, public testing::WithParamInterface<int> {
  protected:
    int bits() const { return GetParam(); }
    // 16-bit stereo, or 8-bit mono; either ends inside a refill half after several wraps.
    int channels() const { return bits() == 16 ? 2 : 1; }
    std::int64_t frames() const { return bits() == 16 ? 8 * kHalf + 12345 : 1000000 + 777; }

    // Plays slot 0 from its start at step 1, comparing every rendered frame
    // with the file, until `limit` frames or the voice's end; returns the frames.
    std::int64_t play_and_compare(D2DReader& reader, std::int64_t limit) {
        addnote(0, 48, 0, 127, false, 0, 0);              // key = base, sound rate = output rate
        const float scale = bits() == 8 ? 256.0f : 1.0f;  // an 8-bit unit is 256 16-bit ones
        std::int64_t done = 0;
        while (done < limit && active_voices() > 0) {
            const auto buf = testkit::render(kBuffer);
            for (int j = 0; j < 2 * kBuffer; ++j) {
                const std::int64_t i = done + j / 2;
                const int c = j % 2;
                const float g = testkit::unit_gain(c) * scale;
                int want = i < frames() ? files::pattern16(i, channels() == 2 ? c : 0) : 0;
                if (bits() == 8) want >>= 8;
                if (std::fabs(buf[j] / g - want) > 0.01) {
                    ADD_FAILURE() << "frame " << i << " side " << c << ": got " << buf[j] / g
                                  << ", the file holds " << want;
                    return done;
                }
            }
            done += kBuffer;
            wait_for_reader(reader);
        }
        return done;
    }
};

TEST_P(Streaming, PlaysTheWholeFileThroughTheRingThenRewinds) {
    files::TempDir dir;
    const int format = SF_FORMAT_WAV | (bits() == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_U8);
    p_s* s = load_stream(dir, format, channels(), frames(), pattern_at);
    ASSERT_EQ(s->bits, bits());
    D2DReader reader;
    reader.start();
    const std::int64_t played = play_and_compare(reader, frames() + 20 * kBuffer);
    // The end of the file ends the voice within a buffer or two.
    EXPECT_GE(played, frames()) << "stopped before the end of the file";
    EXPECT_LE(played, frames() + 2 * kBuffer);
    EXPECT_EQ(active_voices(), 0);
    // The ended voice asks for a rewind: the decoder goes back just after the resident start.
    for (int k = 0; k < 100 && s->d2d_state != 1; ++k) wait_for_reader(reader);
    EXPECT_EQ(s->d2d_state, 1);
    EXPECT_EQ(s->rd_frames, kHalf);
    EXPECT_EQ(s->rd_frames2, kHalf);
    // The next note starts from the beginning and runs on through both halves.
    EXPECT_GE(play_and_compare(reader, 3 * kHalf + 10 * kBuffer), 3 * kHalf);
    EXPECT_EQ(active_voices(), 1);
    delnote(0, 48, 0, 0, 0);  // stop it: the reader, woken, rewinds again
    for (int k = 0; k < 100 && s->rd_frames != kHalf; ++k) wait_for_reader(reader);
    EXPECT_EQ(s->rd_frames, kHalf);
    reader.stop();
}

INSTANTIATE_TEST_SUITE_P(Formats, Streaming, testing::Values(16, 8),
                         [](const testing::TestParamInfo<int>& p) {
                             return p.param == 8 ? "Mono8" : "Stereo16";
                         });

// With nothing streaming the reader sleeps instead of polling, however long;
// a note on a streamed sound wakes it, and while the voice plays it keeps
// refilling by itself; the end of the voice wakes it for the rewind.
TEST_F(EngineTest, AnIdleReaderSleepsUntilAStreamStartsThenFollowsIt) {
    files::TempDir dir;
    p_s* s = load_stream(dir, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 6 * kHalf, pattern_at);
    D2DReader reader;
    reader.start();
    const auto settles = [&] {  // true once no pass runs for 200 ms
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (std::uint64_t seen = ~0ull; std::chrono::steady_clock::now() < deadline;) {
            if (reader.passes() == seen) return true;
            seen = reader.passes();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    };
    const auto reaches = [&](std::uint16_t state, std::int64_t decoded) {
        for (int k = 0; k < 500 && (s->d2d_state != state || s->rd_frames != decoded); ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return s->d2d_state == state && s->rd_frames == decoded;
    };
    ASSERT_TRUE(settles()) << "the idle reader keeps polling";
    addnote(0, 48, 0, 127, false, 0, 0);
    EXPECT_TRUE(reaches(kSecondHalfDue, 2 * kHalf)) << "the new stream did not wake the reader";
    while (nlist[0].pos < kHalf + kBuffer) testkit::render(kBuffer);  // into the first half
    EXPECT_TRUE(reaches(kFirstHalfDue, 3 * kHalf)) << "the reader stopped following the stream";
    delnote(0, 48, 0, 0, 0);
    EXPECT_TRUE(reaches(kFirstHalfDue, kHalf)) << "the ended stream was not rewound";
    EXPECT_TRUE(settles());
    reader.stop();
}

// The reader need not look while the voice crosses the end of the file: the
// voice is stopped at the end exactly, or as soon as it is seen past it,
// wherever the ring has wrapped to meanwhile.
TEST_F(EngineTest, EndOfFileStopsTheVoiceEvenWhenPassedUnseen) {
    files::TempDir dir;
    const std::int64_t frames = 5 * kHalf - 100;  // ends 100 frames before the ring does
    p_s* s = load_stream(dir, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, frames,
                         [](std::int64_t, int) { return 7 << 16; });
    addnote(0, 48, 0, 127, false, 0, 0);
    NOTE_LIST& voice = nlist[0];
    DecodeScratch scratch;
    const auto pass_at = [&](std::int64_t p) {
        voice.pos = static_cast<std::uint32_t>(p);
        return d2d_pass(scratch);
    };
    // Halves: first F..2F, second 2F..3F, first 3F..4F, second 4F..5F-100 then silence.
    for (const std::int64_t p : {std::int64_t{0}, kHalf, 2 * kHalf, kHalf}) EXPECT_TRUE(pass_at(p));
    EXPECT_EQ(s->rd_frames, frames);
    const auto frame_at = [&](std::int64_t f) { return testkit::word_at(s, 2 * f); };  // left
    EXPECT_EQ(frame_at(3 * kHalf - 101), 7);
    EXPECT_EQ(frame_at(3 * kHalf - 100), 0);
    EXPECT_EQ(frame_at(3 * kHalf - 1), 0);
    pass_at(3 * kHalf - 101);
    EXPECT_FALSE(voice.word() & kVoiceStopAsked);
    pass_at(3 * kHalf - 100);
    EXPECT_TRUE(voice.word() & kVoiceStopAsked);
    voice.ctl.fetch_and(~kVoiceStopAsked);
    pass_at(kHalf + 5);  // wrapped into the first half, now silence after the end
    EXPECT_TRUE(voice.word() & kVoiceStopAsked);
    // Once the voice is gone the stream is rewound for the next note (the
    // states a rewind passes through are the lifetime tests' concern).
    delnote(0, 48, 0, 0, 0);
    EXPECT_TRUE(d2d_pass(scratch));
    EXPECT_EQ(s->rd_frames, kHalf);
    addnote(0, 48, 0, 127, false, 0, 0);
    pass_at(3 * kHalf - 50);  // an old position: nothing of the new pass is there
    EXPECT_FALSE(voice.word() & kVoiceStopAsked);
}

// Played slower than its own rate, a stream interpolates across the end of
// its ring into the frame that follows there: the continuation at the start
// of the first half, not the silence after the ring, which would click.
TEST_F(EngineTest, InterpolationAcrossTheRingsEndFindsTheContinuation) {
    files::TempDir dir;
    load_stream(dir, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 10 * kHalf,
                [](std::int64_t, int) { return 8000 << 16; });
    addnote(0, 41, 0, 127, false, 0, 0);  // a fifth below the base: step 0.67
    DecodeScratch scratch;
    d2d_pass(scratch);
    bool wrapped = false;
    float steady = 0;
    for (int b = 0; b < 1000 && !wrapped; ++b) {
        const std::uint32_t last_pos = nlist[0].pos;
        const auto out = testkit::render(kBuffer);
        if (b == 0) steady = out[200];
        ASSERT_GT(steady, 0.0f);
        for (int f = 0; f < kBuffer; ++f)
            ASSERT_NEAR(out[2 * f], steady, steady * 1e-3) << "buffer " << b << " frame " << f;
        wrapped = nlist[0].pos < last_pos;
        d2d_pass(scratch);
    }
    EXPECT_TRUE(wrapped);
}

// A stream whose reader falls behind: the voice waits in silence at the
// part of the ring not yet refilled and goes on from the same place, never
// replaying the previous lap. The reader and the callback run concurrently
// (also under ThreadSanitizer).
TEST_F(EngineTest, AStreamWhoseReaderFallsBehindWaitsInSilenceAndNeverReplays) {
    const auto control = std::make_shared<testkit::SourceControl>();
    replace_sound(0, testkit::numbered_stream(control));
    D2DReader reader;
    reader.start();
    addnote(0, 48, 0, 127, false, 0, 0);  // key = base, sound rate = output rate: step 1.0
    const std::uint64_t underruns_before = stream_underruns.load();

    // The reader needs 20 ms per buffer of 1024 frames, far slower than the
    // callback, which renders without pause, asks for them; later it is fast again.
    control->delay_us = 20000;
    testkit::FileOrder order;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const std::int64_t want = 4 * std::int64_t{kHalfChunks} * kChunkFrames;  // two laps of the ring
    while (order.heard < want && std::chrono::steady_clock::now() < deadline) {
        if (order.heard > want / 2) control->delay_us = 0;
        order.hear(testkit::render(512));
    }
    reader.stop();
    EXPECT_GE(order.heard, want) << "the stream did not go on after waiting";
    EXPECT_EQ(order.wrong, 0) << "frames out of file order: a stale lap was replayed";
    EXPECT_GT(order.silent, 0);
    EXPECT_GT(stream_underruns.load(), underruns_before);
    reclaim::release_thread_slot();
}

}  // namespace
