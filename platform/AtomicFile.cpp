// AtomicFile.cpp - replacing a file through a hidden sibling.
#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/BeneathFolder.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"

namespace crateforge::fs {

namespace {

// Bytes gathered before a write reaches the file; larger writes go straight
// through.
constexpr std::size_t kBufferSize = 256 * 1024;
// Links followed at most at the target, as the kernel's own limit.
constexpr int kMaxLinkHops = 40;
// Random characters of a sibling's name, and bytes of the target's name kept
// in it (so that it stays below NAME_MAX whatever the target's length).
constexpr std::size_t kRandomChars = 6;
constexpr std::size_t kNameKept = 200;
constexpr int kNameAttempts = 100;

// SIGXFSZ is ignored while any AtomicFile is open on any thread.
std::mutex g_signalMutex;
int g_signalUsers = 0;
struct sigaction g_previousAction;

void HoldFileSizeSignal() {
    std::lock_guard<std::mutex> lock(g_signalMutex);
    if (g_signalUsers++ == 0) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGXFSZ, &ignore, &g_previousAction);
    }
}

void ReleaseFileSizeSignal() {
    std::lock_guard<std::mutex> lock(g_signalMutex);
    if (--g_signalUsers == 0)
        sigaction(SIGXFSZ, &g_previousAction, nullptr);
}

std::atomic<SyncCall> g_sync{&::fsync};

int Sync(int fd) {
    return g_sync.load(std::memory_order_relaxed)(fd);
}

// What CopyBytes answers when the file copied from ended early.
constexpr char kSourceEndedText[] = "the file copied from ended early";

bool Fail(pack::Fault& fault, int error) {
    return pack::Fail(fault, pack::FaultKind::Io,
                      error == ENODATA ? kSourceEndedText : pack::ErrnoText(error));
}

std::string RandomSuffix() {
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[kRandomChars];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        static std::atomic<unsigned> counter{0};
        auto x = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        x ^= (static_cast<unsigned long long>(getpid()) << 32) ^ counter.fetch_add(7919);
        for (unsigned char& b : bytes) {
            x = x * 6364136223846793005ull + 1442695040888963407ull;
            b = static_cast<unsigned char>(x >> 56);
        }
    }
    std::string out;
    for (unsigned char b : bytes)
        out += kChars[b % (sizeof kChars - 1)];
    return out;
}

// Puts the file `temp` of the folder at `name` in it, refusing to replace
// anything when `replace` is false.
int RenameInto(int folder, const std::string& temp, const std::string& name, bool replace) {
    if (replace)
        return renameat(folder, temp.c_str(), folder, name.c_str()) == 0 ? 0 : errno;
    if (renameat2(folder, temp.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without RENAME_NOREPLACE: a hard link is just as exclusive.
    if (linkat(folder, temp.c_str(), folder, name.c_str(), 0) != 0)
        return errno;
    unlinkat(folder, temp.c_str(), 0);
    return 0;
}

}  // namespace

SyncCall ReplaceSyncCall(SyncCall call) {
    return g_sync.exchange(call ? call : &::fsync);
}

std::string FollowLinks(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        char buffer[PATH_MAX];
        const ssize_t n = readlink(current.c_str(), buffer, sizeof buffer - 1);
        if (n < 0)
            return current;
        const std::string link(buffer, static_cast<std::size_t>(n));
        current = !link.empty() && link[0] == '/' ? link : JoinPath(ParentDirectory(current), link);
    }
    return current;
}

AtomicFile::AtomicFile() = default;

AtomicFile::~AtomicFile() {
    Abort();
}

std::string AtomicFile::WriteFailure() const {
    if (writeError_ == ENODATA)
        return kSourceEndedText;
    return writeError_ != 0 ? pack::ErrnoText(writeError_) : std::string();
}

bool AtomicFile::Begin(const std::string& target, const AtomicFileOptions& options,
                       pack::Fault& fault) {
    Abort();
    const std::string resolved = options.followLink ? FollowLinks(target) : target;
    // The folder is found by its path (the caller chose it, links and all);
    // everything after that goes through its descriptor.
    const std::string dir = ParentDirectory(resolved);
    const int folder = OpenFolderAt(AT_FDCWD, dir.c_str());
    if (folder < 0)
        return Fail(fault, errno);
    const bool began = BeginIn(folder, std::string(LastComponent(resolved)), resolved, options,
                               options.followLink, fault);
    if (!began)
        close(folder);
    return began;
}

bool AtomicFile::BeginAt(int folder, std::string_view name, const std::string& displayPath,
                         const AtomicFileOptions& options, pack::Fault& fault) {
    Abort();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos)
        return Fail(fault, EINVAL);
    const int own = fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return Fail(fault, errno);
    const bool began = BeginIn(own, std::string(name), displayPath, options, false, fault);
    if (!began)
        close(own);
    return began;
}

