// The sound player: opens an audio output and calls the render callback on
// the output's real-time thread with interleaved stereo float buffers.
// Outputs are tried in order (by default a running JACK server, never
// started for us, then PulseAudio, then ALSA's default device); when none
// opens, a silent output paced by a clock thread keeps the program running.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio_gate.h"
#include "platform/audio_output.h"
#include "platform/rtaudio_output.h"

class MyBMidiPort;
class TimedMidiQueue;

struct SoundPlayerOptions {
    std::vector<AudioBackend> order{AudioBackend::kJack, AudioBackend::kPulse, AudioBackend::kAlsa};
    unsigned buffer_frames = 256;
    std::string device;                   // an ALSA device by name; empty: the default one
    unsigned rate = 0;                    // asked of outputs that let it be chosen; 0: their own
    std::string client_name = "Plexora";  // the JACK client
    bool connect_outputs = true;          // to the server's playback ports
    float silent_rate = 44100.0f;
    // Timed MIDI messages the gate applies at their frames, to this port.
    TimedMidiQueue* midi_queue = nullptr;
    MyBMidiPort* midi_port = nullptr;
};

// The output a user chose in the audio settings.
struct AudioChoice {
    AudioBackend output = AudioBackend::kNone;  // kNone: the first that works
    std::string device;                         // ALSA only; empty: the default device
    unsigned period = 256;                      // frames, where the output lets it be chosen
    unsigned rate = 0;                          // frames per second; 0: the output's own
    bool operator==(const AudioChoice&) const = default;
};

// Any thread. The player's options for `choice`.
SoundPlayerOptions options_for(const AudioChoice& choice);

class SoundPlayer {
  public:
    // GUI thread, after environment::prepare(). Opens the first output that
    // works; `proc` is called with `cookie` for every buffer once the player
    // is started.
    SoundPlayer(const char* name, RenderProc proc, void* cookie = nullptr,
                SoundPlayerOptions options = {});
    // GUI thread. Stops the player and closes its output.
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // GUI thread. Starts calling the render callback.
    bool Start();
    // GUI thread. Returns once no render callback is running and none will start.
    void Stop();
    // Any thread.
    bool IsPlaying() const { return gate_.is_open(); }

    // Any thread. What the player runs on.
    const char* Name() const { return name_.c_str(); }
    AudioBackend Backend() const { return backend_; }
    const char* BackendName() const { return backend_name(backend_); }
    // One line per output tried, saying why it was not taken.
    const std::string& Report() const { return report_; }
    float FrameRate() const { return output_->rate(); }
    // Any thread. False once the output's server or device has gone.
    bool Alive() const { return output_->alive(); }
    // GUI thread. Changes the period without reopening, where the output can.
    bool SetPeriod(unsigned frames) { return output_->set_period(frames); }
    unsigned BufferFrames() const { return output_->buffer_frames(); }
    // Microseconds from rendering a buffer to hearing it: the output's own
    // latency plus the buffer being rendered.
    std::int64_t Latency() const;
    // Buffers rendered and buffers the output could not deliver in time.
    std::uint64_t Buffers() const { return gate_.buffers(); }
    std::uint64_t Xruns() const { return gate_.xruns(); }
    // Any thread. "JACK, 48000 Hz, 256 frames, 10.7 ms".
    std::string Summary() const;

  private:
    std::string name_;
    AudioGate gate_;
    std::unique_ptr<AudioOutput> output_;
    AudioBackend backend_ = AudioBackend::kNone;
    std::string report_;
};
