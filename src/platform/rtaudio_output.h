// An output through PulseAudio or an ALSA device (JACK has an output of its own).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/audio_gate.h"
#include "platform/audio_output.h"

class RtAudio;

enum class AudioBackend { kNone, kJack, kPulse, kAlsa, kSilent };

// Any thread. "JACK", "PulseAudio", "ALSA", "silent output" or "none".
const char* backend_name(AudioBackend backend);

class RtAudioOutput : public AudioOutput {
  public:
    struct Request {
        unsigned buffer_frames = 256;
        std::string client_name;  // the stream's name in the server
        std::string device;       // an ALSA device by name; empty: the default one
        unsigned rate = 0;        // frames per second; 0: the device's own
    };

    // GUI thread. The names of the ALSA devices that can play stereo.
    static std::vector<std::string> alsa_devices();

    // GUI thread. Opens a stereo float stream through PulseAudio or ALSA,
    // or returns null and says why in `why`.
    static std::unique_ptr<RtAudioOutput> open(AudioBackend backend, AudioGate& gate,
                                               const Request& request, std::string& why);
    ~RtAudioOutput() override;

    bool start() override;
    void stop() override;
    float rate() const override { return rate_; }
    unsigned buffer_frames() const override { return frames_; }
    long latency_frames() const override { return latency_; }
    const std::string& device_name() const { return device_; }

  private:
    RtAudioOutput(std::unique_ptr<RtAudio> audio, AudioGate& gate);
    static int callback(void* out, void* in, unsigned frames, double time, unsigned status,
                        void* self);

    std::unique_ptr<RtAudio> audio_;
    AudioGate& gate_;
    float rate_ = 0;
    unsigned frames_ = 0;
    long latency_ = 0;
    std::string device_;
};
