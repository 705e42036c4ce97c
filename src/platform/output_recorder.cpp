#include "platform/output_recorder.h"

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <chrono>
#include <cstring>

#include "core/text.h"

namespace {

// How long the writer rests when the ring is empty: a small part of what
// the ring holds, so the ring never comes near full while the disk keeps up.
constexpr auto kWriterRest = std::chrono::milliseconds(20);
constexpr double kRingSeconds = 4.0;

}  // namespace

struct OutputRecorder::File {
    SNDFILE* handle = nullptr;
    int rate = 0;
    ~File() {
        if (handle) sf_close(handle);
    }
};

OutputRecorder::OutputRecorder(std::size_t ring_frames) : ring_request_(ring_frames) {}

OutputRecorder::~OutputRecorder() {
    stop();
}

bool OutputRecorder::open_file(float rate) {
    SF_INFO info{};
    info.samplerate = int(rate + 0.5f);
    info.channels = 2;
    const bool flac = ends_with_nocase(path_, ".flac");
    // A plain WAV file, which every reader takes; at 48 kHz it holds about
    // three hours, after which writing stops and the user is told.
    info.format = flac ? (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) : (SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    if (file_->handle) sf_close(file_->handle);
    file_->handle = sf_open(path_.c_str(), SFM_WRITE, &info);
    if (!file_->handle) return false;
    file_->rate = info.samplerate;
    if (!flac) {
        // The header follows every write, so a program that dies still
        // leaves a file that reads to its last write.
        sf_command(file_->handle, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    }
    // A full-scale peak is 1.0 exactly: keep it from wrapping in 24 bits.
    sf_command(file_->handle, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

bool OutputRecorder::start(const std::string& path, float expected_rate, std::string& error) {
    if (writer_.joinable()) {
        error = "A recording is already running.";
        return false;
    }
    if (!(expected_rate > 0)) expected_rate = 48000.0f;
    path_ = path;
    file_ = std::make_unique<File>();
    if (!open_file(expected_rate)) {
        error = sf_strerror(nullptr);
        file_.reset();
        return false;
    }
    const std::size_t want =
        ring_request_ ? ring_request_ : std::size_t(double(expected_rate) * kRingSeconds);
    const std::size_t frames = std::bit_ceil(std::max<std::size_t>(want, 2));
    ring_.assign(frames * 2, 0.0f);
    mask_ = frames - 1;
    head_.store(0);
    tail_.store(0);
    captured_.store(0);
    dropped_.store(0);
    written_ = 0;
    error_.clear();
    expected_rate_ = expected_rate;
    rate_.store(0);
    quit_.store(false);
    running_.store(true, std::memory_order_release);
    writer_ = std::thread([this] { write_loop(); });
    return true;
}

void OutputRecorder::capture(const float* in, unsigned frames, float rate) noexcept {
    if (!running_.load(std::memory_order_acquire) || frames == 0) return;
    captured_.fetch_add(frames, std::memory_order_relaxed);
    // The first buffer sets the file's rate; one at another rate (the output
    // was changed meanwhile) cannot go into the same file.
    float file_rate = 0;
    rate_.compare_exchange_strong(file_rate, rate, std::memory_order_relaxed);
    if (file_rate != 0 && rate != file_rate) {
        dropped_.fetch_add(frames, std::memory_order_relaxed);
        return;
    }
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    const std::uint64_t room = (mask_ + 1) - (head - tail_.load(std::memory_order_acquire));
    const std::size_t n = std::size_t(std::min<std::uint64_t>(frames, room));
    const std::size_t at = std::size_t(head & mask_);
    const std::size_t first = std::min(n, mask_ + 1 - at);
    std::memcpy(&ring_[at * 2], in, first * 2 * sizeof(float));
    std::memcpy(&ring_[0], in + first * 2, (n - first) * 2 * sizeof(float));
    head_.store(head + n, std::memory_order_release);
    if (n < frames) dropped_.fetch_add(frames - n, std::memory_order_relaxed);
}

bool OutputRecorder::drain() {
    const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    const std::uint64_t ready = head_.load(std::memory_order_acquire) - tail;
    if (ready == 0) return false;
    // The file was made at the rate the output had; the first buffer says
    // the rate it has now, and nothing is written yet.
    const int rate = int(rate_.load(std::memory_order_relaxed) + 0.5f);
    if (written_ == 0 && error_.empty() && rate != file_->rate && !open_file(float(rate)))
        error_ = sf_strerror(nullptr);
    const std::size_t at = std::size_t(tail & mask_);
    const std::size_t first = std::min<std::size_t>(std::size_t(ready), mask_ + 1 - at);
    const std::size_t pieces[2][2] = {{at, first}, {0, std::size_t(ready) - first}};
    for (const auto& [from, count] : pieces) {
        if (count == 0 || !error_.empty()) continue;
        const sf_count_t done = sf_writef_float(file_->handle, &ring_[from * 2], sf_count_t(count));
        written_ += std::uint64_t(std::max<sf_count_t>(done, 0));
        if (done != sf_count_t(count)) error_ = sf_strerror(file_->handle);
    }
    // After a failed write the ring is still emptied (what it held counts as
    // dropped): the audio thread must never find it full for good.
    tail_.store(tail + ready, std::memory_order_release);
    return true;
}

void OutputRecorder::write_loop() {
    for (;;) {
        const bool quitting = quit_.load(std::memory_order_acquire);
        if (quitting || !hold_.load(std::memory_order_relaxed)) {
            const bool any = drain();
            if (quitting) {
                if (!any) return;
                continue;
            }
            if (any) continue;
        }
        std::this_thread::sleep_for(kWriterRest);
    }
}

OutputRecorder::Summary OutputRecorder::stop() {
    if (!writer_.joinable()) return {};
    running_.store(false, std::memory_order_release);
    quit_.store(true, std::memory_order_release);
    writer_.join();
    Summary s;
    s.written = written_;
    // Every frame captured is either in the file or dropped.
    s.dropped = captured_.load() - written_;
    dropped_.store(s.dropped);
    s.rate = rate();
    s.error = error_;
    file_.reset();  // finishes the header
    ring_.clear();
    ring_.shrink_to_fit();
    return s;
}

namespace output_tap {
namespace {

std::atomic<OutputRecorder*> attached{nullptr};
std::atomic<int> passing{0};

}  // namespace

void pass(const float* interleaved, unsigned frames, float rate) noexcept {
    // Announce first, then look: `attach` stores first, then looks at the
    // announcement, so one of the two sees the other.
    passing.fetch_add(1, std::memory_order_seq_cst);
    if (OutputRecorder* r = attached.load(std::memory_order_seq_cst))
        r->capture(interleaved, frames, rate);
    passing.fetch_sub(1, std::memory_order_seq_cst);
}

void attach(OutputRecorder* recorder) noexcept {
    attached.store(recorder, std::memory_order_seq_cst);
    while (passing.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
}

}  // namespace output_tap
