#include "platform/jack_midi_input.h"

#include <jack/midiport.h>
#include <pthread.h>

#include <cerrno>
#include <cstring>

#include "core/reclaim.h"

std::unique_ptr<JackMidiInput> JackMidiInput::open(MyBMidiPort& port,
                                                   const std::string& client_name,
                                                   const char* port_name, std::string& why) {
    std::shared_ptr<JackClient> client = JackClient::acquire(client_name, JackClient::kMidi, why);
    if (!client) return nullptr;
    std::unique_ptr<JackMidiInput> self(new JackMidiInput(port, client));
    if (!self->ring_) {
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
    ring_ = jack_ringbuffer_create(kRingEvents * sizeof(Event));
    if (ring_) jack_ringbuffer_mlock(ring_);
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
    if (ring_) jack_ringbuffer_free(ring_);
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
    for (jack_nframes_t i = 0; i < count; ++i) {
        jack_midi_event_t e;
        if (jack_midi_event_get(&e, buffer, i) != 0) continue;
        if (e.size == 0 || e.size > sizeof(Event::bytes) ||
            jack_ringbuffer_write_space(ring_) < sizeof(Event)) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        Event ev{static_cast<std::uint8_t>(e.size), {}};
        std::memcpy(ev.bytes, e.buffer, e.size);
        jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(&ev), sizeof ev);
        queued = true;
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
        Event ev;
        while (jack_ringbuffer_read_space(ring_) >= sizeof ev) {
            jack_ringbuffer_read(ring_, reinterpret_cast<char*>(&ev), sizeof ev);
            parser_.feed(ev.bytes, ev.size, port_);
            messages_.fetch_add(1, std::memory_order_relaxed);
        }
    }
    reclaim::release_thread_slot();
}
