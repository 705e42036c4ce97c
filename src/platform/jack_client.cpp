#include "platform/jack_client.h"

#include <mutex>
#include <thread>
#include <vector>

namespace {

// The clients open now, so that the parts of the program share one. The
// audio output is opened beside the window while the MIDI input opens on
// the GUI thread: the list, the slots and every call the parts make on a
// client are taken one at a time (libjack does not order two threads'
// calls on one client). Recursive: a client dropped while the list is
// looked at closes under the same lock.
std::recursive_mutex clients_mutex;
std::vector<std::weak_ptr<JackClient>> clients;

}  // namespace

std::shared_ptr<JackClient> JackClient::acquire(const std::string& name, Slot slot,
                                                std::string& why) {
    std::lock_guard<std::recursive_mutex> lock(clients_mutex);
    auto& list = clients;
    std::erase_if(list, [](const std::weak_ptr<JackClient>& w) { return w.expired(); });
    for (const auto& w : list) {
        std::shared_ptr<JackClient> c = w.lock();
        if (c && c->alive() && !c->taken_[slot] && c->name_.rfind(name, 0) == 0) {
            c->taken_[slot] = true;
            return c;
        }
    }
    std::shared_ptr<JackClient> c(new JackClient());
    if (!c->open(name, why)) return nullptr;
    c->taken_[slot] = true;
    list.push_back(c);
    return c;
}

bool JackClient::open(const std::string& name, std::string& why) {
    jack_status_t status{};
    client_ = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!client_) {
        why = (status & JackServerFailed) ? "no server running" : "the server refused the client";
        return false;
    }
    name_ = jack_get_client_name(client_);
    rate_ = static_cast<float>(jack_get_sample_rate(client_));
    period_ = jack_get_buffer_size(client_);
    jack_set_process_callback(client_, &JackClient::process, this);
    jack_set_xrun_callback(client_, &JackClient::xrun, this);
    jack_set_buffer_size_callback(client_, &JackClient::buffer_size, this);
    jack_on_info_shutdown(client_, &JackClient::shutdown, this);
    alive_ = true;
    if (jack_activate(client_) != 0) {
        alive_ = false;
        why = "the server did not activate the client";
        return false;
    }
    return true;
}

std::unique_lock<std::recursive_mutex> JackClient::calls() {
    return std::unique_lock<std::recursive_mutex>(clients_mutex);
}

JackClient::~JackClient() {
    if (!client_) return;
    // Closing deactivates first; after a shutdown it only frees what is left.
    std::lock_guard<std::recursive_mutex> lock(clients_mutex);
    jack_client_close(client_);
}

void JackClient::attach(Slot slot, Part* part) {
    parts_[slot].store(part, std::memory_order_seq_cst);
}

void JackClient::detach(Slot slot) {
    // Same handshake as the audio gate: the cycle announces itself before
    // it looks at the part, so one of the two sees the other.
    parts_[slot].store(nullptr, std::memory_order_seq_cst);
    while (inside_.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
}

void JackClient::give_back(Slot slot) {
    detach(slot);
    std::lock_guard<std::recursive_mutex> lock(clients_mutex);
    taken_[slot] = false;
}

int JackClient::process(jack_nframes_t frames, void* self) {
    auto* me = static_cast<JackClient*>(self);
    me->inside_.fetch_add(1, std::memory_order_seq_cst);
    // The MIDI input first: it queues the period's messages at their frames
    // for the audio output, which renders up to each one in the same cycle.
    for (Slot slot : {kMidi, kAudio}) {
        if (Part* p = me->parts_[slot].load(std::memory_order_seq_cst)) p->process(frames);
    }
    me->inside_.fetch_sub(1, std::memory_order_seq_cst);
    return 0;
}

int JackClient::xrun(void* self) {
    auto* me = static_cast<JackClient*>(self);
    me->inside_.fetch_add(1, std::memory_order_seq_cst);
    if (Part* p = me->parts_[kAudio].load(std::memory_order_seq_cst)) p->xrun();
    me->inside_.fetch_sub(1, std::memory_order_seq_cst);
    return 0;
}

int JackClient::buffer_size(jack_nframes_t frames, void* self) {
    static_cast<JackClient*>(self)->period_.store(frames, std::memory_order_relaxed);
    return 0;
}

void JackClient::shutdown(jack_status_t, const char*, void* self) {
    static_cast<JackClient*>(self)->alive_.store(false, std::memory_order_release);
}
