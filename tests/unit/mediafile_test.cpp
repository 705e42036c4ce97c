#include "io/mediafile.h"

#include <dirent.h>

#include "io/load.h"
#include "support/testkit.h"

namespace {

class MediaLoad : public testkit::EngineTest {
  protected:
    // Writes `v` (32-bit scale) as `leaf` and loads it into slot 0.
    template <typename Sample>
    const p_s* load_written(const std::string& leaf, int format, int channels, int rate,
                            const std::vector<Sample>& v) {
        EXPECT_TRUE(files::write_sound(dir_.file(leaf), format, channels, rate, v)) << leaf;
        EXPECT_EQ(load(1, dir_.file(leaf).c_str(), leaf.c_str()), LoadResult::loaded) << leaf;
        return t_sound[0].load();
    }
    // True when `s` holds `v` from its start, 8-bit sounds the top bytes.
    static bool holds(const p_s* s, const std::vector<std::int16_t>& v, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (s->bits == 8 ? s->data[i] != static_cast<std::int8_t>(v[i] >> 8)
                             : testkit::word_at(s, i) != v[i])
                return false;
        }
        return true;
    }
    files::TempDir dir_;
};

// Interleaved pattern values for `frames` frames of `channels`, and the same
// at 32-bit scale for writing.
std::vector<std::int16_t> pattern(int frames, int channels) {
    std::vector<std::int16_t> v;
    for (int i = 0; i < frames * channels; ++i)
        v.push_back(files::pattern16(i / channels, i % channels));
    return v;
}
std::vector<int> widen(const std::vector<std::int16_t>& v) {
    std::vector<int> out(v.begin(), v.end());
    for (int& x : out) x = static_cast<int>(static_cast<std::uint32_t>(x) << 16);
    return out;
}

int open_fds() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

}  // namespace

TEST_F(MediaLoad, EightAndSixteenBitPcmKeepTheirWidth) {
    const std::tuple<const char*, int, int> cases[] = {
        // leaf, format, bits
        {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8},
        {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16},
        {"s8.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 8},
        {"s16.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 16},
        {"s16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16},
        {"s16_no_extension", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16},
    };
    for (const auto& [leaf, format, bits] : cases) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << leaf << " channels " << channels);
            const auto v = pattern(3000, channels);
            const p_s* s = load_written(leaf, format, channels, 32000, widen(v));
            const std::size_t size = v.size() * (bits / 8);
            char want[120];
            std::snprintf(
                want, sizeof want,
                "%d-bit %s shift %d, 32000 Hz, base 48, keys 0-127, size %zu, loop off 0-%zu", bits,
                channels == 2 ? "stereo" : "mono", bits / 16 + channels - 1, size, size);
            EXPECT_EQ(testkit::describe(s), want);
            EXPECT_EQ(s->type, kTypeMemory);
            EXPECT_EQ(s->file_offset, 0u);
            EXPECT_EQ(s->rel_time, 16000u);
            EXPECT_STREQ(s->name, leaf);
            EXPECT_TRUE(holds(s, v, v.size()));
        }
    }
    EXPECT_TRUE(alerts().empty());
}

