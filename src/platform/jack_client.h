// The program's one JACK client. The audio output and the MIDI input are
// parts of the same client "Plexora", so the server wakes the program once
// per period, not once per part. Whichever part comes first opens the client;
// it closes when the last part lets it go.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class JackClient {
  public:
    enum Slot { kAudio = 0, kMidi = 1, kSlots = 2 };

    // What a part does in the server's cycle.
    class Part {
      public:
        virtual ~Part() = default;
        // Audio thread (the server's process thread). Never blocks or allocates.
        virtual void process(jack_nframes_t frames) noexcept = 0;
        // The server's notification thread: a cycle was missed somewhere in the graph.
        virtual void xrun() noexcept {}
    };

    // GUI thread or the thread opening the audio output. A client called `name` whose `slot` is
    // free: the one already open when it has, else a new one (never starting a server). Null when
    // no server answers; `why` says so.
    static std::shared_ptr<JackClient> acquire(const std::string& name, Slot slot,
                                               std::string& why);
    // GUI thread. Closes the client.
    ~JackClient();
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    // GUI thread. `part` is called from the next cycle on.
    void attach(Slot slot, Part* part);
    // GUI thread. Returns once `slot`'s part is not being called and never will be.
    void detach(Slot slot);
    // GUI thread. The part of `slot` is gone for good: another may take the slot.
    void give_back(Slot slot);

    // GUI thread or the opening thread. Held around every call a part makes
    // on the client (ports, connections, lists); never in the cycle.
    static std::unique_lock<std::recursive_mutex> calls();
    // GUI thread. Null once the server has gone: no JACK call may be made then.
    jack_client_t* handle() const { return alive() ? client_ : nullptr; }
    // Any thread. False once the server has shut down or thrown the client out.
    bool alive() const { return alive_.load(std::memory_order_acquire); }
    // The client's name as the server gave it ("Plexora", or "Plexora-01" when taken).
    const std::string& name() const { return name_; }
    float rate() const { return rate_; }
    // Audio thread (in the cycle). The server's frame time of the period's first frame.
    std::int64_t cycle_start() const noexcept { return jack_last_frame_time(client_); }
    // Any thread. True while `slot` has a part the cycle calls.
    bool has_part(Slot slot) const noexcept { return parts_[slot].load() != nullptr; }
    unsigned period() const { return period_.load(std::memory_order_relaxed); }

  private:
    JackClient() = default;
    bool open(const std::string& name, std::string& why);
    static int process(jack_nframes_t frames, void* self);
    static int xrun(void* self);
    static int buffer_size(jack_nframes_t frames, void* self);
    static void shutdown(jack_status_t code, const char* reason, void* self);

    jack_client_t* client_ = nullptr;
    std::string name_;
    float rate_ = 0;
    std::atomic<unsigned> period_{0};
    std::atomic<bool> alive_{false};
    std::atomic<Part*> parts_[kSlots] = {};
    bool taken_[kSlots] = {};  // under the list's mutex
    std::atomic<int> inside_{0};
};
