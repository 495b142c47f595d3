// ByteSource.cpp - memory and file sources for the format core.
#include "format/ByteSource.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "format/PackFormat.h"
#include "platform/NativeFile.h"

namespace pack {

bool MemorySource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
    if (!Holds(offset, length))
        return false;
    if (length > 0)
        std::memcpy(buffer, bytes_.data() + offset, length);
    return true;
}

bool DescriptorSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
    return Holds(offset, length) && (length == 0 || PreadExact(fd_, offset, buffer, length));
}

FileSource::~FileSource() {
    Close();
}

void FileSource::Close() {
    native::CloseFile(fd_);
    fd_ = -1;
    identity_ = FileIdentity();
    windowLength_ = 0;
}

bool FileSource::Open(const std::string& path, Fault& fault) {
    Close();
    // Never blocks, also on a FIFO; anything but a regular file is refused
    // by Adopt.
    const int fd = native::OpenForReading(path.c_str());
    if (fd < 0)
        return Fail(fault, FaultKind::Io, ErrnoText(errno));
    return Adopt(fd, fault);
}

bool FileSource::Adopt(int fd, Fault& fault) {
    if (fd != fd_)
        Close();
    if (fd < 0)
        return Fail(fault, FaultKind::Io, ErrnoText(EBADF));
    native::FileStatus st;
    if (!native::StatusOf(fd, st)) {
        const int error = errno;
        native::CloseFile(fd);
        return Fail(fault, FaultKind::Io, ErrnoText(error));
    }
    if (st.type != native::FileType::Regular) {
        native::CloseFile(fd);
        return Fail(fault, FaultKind::Io,
                    st.type == native::FileType::Folder ? "it is a folder" : "not a regular file");
    }
    const FileIdentity identity = IdentityFromStatus(st);
    if (identity.size > kMaxPackSize) {
        native::CloseFile(fd);
        return Fail(fault, FaultKind::Damaged, "the file is 4 GiB or larger", kMaxPackSize + 1);
    }
    fd_ = fd;
    identity_ = identity;
    return true;
}

bool FileSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
    if (fd_ < 0 || !Holds(offset, length))
        return false;
    if (length == 0)
        return true;
    if (offset >= windowStart_ && offset - windowStart_ + length <= windowLength_) {
        std::memcpy(buffer, window_.get() + (offset - windowStart_), length);
        return true;
    }
    if (length > kWindowSize / 4)
        return PreadExact(fd_, offset, buffer, length);
    if (!window_) {
        window_.reset(new (std::nothrow) std::uint8_t[kWindowSize]);
        if (!window_)
            return PreadExact(fd_, offset, buffer, length);
    }
    const std::uint64_t rest = identity_.size - offset;
    const std::size_t fill = rest < kWindowSize ? static_cast<std::size_t>(rest) : kWindowSize;
    windowLength_ = 0;
    if (!PreadExact(fd_, offset, window_.get(), fill))
        return false;
    windowStart_ = offset;
    windowLength_ = fill;
    std::memcpy(buffer, window_.get(), length);
    return true;
}

}  // namespace pack
