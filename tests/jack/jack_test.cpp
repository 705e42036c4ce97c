// The JACK client, its audio output and its MIDI input against a private
// server (dummy driver): periods longer than one render call, and parts or
// the whole server going away while a cycle is running. The MIDI ring's
// overflow and long events are tested without a server (jack_parts_test).
#include "platform/jack_midi_input.h"
#include "platform/jack_output.h"
#include "support/jack_server.h"
#include "support/testkit.h"

namespace {

using jackkit::JackServer;
using jackkit::Kit;
using jackkit::wait_for;
using testkit::Ramp;

constexpr const char* kClient = "Plexora";

// Clears `flag` when it goes out of scope.
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
    // Both parts on the kit's flood of notes, the cycle held inside the render
    // callback once sound and MIDI flow. `unstall` goes first, so a failed
    // assertion never leaves a part's thread held while the part closes.
    struct Held {
        Ramp ramp;
        AudioGate gate{&Ramp::proc, &ramp};
        testkit::MidiRecorder port;
        std::unique_ptr<JackMidiInput> input;
        std::unique_ptr<JackOutput> output;
        Clear unstall{ramp.stall};
    };
    void hold_a_cycle(Held& h) {
        kit->flood = true;
        h.input = open_input(h.port);
        h.output = open_output(h.gate);
        ASSERT_TRUE(h.input && h.output);
        ASSERT_TRUE(wait_for(10, [&] { return h.ramp.calls > 2 && !h.port.calls().empty(); }));
        h.ramp.stall = true;
        ASSERT_TRUE(wait_for(10, [&] { return h.ramp.stalled.load(); }));
    }
    void TearDown() override {
        kit.reset();
        server.reset();
    }
    std::unique_ptr<JackServer> server;
    std::unique_ptr<Kit> kit;
};

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
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        Held h;
        // Close one part while the cycle is inside the render callback.
        ASSERT_NO_FATAL_FAILURE(hold_a_cycle(h));
        auto& [ramp, gate, port, input, output, unstall] = h;
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
        EXPECT_TRUE(wait_for(10, [&, until = kit->cycles + 4] { return kit->cycles >= until; }));
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
        Held h;
        const std::string keys = kit->keys();
        ASSERT_NO_FATAL_FAILURE(hold_a_cycle(h));
        auto& [ramp, gate, port, input, output, unstall] = h;
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
