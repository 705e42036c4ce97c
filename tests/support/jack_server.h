// A private JACK server (dummy driver) for the tests that need one, and the
// child-process and waiting helpers that go with it.
#pragma once

#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace jackkit {

using Clock = std::chrono::steady_clock;

inline void sleep_s(double s) {
    std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

// Waits up to `seconds` for `ready`.
template <typename F>
bool wait_for(double seconds, F ready) {
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (!ready()) {
        if (Clock::now() > until) return false;
        sleep_s(0.005);
    }
    return true;
}

// Starts `args` under `timeout` (so that it ends even if this test dies),
// output to `log`.
class Child {
  public:
    Child(std::vector<std::string> args, const std::string& log, int seconds = 120) {
        args.insert(args.begin(), {"timeout", std::to_string(seconds)});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawnp(&pid_, "timeout", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ <= 0 || exited(0.0)) return;
        kill(pid_, SIGTERM);
        if (!exited(5.0)) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    }
    // Waits up to `seconds` for the child to end; its status is then `status`.
    // Once it has been reaped its id may belong to another process: it is
    // never waited for or signalled again.
    bool exited(double seconds) {
        reaped_ =
            reaped_ || wait_for(seconds, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
        return reaped_;
    }
    pid_t pid_ = -1;
    int status = -1;

  private:
    bool reaped_ = false;
};

// `jackd -d dummy` under a name of its own (`tag`, the process and a count);
// every client of this process talks to it only, and none may start another.
// A server that is to be killed takes a name kept from run to run instead
// (`reused_name`): JACK's registry of servers has a few entries and frees a
// killed server's entry only when a server of the same name starts again.
struct JackServer {
    explicit JackServer(const std::string& tag, unsigned period = 256, unsigned rate = 48000,
                        bool reused_name = false)
        : name(reused_name ? tag + "-" + std::to_string(getuid())
                           : tag + "-" + std::to_string(getpid()) + "-" + std::to_string(made_++)),
          log("/tmp/" + name + ".log"),
          child({"jackd", "-r", "-n", name, "-d", "dummy", "-r", std::to_string(rate), "-p",
                 std::to_string(period)},
                log) {
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        running = wait_for(15, [] {
            jack_client_t* c = jack_client_open("plexora-probe", JackNoStartServer, nullptr);
            if (c) jack_client_close(c);
            return c != nullptr;
        });
    }
    // Sends `signal` to jackd itself (`timeout` could not pass SIGKILL on)
    // and waits for it to end.
    bool stop(int signal) {
        const std::string at = "/proc/" + std::to_string(child.pid_);
        std::ifstream children(at + "/task/" + std::to_string(child.pid_) + "/children");
        pid_t jackd = 0;
        if (!(children >> jackd) || jackd <= 0 || kill(jackd, signal) != 0) return false;
        return child.exited(10);
    }

    const std::string name, log;
    Child child;
    bool running = false;

  private:
    static inline int made_ = 0;
};

// A second client: a MIDI output "keys" that sends one event at a time at
// the start of the next cycle (and, while `flood` is set, a note-on and its
// note-off every cycle), and two audio inputs. Every period heard is checked
// against the ramp a testkit::Ramp plays; while `recording`, periods are also
// kept at their frame time, so cycles the server dropped leave gaps marked as
// not recorded instead of shifting the rest.
class Kit {
  public:
    using Bytes = std::vector<std::uint8_t>;
    explicit Kit(std::size_t frames = 0) : left(frames), right(frames), valid(frames) {
        client = jack_client_open("plexora-kit", JackNoStartServer, nullptr);
        if (!client) return;
        keys_ = jack_port_register(client, "keys", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        for (int i = 0; i < 2; ++i)
            in_[i] = jack_port_register(client, i ? "in_2" : "in_1", JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsInput, 0);
        jack_set_process_callback(client, &Kit::process, this);
        if (jack_activate(client) != 0) jack_client_close(client), client = nullptr;
    }
    ~Kit() {
        if (client) jack_client_close(client);
    }
    std::string keys() const { return jack_port_name(keys_); }
    // Sends one event at frame `offset` of the next cycle and waits for it to
    // go; returns the frame time of its cycle.
    std::uint32_t send_now(const Bytes& event, jack_nframes_t offset = 0) {
        pending_ = event;
        offset_ = offset;
        due_ = true;  // publishes `pending_` to the process thread
        wait_for(5, [&] { return !due_; });
        return sent_at;
    }
    // Links the two outputs of `output_client` to the kit's inputs.
    bool listen(const std::string& output_client) {
        const std::string me = jack_get_client_name(client);
        for (const std::string i : {"1", "2"}) {
            const std::string from = output_client + ":out_" + i, to = me + ":in_" + i;
            if (jack_connect(client, from.c_str(), to.c_str()) != 0) return false;
        }
        return true;
    }
    // The recorded samples of `v` in [from, to), without the gaps.
    std::vector<float> take(const std::vector<float>& v, std::size_t from, std::size_t to) const {
        std::vector<float> r;
        for (std::size_t i = from; i < to; ++i)
            if (valid[i]) r.push_back(v[i]);
        return r;
    }
    // The longest stretch of unbroken recording inside [from, to).
    std::vector<float> longest_run(const std::vector<float>& v, std::size_t from,
                                   std::size_t to) const {
        std::size_t best = from, len = 0, start = from;
        for (std::size_t i = from; i <= to; ++i) {
            if (i < to && valid[i]) continue;
            if (i - start > len) best = start, len = i - start;
            start = i + 1;
        }
        return {v.begin() + static_cast<std::ptrdiff_t>(best),
                v.begin() + static_cast<std::ptrdiff_t>(best + len)};
    }

    jack_client_t* client = nullptr;
    std::atomic<std::uint64_t> cycles{0};
    std::atomic<std::uint32_t> sent_at{0};
    std::atomic<bool> flood{false};
    // Periods heard, by length (2048 and 4096 frames), that carried the ramp
    // whole; and periods that broke it, or fell silent once it had started.
    std::atomic<unsigned> whole_2048{0}, whole_4096{0}, broken{0};
    std::vector<float> left, right;
    std::vector<std::uint8_t> valid;
    std::atomic<bool> recording{false};
    std::atomic<std::size_t> frames{0};
    std::uint32_t first_frame = 0;

  private:
    static int process(jack_nframes_t n, void* self) {
        auto* me = static_cast<Kit*>(self);
        void* buf = jack_port_get_buffer(me->keys_, n);
        jack_midi_clear_buffer(buf);
        const jack_nframes_t now = jack_last_frame_time(me->client);
        if (me->due_) {
            jack_midi_event_write(buf, std::min(me->offset_, n - 1), me->pending_.data(),
                                  me->pending_.size());
            me->sent_at = now;
            me->due_ = false;
        }
        if (me->flood) {
            const std::uint8_t note = me->cycles % 128;
            const std::uint8_t on[3] = {0x92, note, 100}, off[3] = {0x82, note, 0};
            jack_midi_event_write(buf, 0, on, 3);
            jack_midi_event_write(buf, 1, off, 3);
        }
        const auto* l = static_cast<const float*>(jack_port_get_buffer(me->in_[0], n));
        const auto* r = static_cast<const float*>(jack_port_get_buffer(me->in_[1], n));
        me->check(l, r, n);
        me->record(l, r, n, now);
        ++me->cycles;
        return 0;
    }
    void check(const float* l, const float* r, jack_nframes_t n) {
        if (l[0] == 0.0f) {
            broken += ramp_started_;
            return;
        }
        ramp_started_ = true;
        bool whole = true;
        for (jack_nframes_t i = 0; i < n; ++i)
            whole &= l[i] == l[0] + static_cast<float>(i) && r[i] == -l[i];
        if (!whole)
            ++broken;
        else if (n == 2048)
            ++whole_2048;
        else if (n == 4096)
            ++whole_4096;
    }
    void record(const float* l, const float* r, jack_nframes_t n, jack_nframes_t now) {
        if (!recording) return;
        if (frames == 0 && !valid[0]) first_frame = now;
        const std::size_t at = now - first_frame;
        if (at >= left.size()) return;
        const std::size_t count = std::min<std::size_t>(n, left.size() - at);
        std::memcpy(&left[at], l, count * sizeof(float));
        std::memcpy(&right[at], r, count * sizeof(float));
        std::memset(&valid[at], 1, count);
        frames.store(at + count);
    }

    jack_port_t* keys_ = nullptr;
    jack_port_t* in_[2] = {};
    Bytes pending_;  // written by the test thread only while `due_` is clear
    jack_nframes_t offset_ = 0;
    std::atomic<bool> due_{false};
    bool ramp_started_ = false;  // process thread only
};

}  // namespace jackkit
