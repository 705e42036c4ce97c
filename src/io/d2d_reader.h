// The streaming reader: keeps the rings of streamed sounds filled while they
// play, and rewinds a stream when its voice has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <stop_token>
#include <thread>

#include "engine/stream.h"

// Owns the thread that runs D2DREADLOAD: `d2d_pass` in a loop. After a pass
// that found nothing to do it waits 50 ms while a streamed voice plays, and
// otherwise sleeps until `d2d_signal` (a stream started or ended) wakes it.
class D2DReader {
  public:
    D2DReader() = default;
    ~D2DReader() { stop(); }
    D2DReader(const D2DReader&) = delete;
    D2DReader& operator=(const D2DReader&) = delete;

    // GUI thread. Starts the thread (once; later calls do nothing while it runs).
    void start();
    // GUI thread. Asks the thread to finish its pass, then joins it.
    void stop();
    // Any thread. Cuts the current wait short (one process-wide signal).
    void wake();
    // Any thread. Passes completed since start.
    std::uint64_t passes() const { return passes_.load(std::memory_order_acquire); }

  private:
    void D2DREADLOAD(std::stop_token stop);

    std::jthread thread_;
    std::atomic<std::uint64_t> passes_{0};
};
