#include "support/testkit.h"

using namespace testkit;

namespace {

// 16-bit mono ramp: sample i has value i (mod 32768).
std::vector<std::int16_t> ramp(std::uint32_t frames) {
    std::vector<std::int16_t> v(frames);
    for (std::uint32_t i = 0; i < frames; ++i) v[i] = static_cast<std::int16_t>(i & 0x7FFF);
    return v;
}

// Plays sound 0 on voice 0 and returns the voice.
NOTE_LIST& play_sound(std::uint32_t key = 60, std::uint32_t end = 0, std::uint32_t start = 0) {
    addnote(0, key, 0, 127, false, end, start);
    return nlist[0];
}

std::vector<std::int16_t> level(std::int16_t v, std::size_t n = 4000) {
    return std::vector<std::int16_t>(n, v);
}

}  // namespace

TEST_F(EngineTest, NoVoiceGivesSilenceAndOtherFormatsAndRatesAreLeftAlone) {
    std::vector<float> buf(1024, 0.5f);
    raw_audio_format fmt;
    BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), fmt);
    EXPECT_EQ(peak(buf), 0.0f);
    for (auto spoil : {+[](raw_audio_format& f) { f.format = 0x2; },  // 16-bit integers
                       +[](raw_audio_format& f) { f.frame_rate = 0.0f; }}) {
        looped_sound(level(16000));
        play_sound();
        raw_audio_format f;
        spoil(f);
        std::fill(buf.begin(), buf.end(), 0.5f);
        BufferProc(nullptr, buf.data(), buf.size() * sizeof(float), f);
        EXPECT_EQ(peak(buf), f.format == 0x2 ? 0.5f : 0.0f);
    }
}

TEST_F(EngineTest, LoopWrapInsideABufferRendersBothBlocksFromTheRightFrames) {
    p_s* s = make_sound16(ramp(3000), 44100, 60);
    set_loop_frames(s, 1000, 2000);
    s->rel_time = 100000;
    replace_sound(0, s);
    NOTE_LIST& v = play_sound();
    v.pos = 1990;
    const auto out = render(512);
    for (int j = 0; j < 10; ++j) ASSERT_NEAR(out[2 * j], (1990 + j) * unit_gain(0), 1e-6) << j;
    for (int j = 10; j < 512; ++j) ASSERT_NEAR(out[2 * j], (990 + j) * unit_gain(0), 1e-6) << j;
    EXPECT_EQ(v.pos, 1502u);
    EXPECT_EQ(v.frac, 0.0f);
    EXPECT_EQ(v.state(), kVoicePlaying);
    // Released, the same wrap advances the release by the estimate for the
    // whole buffer on each block.
    v.pos = 1990;
    delnote(0, 60, 0, 64, -1);
    render(512);
    EXPECT_EQ(v.rel_pos, 512u + 502u);
    EXPECT_EQ(v.pos, 1502u);
}

TEST_F(EngineTest, PitchFollowsRateKeyBaseBendAndTune) {
    const double semi = std::pow(2.0, 1.0 / 12.0);
    const std::tuple<int, void (*)(p_s*), double> cases[] = {
        // key, set-up, pitch
        {81, [](p_s*) {}, 882.0},  // 22050 Hz sound of 441 Hz at base 69, an octave up
        {69, [](p_s*) {}, 441.0},
        // Full bend with the default range: 2 * 8191/8192 semitones up, 2 down.
        {69, [](p_s*) { ch_pitch[0] = 16383; }, 441.0 * std::pow(semi, 2.0 * 8191 / 8192)},
        {69, [](p_s*) { ch_pitch[0] = 0; }, 441.0 / semi / semi},
        {69, [](p_s*) { ch_ctune[0] = 127; }, 441.0 * std::pow(semi, 63.0 / 64.0)},
        // The tune curve at level 128 raises by a semitone and replaces the channel tuning.
        {69,
         [](p_s* s) {
             ch_ctune[0] = 0;
             s->flags = s->flags | (1u << 3);
             const std::uint16_t level128[5] = {0x0080, 0x4080, 0x8080, 0xC080, 0xFF80};
             for (int k = 0; k < 5; ++k) s->env[k][3] = level128[k];
         },
         441.0 * semi},
    };
    for (const auto& [key, setup, hz] : cases) {
        fresh_tables();
        setup(looped_sound(sine16(441.0, 22050, 22050), 22050, 69));
        play_sound(static_cast<std::uint32_t>(key));
        const auto out = render(44100);
        EXPECT_NEAR(zero_crossing_hz(channel(out, 0), 44100.0), hz, 0.3) << key;
        EXPECT_NEAR(zero_crossing_hz(channel(out, 1), 44100.0), hz, 0.3) << key;
    }
}

