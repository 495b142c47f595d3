// NativeFile.h - the operating-system calls that the codecs, the format core
// and the reader library make, behind one small interface with a POSIX and
// a Windows implementation (NativeFilePosix.cpp, NativeFileWindows.cpp).
//
// Files are C runtime descriptors on both systems (on Windows wrapping a
// handle opened with CreateFileW), so that callers hold an int as before.
// Offsets and sizes are 64-bit everywhere; paths are UTF-8 on Windows and
// bytes elsewhere. Failures set errno, as the POSIX calls do, so callers
// report them one way (pack::ErrnoText, platform/Fault.h).
//
// Needs nothing but the C++ standard library and the system's own headers;
// never includes a toolkit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace native {

// Opens `path` for reading: never blocks (a FIFO waits for no writer), is
// not inherited by child processes, and opens folders too, so that the
// caller can refuse them by their type. -1 with errno on failure.
int OpenForReading(const char* path);

// Closes a descriptor from OpenForReading (or any open descriptor).
void CloseFile(int fd);

// Reads up to `length` bytes at `offset` without using or moving a shared
// file position, so threads may read one descriptor at once. The number of
// bytes read (0 at the end of the file), or -1 with errno (EINTR: try again).
std::int64_t ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t length);

// Writes up to `length` bytes at `offset` in the same way. The number of
// bytes written, or -1 with errno.
std::int64_t WriteAt(int fd, std::uint64_t offset, const void* buffer, std::size_t length);

enum class FileType { Regular, Folder, Other };

// What the format core needs to know of an open file, and to tell later
// whether a reopened file is still the same one, unchanged: device and
// inode on POSIX, volume serial number and file index on Windows.
struct FileStatus {
    FileType type = FileType::Other;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;  // since 1970-01-01 UTC
    long modifiedNanoseconds = 0;
};

// The status of the open file `fd`; false with errno on failure.
bool StatusOf(int fd, FileStatus& status);

// Asks for huge pages over the whole 2 MiB pages inside [begin, begin +
// size): a hint that the system may ignore (and does, where it has none).
void HintHugePages(void* begin, std::size_t size);

}  // namespace native

// What the format core and the programs build on these calls
// (NativeFile.cpp, the same on every system).
namespace pack {

// Identity of a file as it was opened: a later reopen can tell whether it is
// still the same file, unchanged.
struct FileIdentity {
    std::uint64_t device = 0;  // a volume's serial number on Windows
    std::uint64_t inode = 0;   // the file index on Windows
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity an open file's status gives.
FileIdentity IdentityFromStatus(const native::FileStatus& status);

// The identity of the open file `fd`; false when its status is unknown.
bool IdentityOf(int fd, FileIdentity& identity);

// Reads at `offset` until `length` bytes are in or the file ends; false on a
// short read or an error (errno set; EIO when the file ended early).
// Thread-safe.
bool PreadExact(int fd, std::uint64_t offset, void* buffer, std::size_t length);

}  // namespace pack
