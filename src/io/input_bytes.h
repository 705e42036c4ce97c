// The bytes a file reader parses: a file on disk, or a block of memory (tests
// and fuzz targets). A reader asks for a range and gets it only when every
// byte of it is present, so a size or offset read from the file can never make
// it read past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class InputBytes {
  public:
    virtual ~InputBytes() = default;
    // The reader's thread (one at a time). Bytes present.
    virtual std::uint64_t size() const = 0;
    // The reader's thread. Copies `n` bytes from `offset` into `dst`; false (and `dst`
    // unspecified) when the range is not wholly present or cannot be read.
    virtual bool read_at(std::uint64_t offset, void* dst, std::size_t n) = 0;

    // The reader's thread. True when [offset, offset + n) lies inside the input.
    bool holds(std::uint64_t offset, std::uint64_t n) const {
        return offset <= size() && n <= size() - offset;
    }
};

// Bytes in memory, not copied; the memory must outlive the reader.
class MemoryInput final : public InputBytes {
  public:
    MemoryInput(const void* data, std::size_t size)
        : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool read_at(std::uint64_t offset, void* dst, std::size_t n) override;

  private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// A file opened for reading; closed when the reader goes.
class FileInput final : public InputBytes {
  public:
    // Any thread. Check `ok()` before use.
    explicit FileInput(const char* path);
    ~FileInput() override;
    FileInput(const FileInput&) = delete;
    FileInput& operator=(const FileInput&) = delete;

    bool ok() const { return fd_ >= 0; }
    // Why the file could not be opened ("is a directory", the system's
    // reason); empty when it was.
    const std::string& why() const { return why_; }
    std::uint64_t size() const override { return size_; }
    bool read_at(std::uint64_t offset, void* dst, std::size_t n) override;

  private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::string why_;
};
