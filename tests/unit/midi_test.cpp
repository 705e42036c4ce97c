#include <climits>

#include "midi/midi_bytes.h"
#include "support/testkit.h"

using testkit::EngineTest;

namespace {

class MidiTest : public EngineTest {
  protected:
    MyBMidiPort port;
    // Sends controller changes (number, value) on channel `ch`.
    void cc(std::uint8_t ch, std::initializer_list<std::pair<std::uint8_t, std::uint8_t>> list) {
        for (const auto& [n, v] : list) port.ControlChange(ch, n, v);
    }
};

using Recorder = testkit::MidiRecorder;

std::vector<std::string> parse(std::vector<std::uint8_t> bytes) {
    Recorder r;
    MidiByteParser p;
    p.feed(bytes.data(), bytes.size(), r);
    return r.calls();
}

using V = std::vector<std::string>;

}  // namespace

TEST_F(MidiTest, NotesPlayTheSelectedInstrumentOrTheChannelProgram) {
    nb_inst = 3;
    t_inst[1] = t_inst[2] = 0;
    t_invert[0] = 2;  // the selected sound belongs to instrument 2
    ch_inst[4] = 1;
    port.NoteOn(4, 60, 100);
    EXPECT_EQ(nlist[0].index, 2u);
    EXPECT_TRUE(nlist[0].is_inst);
    fmodei = false;
    port.NoteOn(4, 61, 100);
    EXPECT_EQ(nlist[1].index, 1u);
    EXPECT_EQ(nlist[1].channel, 4u);
    port.NoteOff(4, 61, 33);
    EXPECT_EQ(nlist[1].release(), 256u + 33u);
    // A note-on of velocity 0 is a note-off and offers no velocity.
    midimess_to_func[1] = kSrcVelocity;  // main volume follows note velocity
    port.NoteOn(2, 60, 90);
    EXPECT_EQ(ch_main[2], 90);
    port.NoteOn(2, 60, 0);
    EXPECT_EQ(nlist[2].release(), 256u);
    EXPECT_EQ(ch_main[2], 90);
}

TEST_F(MidiTest, DefaultBindingsDriveVolumeBendAndPanOnlyAndRebindingChangesThat) {
    cc(2, {{7, 100}, {10, 5}, {64, 127}, {1, 127}});  // sustain and modulation drive nothing
    port.PitchBend(2, 127, 127);
    EXPECT_EQ(ch_main[2], 100);
    EXPECT_EQ(ch_main[3], 127);
    EXPECT_EQ(ch_pan[2], 5);
    EXPECT_EQ(ch_pitch[2], 16383);
    port.PitchBend(2, 0, 64);
    EXPECT_EQ(ch_pitch[2], 8192);
    midimess_to_func[0] = kSrcMainVolume;  // pitch now follows controller 7
    cc(0, {{7, 127}});
    EXPECT_EQ(ch_pitch[0], 16256);
    EXPECT_EQ(ch_main[0], 127);  // the lower slot wins; volume follows nothing now

    midimess_to_func[0] = kSrcPitchBend;
    midimess_to_func[1] = midimess_to_func[2] = kSrcMainVolume;
    cc(0, {{7, 20}, {10, 99}});
    EXPECT_EQ(ch_main[0], 20);
    EXPECT_EQ(ch_pan[0], 64);

    midimess_to_func[3] = kSrcPitchBend + 100;  // no slot bound to the bend any more...
    midimess_to_func[0] = kSrcModulation;
    port.PitchBend(0, 0, 0);
    EXPECT_EQ(ch_pitch[0], 16256);
    cc(0, {{1, 3}});
    EXPECT_EQ(ch_pitch[0], 384);
}

// Registered parameters: 0 sets the bend range (data entry 12 on a range of
// 200: (200 AND 0xFF) + 12 * 128), 2 the tuning through its binding, whose
// upper part data entry leaves alone; others and the null parameter ignore
// data entry; increments stop at the ends of the ranges.
TEST_F(MidiTest, RegisteredParametersSetRangeAndTuning) {
    // The bend range's upper part is semitones and its lower part cents: 12
    // semitones are 1200 hundredths, not 12 x 128.
    const std::tuple<std::uint8_t, std::uint8_t, int, int> steps[] = {
        // controller, value, then the bend range and tuning expected afterwards
        {101, 0, 200, 64},  {100, 0, 200, 64},   {6, 12, 1200, 64},   {38, 0, 1200, 64},
        {96, 0, 1201, 64},  {97, 0, 1200, 64},   {38, 50, 1250, 64},  {6, 3, 350, 64},
        {38, 120, 399, 64}, {100, 2, 399, 64},   {38, 70, 399, 70},   {96, 0, 399, 71},
        {6, 100, 399, 71},  {97, 0, 399, 70},    {100, 5, 399, 70},   {6, 9, 399, 70},
        {96, 9, 399, 70},   {101, 127, 399, 70}, {100, 127, 399, 70}, {38, 9, 399, 70},
    };
    for (const auto& [number, value, sens, tune] : steps) {
        cc(5, {{number, value}});
        ASSERT_EQ(ch_pitchsens[5], sens) << int(number) << " " << int(value);
        ASSERT_EQ(ch_ctune[5], tune) << int(number) << " " << int(value);
    }
    cc(5, {{101, 0}, {100, 0}});
    ch_pitchsens[5] = INT_MAX;
    cc(5, {{96, 0}});
    EXPECT_EQ(ch_pitchsens[5], INT_MAX);
    ch_pitchsens[5] = 0;
    cc(5, {{97, 0}});
    EXPECT_EQ(ch_pitchsens[5], 0);
    cc(5, {{100, 2}});
    ch_ctune[5] = 127;
    cc(5, {{96, 0}});
    EXPECT_EQ(ch_ctune[5], 127);

    // Pitch bound to the tuning parameter: increments stop at the top, and
    // the upper part keeps the low byte of the pitch.
    midimess_to_func[0] = kSrcCoarseTune;
    midimess_to_func[3] = kSrcPan;
    cc(0, {{101, 0}, {100, 2}});
    ch_pitch[0] = 16382;
    cc(0, {{96, 0}, {96, 0}});
    EXPECT_EQ(ch_pitch[0], 16383);
    cc(0, {{6, 5}});
    EXPECT_EQ(ch_pitch[0], (16383 & 0xFF) + ((5 * 128 + 0x8000) & 0x7F));
}

