// A private JACK server for one test, and the two helper clients that play
// the keyboard and listen to the program.
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

// `jackd -d dummy` under a name of its own, started by the constructor and
// stopped by the destructor (and killed by `timeout` should the test die).
class JackServer {
  public:
    JackServer(unsigned rate, unsigned period);
    ~JackServer();
    bool running() const { return ready_; }
    const std::string& name() const { return name_; }
    const std::string& log() const { return log_path_; }

  private:
    std::string name_;
    std::string log_path_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

// A client with one MIDI output that sends short messages at the start of
// the next cycle and notes the frame time at which each went out.
class MidiSender {
  public:
    explicit MidiSender(const char* name);
    ~MidiSender();
    bool ok() const { return client_ != nullptr; }
    std::string port_name() const;
    // Any thread: queues a three-byte message; returns its frame time once sent.
    std::uint32_t send(std::uint8_t status, std::uint8_t a, std::uint8_t b);

  private:
    static int process(jack_nframes_t frames, void* self);
    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::atomic<std::uint32_t> pending_{0};  // status | a << 8 | b << 16, 0 = none
    std::atomic<std::uint32_t> sent_at_{0};
    std::atomic<bool> sent_{false};
};

// A client with two audio inputs that records whatever reaches them. Each
// cycle is stored at its frame time, so cycles the server dropped (xruns)
// leave gaps that are marked as not recorded instead of shifting the rest.
class Recorder {
  public:
    Recorder(const char* name, std::size_t max_frames);
    ~Recorder();
    bool ok() const { return client_ != nullptr; }
    // Connects each output port whose name matches `pattern` to an input.
    int connect_from(const char* pattern);
    void start() { recording_ = true; }
    void stop() { recording_ = false; }
    std::uint32_t first_frame() const { return first_frame_; }
    std::size_t frames() const { return count_.load(); }
    bool recorded(std::size_t i) const { return i < valid_.size() && valid_[i]; }
    const std::vector<float>& left() const { return left_; }
    const std::vector<float>& right() const { return right_; }
    unsigned server_xruns() const { return xruns_.load(); }
    jack_client_t* client() const { return client_; }

  private:
    static int process(jack_nframes_t frames, void* self);
    static int on_xrun(void* self);
    jack_client_t* client_ = nullptr;
    jack_port_t* in_[2] = {};
    std::vector<float> left_, right_;
    std::vector<std::uint8_t> valid_;
    bool started_ = false;
    std::atomic<bool> recording_{false};
    std::atomic<std::size_t> count_{0};
    std::uint32_t first_frame_ = 0;
    std::atomic<unsigned> xruns_{0};
};

}  // namespace e2e