TEST_F(EngineTest, PanLawAndMainVolumeScaleTheTwoOutputs) {
    // Pan gains follow a sine quarter that never reaches one: law(pan) on the
    // first output, law(127 - pan) on the second; main volume scales by main/128.
    const auto law = [](int k) { return static_cast<float>(std::sin(M_PI / 2 * k / 128.0)); };
    const int cases[][3] = {{0, 127, 0},  {127, 127, 127}, {64, 127, 64}, {32, 127, 32},
                            {64, 64, 64}, {900, 127, 127}};  // pan, main, pan after clamping
    for (const auto& c : cases) {
        fresh_tables();
        looped_sound(level(16384));
        ch_pan[0] = c[0];
        ch_main[0] = c[1];
        play_sound();
        const auto out = render(256);
        const float full = 16384.0f * 127.0f * (c[1] / 128.0f) / 4194304.0f / 4.0f;
        EXPECT_NEAR(out[200], law(c[2]) * full, 1e-6) << c[0] << " " << c[1];
        EXPECT_NEAR(out[201], law(127 - c[2]) * full, 1e-6) << c[0] << " " << c[1];
    }
}

TEST_F(EngineTest, TwoFullScaleVoicesSumToAboutAThirdAndManyClip) {
    looped_sound(level(32767));
    for (int i = 0; i < 2; ++i) play_sound();
    auto out = render(256);
    EXPECT_NEAR(out[200], 0.35f, 0.01f);
    EXPECT_NEAR(out[201], 0.35f, 0.01f);
    for (int i = 0; i < 30; ++i) play_sound();
    EXPECT_EQ(peak(render(256)), 1.0f);
}

TEST_F(EngineTest, ReleaseCurveFadesThenEndsTheVoiceAndWithoutItTheVoicePlaysOn) {
    p_s* s = looped_sound(level(16000));
    s->rel_time = 4410;  // 0.1 s
    NOTE_LIST& v = play_sound();
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

    s->flags = 0;  // no release curve
    play_sound();
    delnote(0, 60, 0, 64, -1);
    for (int b = 0; b < 50; ++b) render(512);
    EXPECT_EQ(v.state(), kVoicePlaying);
    EXPECT_EQ(v.rel_pos, 0u);
}

// The largest jump between neighbouring samples of the left output: a cut
// of a loud tone jumps by its level, a fade by a small part of it.
float largest_step(const std::vector<float>& v, std::size_t from, std::size_t to) {
    float most = 0;
    for (std::size_t i = 2 * from + 2; i < 2 * to && i < v.size(); i += 2)
        most = std::max(most, std::fabs(v[i] - v[i - 2]));
    return most;
}

TEST_F(EngineTest, AReleasedVoiceFadesOutAtTheBoundHoweverFarItIsBentDown) {
    // A second's release curve, bent four octaves down, would take sixteen
    // seconds; without a release curve a looping sound would play for ever.
    const std::size_t rate = 44100, bound = std::size_t(kReleaseBoundSeconds * rate);
    for (const bool curve : {true, false}) {
        SCOPED_TRACE(curve ? "release curve" : "no release curve");
        fresh_tables();
        p_s* s = looped_sound(sine16(441.0, 44100, 44100));
        s->flags = curve ? std::uint16_t(1u << kCurveVelocityOff) : 0;
        s->rel_time = 44100;
        ch_pitchsens[0] = 4800;
        ch_pitch[0] = 0;
        NOTE_LIST& v = play_sound();
        const float held = peak(render(4410));
        delnote(0, 60, 0, 64, -1);
        const auto out = render(bound + rate / 2);
        // The release keeps its own timing until just before the bound...
        const float before = peak(out, 2 * (bound - rate / 5), 2 * (bound - rate / 10));
        EXPECT_GT(before, held * (curve ? 0.4f : 0.9f));
        // ...then fades out, without a click, and the voice ends by the bound.
        const std::size_t fade = std::size_t(kBoundFadeSeconds * rate);
        EXPECT_LT(largest_step(out, bound - 2 * fade, bound), before * 0.02f) << "a click";
        EXPECT_EQ(peak(out, 2 * bound), 0.0f);
        EXPECT_EQ(v.state(), kVoiceFree);
    }
}

