// EntryCoding.cpp - coding files as they enter a pack; the progress step.
#include "archive/EntryCoding.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <new>

#include "format/PackFormat.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"

namespace crateforge {

float ProgressAccumulator = 0.0f;

namespace {
ProgressControl* g_boundBar = nullptr;

void StepThunk(void*, std::uint32_t bytes) {
    GzProgressStep(bytes);
}
}  // namespace

void BindProgressControl(ProgressControl* bar) {
    g_boundBar = bar;
}
ProgressControl* BoundProgressControl() {
    return g_boundBar;
}

void GzProgressStep(std::uint32_t byteCount) {
    ProgressAccumulator += static_cast<float>(byteCount);
    if (ProgressAccumulator < 2.0f)
        return;
    if (g_boundBar) {
        const auto half = static_cast<std::uint32_t>(ProgressAccumulator / 2.0f);
        g_boundBar->SetPosition(g_boundBar->Position() + half);
    }
    ProgressAccumulator -= std::trunc(ProgressAccumulator);
}

codec::GzProgress BoundGzProgress() {
    return codec::GzProgress{&StepThunk, nullptr};
}

bool CompressEntry(codec::GzBuffer buffer, PackEntry& entry) {
    return CompressEntry(std::move(buffer), entry, BoundGzProgress());
}

bool CompressEntry(codec::GzBuffer buffer, PackEntry& entry, codec::GzProgress progress,
                   codec::GzError* error) {
    bool coded = true;
    if (entry.originalSize > 0) {
        std::uint32_t gzipLength = 0;
        codec::GzBuffer gzip =
            codec::GzCompressBuffer(buffer.get(), entry.originalSize, &gzipLength, progress, error);
        // A failed compression returns null: the file is then kept as it is.
        if (gzip && gzipLength < entry.originalSize) {
            entry.data = std::move(gzip);
            entry.packedSize = gzipLength;
            entry.method = static_cast<std::uint8_t>(pack::PackMethod::Gzip);
            return true;
        }
        coded = gzip != nullptr;
    }
    entry.data = std::move(buffer);
    entry.packedSize = entry.originalSize;
    entry.method = static_cast<std::uint8_t>(pack::PackMethod::Stored);
    return coded;
}

DiskReadStatus ReadDiskFile(const std::string& path, codec::GzBuffer& bytes, std::uint32_t& size,
                            pack::Fault& fault) {
    auto fail = [&](DiskReadStatus status, std::string reason, int fd) {
        if (fd >= 0)
            close(fd);
        pack::Fail(
            fault,
            status == DiskReadStatus::NoMemory ? pack::FaultKind::NoMemory : pack::FaultKind::Io,
            std::move(reason));
        return status;
    };
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail(DiskReadStatus::CannotOpen, pack::ErrnoText(errno), -1);
    struct stat st;
    if (fstat(fd, &st) != 0)
        return fail(DiskReadStatus::CannotOpen, pack::ErrnoText(errno), fd);
    if (!S_ISREG(st.st_mode))
        return fail(DiskReadStatus::CannotOpen,
                    S_ISDIR(st.st_mode) ? pack::ErrnoText(EISDIR) : "not a regular file", fd);
    if (static_cast<std::uint64_t>(st.st_size) > pack::kMaxPackSize)
        return fail(DiskReadStatus::TooLarge, "files of 4 GiB or more cannot be packed", fd);
    const auto length = static_cast<std::uint32_t>(st.st_size);
    codec::GzBuffer buffer;
    if (length > 0) {
        buffer.reset(new (std::nothrow) unsigned char[length]);
        if (!buffer)
            return fail(DiskReadStatus::NoMemory, pack::ErrnoText(ENOMEM), fd);
    }
    std::uint32_t done = 0;
    while (done < length) {
        const ssize_t n = read(fd, buffer.get() + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(DiskReadStatus::ReadFailed, pack::ErrnoText(errno), fd);
        if (n == 0)
            return fail(DiskReadStatus::ReadFailed, kChangedWhileReadReason, fd);
        done += static_cast<std::uint32_t>(n);
    }
    // A byte past the size seen at the start, or another size or time now:
    // the file was written to meanwhile (a growing log, a file being saved).
    unsigned char extra = 0;
    ssize_t more = 0;
    do
        more = read(fd, &extra, 1);
    while (more < 0 && errno == EINTR);
    struct stat after;
    if (more != 0 || fstat(fd, &after) != 0 || after.st_size != st.st_size ||
        after.st_mtim.tv_sec != st.st_mtim.tv_sec || after.st_mtim.tv_nsec != st.st_mtim.tv_nsec)
        return fail(DiskReadStatus::ReadFailed,
                    more < 0 ? pack::ErrnoText(errno) : std::string(kChangedWhileReadReason), fd);
    close(fd);
    bytes = std::move(buffer);
    size = length;
    return DiskReadStatus::Ok;
}

DiskReadStatus CodeDiskFile(const std::string& path, PackEntry& entry, codec::GzProgress progress,
                            pack::Fault& fault) {
    codec::GzBuffer bytes;
    std::uint32_t size = 0;
    const DiskReadStatus status = ReadDiskFile(path, bytes, size, fault);
    if (status != DiskReadStatus::Ok)
        return status;
    entry.originalSize = size;
    CompressEntry(std::move(bytes), entry, progress);
    return DiskReadStatus::Ok;
}

}  // namespace crateforge
