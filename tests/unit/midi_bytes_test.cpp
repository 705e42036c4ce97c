#include "midi/midi_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/midi_port.h"
#include "support/testkit.h"

namespace {

// Records the hooks the parser calls, as short text.
class Recorder : public MyBMidiPort {
  public:
    std::vector<std::string> calls;

    void NoteOn(std::uint8_t c, std::uint8_t n, std::uint8_t v, std::int64_t) override {
        add("on", c, n, v);
    }
    void NoteOff(std::uint8_t c, std::uint8_t n, std::uint8_t v, std::int64_t) override {
        add("off", c, n, v);
    }
    void ControlChange(std::uint8_t c, std::uint8_t n, std::uint8_t v, std::int64_t) override {
        add("cc", c, n, v);
    }
    void PitchBend(std::uint8_t c, std::uint8_t l, std::uint8_t m, std::int64_t) override {
        add("bend", c, l, m);
    }
    void ProgramChange(std::uint8_t c, std::uint8_t p, std::int64_t) override {
        add("prog", c, p, -1);
    }

  private:
    void add(const char* what, int c, int a, int b) {
        std::string s = std::string(what) + " " + std::to_string(c) + " " + std::to_string(a);
        if (b >= 0) s += " " + std::to_string(b);
        calls.push_back(s);
    }
};

std::vector<std::string> parse(std::vector<std::uint8_t> bytes) {
    Recorder r;
    MidiByteParser p;
    p.feed(bytes.data(), bytes.size(), r);
    return r.calls;
}

using V = std::vector<std::string>;

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
    EXPECT_TRUE(r.calls.empty());
    p.feed(c, 2, r);
    EXPECT_EQ(r.calls, (V{"on 10 60 100"}));
    p.reset();
    const std::uint8_t d[] = {100, 62, 5};
    p.feed(d, 3, r);  // neither the half message nor the running status survive
    EXPECT_EQ(r.calls.size(), 1u);
}

class MidiBytesIntoEngine : public testkit::EngineTest {};

TEST_F(MidiBytesIntoEngine, ControllerAndBendChangeTheChannelTables) {
    MyBMidiPort port;
    MidiByteParser p;
    // Controller 7 = 100 on channel 3, then a centred bend under running status.
    const std::uint8_t bytes[] = {0xB2, 7, 100, 0xE2, 0, 64, 0x7F, 0x7F};
    p.feed(bytes, sizeof bytes, port);
    EXPECT_EQ(ch_main[2], 100);
    EXPECT_EQ(ch_pitch[2], 16383);
}

}  // namespace
