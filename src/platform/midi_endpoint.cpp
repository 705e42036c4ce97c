#include "platform/midi_endpoint.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>

#include "core/reclaim.h"
#include "midi/midi_port.h"

MidiRoster* midi_roster = nullptr;

namespace {

RtMidi::Api api_of(MidiBackend b) {
    switch (b) {
        case MidiBackend::kAlsaSeq:
            return RtMidi::LINUX_ALSA;
        case MidiBackend::kJack:
            return RtMidi::UNIX_JACK;
        default:
            return RtMidi::UNSPECIFIED;
    }
}

// The sequencer client carries the program's name. Under JACK the audio
// output already owns the client name "Plexora", so MIDI gets its own.
const char* client_name(MidiBackend b) {
    return b == MidiBackend::kJack ? "Plexora MIDI" : "Plexora";
}

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

MidiEndpoint::MidiEndpoint(MyBMidiPort& port, std::vector<MidiBackend> order) : port_(port) {
    for (MidiBackend b : order) {
        const RtMidi::Api api = api_of(b);
        std::vector<RtMidi::Api> apis;
        RtMidi::getCompiledApi(apis);
        if (api == RtMidi::UNSPECIFIED || std::find(apis.begin(), apis.end(), api) == apis.end()) {
            report_ += std::string(midi_backend_name(b)) + ": not built into the MIDI library\n";
            continue;
        }
        try {
            auto in = std::make_unique<RtMidiIn>(api, client_name(b));
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

MidiEndpoint::~MidiEndpoint() {
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
        me->parser_.feed(bytes->data(), bytes->size(), me->port_);
        me->messages_.fetch_add(1, std::memory_order_relaxed);
    }
    // The delivery thread belongs to the MIDI library and may end at any
    // disconnection; the reader slot is given back after every message.
    reclaim::release_thread_slot();
}
