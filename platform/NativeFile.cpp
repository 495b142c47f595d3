// NativeFile.cpp - what is built on the native calls, the same on every
// system.
#include "platform/NativeFile.h"

#include <cerrno>

namespace pack {

FileIdentity IdentityFromStatus(const native::FileStatus& status) {
    FileIdentity identity;
    identity.device = status.device;
    identity.inode = status.inode;
    identity.size = status.size;
    identity.modifiedSeconds = status.modifiedSeconds;
    identity.modifiedNanoseconds = status.modifiedNanoseconds;
    return identity;
}

bool IdentityOf(int fd, FileIdentity& identity) {
    native::FileStatus status;
    if (!native::StatusOf(fd, status))
        return false;
    identity = IdentityFromStatus(status);
    return true;
}

bool PreadExact(int fd, std::uint64_t offset, void* buffer, std::size_t length) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (length > 0) {
        const std::int64_t n = native::ReadAt(fd, offset, out, length);
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

}  // namespace pack
