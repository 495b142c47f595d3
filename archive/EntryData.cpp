// EntryData.cpp - decoding stored entries and writing them to disk.
#include "archive/EntryData.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "codec/Lzrw.h"
#include "format/PackFormat.h"
#include "platform/FileSystem.h"

namespace crateforge {

namespace {
constexpr std::uint64_t kLzrwMaxExpansion = codec::LzrwMaxExpansion;
const char kSizeMismatch[] = "the decoded size differs from the original size";

codec::GzBuffer Allocate(std::uint32_t length) {
    return codec::GzBuffer(new (std::nothrow) unsigned char[length == 0 ? 1 : length]);
}
}  // namespace

bool IsSafeEntryName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > pack::kMaxNameLength)
        return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

bool DecodeEntry(const PackEntry& entry, codec::GzBuffer& bytes, std::uint32_t& length,
                 std::string& reason) {
    bytes.reset();
    if (entry.packedSize > 0 && !entry.data) {
        reason = "the stored bytes are missing";
        return false;
    }
    switch (entry.method) {
        case static_cast<std::uint8_t>(pack::PackMethod::Stored): {
            if (entry.packedSize != entry.originalSize) {
                reason = "damaged stored entry: its stored size differs from its original size";
                return false;
            }
            codec::GzBuffer out = Allocate(entry.originalSize);
            if (!out) {
                reason = fs::ErrnoText(ENOMEM);
                return false;
            }
            if (entry.originalSize > 0)
                std::memcpy(out.get(), entry.data.get(), entry.originalSize);
            bytes = std::move(out);
            length = entry.originalSize;
            return true;
        }
        case static_cast<std::uint8_t>(pack::PackMethod::Lzrw3a): {
            // A block yields at most 18 bytes per 2-byte copy item, so a claim
            // beyond this is damaged; refuse it before allocating for it.
            if (std::uint64_t{entry.originalSize} > kLzrwMaxExpansion * entry.packedSize + 64) {
                reason = "corrupt LZRW3-A data";
                return false;
            }
            codec::GzBuffer out = Allocate(entry.originalSize);
            std::vector<unsigned char> work;
            try {
                work.resize(codec::LzrwWorkMemorySize);
            } catch (const std::bad_alloc&) {
                out.reset();
            }
            if (!out) {
                reason = fs::ErrnoText(ENOMEM);
                return false;
            }
            std::uint32_t decoded = 0;
            if (!codec::LzrwDecompress(work.data(), entry.data.get(), entry.packedSize, out.get(),
                                       entry.originalSize, &decoded)) {
                reason = "corrupt LZRW3-A data";
                return false;
            }
            if (decoded != entry.originalSize) {
                reason = kSizeMismatch;
                return false;
            }
            bytes = std::move(out);
            length = decoded;
            return true;
        }
        case static_cast<std::uint8_t>(pack::PackMethod::Gzip): {
            std::uint32_t decoded = 0;
            // The limit stops a stream that inflates past the original size.
            codec::GzBuffer out = codec::GzDecompressBuffer(entry.data.get(), entry.packedSize,
                                                            &decoded, entry.originalSize);
            if (!out) {
                const char* why = codec::GzLastError();
                reason =
                    std::string("corrupt gzip data") + (why && *why ? ": " : "") + (why ? why : "");
                return false;
            }
            if (decoded != entry.originalSize) {
                reason = kSizeMismatch;
                return false;
            }
            bytes = std::move(out);
            length = decoded;
            return true;
        }
        default:
            reason = "unknown method " + std::to_string(entry.method);
            return false;
    }
}

bool WriteBytesToFile(const std::string& path, const unsigned char* data, std::uint32_t length,
                      std::string& reason) {
    // O_NOFOLLOW: a link planted at the target must not redirect the write;
    // O_NONBLOCK: a FIFO at the target must not block the program.
    const int fd = open(path.c_str(),
                        O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = errno == ELOOP ? "the target is a symbolic link" : fs::ErrnoText(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = "the target is not a regular file";
        close(fd);
        return false;
    }
    std::uint32_t done = 0;
    while (done < length) {
        const ssize_t n = write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reason = fs::ErrnoText(n < 0 ? errno : ENOSPC);
            close(fd);
            unlink(path.c_str());
            return false;
        }
        done += static_cast<std::uint32_t>(n);
    }
    if (close(fd) != 0) {
        reason = fs::ErrnoText(errno);
        unlink(path.c_str());
        return false;
    }
    return true;
}

bool WriteEntryToFile(const PackEntry& entry, const std::string& path, std::string& reason) {
    // Stored entries are written straight from memory, after the same checks
    // DecodeEntry makes.
    if (entry.method == static_cast<std::uint8_t>(pack::PackMethod::Stored)) {
        if (entry.packedSize != entry.originalSize) {
            reason = "damaged stored entry: its stored size differs from its original size";
            return false;
        }
        if (entry.packedSize > 0 && !entry.data) {
            reason = "the stored bytes are missing";
            return false;
        }
        return WriteBytesToFile(path, entry.data.get(), entry.originalSize, reason);
    }
    codec::GzBuffer bytes;
    std::uint32_t length = 0;
    if (!DecodeEntry(entry, bytes, length, reason))
        return false;
    return WriteBytesToFile(path, bytes.get(), length, reason);
}

}  // namespace crateforge
