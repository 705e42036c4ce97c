#include "safe_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

std::string folder_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string leaf_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The mode a file made by open(2) with 0666 would get: the umask applies.
mode_t default_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool output_is_safe(const std::string& out, const std::vector<std::string>& inputs,
                    std::string& error) {
    struct stat o {};
    if (::stat(out.c_str(), &o) != 0) return true;  // nothing there yet
    if (S_ISDIR(o.st_mode)) {
        error = out + " is a directory";
        return false;
    }
    for (const std::string& in : inputs) {
        struct stat i {};
        if (::stat(in.c_str(), &i) == 0 && i.st_dev == o.st_dev && i.st_ino == o.st_ino) {
            error = out + " is the same file as the input " + in + "; choose another output";
            return false;
        }
    }
    return true;
}

SafeOutput::~SafeOutput() {
    discard();
}

bool SafeOutput::open(const std::string& path, int rate, std::string& error) {
    discard();
    path_ = path;
    std::string pattern = folder_of(path) + "/." + leaf_of(path) + ".partial-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    temp_ = pattern;
    // The finished file gets the mode the old one had, or a new file's mode.
    struct stat old {};
    ::fchmod(fd, ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : default_mode());
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    fd_ = fd;
    sf_ = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (!sf_) {
        error = "cannot write " + path + ": " + sf_strerror(nullptr);
        discard();
        return false;
    }
    write_error_.clear();
    pending_.clear();
    pending_.reserve(2 * kPendingFrames);
    return true;
}

bool SafeOutput::write(const float* interleaved, std::size_t frames) {
    if (!sf_) return false;
    // Gathered into large writes: a song comes in many short buffers.
    pending_.insert(pending_.end(), interleaved, interleaved + 2 * frames);
    return pending_.size() < 2 * kPendingFrames || flush();
}

bool SafeOutput::flush() {
    const auto n = static_cast<sf_count_t>(pending_.size() / 2);
    const bool ok = n == 0 || sf_writef_float(sf_, pending_.data(), n) == n;
    pending_.clear();
    if (!ok && write_error_.empty()) write_error_ = sf_strerror(sf_);
    return ok;
}

bool SafeOutput::commit(std::string& error) {
    if (!sf_) {
        error = "writing " + path_ + " failed: the file is not open";
        return false;
    }
    flush();
    std::string why = write_error_;
    const int closed = sf_close(sf_);
    sf_ = nullptr;
    if (why.empty() && closed != 0) why = sf_error_number(closed);
    // On disk before it takes the old file's place.
    if (why.empty() && ::fsync(fd_) != 0) why = std::strerror(errno);
    if (why.empty() && ::close(std::exchange(fd_, -1)) != 0) why = std::strerror(errno);
    if (why.empty() && ::rename(temp_.c_str(), path_.c_str()) != 0) why = std::strerror(errno);
    if (!why.empty()) {
        error = "writing " + path_ + " failed: " + why;
        discard();
        return false;
    }
    temp_.clear();
    return true;
}

void SafeOutput::discard() {
    if (sf_) {
        sf_close(sf_);
        sf_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
}
