// The MIDI input endpoint "Plexora node (in)" and the list of MIDI sources
// it can be connected to, through the ALSA sequencer or, where there is no
// sequencer, JACK MIDI (a port of the program's JACK client "Plexora", which
// the audio output shares). Incoming bytes go through a byte parser into the
// hooks of a MyBMidiPort. Without any MIDI service the endpoint is simply
// unavailable and the program runs without MIDI input.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/midi_bytes.h"
#include "platform/midi_roster.h"

class JackMidiInput;
class MyBMidiPort;
class RtMidiIn;
class TimedMidiQueue;

enum class MidiBackend { kNone, kAlsaSeq, kJack };

// Any thread. "ALSA sequencer", "JACK MIDI" or "none".
const char* midi_backend_name(MidiBackend backend);

// Any thread. The ID of a source from its full port name.
std::uint32_t midi_source_id(const std::string& port_name);

class MidiEndpoint : public MidiRoster {
  public:
    // GUI thread, after environment::prepare(). Registers the endpoint with
    // the first MIDI service of `order` that answers; `port` receives the
    // messages, through `queue` with their time stamps while an output takes it.
    explicit MidiEndpoint(MyBMidiPort& port,
                          std::vector<MidiBackend> order = {MidiBackend::kAlsaSeq,
                                                            MidiBackend::kJack},
                          TimedMidiQueue* queue = nullptr);
    // GUI thread. Disconnects and releases the endpoint.
    ~MidiEndpoint() override;
    MidiEndpoint(const MidiEndpoint&) = delete;
    MidiEndpoint& operator=(const MidiEndpoint&) = delete;

    // GUI thread.
    bool available() const { return in_ != nullptr || jack_ != nullptr; }
    // Any thread. False once the service under the endpoint has gone.
    bool alive() const;
    MidiBackend backend() const { return backend_; }
    // One line per MIDI service tried, saying why it was not taken.
    const std::string& report() const { return report_; }

    // GUI thread. The sources present now, in the service's order.
    std::vector<MidiSourceInfo> sources() override;
    // GUI thread. Connects the first source listed; false when there is none.
    bool connect_first();
    // GUI thread. Connects the source with this ID instead of the current one.
    bool connect(std::uint32_t id) override;
    // GUI thread. Disconnects the current source; the endpoint stays.
    void disconnect() override;
    // GUI thread. The connected source (ID 0 and an empty name when none).
    std::uint32_t connected_id() const override { return connected_id_; }
    const std::string& connected_name() const override { return connected_name_; }

    // Any thread. Messages parsed since the endpoint opened.
    std::uint64_t messages() const;

  private:
    static void on_message(double stamp, std::vector<unsigned char>* bytes, void* self);
    std::string port_name(unsigned index);
    bool open_source(unsigned index, const std::string& name);
    void keep_endpoint();
    bool open_jack(MyBMidiPort& port);

    MyBMidiPort& port_;
    TimedMidiQueue* queue_ = nullptr;
    std::unique_ptr<RtMidiIn> in_;
    std::unique_ptr<JackMidiInput> jack_;
    MidiBackend backend_ = MidiBackend::kNone;
    std::string report_;
    MidiByteParser parser_;  // MIDI thread only
    std::atomic<bool> reset_parser_{false};
    std::atomic<std::uint64_t> messages_{0};
    std::uint32_t connected_id_ = 0;
    std::string connected_name_;
};
