#include "engine/render.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "core/notify.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "engine/tone_tables.h"
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

// 16-bit mono ramp: sample i has value i (mod 32768).
std::vector<std::int16_t> ramp(std::uint32_t frames) {
    std::vector<std::int16_t> v(frames);
    for (std::uint32_t i = 0; i < frames; ++i) v[i] = static_cast<std::int16_t>(i & 0x7FFF);
    return v;
}

// Gain of one 16-bit sample unit on the first output for a voice at
// velocity `vel`, channel pan `pan` and main volume 127, after the final /4.
float unit_gain(int vel, int pan, int out_channel) {
    const float pan_gain = out_channel == 0 ? tab_pan[pan] : tab_pan[127 - pan];
    return static_cast<float>(vel) * pan_gain * (127.0f / 128.0f) / 4194304.0f / 4.0f;
}

// Plays sound 0 (by index) on voice 0 and returns the voice.
NOTE_LIST& play_sound(std::uint32_t key, std::uint32_t velocity = 127, std::uint32_t end = 0,
                      std::uint32_t start = 0) {
    addnote(0, key, 0, velocity, false, end, start);
    return nlist[0];
}

}  // namespace

TEST_F(EngineTest, NoVoiceGivesSilenceAndOtherFormatsAreLeftUntouched) {
    std::vector<float> buf(1024, 0.5f);
    raw_audio_format fmt;
    BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
    for (float x : buf) ASSERT_EQ(x, 0.0f);

    std::fill(buf.begin(), buf.end(), 0.5f);
    fmt.format = 0x2;  // 16-bit integer samples
    BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
    for (float x : buf) ASSERT_EQ(x, 0.5f);
}

TEST_F(EngineTest, LoopWrapInsideABufferRendersBothBlocksFromTheRightFrames) {
    p_s* s = make_sound16(ramp(3000), 44100, 60);
    set_loop_frames(s, 1000, 2000);
    replace_sound(0, s);
    NOTE_LIST& v = play_sound(60);
    v.pos = 1990;
    const auto out = render(512);
    const float g = unit_gain(127, 64, 0);
    for (int j = 0; j < 10; ++j) ASSERT_NEAR(out[2 * j], (1990 + j) * g, 1e-6) << j;
    for (int j = 10; j < 512; ++j) ASSERT_NEAR(out[2 * j], (1000 + j - 10) * g, 1e-6) << j;
    EXPECT_EQ(v.pos, 1502u);
    EXPECT_EQ(v.frac, 0.0f);
    EXPECT_EQ(v.state(), kVoicePlaying);
}

TEST_F(EngineTest, ReleasedVoiceAdvancesTheReleaseByTheEstimatePerBlock) {
    p_s* s = make_sound16(ramp(3000), 44100, 60);
    set_loop_frames(s, 1000, 2000);
    s->rel_time = 100000;
    replace_sound(0, s);
    NOTE_LIST& v = play_sound(60);
    v.pos = 1990;
    delnote(0, 60, 0, 64, -1);
    render(512);
    EXPECT_EQ(v.rel_pos, 512u + 502u);  // the cut block adds the estimate for the whole buffer
    EXPECT_EQ(v.pos, 1502u);
}

TEST_F(EngineTest, PitchFollowsRateKeyAndBase) {
    // 22050 Hz sound, base 48, key 60, 44100 Hz output: step 0.5 * inote[60] / inote[48].
    p_s* s = make_sound16(sine16(441.0, 22050, 22050), 22050, 48);
    set_loop_frames(s, 0, 22050);
    replace_sound(0, s);
    play_sound(60);
    const auto out = render(44100);
    // One octave above the sound's own 441 Hz.
    EXPECT_NEAR(zero_crossing_hz(channel(out, 0), 44100.0), 882.0, 0.5);
    EXPECT_NEAR(zero_crossing_hz(channel(out, 1), 44100.0), 882.0, 0.5);
    // The same sound one octave below its base at key 36.
    fresh_tables();
    s = make_sound16(sine16(441.0, 22050, 22050), 22050, 48);
    set_loop_frames(s, 0, 22050);
    replace_sound(0, s);
    play_sound(36);
    EXPECT_NEAR(zero_crossing_hz(channel(render(44100), 0), 44100.0), 220.5, 0.2);
}

