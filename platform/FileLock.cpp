// FileLock.cpp - flock on a pack while it is loaded or saved.
#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace crateforge::fs {

namespace {

// Pause between two tries while another holder has the lock.
constexpr int kLockPollMilliseconds = 20;

}  // namespace

FileLock::~FileLock() {
    Release();
}

int FileLock::Acquire(const std::string& path, bool exclusive) {
    Release();
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int operation = (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    int waited = 0;
    while (flock(fd, operation) != 0) {
        const int error = errno;
        if (error == EINTR)
            continue;
        // A file system without locks: nothing to keep apart there.
        if (error == ENOLCK || error == EOPNOTSUPP || error == EINVAL)
            break;
        if (error != EWOULDBLOCK || waited >= kLockWaitMilliseconds) {
            close(fd);
            return error;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMilliseconds));
        waited += kLockPollMilliseconds;
    }
    if (!pack::IdentityOf(fd, identity_)) {
        const int error = errno;
        close(fd);
        return error;
    }
    fd_ = fd;
    return 0;
}

void FileLock::Release() {
    if (fd_ >= 0)
        close(fd_);  // closing the last descriptor drops the lock
    fd_ = -1;
}

bool FileLock::SamePathAndFile(const std::string& path) const {
    pack::FileIdentity now;
    return fd_ >= 0 && IdentityAt(path, now) && now == identity_;
}

bool IdentityAt(const std::string& path, pack::FileIdentity& identity) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.size = static_cast<std::uint64_t>(st.st_size);
    identity.modifiedSeconds = st.st_mtim.tv_sec;
    identity.modifiedNanoseconds = st.st_mtim.tv_nsec;
    return true;
}

}  // namespace crateforge::fs