bool AtomicFile::BeginIn(int folder, std::string name, const std::string& displayPath,
                         const AtomicFileOptions& options, bool linkFollowed, pack::Fault& fault) {
    inPlace_ = false;
    restored_ = false;
    target_ = displayPath;
    name_ = std::move(name);
    replace_ = options.replace;
    durable_ = options.durable;
    keepMode_.reset();
    writeError_ = 0;
    written_ = 0;
    buffered_ = 0;

    struct stat st;
    bool regular = false;
    if (fstatat(folder, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        regular = S_ISREG(st.st_mode);
        // A link left at the target after following links is a dangling
        // one or a loop: nothing to replace it with safely.
        if (!S_ISREG(st.st_mode) && !(S_ISLNK(st.st_mode) && !linkFollowed))
            return pack::Fail(fault, pack::FaultKind::Io,
                              S_ISDIR(st.st_mode) ? pack::ErrnoText(EISDIR) : "not a regular file");
        if (S_ISREG(st.st_mode) && options.keepMode) {
            keepMode_ = st.st_mode & 07777;
            keepOwner_ = st.st_uid;
            keepGroup_ = st.st_gid;
        }
    } else if (errno != ENOENT) {
        return Fail(fault, errno);
    }
    if (!buffer_) {
        buffer_.reset(new (std::nothrow) unsigned char[kBufferSize]);
        if (!buffer_)
            return Fail(fault, ENOMEM);
    }

    std::string base = name_;
    if (base.size() > kNameKept)
        base.resize(kNameKept);
    // A new file is created with its final mode, so that the umask applies
    // without being read; a replaced file gets its old mode at Commit.
    const mode_t createMode = keepMode_ ? 0600 : options.newFileMode;
    const std::string dir = ParentDirectory(target_);
    int error = 0;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        tempName_ = "." + base + "." + RandomSuffix();
        slot_ = RegisterTempFileAt(folder, tempName_.c_str());
        if (slot_ < 0) {
            error = EMFILE;
            break;
        }
        fd_ = openat(folder, tempName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                     createMode);
        if (fd_ >= 0)
            break;
        error = errno;
        UnregisterTempFile(slot_);
        slot_ = -1;
        if (error != EEXIST)
            break;
    }
    if (fd_ < 0) {
        tempName_.clear();
        // The folder takes no new file; the old file itself may still be
        // writable, and rewriting it is better than not saving at all.
        if (options.allowInPlace && regular && (error == EACCES || error == EPERM))
            return BeginInPlace(folder, fault);
        return Fail(fault, error);
    }
    folder_ = folder;
    temp_ = JoinPath(dir, tempName_);
    HoldFileSizeSignal();
    ignoringFileSizeSignal_ = true;
    return true;
}

bool AtomicFile::BeginInPlace(int folder, pack::Fault& fault) {
    fd_ = openat(folder, name_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0)
        return Fail(fault, errno == EACCES || errno == EPERM ? EACCES : errno);
    struct stat st;
    if (fstat(fd_, &st) != 0) {
        const int error = errno;
        close(fd_);
        fd_ = -1;
        return Fail(fault, error);
    }
    oldSize_ = static_cast<std::uint64_t>(st.st_size);
    // The old bytes go aside first: whatever fails later, they come back.
    const std::string tempDir = TempDirectory();
    backupFd_ = NamelessFile(tempDir);
    int error = backupFd_ < 0 ? errno : CopyBytes(fd_, 0, backupFd_, oldSize_);
    if (error != 0) {
        if (backupFd_ >= 0)
            close(backupFd_);
        backupFd_ = -1;
        close(fd_);
        fd_ = -1;
        return pack::Fail(fault, pack::FaultKind::Io,
                          "its folder takes no new file, and no copy of it can be kept in " +
                              tempDir +
                              " while it is rewritten in place: " + pack::ErrnoText(error));
    }
    folder_ = folder;
    inPlace_ = true;
    restored_ = false;
    touched_ = false;
    sigset_t held;
    sigemptyset(&held);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&held, signal);
    holdingSignals_ = pthread_sigmask(SIG_BLOCK, &held, &previousMask_) == 0;
    HoldFileSizeSignal();
    ignoringFileSizeSignal_ = true;
    return true;
}

bool AtomicFile::Reserve(std::uint64_t length, pack::Fault& fault) {
    if (fd_ < 0)
        return Fail(fault, EBADF);
    if (length == 0)
        return true;
    if (inPlace_)
        touched_ = true;
    const int error = posix_fallocate(fd_, 0, static_cast<off_t>(length));
    if (error == 0 || error == EOPNOTSUPP || error == EINVAL || error == ENOSYS)
        return true;
    FailWrite(error);
    return Fail(fault, error);
}

bool AtomicFile::CopyFrom(int fd, std::uint64_t offset, std::uint64_t length) {
    if (fd_ < 0)
        return FailWrite(EBADF);
    if (writeError_ != 0 || !Flush())
        return false;
    if (inPlace_)
        touched_ = true;
    written_ += length;
    const int error = CopyBytes(fd, offset, fd_, length);
    return error == 0 || FailWrite(error);
}