TEST_F(MediaLoad, WiderFloatAndLossyEncodingsBecomeSixteenBitsAndMoreChannelsMono) {
    const int frames = 2000;
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        std::vector<int> v24;  // values over the whole range, checked against the exact quotient
        for (int i = 0; i < frames * channels; ++i)
            v24.push_back(static_cast<int>(static_cast<std::uint32_t>(i) * 2654435761u) & ~0xFF);
        for (const int format :
             {SF_FORMAT_WAV | SF_FORMAT_PCM_24, SF_FORMAT_FLAC | SF_FORMAT_PCM_24}) {
            const p_s* s = load_written("s24", format, channels, 48000, v24);
            EXPECT_EQ(s->bits, 16);
            EXPECT_EQ(s->stereo, channels - 1);
            ASSERT_EQ(s->size, static_cast<std::uint32_t>(frames * channels * 2));
            for (int i = 0; i < frames * channels; ++i)
                ASSERT_LE(
                    std::fabs(testkit::word_at(s, i) - std::min((v24[i] >> 8) / 256.0, 32767.0)),
                    0.5)
                    << i;
        }
        std::vector<float> f{1.0f, -1.0f};  // full scale stays inside the 16-bit range
        for (int i = 2; i < frames * channels; ++i)
            f.push_back(static_cast<float>(std::sin(i * 0.01) * 0.9));
        const p_s* s = load_written("f.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, channels, 44100, f);
        EXPECT_EQ(s->bits, 16);
        EXPECT_EQ(testkit::word_at(s, 0), 32767);
        EXPECT_EQ(testkit::word_at(s, 1), -32768);
        for (int i = 2; i < frames * channels; ++i)
            ASSERT_LE(std::fabs(testkit::word_at(s, i) - f[i] * 32768.0), 0.5) << i;
    }
    std::vector<float> tone;
    for (int i = 0; i < 44100; ++i) {
        const auto x = static_cast<float>(0.5 * std::sin(2 * M_PI * 440.0 * i / 44100.0));
        tone.insert(tone.end(), {x, -x});
    }
    const p_s* s = load_written("tone.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, tone);
    EXPECT_EQ(s->bits, 16);
    EXPECT_EQ(s->stereo, 1);
    ASSERT_EQ(s->size >> s->shift, 44100u);
    double err = 0, sig = 0;  // lossy: compared by the error's energy against the signal's
    for (std::size_t i = 0; i < tone.size(); ++i) {
        err += std::pow(testkit::word_at(s, i) - tone[i] * 32768.0, 2);
        sig += std::pow(tone[i] * 32768.0, 2);
    }
    EXPECT_LT(err / sig, 1e-3);
    // More than two channels are mixed to mono.
    std::vector<int> v;
    for (int i = 0; i < 400; ++i) v.push_back((i / 4 * 10 + i % 4 * 1000) << 16);
    const p_s* quad = load_written("quad.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4, 8000, v);
    EXPECT_EQ(quad->stereo, 0);
    ASSERT_EQ(quad->size, 200u);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(testkit::word_at(quad, i), i * 10 + 1500) << i;
}

TEST_F(MediaLoad, UnreadableFilesAreRefusedAndLeaveNothingOpen) {
    const p_s* before = load_written("ok.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000,
                                     std::vector<int>{1 << 16});
    const int fds = open_fds();
    const files::Bytes cut{'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0x7F,
                           'W', 'A', 'V', 'E', 'f',  'm',  't',  ' '};
    for (const auto& [leaf, bytes] : {std::pair{"notes.wav", files::Bytes(4000, 'x')},
                                      {"notes", files::Bytes(4000, 'x')},
                                      {"cut.wav", cut}}) {
        ASSERT_TRUE(files::write_bytes(dir_.file(leaf), bytes));
        EXPECT_EQ(load(1, dir_.file(leaf).c_str(), leaf), LoadResult::refused) << leaf;
        EXPECT_EQ(t_sound[0].load(), before);
    }
    ASSERT_EQ(alerts().size(), 3u);
    EXPECT_EQ(alerts()[2].text, "Not an audio file or format not supported");
    EXPECT_EQ(alerts()[2].button, "...");
    EXPECT_EQ(open_fds(), fds);
}

TEST_F(MediaLoad, LargeSoundsAreStreamedFromTheThresholdAndCloseTheirFileWhenRetired) {
    const std::tuple<int, int, int, bool> cases[] = {
        // format, channels, frames, streamed
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 300000, true},   // 1200000 bytes
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 300000, false},  // 600000 bytes
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 250000, true},   // 1000000 bytes: the threshold
        {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 1000000, true},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 999999, false},
    };
    const int fds = open_fds();
    for (const auto& [format, channels, frames, streamed] : cases) {
        SCOPED_TRACE(frames);
        const auto v = pattern(frames, channels);
        const p_s* s =
            load_written(std::to_string(frames) + "-" + std::to_string(channels) + ".wav", format,
                         channels, 44100, widen(v));
        const std::uint32_t fb = (s->bits / 8) * channels;
        EXPECT_EQ(s->nframes, frames);
        reclaim::reclaim_all();  // the record before it is retired and its file closed
        EXPECT_EQ(open_fds(), fds + streamed);
        if (!streamed) {
            EXPECT_EQ(s->type, kTypeMemory);
            EXPECT_EQ(s->size, frames * fb);
            continue;
        }
        EXPECT_EQ(s->type, kTypeStreamed);
        EXPECT_EQ(s->chunk, 1024 * fb);
        EXPECT_EQ(s->size, 150 * s->chunk);
        EXPECT_EQ(s->loop_start, 50 * s->chunk);
        EXPECT_EQ(s->loop_end, 150 * s->chunk);
        EXPECT_EQ(s->rd_frames, 51200);
        EXPECT_EQ(s->d2d_state, 1);
        EXPECT_TRUE(holds(s, v, 51200u * channels));  // the resident start
    }
    clear_sound(0);
    reclaim::reclaim_all();
    EXPECT_EQ(open_fds(), fds);
}
