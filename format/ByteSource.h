// ByteSource.h - where the format core reads a pack from: a file or memory.
//
// Parsers read through a ByteSource and never see a file descriptor or a
// pointer past the data: every read names its offset and length and fails
// unless both lie inside Size(). Two sources exist:
//
//   MemorySource  bytes already in memory (tests, fuzzing, spooled input);
//   FileSource    a pack file. Open() never blocks and refuses anything that
//                 is not a regular file (a FIFO given as the pack would
//                 otherwise hang the first read), and packs of 4 GiB or more.
//                 Small reads are served from a read-ahead window, so that a
//                 walk over thousands of small records costs a few large
//                 system calls instead of a seek and a read for each.
//
// A FileSource is not thread-safe (the window is shared state); threads that
// share a pack read it through DescriptorSource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/Fault.h"
#include "platform/NativeFile.h"

namespace pack {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const = 0;
    // Reads exactly `length` bytes at `offset`. False when they do not all
    // lie inside Size() or the read fails; the buffer's contents are then
    // unspecified.
    virtual bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) = 0;

    bool Holds(std::uint64_t offset, std::uint64_t length) const {
        return offset <= Size() && length <= Size() - offset;
    }
};

class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t Size() const override { return bytes_.size(); }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

  private:
    std::span<const std::uint8_t> bytes_;
};

class FileSource final : public ByteSource {
  public:
    // Bytes of the read-ahead window. Larger reads bypass it.
    static constexpr std::size_t kWindowSize = 256 * 1024;

    FileSource() = default;
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Opens `path` for reading. False with `fault` (kind Io, the errno text;
    // "not a regular file"; or "the file is 4 GiB or larger") otherwise.
    // Opening again closes the previous file first.
    bool Open(const std::string& path, Fault& fault);
    // The same for a descriptor already open for reading (standard input
    // redirected from a pack, or a spooled copy of a pipe). The source owns
    // `fd` from then on, also when it refuses it (it is then closed).
    bool Adopt(int fd, Fault& fault);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    std::uint64_t Size() const override { return identity_.size; }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

    int Descriptor() const { return fd_; }
    const FileIdentity& Identity() const { return identity_; }

  private:
    int fd_ = -1;
    FileIdentity identity_;
    std::unique_ptr<std::uint8_t[]> window_;
    std::uint64_t windowStart_ = 0;
    std::size_t windowLength_ = 0;
};

// A borrowed descriptor of a file of known size, read at offsets and no
// window: several threads may read one pack through their own
// DescriptorSource at once.
class DescriptorSource final : public ByteSource {
  public:
    DescriptorSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

  private:
    int fd_;
    std::uint64_t size_;
};

}  // namespace pack
