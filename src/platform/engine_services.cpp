#include "platform/engine_services.h"

#include <algorithm>
#include <cstdio>

#include "core/sound.h"
#include "engine/render.h"
#include "io/d2d_reader.h"
#include "platform/midi_endpoint.h"
#include "platform/sound_player.h"
#include "platform/sys_info.h"
#include "platform/timed_midi.h"

namespace {

// Loads at least this large say on standard output how long they took.
constexpr std::uint64_t kReportBytes = 16u << 20;

long long ms_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 t)
        .count();
}

}  // namespace

EngineServices::EngineServices(EngineServicesOptions options)
    : options_(options), midi_queue_(std::make_unique<TimedMidiQueue>()) {}

EngineServices::~EngineServices() {
    stop();
    if (midi_roster == endpoint_.get()) midi_roster = nullptr;
    endpoint_.reset();
}

void EngineServices::start_audio() {
    if (!options_.audio || stopped_ || player_thread_.joinable()) return;
    player_thread_ = std::thread([this, choice = choice_] {
        auto player = make_player(choice);
        player->Start();
        opened_player_ = std::move(player);
        player_opened_.store(true, std::memory_order_release);
    });
}

bool EngineServices::take_player() {
    if (player_ || !player_thread_.joinable() || !player_opened_.load(std::memory_order_acquire))
        return false;
    player_thread_.join();
    player_ = std::move(opened_player_);
    return true;
}

std::unique_ptr<SoundPlayer> EngineServices::make_player(const AudioChoice& choice) {
    SoundPlayerOptions settings = options_for(choice);
    settings.midi_queue = midi_queue_.get();
    settings.midi_port = &port_;
    return std::make_unique<SoundPlayer>("wave_player", BufferProc, nullptr, settings);
}

