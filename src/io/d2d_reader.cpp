#include "io/d2d_reader.h"

#include <pthread.h>

#include <chrono>

#include "core/reclaim.h"

namespace {

constexpr auto kIdleWait = std::chrono::milliseconds(50);

}  // namespace

void D2DReader::start() {
    if (thread_.joinable()) return;
    passes_.store(0, std::memory_order_relaxed);
    thread_ = std::jthread([this](std::stop_token st) { D2DREADLOAD(st); });
}

void D2DReader::stop() {
    if (!thread_.joinable()) return;
    thread_.request_stop();
    thread_.join();
    thread_ = std::jthread();
}

void D2DReader::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    idle_.notify_one();
}

void D2DReader::D2DREADLOAD(std::stop_token stop) {
    pthread_setname_np(pthread_self(), "kelvoryd2d_plex");
    DecodeScratch scratch;
    while (!stop.stop_requested()) {
        const bool work = d2d_pass(scratch);
        passes_.fetch_add(1, std::memory_order_acq_rel);
        if (work) continue;
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait_for(lock, stop, kIdleWait, [this] { return woken_; });
        woken_ = false;
    }
    reclaim::release_thread_slot();
}
