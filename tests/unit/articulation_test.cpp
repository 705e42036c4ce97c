// Banks played as their makers set them: what the import keeps of the
// generators, and what a note then sounds like, measured on the render.
#include "core/articulation.h"

#include <cmath>

#include "engine/voice_table.h"
#include "engine/voices.h"
#include "io/bank_import.h"
#include "io/input_bytes.h"
#include "midi/midi_port.h"
#include "support/file_builders.h"
#include "support/testkit.h"

using files::Bytes;
using files::SfGen;

namespace {

constexpr float kRate = 44100.0f;
SfGen gen(int oper, int amount) {
    return {static_cast<std::uint16_t>(oper), static_cast<std::uint16_t>(amount)};
}
enum : int { kDecay = 36, kSustain = 37, kRelease = 38, kVelRange = 44, kAtten = 48 };
enum : int { kCoarse = 51, kFine = 52, kModes = 54, kExclusive = 57 };

double db(double x) {
    return 20.0 * std::log10(std::max(x, 1e-12));
}

class AsSet : public testkit::AsSetTest {
  protected:
    MyBMidiPort port;
    // A bank of one sample (a sine of 441 Hz at 22050 Hz, or a constant)
    // played at its rate by key 60, with `zones` over it, looping.
    static Bytes bank(std::vector<std::vector<SfGen>> zones, bool dc = false,
                      std::vector<files::SfPreset> presets = {}) {
        files::SfSample s{"tone", testkit::sine16(441, 22050, 2205, 0.5)};
        if (dc) s.points.assign(2205, 16384);
        s.loop_start = 100, s.loop_end = 2200;
        for (auto& z : zones) z.insert(z.end(), {gen(kModes, 1), files::sample_id(0)});
        return files::sf_bank({s}, {{"inst", zones}}, presets);
    }
    // RMS in dB of the left channel between two times in seconds.
    static double level(const std::vector<float>& out, double from, double to) {
        const auto left = testkit::channel(out, 0);
        return db(testkit::rms(left, std::size_t(from * kRate), std::size_t(to * kRate)));
    }
};

}  // namespace

TEST_F(AsSet, GeneratorsOfPresetAndInstrumentLevelsAddUpAndLayersAreAllKept) {
    // A global zone sets the decay; two velocity layers; the preset adds an
    // octave and narrows the velocities.
    const Bytes b = files::sf_bank(
        {{"tone", testkit::sine16(441, 22050, 2205), 100, 2200}},
        {{"inst",
          {{gen(kDecay, -1200), gen(kAtten, 100)},
           {gen(kVelRange, 0 | 63 << 8), gen(kModes, 3), gen(kExclusive, 4), files::sample_id(0)},
           {gen(kVelRange, 64 | 127 << 8), gen(kFine, -30), gen(kAtten, 50),
            files::sample_id(0)}}}},
        {{"preset",
          0,
          0,
          {{gen(kCoarse, 12), gen(kVelRange, 20 | 100 << 8), gen(kAtten, 10),
            files::instrument(0)}}}});
    ASSERT_EQ(import(b), 2);
    const p_s* soft = t_sound[0];
    const p_s* loud = t_sound[1];
    EXPECT_EQ(
        std::tuple(int(soft->vel_lo), int(soft->vel_hi), int(loud->vel_lo), int(loud->vel_hi)),
        std::tuple(20, 63, 64, 100));
    EXPECT_EQ(std::tuple(soft->art.tune, soft->art.attenuation, soft->art.decay,
                         int(soft->art.sample_mode), int(soft->art.exclusive_class)),
              std::tuple(1200, 110, -1200, int(kLoopUntilRelease), 4));
    EXPECT_EQ(std::tuple(loud->art.tune, loud->art.attenuation, int(loud->art.sample_mode)),
              std::tuple(1170, 60, int(kNoLoop)));
    EXPECT_EQ(int(loud->loop), 0);  // a zone whose sample mode does not loop plays once

    // The plain way keeps none of it.
    play_as_set = false;
    ASSERT_EQ(import(b), 2);
    EXPECT_FALSE(t_sound[0].load()->art.on);
    EXPECT_EQ(int(t_sound[1].load()->loop), 1);
}

TEST_F(AsSet, VelocityChoosesTheLayerAndTuningMovesThePitch) {
    ASSERT_EQ(import(bank({{gen(kVelRange, 0 | 63 << 8), gen(kCoarse, 12)},
                           {gen(kVelRange, 64 | 127 << 8), gen(kFine, 50)}})),
              2);
    for (const auto& [velocity, hz] :
         {std::pair{40, 882.0}, std::pair{100, 441.0 * std::exp2(0.5 / 12)}}) {
        reset_voice_table();
        port.NoteOn(0, 60, static_cast<std::uint8_t>(velocity));
        EXPECT_EQ(active_voices(), 1);
        const auto left = testkit::channel(testkit::render(22050, kRate), 0);
        EXPECT_NEAR(testkit::zero_crossing_hz({left.begin() + 2000, left.end()}, kRate), hz,
                    hz * 1e-3)
            << velocity;
    }
}