TEST_F(EngineTest, AllSoundOffAndAllNoteOffFadeEveryVoiceOutWithinMilliseconds) {
    // The plain way, on a loud tone: controller 120 on its channel, then
    // "All Note-Off" for every voice and preview; pressed twice, at once.
    MyBMidiPort port;
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how);
        fresh_tables();
        looped_sound(sine16(441.0, 44100, 44100, 1.0));
        addnote(2, 60, 0, 127, false, 0, 0);
        if (how > 0) addnote(0, 64, 0, 127, false, 44100, 0);  // a preview
        const auto playing = render(4410);
        const float step = largest_step(playing, 0, 4410);
        if (how == 0) port.ControlChange(2, 120, 0);
        if (how == 1) silence_all(false);
        if (how == 2) silence_all(true);
        auto out = render(4410);
        out.insert(out.begin(), playing.end() - 2, playing.end());  // the frame heard before
        const std::size_t fade = std::size_t(kSilenceFadeSeconds * 44100) + 1;
        EXPECT_EQ(peak(out, 2 * (how == 2 ? 1 : fade)), 0.0f);
        if (how != 2) {
            EXPECT_LT(largest_step(out, 0, fade), 1.5f * step) << "a click";
        }
        EXPECT_EQ(active_voices(), 0);
    }
}

TEST_F(EngineTest, PreviewPlaysToItsEndAndTellsTheEditor) {
    replace_sound(0, make_sound16(ramp(5000), 44100, 60));
    prin = true;
    take_preview_ended();
    NOTE_LIST& v = play_sound(60, 1200, 1000);
    const auto out = render(512);
    const float g = 127.0f / 4194304.0f / 4.0f;  // fixed gain 127, no pan law
    EXPECT_NEAR(out[0], 1000 * g, 1e-6);
    EXPECT_NEAR(out[1], 1000 * g, 1e-6);
    EXPECT_NEAR(out[2 * 199], 1199 * g, 1e-6);
    EXPECT_EQ(out[2 * 200], 0.0f);
    EXPECT_EQ(v.state(), kVoiceFree);
    EXPECT_TRUE(take_preview_ended());
    // Stopped by the editor: ends at once, without the notice.
    play_sound(60, 4000, 0);
    render(512);
    delnote(0, 60, 0, 100, -1);
    EXPECT_EQ(peak(render(512)), 0.0f);
    EXPECT_EQ(v.state(), kVoiceFree);
    EXPECT_FALSE(take_preview_ended());
    // A preview whose end lies beyond the data stops at the data.
    replace_sound(0, make_sound16(ramp(100), 44100, 60));
    play_sound(60, 0xFFFFFFF0u, 0);
    render(2048);
    EXPECT_EQ(v.state(), kVoiceFree);
}

TEST_F(EngineTest, StereoSoundsKeepTheirOwnSides) {
    std::vector<std::int8_t> st8;
    std::vector<std::int16_t> st16;
    for (int i = 0; i < 2000; ++i) st8.insert(st8.end(), {100, -50});
    for (int i = 0; i < 2000; ++i) st16.insert(st16.end(), {-3000, 7000});
    for (p_s* s : {make_sound8(st8, 44100, 60, true), make_sound16(st16, 44100, 60, true)}) {
        const float scale = s->bits == 8 ? 256.0f : 1.0f;
        set_loop_frames(s, 0, 2000);
        replace_sound(0, s);
        play_sound();
        const auto out = render(256);
        EXPECT_NEAR(out[20], (s->bits == 8 ? 100 : -3000) * scale * unit_gain(0), 1e-5);
        EXPECT_NEAR(out[21], (s->bits == 8 ? -50 : 7000) * scale * unit_gain(1), 1e-5);
        fresh_tables();
    }
}

