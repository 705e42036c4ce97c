#include "io/load_job.h"

#include <algorithm>
#include <new>

#include "io/input_bytes.h"
#include "io/instrument_file.h"
#include "io/loadi.h"

namespace {

// Bytes read between two looks at the cancel flag and two progress steps.
constexpr std::size_t kPiece = 1 << 20;

// An input read piece by piece, counting what it has read and failing as
// soon as the job is cancelled. Loader thread.
class CountedInput final : public InputBytes {
  public:
    CountedInput(InputBytes& in, std::atomic<std::uint64_t>& done, const std::atomic<bool>& stop)
        : in_(in), done_(done), stop_(stop) {}
    std::uint64_t size() const override { return in_.size(); }
    bool read_at(std::uint64_t offset, void* dst, std::size_t n) override {
        auto* to = static_cast<std::uint8_t*>(dst);
        for (std::size_t at = 0; at < n;) {
            if (stop_.load(std::memory_order_relaxed)) return false;
            const std::size_t piece = std::min(n - at, kPiece);
            if (!in_.read_at(offset + at, to + at, piece)) return false;
            at += piece;
            read_ += piece;
            done_.store(std::min(read_, in_.size()), std::memory_order_relaxed);
        }
        return true;
    }

  private:
    InputBytes& in_;
    std::atomic<std::uint64_t>& done_;
    const std::atomic<bool>& stop_;
    std::uint64_t read_ = 0;
};

}  // namespace

LoadJob::LoadJob(std::string path, std::string leaf, bool instrument)
    : path_(std::move(path)), leaf_(std::move(leaf)), instrument_(instrument) {}

LoadJob::~LoadJob() {
    cancel();
    if (thread_.joinable()) thread_.join();
}

void LoadJob::start(const Opener& open) {
    thread_ = std::thread([this, open] {
        run(open);
        {
            const std::lock_guard lock(finish_mutex_);
            finished_.store(true, std::memory_order_release);
        }
        finish_cv_.notify_all();
    });
}

bool LoadJob::wait_finished(std::chrono::milliseconds limit) {
    std::unique_lock lock(finish_mutex_);
    return finish_cv_.wait_for(lock, limit, [this] { return finished(); });
}

bool LoadJob::read_all(InputBytes& in, std::vector<std::uint8_t>* keep) {
    const std::uint64_t size = in.size();
    total_.store(size, std::memory_order_relaxed);
    std::vector<std::uint8_t> piece;
    try {
        if (keep) {
            keep->resize(size);
        } else {
            piece.resize(std::min<std::uint64_t>(size, kPiece));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::uint64_t at = 0; at < size;) {
        if (cancelled()) return false;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size - at, kPiece));
        if (!in.read_at(at, keep ? keep->data() + at : piece.data(), n)) return false;
        at += n;
        done_.store(at, std::memory_order_relaxed);
    }
    return true;
}

void LoadJob::run(const Opener& open) {
    std::unique_ptr<InputBytes> in;
    if (open) {
        in = open(path_);
    } else {
        auto file = std::make_unique<FileInput>(path_.c_str());
        if (file->ok()) in = std::move(file);
    }
    if (!in) return;
    opened_ = true;
    if (instrument_ && is_sfz_path(path_.c_str())) {
        in.reset();
        sfz_.progress = [this](std::uint64_t done, std::uint64_t total) {
            total_.store(total, std::memory_order_relaxed);
            done_.store(done, std::memory_order_relaxed);
            return !cancel_.load(std::memory_order_relaxed);
        };
        sfz_.prepare(path_);
        return;
    }
    if (instrument_ && is_bank_path(path_.c_str())) {
        // Straight from the file into the records: the sample data is read
        // once, into the block the sounds share.
        const std::uint64_t size = in->size();
        total_.store(size, std::memory_order_relaxed);
        // Compressed samples are decoded after the file is read: their bytes
        // count again, so the bar shows the decoding as well.
        bank_.decode_progress = [this, size](std::uint64_t done, std::uint64_t total) {
            total_.store(size + total, std::memory_order_relaxed);
            done_.store(size + done, std::memory_order_relaxed);
            return !cancel_.load(std::memory_order_relaxed);
        };
        CountedInput counted(*in, done_, cancel_);
        bank_.source = path_;
        bank_.prepare(counted, leaf_.c_str());
        return;
    }
    if (instrument_) {
        if (!read_all(*in, &bytes_)) {
            bytes_.clear();
            opened_ = false;
        }
        return;
    }
    // A sample is read through once first: the count shows progress and the
    // decoder then finds the file in the page cache.
    if (!read_all(*in, nullptr)) return;
    in.reset();
    if (cancelled()) return;
    sound_ = prepare_sound(path_.c_str(), leaf_.c_str());
}

bool LoadJob::publish(int slot) {
    if (!finished() || cancelled() || !opened_) return false;
    if (!instrument_) return place_sound(slot, std::move(sound_)) == LoadResult::loaded;
    if (is_bank_path(path_.c_str())) return bank_.publish() > 0;
    if (is_sfz_path(path_.c_str())) return sfz_.publish() > 0;
    MemoryInput in(bytes_.data(), bytes_.size());
    const int read = read_instrument_file(in, path_.c_str());
    std::vector<std::uint8_t>().swap(bytes_);
    return read > 0;
}