bool AtomicFile::WriteAt(std::uint64_t offset, const void* data, std::size_t length) {
    if (fd_ < 0 || inPlace_)
        return FailWrite(fd_ < 0 ? EBADF : EINVAL);
    if (writeError_ != 0 || !Flush())
        return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n =
            pwrite(fd_, bytes + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return FailWrite(n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    written_ = std::max<std::uint64_t>(written_, offset + length);
    return true;
}

void AtomicFile::RestoreInPlace() {
    restored_ = false;
    if (fd_ < 0 || backupFd_ < 0)
        return;
    if (!touched_ && written_ == 0 && buffered_ == 0) {
        restored_ = true;
        return;
    }
    buffered_ = 0;
    restored_ = lseek(fd_, 0, SEEK_SET) == 0 && CopyBytes(backupFd_, 0, fd_, oldSize_) == 0 &&
                ftruncate(fd_, static_cast<off_t>(oldSize_)) == 0 && Sync(fd_) == 0;
}

bool AtomicFile::FailWrite(int error) {
    if (writeError_ == 0)
        writeError_ = error != 0 ? error : EIO;
    return false;
}

bool AtomicFile::Flush() {
    std::size_t done = 0;
    while (done < buffered_) {
        const ssize_t n = write(fd_, buffer_.get() + done, buffered_ - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return FailWrite(n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    buffered_ = 0;
    return true;
}

bool AtomicFile::Write(const void* data, std::size_t length) {
    if (fd_ < 0)
        return FailWrite(EBADF);
    if (writeError_ != 0)
        return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (inPlace_)
        touched_ = true;
    written_ += length;
    if (buffered_ + length <= kBufferSize) {
        if (length > 0)
            std::memcpy(buffer_.get() + buffered_, bytes, length);
        buffered_ += length;
        return true;
    }
    if (!Flush())
        return false;
    if (length < kBufferSize) {
        std::memcpy(buffer_.get(), bytes, length);
        buffered_ = length;
        return true;
    }
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = write(fd_, bytes + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return FailWrite(n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFile::Commit(pack::Fault& fault, int* readable) {
    if (readable)
        *readable = -1;
    if (fd_ < 0)
        return Fail(fault, EBADF);
    int error = writeError_;
    if (error == 0 && !Flush())
        error = writeError_;
    if (inPlace_) {
        if (error == 0 && ftruncate(fd_, static_cast<off_t>(written_)) != 0)
            error = errno;
        if (error == 0 && durable_ && Sync(fd_) != 0)
            error = errno;
        if (error != 0) {
            Abort();  // puts the old bytes back
            return Fail(fault, error);
        }
        if (readable)
            *readable = openat(folder_, name_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        close(fd_);
        fd_ = -1;
        Release();
        return true;
    }
    if (error == 0 && durable_ && Sync(fd_) != 0)
        error = errno;
    if (error == 0 && keepMode_) {
        // The owner first: changing it may clear set-id bits that the mode
        // then restores. Only permitted for root; others keep their own.
        if (fchown(fd_, keepOwner_, keepGroup_) != 0 && errno != EPERM)
            error = errno;
        if (error == 0 && fchmod(fd_, *keepMode_) != 0)
            error = errno;
    }
    if (close(fd_) != 0 && error == 0)
        error = errno;
    fd_ = -1;
    int reader = -1;
    if (error == 0 && readable)
        reader = openat(folder_, tempName_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (error == 0)
        error = RenameInto(folder_, tempName_, name_, replace_);
    if (error != 0) {
        if (reader >= 0)
            close(reader);
        Abort();
        return Fail(fault, error);
    }
    if (readable)
        *readable = reader;
    // The rename is done; a folder that cannot be synced loses nothing.
    if (durable_)
        Sync(folder_);
    Release();
    return true;
}

void AtomicFile::Release() {
    // The slot goes before the folder's descriptor: a signal handler never
    // sees a descriptor that may be reused.
    if (slot_ >= 0)
        UnregisterTempFile(slot_);
    slot_ = -1;
    temp_.clear();
    tempName_.clear();
    if (folder_ >= 0)
        close(folder_);
    folder_ = -1;
    if (backupFd_ >= 0)
        close(backupFd_);
    backupFd_ = -1;
    if (ignoringFileSizeSignal_)
        ReleaseFileSizeSignal();
    ignoringFileSizeSignal_ = false;
    if (holdingSignals_)
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    holdingSignals_ = false;
    buffered_ = 0;
}

void AtomicFile::Abort() {
    if (inPlace_ && fd_ >= 0)
        RestoreInPlace();
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    if (!tempName_.empty() && !inPlace_ && folder_ >= 0)
        unlinkat(folder_, tempName_.c_str(), 0);
    Release();
}

}  // namespace crateforge::fs
