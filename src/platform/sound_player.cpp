#include "platform/sound_player.h"

#include <cstdio>

#include "engine/render.h"
#include "engine/scope.h"
#include "platform/jack_output.h"
#include "platform/silent_output.h"

SoundPlayer::SoundPlayer(const char* name, RenderProc proc, void* cookie,
                         SoundPlayerOptions options)
    : name_(name ? name : ""), gate_(proc, cookie) {
    gate_.take_midi(options.midi_queue, options.midi_port);
    RtAudioOutput::Request request;
    request.buffer_frames = options.buffer_frames;
    request.client_name = options.client_name;
    request.device = options.device;
    request.rate = options.rate;
    for (AudioBackend b : options.order) {
        if (b == AudioBackend::kSilent || b == AudioBackend::kNone) continue;
        std::string why;
        if (b == AudioBackend::kJack) {
            if (auto out =
                    JackOutput::open(gate_, options.client_name, options.connect_outputs, why)) {
                output_ = std::move(out);
                backend_ = b;
                report_ += std::string(backend_name(b)) + ": opened\n";
                return;
            }
        } else if (auto out = RtAudioOutput::open(b, gate_, request, why)) {
            output_ = std::move(out);
            backend_ = b;
            report_ += std::string(backend_name(b)) + ": opened\n";
            return;
        }
        report_ += std::string(backend_name(b)) + ": " + why + "\n";
    }
    output_ = std::make_unique<SilentOutput>(
        gate_, options.rate ? float(options.rate) : options.silent_rate, options.buffer_frames);
    backend_ = AudioBackend::kSilent;
    report_ += "no sound output could be opened: playing on the silent output\n";
}

SoundPlayer::~SoundPlayer() {
    Stop();
    output_.reset();
    // The oscilloscope shows nothing once nothing plays.
    scope_clear();
}

bool SoundPlayer::Start() {
    if (gate_.is_open()) return true;
    gate_.open();
    if (output_->start()) return true;
    gate_.close();
    return false;
}

void SoundPlayer::Stop() {
    gate_.close();
    output_->stop();
}

SoundPlayerOptions options_for(const AudioChoice& choice) {
    SoundPlayerOptions options;
    if (choice.output != AudioBackend::kNone) options.order = {choice.output};
    options.device = choice.output == AudioBackend::kAlsa ? choice.device : std::string();
    options.buffer_frames = choice.period ? choice.period : 256;
    options.rate = choice.rate;
    return options;
}

std::string SoundPlayer::Summary() const {
    char text[160];
    std::snprintf(text, sizeof text, "%s, %.0f Hz, %u frames, %.1f ms", BackendName(),
                  double(FrameRate()), BufferFrames(), double(Latency()) / 1000.0);
    return text;
}

std::int64_t SoundPlayer::Latency() const {
    const double rate = output_->rate() > 0 ? output_->rate() : 44100.0;
    const long frames = output_->latency_frames() + static_cast<long>(output_->buffer_frames());
    return static_cast<std::int64_t>(frames * 1e6 / rate);
}
