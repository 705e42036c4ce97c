// The WAV file the renderer writes. It may never be one of the inputs, and
// it appears at its path only whole: the frames go to a temporary file in the
// same folder, which is renamed into place when the render has succeeded. A
// failed or interrupted render leaves whatever was at the path untouched and
// no temporary file behind; one killed outright leaves a temporary file that
// the next render into the same folder recognises and removes. A symbolic
// link is followed: its target is replaced and the link stays. A device or a
// FIFO is written straight into, as a stream (a WAV header whose sizes say
// "until the end", then the frames), and never replaced.
#pragma once

#include <sndfile.h>

#include <cstddef>
#include <string>
#include <vector>

// Tool thread. Refuses `out` when it names the same file as one of `inputs`
// (same device and inode, so links and other spellings are caught), or a
// directory. False with the reason in `error`.
bool output_is_safe(const std::string& out, const std::vector<std::string>& inputs,
                    std::string& error);

// Tool thread. Refuses an input that is a FIFO, a device or a socket (a
// FIFO would keep its reader waiting for ever, a device has no end). False
// with the reason in `error`; a missing input or a directory is left to its reader.
bool input_is_regular(const std::string& path, std::string& error);

class SafeOutput {
  public:
    SafeOutput() = default;
    ~SafeOutput();  // removes the temporary file unless committed
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // Tool thread. Creates the temporary file beside `path` (or opens the
    // device or FIFO it names) for a stereo 32-bit float WAV at `rate`, after
    // removing what dead renders left beside it. False with the reason in `error`.
    bool open(const std::string& path, int rate, std::string& error);
    // Tool thread. Appends interleaved stereo frames. False on a write error,
    // whose reason `commit` then reports.
    bool write(const float* interleaved, std::size_t frames);
    // Tool thread. Finishes the file and renames it into place. False with
    // libsndfile's or the system's reason in `error`.
    bool commit(std::string& error);
    // Tool thread. Drops the temporary file.
    void discard();

    // True when the frames go straight into a device or FIFO.
    bool direct() const { return direct_; }
    // libsndfile's reason for the first failed write; empty when none failed.
    const std::string& write_error() const { return write_error_; }

  private:
    // Frames held back to be written together.
    static constexpr std::size_t kPendingFrames = 16384;
    bool flush();

    bool open_direct(const std::string& target, int rate, std::string& error);
    // libsndfile over `fd_` in `format`, stereo at `rate`; ready for frames.
    bool open_sound(int format, int rate, std::string& error);

    std::string path_;
    std::string target_;  // `path_` with its links followed
    std::string temp_;
    bool direct_ = false;
    int fd_ = -1;
    SNDFILE* sf_ = nullptr;
    std::string write_error_;
    std::vector<float> pending_;
};
