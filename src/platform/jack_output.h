// An output straight to a JACK server: two float ports of the program's
// client, filled from the render gate in the server's cycle.
#pragma once

#include <jack/jack.h>

#include <memory>
#include <string>

#include "platform/audio_gate.h"
#include "platform/audio_output.h"
#include "platform/jack_client.h"

class JackOutput : public AudioOutput, private JackClient::Part {
  public:
    // GUI thread. Registers the outputs "out_1" and "out_2" on the client
    // `client_name` (shared with the MIDI input), or returns null and says why.
    static std::unique_ptr<JackOutput> open(AudioGate& gate, const std::string& client_name,
                                            bool connect_outputs, std::string& why);
    ~JackOutput() override;

    // GUI thread. Starts the cycle's calls and, when asked at opening, links
    // the outputs to the server's playback ports.
    bool start() override;
    void stop() override;
    float rate() const override { return client_->rate(); }
    unsigned buffer_frames() const override { return client_->period(); }
    long latency_frames() const override { return latency_; }
    bool alive() const override { return client_->alive(); }
    // Asks the server for another period: every client of the server gets it.
    bool set_period(unsigned frames) override;
    const std::string& client_name() const { return client_->name(); }

    // The render callback mixes interleaved stereo; this many frames at a time.
    static constexpr unsigned kChunk = 1024;
    // Audio thread. Fills `frames` frames of the two port buffers from `gate`
    // in calls of at most kChunk frames, each mixed into `mix` (2 * kChunk
    // floats) and then split between the ports.
    static void fill(AudioGate& gate, float* mix, float* left, float* right, unsigned frames,
                     float rate, OutputClock clock = {}) noexcept;

  private:
    JackOutput(AudioGate& gate, std::shared_ptr<JackClient> client)
        : gate_(gate), client_(std::move(client)) {}
    void process(jack_nframes_t frames) noexcept override;
    void xrun() noexcept override { gate_.count_xrun(); }
    void connect_playback();

    AudioGate& gate_;
    std::shared_ptr<JackClient> client_;
    jack_port_t* ports_[2] = {};
    bool connect_ = true;
    bool connected_ = false;
    long latency_ = 0;
    float mix_[2 * kChunk] = {};
};
