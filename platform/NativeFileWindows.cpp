// NativeFileWindows.cpp - the native file calls on Windows: handles opened
// with CreateFileW from UTF-8 paths and kept as C runtime descriptors, reads
// and writes at an offset through ReadFile/WriteFile, the file's identity
// from GetFileInformationByHandle.
#include "platform/Fault.h"
#include "platform/NativeFile.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace native {

namespace {

// errno for the last Windows error, for callers that speak errno.
int ErrnoFromLastError() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_NO_UNICODE_TRANSLATION:
            return EINVAL;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        default:
            return EIO;
    }
}

// UTF-8 to the system's wide characters; false for bytes that are no UTF-8.
bool Widen(const char* text, std::wstring& out) {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (length <= 0)
        return false;
    out.assign(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, &out[0], length) != length)
        return false;
    out.resize(static_cast<std::size_t>(length) - 1);
    return true;
}

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// One call moves at most this much (a DWORD count, kept well below 4 GiB).
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

}  // namespace

int OpenForReading(const char* path) {
    std::wstring wide;
    if (!path || !Widen(path, wide)) {
        errno = EINVAL;
        return -1;
    }
    // Shared for reading, writing and deleting, so the reader never locks a
    // pack against the program that saves it (a replaced pack is told apart
    // by its identity). No security attributes: the handle is not
    // inherited. FILE_FLAG_BACKUP_SEMANTICS opens a folder, for the caller
    // to refuse by its type.
    HANDLE h = CreateFileW(
        wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = ErrnoFromLastError();
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        errno = EMFILE;
        return -1;
    }
    return fd;
}

void CloseFile(int fd) {
    if (fd >= 0)
        _close(fd);  // closes the handle too
}

std::int64_t ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t length) {
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    OVERLAPPED at = At(offset);
    DWORD done = 0;
    const DWORD ask = static_cast<DWORD>(length < kMaxTransfer ? length : kMaxTransfer);
    if (!ReadFile(h, buffer, ask, &done, &at)) {
        if (GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        errno = ErrnoFromLastError();
        return -1;
    }
    return done;
}

std::int64_t WriteAt(int fd, std::uint64_t offset, const void* buffer, std::size_t length) {
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    OVERLAPPED at = At(offset);
    DWORD done = 0;
    const DWORD ask = static_cast<DWORD>(length < kMaxTransfer ? length : kMaxTransfer);
    if (!WriteFile(h, buffer, ask, &done, &at)) {
        errno = ErrnoFromLastError();
        return -1;
    }
    return done;
}

bool StatusOf(int fd, FileStatus& status) {
    HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    status = FileStatus();
    // Pipes and devices have no file information; they are "other".
    if (GetFileType(h) != FILE_TYPE_DISK)
        return true;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) {
        errno = ErrnoFromLastError();
        return false;
    }
    status.type =
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileType::Folder : FileType::Regular;
    status.device = info.dwVolumeSerialNumber;
    status.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    status.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    // 100-nanosecond ticks since 1601-01-01.
    constexpr std::uint64_t kTicksTo1970 = 116444736000000000ull;
    const std::uint64_t ticks = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                info.ftLastWriteTime.dwLowDateTime;
    const std::int64_t since1970 = static_cast<std::int64_t>(ticks - kTicksTo1970);
    status.modifiedSeconds = since1970 / 10000000;
    status.modifiedNanoseconds = static_cast<long>(since1970 % 10000000) * 100;
    return true;
}

void HintHugePages(void*, std::size_t) {}

}  // namespace native

namespace pack {

std::string ErrnoText(int error) {
    char buf[256] = {};
    if (strerror_s(buf, sizeof buf, error) != 0)
        return "unknown error";
    return buf;
}

}  // namespace pack
