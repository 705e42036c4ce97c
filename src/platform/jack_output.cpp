#include "platform/jack_output.h"

#include <algorithm>

#include "platform/timed_midi.h"

std::unique_ptr<JackOutput> JackOutput::open(AudioGate& gate, const std::string& client_name,
                                             bool connect_outputs, std::string& why) {
    std::shared_ptr<JackClient> client = JackClient::acquire(client_name, JackClient::kAudio, why);
    if (!client) return nullptr;
    std::unique_ptr<JackOutput> self(new JackOutput(gate, client));
    self->connect_ = connect_outputs;
    const auto lock = JackClient::calls();
    for (int i = 0; i < 2; ++i) {
        const std::string name = "out_" + std::to_string(i + 1);
        self->ports_[i] = jack_port_register(client->handle(), name.c_str(),
                                             JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!self->ports_[i]) {
            why = "the server refused the output ports";
            return nullptr;  // the destructor unregisters what was registered
        }
    }
    // From now on every cycle writes the ports: silence until the gate opens.
    client->attach(JackClient::kAudio, self.get());
    return self;
}

JackOutput::~JackOutput() {
    client_->give_back(JackClient::kAudio);
    const auto lock = JackClient::calls();
    if (jack_client_t* c = client_->handle()) {
        for (jack_port_t* p : ports_)
            if (p) jack_port_unregister(c, p);
    }
}

bool JackOutput::start() {
    if (!client_->alive()) return false;
    const auto lock = JackClient::calls();
    if (connect_ && !connected_) connect_playback();
    if (client_->handle()) {
        jack_latency_range_t range{};
        jack_port_get_latency_range(ports_[0], JackPlaybackLatency, &range);
        latency_ = static_cast<long>(range.max);
    }
    return true;
}

bool JackOutput::set_period(unsigned frames) {
    const auto lock = JackClient::calls();
    jack_client_t* c = client_->handle();
    return c && jack_set_buffer_size(c, frames) == 0;
}

// The gate is closed: the cycle goes on writing silence (an output port
// left unwritten would repeat its last buffer).
void JackOutput::stop() {}

// The first two physical playback ports, as a stereo pair.
void JackOutput::connect_playback() {
    jack_client_t* c = client_->handle();
    if (!c) return;
    const char** playback =
        jack_get_ports(c, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput | JackPortIsPhysical);
    if (!playback) return;
    for (int i = 0; i < 2 && playback[i]; ++i)
        jack_connect(c, jack_port_name(ports_[i]), playback[i]);
    jack_free(playback);
    connected_ = true;
}

void JackOutput::process(jack_nframes_t frames) noexcept {
    auto* left = static_cast<float*>(jack_port_get_buffer(ports_[0], frames));
    auto* right = static_cast<float*>(jack_port_get_buffer(ports_[1], frames));
    OutputClock clock;
    clock.frame_time = client_->cycle_start();
    clock.has_frame_time = true;
    clock.period_ns = steady_ns();
    clock.period = frames;
    fill(gate_, mix_, left, right, frames, client_->rate(), clock);
}

void JackOutput::fill(AudioGate& gate, float* mix, float* left, float* right, unsigned frames,
                      float rate, OutputClock clock) noexcept {
    const std::int64_t start = clock.frame_time;
    for (unsigned done = 0; done < frames;) {
        const unsigned n = std::min(kChunk, frames - done);
        clock.frame_time = start + done;
        clock.offset = done;
        gate.render(mix, n, rate, clock);
        for (unsigned i = 0; i < n; ++i) {
            left[done + i] = mix[2 * i];
            right[done + i] = mix[2 * i + 1];
        }
        done += n;
    }
}
