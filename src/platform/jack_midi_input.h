// The MIDI input endpoint as a JACK MIDI port of the program's client. The
// server's cycle copies incoming events into a lock-free ring and, only when
// it queued something, wakes the MIDI thread, which feeds the byte parser and
// so the endpoint's hooks.
#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/midi_bytes.h"
#include "platform/jack_client.h"

class MyBMidiPort;

class JackMidiInput : private JackClient::Part {
  public:
    // GUI thread. Registers the input port `port_name` on the client
    // `client_name` (shared with the audio output) and starts the MIDI
    // thread; null when no server answers, with the reason in `why`.
    static std::unique_ptr<JackMidiInput> open(MyBMidiPort& port, const std::string& client_name,
                                               const char* port_name, std::string& why);
    // GUI thread. Stops the MIDI thread and unregisters the port.
    ~JackMidiInput() override;
    JackMidiInput(const JackMidiInput&) = delete;
    JackMidiInput& operator=(const JackMidiInput&) = delete;

    // GUI thread. Full names of the server's MIDI outputs, in its order.
    std::vector<std::string> sources();
    // GUI thread. Links the output `source` to the input; false when it cannot.
    bool connect(const std::string& source);
    // GUI thread. Unlinks the output `source` from the input.
    void disconnect(const std::string& source);

    // Any thread. Messages handed to the parser so far, and events dropped
    // because the ring was full or they were too long to be channel messages.
    std::uint64_t messages() const { return messages_.load(std::memory_order_relaxed); }
    std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

  private:
    JackMidiInput(MyBMidiPort& port, std::shared_ptr<JackClient> client);
    void process(jack_nframes_t frames) noexcept override;
    void run();

    // One event in the ring: its length, then up to three bytes. Longer
    // events (system exclusive) are of no use to the parser and are dropped.
    struct Event {
        std::uint8_t size;
        std::uint8_t bytes[3];
    };
    static constexpr std::size_t kRingEvents = 4096;

    MyBMidiPort& port_;
    std::shared_ptr<JackClient> client_;
    jack_port_t* input_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;
    sem_t queued_;
    std::atomic<bool> quit_{false};
    std::thread thread_;
    MidiByteParser parser_;  // MIDI thread only
    std::atomic<std::uint64_t> messages_{0};
    std::atomic<std::uint64_t> dropped_{0};
};
