#include "io/input_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool MemoryInput::read_at(std::uint64_t offset, void* dst, std::size_t n) {
    if (!holds(offset, n)) return false;
    if (n) std::memcpy(dst, data_ + offset, n);
    return true;
}

FileInput::FileInput(const char* path) {
    if (!path) {
        why_ = "has no name";
        return;
    }
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        why_ = std::string("cannot be opened: ") + std::strerror(errno);
        return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        why_ = S_ISDIR(st.st_mode) ? "is a directory" : "is not a regular file";
        ::close(fd_);
        fd_ = -1;
        return;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
}

FileInput::~FileInput() {
    if (fd_ >= 0) ::close(fd_);
}

bool FileInput::read_at(std::uint64_t offset, void* dst, std::size_t n) {
    if (fd_ < 0 || !holds(offset, n)) return false;
    auto* out = static_cast<char*>(dst);
    while (n > 0) {
        const ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;  // an error, or the file shrank under us
        out += got;
        offset += static_cast<std::uint64_t>(got);
        n -= static_cast<std::size_t>(got);
    }
    return true;
}
