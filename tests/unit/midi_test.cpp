#include <climits>

#include "core/sound.h"
#include "engine/channels.h"
#include "engine/voice_table.h"
#include "engine/voices.h"
#include "midi/midi_port.h"
#include "support/testkit.h"

using testkit::EngineTest;

namespace {

class MidiTest : public EngineTest {
  protected:
    MyBMidiPort port;
    void select_rpn(std::uint8_t ch, std::uint8_t msb, std::uint8_t lsb) {
        port.ControlChange(ch, 101, msb);
        port.ControlChange(ch, 100, lsb);
    }
};

}  // namespace

TEST_F(MidiTest, EndpointIsNamedForTheMidiRoster) {
    EXPECT_STREQ(port.Name(), "Plexora node (in)");
}

TEST_F(MidiTest, NotesPlayTheSelectedInstrumentOrTheChannelProgram) {
    nb_inst = 3;
    t_inst[1] = 0;
    t_inst[2] = 0;
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
}

TEST_F(MidiTest, NoteOnWithVelocityZeroIsANoteOffAndOffersNoVelocity) {
    midimess_to_func[1] = kSrcVelocity;  // main volume follows note velocity
    port.NoteOn(2, 60, 90);
    EXPECT_EQ(ch_main[2], 90);
    port.NoteOn(2, 60, 0);
    EXPECT_EQ(nlist[0].release(), 256u);
    EXPECT_EQ(ch_main[2], 90);
}

TEST_F(MidiTest, DefaultBindingsDriveVolumeBendAndPan) {
    port.ControlChange(2, 7, 100);
    EXPECT_EQ(ch_main[2], 100);
    EXPECT_EQ(ch_main[3], 127);
    port.PitchBend(2, 0, 64);
    EXPECT_EQ(ch_pitch[2], 8192);
    port.PitchBend(2, 127, 127);
    EXPECT_EQ(ch_pitch[2], 16383);
    port.ControlChange(2, 10, 5);
    EXPECT_EQ(ch_pan[2], 5);
    port.ControlChange(2, 64, 127);  // sustain and unknown controllers do nothing
    port.ControlChange(2, 1, 127);   // modulation is bound to nothing by default
    EXPECT_EQ(ch_main[2], 100);
    EXPECT_EQ(ch_pan[2], 5);
    EXPECT_EQ(ch_pitch[2], 16383);
}

TEST_F(MidiTest, RebindingChangesWhichMessageDrivesEachParameter) {
    midimess_to_func[0] = kSrcMainVolume;  // pitch now follows controller 7
    port.ControlChange(0, 7, 127);
    EXPECT_EQ(ch_pitch[0], 16256);
    EXPECT_EQ(ch_main[0], 127);  // the lower slot wins; volume follows nothing now

    midimess_to_func[0] = kSrcPitchBend;
    midimess_to_func[1] = kSrcMainVolume;
    midimess_to_func[2] = kSrcMainVolume;
    port.ControlChange(0, 7, 20);
    EXPECT_EQ(ch_main[0], 20);
    EXPECT_EQ(ch_pan[0], 64);
    port.ControlChange(0, 10, 99);
    EXPECT_EQ(ch_pan[0], 64);

    midimess_to_func[3] = kSrcPitchBend + 100;  // no slot bound to the bend any more...
    midimess_to_func[0] = kSrcModulation;
    port.PitchBend(0, 0, 0);
    EXPECT_EQ(ch_pitch[0], 16256);
    port.ControlChange(0, 1, 3);
    EXPECT_EQ(ch_pitch[0], 384);
}

TEST_F(MidiTest, RegisteredParameterZeroSetsTheBendRange) {
    select_rpn(5, 0, 0);
    port.ControlChange(5, 6, 12);
    EXPECT_EQ(ch_pitchsens[5], 1736);  // (200 AND 0xFF) + 12 * 128
    port.ControlChange(5, 38, 0);
    EXPECT_EQ(ch_pitchsens[5], 1536);
    port.ControlChange(5, 96, 0);
    EXPECT_EQ(ch_pitchsens[5], 1537);
    ch_pitchsens[5] = 0;
    port.ControlChange(5, 97, 0);
    EXPECT_EQ(ch_pitchsens[5], 0);
    ch_pitchsens[5] = INT_MAX;  // increments stop where the table ends
    port.ControlChange(5, 96, 0);
    EXPECT_EQ(ch_pitchsens[5], INT_MAX);
}

