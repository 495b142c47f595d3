#include "codec/GzCodec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace codec {
namespace {

// Room zlib gets for its file buffers, on both sides: larger than the copy
// block, so that the compressed side moves in few system calls and inflate
// runs in long stretches. (Measured: the default 8192 makes reading slower.)
constexpr unsigned kZlibBuffer = 64 * 1024;

constexpr char kTempPrefix[] = "TMP";
constexpr char kGzSuffix[] = ".gz";
constexpr std::size_t kGzSuffixLength = sizeof kGzSuffix - 1;
// Header, an empty deflate block and the CRC-32 / length trailer.
constexpr std::size_t kGzMinStreamSize = sizeof GzHeader + 2 + 8;
// The result length is a u32, so no buffer result may grow past this.
constexpr std::uint64_t kMaxBufferResult = std::numeric_limits<std::uint32_t>::max();

thread_local std::string lastError;

// CRC-32 and length of what the last GzStreamDecompress on this thread
// wrote, for the buffer and file operations that check a member's trailer.
struct StreamSummary {
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
};
thread_local StreamSummary lastStream;

constexpr unsigned char kGzMagic0 = 0x1F;
constexpr unsigned char kGzMagic1 = 0x8B;
constexpr std::size_t kGzTrailerSize = 8;

std::uint32_t LittleEndian32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool IsGzip(const unsigned char* input, std::size_t length) {
    return length >= 2 && input[0] == kGzMagic0 && input[1] == kGzMagic1;
}

// zlib's file functions can take a member cut short for a clean end of file
// (the trailer is then never read, so never checked); they also run members
// together and skip bytes after a member that do not start another. The
// input is accepted only when its last eight bytes are a trailer that
// matches the CRC-32 and length of everything decoded: a member cut short
// has no trailer there, and bytes after a member do not end with one unless
// they repeat it. Input without the gzip magic was copied as it is.
bool TrailerMatches(const unsigned char* input, std::size_t length) {
    if (!IsGzip(input, length))
        return true;
    if (length < kGzMinStreamSize)
        return false;
    const unsigned char* trailer = input + length - kGzTrailerSize;
    return LittleEndian32(trailer) == lastStream.crc &&
           LittleEndian32(trailer + 4) == static_cast<std::uint32_t>(lastStream.length);
}

// strerror_r comes in two flavours; take whichever this C library has.
[[maybe_unused]] const char* PickErrorText(int rc, const char* buf) {
    return rc == 0 ? buf : "unknown error";
}
[[maybe_unused]] const char* PickErrorText(const char* text, const char*) {
    return text;
}

std::string ErrnoText(int err) {
    char buf[256] = {};
    return PickErrorText(strerror_r(err, buf, sizeof buf), buf);
}

thread_local GzFailure lastFailure = GzFailure::None;

void Fail(std::string text) {
    lastError = std::move(text);
    if (lastError == "corrupt gzip stream" || lastError == "truncated gzip stream")
        lastFailure = GzFailure::Corrupt;
    else if (lastError == "decoded size exceeds limit" || lastError == "result too large")
        lastFailure = GzFailure::TooLarge;
    else if (lastError == "out of memory")
        lastFailure = GzFailure::NoMemory;
    else
        lastFailure = GzFailure::File;
}
void FailErrno(const std::string& what, int err) {
    Fail(what + ": " + ErrnoText(err));
}

gzFile AsGz(void* file) {
    return static_cast<gzFile>(file);
}

bool WriteAll(int fd, const unsigned char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadAllAt(int fd, unsigned char* data, std::size_t length) {
    off_t offset = 0;
    while (length > 0) {
        ssize_t n = ::pread(fd, data, length, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;  // the file shrank under us
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

// zlib writes its own extra-flags and OS bytes; packs carry 00 and 0B there.
// Only the header is touched, and the CRC covers the data alone, so the
// stream stays valid.
bool LooksLikeOurHeader(const unsigned char* bytes) {
    return std::memcmp(bytes, GzHeader, 8) == 0;
}
void FixHeaderBytes(unsigned char* bytes) {
    bytes[8] = GzHeader[8];
    bytes[9] = GzHeader[9];
}

bool FixHeaderInFile(int fd, const std::string& path) {
    unsigned char head[sizeof GzHeader];
    ssize_t n = ::pread(fd, head, sizeof head, 0);
    if (n < 0) {
        FailErrno("cannot read " + path, errno);
        return false;
    }
    if (n < static_cast<ssize_t>(sizeof head) || !LooksLikeOurHeader(head))
        return true;
    FixHeaderBytes(head);
    if (::pwrite(fd, head + 8, 2, 8) != 2) {
        FailErrno("cannot write " + path, errno);
        return false;
    }
    return true;
}

std::string TempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0')
        dir = P_tmpdir;
    return dir;
}

// The two temporary files of one buffer call: T, reserved by mkstemp, and
// T + ".gz". Both descriptors are owned here; whatever was created is closed
// and deleted when the call leaves, on every path. T stays reserved until
// T + ".gz" is gone, so no other call can be handed the same pair.
class TempPair {
  public:
    TempPair() = default;
    TempPair(const TempPair&) = delete;
    TempPair& operator=(const TempPair&) = delete;
    ~TempPair() {
        if (gzFd_ >= 0)
            ::close(gzFd_);
        if (gzCreated_)
            ::unlink(gzPath_.c_str());
        if (plainFd_ >= 0) {
            ::close(plainFd_);
            ::unlink(plainPath_.c_str());
        }
    }

    bool Create() {
        std::string dir = TempDirectory();
        plainPath_ = dir;
        if (plainPath_.back() != '/')
            plainPath_ += '/';
        plainPath_ += kTempPrefix;
        plainPath_ += "XXXXXX";
        // Close-on-exec: another thread of the host may start a program.
        plainFd_ = ::mkostemp(plainPath_.data(), O_CLOEXEC);
        if (plainFd_ < 0) {
            FailErrno("cannot create temporary file in " + dir, errno);
            return false;
        }
        gzPath_ = plainPath_ + kGzSuffix;
        // Exclusive: never write through a name someone else put there.
        gzFd_ = ::open(gzPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (gzFd_ < 0) {
            FailErrno("cannot create temporary file " + gzPath_, errno);
            return false;
        }
        gzCreated_ = true;
        return true;
    }

    int PlainFd() const { return plainFd_; }
    int GzFd() const { return gzFd_; }
    const std::string& PlainPath() const { return plainPath_; }
    const std::string& GzPath() const { return gzPath_; }

  private:
    std::string plainPath_;
    std::string gzPath_;
    int plainFd_ = -1;
    int gzFd_ = -1;
    bool gzCreated_ = false;
};

bool WriteInput(int fd, const std::string& path, const unsigned char* data, std::uint32_t length) {
    if (!WriteAll(fd, data, length)) {
        FailErrno("cannot write temporary file " + path, errno);
        return false;
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        FailErrno("cannot rewind temporary file " + path, errno);
        return false;
    }
    return true;
}

// A stdio stream and a zlib stream over private duplicates of the pair's
// descriptors, so that closing the streams leaves the pair's own open for
// reading the result back.
std::FILE* OpenPlainStream(int fd, const char* mode, const std::string& path) {
    int copy = ::dup(fd);
    if (copy < 0) {
        FailErrno("cannot open " + path, errno);
        return nullptr;
    }
    std::FILE* file = ::fdopen(copy, mode);
    if (file == nullptr) {
        FailErrno("cannot open " + path, errno);
        ::close(copy);
    }
    return file;
}

gzFile OpenGzStream(int fd, const char* mode, unsigned bufferSize, const std::string& path) {
    int copy = ::dup(fd);
    if (copy < 0) {
        FailErrno("cannot open " + path, errno);
        return nullptr;
    }
    errno = 0;
    gzFile file = ::gzdopen(copy, mode);
    if (file == nullptr) {
        if (errno != 0) {
            FailErrno("cannot open gzip stream " + path, errno);
        } else {
            Fail("cannot open gzip stream " + path);
        }
        ::close(copy);
        return nullptr;
    }
    ::gzbuffer(file, bufferSize);
    return file;
}

// Reads the whole file behind `fd` into a buffer of its exact size.
GzBuffer ReadResult(int fd, const std::string& path, std::uint64_t& size) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        FailErrno("cannot read " + path, errno);
        return nullptr;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    if (size > kMaxBufferResult) {
        Fail("result too large");
        return nullptr;
    }
    GzBuffer result(new (std::nothrow) unsigned char[size]);
    if (!result) {
        Fail("out of memory");
        return nullptr;
    }
    if (!ReadAllAt(fd, result.get(), size)) {
        FailErrno("cannot read " + path, errno);
        return nullptr;
    }
    return result;
}

void FailGz(gzFile file, const char* what) {
    int err = errno;  // zlib's error bookkeeping below keeps it, but be sure
    int code = Z_OK;
    const char* text = ::gzerror(file, &code);
    if (code == Z_ERRNO) {
        FailErrno(what, err);
    } else if (code == Z_DATA_ERROR || code == Z_BUF_ERROR || code == Z_STREAM_ERROR) {
        Fail("corrupt gzip stream");
    } else if (code == Z_MEM_ERROR) {
        Fail("out of memory");
    } else {
        Fail(std::string(what) + ": " + (text ? text : "zlib error"));
    }
}

// TrailerMatches for a compressed file on disk.
bool FileTrailerMatches(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        FailErrno("cannot open " + path, errno);
        return false;
    }
    std::uint64_t size = 0;
    GzBuffer bytes = ReadResult(fd, path, size);
    ::close(fd);
    if (!bytes)
        return false;
    if (!TrailerMatches(bytes.get(), size)) {
        Fail("truncated gzip stream");
        return false;
    }
    return true;
}

bool HasSuffix(const std::string& path) {
    return path.size() > kGzSuffixLength &&
           path.compare(path.size() - kGzSuffixLength, kGzSuffixLength, kGzSuffix) == 0;
}

}  // namespace

const char* GzLastError() {
    return lastError.c_str();
}

GzFailure GzLastFailure() {
    return lastFailure;
}

int GzStreamCompress(std::FILE* plainFile, void* gzipFile, GzProgress progress) {
    gzFile gz = AsGz(gzipFile);
    bool ok = plainFile != nullptr && gz != nullptr;
    if (!ok)
        Fail("no stream to compress");
    unsigned char block[GzBlockSize];
    while (ok) {
        std::size_t n = std::fread(block, 1, sizeof block, plainFile);
        if (std::ferror(plainFile)) {
            FailErrno("cannot read plain input", errno);
            ok = false;
            break;
        }
        if (n == 0)
            break;
        if (::gzwrite(gz, block, static_cast<unsigned>(n)) != static_cast<int>(n)) {
            FailGz(gz, "cannot write gzip stream");
            ok = false;
            break;
        }
        if (progress.step)
            progress.step(progress.context, static_cast<std::uint32_t>(n));
    }
    if (plainFile)
        std::fclose(plainFile);
    if (gz) {
        // The close flushes the last deflate output, so it can fail too.
        int rc = ::gzclose(gz);
        if (ok && rc != Z_OK) {
            if (rc == Z_ERRNO) {
                FailErrno("cannot write gzip stream", errno);
            } else {
                Fail("cannot finish gzip stream");
            }
            ok = false;
        }
    }
    return ok ? 1 : 0;
}

int GzStreamDecompress(void* gzipFile, std::FILE* plainFile, std::uint64_t outputLimit) {
    gzFile gz = AsGz(gzipFile);
    bool ok = plainFile != nullptr && gz != nullptr;
    if (!ok)
        Fail("no stream to decompress");
    unsigned char block[GzBlockSize];
    std::uint64_t total = 0;
    uLong crc = ::crc32(0L, Z_NULL, 0);
    lastStream = StreamSummary();
    while (ok) {
        // Ask for at most one byte past the limit: a stream that would decode
        // to more stops here instead of being inflated first.
        std::uint64_t room = outputLimit - total;
        unsigned want = room < sizeof block ? static_cast<unsigned>(room + 1) : sizeof block;
        int n = ::gzread(gz, block, want);
        if (n < 0) {
            FailGz(gz, "cannot read gzip stream");
            ok = false;
            break;
        }
        if (n == 0) {
            // A stream that simply ends early reads as end of file; zlib keeps
            // the reason.
            int code = Z_OK;
            ::gzerror(gz, &code);
            if (code != Z_OK) {
                FailGz(gz, "cannot read gzip stream");
                ok = false;
            }
            break;
        }
        if (static_cast<std::uint64_t>(n) > room) {
            Fail("decoded size exceeds limit");
            ok = false;
            break;
        }
        total += static_cast<std::uint64_t>(n);
        crc = ::crc32(crc, block, static_cast<uInt>(n));
        if (std::fwrite(block, 1, static_cast<std::size_t>(n), plainFile) !=
            static_cast<std::size_t>(n)) {
            FailErrno("cannot write decoded output", errno);
            ok = false;
            break;
        }
    }
    if (plainFile) {
        if (std::fclose(plainFile) != 0 && ok) {
            FailErrno("cannot write decoded output", errno);
            ok = false;
        }
    }
    if (gz) {
        int rc = ::gzclose(gz);
        if (ok && rc != Z_OK) {
            Fail("corrupt gzip stream");
            ok = false;
        }
    }
    if (ok)
        lastStream = StreamSummary{static_cast<std::uint32_t>(crc), total};
    return ok ? 1 : 0;
}

int GzCompressFile(const std::string& path, const char* mode, GzProgress progress) {
    std::string output = path + kGzSuffix;
    std::FILE* plain = std::fopen(path.c_str(), "rb");
    if (plain == nullptr) {
        FailErrno("cannot open " + path, errno);
        return 0;
    }
    errno = 0;
    gzFile gz = ::gzopen(output.c_str(), mode);
    if (gz == nullptr) {
        FailErrno("cannot create " + output, errno != 0 ? errno : EINVAL);
        std::fclose(plain);
        return 0;
    }
    ::gzbuffer(gz, kZlibBuffer);
    bool ok = GzStreamCompress(plain, gz, progress) != 0;
    if (ok) {
        int fd = ::open(output.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            FailErrno("cannot open " + output, errno);
            ok = false;
        } else {
            ok = FixHeaderInFile(fd, output);
            ::close(fd);
        }
    }
    if (!ok) {
        ::unlink(output.c_str());
        return 0;
    }
    ::unlink(path.c_str());
    return 1;
}

int GzDecompressFile(const std::string& path, std::uint64_t outputLimit) {
    std::string input;
    std::string output;
    if (HasSuffix(path)) {
        input = path;
        output = path.substr(0, path.size() - kGzSuffixLength);
    } else {
        input = path + kGzSuffix;
        output = path;
    }
    errno = 0;
    gzFile gz = ::gzopen(input.c_str(), "rb");
    if (gz == nullptr) {
        FailErrno("cannot open " + input, errno != 0 ? errno : EINVAL);
        return 0;
    }
    ::gzbuffer(gz, kZlibBuffer);
    std::FILE* plain = std::fopen(output.c_str(), "wb");
    if (plain == nullptr) {
        FailErrno("cannot create " + output, errno);
        ::gzclose(gz);
        return 0;
    }
    if (!GzStreamDecompress(gz, plain, outputLimit)) {
        ::unlink(output.c_str());
        return 0;
    }
    if (!FileTrailerMatches(input)) {
        ::unlink(output.c_str());
        return 0;
    }
    ::unlink(input.c_str());
    return 1;
}

GzBuffer GzCompressBuffer(const unsigned char* data, std::uint32_t length, std::uint32_t* outLength,
                          GzProgress progress) {
    if (outLength == nullptr || (data == nullptr && length != 0)) {
        Fail("no buffer");
        return nullptr;
    }
    TempPair temp;
    if (!temp.Create())
        return nullptr;
    if (!WriteInput(temp.PlainFd(), temp.PlainPath(), data, length))
        return nullptr;

    std::FILE* plain = OpenPlainStream(temp.PlainFd(), "rb", temp.PlainPath());
    if (plain == nullptr)
        return nullptr;
    gzFile gz = OpenGzStream(temp.GzFd(), GzWriteMode, kZlibBuffer, temp.GzPath());
    if (gz == nullptr) {
        std::fclose(plain);
        return nullptr;
    }
    if (!GzStreamCompress(plain, gz, progress))
        return nullptr;

    std::uint64_t size = 0;
    GzBuffer result = ReadResult(temp.GzFd(), temp.GzPath(), size);
    if (!result)
        return nullptr;
    if (size < kGzMinStreamSize || !LooksLikeOurHeader(result.get())) {
        Fail("unexpected gzip header from zlib");
        return nullptr;
    }
    FixHeaderBytes(result.get());
    *outLength = static_cast<std::uint32_t>(size);
    return result;
}

GzBuffer GzDecompressBuffer(const unsigned char* data, std::uint32_t length,
                            std::uint32_t* outLength, std::uint64_t outputLimit) {
    if (outLength == nullptr || (data == nullptr && length != 0)) {
        Fail("no buffer");
        return nullptr;
    }
    TempPair temp;
    if (!temp.Create())
        return nullptr;
    if (!WriteInput(temp.GzFd(), temp.GzPath(), data, length))
        return nullptr;

    gzFile gz = OpenGzStream(temp.GzFd(), "rb", kZlibBuffer, temp.GzPath());
    if (gz == nullptr)
        return nullptr;
    std::FILE* plain = OpenPlainStream(temp.PlainFd(), "wb", temp.PlainPath());
    if (plain == nullptr) {
        ::gzclose(gz);
        return nullptr;
    }
    std::uint64_t limit = outputLimit < kMaxBufferResult ? outputLimit : kMaxBufferResult;
    if (!GzStreamDecompress(gz, plain, limit))
        return nullptr;

    if (!TrailerMatches(data, length)) {
        Fail("truncated gzip stream");
        return nullptr;
    }
    std::uint64_t size = 0;
    GzBuffer result = ReadResult(temp.PlainFd(), temp.PlainPath(), size);
    if (!result)
        return nullptr;
    *outLength = static_cast<std::uint32_t>(size);
    return result;
}

}  // namespace codec
