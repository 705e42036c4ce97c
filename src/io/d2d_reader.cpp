#include "io/d2d_reader.h"

#include <pthread.h>

#include "core/reclaim.h"

namespace {

// While a streamed voice plays the reader looks this often: playback moves
// on without telling it.
constexpr int kPollMs = 50;

}  // namespace

void D2DReader::start() {
    if (thread_.joinable()) return;
    passes_.store(0, std::memory_order_relaxed);
    thread_ = std::jthread([this](std::stop_token st) { D2DREADLOAD(st); });
}

void D2DReader::stop() {
    if (!thread_.joinable()) return;
    thread_.request_stop();
    d2d_signal();
    thread_.join();
    thread_ = std::jthread();
}

void D2DReader::wake() {
    d2d_signal();
}

void D2DReader::D2DREADLOAD(std::stop_token stop) {
    pthread_setname_np(pthread_self(), "kelvoryd2d_plex");
    DecodeScratch scratch;
    while (!stop.stop_requested()) {
        bool streaming = false;
        const bool work = d2d_pass(scratch, &streaming);
        passes_.fetch_add(1, std::memory_order_acq_rel);
        if (work) continue;
        // Nothing streams: sleep until a stream starts or ends (or stop).
        d2d_wait(streaming ? kPollMs : -1);
    }
    reclaim::release_thread_slot();
}