TEST_F(AsSet, EnvelopeRunsInTimeAndGlidesWithoutSteps) {
    // Decay over 1 s for the whole range to a sustain 19.2 dB down, a release
    // of 1 s for the whole range; a constant sample shows the gain frame by frame.
    ASSERT_EQ(import(bank({{gen(kDecay, 0), gen(kSustain, 200), gen(kRelease, 0)}}, true)), 1);
    port.NoteOn(0, 60, 127);
    const auto out = testkit::render(std::size_t(2.2 * kRate), kRate, 512, 2, [&](int k) {
        if (k == int(1.0 * kRate / 512)) port.NoteOff(0, 60, 0);
    });
    const auto left = testkit::channel(out, 0);
    // At the peak: 0.5 of full scale, 14 dB down, centred (cos 45 degrees).
    const double peak = db(0.5 * 0.2 * std::cos(M_PI / 4));
    // Delay, attack and hold take 2^-10 s each, then the decay falls 96 dB a second.
    EXPECT_NEAR(db(std::fabs(left[std::size_t(0.1 * kRate)])),
                peak - 96 * (0.1 - 3 * std::exp2(-10)), 0.1);
    EXPECT_NEAR(db(std::fabs(left[std::size_t(0.6 * kRate)])), peak - 19.2, 0.2);
    const double released_at = int(1.0 * kRate / 512) * 512 / kRate;
    EXPECT_NEAR(db(std::fabs(left[std::size_t((released_at + 0.4) * kRate)])), peak - 57.6, 0.5);
    EXPECT_EQ(testkit::peak(left, std::size_t((released_at + 0.85) * kRate)), 0.0f);
    EXPECT_EQ(active_voices(), 0);
    double worst = 0;
    for (std::size_t i = 200; i + 1 < left.size() && std::fabs(left[i + 1]) > 1e-5f; ++i)
        worst = std::max(worst, std::fabs(db(std::fabs(left[i + 1])) - db(std::fabs(left[i]))));
    EXPECT_LT(worst, 0.1);
}

TEST_F(AsSet, VelocityVolumeAndExpressionFollowConcaveCurves) {
    ASSERT_EQ(import(bank({{}})), 1);
    const auto note_level = [&](std::uint8_t velocity, std::uint8_t volume, std::uint8_t expr) {
        reset_voice_table();
        port.ControlChange(0, 7, volume);
        port.ControlChange(0, 11, expr);
        port.NoteOn(0, 60, velocity);
        return level(testkit::render(8820, kRate), 0.1, 0.2);
    };
    const double full = note_level(127, 127, 127);
    EXPECT_NEAR(full, db(0.5 * 0.2 * std::cos(M_PI / 4) / std::sqrt(2.0)), 0.1);
    EXPECT_NEAR(note_level(20, 127, 127) - full, -40 * std::log10(127.0 / 20), 0.1);
    EXPECT_NEAR(note_level(127, 32, 127) - full, -40 * std::log10(127.0 / 32), 0.1);
    EXPECT_NEAR(note_level(127, 127, 64) - full, -40 * std::log10(127.0 / 64), 0.1);
}

TEST_F(AsSet, PedalExclusiveClassAllSoundOffAndPanAct) {
    ASSERT_EQ(import(bank({{files::key_range(0, 59), gen(kExclusive, 1)},
                           {files::key_range(60, 127), gen(kExclusive, 1)}})),
              2);
    // The pedal holds a released note until it lifts.
    port.ControlChange(0, 64, 127);
    port.NoteOn(0, 60, 100);
    port.NoteOff(0, 60, 0);
    EXPECT_GT(level(testkit::render(22050, kRate), 0.4, 0.5), -40.0);
    play_as_set = false;  // switched off while the pedal is down: lifting it still lets go
    port.ControlChange(0, 64, 0);
    play_as_set = true;
    testkit::render(std::size_t(kRate), kRate);
    EXPECT_EQ(active_voices(), 0);

    // A note of the same exclusive class cuts the first.
    port.NoteOn(0, 50, 100);
    testkit::render(4410, kRate);
    port.NoteOn(0, 60, 100);
    testkit::render(std::size_t(kRate), kRate);
    EXPECT_EQ(active_voices(), 1);
    // All sound off: silent within 10 ms, without a click.
    port.ControlChange(0, 120, 0);
    const auto left = testkit::channel(testkit::render(4410, kRate), 0);
    EXPECT_EQ(testkit::peak(left, 450), 0.0f);
    EXPECT_EQ(active_voices(), 0);

    // MIDI pan 0 is left.
    port.ControlChange(0, 10, 0);
    port.NoteOn(0, 60, 100);
    const auto out = testkit::render(4410, kRate);
    EXPECT_GT(testkit::rms(testkit::channel(out, 0)), 30 * testkit::rms(testkit::channel(out, 1)));
}

