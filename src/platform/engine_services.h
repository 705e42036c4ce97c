// The engine's services, gathered in one object that the application owns
// and the windows use: the sound player (opened on a thread of its own while
// the windows come up), the streaming reader, the MIDI endpoint, and the
// background loader with its cancelled jobs and the publishing of its
// results. Every thread the running program starts beside the windows
// belongs to this object; the windows only show what it does.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "io/load_job.h"
#include "midi/midi_port.h"
#include "platform/sound_player.h"

class D2DReader;
class MidiEndpoint;
class TimedMidiQueue;

struct EngineServicesOptions {
    bool audio = true;      // open the sound player
    bool streaming = true;  // run the streaming reader thread
    bool midi = true;       // open the MIDI endpoint
};

// What a look at the running load found.
enum class LoadStep {
    kIdle,       // no load was running
    kRunning,    // still reading
    kCancelled,  // cancelled: dropped, and nothing changed
    kFailed,     // finished, but nothing could be loaded (the loader has said why)
    kLoaded,     // finished and put into the tables
};

class EngineServices {
  public:
    // GUI thread. Starts nothing: the application starts each service in
    // its place in the start-up order.
    explicit EngineServices(EngineServicesOptions options = {});
    // GUI thread. Stops whatever still runs, then releases the MIDI endpoint.
    ~EngineServices();
    EngineServices(const EngineServices&) = delete;
    EngineServices& operator=(const EngineServices&) = delete;

    // --- Audio output ---
    // GUI thread, before `start_audio`. The output to open.
    void set_audio_choice(const AudioChoice& choice) { choice_ = choice; }
    // GUI thread. The output chosen last that worked.
    const AudioChoice& audio_choice() const { return choice_; }
    // GUI thread. Reopens the player on `choice` while the program runs
    // (voices go on where they were). When the chosen output does not open,
    // the one before is opened again, `message` says why, and false is returned.
    bool apply_audio(const AudioChoice& choice, std::string& message);

    enum class AudioChange { kNone, kLost, kBack };
    // GUI thread, on a timer. When the JACK server goes away, falls back to
    // the silent output and drops the JACK MIDI input (kLost); then tries
    // now and then to reconnect both, and says kBack once it has.
    AudioChange watch_audio();
    // GUI thread. True between kLost and kBack.
    bool waiting_for_jack() const { return jack_lost_; }

    // GUI thread. Starts opening the sound player on a thread of its own:
    // finding the output takes the sound server several client connections,
    // and the windows are usable meanwhile.
    void start_audio();
    // GUI thread. Takes the player over once its opening thread is done;
    // true on the call that takes it.
    bool take_player();
    // GUI thread. True while the player is still being opened.
    bool opening_player() const { return player_thread_.joinable() && !player_; }
    // GUI thread. The player once taken over, else null.
    SoundPlayer* player() const { return player_.get(); }
    // GUI thread. True when the player plays on the silent output.
    bool silent() const;

    // --- Streaming reader ---
    // GUI thread. Prints the system line, then starts the streaming reader.
    void start_streaming();

    // --- MIDI input ---
    // GUI thread. Opens the MIDI endpoint and connects the first source
    // listed; it then serves the channel window's list of sources.
    void open_midi();

    // --- Loading in the background ---
    // GUI thread. Starts reading `path` (leaf name `leaf`) on a loader
    // thread: an instrument file or bank when `instrument`, otherwise a
    // sample for sound slot `slot`. False, with nothing started, while
    // another load runs.
    bool start_load(const std::string& path, const std::string& leaf, bool instrument, int slot);
    // GUI thread. Blocks until the running load has finished reading or
    // `limit` has passed; true when there is nothing left to wait for.
    bool wait_load(std::chrono::milliseconds limit);
    // GUI thread. Asks the running load to stop; the next `poll_load`
    // drops it and nothing changes.
    void cancel_load();
    // GUI thread. Forgets cancelled jobs whose threads are done; drops the
    // running load when it was cancelled, or publishes it into the tables
    // when it has finished (for an instrument file or bank, into the
    // instrument that held slot `slot` when it started).
    LoadStep poll_load();
    // GUI thread. The running load, for its progress; null when none.
    const LoadJob* load() const { return job_.get(); }
    bool loading() const { return bool(job_); }
    // GUI thread. True while cancelled loads still finish their piece.
    bool dropping() const { return !dropped_.empty(); }
    // GUI thread. The file of the last load that published something.
    const std::string& last_loaded() const { return last_loaded_; }
    // GUI thread. How files are opened for reading (tests hand in slow or
    // stuck inputs); empty for the file system.
    void set_opener(LoadJob::Opener open) { file_opener_ = std::move(open); }

    // GUI thread. Drops any load, stops the streaming reader and the
    // player (once; later calls do nothing).
    void stop();

  private:
    EngineServicesOptions options_;
    bool stopped_ = false;
    // MIDI messages on their way from the endpoint to the player's gate;
    // outlives both.
    std::unique_ptr<TimedMidiQueue> midi_queue_;

    std::thread player_thread_;
    std::unique_ptr<SoundPlayer> opened_player_;  // written by the opening thread
    std::atomic<bool> player_opened_{false};
    std::unique_ptr<SoundPlayer> player_;
    AudioChoice choice_;

    // Reconnecting after the JACK server went away.
    std::unique_ptr<SoundPlayer> make_player(const AudioChoice& choice);
    // GUI thread. Waits for the player's opening thread and takes the player.
    void finish_opening();
    // GUI thread. Waits for a reconnection attempt and drops what it opened.
    void drop_reconnect();
    void start_reconnect();
    bool jack_lost_ = false;
    bool audio_lost_ = false, midi_lost_ = false;
    std::string lost_source_;
    std::chrono::steady_clock::time_point next_try_;
    std::thread reconnect_thread_;
    std::atomic<bool> reconnect_done_{false};
    std::unique_ptr<SoundPlayer> reconnected_player_;
    std::unique_ptr<MidiEndpoint> reconnected_midi_;

    std::unique_ptr<D2DReader> d2d_;

    MyBMidiPort port_;  // the endpoint's hooks, kept as long as the endpoint
    std::unique_ptr<MidiEndpoint> endpoint_;

    LoadJob::Opener file_opener_;
    std::unique_ptr<LoadJob> job_;
    std::vector<std::unique_ptr<LoadJob>> dropped_;
    int job_slot_ = 0;
    std::chrono::steady_clock::time_point job_start_;
    std::string last_loaded_;
};