namespace {

bool opened_as_chosen(const SoundPlayer& p, const AudioChoice& c) {
    return c.output == AudioBackend::kNone ? p.Backend() != AudioBackend::kSilent
                                           : p.Backend() == c.output;
}

std::string first_line(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

}  // namespace

void EngineServices::finish_opening() {
    if (!player_thread_.joinable()) return;
    player_thread_.join();
    player_ = std::move(opened_player_);
}

void EngineServices::drop_reconnect() {
    if (reconnect_thread_.joinable()) reconnect_thread_.join();
    reconnected_player_.reset();
    reconnected_midi_.reset();
}

bool EngineServices::apply_audio(const AudioChoice& choice, std::string& message) {
    if (stopped_) return false;
    finish_opening();
    // The JACK server changes its period for every client while playing.
    if (player_ && !jack_lost_ && player_->Backend() == AudioBackend::kJack &&
        (choice.output == AudioBackend::kJack || choice.output == AudioBackend::kNone) &&
        choice.output == choice_.output) {
        if (choice.period == player_->BufferFrames() || player_->SetPeriod(choice.period)) {
            choice_ = choice;
            return true;
        }
        message = "The JACK server refused a period of " + std::to_string(choice.period) +
                  " frames. Playing on " + player_->Summary() + " as before.";
        return false;
    }
    drop_reconnect();
    jack_lost_ = audio_lost_ = midi_lost_ = false;
    if (player_) player_->Stop();
    player_.reset();
    std::unique_ptr<SoundPlayer> p = make_player(choice);
    bool ok = opened_as_chosen(*p, choice) && p->Start();
    if (!ok) {
        const std::string tried = first_line(p->Report());
        p.reset();
        p = make_player(choice_);
        p->Start();
        message = "The audio output could not be changed (" + tried + "). Playing on " +
                  p->Summary() + " as before.";
    } else {
        choice_ = choice;
    }
    player_ = std::move(p);
    return ok;
}

void EngineServices::start_reconnect() {
    reconnect_done_ = false;
    reconnect_thread_ = std::thread([this, choice = choice_] {
        AudioChoice jack = choice;
        jack.output = AudioBackend::kJack;
        if (audio_lost_) reconnected_player_ = make_player(jack);
        if (midi_lost_)
            reconnected_midi_ = std::make_unique<MidiEndpoint>(
                port_, std::vector<MidiBackend>{MidiBackend::kJack}, midi_queue_.get());
        reconnect_done_.store(true, std::memory_order_release);
    });
}

EngineServices::AudioChange EngineServices::watch_audio() {
    if (stopped_ || !player_) return AudioChange::kNone;
    const auto now = std::chrono::steady_clock::now();
    if (!jack_lost_) {
        audio_lost_ = player_->Backend() == AudioBackend::kJack && !player_->Alive();
        midi_lost_ = endpoint_ && !endpoint_->alive();
        if (!audio_lost_ && !midi_lost_) return AudioChange::kNone;
        jack_lost_ = true;
        if (midi_lost_) {
            lost_source_ = endpoint_->connected_name();
            if (midi_roster == endpoint_.get()) midi_roster = nullptr;
            endpoint_.reset();
        }
        if (audio_lost_) {
            // Voices go on (and end) on the silent output at the same rate.
            AudioChoice silent = choice_;
            silent.output = AudioBackend::kSilent;
            silent.rate = unsigned(player_->FrameRate());
            player_->Stop();
            player_ = make_player(silent);
            player_->Start();
        }
        next_try_ = now + std::chrono::seconds(1);
        return AudioChange::kLost;
    }
    if (!reconnect_thread_.joinable()) {
        if (now >= next_try_) start_reconnect();
        return AudioChange::kNone;
    }
    if (!reconnect_done_.load(std::memory_order_acquire)) return AudioChange::kNone;
    reconnect_thread_.join();
    const bool audio_back = !audio_lost_ || (reconnected_player_ &&
                                             reconnected_player_->Backend() == AudioBackend::kJack);
    const bool midi_back = !midi_lost_ || (reconnected_midi_ && reconnected_midi_->available());
    if (!audio_back || !midi_back) {
        drop_reconnect();
        next_try_ = now + std::chrono::seconds(1);
        return AudioChange::kNone;
    }
    if (audio_lost_) {
        player_->Stop();
        player_ = std::move(reconnected_player_);
        player_->Start();
    }
    if (midi_lost_) {
        endpoint_ = std::move(reconnected_midi_);
        midi_roster = endpoint_.get();
        bool connected = false;
        for (const MidiSourceInfo& s : endpoint_->sources())
            if (s.name == lost_source_) connected = endpoint_->connect(s.id);
        if (!connected) endpoint_->connect_first();
    }
    jack_lost_ = audio_lost_ = midi_lost_ = false;
    return AudioChange::kBack;
}

bool EngineServices::silent() const {
    return player_ && player_->Backend() == AudioBackend::kSilent;
}

void EngineServices::start_streaming() {
    sysinfo::aff_info();
    if (!options_.streaming || stopped_) return;
    d2d_ = std::make_unique<D2DReader>();
    d2d_->start();
}

void EngineServices::open_midi() {
    if (!options_.midi || endpoint_) return;
    endpoint_ = std::make_unique<MidiEndpoint>(
        port_, std::vector<MidiBackend>{MidiBackend::kAlsaSeq, MidiBackend::kJack},
        midi_queue_.get());
    if (endpoint_->available()) {
        endpoint_->connect_first();
        midi_roster = endpoint_.get();
    }
}

bool EngineServices::start_load(const std::string& path, const std::string& leaf, bool instrument,
                                int slot) {
    if (job_ || stopped_) return false;
    job_slot_ = slot;
    job_ = std::make_unique<LoadJob>(path, leaf, instrument);
    job_start_ = std::chrono::steady_clock::now();
    job_->start(file_opener_);
    return true;
}

bool EngineServices::wait_load(std::chrono::milliseconds limit) {
    return !job_ || job_->wait_finished(limit);
}

void EngineServices::cancel_load() {
    if (job_) job_->cancel();
}

LoadStep EngineServices::poll_load() {
    // Cancelled jobs finish their piece on their own thread, then go.
    std::erase_if(dropped_, [](const auto& j) { return j->finished(); });
    if (!job_) return LoadStep::kIdle;
    if (!job_->finished() && !job_->cancelled()) return LoadStep::kRunning;
    std::unique_ptr<LoadJob> job = std::move(job_);
    if (job->cancelled()) {
        if (!job->finished()) dropped_.push_back(std::move(job));
        return LoadStep::kCancelled;
    }
    // The file was chosen for the sound selected then; nothing could change
    // the instruments while it loaded.
    no_s = std::int16_t(job_slot_);
    const auto publishing = std::chrono::steady_clock::now();
    if (!job->publish(job_slot_)) return LoadStep::kFailed;
    last_loaded_ = job->path();
    if (job->total_bytes() >= kReportBytes) {
        std::printf("Loaded %s: %.1f MB in %lld ms, %lld ms of it putting it in place\n",
                    job->leaf().c_str(), double(job->total_bytes()) / 1e6, ms_since(job_start_),
                    ms_since(publishing));
        std::fflush(stdout);
    }
    return LoadStep::kLoaded;
}

void EngineServices::stop() {
    if (stopped_) return;
    stopped_ = true;
    // A load in progress is dropped; its thread is waited for.
    job_.reset();
    dropped_.clear();
    if (d2d_) d2d_->stop();
    finish_opening();
    drop_reconnect();
    if (player_) player_->Stop();
    player_.reset();
    d2d_.reset();
}
