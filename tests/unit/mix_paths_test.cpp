// Every mixing path compiled in must give the plain frame-by-frame loop's
// output and voice state bit for bit, over random scenes that cover the
// formats, loops of every length, steps from 1/1024 to 1024, curves, bends,
// tuning, previews and releases.

#include "engine/mix_frame.h"
#include "engine/output_level.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

const MixPath kPaths[] = {MixPath::Plain, MixPath::Sse2, MixPath::Avx2};

// Everything a scene produces: the output bits and, after every buffer, the
// state of every voice.
struct Trace {
    std::vector<std::uint32_t> words;
    void add(float x) {
        std::uint32_t w;
        std::memcpy(&w, &x, sizeof w);
        words.push_back(w);
    }
};

// Builds scene `seed` on fresh tables, renders it and records the trace.
Trace run_scene(unsigned seed) {
    fresh_tables();
    std::mt19937 rng(seed);
    const auto uni = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    };
    const int voices = 1 + static_cast<int>(rng() % 4);
    for (int v = 0; v < voices; ++v) {
        const bool sixteen = rng() % 2;
        const bool stereo = rng() % 2;
        const std::uint32_t frames = 2 + rng() % (rng() % 2 ? 40 : 6000);
        const std::uint32_t channels = stereo ? 2 : 1;
        p_s* s;
        if (sixteen) {
            std::vector<std::int16_t> d(frames * channels);
            for (auto& x : d) x = static_cast<std::int16_t>(rng());
            s = make_sound16(d, 44100, 60, stereo);
        } else {
            std::vector<std::int8_t> d(frames * channels);
            for (auto& x : d) x = static_cast<std::int8_t>(rng());
            s = make_sound8(d, 44100, 60, stereo);
        }
        // A step of 2^-10 .. 2^10 at the base key.
        s->rate =
            static_cast<std::uint32_t>(std::max(1.0, 44100.0 * std::pow(2.0, uni(-10.0, 10.0))));
        if (rng() % 2) {
            const std::uint32_t start = rng() % frames;
            const std::uint32_t len = 1 + rng() % (rng() % 2 ? 4 : frames);
            set_loop_frames(s, start, std::min(frames, start + len));
        }
        // Some without spare bytes after the data: the last frames are then
        // the last the mix may read.
        if (rng() % 4 == 0) s->capacity = s->size;
        s->flags = static_cast<std::uint16_t>(rng() % 32);
        s->rel_time = 1 + rng() % 3000;
        replace_sound(v, s);
        const std::uint32_t ch = rng() % 16;
        ch_pitch[ch] = static_cast<std::int32_t>(rng() % 16384);
        ch_pitchsens[ch] = static_cast<std::int32_t>(rng() % 2400);
        ch_ctune[ch] = static_cast<std::int32_t>(rng() % 128);
        ch_pan[ch] = static_cast<std::int32_t>(rng() % 128);
        const bool preview = rng() % 4 == 0;
        const std::uint32_t start = rng() % frames;
        addnote(ch, 48 + rng() % 24, v, 1 + rng() % 127, false,
                preview ? start + 1 + rng() % frames : 0, preview ? start : 0);
    }
    Trace t;
    raw_audio_format fmt;
    fmt.frame_rate = static_cast<float>(22050 + rng() % 74000);
    for (int b = 0; b < 4; ++b) {
        if (b == 2 && rng() % 2) delnote(nlist[0].channel, nlist[0].key, 0, 64, -1);
        std::vector<float> buf(2 * (1 + rng() % 700));
        BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
        for (float x : buf) t.add(x);
        for (const NOTE_LIST& v : nlist) {
            t.words.push_back(v.state());
            t.words.push_back(v.pos);
            t.add(v.frac);
            t.words.push_back(v.rel_pos);
        }
    }
    return t;
}

class MixPathsTest : public EngineTest {
  protected:
    void TearDown() override {
        set_mix_path(MixPath::Avx2) || set_mix_path(MixPath::Sse2);
        EngineTest::TearDown();
    }
};

// A kernel that writes down the positions it is given.
struct PositionsOnly {
    static constexpr int kOutFloats = 8;
    void run(float f, float rstep, int groups, float* o) const {
        for (int k = 0; k < 8 * groups; ++k) o[k] = f + static_cast<float>(k) * rstep;
    }
    void one(const float* at, float* o) const { std::memcpy(o, at, 8 * sizeof(float)); }
    void two(float f, float rstep, int k, float q, float rstep2, float* o) const {
        for (int i = 0; i < 8; ++i) o[i] = i < k ? f + float(i) * rstep : q + float(i - k) * rstep2;
    }
};

}  // namespace

