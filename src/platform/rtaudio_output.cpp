#include "platform/rtaudio_output.h"

#include <rtaudio/RtAudio.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/timed_midi.h"

namespace {

RtAudio::Api api_of(AudioBackend b) {
    switch (b) {
        case AudioBackend::kPulse:
            return RtAudio::LINUX_PULSE;
        case AudioBackend::kAlsa:
            return RtAudio::LINUX_ALSA;
        default:
            return RtAudio::UNSPECIFIED;
    }
}

bool compiled(RtAudio::Api api) {
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

// Errors that the library reports once a stream is open arrive here instead
// of being thrown on its own thread; the library then stops the stream, and
// the program goes on with silence.
void on_stream_error(RtAudioError::Type, const std::string&) {}

}  // namespace

const char* backend_name(AudioBackend backend) {
    switch (backend) {
        case AudioBackend::kJack:
            return "JACK";
        case AudioBackend::kPulse:
            return "PulseAudio";
        case AudioBackend::kAlsa:
            return "ALSA";
        case AudioBackend::kSilent:
            return "silent output";
        default:
            return "none";
    }
}

RtAudioOutput::RtAudioOutput(std::unique_ptr<RtAudio> audio, AudioGate& gate)
    : audio_(std::move(audio)), gate_(gate) {}

RtAudioOutput::~RtAudioOutput() {
    stop();
    try {
        if (audio_->isStreamOpen()) audio_->closeStream();
    } catch (const RtAudioError&) {
    }
}

std::unique_ptr<RtAudioOutput> RtAudioOutput::open(AudioBackend backend, AudioGate& gate,
                                                   const Request& request, std::string& why) {
    const RtAudio::Api api = api_of(backend);
    if (api == RtAudio::UNSPECIFIED || !compiled(api)) {
        why = "not built into the audio library";
        return nullptr;
    }
    try {
        auto audio = std::make_unique<RtAudio>(api);
        if (audio->getCurrentApi() != api) {
            why = "not available";
            return nullptr;
        }
        audio->showWarnings(false);
        const unsigned count = audio->getDeviceCount();
        if (count == 0) {
            why = "no device";
            return nullptr;
        }
        unsigned device = audio->getDefaultOutputDevice();
        bool named = false;
        for (unsigned i = 0; i < count && !request.device.empty() && !named; ++i) {
            if (audio->getDeviceInfo(i).name == request.device) device = i, named = true;
        }
        if (!request.device.empty() && !named) {
            why = "no device \"" + request.device + "\"";
            return nullptr;
        }
        const RtAudio::DeviceInfo info = audio->getDeviceInfo(device);
        unsigned rate = info.preferredSampleRate;
        if (rate == 0 && !info.sampleRates.empty()) rate = info.sampleRates.back();
        if (rate == 0) rate = 48000;
        const auto& rates = info.sampleRates;
        if (request.rate &&
            (rates.empty() || std::find(rates.begin(), rates.end(), request.rate) != rates.end()))
            rate = request.rate;

        RtAudio::StreamParameters out;
        out.deviceId = device;
        out.nChannels = 2;
        out.firstChannel = 0;
        RtAudio::StreamOptions options;
        options.streamName = request.client_name;
        if (backend == AudioBackend::kAlsa && !named) options.flags |= RTAUDIO_ALSA_USE_DEFAULT;
        options.numberOfBuffers = 3;
        unsigned frames = request.buffer_frames;

        std::unique_ptr<RtAudioOutput> self(new RtAudioOutput(std::move(audio), gate));
        self->audio_->openStream(&out, nullptr, RTAUDIO_FLOAT32, rate, &frames,
                                 &RtAudioOutput::callback, self.get(), &options, &on_stream_error);
        if (!self->audio_->isStreamOpen()) {
            why = "the stream did not open";
            return nullptr;
        }
        self->rate_ = static_cast<float>(self->audio_->getStreamSampleRate());
        self->frames_ = frames;
        self->latency_ = self->audio_->getStreamLatency();
        self->device_ = info.name;
        return self;
    } catch (const RtAudioError& e) {
        why = e.getMessage();
        while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
        if (why.empty()) why = "could not open";
        return nullptr;
    }
}

std::vector<std::string> RtAudioOutput::alsa_devices() {
    std::vector<std::string> names;
    if (!compiled(RtAudio::LINUX_ALSA)) return names;
    try {
        RtAudio audio(RtAudio::LINUX_ALSA);
        audio.showWarnings(false);
        for (unsigned i = 0, n = audio.getDeviceCount(); i < n; ++i) {
            const RtAudio::DeviceInfo info = audio.getDeviceInfo(i);
            if (info.probed && info.outputChannels >= 2) names.push_back(info.name);
        }
    } catch (const RtAudioError&) {
    }
    return names;
}

bool RtAudioOutput::start() {
    try {
        if (!audio_->isStreamRunning()) audio_->startStream();
        return audio_->isStreamRunning();
    } catch (const RtAudioError&) {
        return false;
    }
}

void RtAudioOutput::stop() {
    try {
        // Returns once the library's thread (or the server) has stopped
        // calling us; the gate is already closed, so nothing is rendered meanwhile.
        if (audio_->isStreamRunning()) audio_->abortStream();
    } catch (const RtAudioError&) {
    }
}

int RtAudioOutput::callback(void* out, void*, unsigned frames, double, unsigned status,
                            void* self) {
    auto* me = static_cast<RtAudioOutput*>(self);
    if (status & RTAUDIO_OUTPUT_UNDERFLOW) me->gate_.count_xrun();
    if (out) me->gate_.render(static_cast<float*>(out), frames, me->rate_, clock_now(frames));
    return 0;
}