TEST_F(MidiTest, RegisteredParameterTwoTunesThroughItsBinding) {
    select_rpn(1, 0, 2);
    port.ControlChange(1, 38, 70);
    EXPECT_EQ(ch_ctune[1], 70);
    port.ControlChange(1, 96, 0);
    EXPECT_EQ(ch_ctune[1], 71);
    port.ControlChange(1, 6, 100);  // an upper part leaves the tuning alone
    EXPECT_EQ(ch_ctune[1], 71);
    ch_ctune[1] = 127;
    port.ControlChange(1, 96, 0);
    EXPECT_EQ(ch_ctune[1], 127);
    port.ControlChange(1, 97, 0);
    EXPECT_EQ(ch_ctune[1], 126);
    EXPECT_EQ(ch_pitchsens[1], 200);
}

TEST_F(MidiTest, OtherRegisteredParametersIgnoreDataEntry) {
    select_rpn(3, 0, 5);
    EXPECT_EQ(ch_register[3], 5);
    for (std::uint8_t cc : {6, 38, 96, 97}) port.ControlChange(3, cc, 9);
    EXPECT_EQ(ch_pitchsens[3], 200);
    EXPECT_EQ(ch_ctune[3], 64);
    // The null parameter (127, 127) selects neither range nor tuning.
    select_rpn(3, 127, 127);
    port.ControlChange(3, 6, 9);
    port.ControlChange(3, 38, 9);
    EXPECT_EQ(ch_pitchsens[3], 200);
    EXPECT_EQ(ch_ctune[3], 64);
}

TEST_F(MidiTest, PitchIncrementsStopAtTheTop) {
    midimess_to_func[0] = kSrcCoarseTune;
    midimess_to_func[3] = kSrcPan;
    select_rpn(0, 0, 2);
    ch_pitch[0] = 16382;
    port.ControlChange(0, 96, 0);
    EXPECT_EQ(ch_pitch[0], 16383);
    port.ControlChange(0, 96, 0);
    EXPECT_EQ(ch_pitch[0], 16383);
    port.ControlChange(0, 6, 5);  // the upper part keeps the low byte of the pitch
    EXPECT_EQ(ch_pitch[0], (16383 & 0xFF) + ((5 * 128 + 0x8000) & 0x7F));
}

TEST_F(MidiTest, ProgramChangesRespectTheInstrumentCountAndTheLock) {
    nb_inst = 4;
    port.ProgramChange(6, 3);
    EXPECT_EQ(ch_inst[6], 3);
    port.ProgramChange(6, 4);
    EXPECT_EQ(ch_inst[6], 3);
    ch_instf[6] = true;
    port.ProgramChange(6, 1);
    EXPECT_EQ(ch_inst[6], 3);
}

TEST_F(MidiTest, AllNotesOffReleasesOnlyItsChannel) {
    port.NoteOn(0, 60, 100);
    port.NoteOn(1, 60, 100);
    port.NoteOn(0, 64, 100);
    port.ControlChange(0, 123, 0);
    EXPECT_EQ(nlist[0].release(), 256u + 127u);
    EXPECT_EQ(nlist[1].release(), 0u);
    EXPECT_EQ(nlist[2].release(), 256u + 127u);
    port.ControlChange(9, 123, 0);  // nothing plays there
    port.AllNotesOff(false);        // does nothing
    EXPECT_EQ(nlist[1].release(), 0u);
    EXPECT_EQ(active_voices(), 3);
}

TEST_F(MidiTest, MessagesOnChannelsBeyondSixteenAreIgnored) {
    port.NoteOn(16, 60, 100);
    port.ControlChange(200, 7, 1);
    port.PitchBend(16, 0, 0);
    port.ProgramChange(17, 0);
    EXPECT_EQ(active_voices(), 0);
    midi_func(5 * 128, kSrcMainVolume, 0);
    midi_func(5 * 128, kSrcMainVolume, 17);
    for (int c = 0; c < kChannels; ++c) EXPECT_EQ(ch_main[c], 127);
}
