// A file opened in the background: a loader thread reads its bytes (an
// instrument file), reads and builds every record (a bank) or decodes it (a
// sample) into memory that no table holds, counting the bytes read so a
// window can show progress; the GUI thread then publishes the result in one
// step, or drops it when the job was cancelled. Nothing the tables hold
// changes before `publish`.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "io/bank_import.h"
#include "io/load.h"
#include "io/sfz_import.h"

class InputBytes;

class LoadJob {
  public:
    // Opens the file whose bytes are counted; tests hand in slow inputs.
    using Opener = std::function<std::unique_ptr<InputBytes>(const std::string& path)>;

    // GUI thread. `instrument`: an instrument file (read whole, then parsed
    // when published), a bank or an SFZ instrument (built on the thread, an
    // SFZ instrument's progress counting its samples' bytes); otherwise a sample
    // (decoded on the thread).
    LoadJob(std::string path, std::string leaf, bool instrument);
    // GUI thread. Cancels a running job and waits for its thread.
    ~LoadJob();
    LoadJob(const LoadJob&) = delete;
    LoadJob& operator=(const LoadJob&) = delete;

    // GUI thread. Starts the loader thread.
    void start(const Opener& open = {});
    // Any thread. Asks the loader thread to stop at its next piece.
    void cancel() { cancel_.store(true, std::memory_order_relaxed); }
    // Any thread. Progress: bytes read so far of the file's size.
    std::uint64_t done_bytes() const { return done_.load(std::memory_order_relaxed); }
    std::uint64_t total_bytes() const { return total_.load(std::memory_order_relaxed); }
    // Any thread. True once the loader thread has nothing more to do.
    bool finished() const { return finished_.load(std::memory_order_acquire); }
    // GUI thread. Blocks until the loader thread has finished or `limit` has
    // passed, whichever comes first; true when it has finished.
    bool wait_finished(std::chrono::milliseconds limit);
    bool cancelled() const { return cancel_.load(std::memory_order_relaxed); }
    const std::string& path() const { return path_; }
    const std::string& leaf() const { return leaf_; }

    // GUI thread, once finished and not cancelled. Puts the result into the
    // tables: a sample into `slot`, an instrument file or bank into the
    // instrument that holds the selected sound. True when something loaded.
    bool publish(int slot);

  private:
    void run(const Opener& open);
    bool read_all(InputBytes& in, std::vector<std::uint8_t>* keep);

    std::string path_, leaf_;
    bool instrument_;
    std::thread thread_;
    std::atomic<std::uint64_t> done_{0}, total_{0};
    std::atomic<bool> cancel_{false}, finished_{false};
    // Wakes a thread waiting in `wait_finished` when the loader thread ends.
    std::mutex finish_mutex_;
    std::condition_variable finish_cv_;
    // Written by the loader thread before `finished_`, read after it.
    bool opened_ = false;
    std::vector<std::uint8_t> bytes_;
    PreparedBank bank_;
    PreparedSfz sfz_;
    PreparedSound sound_;
};
