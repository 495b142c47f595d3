// FileSystem.h - the POSIX file-system pieces the builder's logic needs.
//
// Directory listings, attributes, the temporary directory and the private
// workspace directory. These are the same on every POSIX desktop, so they are
// plain functions rather than part of the toolkit seam in Platform.h.
//
// Paths are byte strings joined with "/". Listings are sorted by name in byte
// order (never in the order the system happens to return them) so that packs
// built from the same tree are identical. Nothing here shows a message or
// throws; functions that can fail return false or an empty string and, where
// a caller wants to tell the user why, fill a reason (the errno text).
//
// All functions are safe to call from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Fault.h"

namespace crateforge::fs {

// One name of a directory listing. For a symbolic link, `isSymlink` is true
// and `isDirectory` / `isRegular` / `size` / `device` / `inode` describe what
// it points to; for a dangling link (or a name that vanished) `statError`
// holds the errno of the failed stat and the rest is false / 0. "." and ".."
// are never listed.
struct DirEntry {
    std::string name;
    bool isDirectory = false;
    bool isRegular = false;
    bool isSymlink = false;
    std::uint64_t size = 0;  // bytes of a regular file (or its link target)
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    int statError = 0;
};

// ListDirectory: every name in `dir` except "." and "..", sorted by name in
// byte order. Returns false and fills `fault` (when given; kind Io) when
// the directory cannot be opened or read; `out` is then empty.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>& out,
                   pack::Fault* fault = nullptr);

// IsDirectory: whether `path` names a directory. With followLinks false a
// symbolic link to a directory is not one. A missing path is not a directory.
bool IsDirectory(const std::string& path, bool followLinks = true);

// IsSymlink: whether `path` itself is a symbolic link (dangling or not).
bool IsSymlink(const std::string& path);

// PathExists: whether anything (file, directory, link, even dangling) is at
// `path`.
bool PathExists(const std::string& path);

// RegularFileSize: size of the regular file at `path` (links followed).
// False for a missing path, a directory, a FIFO, a device and the like.
bool RegularFileSize(const std::string& path, std::uint64_t& size);

// TempDirectory: $TMPDIR when it is set and not empty, else P_tmpdir; without
// a trailing "/" (except for the root itself).
std::string TempDirectory();

// MakeWorkspaceDirectory: creates a new private directory (mode 0700) in
// TempDirectory() named "TMP" + six unique characters, with mkdtemp. Returns
// its path, or an empty string (and `fault`) when it cannot be created.
std::string MakeWorkspaceDirectory(pack::Fault* fault = nullptr);

// RemoveTree: removes `path` and everything below it. Links are removed,
// never followed, and each folder is entered through the descriptor of its
// parent (openat with O_NOFOLLOW), so nothing outside the tree is touched
// even if a name is swapped for a link meanwhile. Goes on past failures;
// false (with the first failure in `fault`) when anything stayed. A missing
// path is nothing to remove: true.
bool RemoveTree(const std::string& path, pack::Fault* fault = nullptr);

// Path helpers (plain string work, no disk access).
//   LastComponent("/a/b/c.txt") == "c.txt"; LastComponent("c") == "c";
//   LastComponent("/a/b/") == "" (callers strip one trailing "/" first).
//   ParentDirectory("/a/b/c.txt") == "/a/b"; ParentDirectory("c") == ".";
//   ParentDirectory("/c") == "/".
//   JoinPath("/a", "b") == "/a/b"; JoinPath("/a/", "b") == "/a/b".
std::string_view LastComponent(std::string_view path);
std::string ParentDirectory(std::string_view path);
std::string JoinPath(std::string_view dir, std::string_view name);

// WriteAll: writes all `length` bytes to `fd`, again after EINTR and short
// writes. False with errno set on a failure (ENOSPC for a write that wrote
// nothing).
bool WriteAll(int fd, const void* data, std::size_t length);
inline bool WriteAll(int fd, std::string_view text) {
    return WriteAll(fd, text.data(), text.size());
}

// NamelessFile: a new file for reading and writing in `dir` that has no
// name (O_TMPFILE where the file system has it, else a fresh name that is
// listed for the interrupt handler and unlinked at once). -1 with errno set
// when neither works.
int NamelessFile(const std::string& dir);

// SpoolToNamelessFile: copies what `in` gives (a pipe, a FIFO) until its
// end into a new NamelessFile in `dir`, so that it can be read at any
// offset. Returns that file, open for reading and writing, or -1 with errno
// set and `failure` saying what failed: the temporary folder (the file could
// not be made or written there), reading `in`, memory for the copy's
// buffer, or more than `limit` bytes coming in (errno EFBIG).
enum class SpoolFailure { None, TempFolder, Read, NoMemory, TooLarge };
int SpoolToNamelessFile(int in, const std::string& dir, std::uint64_t limit, SpoolFailure& failure);

// CopyBytes: copies `length` bytes of `from`, starting at `offset`, to the
// current position of `to`, with copy_file_range (the kernel copies or
// shares the blocks) and a read/write loop where the kernel refuses that.
// Returns 0, or an errno value: ENODATA when `from` ends before `length`
// bytes (another program cut it short).
int CopyBytes(int from, std::uint64_t offset, int to, std::uint64_t length);

}  // namespace crateforge::fs
