// BeneathFolder.h - writing below one chosen folder, and nowhere else.
//
// Everything that turns entries of a pack into files (vpf extract, the
// Extract dialog, the desktop program's workspace for View and drag-out)
// writes through here. The chosen folder is opened once, by its path (links
// in that path are the user's choice and are followed). From then on every
// folder below it is reached from that descriptor and never through a link:
// with openat2 and RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel
// has it, else one component at a time with openat and O_NOFOLLOW |
// O_DIRECTORY. Files are then written with AtomicFile::BeginAt into the
// folder's descriptor: a hidden sibling, renamed into place within that
// folder. So a folder that is a link, or is swapped for one while the
// extraction runs, makes what lies below it fail with a reason; nothing
// lands where the link points, and no temporary file is left anywhere.
//
// Components are single names: never empty, "." or "..", never holding "/"
// (pack::ToDiskPath makes them from names inside a pack); others are
// refused with EINVAL. All members are thread-safe once the folder is open.
#pragma once

#include <sys/types.h>

#include <span>
#include <string>

#include "platform/Fault.h"

namespace crateforge::fs {

// An owned file descriptor, closed on destruction.
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = other.Release();
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Close();

  private:
    int fd_ = -1;
};

// Opens the folder `name` of the folder `at` (AT_FDCWD: a path), for use as
// a folder descriptor: read-only, or, when the folder may be written to but
// not read, as a path descriptor (enough for creating, renaming and removing
// files in it). `flags` adds O_NOFOLLOW and the like. -1 with errno.
int OpenFolderAt(int at, const char* name, int flags = 0);

// Whether OpenFolder may make missing folders.
enum class MakeFolders { No, Yes };

class BeneathFolder {
  public:
    // Opens the folder at `path`. False with `fault` (kind Io) when it
    // cannot be opened or is no folder.
    bool Open(const std::string& path, pack::Fault& fault);
    bool IsOpen() const { return root_.IsOpen(); }
    int Get() const { return root_.Get(); }
    const std::string& Path() const { return path_; }

    // The folder at `components` below the chosen one (no components: the
    // chosen one itself), open for use as the folder of AtomicFile::BeginAt.
    // With MakeFolders::Yes, missing folders are made with `mode` (less the
    // umask); an existing folder is used as it is. Fails (an unopened
    // Descriptor and `fault`) when a component is a link or no folder
    // ("P is a link, not a folder", P its path for messages), when a folder
    // cannot be made or opened, or, with MakeFolders::No, when one is
    // missing; then `missing` (when given) is true and nothing else failed.
    Descriptor OpenFolder(std::span<const std::string> components, MakeFolders make, mode_t mode,
                          pack::Fault& fault, bool* missing = nullptr) const;

    // The chosen folder's path joined with `components`, for messages.
    std::string PathOf(std::span<const std::string> components) const;

    // Whether openat2 is tried first (the default); tests turn it off to
    // exercise the walk one component at a time.
    static void UseKernelResolution(bool use);

  private:
    Descriptor Walk(std::span<const std::string> components, MakeFolders make, mode_t mode,
                    pack::Fault& fault, bool* missing) const;

    Descriptor root_;
    std::string path_;
};

}  // namespace crateforge::fs
