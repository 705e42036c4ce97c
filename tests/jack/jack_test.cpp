// The JACK client, its audio output and its MIDI input against a private
// server (dummy driver): a MIDI burst larger than the ring, long events among
// channel messages, periods longer than one render call, and parts or the
// whole server going away while a cycle is running.
#include "platform/jack_midi_input.h"
#include "platform/jack_output.h"
#include "support/jack_server.h"
#include "support/testkit.h"

namespace {

using jackkit::JackServer;
using jackkit::Kit;
using jackkit::wait_for;
using testkit::Ramp;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kClient = "Plexora";

// A recorder whose hooks wait while `hold` is set, so that the MIDI thread
// stops reading the ring.
class HeldRecorder : public testkit::MidiRecorder {
  public:
    std::atomic<bool> hold{false}, held{false};

  protected:
    void add(const char* what, int c, int a, int b) override {
        while (hold) held = true, std::this_thread::sleep_for(std::chrono::milliseconds(1));
        MidiRecorder::add(what, c, a, b);
    }
};

// Clears `flag` when it goes out of scope, so that a failed assertion never
// leaves a part's thread waiting on it while the part closes.
struct Clear {
    std::atomic<bool>& flag;
    ~Clear() { flag = false; }
};

class JackTest : public ::testing::Test {
  protected:
    void start(unsigned period, bool reused_name = false) {
        server.reset();
        server = std::make_unique<JackServer>("plexora-jack", period, 48000, reused_name);
        ASSERT_TRUE(server->running) << "jackd did not start; see " << server->log;
        kit = std::make_unique<Kit>();
        ASSERT_NE(kit->client, nullptr);
    }
    std::unique_ptr<JackMidiInput> open_input(MyBMidiPort& port) {
        std::string why;
        auto input = JackMidiInput::open(port, kClient, MyBMidiPort::kName, why);
        EXPECT_NE(input, nullptr) << why;
        EXPECT_TRUE(input && input->connect(kit->keys()));
        return input;
    }
    std::unique_ptr<JackOutput> open_output(AudioGate& gate) {
        std::string why;
        auto output = JackOutput::open(gate, kClient, false, why);
        EXPECT_NE(output, nullptr) << why;
        gate.open();
        EXPECT_TRUE(output && output->start());
        return output;
    }
    void TearDown() override {
        kit.reset();
        server.reset();
    }
    std::unique_ptr<JackServer> server;
    std::unique_ptr<Kit> kit;
};

TEST_F(JackTest, ABurstLargerThanTheMidiRingIsCountedAndWhatFitsArrivesInOrder) {
    ASSERT_NO_FATAL_FAILURE(start(256));
    HeldRecorder port;
    auto input = open_input(port);
    ASSERT_NE(input, nullptr);
    const Clear unhold{port.hold};
    // The MIDI thread takes the first event and stops in the hook: the ring
    // then holds what comes next until it is full.
    port.hold = true;
    kit->send({{0xB0, 7, 1}});
    ASSERT_TRUE(wait_for(10, [&] { return port.held.load(); }));
    const unsigned capacity = static_cast<unsigned>(MidiEventRing().capacity()), extra = 700;
    std::vector<Bytes> burst;
    for (unsigned j = 0; j < capacity + extra; ++j) burst.push_back(testkit::numbered_event(j));
    kit->send(burst);
    ASSERT_TRUE(wait_for(10, [&] { return input->overflows() >= extra; }));
    EXPECT_EQ(kit->sent, 1 + capacity + extra);
    port.hold = false;
    ASSERT_TRUE(wait_for(10, [&] { return input->messages() == 1 + capacity; }));
    kit->pass_cycles(4);
    EXPECT_EQ(input->overflows(), extra);
    EXPECT_EQ(input->messages(), 1 + capacity);
    const std::vector<std::string> calls = port.calls();
    ASSERT_EQ(calls.size(), 1 + capacity);
    EXPECT_EQ(calls[0], "cc 0 7 1");
    for (unsigned j = 0; j < capacity; ++j)
        ASSERT_EQ(calls[1 + j], testkit::numbered_heard(j)) << j;
    EXPECT_EQ(input->skipped(), 0u);
}

TEST_F(JackTest, LongEventsAreSkippedAndTheMessagesAroundThemArriveWhole) {
    ASSERT_NO_FATAL_FAILURE(start(256));
    testkit::MidiRecorder port;
    auto input = open_input(port);
    ASSERT_NE(input, nullptr);
    Bytes dump(300, 0x11);  // a long system exclusive in one event
    dump.front() = 0xF0, dump.back() = 0xF7;
    kit->send({{0x90, 60, 100},
               dump,
               {0xF0, 0x43, 0x10, 0x4C, 0x00},  // the head of a split one, then its pieces
               {0x7F, 0x7F, 0x30},
               {0x41, 0xF7},
               {0xB3, 7, 90},
               {0x0A, 0x40},
               {0xE1, 0, 64}});
    ASSERT_TRUE(wait_for(10, [&] { return input->messages() + input->skipped() == 8; }));
    EXPECT_EQ(input->skipped(), 2u);
    EXPECT_EQ(port.calls(), (std::vector<std::string>{"on 0 60 100", "cc 3 7 90", "bend 1 0 64"}));
    EXPECT_EQ(input->overflows(), 0u);
}

TEST_F(JackTest, PeriodsLongerThanOneRenderCallAreWrittenWhole) {
    ASSERT_NO_FATAL_FAILURE(start(2048));
    Ramp ramp;
    AudioGate gate(&Ramp::proc, &ramp);
    auto output = open_output(gate);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(output->buffer_frames(), 2048u);
    ASSERT_TRUE(kit->listen(output->client_name()));
    EXPECT_TRUE(wait_for(10, [&] { return kit->whole_2048 >= 8; }));
    // The server changes its period while the output plays.
    ASSERT_EQ(jack_set_buffer_size(kit->client, 4096), 0);
    EXPECT_TRUE(wait_for(10, [&] { return kit->whole_4096 >= 8; }));
    EXPECT_EQ(output->buffer_frames(), 4096u);
    EXPECT_EQ(kit->broken, 0u);
    EXPECT_EQ(ramp.largest, JackOutput::kChunk);
    gate.close();
}

TEST_F(JackTest, APartClosedWhileACycleRunsWaitsForItAndIsNeverCalledAgain) {
    ASSERT_NO_FATAL_FAILURE(start(256));
    kit->flood = true;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        Ramp ramp;
        AudioGate gate(&Ramp::proc, &ramp);
        testkit::MidiRecorder port;
        std::unique_ptr<JackMidiInput> input = open_input(port);
        std::unique_ptr<JackOutput> output = open_output(gate);
        ASSERT_TRUE(input && output);
        const Clear unstall{ramp.stall};
        ASSERT_TRUE(wait_for(10, [&] { return ramp.calls > 2 && !port.calls().empty(); }));
        // Stop the cycle inside the render callback, then close one part.
        ramp.stall = true;
        ASSERT_TRUE(wait_for(10, [&] { return ramp.stalled.load(); }));
        const bool output_first = round % 2 == 0;
        std::atomic<bool> closed{false};
        std::thread closer([&] {
            (output_first ? static_cast<void>(output.reset()) : input.reset());
            closed = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_FALSE(closed) << "closed while the cycle was still inside it";
        ramp.stall = false;
        closer.join();
        const unsigned calls = ramp.calls;
        const std::size_t heard = port.calls().size();
        EXPECT_TRUE(kit->pass_cycles(4));
        if (output_first) {
            EXPECT_EQ(ramp.calls, calls);
            EXPECT_EQ(ramp.inside, 0);
        } else {
            EXPECT_EQ(port.calls().size(), heard);
            EXPECT_GT(ramp.calls, calls);  // the output plays on alone
        }
        input.reset();
        output.reset();
    }
}

TEST_F(JackTest, TheServerGoingAwayDuringACycleLeavesPartsThatCloseCleanly) {
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        ASSERT_NO_FATAL_FAILURE(start(256, true));
        kit->flood = true;
        Ramp ramp;
        AudioGate gate(&Ramp::proc, &ramp);
        testkit::MidiRecorder port;
        std::unique_ptr<JackMidiInput> input = open_input(port);
        std::unique_ptr<JackOutput> output = open_output(gate);
        ASSERT_TRUE(input && output);
        const Clear unstall{ramp.stall};
        const std::string keys = kit->keys();
        ASSERT_TRUE(wait_for(10, [&] { return ramp.calls > 2 && !port.calls().empty(); }));
        ramp.stall = true;
        ASSERT_TRUE(wait_for(10, [&] { return ramp.stalled.load(); }));
        ASSERT_TRUE(server->stop(signal));
        ramp.stall = false;
        // The parts notice and make no more calls on the client.
        EXPECT_TRUE(wait_for(10, [&] { return !output->start(); }));
        EXPECT_TRUE(input->sources().empty());
        EXPECT_FALSE(input->connect(keys));
        input.reset();
        output.reset();
        EXPECT_EQ(ramp.inside, 0);
        kit.reset();
        std::string why;
        EXPECT_EQ(JackOutput::open(gate, kClient, false, why), nullptr);
        EXPECT_EQ(why, "no server running");
        server.reset();
    }
}

}  // namespace
