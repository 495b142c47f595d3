// BeneathFolder.cpp - folders below a chosen one, reached only through
// descriptors.
#include "platform/BeneathFolder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/FileSystem.h"

namespace crateforge::fs {

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// Cleared for good when the kernel lacks openat2 (or a filter refuses it).
std::atomic<bool> g_kernelResolution{true};

bool IsComponent(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

// The folder at `relative` below `root`, resolved by the kernel without
// leaving `root` and without following any link; -1 with errno.
int OpenBeneath(int root, const std::string& relative) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(kFolderFlags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how));
}

Descriptor Failed(pack::Fault& fault, std::string reason) {
    pack::Fail(fault, pack::FaultKind::Io, std::move(reason));
    return Descriptor();
}

}  // namespace

int OpenFolderAt(int at, const char* name, int flags) {
    const int fd = openat(at, name, kFolderFlags | flags);
    if (fd >= 0 || errno != EACCES)
        return fd;
    const int path = openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC | flags);
    if (path < 0) {
        errno = EACCES;
        return -1;
    }
    struct stat st;
    if (fstat(path, &st) != 0 || !S_ISDIR(st.st_mode)) {
        close(path);
        errno = ENOTDIR;
        return -1;
    }
    return path;
}

void Descriptor::Close() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

void BeneathFolder::UseKernelResolution(bool use) {
    g_kernelResolution.store(use);
}

bool BeneathFolder::Open(const std::string& path, pack::Fault& fault) {
    root_ = Descriptor(OpenFolderAt(AT_FDCWD, path.c_str()));
    if (!root_.IsOpen())
        return pack::Fail(fault, pack::FaultKind::Io, path + ": " + pack::ErrnoText(errno));
    path_ = path;
    return true;
}

std::string BeneathFolder::PathOf(std::span<const std::string> components) const {
    std::string path = path_;
    for (const std::string& c : components)
        path = JoinPath(path, c);
    return path;
}

Descriptor BeneathFolder::OpenFolder(std::span<const std::string> components, MakeFolders make,
                                     mode_t mode, pack::Fault& fault, bool* missing) const {
    if (missing)
        *missing = false;
    if (!root_.IsOpen())
        return Failed(fault, pack::ErrnoText(EBADF));
    for (const std::string& c : components)
        if (!IsComponent(c))
            return Failed(fault, PathOf(components) + ": " + pack::ErrnoText(EINVAL));
    if (components.empty()) {
        const int fd = fcntl(root_.Get(), F_DUPFD_CLOEXEC, 0);
        return fd >= 0 ? Descriptor(fd) : Failed(fault, path_ + ": " + pack::ErrnoText(errno));
    }
    if (g_kernelResolution.load()) {
        std::string relative;
        for (const std::string& c : components) {
            if (!relative.empty())
                relative += '/';
            relative += c;
        }
        const int fd = OpenBeneath(root_.Get(), relative);
        if (fd >= 0)
            return Descriptor(fd);
        if (errno == ENOSYS || errno == EPERM)
            g_kernelResolution.store(false);
        // Missing folders are made, and refusals explained, one step at a
        // time below.
    }
    return Walk(components, make, mode, fault, missing);
}

Descriptor BeneathFolder::Walk(std::span<const std::string> components, MakeFolders make,
                               mode_t mode, pack::Fault& fault, bool* missing) const {
    Descriptor current(fcntl(root_.Get(), F_DUPFD_CLOEXEC, 0));
    if (!current.IsOpen())
        return Failed(fault, path_ + ": " + pack::ErrnoText(errno));
    for (std::size_t k = 0; k < components.size(); ++k) {
        const char* name = components[k].c_str();
        int fd = OpenFolderAt(current.Get(), name, O_NOFOLLOW);
        if (fd < 0 && errno == ENOENT && make == MakeFolders::Yes) {
            if (mkdirat(current.Get(), name, mode) != 0 && errno != EEXIST)
                return Failed(fault, "cannot make the folder " + PathOf(components.first(k + 1)) +
                                         ": " + pack::ErrnoText(errno));
            fd = OpenFolderAt(current.Get(), name, O_NOFOLLOW);
        }
        if (fd < 0) {
            const int error = errno;
            const std::string path = PathOf(components.first(k + 1));
            if (error == ENOENT && missing)
                *missing = true;
            struct stat st;
            if ((error == ELOOP || error == ENOTDIR) &&
                fstatat(current.Get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                return Failed(fault, path + (S_ISLNK(st.st_mode) ? " is a link, not a folder"
                                                                 : " is not a folder"));
            return Failed(fault, path + ": " + pack::ErrnoText(error));
        }
        current = Descriptor(fd);
    }
    return current;
}

}  // namespace crateforge::fs
