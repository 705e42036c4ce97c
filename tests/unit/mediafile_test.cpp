#include "io/mediafile.h"

#include <glob.h>

#include <cmath>
#include <cstring>

#include "core/reclaim.h"
#include "core/sound.h"
#include "io/load.h"
#include "support/testkit.h"
#include "unit/sound_files.h"

using testkit::EngineTest;

namespace {

class MediaLoad : public EngineTest {
  protected:
    LoadResult load_file(const std::string& leaf) {
        path_ = dir_.file(leaf);
        return load(1, path_.c_str(), leaf.c_str());
    }
    const p_s* sound() const { return t_sound[0].load(); }
    std::int16_t s16(const p_s* s, std::size_t i) const {
        std::int16_t v;
        std::memcpy(&v, s->data + 2 * i, 2);
        return v;
    }
    files::TempDir dir_;
    std::string path_;
    files::AlertCatcher alerts_;
};

// Interleaved 16-bit pattern values for `frames` frames of `channels`.
std::vector<std::int16_t> pattern(int frames, int channels) {
    std::vector<std::int16_t> v;
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) v.push_back(files::pattern16(i, c));
    }
    return v;
}

std::vector<int> widen(const std::vector<std::int16_t>& v, int shift) {
    std::vector<int> out;
    for (std::int16_t x : v)
        out.push_back(static_cast<int>(static_cast<std::uint32_t>(x) << shift));
    return out;
}

}  // namespace

