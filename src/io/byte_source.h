// Random-access byte input for the file parsers, so that a parser reads a
// file on disk and a fuzzer's memory buffer through the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Any thread. Bytes available.
    virtual std::uint64_t size() const = 0;
    // Any thread. Copies exactly `n` bytes from `offset`; false (and nothing
    // promised about `dst`) when they are not all there.
    virtual bool read(std::uint64_t offset, void* dst, std::size_t n) = 0;
};

// Bytes held in memory by the caller.
class MemorySource final : public ByteSource {
  public:
    MemorySource(const void* data, std::size_t size) noexcept
        : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* dst, std::size_t n) override;

  private:
    const unsigned char* data_;
    std::size_t size_;
};

// An open file; the size is measured once when it is opened.
class FileSource final : public ByteSource {
  public:
    // GUI thread. Opens `path` for reading; check `is_open()`.
    explicit FileSource(const char* path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool is_open() const { return file_ != nullptr; }
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* dst, std::size_t n) override;

  private:
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
};