TEST_F(EngineTest, BendTuneAndTheTuneCurveMoveThePitch) {
    auto measure = [](void (*setup)(p_s*)) {
        fresh_tables();
        p_s* s = make_sound16(sine16(440.0, 44100, 44100), 44100, 69);
        set_loop_frames(s, 0, 44100);
        setup(s);
        replace_sound(0, s);
        addnote(0, 69, 0, 127, false, 0, 0);
        return zero_crossing_hz(channel(render(44100), 0), 44100.0);
    };
    const double semitone = std::pow(2.0, 1.0 / 12.0);
    EXPECT_NEAR(measure([](p_s*) {}), 440.0, 0.3);
    // Full bend up with the default range: 2 * 8191/8192 semitones, just under two.
    EXPECT_NEAR(measure([](p_s*) { ch_pitch[0] = 16383; }),
                440.0 * std::pow(semitone, 2.0 * 8191.0 / 8192.0), 0.3);
    EXPECT_NEAR(measure([](p_s*) { ch_pitch[0] = 0; }), 440.0 / std::pow(semitone, 2.0), 0.3);
    EXPECT_NEAR(measure([](p_s*) { ch_ctune[0] = 0; }), 440.0 / semitone, 0.3);
    EXPECT_NEAR(measure([](p_s*) { ch_ctune[0] = 127; }), 440.0 * std::pow(semitone, 63.0 / 64.0),
                0.3);
    // The tune curve at level 128 raises by a semitone and replaces the channel tuning.
    EXPECT_NEAR(measure([](p_s* s) {
                    ch_ctune[0] = 0;
                    s->flags = s->flags | (1u << 3);
                    const std::uint16_t level128[5] = {0x0080, 0x4080, 0x8080, 0xC080, 0xFF80};
                    for (int k = 0; k < 5; ++k) s->env[k][3] = level128[k];
                }),
                440.0 * semitone, 0.3);
}

TEST_F(EngineTest, PanLawAndMainVolumeScaleTheTwoOutputs) {
    std::vector<std::int16_t> dc(4000, 16384);
    auto level = [&](int pan, int main, int out_ch) {
        fresh_tables();
        p_s* s = make_sound16(dc, 44100, 60);
        set_loop_frames(s, 0, 4000);
        replace_sound(0, s);
        ch_pan[0] = pan;
        ch_main[0] = main;
        addnote(0, 60, 0, 127, false, 0, 0);
        return render(256)[2 * 100 + out_ch];
    };
    EXPECT_EQ(level(0, 127, 0), 0.0f);  // pan 0: nothing on the first output
    EXPECT_NEAR(level(0, 127, 1), 16384 * unit_gain(127, 0, 1), 1e-6);
    EXPECT_NEAR(level(127, 127, 0), 16384 * unit_gain(127, 127, 0), 1e-6);
    EXPECT_NEAR(level(127, 127, 1), 0.0f, 1e-6);
    EXPECT_NEAR(level(64, 64, 0), 16384 * unit_gain(127, 64, 0) * 64.0f / 127.0f, 1e-6);
    EXPECT_NE(level(64, 127, 0), level(64, 127, 1));  // the centre is not quite centred
}

TEST_F(EngineTest, TwoFullScaleVoicesSumToAboutAThirdAndManyClip) {
    std::vector<std::int16_t> full(4000, 32767);
    p_s* s = make_sound16(full, 44100, 60);
    set_loop_frames(s, 0, 4000);
    replace_sound(0, s);
    addnote(0, 60, 0, 127, false, 0, 0);
    addnote(0, 60, 0, 127, false, 0, 0);
    auto out = render(256);
    EXPECT_NEAR(out[200], 0.35f, 0.01f);
    EXPECT_NEAR(out[201], 0.35f, 0.01f);
    for (int i = 0; i < 30; ++i) addnote(0, 60, 0, 127, false, 0, 0);
    out = render(256);
    EXPECT_EQ(peak(out), 1.0f);
}

TEST_F(EngineTest, NonLoopingSoundEndsInTheBufferWhereItRunsOut) {
    std::vector<std::int16_t> data(700, 8000);
    replace_sound(0, make_sound16(data, 44100, 60));
    NOTE_LIST& v = play_sound(60);
    auto out = render(512);
    EXPECT_EQ(v.state(), kVoicePlaying);
    out = render(512);
    EXPECT_EQ(v.state(), kVoiceFree);  // ended in the second buffer
    // Frames before the end carry the sound, those after stay silent.
    EXPECT_GT(out[2 * 150], 0.0f);
    for (int j = 189; j < 512; ++j) ASSERT_EQ(out[2 * j], 0.0f) << j;
    EXPECT_EQ(render(512)[0], 0.0f);
}

