#include "platform/midi_endpoint.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>

#include "core/reclaim.h"
#include "midi/midi_port.h"
#include "platform/jack_midi_input.h"
#include "platform/timed_midi.h"

MidiRoster* midi_roster = nullptr;

namespace {

// Only the sequencer goes through the MIDI library; JACK MIDI is a port of
// the audio output's own client.
RtMidi::Api api_of(MidiBackend b) {
    return b == MidiBackend::kAlsaSeq ? RtMidi::LINUX_ALSA : RtMidi::UNSPECIFIED;
}

// The sequencer client carries the program's name; under JACK the input is
// a port of the client the audio output shares.
constexpr const char* kClientName = "Plexora";

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    while (!text.empty() && (text.front() == '\n' || text.front() == ' ')) text.erase(0, 1);
    return text;
}

}  // namespace

const char* midi_backend_name(MidiBackend backend) {
    switch (backend) {
        case MidiBackend::kAlsaSeq:
            return "ALSA sequencer";
        case MidiBackend::kJack:
            return "JACK MIDI";
        default:
            return "none";
    }
}

std::uint32_t midi_source_id(const std::string& port_name) {
    // FNV-1a; 0 is kept for "no source".
    std::uint32_t h = 2166136261u;
    for (unsigned char c : port_name) {
        h ^= c;
        h *= 16777619u;
    }
    return h ? h : 1;
}

MidiEndpoint::MidiEndpoint(MyBMidiPort& port, std::vector<MidiBackend> order, TimedMidiQueue* queue)
    : port_(port), queue_(queue) {
    for (MidiBackend b : order) {
        if (b == MidiBackend::kJack) {
            if (open_jack(port)) return;
            continue;
        }
        const RtMidi::Api api = api_of(b);
        std::vector<RtMidi::Api> apis;
        RtMidi::getCompiledApi(apis);
        if (api == RtMidi::UNSPECIFIED || std::find(apis.begin(), apis.end(), api) == apis.end()) {
            report_ += std::string(midi_backend_name(b)) + ": not built into the MIDI library\n";
            continue;
        }
        try {
            auto in = std::make_unique<RtMidiIn>(api, kClientName);
            if (in->getCurrentApi() != api) {
                report_ += std::string(midi_backend_name(b)) + ": not available\n";
                continue;
            }
            in->ignoreTypes(true, true, true);
            in->setCallback(&MidiEndpoint::on_message, this);
            in->openVirtualPort(MyBMidiPort::kName);
            in_ = std::move(in);
            backend_ = b;
            report_ += std::string(midi_backend_name(b)) + ": opened\n";
            return;
        } catch (const RtMidiError& e) {
            report_ += std::string(midi_backend_name(b)) + ": " + trimmed(e.getMessage()) + "\n";
        }
    }
    report_ += "no MIDI service: running without MIDI input\n";
}

bool MidiEndpoint::open_jack(MyBMidiPort& port) {
    std::string why;
    jack_ = JackMidiInput::open(port, kClientName, MyBMidiPort::kName, why, queue_);
    const char* name = midi_backend_name(MidiBackend::kJack);
    if (!jack_) {
        report_ += std::string(name) + ": " + why + "\n";
        return false;
    }
    backend_ = MidiBackend::kJack;
    report_ += std::string(name) + ": opened\n";
    return true;
}

bool MidiEndpoint::alive() const {
    return !jack_ || jack_->alive();
}

std::uint64_t MidiEndpoint::messages() const {
    return messages_.load(std::memory_order_relaxed) + (jack_ ? jack_->messages() : 0);
}

MidiEndpoint::~MidiEndpoint() {
    jack_.reset();
    if (!in_) return;
    try {
        in_->cancelCallback();
        in_->closePort();
    } catch (const RtMidiError&) {
    }
    in_.reset();
}

std::string MidiEndpoint::port_name(unsigned index) {
    try {
        return in_->getPortName(index);
    } catch (const RtMidiError&) {
        return {};
    }
}

std::vector<MidiSourceInfo> MidiEndpoint::sources() {
    std::vector<MidiSourceInfo> list;
    if (jack_) {
        for (std::string& name : jack_->sources()) {
            const std::uint32_t id = midi_source_id(name);
            list.push_back({id, std::move(name)});
        }
        return list;
    }
    if (!in_) return list;
    unsigned count = 0;
    try {
        count = in_->getPortCount();
    } catch (const RtMidiError&) {
        return list;
    }
    for (unsigned i = 0; i < count; ++i) {
        std::string name = port_name(i);
        if (name.empty()) continue;
        list.push_back({midi_source_id(name), name});
    }
    return list;
}

bool MidiEndpoint::connect_first() {
    const std::vector<MidiSourceInfo> list = sources();
    return !list.empty() && connect(list.front().id);
}

bool MidiEndpoint::connect(std::uint32_t id) {
    if (jack_ && id != 0) {
        for (const MidiSourceInfo& source : sources()) {
            if (source.id != id) continue;
            disconnect();
            if (!jack_->connect(source.name)) return false;
            connected_id_ = id;
            connected_name_ = source.name;
            return true;
        }
        return false;
    }
    if (!in_ || id == 0) return false;
    unsigned count = 0;
    try {
        count = in_->getPortCount();
    } catch (const RtMidiError&) {
        return false;
    }
    for (unsigned i = 0; i < count; ++i) {
        const std::string name = port_name(i);
        if (!name.empty() && midi_source_id(name) == id) return open_source(i, name);
    }
    return false;
}

bool MidiEndpoint::open_source(unsigned index, const std::string& name) {
    disconnect();
    try {
        // Sources come and go: make sure the index still names the same one.
        if (port_name(index) != name) {
            keep_endpoint();
            return false;
        }
        reset_parser_ = true;
        in_->closePort();
        in_->openPort(index, MyBMidiPort::kName);
    } catch (const RtMidiError&) {
        keep_endpoint();
        return false;
    }
    connected_id_ = midi_source_id(name);
    connected_name_ = name;
    return true;
}

void MidiEndpoint::disconnect() {
    if (jack_ && connected_id_ != 0) {
        jack_->disconnect(connected_name_);
        connected_id_ = 0;
        connected_name_.clear();
        return;
    }
    if (!in_ || connected_id_ == 0) return;
    connected_id_ = 0;
    connected_name_.clear();
    try {
        in_->closePort();
    } catch (const RtMidiError&) {
    }
    keep_endpoint();
}

// The endpoint stays visible (and connectable from outside) while no source
// of ours is connected.
void MidiEndpoint::keep_endpoint() {
    try {
        reset_parser_ = true;
        in_->openVirtualPort(MyBMidiPort::kName);
    } catch (const RtMidiError&) {
    }
}

void MidiEndpoint::on_message(double, std::vector<unsigned char>* bytes, void* self) {
    auto* me = static_cast<MidiEndpoint*>(self);
    if (me->reset_parser_.exchange(false, std::memory_order_acquire)) me->parser_.reset();
    if (bytes && !bytes->empty()) {
        // The sequencer delivers whole messages; while an output takes the
        // queue, each plays one period after it came, at its own distance
        // from the one before.
        const std::size_t size = bytes->size();
        if (!(me->queue_ && me->queue_->taken() && size <= 3 &&
              me->queue_->push(bytes->data(), size, steady_ns(), false)))
            me->parser_.feed(bytes->data(), size, me->port_);
        me->messages_.fetch_add(1, std::memory_order_relaxed);
    }
    // The delivery thread belongs to the MIDI library and may end at any
    // disconnection; the reader slot is given back after every message.
    reclaim::release_thread_slot();
}