TEST_F(MediaLoad, EightAndSixteenBitPcmKeepTheirWidth) {
    struct Case {
        const char* leaf;
        int format;
        int bits;
    } cases[] = {
        {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 8},
        {"s16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16},
        {"s8.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 8},
        {"s16.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 16},
        {"s16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16},
        {"s16_no_extension", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 16},
    };
    const int frames = 3000;
    for (const Case& c : cases) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << c.leaf << " channels " << channels);
            const std::vector<std::int16_t> v = pattern(frames, channels);
            // 8-bit files keep the top byte of each pattern value.
            ASSERT_TRUE(
                files::write_ints(dir_.file(c.leaf), c.format, channels, 32000, widen(v, 16)));
            ASSERT_EQ(load_file(c.leaf), LoadResult::loaded);
            const p_s* s = sound();
            EXPECT_EQ(s->bits, c.bits);
            EXPECT_EQ(s->stereo, channels - 1);
            EXPECT_EQ(s->shift, (c.bits == 16) + (channels - 1));
            EXPECT_EQ(s->rate, 32000u);
            EXPECT_EQ(s->type, kTypeMemory);
            EXPECT_EQ(s->file_offset, 0u);
            EXPECT_EQ(s->loop, 0);
            EXPECT_EQ(s->base, 48);
            EXPECT_EQ(s->rel_time, 16000u);
            EXPECT_STREQ(s->name, c.leaf);
            ASSERT_EQ(s->size, v.size() * (c.bits / 8));
            EXPECT_EQ(s->loop_end, s->size);
            for (std::size_t i = 0; i < v.size(); ++i) {
                if (c.bits == 8) {
                    ASSERT_EQ(s->data[i], static_cast<std::int8_t>(v[i] >> 8)) << i;
                } else {
                    ASSERT_EQ(s16(s, i), v[i]) << i;
                }
            }
        }
    }
    EXPECT_EQ(alerts_.count(), 0);
}

TEST_F(MediaLoad, WiderAndFloatEncodingsAreDecodedToSixteenBits) {
    const int frames = 2000;
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        // 24-bit: values over the whole range, then checked against the exact quotient.
        std::vector<int> v24;
        for (int i = 0; i < frames * channels; ++i) {
            const std::int32_t x =
                static_cast<std::int32_t>(static_cast<std::uint32_t>(i) * 2654435761u) >> 8;
            v24.push_back(static_cast<int>(static_cast<std::uint32_t>(x) << 8));
        }
        for (const char* leaf : {"s24.wav", "s24.flac"}) {
            const int fmt = std::strstr(leaf, "flac") ? SF_FORMAT_FLAC | SF_FORMAT_PCM_24
                                                      : SF_FORMAT_WAV | SF_FORMAT_PCM_24;
            ASSERT_TRUE(files::write_ints(dir_.file(leaf), fmt, channels, 48000, v24));
            ASSERT_EQ(load_file(leaf), LoadResult::loaded);
            const p_s* s = sound();
            EXPECT_EQ(s->bits, 16);
            EXPECT_EQ(s->stereo, channels - 1);
            ASSERT_EQ(s->size, static_cast<std::uint32_t>(frames * channels * 2));
            for (int i = 0; i < frames * channels; ++i) {
                const double exact = std::min((v24[i] >> 8) / 256.0, 32767.0);
                ASSERT_LE(std::fabs(s16(s, i) - exact), 0.5) << leaf << " " << i;
            }
        }
        std::vector<float> f;
        for (int i = 0; i < frames * channels; ++i)
            f.push_back(static_cast<float>(std::sin(i * 0.01) * 0.9));
        f[0] = 1.0f;  // full scale stays inside the 16-bit range
        f[1] = -1.0f;
        ASSERT_TRUE(files::write_floats(dir_.file("f.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                        channels, 44100, f));
        ASSERT_EQ(load_file("f.wav"), LoadResult::loaded);
        const p_s* s = sound();
        EXPECT_EQ(s->bits, 16);
        EXPECT_EQ(s16(s, 0), 32767);
        EXPECT_EQ(s16(s, 1), -32768);
        for (int i = 2; i < frames * channels; ++i) {
            ASSERT_LE(std::fabs(s16(s, i) - f[i] * 32768.0), 0.5) << i;
        }
    }
}

TEST_F(MediaLoad, OggVorbisIsDecodedToSixteenBitsOfTheSameSignal) {
    const int frames = 44100;
    std::vector<float> f;
    for (int i = 0; i < frames; ++i) {
        const float x = static_cast<float>(0.5 * std::sin(2 * M_PI * 440.0 * i / 44100.0));
        f.push_back(x);
        f.push_back(-x);
    }
    ASSERT_TRUE(
        files::write_floats(dir_.file("tone.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 2, 44100, f));
    ASSERT_EQ(load_file("tone.ogg"), LoadResult::loaded);
    const p_s* s = sound();
    EXPECT_EQ(s->bits, 16);
    EXPECT_EQ(s->stereo, 1);
    EXPECT_EQ(s->rate, 44100u);
    ASSERT_EQ(s->size >> s->shift, static_cast<std::uint32_t>(frames));
    // Lossy, so compared by the error's energy against the signal's.
    double err = 0, sig = 0;
    for (int i = 0; i < 2 * frames; ++i) {
        const double want = f[i] * 32768.0;
        err += (s16(s, i) - want) * (s16(s, i) - want);
        sig += want * want;
    }
    EXPECT_LT(err / sig, 1e-3);
}

TEST_F(MediaLoad, MoreThanTwoChannelsAreMixedToMono) {
    std::vector<int> v;
    for (int i = 0; i < 100; ++i) {
        for (int c = 0; c < 4; ++c) v.push_back((i * 10 + c * 1000) << 16);
    }
    ASSERT_TRUE(
        files::write_ints(dir_.file("quad.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 4, 8000, v));
    ASSERT_EQ(load_file("quad.wav"), LoadResult::loaded);
    const p_s* s = sound();
    EXPECT_EQ(s->stereo, 0);
    ASSERT_EQ(s->size, 200u);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(s16(s, i), i * 10 + 1500) << i;
}

TEST_F(MediaLoad, UnreadableFilesAreRefusedAndLeaveNothingOpen) {
    ASSERT_TRUE(files::write_ints(dir_.file("ok.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000,
                                  {1 << 16, 2 << 16}));
    ASSERT_EQ(load_file("ok.wav"), LoadResult::loaded);
    const p_s* before = sound();
    const int fds = files::open_fds();

    std::vector<unsigned char> text(4000, 'x');
    ASSERT_TRUE(files::write_bytes(dir_.file("notes.wav"), text));
    ASSERT_TRUE(files::write_bytes(dir_.file("notes"), text));
    std::vector<unsigned char> riff = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0x7F,
                                       'W', 'A', 'V', 'E', 'f',  'm',  't',  ' '};
    ASSERT_TRUE(files::write_bytes(dir_.file("cut.wav"), riff));
    int alerts = 0;
    for (const char* leaf : {"notes.wav", "notes", "cut.wav"}) {
        EXPECT_EQ(load_file(leaf), LoadResult::refused) << leaf;
        EXPECT_EQ(alerts_.count(), ++alerts);
        EXPECT_EQ(alerts_.text(), "Not an audio file or format not supported");
        EXPECT_EQ(alerts_.button(), "...");
        EXPECT_EQ(sound(), before);
    }
    EXPECT_EQ(files::open_fds(), fds);
    EXPECT_EQ(sound(), before);
}

TEST_F(MediaLoad, LargeSoundsAreStreamedFromTheThreshold) {
    struct Case {
        const char* leaf;
        int format;
        int channels;
        int frames;
        bool streamed;
    } cases[] = {
        {"st16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 300000, true},     // 1200000 bytes
        {"mono16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 300000, false},  // 600000 bytes
        {"exact.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 250000, true},    // 1000000 bytes
        {"exact8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 1000000, true},
        {"below8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 999999, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.leaf);
        const std::vector<std::int16_t> v = pattern(c.frames, c.channels);
        ASSERT_TRUE(
            files::write_ints(dir_.file(c.leaf), c.format, c.channels, 44100, widen(v, 16)));
        ASSERT_EQ(load_file(c.leaf), LoadResult::loaded);
        const p_s* s = sound();
        const unsigned bits = s->bits;
        const std::uint32_t fb = (bits / 8) * c.channels;
        EXPECT_EQ(s->nframes, c.frames);
        if (!c.streamed) {
            EXPECT_EQ(s->type, kTypeMemory);
            EXPECT_EQ(s->size, c.frames * fb);
            EXPECT_EQ(s->mfile, nullptr);
            continue;
        }
        EXPECT_EQ(s->type, kTypeStreamed);
        const std::uint32_t chunk = 1024 * fb;
        EXPECT_EQ(s->chunk, chunk);
        EXPECT_EQ(s->size, 150 * chunk);
        EXPECT_EQ(s->loop, 1);
        EXPECT_EQ(s->loop_start, 50 * chunk);
        EXPECT_EQ(s->loop_end, 150 * chunk);
        EXPECT_EQ(s->rd_frames, 51200);
        EXPECT_EQ(s->rd_frames2, 51200);
        EXPECT_EQ(s->d2d_state, 1);
        EXPECT_NE(s->mfile, nullptr);
        // The resident start holds the first 51200 frames.
        for (std::size_t i = 0; i < 51200u * c.channels; ++i) {
            if (bits == 8) {
                ASSERT_EQ(s->data[i], static_cast<std::int8_t>(v[i] >> 8)) << i;
            } else {
                ASSERT_EQ(s16(s, i), v[i]) << i;
            }
        }
    }
}

TEST_F(MediaLoad, RetiringAStreamedSoundClosesItsFile) {
    const int fds = files::open_fds();
    ASSERT_TRUE(files::write_ints(dir_.file("big.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100,
                                  widen(pattern(300000, 2), 16)));
    ASSERT_EQ(load_file("big.wav"), LoadResult::loaded);
    ASSERT_EQ(sound()->type, kTypeStreamed);
    EXPECT_EQ(files::open_fds(), fds + 1);
    ASSERT_EQ(load_file("big.wav"),
              LoadResult::loaded);  // the new one opens, the old one is retired
    reclaim::reclaim_all();
    EXPECT_EQ(files::open_fds(), fds + 1);
    clear_sound(0);
    reclaim::reclaim_all();
    EXPECT_EQ(files::open_fds(), fds);
}

TEST_F(MediaLoad, SystemSoundsMatchWhatSoxReports) {
    glob_t g{};
    if (glob("/usr/share/sounds/alsa/*.wav", 0, nullptr, &g) != 0)
        GTEST_SKIP() << "no system sounds";
    ASSERT_GT(g.gl_pathc, 0u);
    for (std::size_t k = 0; k < g.gl_pathc; ++k) {
        const std::string path = g.gl_pathv[k];
        SCOPED_TRACE(path);
        const int channels = std::atoi(files::run("soxi -c '" + path + "'").c_str());
        const long rate = std::atol(files::run("soxi -r '" + path + "'").c_str());
        const long frames = std::atol(files::run("soxi -s '" + path + "'").c_str());
        const int bits = std::atoi(files::run("soxi -b '" + path + "'").c_str());
        ASSERT_GT(channels, 0);
        ASSERT_EQ(load(1, path.c_str(), "sys"), LoadResult::loaded);
        const p_s* s = sound();
        EXPECT_EQ(s->rate, static_cast<std::uint32_t>(rate));
        EXPECT_EQ(s->stereo, channels == 2 ? 1 : 0);
        EXPECT_EQ(s->bits, bits == 8 ? 8 : 16);
        EXPECT_EQ(static_cast<long>(s->size >> s->shift), frames);
        if (bits != 16 || channels > 2) continue;
        // Sample values as sox decodes them, 16-bit host order.
        char tmpl[] = "/tmp/plexora-raw-XXXXXX";
        const int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        files::run("sox '" + path + "' -t raw -e signed-integer -b 16 '" + tmpl + "'");
        std::FILE* f = std::fopen(tmpl, "rb");
        ASSERT_NE(f, nullptr);
        std::vector<std::int16_t> raw(static_cast<std::size_t>(frames * channels) + 1);
        const std::size_t n = std::fread(raw.data(), 2, raw.size(), f);
        std::fclose(f);
        std::remove(tmpl);
        ASSERT_EQ(n, static_cast<std::size_t>(frames * channels));
        ASSERT_EQ(std::memcmp(raw.data(), s->data, n * 2), 0);
    }
    globfree(&g);
}
