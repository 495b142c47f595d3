// NativeFilePosix.cpp - the native file calls on Linux and other POSIX
// systems.
#include "platform/Fault.h"
#include "platform/NativeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include <cerrno>
#include <cstring>
#include <limits>

static_assert(sizeof(off_t) == 8, "files of 2 GiB and more need a 64-bit off_t");

namespace native {

namespace {

// strerror_r comes in two flavours; take whichever this C library has.
[[maybe_unused]] const char* PickErrorText(int rc, const char* buf) {
    return rc == 0 ? buf : "unknown error";
}
[[maybe_unused]] const char* PickErrorText(const char* text, const char*) {
    return text;
}

// One call moves at most this much, as Linux does anyway.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

}  // namespace

int OpenForReading(const char* path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer. It is left on: reads of a regular file never block on it, and
    // readers open packs often (the reader library once per load), so the
    // two calls to clear it would cost more than they give.
    return ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

void CloseFile(int fd) {
    if (fd >= 0)
        ::close(fd);
}

std::int64_t ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        errno = EINVAL;
        return -1;
    }
    return ::pread(fd, buffer, length < kMaxTransfer ? length : kMaxTransfer,
                   static_cast<off_t>(offset));
}

std::int64_t WriteAt(int fd, std::uint64_t offset, const void* buffer, std::size_t length) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        errno = EINVAL;
        return -1;
    }
    return ::pwrite(fd, buffer, length < kMaxTransfer ? length : kMaxTransfer,
                    static_cast<off_t>(offset));
}

bool StatusOf(int fd, FileStatus& status) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    status.type = S_ISREG(st.st_mode)   ? FileType::Regular
                  : S_ISDIR(st.st_mode) ? FileType::Folder
                                        : FileType::Other;
    status.device = static_cast<std::uint64_t>(st.st_dev);
    status.inode = static_cast<std::uint64_t>(st.st_ino);
    status.size = static_cast<std::uint64_t>(st.st_size);
    status.modifiedSeconds = st.st_mtim.tv_sec;
    status.modifiedNanoseconds = st.st_mtim.tv_nsec;
    return true;
}

void HintHugePages(void* begin, std::size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto at = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t first = (at + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (at + size) & ~(kHugePage - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);  // a hint only
#else
    (void)begin;
    (void)size;
#endif
}

}  // namespace native

namespace pack {

std::string ErrnoText(int error) {
    char buf[256] = {};
    return native::PickErrorText(strerror_r(error, buf, sizeof buf), buf);
}

}  // namespace pack
