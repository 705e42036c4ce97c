// A stream whose reader falls behind: the voice waits in silence at the
// part of the ring not yet refilled and goes on from the same place, never
// replaying the previous lap. The reader and the callback run concurrently
// (also under ThreadSanitizer).
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/render.h"
#include "engine/stream.h"
#include "engine/tone_tables.h"
#include "engine/voices.h"
#include "io/d2d_reader.h"
#include "support/testkit.h"

using testkit::EngineTest;

namespace {

constexpr int kPeriod = 30000;

// Value of file frame `i`: never 0, so silence is told apart from sound.
std::int16_t value_at(std::int64_t i) {
    return static_cast<std::int16_t>(i % kPeriod + 1);
}

// 16-bit mono frames numbered by `value_at`; every read can be slowed down.
class SlowSource : public StreamSource {
  public:
    explicit SlowSource(std::atomic<int>* delay_us) : delay_us_(delay_us) {}
    unsigned frame_bytes() const override { return 2; }
    std::size_t scratch_samples(std::int64_t) const override { return 0; }
    std::int64_t read(std::int8_t* dst, std::int64_t frames, DecodeScratch&) override {
        if (const int d = delay_us_->load())
            std::this_thread::sleep_for(std::chrono::microseconds(d));
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
    std::atomic<int>* delay_us_;
    std::int64_t at_ = 0;
};

// A streamed sound laid out as the loader does it, its resident start read.
p_s* make_stream(std::atomic<int>* delay_us) {
    const std::uint32_t chunk = kChunkFrames * 2;
    p_s* s = new_sound_with_data(kRingChunks * chunk);
    s->type = kTypeStreamed;
    s->bits = 16;
    s->stereo = 0;
    s->rate = 44100;
    s->base = 48;
    finish_loaded_sound(s);
    s->chunk = chunk;
    s->nframes = 100'000'000;
    auto src = std::make_shared<SlowSource>(delay_us);
    DecodeScratch scratch;
    const std::int64_t half = std::int64_t{kHalfChunks} * kChunkFrames;
    src->read(s->data, half, scratch);
    s->rd_frames = half;
    s->rd_frames2 = half;
    s->d2d_state = kFirstHalfDue;
    s->loop = 1;
    s->loop_start = kHalfChunks * chunk;
    s->loop_end = kRingChunks * chunk;
    s->size = kRingChunks * chunk;
    s->mfile = src;
    return s;
}

}  // namespace

TEST_F(EngineTest, AStreamWhoseReaderFallsBehindWaitsInSilenceAndNeverReplays) {
    std::atomic<int> delay_us{0};
    replace_sound(0, make_stream(&delay_us));
    D2DReader reader;
    reader.start();
    addnote(0, 48, 0, 127, false, 0, 0);  // key = base, sound rate = output rate: step 1.0
    const float g = 127.0f * tab_pan[64] * (127.0f / 128.0f) / 4194304.0f / 4.0f;
    const std::uint64_t underruns_before = stream_underruns.load();

    // The reader needs 20 ms per buffer of 1024 frames, far slower than the
    // callback, which renders without pause, asks for them; later it is fast again.
    delay_us = 20000;
    std::int64_t expected = 0;  // file frame the next sound frame must be
    std::int64_t heard = 0;
    std::int64_t silent = 0;
    std::int64_t wrong = 0;
    std::vector<float> buf(512 * 2);
    raw_audio_format fmt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    const std::int64_t want = 4 * std::int64_t{kHalfChunks} * kChunkFrames;  // two laps of the ring
    while (heard < want && std::chrono::steady_clock::now() < deadline) {
        if (heard > want / 2) delay_us = 0;
        BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
        for (std::size_t j = 0; j < buf.size(); j += 2) {
            const long v = std::lround(buf[j] / g);
            if (v == 0) {
                ++silent;
                continue;
            }
            if (v != value_at(expected)) ++wrong;
            expected = v % kPeriod;  // resynchronise: the next frame follows this one
            ++heard;
        }
    }
    reader.stop();
    EXPECT_GE(heard, want) << "the stream did not go on after waiting";
    EXPECT_EQ(wrong, 0) << "frames out of file order: a stale lap was replayed";
    EXPECT_GT(silent, 0);
    EXPECT_GT(stream_underruns.load(), underruns_before);
    reclaim::release_thread_slot();
}
