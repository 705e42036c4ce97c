// The parts of the JACK output and MIDI input that run without a server: the
// ring between the server's cycle and the MIDI thread, and the filling of a
// period of any length from the render gate.
#include "platform/jack_midi_input.h"
#include "platform/jack_output.h"
#include "platform/timed_midi.h"
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

// Notes heard as "key@frame", the frame being how far the ramp had rendered.
struct FrameNotes : MyBMidiPort {
    explicit FrameNotes(const testkit::Ramp& r) : ramp(r) {}
    void NoteOn(std::uint8_t, std::uint8_t key, std::uint8_t, std::int64_t) override {
        heard.push_back(std::to_string(key) + "@" + std::to_string(int(ramp.next) - 1));
    }
    const testkit::Ramp& ramp;
    V heard;
};

// The gate renders up to each queued message's frame and applies it there:
// by the server's frame time across the chunks of a long period, and by the
// steady clock one period after the message came. Messages not yet due wait
// for the next call; a closed gate hands what is left to the port at once.
TEST(TimedMidi, MessagesSplitThePeriodAtTheirFrames) {
    testkit::Ramp ramp;
    FrameNotes port(ramp);
    TimedMidiQueue queue;
    AudioGate gate(&testkit::Ramp::proc, &ramp);
    gate.take_midi(&queue, &port);
    gate.open();
    EXPECT_TRUE(queue.taken());
    const auto note = [&](std::uint8_t key, std::int64_t when, bool frame_time) {
        const std::uint8_t on[3] = {0x90, key, 100};
        ASSERT_TRUE(queue.push(on, 3, when, frame_time));
    };
    // A 3000-frame JACK period starting at frame time 10000, in chunks.
    for (std::int64_t at : {9990, 10000, 10001, 11023, 11024, 12999}) note(at % 100, at, true);
    note(99, 13000, true);  // the next period's first frame
    std::vector<float> mix(2 * JackOutput::kChunk), left(3000), right(3000);
    OutputClock jack;
    jack.frame_time = 10000;
    jack.has_frame_time = true;
    jack.period = 3000;
    JackOutput::fill(gate, mix.data(), left.data(), right.data(), 3000, 48000.0f, jack);
    EXPECT_EQ(port.heard, (V{"90@0", "0@0", "1@1", "23@1023", "24@1024", "99@2999"}));
    for (unsigned i = 0; i < 3000; ++i) ASSERT_EQ(left[i], float(i + 1)) << i;
    // By the steady clock (256 frames at 48 kHz): a message that came 2.5 ms
    // before the period was asked for plays 120 frames before its end; one
    // older than a period, at once.
    port.heard.clear();
    std::vector<float> out(512);
    const OutputClock steady = clock_now(256);
    note(7, steady.period_ns - 2'500'000 - 5'333'333, false);
    note(8, steady.period_ns - 2'500'000, false);
    note(9, steady.period_ns - 60'000'000, false);
    gate.render(out.data(), 256, 48000.0f, steady);
    EXPECT_EQ(port.heard, (V{"99@3000", "7@3000", "8@3136", "9@3136"}));
    note(60, 0, false);
    gate.close();
    EXPECT_FALSE(queue.taken());
    EXPECT_EQ(port.heard.back(), "60@3256");
    EXPECT_EQ(queue.front(), nullptr);
}

}  // namespace
