// What mute, the low-pass filter and the modulation wheel do to the sound.

#include "engine/channel_stage.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

constexpr float kRate = 44100.0f;
constexpr std::size_t kBuf = 512;

// A sine of `hz` in sound `slot`, played by itself at its own pitch on `channel`.
void play_sine(int slot, double hz, std::uint32_t channel, std::uint32_t seconds = 3) {
    p_s* s = make_sound16(sine16(hz, 44100, 44100 * seconds), 44100, 60);
    replace_sound(slot, s);
    addnote(channel, 60, std::uint32_t(slot), 127, false, 0, 0);
}

// Renders `buffers` buffers, calling `before(k)` ahead of buffer k.
std::vector<float> render_with(int buffers, const std::function<void(int)>& before = {}) {
    return render(buffers * kBuf, kRate, kBuf, 2, before);
}

// On fresh tables, sines of (Hz, channel) in sounds 0, 1, ... rendered for
// `buffers` buffers.
std::vector<float> tones(std::initializer_list<std::pair<double, std::uint32_t>> sines, int buffers,
                         const std::function<void(int)>& before = {}) {
    fresh_tables();
    int slot = 0;
    for (const auto& [hz, ch] : sines) play_sine(slot++, hz, ch);
    return render_with(buffers, before);
}

float largest_step(const std::vector<float>& mono) {
    float m = 0.0f;
    for (std::size_t i = 1; i < mono.size(); ++i) m = std::max(m, std::fabs(mono[i] - mono[i - 1]));
    return m;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b, std::size_t from) {
    return a.size() == b.size() &&
           std::memcmp(a.data() + from, b.data() + from, (a.size() - from) * sizeof(float)) == 0;
}

}  // namespace

TEST_F(EngineTest, MutedChannelIsSilentWhileItsVoicesRunOn) {
    const std::vector<float> both = tones({{440.0, 0}, {660.0, 1}}, 20);
    const std::vector<float> alone = tones({{440.0, 0}}, 20);

    // Muted from buffer 2 to 9: one buffer fades out, then only channel 1's
    // partner is heard, to the bit; unmuted, the note goes on where it is.
    const std::vector<float> muted = tones({{440.0, 0}, {660.0, 1}}, 20, [](int k) {
        if (k == 2) mute[1] = true;
        if (k == 10) mute[1] = false;
    });
    const std::size_t b = 2 * kBuf;
    EXPECT_EQ(std::memcmp(muted.data() + 3 * b, alone.data() + 3 * b, 7 * b * sizeof(float)), 0);
    EXPECT_TRUE(same_bits(muted, both, 11 * b));
    EXPECT_EQ(active_voices(), 2);
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_LE(largest_step(channel(muted, ch)), largest_step(channel(both, ch)) * 1.01f);
    }
}

TEST_F(EngineTest, FilterStepsDoNotClickAndAnOpenedFilterLeavesNoTrace) {
    const std::vector<float> open = tones({{1000.0, 3}, {300.0, 4}}, 16);
    // Closed, moved and opened again: after the buffer that glides it open,
    // nothing is left of the filter.
    const std::vector<float> stepped = tones({{1000.0, 3}, {300.0, 4}}, 16, [](int k) {
        if (k == 2) ch_lpf[3] = 127;
        if (k == 5) ch_lpf[3] = 20;
        if (k == 8) ch_lpf[3] = 0;
    });
    EXPECT_FALSE(same_bits(open, stepped, 0));
    EXPECT_TRUE(same_bits(open, stepped, 9 * 2 * kBuf));
    // A click would be a step many times the tones' own; a moving filter may
    // add a trace (here well under 1%) to the largest one.
    EXPECT_LE(largest_step(channel(stepped, 0)), largest_step(channel(open, 0)) * 1.01f);
}

TEST_F(EngineTest, ClosedFilterCutsHighsAndPassesLows) {
    // Tone, and the least and most its level may change when the filter closes.
    for (const auto& [hz, min_db, max_db] :
         {std::tuple{5000.0, -200.0, -30.0}, {50.0, -1.0, 1.0}}) {
        double level[2];  // open, shut: past the filter's settling
        for (int lpf : {0, 127}) {
            fresh_tables();
            play_sine(0, hz, 0);
            ch_lpf[0] = lpf;
            level[lpf > 0] = rms(channel(render_with(60), 0), 20 * kBuf);
        }
        const double gain = 20.0 * std::log10(level[1] / level[0]);
        EXPECT_GE(gain, min_db) << hz;
        EXPECT_LE(gain, max_db) << hz;
    }
    EXPECT_NEAR(lpf_cutoff(1), 20000.0f, 1.0f);
    EXPECT_NEAR(lpf_cutoff(127), 100.0f, 0.1f);
}

TEST_F(EngineTest, ManyFilteredChannelsEachKeepTheirOwnFilter) {
    // Nine channels, each its own tone, filter and pan: together they must
    // sound as the sum of each played alone.
    const auto setup = [](int only) {
        fresh_tables();
        for (int c = 0; c < 9; ++c) {
            ch_lpf[c] = 30 + 10 * c;
            ch_pan[c] = 10 * c;
            ch_main[c] = 30;  // nine together stay clear of the clip
            if (only < 0 || only == c) play_sine(c, 200.0 + 150.0 * c, std::uint32_t(c), 1);
        }
    };
    setup(-1);
    const std::vector<float> all = render_with(12);
    std::vector<double> sum(all.size(), 0.0);
    for (int c = 0; c < 9; ++c) {
        setup(c);
        const std::vector<float> one = render_with(12);
        for (std::size_t i = 0; i < one.size(); ++i) sum[i] += one[i];
    }
    for (std::size_t i = 0; i < all.size(); ++i) ASSERT_NEAR(all[i], sum[i], 1e-5) << i;
}

TEST_F(EngineTest, ModulationWheelIsAVibratoOfHalfASemitone) {
    MyBMidiPort port;
    play_sine(0, 440.0, 2);
    port.ControlChange(2, 1, 127);  // slot 4 answers the wheel from the start
    ASSERT_EQ(ch_mod[2], 127);
    const std::vector<float> left = channel(render_with(int(2 * kRate / kBuf)), 0);
    // The frequency of each period of the tone, from its rising zero crossings.
    const std::vector<double> crossings = rising_crossings(left);
    double low = 1e9, high = 0.0;
    int swings = 0;
    bool above = false;
    for (std::size_t i = 1; i < crossings.size(); ++i) {
        const double hz = kRate / (crossings[i] - crossings[i - 1]);
        low = std::min(low, hz);
        high = std::max(high, hz);
        if (!above && hz > 446.0) {
            above = true;
            ++swings;
        }
        if (above && hz < 434.0) above = false;
    }
    EXPECT_NEAR(high - 440.0, 12.8, 1.5);
    EXPECT_NEAR(440.0 - low, 12.5, 1.5);
    EXPECT_NEAR(swings, 11, 1);  // 5.5 Hz over two seconds

    // Back at 0, the tone is steady again.
    port.ControlChange(2, 1, 0);
    render_with(1);
    const std::vector<float> still = channel(render_with(20), 0);
    EXPECT_NEAR(zero_crossing_hz(still, kRate), 440.0, 0.2);
}