TEST_F(EngineTest, ReleaseCurveFadesThenEndsTheVoice) {
    std::vector<std::int16_t> dc(4000, 16000);
    p_s* s = make_sound16(dc, 44100, 60);
    set_loop_frames(s, 0, 4000);
    s->rel_time = 4410;  // 0.1 s
    replace_sound(0, s);
    NOTE_LIST& v = play_sound(60);
    const float held = render(512)[0];
    delnote(0, 60, 0, 64, -1);
    std::vector<float> levels;
    for (int b = 0; b < 12 && v.playing(); ++b) levels.push_back(render(512)[0]);
    EXPECT_EQ(v.state(), kVoiceFree);
    EXPECT_EQ(v.velocity, 0u);
    ASSERT_GE(levels.size(), 8u);
    EXPECT_NEAR(levels[0], held, 1e-6);  // the first released buffer starts at full level
    for (std::size_t i = 1; i < levels.size(); ++i) EXPECT_LE(levels[i], levels[i - 1]);
    EXPECT_LT(levels.back(), held * 0.15f);
    EXPECT_EQ(peak(render(512)), 0.0f);
}

TEST_F(EngineTest, ReleasedVoiceWithoutReleaseCurvePlaysOn) {
    std::vector<std::int16_t> dc(4000, 16000);
    p_s* s = make_sound16(dc, 44100, 60);
    set_loop_frames(s, 0, 4000);
    s->flags = 0;
    replace_sound(0, s);
    NOTE_LIST& v = play_sound(60);
    delnote(0, 60, 0, 64, -1);
    for (int b = 0; b < 50; ++b) render(512);
    EXPECT_EQ(v.state(), kVoicePlaying);
    EXPECT_EQ(v.rel_pos, 0u);
}

TEST_F(EngineTest, PreviewPlaysToItsEndAndTellsTheEditor) {
    replace_sound(0, make_sound16(ramp(5000), 44100, 60));
    prin = true;
    take_preview_ended();
    NOTE_LIST& v = play_sound(60, 127, 1200, 1000);
    const auto out = render(512);
    // Fixed gain 127 and no pan law on either side.
    const float g = 127.0f / 4194304.0f / 4.0f;
    EXPECT_NEAR(out[0], 1000 * g, 1e-6);
    EXPECT_NEAR(out[1], 1000 * g, 1e-6);
    EXPECT_NEAR(out[2 * 199], 1199 * g, 1e-6);
    EXPECT_EQ(out[2 * 200], 0.0f);
    EXPECT_EQ(v.state(), kVoiceFree);
    EXPECT_TRUE(take_preview_ended());

    // Stopped by the editor: ends at once, without the notice.
    play_sound(60, 127, 4000, 0);
    render(512);
    delnote(0, 60, 0, 100, -1);
    EXPECT_EQ(peak(render(512)), 0.0f);
    EXPECT_EQ(nlist[0].state(), kVoiceFree);
    EXPECT_FALSE(take_preview_ended());
    prin = false;
}

TEST_F(EngineTest, StereoSoundsKeepTheirOwnSides) {
    std::vector<std::int8_t> st8;
    for (int i = 0; i < 2000; ++i) {
        st8.push_back(100);
        st8.push_back(-50);
    }
    p_s* s = make_sound8(st8, 44100, 60, true);
    set_loop_frames(s, 0, 2000);
    replace_sound(0, s);
    play_sound(60);
    const auto out = render(256);
    const float g8 = 127.0f * (127.0f / 128.0f) / 16384.0f / 4.0f;
    EXPECT_NEAR(out[20], 100 * g8 * tab_pan[64], 1e-5);
    EXPECT_NEAR(out[21], -50 * g8 * tab_pan[63], 1e-5);

    fresh_tables();
    std::vector<std::int16_t> st16;
    for (int i = 0; i < 2000; ++i) {
        st16.push_back(-3000);
        st16.push_back(7000);
    }
    s = make_sound16(st16, 44100, 60, true);
    set_loop_frames(s, 0, 2000);
    replace_sound(0, s);
    play_sound(60);
    const auto out16 = render(256);
    EXPECT_NEAR(out16[20], -3000 * unit_gain(127, 64, 0), 1e-6);
    EXPECT_NEAR(out16[21], 7000 * unit_gain(127, 64, 1), 1e-6);
}