TEST_F(EngineTest, UnplayableSoundsEndOnTheirFirstBufferAndOthersWhereTheyRunOut) {
    addnote(0, 60, 0, 127, true, 0, 0);  // instrument 0 owns only the empty "None Sample"
    EXPECT_EQ(nlist[0].state(), kVoicePlaying);
    EXPECT_EQ(peak(render(512)), 0.0f);
    EXPECT_EQ(nlist[0].state(), kVoiceFree);
    looped_sound(sine16(440, 44100, 4000), 0);  // no rate
    play_sound();
    EXPECT_EQ(peak(render(512)), 0.0f);
    EXPECT_EQ(nlist[0].state(), kVoiceFree);
    replace_sound(0, make_sound16(level(8000, 700), 44100, 60));
    NOTE_LIST& v = play_sound();
    render(512);
    EXPECT_EQ(v.state(), kVoicePlaying);
    const auto out = render(512);
    EXPECT_EQ(v.state(), kVoiceFree);
    EXPECT_GT(out[2 * 150], 0.0f);
    EXPECT_EQ(peak(out, 2 * 189), 0.0f);
}

// Fields that would index tables or data out of range are kept in bounds;
// the AddressSanitizer and UndefinedBehaviorSanitizer builds check the reads.
TEST_F(EngineTest, InconsistentFieldsNeverReadOutsideTheDataOrTheTables) {
    void (*const spoils[])(p_s*) = {
        [](p_s* s) { s->loop_end = 50000000; },
        [](p_s* s) { s->loop_start = 90000; },
        [](p_s* s) { s->loop = 0, s->size = 0x7FFFFFFF; },
        [](p_s* s) { s->shift = 0; },
        [](p_s* s) { s->shift = 40; },
        [](p_s* s) { s->stereo = 1; },
        [](p_s* s) { s->loop = 0, s->size = 3999; },
        [](p_s* s) { s->bits = 12; },
        [](p_s* s) {
            s->base = -40, ch_pan[0] = 900, ch_pitchsens[0] = INT32_MAX, ch_pitch[0] = 16383;
        },
        [](p_s*) { ch_pitchsens[0] = INT32_MAX, ch_pitch[0] = 0; },
    };
    int i = 0;
    for (auto spoil : spoils) {
        fresh_tables();
        p_s* s = make_sound16(ramp(2000), 44100, 60);
        set_loop_frames(s, 100, 2000);
        spoil(s);
        replace_sound(0, s);
        NOTE_LIST& v = play_sound(300);  // clamped to 127
        v.pos = 1990;
        for (int b = 0; b < 20; ++b) ASSERT_TRUE(all_finite(render(512))) << "case " << i;
        v.frac = std::numeric_limits<float>::quiet_NaN();  // a garbage fraction is ignored
        ASSERT_TRUE(all_finite(render(512))) << "case " << i++;
    }
}

TEST_F(EngineTest, ASoundReplacedWhileItPlaysIsFreedOnlyAfterTheBuffer) {
    looped_sound(sine16(440, 44100, 4000));
    play_sound();
    render(512);
    reclaim::reclaim_all();
    {
        // A reader holding the old record keeps it alive across the replacement.
        reclaim::ReadSection reading;
        p_s* held = t_sound[0];
        replace_sound(0, make_sound16(sine16(880, 44100, 300), 44100, 60));
        EXPECT_EQ(reclaim::reclaim(), 0u);
        EXPECT_EQ(held->size, 8000u);  // still readable
    }
    reclaim::reclaim_all();
    // The playing voice now finds the shorter sound and stays inside it.
    render(2048);
    EXPECT_EQ(nlist[0].state(), kVoiceFree);
}

TEST_F(EngineTest, MonoAndMultichannelDevicesGetTheMixOnTheirFirstChannels) {
    looped_sound(level(16000));
    play_sound();
    const auto quad = render(256, 44100, 256, 4);
    EXPECT_NEAR(quad[4 * 10], 16000 * unit_gain(0), 1e-6);
    EXPECT_NEAR(quad[4 * 10 + 1], 16000 * unit_gain(1), 1e-6);
    EXPECT_EQ(peak(channel(quad, 2, 4)), 0.0f);
    EXPECT_EQ(peak(channel(quad, 3, 4)), 0.0f);
    const auto mono = render(256, 44100, 256, 1);
    EXPECT_NEAR(mono[10], 16000 * 0.5f * (unit_gain(0) + unit_gain(1)), 1e-6);
}
