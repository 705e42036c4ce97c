#include <cmath>
#include <vector>

#include "engine/voices.h"
#include "render/song_player.h"
#include "support/smf_writer.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

constexpr float kRate = 44100.0f;

// Instrument 0: a steady level (so a note's first frame is plain to see).
// Instrument 1: a 440 Hz sine at base key 69. Both loop; releases last 0.5 s.
class SongRenderTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        p_s* level = make_sound16(std::vector<std::int16_t>(4410, 12000), 44100, 60);
        set_loop_frames(level, 0, 4410);
        replace_sound(0, level);
        p_s* sine = make_sound16(sine16(440.0, 44100, 44100), 44100, 69);
        set_loop_frames(sine, 0, 44100);
        replace_sound(1, sine);
        nb_sound = 2;
        nb_inst = 2;
        t_inst[1] = 1;
        t_invert[1] = 1;
        fmodei = false;  // channels play their programs
    }

    std::vector<float> render(const std::vector<std::uint8_t>& file, SongRenderStats& stats,
                              std::size_t buffer = 512) {
        SmfSong song;
        std::string error;
        EXPECT_TRUE(read_smf(file.data(), file.size(), song, error)) << error;
        std::vector<float> out;
        SongRenderOptions options;
        options.rate = kRate;
        options.buffer_frames = buffer;
        EXPECT_TRUE(render_song(
            song, options,
            [&](const float* p, std::size_t frames) {
                out.insert(out.end(), p, p + 2 * frames);
                return true;
            },
            stats));
        return out;
    }
};

std::size_t first_sound_frame(const std::vector<float>& out, std::size_t from = 0) {
    for (std::size_t f = from; f < out.size() / 2; ++f) {
        if (out[2 * f] != 0.0f || out[2 * f + 1] != 0.0f) return f;
    }
    return SIZE_MAX;
}

}  // namespace

TEST_F(SongRenderTest, NotesStartOnTheirExactFrameWhateverTheBufferSize) {
    // 480 ticks a quarter at 120 beats a minute: tick 287 is 0.298958... s.
    SmfTrack t;
    t.event(287, {0x90, 60, 100}).event(480, {0x80, 60, 0}).end();
    const auto file = smf_file(0, 480, {t});
    const auto expected = static_cast<std::size_t>(std::llround(287.0 / 960.0 * kRate));
    for (std::size_t buffer : {512u, 100u, 4096u}) {
        SongRenderStats stats;
        const auto out = render(file, stats, buffer);
        EXPECT_EQ(first_sound_frame(out), expected) << "buffer " << buffer;
        EXPECT_EQ(stats.max_voices, 1);
    }
}

TEST_F(SongRenderTest, PitchSilenceAndReleaseAreWhereTheSongPutsThem) {
    SmfTrack t;
    t.event(0, {0xC0, 1})             // program 1: the sine
        .event(480, {0x90, 81, 127})  // 0.5 s: A5, an octave above the sample
        .event(960, {0x80, 81, 64})   // 1.5 s: release (0.5 s long)
        .end();
    SongRenderStats stats;
    const auto out = render(smf_file(0, 480, {t}), stats);
    const auto on = static_cast<std::size_t>(0.5 * kRate);
    const auto off = static_cast<std::size_t>(1.5 * kRate);
    const auto left = channel(out, 0);
    EXPECT_EQ(peak(left, 0, on), 0.0f);
    std::vector<float> held(left.begin() + on + 1000, left.begin() + off);
    EXPECT_NEAR(zero_crossing_hz(held, kRate), 880.0, 880.0 * 0.002);
    // The release fades: each twentieth of a second quieter than the one before.
    // It lasts half a second of the sample, which plays at twice its speed here.
    double previous = rms(left, off - 2205, off);
    for (int k = 0; k < 4; ++k) {
        const double now = rms(left, off + k * 2205, off + (k + 1) * 2205);
        EXPECT_LT(now, previous) << k;
        previous = now;
    }
    // The voice ends with its release: rendering stops soon after, not after 10 s.
    EXPECT_EQ(active_voices(), 0);
    EXPECT_NEAR(static_cast<double>(stats.frames), 1.75 * kRate, 1024);
    EXPECT_LT(peak(left, stats.frames - 512, stats.frames), 0.01f);
}