TEST_F(MixPathsTest, EveryPathMatchesThePlainLoopBitForBit) {
    int compared = 0;
    for (unsigned seed = 1; seed <= 600; ++seed) {
        ASSERT_TRUE(set_mix_path(MixPath::Plain));
        const Trace plain = run_scene(seed);
        for (MixPath p : kPaths) {
            if (p == MixPath::Plain || !set_mix_path(p)) continue;
            const Trace other = run_scene(seed);
            ASSERT_EQ(other.words, plain.words) << "scene " << seed << " path " << int(p);
            ++compared;
        }
    }
    // At least one vector path runs on any x86-64.
#if defined(__x86_64__)
    EXPECT_GE(compared, 600);
#endif
}

TEST_F(MixPathsTest, OneSoundAs8And16BitEndsAtTheSamePositionOnEveryPath) {
    // An 8000 Hz sound at its base key into 44100 Hz: 441 frames advance by
    // 441 additions of the step, not by 441 times the step.
    std::vector<std::int8_t> d8(200);
    std::vector<std::int16_t> d16(200);
    for (std::size_t i = 0; i < d8.size(); ++i) {
        d8[i] = static_cast<std::int8_t>((i * 37) % 251 - 125);
        d16[i] = static_cast<std::int16_t>(d8[i] * 256);
    }
    const float step = (8000.0f * inote[60]) / (44100.0f * inote[60]);
    float sum = 0.0f;
    for (int j = 0; j < 441; ++j) sum += step;
    for (MixPath p : kPaths) {
        if (!set_mix_path(p)) continue;
        std::vector<float> outs[2];
        for (int sixteen = 0; sixteen < 2; ++sixteen) {
            fresh_tables();
            replace_sound(0, sixteen ? make_sound16(d16, 8000, 60) : make_sound8(d8, 8000, 60));
            addnote(0, 60, 0, 127, false, 0, 0);
            outs[sixteen] = render(441, 44100.0f, 441);
            EXPECT_EQ(nlist[0].pos, static_cast<std::uint32_t>(sum)) << int(p);
            EXPECT_EQ(nlist[0].frac, sum - std::floor(sum)) << int(p);
        }
        EXPECT_EQ(outs[0], outs[1]) << int(p);  // 8-bit gain is 256 times the 16-bit one
    }
    EXPECT_EQ(static_cast<int>(sum), 79);
}

TEST(MixPositions, KernelGroupsEqualTheSumsFrameByFrame) {
    // Steps with few significant bits land exactly halfway between two
    // floats in some binade (the rounding then depends on the sum); tiny
    // steps leave the sum where it is; starts cover 0, the low binades
    // summed one by one and positions far up.
    std::mt19937 rng(11);
    std::vector<float> at(700 + mixing::kPositionSlack);
    for (int trial = 0; trial < 20000; ++trial) {
        const int odd = 1 + 2 * static_cast<int>(rng() % (trial % 2 ? 8 : 1 << 20));
        const float step = std::ldexp(static_cast<float>(odd), -static_cast<int>(rng() % 44));
        const float f0 = trial % 5 == 0 ? 0.0f
                                        : std::ldexp(static_cast<float>(rng() % (1 << 24)),
                                                     -24 + static_cast<int>(rng() % 30));
        const int m = 1 + static_cast<int>(rng() % 700);
        // Groups of eight as the kernels take them, then the rest.
        mixing::Cursor c = mixing::cursor_at(f0, step);
        float* rest = mixing::drive<8>(PositionsOnly{}, c, m / 8, at.data());
        c.take(m % 8, rest);
        const float end = c.f;
        float f = f0;
        for (int k = 0; k < m; ++k, f += step) {
            ASSERT_EQ(at[k], f) << "start " << f0 << " step " << step << " frame " << k;
        }
        ASSERT_EQ(end, f) << "start " << f0 << " step " << step << " frames " << m;
    }
}

TEST(OutputStage, EveryWidthGivesThePlainLoopsSamplesAndCounts) {
    // Lengths around the vector widths; NaN, infinities, values at and past
    // the clip; a gain that rounds.
    const float specials[] = {NAN, INFINITY, -INFINITY, 4.0f, -4.0f, 4.0000005f, 1e30f, -0.0f};
    std::mt19937 rng(7);
    for (int trial = 0; trial < 400; ++trial) {
        const std::size_t n = rng() % 70;
        std::vector<float> in(n);
        for (float& x : in) {
            x = rng() % 8 == 0 ? specials[rng() % 8]
                               : std::uniform_real_distribution<float>(-9.0f, 9.0f)(rng);
        }
        set_output_gain(trial % 2 ? 0.7f : 1.0f);
        Trace results[3];
        const int widths[] = {1, 4, 8};
        for (int w = 0; w < 3; ++w) {
            std::vector<float> buf = in;
            reset_clip_counts();
            finish_output_with(buf.data(), n, widths[w]);
            for (const float x : buf) results[w].add(x);
            results[w].add(clip_counts().peak);
            results[w].add(static_cast<float>(clip_counts().clipped));
        }
        ASSERT_EQ(results[1].words, results[0].words) << "trial " << trial;
        ASSERT_EQ(results[2].words, results[0].words) << "trial " << trial;
    }
    set_output_gain(1.0f);
    reset_clip_counts();
}