TEST_F(AsSet, DrumChannelProgramsChooseTheBanksKits) {
    const Bytes b = bank({{}}, false,
                         {{"Piano", 0, 0, {{files::instrument(0)}}},
                          {"Standard", 0, 128, {{files::instrument(0)}}},
                          {"Brush", 40, 128, {{files::instrument(0)}}}});
    ASSERT_GT(import(b), 0);
    EXPECT_EQ(ch_inst[9], 128);
    port.ProgramChange(9, 40);
    EXPECT_EQ(ch_inst[9], 129);
    port.ProgramChange(9, 7);  // a kit the bank does not have: the standard one
    EXPECT_EQ(ch_inst[9], 128);
}

TEST_F(AsSet, BankModulatorsReplaceTheVelocityCurveAndMoveTheFilter) {
    // One zone a 4410 Hz tone low-passed at about 262 Hz (6000 cents), with
    // two modulators: velocity onto the level on half the default's depth,
    // and velocity opening the filter by up to 7000 cents.
    files::SfChunks k =
        files::sf_chunks({{"tone", testkit::sine16(4410, 22050, 2205, 0.5), 100, 2200}},
                         {{"inst", {{gen(8, 6000), gen(kModes, 1), files::sample_id(0)}}}});
    Bytes mods;
    for (const auto& [source, dest, amount] : {std::tuple{0x0502, 48, 480}, {0x0002, 8, 7000}})
        for (const int v : {source, dest, amount, 0, 0}) files::le(mods, std::uint16_t(v), 2);
    mods.resize(mods.size() + 10, 0);  // the terminal record
    k.c["imod"] = mods;
    k.c["ibag"][6] = 2;  // the zone holds both: its end is the terminal record's start
    ASSERT_EQ(import(files::assemble(k)), 1);
    const auto note_level = [&](std::uint8_t velocity) {
        reset_voice_table();
        port.NoteOn(0, 60, velocity);
        return level(testkit::render(8820, kRate), 0.1, 0.2);
    };
    const double loud = note_level(127), soft = note_level(20);
    // Open at velocity 127 (12945 cents, about 15 kHz): the tone passes
    // (less the linear interpolation's loss at a fifth of the sample's rate).
    EXPECT_NEAR(loud, db(0.5 * 0.2 * std::cos(M_PI / 4) / std::sqrt(2.0)), 1.5);
    // At velocity 20: 20 log10(127/20) dB down from the curve, and the
    // filter, now at 490 Hz (7094 cents), takes 40 log10(4410/490) dB more
    // off the tone (the default curve would give 32 dB, not 16).
    EXPECT_NEAR(soft - loud, -20 * std::log10(127.0 / 20) - 40 * std::log10(4410.0 / 490), 2.0);
}

TEST_F(AsSet, ANoteFindingEveryVoiceTakenTakesTheOldestReleasedNote) {
    ASSERT_EQ(import(bank({{}})), 1);
    for (int key = 0; key < 128; ++key) port.NoteOn(0, std::uint8_t(key), 100);
    ASSERT_EQ(active_voices(), 128);
    port.NoteOff(0, 90, 0);
    port.NoteOff(0, 30, 0);  // the older of the two released notes: its voice goes
    port.NoteOn(1, 60, 100);
    EXPECT_EQ(active_voices(), 128);
    int keys_90 = 0, keys_30 = 0, channel_1 = 0;
    for (const NOTE_LIST& v : nlist) {
        if (!v.playing()) continue;
        keys_90 += v.channel == 0 && v.key == 90;
        keys_30 += v.channel == 0 && v.key == 30;
        channel_1 += v.channel == 1;
    }
    EXPECT_EQ(std::tuple(keys_90, keys_30, channel_1), std::tuple(1, 0, 1));
}

TEST_F(AsSet, AShortLoopKeepsItsPitchAtAnyStep) {
    // One cycle of 441 Hz at 22050 Hz looped: 50 points, played a fifth up
    // (a step of 0.749 frames), so every lap ends between two frames.
    files::SfSample s{"cycle", testkit::sine16(441, 22050, 400, 0.5)};
    s.loop_start = 200, s.loop_end = 250;
    ASSERT_EQ(import(files::sf_bank({s}, {{"inst", {{gen(kModes, 1), files::sample_id(0)}}}})), 1);
    port.NoteOn(0, 67, 100);
    const auto left = testkit::channel(testkit::render(44100, kRate), 0);
    const double hz = 441.0 * std::exp2(7.0 / 12);
    EXPECT_NEAR(testkit::zero_crossing_hz({left.begin() + 4410, left.end()}, kRate), hz, hz * 1e-3);
}
