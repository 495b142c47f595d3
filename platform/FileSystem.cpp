// FileSystem.cpp - POSIX directory listing, attributes and temporary folders.
#include "platform/FileSystem.h"

#include "platform/TempFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace crateforge::fs {

bool ListDirectory(const std::string& dir, std::vector<DirEntry>& out, pack::Fault* fault) {
    out.clear();
    DIR* handle = opendir(dir.c_str());
    if (!handle) {
        if (fault)
            pack::Fail(*fault, pack::FaultKind::Io, pack::ErrnoText(errno));
        return false;
    }
    errno = 0;
    while (dirent* e = readdir(handle)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        DirEntry entry;
        entry.name = std::move(name);
        const std::string full = JoinPath(dir, entry.name);
        struct stat st;
        if (lstat(full.c_str(), &st) != 0) {
            entry.statError = errno;  // gone since it was listed
        } else if (S_ISLNK(st.st_mode)) {
            entry.isSymlink = true;
            if (stat(full.c_str(), &st) != 0)
                entry.statError = errno;  // dangling, or a loop of links
        }
        if (entry.statError == 0) {
            entry.isDirectory = S_ISDIR(st.st_mode);
            entry.isRegular = S_ISREG(st.st_mode);
            entry.size = entry.isRegular ? static_cast<std::uint64_t>(st.st_size) : 0;
            entry.device = static_cast<std::uint64_t>(st.st_dev);
            entry.inode = static_cast<std::uint64_t>(st.st_ino);
        }
        out.push_back(std::move(entry));
        errno = 0;
    }
    const int readError = errno;
    closedir(handle);
    if (readError != 0) {
        out.clear();
        if (fault)
            pack::Fail(*fault, pack::FaultKind::Io, pack::ErrnoText(readError));
        return false;
    }
    std::sort(out.begin(), out.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return true;
}

bool IsDirectory(const std::string& path, bool followLinks) {
    struct stat st;
    const int rc = followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
    return rc == 0 && S_ISDIR(st.st_mode);
}

bool IsSymlink(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool RegularFileSize(const std::string& path, std::uint64_t& size) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::string TempDirectory() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = env && *env ? env : P_tmpdir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string MakeWorkspaceDirectory(pack::Fault* fault) {
    std::string pattern = JoinPath(TempDirectory(), "TMPXXXXXX");
    if (!mkdtemp(pattern.data())) {
        if (fault)
            pack::Fail(*fault, pack::FaultKind::Io, pack::ErrnoText(errno));
        return {};
    }
    return pattern;
}

namespace {

// Empties the folder open as `dir` (the descriptor stays the caller's).
bool EmptyFolderAt(int dir, std::string& firstReason) {
    const int listed = dup(dir);
    DIR* handle = listed >= 0 ? fdopendir(listed) : nullptr;
    if (!handle) {
        if (listed >= 0)
            close(listed);
        if (firstReason.empty())
            firstReason = pack::ErrnoText(errno);
        return false;
    }
    // Names first: removing while reading may skip names.
    std::vector<std::string> names;
    while (dirent* e = readdir(handle)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    }
    closedir(handle);
    bool ok = true;
    auto failed = [&](int error) {
        if (firstReason.empty())
            firstReason = pack::ErrnoText(error);
        ok = false;
    };
    for (const std::string& name : names) {
        if (unlinkat(dir, name.c_str(), 0) == 0 || errno == ENOENT)
            continue;
        if (errno != EISDIR && errno != EPERM) {
            failed(errno);
            continue;
        }
        const int sub = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
            failed(errno);
            continue;
        }
        const bool emptied = EmptyFolderAt(sub, firstReason);
        close(sub);
        if (!emptied)
            ok = false;
        else if (unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            failed(errno);
    }
    return ok;
}

}  // namespace

bool RemoveTree(const std::string& path, pack::Fault* fault) {
    std::string firstReason;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        firstReason = pack::ErrnoText(errno);
    } else if (!S_ISDIR(st.st_mode)) {
        if (unlink(path.c_str()) == 0 || errno == ENOENT)
            return true;
        firstReason = pack::ErrnoText(errno);
    } else {
        const int dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir < 0) {
            firstReason = pack::ErrnoText(errno);
        } else {
            const bool emptied = EmptyFolderAt(dir, firstReason);
            close(dir);
            if (emptied && rmdir(path.c_str()) != 0 && errno != ENOENT)
                firstReason = pack::ErrnoText(errno);
        }
    }
    if (firstReason.empty())
        return true;
    if (fault)
        pack::Fail(*fault, pack::FaultKind::Io, firstReason);
    return false;
}

bool WriteAll(int fd, const void* data, std::size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ssize_t n = write(fd, bytes, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

int NamelessFile(const std::string& dir) {
#ifdef O_TMPFILE
    const int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
#endif
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = JoinPath(
            dir, ".nameless-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        const int slot = RegisterTempFile(path.c_str());
        if (slot < 0) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        const int error = errno;
        if (fd >= 0)
            unlink(path.c_str());
        UnregisterTempFile(slot);
        if (fd >= 0 || error != EEXIST) {
            errno = error;
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

int SpoolToNamelessFile(int in, const std::string& dir, std::uint64_t limit,
                        SpoolFailure& failure) {
    constexpr std::size_t kBlock = 256 * 1024;
    const auto fail = [&](SpoolFailure what, int fd, int error) {
        if (fd >= 0)
            close(fd);
        failure = what;
        errno = error;
        return -1;
    };
    failure = SpoolFailure::None;
    const int fd = NamelessFile(dir);
    if (fd < 0)
        return fail(SpoolFailure::TempFolder, -1, errno);
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kBlock]);
    if (!block)
        return fail(SpoolFailure::NoMemory, fd, ENOMEM);
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t n = read(in, block.get(), kBlock);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(SpoolFailure::Read, fd, errno);
        if (n == 0)
            return fd;
        total += static_cast<std::uint64_t>(n);
        if (total > limit)
            return fail(SpoolFailure::TooLarge, fd, EFBIG);
        if (!WriteAll(fd, block.get(), static_cast<std::size_t>(n)))
            return fail(SpoolFailure::TempFolder, fd, errno);
    }
}

namespace {

// Bytes one read/write round of CopyBytes moves where copy_file_range
// cannot be used.
constexpr std::size_t kCopyBlock = 256 * 1024;

int CopyByReading(int from, std::uint64_t offset, int to, std::uint64_t length) {
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kCopyBlock]);
    if (!block)
        return ENOMEM;
    while (length > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(length, kCopyBlock));
        const ssize_t n = pread(from, block.get(), want, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENODATA;
        if (!WriteAll(to, block.get(), static_cast<std::size_t>(n)))
            return errno;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::uint64_t>(n);
    }
    return 0;
}

}  // namespace

int CopyBytes(int from, std::uint64_t offset, int to, std::uint64_t length) {
    auto in = static_cast<off_t>(offset);
    while (length > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(length, std::size_t{1} << 30));
        const ssize_t n = copy_file_range(from, &in, to, nullptr, want, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            // Not between these files (another file system on an old kernel,
            // a special file): the same bytes the slow way.
            if (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS ||
                errno == EBADF || errno == ETXTBSY)
                return CopyByReading(from, static_cast<std::uint64_t>(in), to, length);
            return errno;
        }
        if (n == 0)
            return ENODATA;
        length -= static_cast<std::uint64_t>(n);
    }
    return 0;
}

std::string_view LastComponent(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string ParentDirectory(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

std::string JoinPath(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (out.empty() || out.back() != '/')
        out += '/';
    out += name;
    return out;
}

}  // namespace crateforge::fs
