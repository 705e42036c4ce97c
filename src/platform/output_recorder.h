// Recording what is played: the mix as heard, written to a WAV or FLAC file.
//
// The audio thread copies each buffer into a preallocated ring and never
// waits; a writer thread of the recorder drains the ring into the file.
// Frames that find the ring full (the disk fell behind) are counted as
// dropped, never waited for.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class OutputRecorder {
  public:
    // What a recording came to once stopped.
    struct Summary {
        std::uint64_t written = 0;  // frames in the file
        std::uint64_t dropped = 0;  // frames played but missing from the file
        float rate = 0;
        std::string error;  // why writing stopped early, if it did
    };

    // GUI thread. `ring_frames` is rounded up to a power of two; 0 keeps
    // about four seconds at the rate expected by `start`.
    explicit OutputRecorder(std::size_t ring_frames = 0);
    // GUI thread. Stops a recording still running (the file is finished).
    ~OutputRecorder();
    OutputRecorder(const OutputRecorder&) = delete;
    OutputRecorder& operator=(const OutputRecorder&) = delete;

    // GUI thread. Creates `path` for stereo: FLAC (24-bit) when the name
    // ends in ".flac", otherwise WAV (32-bit float, the mix as it is), at
    // the rate of the first buffer captured (`expected_rate` until then).
    // Starts the writer. False, with `error` set, when the file cannot be made.
    bool start(const std::string& path, float expected_rate, std::string& error);
    // Audio thread. Copies `frames` interleaved stereo frames into the ring;
    // what does not fit, or comes at another rate than the first buffer's,
    // is counted as dropped. Never locks, allocates or waits.
    void capture(const float* interleaved, unsigned frames, float rate) noexcept;
    // GUI thread, once `capture` can no longer be called (the recorder is
    // detached from the tap). Writes out what the ring holds, finishes the
    // file and says what it holds. Does nothing more once stopped.
    Summary stop();

    // Any thread.
    bool recording() const noexcept { return running_.load(std::memory_order_acquire); }
    float rate() const noexcept {
        const float r = rate_.load(std::memory_order_relaxed);
        return r != 0 ? r : expected_rate_;
    }
    std::uint64_t captured() const noexcept { return captured_.load(std::memory_order_relaxed); }
    std::uint64_t dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }
    const std::string& path() const noexcept { return path_; }

    // Tests: the writer stops draining while held, as behind a stalled disk.
    void hold_writer(bool hold) noexcept { hold_.store(hold, std::memory_order_relaxed); }

  private:
    bool open_file(float rate);
    void write_loop();
    bool drain();

    std::size_t ring_request_;
    std::vector<float> ring_;  // interleaved frames; the size is a power of two
    std::size_t mask_ = 0;     // frames in the ring, less one
    // Frame counts: the audio thread advances `head_`, the writer `tail_`.
    std::atomic<std::uint64_t> head_{0}, tail_{0};
    std::atomic<std::uint64_t> captured_{0}, dropped_{0};
    std::atomic<bool> running_{false}, quit_{false}, hold_{false};
    float expected_rate_ = 0;
    std::atomic<float> rate_{0};  // set by the first buffer captured
    std::string path_;
    struct File;
    std::unique_ptr<File> file_;
    std::uint64_t written_ = 0;  // the writer thread, then `stop`
    std::string error_;          // the writer thread, then `stop`
    std::thread writer_;
};

// The output's tap: every buffer that reaches the output passes here, and is
// recorded while a recorder is attached.
namespace output_tap {

// Audio thread. Hands the buffer to the attached recorder, if any.
void pass(const float* interleaved, unsigned frames, float rate) noexcept;
// GUI thread. Buffers go to `recorder` from now on (null: to none). Returns
// once no buffer can still be on its way to the recorder attached before.
void attach(OutputRecorder* recorder) noexcept;

}  // namespace output_tap