TEST_F(EngineTest, VoiceOnAnEmptySoundEndsOnItsFirstBuffer) {
    addnote(0, 60, 0, 127, true, 0, 0);  // instrument 0 owns only the empty "None Sample"
    EXPECT_EQ(nlist[0].state(), kVoicePlaying);
    EXPECT_EQ(peak(render(512)), 0.0f);
    EXPECT_EQ(nlist[0].state(), kVoiceFree);
}

// Fields that would index tables or data out of range are kept in bounds;
// AddressSanitizer and UndefinedBehaviorSanitizer builds check the reads.
TEST_F(EngineTest, OutOfRangeKeysBasesAndPansStayInsideTheTables) {
    p_s* s = make_sound16(sine16(440, 44100, 4000), 44100, 60);
    set_loop_frames(s, 0, 4000);
    s->base = -40;
    replace_sound(0, s);
    ch_pan[0] = 900;
    addnote(0, 300, 0, 127, false, 0, 0);
    const auto out = render(1024);
    EXPECT_GT(peak(out), 0.0f);
    for (float x : out) ASSERT_TRUE(std::isfinite(x));
    // Pan clamped to 127: everything on the first output.
    EXPECT_EQ(peak(channel(out, 1)), 0.0f);
}

TEST_F(EngineTest, InconsistentGeometryNeverReadsOutsideTheData) {
    struct Case {
        const char* what;
        void (*spoil)(p_s*);
    };
    const Case cases[] = {
        {"loop end far beyond the data", [](p_s* s) { s->loop_end = 50000000; }},
        {"loop start beyond loop end", [](p_s* s) { s->loop_start = 90000; }},
        {"size beyond the data",
         [](p_s* s) {
             s->loop = 0;
             s->size = 0x7FFFFFFF;
         }},
        {"shift disagrees with bits", [](p_s* s) { s->shift = 0; }},
        {"shift out of range", [](p_s* s) { s->shift = 40; }},
        {"stereo flag on mono data", [](p_s* s) { s->stereo = 1; }},
        {"odd byte count",
         [](p_s* s) {
             s->loop = 0;
             s->size = 3999;
         }},
        {"bits neither 8 nor 16", [](p_s* s) { s->bits = 12; }},
    };
    for (const Case& c : cases) {
        fresh_tables();
        p_s* s = make_sound16(ramp(2000), 44100, 60);
        set_loop_frames(s, 100, 2000);
        c.spoil(s);
        replace_sound(0, s);
        NOTE_LIST& v = play_sound(72);  // an octave up: step 2
        v.pos = 1990;
        for (int b = 0; b < 20; ++b) {
            const auto out = render(512);
            for (float x : out) ASSERT_TRUE(std::isfinite(x)) << c.what;
        }
    }
    // A preview whose end lies beyond the data stops at the data.
    fresh_tables();
    replace_sound(0, make_sound16(ramp(100), 44100, 60));
    play_sound(60, 127, 0xFFFFFFF0u, 0);
    for (int b = 0; b < 4; ++b) render(512);
    EXPECT_EQ(nlist[0].state(), kVoiceFree);
}

TEST_F(EngineTest, UnplayableRatesAndExtremePitchGiveSilenceOrAClampedPitch) {
    // No rate: silence, and the voice ends.
    p_s* s = make_sound16(sine16(440, 44100, 4000), 0, 60);
    set_loop_frames(s, 0, 4000);
    replace_sound(0, s);
    play_sound(60);
    EXPECT_EQ(peak(render(512)), 0.0f);
    EXPECT_EQ(nlist[0].state(), kVoiceFree);

    // A bend range pushed to the limit by data increments: the pitch is clamped.
    fresh_tables();
    s = make_sound16(sine16(440, 44100, 4000), 44100, 60);
    set_loop_frames(s, 0, 4000);
    replace_sound(0, s);
    ch_pitchsens[0] = std::numeric_limits<std::int32_t>::max();
    ch_pitch[0] = 16383;
    play_sound(60);
    auto out = render(2048);
    for (float x : out) ASSERT_TRUE(std::isfinite(x));
    ch_pitch[0] = 0;
    out = render(2048);
    for (float x : out) ASSERT_TRUE(std::isfinite(x));
    EXPECT_EQ(nlist[0].state(), kVoicePlaying);

    // A garbage fraction left in a voice is ignored.
    nlist[0].frac = std::numeric_limits<float>::quiet_NaN();
    ch_pitch[0] = 8192;
    ch_pitchsens[0] = 200;
    out = render(512);
    for (float x : out) ASSERT_TRUE(std::isfinite(x));

    // A broken output rate gives silence.
    std::vector<float> buf(512, 1.0f);
    raw_audio_format fmt;
    fmt.frame_rate = 0.0f;
    BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
    for (float x : buf) ASSERT_EQ(x, 0.0f);
}

