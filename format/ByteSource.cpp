// ByteSource.cpp - memory and file sources for the format core.
#include "format/ByteSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "format/PackFormat.h"

namespace pack {

namespace {

// strerror_r comes in two flavours; take whichever this C library has.
[[maybe_unused]] const char* PickErrorText(int rc, const char* buf) {
    return rc == 0 ? buf : "unknown error";
}
[[maybe_unused]] const char* PickErrorText(const char* text, const char*) {
    return text;
}

}  // namespace

std::string ErrnoText(int error) {
    char buf[256] = {};
    return PickErrorText(strerror_r(error, buf, sizeof buf), buf);
}

bool PreadExact(int fd, std::uint64_t offset, void* buffer, std::size_t length) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (length > 0) {
        const ssize_t n = ::pread(fd, out, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;  // the file is shorter than it was
            return false;
        }
        out += n;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

FileIdentity IdentityFromStat(const struct stat& st) {
    FileIdentity identity;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.size = static_cast<std::uint64_t>(st.st_size);
    identity.modifiedSeconds = st.st_mtim.tv_sec;
    identity.modifiedNanoseconds = st.st_mtim.tv_nsec;
    return identity;
}

}  // namespace

bool IdentityOf(int fd, FileIdentity& identity) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    identity = IdentityFromStat(st);
    return true;
}

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
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    identity_ = FileIdentity();
    windowLength_ = 0;
}

bool FileSource::Open(const std::string& path, Fault& fault) {
    Close();
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer. It is left on: reads of a regular file never block on it, and
    // readers open packs often (the reader library once per load), so the
    // two calls to clear it would cost more than they give.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fail(fault, FaultKind::Io, ErrnoText(errno));
    return Adopt(fd, fault);
}

bool FileSource::Adopt(int fd, Fault& fault) {
    if (fd != fd_)
        Close();
    if (fd < 0)
        return Fail(fault, FaultKind::Io, ErrnoText(EBADF));
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return Fail(fault, FaultKind::Io, ErrnoText(error));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail(fault, FaultKind::Io,
                    S_ISDIR(st.st_mode) ? "it is a folder" : "not a regular file");
    }
    const FileIdentity identity = IdentityFromStat(st);
    if (identity.size > kMaxPackSize) {
        ::close(fd);
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
