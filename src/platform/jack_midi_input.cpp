#include "platform/jack_midi_input.h"

#include <jack/midiport.h>
#include <pthread.h>

#include <cerrno>
#include <cstring>

#include "core/reclaim.h"
#include "platform/timed_midi.h"

MidiEventRing::MidiEventRing() {
    ring_ = jack_ringbuffer_create(kEvents * sizeof(Event));
    if (!ring_) return;
    jack_ringbuffer_mlock(ring_);
    capacity_ = jack_ringbuffer_write_space(ring_) / sizeof(Event);
}

MidiEventRing::~MidiEventRing() {
    if (ring_) jack_ringbuffer_free(ring_);
}

bool MidiEventRing::push(const std::uint8_t* bytes, std::size_t size) noexcept {
    if (size == 0 || size > sizeof(Event::bytes)) {
        skipped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    if (jack_ringbuffer_write_space(ring_) < sizeof(Event)) {
        overflows_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    Event ev{static_cast<std::uint8_t>(size), {}};
    std::memcpy(ev.bytes, bytes, size);
    jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(&ev), sizeof ev);
    return true;
}

std::size_t MidiEventRing::deliver(MidiByteParser& parser, MyBMidiPort& port) {
    std::size_t count = 0;
    Event ev;
    while (jack_ringbuffer_read_space(ring_) >= sizeof ev) {
        jack_ringbuffer_read(ring_, reinterpret_cast<char*>(&ev), sizeof ev);
        // An event is a whole message: it neither ends the one before nor runs
        // on its status. A piece of a split exclusive message (data bytes after
        // its skipped head) would otherwise be read as one more message of the
        // status before it: a note-on with made-up key and velocity.
        parser.reset();
        parser.feed(ev.bytes, ev.size, port);
        ++count;
    }
    return count;
}

std::unique_ptr<JackMidiInput> JackMidiInput::open(MyBMidiPort& port,
                                                   const std::string& client_name,
                                                   const char* port_name, std::string& why,
                                                   TimedMidiQueue* queue) {
    std::shared_ptr<JackClient> client = JackClient::acquire(client_name, JackClient::kMidi, why);
    if (!client) return nullptr;
    std::unique_ptr<JackMidiInput> self(new JackMidiInput(port, client));
    self->queue_ = queue;
    if (!self->ring_.ok()) {
        why = "out of memory";
        return nullptr;
    }
    const auto lock = JackClient::calls();
    self->input_ =
        jack_port_register(client->handle(), port_name, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!self->input_) {
        why = "the server refused the input port";
        return nullptr;
    }
    self->thread_ = std::thread([me = self.get()] { me->run(); });
    client->attach(JackClient::kMidi, self.get());
    return self;
}

JackMidiInput::JackMidiInput(MyBMidiPort& port, std::shared_ptr<JackClient> client)
    : port_(port), client_(std::move(client)) {
    sem_init(&queued_, 0, 0);
}

JackMidiInput::~JackMidiInput() {
    client_->give_back(JackClient::kMidi);
    if (thread_.joinable()) {
        quit_.store(true, std::memory_order_release);
        sem_post(&queued_);
        thread_.join();
    }
    const auto lock = JackClient::calls();
    if (jack_client_t* c = client_->handle(); c && input_) jack_port_unregister(c, input_);
    sem_destroy(&queued_);
}

std::vector<std::string> JackMidiInput::sources() {
    std::vector<std::string> list;
    const auto lock = JackClient::calls();
    jack_client_t* c = client_->handle();
    if (!c) return list;
    const char** ports = jack_get_ports(c, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput);
    if (!ports) return list;
    const std::string mine = client_->name() + ":";
    for (int i = 0; ports[i]; ++i) {
        if (std::strncmp(ports[i], mine.c_str(), mine.size()) != 0) list.emplace_back(ports[i]);
    }
    jack_free(ports);
    return list;
}

bool JackMidiInput::connect(const std::string& source) {
    const auto lock = JackClient::calls();
    jack_client_t* c = client_->handle();
    if (!c) return false;
    const int r = jack_connect(c, source.c_str(), jack_port_name(input_));
    return r == 0 || r == EEXIST;
}

void JackMidiInput::disconnect(const std::string& source) {
    const auto lock = JackClient::calls();
    if (jack_client_t* c = client_->handle())
        jack_disconnect(c, source.c_str(), jack_port_name(input_));
}

void JackMidiInput::process(jack_nframes_t frames) noexcept {
    void* buffer = jack_port_get_buffer(input_, frames);
    const jack_nframes_t count = jack_midi_get_event_count(buffer);
    bool queued = false;
    if (queue_ && queue_->taken()) {
        // The output renders up to each message's frame: in this very cycle
        // when it is this client's, else one period on by the steady clock.
        const bool same_cycle = client_->has_part(JackClient::kAudio);
        const std::int64_t start = same_cycle ? client_->cycle_start() : 0;
        const std::int64_t now = same_cycle ? 0 : steady_ns();
        const double ns_per_frame = 1e9 / client_->rate();
        for (jack_nframes_t i = 0; i < count; ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, buffer, i) != 0) continue;
            if (e.size == 0 || e.size > 3) {
                ring_.push(e.buffer, e.size);  // counted as skipped
                continue;
            }
            const std::int64_t when =
                same_cycle ? start + e.time
                           : now - std::int64_t((double(frames) - e.time) * ns_per_frame);
            if (queue_->push(e.buffer, e.size, when, same_cycle))
                messages_.fetch_add(1, std::memory_order_relaxed);
        }
        return;
    }
    for (jack_nframes_t i = 0; i < count; ++i) {
        jack_midi_event_t e;
        if (jack_midi_event_get(&e, buffer, i) == 0 && ring_.push(e.buffer, e.size)) queued = true;
    }
    // The MIDI thread sleeps until there is something to parse.
    if (queued) sem_post(&queued_);
}

void JackMidiInput::run() {
    pthread_setname_np(pthread_self(), "plexora_midi");
    for (;;) {
        while (sem_wait(&queued_) != 0 && errno == EINTR) {
        }
        if (quit_.load(std::memory_order_acquire)) break;
        messages_.fetch_add(ring_.deliver(parser_, port_), std::memory_order_relaxed);
    }
    reclaim::release_thread_slot();
}