TEST_F(MidiTest, ProgramChangesRespectTheInstrumentCountAndTheLock) {
    nb_inst = 4;
    port.ProgramChange(6, 3);
    port.ProgramChange(6, 4);  // no such instrument
    EXPECT_EQ(ch_inst[6], 3);
    ch_instf[6] = true;
    port.ProgramChange(6, 1);
    EXPECT_EQ(ch_inst[6], 3);
}

TEST_F(MidiTest, AllNotesOffReleasesOnlyItsChannelAndOtherChannelsAreIgnored) {
    port.NoteOn(0, 60, 100);
    port.NoteOn(1, 60, 100);
    port.NoteOn(0, 64, 100);
    cc(0, {{123, 0}});
    cc(9, {{123, 0}});        // nothing plays there
    port.AllNotesOff(false);  // does nothing
    EXPECT_EQ(nlist[0].release(), 256u + 127u);
    EXPECT_EQ(nlist[1].release(), 0u);
    EXPECT_EQ(nlist[2].release(), 256u + 127u);
    // Channels beyond sixteen.
    port.NoteOn(16, 60, 100);
    port.ControlChange(200, 7, 1);
    port.PitchBend(16, 0, 0);
    port.ProgramChange(17, 0);
    midi_func(5 * 128, kSrcMainVolume, 0);
    midi_func(5 * 128, kSrcMainVolume, 17);
    EXPECT_EQ(active_voices(), 3);
    for (int c = 0; c < kChannels; ++c) EXPECT_EQ(ch_main[c], 127);
}

TEST(MidiBytes, ChannelMessagesReachTheirHooks) {
    EXPECT_EQ(parse({0x90, 60, 100, 0x83, 61, 40, 0xB2, 7, 100, 0xC5, 9, 0xEF, 0, 64}),
              (V{"on 0 60 100", "off 3 61 40", "cc 2 7 100", "prog 5 9", "bend 15 0 64"}));
    // A note-on of velocity 0 is passed on as such; the hook releases the note.
    EXPECT_EQ(parse({0x91, 60, 0}), (V{"on 1 60 0"}));
}

TEST(MidiBytes, RunningStatusRepeatsTheLastChannelStatus) {
    EXPECT_EQ(parse({0x90, 60, 100, 62, 90, 64, 0}), (V{"on 0 60 100", "on 0 62 90", "on 0 64 0"}));
    // One-byte messages run too.
    EXPECT_EQ(parse({0xC3, 1, 2, 3}), (V{"prog 3 1", "prog 3 2", "prog 3 3"}));
    // Pressure messages are read, dropped, and keep their running status.
    EXPECT_EQ(parse({0xD0, 40, 41, 42, 0xA1, 60, 10, 61, 11, 0xE1, 0, 64}), (V{"bend 1 0 64"}));
    // Data bytes with no status before them are ignored.
    EXPECT_EQ(parse({60, 100, 0x80, 60, 0}), (V{"off 0 60 0"}));
}

TEST(MidiBytes, SystemBytesNeverBreakChannelMessages) {
    // Real-time bytes may sit inside a message and leave running status alone.
    EXPECT_EQ(parse({0x90, 0xF8, 60, 0xFE, 100, 0xFA, 61, 0xFF, 101}),
              (V{"on 0 60 100", "on 0 61 101"}));
    // System exclusive is skipped whole, whatever its data looks like.
    EXPECT_EQ(parse({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0xB0, 7, 1}), (V{"cc 0 7 1"}));
    // A status byte ends an unterminated system exclusive.
    EXPECT_EQ(parse({0xF0, 1, 2, 0x90, 60, 1}), (V{"on 0 60 1"}));
    // System common messages cancel running status.
    EXPECT_EQ(parse({0x90, 60, 100, 0xF2, 1, 2, 61, 100}), (V{"on 0 60 100"}));
    // A new status in the middle of a message abandons the partial one.
    EXPECT_EQ(parse({0x90, 60, 0xB0, 10, 0}), (V{"cc 0 10 0"}));
}

TEST(MidiBytes, MessagesMayArriveInPiecesAndResetForgetsThem) {
    Recorder r;
    MidiByteParser p;
    const std::uint8_t a[] = {0x9A}, b[] = {60}, c[] = {100, 61};
    p.feed(a, 1, r);
    p.feed(b, 1, r);
    EXPECT_TRUE(r.calls().empty());
    p.feed(c, 2, r);
    EXPECT_EQ(r.calls(), (V{"on 10 60 100"}));
    p.reset();
    const std::uint8_t d[] = {100, 62, 5};
    p.feed(d, 3, r);  // neither the half message nor the running status survive
    EXPECT_EQ(r.calls().size(), 1u);
}