TEST_F(SongRenderTest, ProgramChangesSwitchInstrumentsAndLockedChannelsKeepTheirs) {
    SmfTrack t;
    t.event(0, {0x90, 69, 100})  // instrument 0: steady level
        .event(240, {0x80, 69, 0})
        .event(0, {0xC0, 1})
        .event(240, {0x90, 69, 100})  // instrument 1: the sine
        .event(240, {0x80, 69, 0})
        .end();
    SongRenderStats stats;
    auto left = channel(render(smf_file(0, 480, {t}), stats), 0);
    const auto q = static_cast<std::size_t>(0.25 * kRate);
    // A steady level has no zero crossings; the sine has 440 a second.
    EXPECT_EQ(zero_crossing_hz({left.begin() + 100, left.begin() + q}, kRate), 0.0);
    EXPECT_NEAR(zero_crossing_hz({left.begin() + 2 * q + 100, left.begin() + 3 * q}, kRate), 440.0,
                2.0);

    fresh_tables();
    SetUp();
    ch_instf[0] = true;  // the channel's program is locked
    left = channel(render(smf_file(0, 480, {t}), stats), 0);
    EXPECT_EQ(zero_crossing_hz({left.begin() + 2 * q + 100, left.begin() + 3 * q}, kRate), 0.0);
}

TEST_F(SongRenderTest, ControllersAndBendsActAsLiveMidiDoes) {
    SmfTrack t;
    t.event(0, {0xC0, 1})
        .event(0, {0xB0, 7, 64})       // main volume to half
        .event(0, {0xE0, 0x7F, 0x7F})  // full bend up: two semitones
        .event(0, {0x90, 69, 127})
        .event(480, {0x80, 69, 0})
        .end();
    SongRenderStats stats;
    const auto left = channel(render(smf_file(0, 480, {t}), stats), 0);
    std::vector<float> held(left.begin() + 1000, left.begin() + 20000);
    EXPECT_NEAR(zero_crossing_hz(held, kRate), 440.0 * std::pow(2.0, 2.0 * 8191 / 8192 / 12), 1.0);
    // 0.8 full scale at velocity 127, volume 64/128, the left pan gain, and the final /4.
    EXPECT_NEAR(peak(held), 0.8f * 127.0f / 128.0f * 64.0f / 128.0f * tab_pan[64] / 4.0f, 0.01f);
    EXPECT_EQ(ch_main[0], 64);
}

TEST_F(SongRenderTest, TheTailStopsAfterTenSecondsWhenVoicesNeverEnd) {
    t_sound[1]->flags = 0;  // no release curve: a released looping voice plays on
    SmfTrack t;
    t.event(0, {0xC0, 1}).event(0, {0x90, 69, 100}).event(96, {0x80, 69, 0}).end();
    SongRenderStats stats;
    SmfSong song;
    std::string error;
    const auto file = smf_file(0, 96, {t});
    ASSERT_TRUE(read_smf(file.data(), file.size(), song, error));
    SongRenderOptions options;
    options.rate = kRate;
    std::size_t pieces = 0;
    ASSERT_TRUE(render_song(
        song, options, [&](const float*, std::size_t) { return ++pieces > 0; }, stats));
    EXPECT_EQ(stats.frames, static_cast<std::uint64_t>(0.5 * kRate + 10 * kRate));
    EXPECT_EQ(active_voices(), 1);
    // A sink that refuses more stops the render.
    EXPECT_FALSE(render_song(
        song, options, [](const float*, std::size_t) { return false; }, stats));
}
