#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "core/sound.h"
#include "engine/channels.h"
#include "engine/render.h"
#include "engine/tone_tables.h"
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "io/d2d_reader.h"
#include "io/load.h"
#include "io/mediafile.h"
#include "support/testkit.h"
#include "unit/sound_files.h"

using testkit::EngineTest;

namespace {

constexpr int kBufferFrames = 512;
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

struct Format {
    const char* leaf;
    int sf_format;
    int channels;
    int bits;
    std::int64_t frames;
};

void PrintTo(const Format& f, std::ostream* os) {
    *os << f.leaf;
}

class Streaming : public EngineTest, public testing::WithParamInterface<Format> {
  protected:
    // The sample value the file holds at frame `i`, channel `c`, as loaded.
    int expected(std::int64_t i, int c) const {
        const std::int16_t v = files::pattern16(i, c);
        return GetParam().bits == 8 ? (v >> 8) : v;
    }
    // Output of one channel divided back into sample units.
    double unscale(float out, int c) const {
        const std::int32_t pan = ch_pan[0];
        const float main = static_cast<float>(ch_main[0]) / 128.0f;
        float g = 127.0f * tab_pan[c == 0 ? pan : 127 - pan] * main;
        g *= GetParam().bits == 8 ? 1.0f / 16384.0f : 1.0f / 4194304.0f;
        return out * 4.0 / g;
    }
    // Plays the sound in slot 0 from its start, comparing every rendered frame
    // with the file; stops after `limit` frames or when the voice ends.
    // Returns the frames rendered.
    std::int64_t play_and_compare(D2DReader& reader, std::int64_t limit) {
        const int channels = GetParam().channels;
        const std::int64_t frames = GetParam().frames;
        addnote(0, 48, 0, 127, false, 0, 0);  // key = base, sound rate = output rate: step 1.0
        EXPECT_EQ(active_voices(), 1);
        raw_audio_format fmt;
        fmt.frame_rate = 44100.0f;
        std::vector<float> buf(kBufferFrames * 2);
        std::int64_t done = 0;
        while (done < limit && active_voices() > 0) {
            BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
            for (int j = 0; j < kBufferFrames; ++j) {
                const std::int64_t i = done + j;
                for (int c = 0; c < 2; ++c) {
                    const double got = unscale(buf[2 * j + c], c);
                    // A mono sound is heard on both sides.
                    const double want = i < frames ? expected(i, channels == 2 ? c : 0) : 0.0;
                    if (std::fabs(got - want) > 0.01) {
                        ADD_FAILURE() << "frame " << i << " channel " << c << ": got " << got
                                      << ", the file holds " << want;
                        return done;
                    }
                }
            }
            done += kBufferFrames;
            wait_for_reader(reader);
        }
        return done;
    }
};

TEST_P(Streaming, PlaysTheWholeFileThroughTheRingThenRewinds) {
    const Format f = GetParam();
    files::TempDir dir;
    std::vector<int> v;
    for (std::int64_t i = 0; i < f.frames; ++i) {
        for (int c = 0; c < f.channels; ++c)
            v.push_back(static_cast<int>(static_cast<std::uint32_t>(files::pattern16(i, c)) << 16));
    }
    const std::string path = dir.file(f.leaf);
    ASSERT_TRUE(files::write_ints(path, f.sf_format, f.channels, 44100, v));
    ASSERT_EQ(load(1, path.c_str(), f.leaf), LoadResult::loaded);
    p_s* s = t_sound[0];
    ASSERT_EQ(s->type, kTypeStreamed);
    ASSERT_EQ(s->bits, f.bits);
    // The file ends inside a refill half, after several wraps of the ring.
    ASSERT_GT(f.frames, kHalf + 3 * 2 * kHalf);
    ASSERT_NE((f.frames - kHalf) % kHalf, 0);

    D2DReader reader;
    reader.start();
    const std::int64_t played = play_and_compare(reader, f.frames + 20 * kBufferFrames);
    EXPECT_GE(played, f.frames) << "stopped before the end of the file";
    // The end of the file ends the voice within a buffer or two.
    EXPECT_EQ(active_voices(), 0);
    EXPECT_LE(played, f.frames + 2 * kBufferFrames);

    // The ended voice asks for a rewind; the reader puts the decoder back
    // just after the resident start.
    for (int k = 0; k < 100 && s->d2d_state != 1; ++k) wait_for_reader(reader);
    EXPECT_EQ(s->d2d_state, 1);
    EXPECT_EQ(s->rd_frames, kHalf);
    EXPECT_EQ(s->rd_frames2, kHalf);

    // The next note starts from the beginning and runs on through both halves.
    const std::int64_t again = play_and_compare(reader, kHalf + 2 * kHalf + 10 * kBufferFrames);
    EXPECT_GE(again, kHalf + 2 * kHalf);
    EXPECT_EQ(active_voices(), 1);
    delnote(0, 48, 0, 0, 0);  // stop it: a rewind is asked again
    EXPECT_EQ(s->d2d_state, 3);
    reader.stop();
}

INSTANTIATE_TEST_SUITE_P(Formats, Streaming,
                         testing::Values(Format{"stereo16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2,
                                                16, kHalf + 7 * kHalf + 12345},
                                         Format{"mono8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 8,
                                                1000000 + 777}),
                         [](const testing::TestParamInfo<Format>& info) {
                             return info.param.bits == 8 ? "Mono8" : "Stereo16";
                         });

// The reader need not look while the voice crosses the end of the file: the
// voice is stopped at the end exactly, or as soon as it is seen past it,
// wherever the ring has wrapped to meanwhile.
TEST_F(EngineTest, EndOfFileStopsTheVoiceEvenWhenPassedUnseen) {
    files::TempDir dir;
    const std::int64_t frames = 5 * kHalf - 100;  // ends 100 frames before the ring does
    std::vector<int> v;
    for (std::int64_t i = 0; i < 2 * frames; ++i) v.push_back(7 << 16);
    const std::string path = dir.file("end.wav");
    ASSERT_TRUE(files::write_ints(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, v));
    ASSERT_EQ(load(1, path.c_str(), "end.wav"), LoadResult::loaded);
    p_s* s = t_sound[0];
    ASSERT_EQ(s->type, kTypeStreamed);
    addnote(0, 48, 0, 127, false, 0, 0);
    NOTE_LIST& voice = nlist[0];
    DecodeScratch scratch;
    const auto pass_at = [&](std::int64_t p) {
        voice.pos = static_cast<std::uint32_t>(p);
        return d2d_pass(scratch);
    };
    EXPECT_TRUE(pass_at(0));          // first half: frames F..2F
    EXPECT_TRUE(pass_at(kHalf));      // second half: 2F..3F
    EXPECT_TRUE(pass_at(2 * kHalf));  // first half: 3F..4F
    EXPECT_TRUE(pass_at(kHalf));      // second half: 4F..5F-100, then silence
    EXPECT_EQ(s->rd_frames, frames);
    const auto frame_at = [&](std::int64_t f) {
        std::int16_t x;
        std::memcpy(&x, s->data + 4 * f, 2);
        return x;
    };
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

    // Once the voice is gone the stream is rewound for the next note.
    delnote(0, 48, 0, 0, 0);
    EXPECT_EQ(s->d2d_state, 3);
    EXPECT_TRUE(d2d_pass(scratch));
    EXPECT_EQ(s->d2d_state, 1);
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
    const std::int64_t frames = 10 * kHalf;  // over the streaming threshold in mono
    const std::vector<int> level(static_cast<std::size_t>(frames), 8000 << 16);
    const std::string path = dir.file("level.wav");
    ASSERT_TRUE(files::write_ints(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, level));
    ASSERT_EQ(load(1, path.c_str(), "level.wav"), LoadResult::loaded);
    ASSERT_EQ(t_sound[0]->type, kTypeStreamed);
    addnote(0, 41, 0, 127, false, 0, 0);  // a fifth below the base: step 0.67
    DecodeScratch scratch;
    d2d_pass(scratch);
    bool wrapped = false;
    float steady = 0;
    std::uint32_t last_pos = 0;
    for (int b = 0; b < 1000 && !wrapped; ++b) {
        const auto out = testkit::render(kBufferFrames);
        if (b == 0) steady = out[200];
        ASSERT_GT(steady, 0.0f);
        for (int f = 0; f < kBufferFrames; ++f) {
            ASSERT_NEAR(out[2 * f], steady, steady * 1e-3) << "buffer " << b << " frame " << f;
        }
        wrapped = nlist[0].pos < last_pos;
        last_pos = nlist[0].pos;
        d2d_pass(scratch);
    }
    EXPECT_TRUE(wrapped);
}

// Without any streamed sound playing the reader finds nothing to do, keeps
// polling, and stops when asked.
TEST_F(EngineTest, IdleReaderDoesNothingAndStopsOnRequest) {
    DecodeScratch scratch;
    EXPECT_FALSE(d2d_pass(scratch));
    EXPECT_TRUE(scratch.samples.empty());
    D2DReader reader;
    reader.start();
    while (reader.passes() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    reader.stop();
    const std::uint64_t passes = reader.passes();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(reader.passes(), passes);
}

}  // namespace
