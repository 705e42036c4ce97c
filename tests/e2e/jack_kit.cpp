#include "e2e/jack_kit.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace e2e {

JackServer::JackServer(unsigned rate, unsigned period) {
    name_ = "plexora-e2e-" + std::to_string(getpid());
    log_path_ = "/tmp/" + name_ + ".log";
    // Every client of this process (ours and the libraries') talks to this
    // server only, and none may start another.
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);

    const std::string r = std::to_string(rate), p = std::to_string(period);
    // `timeout` ends the server even if this test process dies.
    std::vector<std::string> args = {"timeout", "120",   "jackd", "-r", "-n", name_,
                                     "-d",      "dummy", "-r",    r,    "-p", p};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawnp(&pid_, "timeout", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        return;
    }
    // Ready once a client can connect.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < until) {
        jack_status_t status;
        if (jack_client_t* c = jack_client_open("plexora-e2e-probe", JackNoStartServer, &status)) {
            jack_client_close(c);
            ready_ = true;
            return;
        }
        int st = 0;
        if (waitpid(pid_, &st, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

JackServer::~JackServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        int st = 0;
        if (waitpid(pid_, &st, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    int st = 0;
    waitpid(pid_, &st, 0);
}

MidiSender::MidiSender(const char* name) {
    client_ = jack_client_open(name, JackNoStartServer, nullptr);
    if (!client_) return;
    port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client_, &MidiSender::process, this);
    if (!port_ || jack_activate(client_) != 0) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

MidiSender::~MidiSender() {
    if (client_) jack_client_close(client_);
}

std::string MidiSender::port_name() const {
    return port_ ? jack_port_name(port_) : "";
}

int MidiSender::process(jack_nframes_t frames, void* self) {
    auto* me = static_cast<MidiSender*>(self);
    void* buf = jack_port_get_buffer(me->port_, frames);
    jack_midi_clear_buffer(buf);
    const std::uint32_t msg = me->pending_.exchange(0);
    if (msg != 0) {
        const jack_midi_data_t bytes[3] = {static_cast<jack_midi_data_t>(msg & 0xFF),
                                           static_cast<jack_midi_data_t>((msg >> 8) & 0xFF),
                                           static_cast<jack_midi_data_t>((msg >> 16) & 0xFF)};
        jack_midi_event_write(buf, 0, bytes, 3);
        me->sent_at_ = jack_last_frame_time(me->client_);
        me->sent_ = true;
    }
    return 0;
}

std::uint32_t MidiSender::send(std::uint8_t status, std::uint8_t a, std::uint8_t b) {
    sent_ = false;
    pending_ = status | (std::uint32_t(a) << 8) | (std::uint32_t(b) << 16);
    while (!sent_) std::this_thread::sleep_for(std::chrono::microseconds(200));
    return sent_at_;
}

Recorder::Recorder(const char* name, std::size_t max_frames)
    : left_(max_frames), right_(max_frames), valid_(max_frames, 0) {
    client_ = jack_client_open(name, JackNoStartServer, nullptr);
    if (!client_) return;
    in_[0] = jack_port_register(client_, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    in_[1] = jack_port_register(client_, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &Recorder::process, this);
    jack_set_xrun_callback(client_, &Recorder::on_xrun, this);
    if (!in_[0] || !in_[1] || jack_activate(client_) != 0) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

Recorder::~Recorder() {
    if (client_) jack_client_close(client_);
}

int Recorder::connect_from(const char* pattern) {
    const char** ports =
        jack_get_ports(client_, pattern, JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
    int n = 0;
    for (int i = 0; ports && ports[i] && n < 2; ++i) {
        if (jack_connect(client_, ports[i], jack_port_name(in_[n])) == 0) ++n;
    }
    jack_free(ports);
    return n;
}

int Recorder::process(jack_nframes_t frames, void* self) {
    auto* me = static_cast<Recorder*>(self);
    if (!me->recording_) return 0;
    const jack_nframes_t now = jack_last_frame_time(me->client_);
    if (!me->started_) {
        me->first_frame_ = now;
        me->started_ = true;
    }
    const std::size_t at = now - me->first_frame_;
    if (at >= me->left_.size()) return 0;
    const std::size_t n = std::min<std::size_t>(frames, me->left_.size() - at);
    const auto* l = static_cast<const float*>(jack_port_get_buffer(me->in_[0], frames));
    const auto* r = static_cast<const float*>(jack_port_get_buffer(me->in_[1], frames));
    std::memcpy(me->left_.data() + at, l, n * sizeof(float));
    std::memcpy(me->right_.data() + at, r, n * sizeof(float));
    std::memset(me->valid_.data() + at, 1, n);
    me->count_.store(at + n, std::memory_order_release);
    return 0;
}

int Recorder::on_xrun(void* self) {
    static_cast<Recorder*>(self)->xruns_.fetch_add(1);
    return 0;
}

}  // namespace e2e
