
#include "render/song_player.h"
#include "support/testkit.h"

using namespace testkit;
using files::SmfTrack;

namespace {

constexpr float kRate = 44100.0f;

// Instrument 0: a steady level (so a note's first frame is plain to see).
// Instrument 1: a 440 Hz sine at base key 69. Both loop; releases last 0.5 s.
class SongRenderTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        looped_sound(std::vector<std::int16_t>(4410, 12000), 44100, 60, 0);
        looped_sound(sine16(440.0, 44100, 44100), 44100, 69, 1);
        nb_sound = nb_inst = 2;
        t_inst[1] = t_invert[1] = 1;
        fmodei = false;  // channels play their programs
    }
    // The left output of the song in `tracks` (format 0 or 1 by their number),
    // rendered into a sink that takes every buffer, or refuses the first one.
    std::vector<float> render(const std::vector<SmfTrack>& tracks, std::size_t buffer = 512,
                              std::uint16_t division = 480, bool take = true) {
        const files::Bytes file = files::smf_file(tracks.size() > 1, division, tracks);
        SmfSong song;
        std::string error;
        EXPECT_TRUE(read_smf(file.data(), file.size(), song, error)) << error;
        std::vector<float> out;
        const auto sink = [&](const float* p, std::size_t frames) {
            out.insert(out.end(), p, p + 2 * frames);
            return take;
        };
        EXPECT_EQ(render_song(song, {.rate = kRate, .buffer_frames = buffer}, sink, stats), take);
        return channel(out, 0);
    }
    SongRenderStats stats;
};

double hz(const std::vector<float>& v, std::size_t from, std::size_t to) {
    return zero_crossing_hz({v.begin() + static_cast<std::ptrdiff_t>(from),
                             v.begin() + static_cast<std::ptrdiff_t>(to)},
                            kRate);
}

}  // namespace

TEST_F(SongRenderTest, NotesStartOnTheirExactFrameWhateverTheBufferSize) {
    // 480 ticks a quarter at 120 beats a minute: tick 287 is 0.298958... s.
    SmfTrack t;
    t.event(287, {0x90, 60, 100}).event(480, {0x80, 60, 0}).end();
    for (std::size_t buffer : {512u, 100u, 4096u}) {
        const auto left = render({t}, buffer);
        std::size_t first = 0;
        while (first < left.size() && left[first] == 0.0f) ++first;
        EXPECT_EQ(first, static_cast<std::size_t>(std::llround(287.0 / 960.0 * kRate))) << buffer;
        EXPECT_EQ(stats.max_voices, 1);
    }
}

TEST_F(SongRenderTest, PitchSilenceAndReleaseAreWhereTheSongPutsThem) {
    SmfTrack t;
    t.event(0, {0xC0, 1})             // program 1: the sine
        .event(480, {0x90, 81, 127})  // 0.5 s: A5, an octave above the sample
        .event(960, {0x80, 81, 64})   // 1.5 s: release (0.5 s long)
        .end();
    const auto left = render({t});
    const auto on = static_cast<std::size_t>(0.5 * kRate),
               off = static_cast<std::size_t>(1.5 * kRate);
    EXPECT_EQ(peak(left, 0, on), 0.0f);
    EXPECT_NEAR(hz(left, on + 1000, off), 880.0, 880.0 * 0.002);
    // The note-off starts the release (its fade is the render tests' concern),
    // which lasts half a second of the sample, played at twice its speed here:
    // the voice ends with it, and rendering stops soon after, not after 10 s.
    EXPECT_EQ(active_voices(), 0);
    EXPECT_NEAR(static_cast<double>(stats.frames), 1.75 * kRate, 1024);
    EXPECT_LT(peak(left, stats.frames - 512, stats.frames), 0.01f);
}

TEST_F(SongRenderTest, ProgramChangesSwitchInstruments) {
    SmfTrack t;
    t.event(0, {0x90, 69, 100})  // instrument 0: steady level, no zero crossings
        .event(240, {0x80, 69, 0})
        .event(0, {0xC0, 1})
        .event(240, {0x90, 69, 100})  // instrument 1: the sine
        .event(240, {0x80, 69, 0})
        .end();
    const auto q = static_cast<std::size_t>(0.25 * kRate);
    const auto left = render({t});
    EXPECT_EQ(hz(left, 100, q), 0.0);
    EXPECT_NEAR(hz(left, 2 * q + 100, 3 * q), 440.0, 2.0);
}

TEST_F(SongRenderTest, ControllersAndBendsActAsLiveMidiDoes) {
    SmfTrack t;
    t.event(0, {0xC0, 1})
        .event(0, {0xB0, 7, 64})       // main volume to half
        .event(0, {0xE0, 0x7F, 0x7F})  // full bend up: two semitones
        .event(0, {0x90, 69, 127})
        .event(480, {0x80, 69, 0})
        .end();
    const auto left = render({t});
    EXPECT_NEAR(hz(left, 1000, 20000), 440.0 * std::pow(2.0, 2.0 * 8191 / 8192 / 12), 1.0);
    // 0.8 full scale at velocity 127, volume 64/128, the centre's left pan gain, and the final /4.
    EXPECT_NEAR(peak(left, 1000, 20000), 0.8 * 127 / 128 * 64 / 128 * std::sin(M_PI / 4) / 4, 0.01);
}

TEST_F(SongRenderTest, TheTailStopsAfterTenSecondsWhenVoicesNeverEndAndARefusingSinkStops) {
    t_sound[1]->flags = 0;  // no release curve: a looping voice plays on
    SmfTrack held;          // a note the song never lets go of
    held.event(0, {0xC0, 1}).event(0, {0x90, 69, 100}).end(96);
    render({held}, 512, 96);
    EXPECT_EQ(stats.frames, static_cast<std::uint64_t>(0.5 * kRate + 10 * kRate));
    EXPECT_EQ(active_voices(), 1);
    // Released, it ends by the bound, within the tail.
    silence_all(true);
    SmfTrack t;
    t.event(0, {0xC0, 1}).event(0, {0x90, 69, 100}).event(96, {0x80, 69, 0}).end();
    render({t}, 512, 96);
    EXPECT_LE(stats.frames, static_cast<std::uint64_t>((0.5 + kReleaseBoundSeconds) * kRate));
    EXPECT_EQ(active_voices(), 0);
    render({t}, 512, 96, false);
}