TEST_F(EngineTest, ASoundReplacedWhileItPlaysIsFreedOnlyAfterTheBuffer) {
    p_s* s = make_sound16(sine16(440, 44100, 4000), 44100, 60);
    set_loop_frames(s, 0, 4000);
    replace_sound(0, s);
    play_sound(60);
    render(512);
    reclaim::reclaim_all();
    {
        // A reader holding the old record keeps it alive across the replacement.
        reclaim::ReadSection reading;
        p_s* held = t_sound[0];
        p_s* shorter = make_sound16(sine16(880, 44100, 300), 44100, 60);
        replace_sound(0, shorter);
        EXPECT_EQ(reclaim::reclaim(), 0u);
        EXPECT_EQ(held->size, 8000u);  // still readable
    }
    reclaim::reclaim_all();
    // The playing voice now finds the shorter sound and stays inside it.
    for (int b = 0; b < 4; ++b) render(512);
    EXPECT_EQ(nlist[0].state(), kVoiceFree);
}

TEST_F(EngineTest, MonoAndMultichannelDevicesGetTheMixOnTheirFirstChannels) {
    std::vector<std::int16_t> dc(4000, 16000);
    p_s* s = make_sound16(dc, 44100, 60);
    set_loop_frames(s, 0, 4000);
    replace_sound(0, s);
    play_sound(60);
    raw_audio_format fmt;
    fmt.channel_count = 4;
    std::vector<float> quad(256 * 4, 9.0f);
    BufferProc(nullptr, quad.data(), quad.size() * sizeof(float), fmt);
    EXPECT_NEAR(quad[4 * 10], 16000 * unit_gain(127, 64, 0), 1e-6);
    EXPECT_NEAR(quad[4 * 10 + 1], 16000 * unit_gain(127, 64, 1), 1e-6);
    EXPECT_EQ(quad[4 * 10 + 2], 0.0f);
    EXPECT_EQ(quad[4 * 10 + 3], 0.0f);

    fmt.channel_count = 1;
    std::vector<float> mono(256, 9.0f);
    BufferProc(nullptr, mono.data(), mono.size() * sizeof(float), fmt);
    EXPECT_NEAR(mono[10], 16000 * 0.5f * (unit_gain(127, 64, 0) + unit_gain(127, 64, 1)), 1e-6);
}

// Stereo devices take a four-frames-at-a-time path for 16-bit mono sounds;
// other devices take the frame-by-frame one. Both must give the same mix.
TEST_F(EngineTest, FastAndPlainMixingPathsAgree) {
    for (const float step_key : {61.0f, 53.0f, 79.0f}) {
        fresh_tables();
        p_s* s = make_sound16(sine16(313.0, 44100, 3001), 44100, 60);
        set_loop_frames(s, 17, 3001);
        replace_sound(0, s);
        ch_pitch[0] = 9000;  // a step that is no simple fraction
        play_sound(static_cast<std::uint32_t>(step_key));
        raw_audio_format fmt;
        std::vector<float> two(1021 * 2);
        std::vector<float> four(1021 * 4);
        for (int b = 0; b < 6; ++b) {
            const std::uint32_t pos = nlist[0].pos;
            const float frac = nlist[0].frac;
            fmt.channel_count = 4;
            BufferProc(nullptr, four.data(), four.size() * sizeof(float), fmt);
            const double end4 = nlist[0].pos + static_cast<double>(nlist[0].frac);
            // Render the same buffer again, from the same place, in stereo.
            nlist[0].pos = pos;
            nlist[0].frac = frac;
            fmt.channel_count = 2;
            BufferProc(nullptr, two.data(), two.size() * sizeof(float), fmt);
            ASSERT_NEAR(nlist[0].pos + static_cast<double>(nlist[0].frac), end4, 0.1);
            for (std::size_t f = 0; f < 1021; ++f) {
                // Positions are rounded differently: they may part by a tenth
                // of a frame over a buffer, far from the whole frame a fault would give.
                ASSERT_NEAR(two[2 * f], four[4 * f], 1e-3) << "key " << step_key << " frame " << f;
                ASSERT_NEAR(two[2 * f + 1], four[4 * f + 1], 1e-3);
            }
        }
    }
}
