// FileLock.h - an advisory lock on a file while it is read or replaced.
//
// The desktop program and vpf hold a shared lock on a pack while they load
// it and an exclusive one while they save it, so that two of them never
// interleave: a save waits until another save of the same pack has ended.
// The lock is flock(2) on a descriptor of the file itself. A save replaces
// the file by a rename, so the file a waiter locked may no longer be the one
// at the path when it gets the lock; a holder therefore compares the two
// (SamePathAndFile) and treats a difference as a change by someone else.
// Programs that do not take the lock are not held back by it; the identity
// check of the document (size and modification time) catches their changes.
#pragma once

#include <string>

#include "platform/NativeFile.h"

namespace crateforge::fs {

// How long Acquire waits for another holder before it gives up.
inline constexpr int kLockWaitMilliseconds = 30000;

class FileLock {
  public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens `path` (links followed) for reading and locks it, shared or
    // exclusive. Returns 0, or an errno value: ENOENT when there is no file
    // (nothing to lock), EWOULDBLOCK when another holder kept it for
    // kLockWaitMilliseconds.
    int Acquire(const std::string& path, bool exclusive);
    // Unlocks and closes; safe to call twice.
    void Release();

    bool Held() const { return fd_ >= 0; }
    // The identity of the locked file (valid while Held()).
    const pack::FileIdentity& Identity() const { return identity_; }
    // Whether `path` still names the locked file, unchanged.
    bool SamePathAndFile(const std::string& path) const;

  private:
    int fd_ = -1;
    pack::FileIdentity identity_;
};

// The identity of the file at `path` (links followed). False when there is
// none (errno set).
bool IdentityAt(const std::string& path, pack::FileIdentity& identity);

}  // namespace crateforge::fs
