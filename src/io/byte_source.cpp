#include "io/byte_source.h"

#include <sys/stat.h>

#include <cstring>

bool MemorySource::read(std::uint64_t offset, void* dst, std::size_t n) {
    if (offset > size_ || n > size_ - offset) return false;
    if (n) std::memcpy(dst, data_ + offset, n);
    return true;
}

FileSource::FileSource(const char* path) {
    file_ = std::fopen(path, "rb");
    if (!file_) return;
    struct stat st {};
    if (fstat(fileno(file_), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(file_);
        file_ = nullptr;
        return;
    }
    size_ = static_cast<std::uint64_t>(st.st_size);
}

FileSource::~FileSource() {
    if (file_) std::fclose(file_);
}

bool FileSource::read(std::uint64_t offset, void* dst, std::size_t n) {
    if (!file_ || offset > size_ || n > size_ - offset) return false;
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return std::fread(dst, 1, n, file_) == n;
}
