// The parts of the JACK output and MIDI input that run without a server: the
// ring between the server's cycle and the MIDI thread, and the filling of a
// period of any length from the render gate.
#include "platform/jack_midi_input.h"
#include "platform/jack_output.h"
#include "support/testkit.h"

namespace {

using V = std::vector<std::string>;

bool push(MidiEventRing& ring, std::vector<std::uint8_t> bytes) {
    return ring.push(bytes.data(), bytes.size());
}

// Event `j` of a numbered stream of channel messages (a note-on, every fifth
// a program change, each telling `j` by its channel and data), and what a
// MidiRecorder hears of it.
std::vector<std::uint8_t> numbered_event(unsigned j) {
    const auto ch = static_cast<std::uint8_t>(j % 16), a = static_cast<std::uint8_t>(j / 16 % 128);
    if (j % 5 == 4) return {static_cast<std::uint8_t>(0xC0 | ch), a};
    return {static_cast<std::uint8_t>(0x90 | ch), a, static_cast<std::uint8_t>(1 + j / 2048 % 127)};
}

std::string numbered_heard(unsigned j) {
    const std::vector<std::uint8_t> e = numbered_event(j);
    const std::string common = std::to_string(e[0] & 15) + " " + std::to_string(e[1]);
    return e.size() == 2 ? "prog " + common : "on " + common + " " + std::to_string(e[2]);
}

TEST(MidiEventRing, AFullRingDropsWholeEventsCountsThemAndKeepsTheRestInOrder) {
    MidiEventRing ring;
    ASSERT_TRUE(ring.ok());
    const unsigned capacity = static_cast<unsigned>(ring.capacity());
    ASSERT_GE(capacity, 4000u);  // a burst of a few thousand events fits
    MidiByteParser parser;
    // Rounds of different lengths, so that the ring wraps at different places.
    for (unsigned round = 0, overflowed = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        const unsigned sent = round % 2 ? capacity + 37 : capacity - 1 - round;
        unsigned taken = 0;
        for (unsigned j = 0; j < sent; ++j) taken += push(ring, numbered_event(j));
        const unsigned kept = std::min(sent, capacity);
        overflowed += sent - kept;
        EXPECT_EQ(taken, kept);
        EXPECT_EQ(ring.overflows(), overflowed);
        testkit::MidiRecorder port;
        ASSERT_EQ(ring.deliver(parser, port), kept);
        const V calls = port.calls();
        ASSERT_EQ(calls.size(), kept);
        for (unsigned j = 0; j < kept; ++j) ASSERT_EQ(calls[j], numbered_heard(j)) << j;
        EXPECT_EQ(ring.deliver(parser, port), 0u);
    }
    EXPECT_EQ(ring.skipped(), 0u);
}

TEST(MidiEventRing, LongEventsAreSkippedAndNoPieceOfOneBecomesANote) {
    MidiEventRing ring;
    MidiByteParser parser;
    testkit::MidiRecorder port;
    EXPECT_TRUE(push(ring, {0x90, 60, 100}));
    EXPECT_FALSE(push(ring, {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));  // whole system exclusive
    EXPECT_FALSE(push(ring, {}));
    // A bridge that splits a long system exclusive passes its pieces as
    // events: a skipped head, then data bytes alone. They must not play as
    // the note-on before them.
    EXPECT_FALSE(push(ring, {0xF0, 0x43, 0x10, 0x4C, 0x00}));
    EXPECT_TRUE(push(ring, {0x7F, 0x7F, 0x30}));
    EXPECT_TRUE(push(ring, {0x41, 0xF7}));
    EXPECT_TRUE(push(ring, {0xB3, 7, 90}));
    EXPECT_TRUE(push(ring, {0x0A, 0x40}));  // data bytes alone after a controller
    EXPECT_TRUE(push(ring, {0xF8}));        // clock
    EXPECT_TRUE(push(ring, {0xE1, 0, 64}));
    EXPECT_EQ(ring.deliver(parser, port), 7u);
    EXPECT_EQ(port.calls(), (V{"on 0 60 100", "cc 3 7 90", "bend 1 0 64"}));
    EXPECT_EQ(ring.skipped(), 3u);
    EXPECT_EQ(ring.overflows(), 0u);
}

TEST(JackOutputPeriod, EveryFrameOfAPeriodOfAnyLengthIsWrittenAndNothingBeyondIt) {
    constexpr float kGuard = 12345.0f;
    constexpr unsigned kChunk = JackOutput::kChunk, kPad = 64;
    for (const unsigned frames : {1u, 255u, 1023u, 1024u, 1025u, 2048u, 4096u, 4097u, 8192u}) {
        SCOPED_TRACE(frames);
        testkit::Ramp ramp;
        AudioGate gate(&testkit::Ramp::proc, &ramp);
        std::vector<float> mix(2 * kChunk + kPad, kGuard), left(frames + kPad, kGuard),
            right(frames + kPad, kGuard);
        for (const bool open : {true, false}) {
            open ? gate.open() : gate.close();
            JackOutput::fill(gate, mix.data(), left.data(), right.data(), frames, 48000.0f);
            for (unsigned i = 0; i < frames; ++i) {
                const float want = open ? static_cast<float>(i + 1) : 0.0f;
                ASSERT_EQ(left[i], want) << i;
                ASSERT_EQ(right[i], -want) << i;
            }
            for (unsigned i = frames; i < frames + kPad; ++i)
                ASSERT_TRUE(left[i] == kGuard && right[i] == kGuard) << i;
            for (unsigned i = 2 * kChunk; i < mix.size(); ++i) ASSERT_EQ(mix[i], kGuard) << i;
        }
        EXPECT_EQ(ramp.calls, (frames + kChunk - 1) / kChunk);
        EXPECT_EQ(ramp.largest, std::min(frames, kChunk));
        EXPECT_FALSE(ramp.bad_format);
    }
}

}  // namespace
