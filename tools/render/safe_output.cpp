#include "safe_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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

// `path` with its symbolic links followed to the name they end at (which
// may not exist yet); `path` itself when a loop or error stops the search.
std::string follow_links(const std::string& path) {
    std::string at = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
        std::string link(std::size_t(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(at.c_str(), link.data(), link.size());
        if (n <= 0 || std::size_t(n) >= link.size()) return path;
        link.resize(std::size_t(n));
        at = link[0] == '/' ? link : folder_of(at) + "/" + link;
    }
    return path;
}

// Temporary files are named ".LEAF.partial-PID-XXXXXX" and locked while
// their render runs: one whose lock is free was left by a render that died.
std::string partial_prefix(const std::string& target) {
    return "." + leaf_of(target) + ".partial-";
}

void remove_dead_partials(const std::string& target) {
    const std::string folder = folder_of(target), prefix = partial_prefix(target);
    DIR* d = ::opendir(folder.c_str());
    if (!d) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.rfind(prefix, 0) != 0) continue;
        // Only names this scheme made: digits, a dash, six characters.
        const std::string rest = name.substr(prefix.size());
        const auto dash = rest.find('-');
        if (dash == 0 || dash == std::string::npos || rest.size() != dash + 7 ||
            rest.find_first_not_of("0123456789") != dash)
            continue;
        const std::string file = folder + "/" + name;
        const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(file.c_str());
        ::close(fd);
    }
    ::closedir(d);
}

const char* kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// The 44-byte header of a stereo 32-bit float WAV stream whose length is
// not known: both sizes say "as far as the data goes".
void stream_header(unsigned char (&h)[44], int rate) {
    const auto put = [&h](int at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) h[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    std::memcpy(h, "RIFF", 4);
    put(4, 0xFFFFFFFFu, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put(16, 16, 4);
    put(20, 3, 2);  // IEEE float
    put(22, 2, 2);
    put(24, std::uint32_t(rate), 4);
    put(28, std::uint32_t(rate) * 8, 4);
    put(32, 8, 2);
    put(34, 32, 2);
    std::memcpy(h + 36, "data", 4);
    put(40, 0xFFFFFFFFu, 4);
}

}  // namespace

bool input_is_regular(const std::string& path, std::string& error) {
    struct stat st {};
    // A directory is left to the readers, which say so in their own words.
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return true;
    error = path + ": is " + kind_of(st.st_mode) + "; only regular files are read";
    return false;
}

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
    target_ = follow_links(path);
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode))
            return open_direct(target_, rate, error);
        error = "cannot write " + path + ": it is " + kind_of(st.st_mode);
        return false;
    }
    remove_dead_partials(target_);
    std::string pattern =
        folder_of(target_) + "/" + partial_prefix(target_) + std::to_string(::getpid()) + "-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    temp_ = pattern;
    fd_ = fd;
    // Held until the file is renamed or removed: a later render that finds
    // the lock free knows this one died.
    ::flock(fd, LOCK_EX | LOCK_NB);
    // The finished file gets the mode the old one had, or a new file's mode.
    struct stat old {};
    ::fchmod(fd, ::stat(target_.c_str(), &old) == 0 ? (old.st_mode & 07777) : default_mode());
    return open_sound(SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, error);
}

bool SafeOutput::open_direct(const std::string& target, int rate, std::string& error) {
    // A FIFO waits here for its reader, as a writer into a pipe should.
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    unsigned char header[44];
    stream_header(header, rate);
    if (fd < 0 || ::write(fd, header, sizeof header) != ssize_t(sizeof header)) {
        error = "cannot write " + path_ + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    fd_ = fd;
    direct_ = true;
    // The frames follow the header as they are, little-endian floats.
    return open_sound(SF_FORMAT_RAW | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE, rate, error);
}

bool SafeOutput::open_sound(int format, int rate, std::string& error) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = format;
    sf_ = sf_open_fd(fd_, SFM_WRITE, &info, SF_FALSE);
    if (!sf_) {
        error = "cannot write " + path_ + ": " + sf_strerror(nullptr);
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
    // On disk before it takes the old file's place (the link's target's,
    // for a link).
    if (why.empty() && !direct_ && ::fsync(fd_) != 0) why = std::strerror(errno);
    if (why.empty() && ::close(std::exchange(fd_, -1)) != 0) why = std::strerror(errno);
    if (why.empty() && !direct_ && ::rename(temp_.c_str(), target_.c_str()) != 0)
        why = std::strerror(errno);
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
    direct_ = false;
}
