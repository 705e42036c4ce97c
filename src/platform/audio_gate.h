// The door between an audio output's thread and the render callback. The
// output calls `render` for every buffer; once `close` has returned, no call
// of the render callback is running and none will start, whatever the
// output's own thread still does.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/render.h"

using RenderProc = void (*)(void* cookie, void* buffer, std::size_t size,
                            const raw_audio_format& format);

class AudioGate {
  public:
    AudioGate(RenderProc proc, void* cookie) : proc_(proc), cookie_(cookie) {}

    // Audio thread. Fills `frames` interleaved stereo float frames at `rate`:
    // the render callback's mix while the gate is open, silence otherwise.
    void render(float* out, unsigned frames, float rate) noexcept;
    // Audio thread. The output reports a buffer it could not deliver in time.
    void count_xrun() noexcept { xruns_.fetch_add(1, std::memory_order_relaxed); }

    // GUI thread.
    void open() noexcept { open_.store(true, std::memory_order_seq_cst); }
    // GUI thread. Returns once no render callback is running.
    void close() noexcept;
    bool is_open() const noexcept { return open_.load(std::memory_order_relaxed); }

    // Any thread.
    std::uint64_t buffers() const noexcept { return buffers_.load(std::memory_order_relaxed); }
    std::uint64_t xruns() const noexcept { return xruns_.load(std::memory_order_relaxed); }

  private:
    RenderProc proc_;
    void* cookie_;
    std::atomic<bool> open_{false};
    std::atomic<int> inside_{0};
    std::atomic<std::uint64_t> buffers_{0};
    std::atomic<std::uint64_t> xruns_{0};
};
