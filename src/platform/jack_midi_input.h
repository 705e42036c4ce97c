// The MIDI input endpoint as a JACK MIDI port of the program's client. The
// server's cycle copies incoming events into a lock-free ring and, only when
// it queued something, wakes the MIDI thread, which feeds the byte parser and
// so the endpoint's hooks.
#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/midi_bytes.h"
#include "platform/jack_client.h"

class MyBMidiPort;
class TimedMidiQueue;

// The queue from the server's cycle to the MIDI thread. Each event takes one
// record of the same size, so a full ring drops whole events, never part of
// one. Only events of one to three bytes (the channel messages and the short
// system ones) are queued; longer ones (system exclusive, or a piece of one
// that a bridge split) are of no use to the parser and are skipped.
class MidiEventRing {
  public:
    // GUI thread.
    MidiEventRing();
    // GUI thread, once neither the cycle nor the MIDI thread can reach the ring.
    ~MidiEventRing();
    MidiEventRing(const MidiEventRing&) = delete;
    MidiEventRing& operator=(const MidiEventRing&) = delete;
    // Any thread. False when the memory for the ring was not to be had.
    bool ok() const { return ring_ != nullptr; }
    // Any thread. Events the ring holds when nothing has been taken out.
    std::size_t capacity() const { return capacity_; }

    // Audio thread. Queues one event; false when it was skipped or the ring was full.
    bool push(const std::uint8_t* bytes, std::size_t size) noexcept;
    // MIDI thread. Hands every queued event, oldest first, to `port` through
    // `parser`; returns how many.
    std::size_t deliver(MidiByteParser& parser, MyBMidiPort& port);

    // Any thread. Events dropped because the ring was full, and events
    // skipped for their length.
    std::uint64_t overflows() const { return overflows_.load(std::memory_order_relaxed); }
    std::uint64_t skipped() const { return skipped_.load(std::memory_order_relaxed); }

  private:
    struct Event {
        std::uint8_t size;
        std::uint8_t bytes[3];
    };
    static constexpr std::size_t kEvents = 4096;

    jack_ringbuffer_t* ring_ = nullptr;
    std::size_t capacity_ = 0;
    std::atomic<std::uint64_t> overflows_{0};
    std::atomic<std::uint64_t> skipped_{0};
};

class JackMidiInput : private JackClient::Part {
  public:
    // GUI thread. Registers the input port `port_name` on the client
    // `client_name` (shared with the audio output) and starts the MIDI
    // thread; null when no server answers, with the reason in `why`. While
    // an output takes `queue`, the cycle queues its messages there at their
    // frames instead.
    static std::unique_ptr<JackMidiInput> open(MyBMidiPort& port, const std::string& client_name,
                                               const char* port_name, std::string& why,
                                               TimedMidiQueue* queue = nullptr);
    // GUI thread. Stops the MIDI thread and unregisters the port.
    ~JackMidiInput() override;
    JackMidiInput(const JackMidiInput&) = delete;
    JackMidiInput& operator=(const JackMidiInput&) = delete;

    // Any thread. False once the server has gone.
    bool alive() const { return client_->alive(); }
    // GUI thread. Full names of the server's MIDI outputs, in its order.
    std::vector<std::string> sources();
    // GUI thread. Links the output `source` to the input; false when it cannot.
    bool connect(const std::string& source);
    // GUI thread. Unlinks the output `source` from the input.
    void disconnect(const std::string& source);

    // Any thread. Events handed to the parser so far; events dropped because
    // the ring was full; events skipped because they were too long to be
    // channel messages.
    std::uint64_t messages() const { return messages_.load(std::memory_order_relaxed); }
    std::uint64_t overflows() const { return ring_.overflows(); }
    std::uint64_t skipped() const { return ring_.skipped(); }

  private:
    JackMidiInput(MyBMidiPort& port, std::shared_ptr<JackClient> client);
    void process(jack_nframes_t frames) noexcept override;
    void run();

    MyBMidiPort& port_;
    TimedMidiQueue* queue_ = nullptr;
    std::shared_ptr<JackClient> client_;
    jack_port_t* input_ = nullptr;
    MidiEventRing ring_;
    sem_t queued_;
    std::atomic<bool> quit_{false};
    std::thread thread_;
    MidiByteParser parser_;  // MIDI thread only
    std::atomic<std::uint64_t> messages_{0};
};
