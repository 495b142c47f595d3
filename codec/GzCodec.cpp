#include "codec/GzCodec.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
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

bool ReadAllAt(int fd, unsigned char* data, std::size_t length, std::uint64_t at = 0) {
    auto offset = static_cast<off_t>(at);
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

// Makes one nameless temporary file in `dir`, private to this process:
// O_TMPFILE (with O_EXCL, so it can never be linked in later) where the
// file system can, else a fresh "TMP" name from mkstemp that is unlinked at
// once. A process killed at any time leaves nothing in the folder, and the
// disk space goes back when the descriptor is closed. -1 (failure set) when
// the folder cannot take a file.
int CreateNamelessFile(const std::string& dir) {
#ifdef O_TMPFILE
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    // Not supported here (EISDIR from kernels that predate it, EOPNOTSUPP
    // from file systems without it): fall back to a name. Any other error
    // is the folder's and is reported.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        FailErrno("cannot create temporary file in " + dir, errno);
        return -1;
    }
#endif
    std::string path = dir;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += kTempPrefix;
    path += "XXXXXX";
    const int named = ::mkostemp(path.data(), O_CLOEXEC);
    if (named < 0) {
        FailErrno("cannot create temporary file in " + dir, errno);
        return -1;
    }
    ::unlink(path.c_str());
    return named;
}

// Bumped in a forked child: the child shares its parent's open file
// descriptions, so it must not write into the parent's scratch files.
std::atomic<unsigned> forkGeneration{0};
void AfterForkInChild() {
    forkGeneration.fetch_add(1, std::memory_order_relaxed);
}

// Files kept between calls never hold more than this once a call is done.
constexpr std::uint64_t kKeptScratchBytes = 1024 * 1024;

// The two temporary files of the buffer calls. Making a file and freeing it
// again (an inode, its pages, on a disk the journal) is most of what a small
// call costs, so each thread keeps its two nameless files open between calls
// and writes over what earlier calls left. They stay what the calls need: in the
// current temporary folder ($TMPDIR changed means new files there), private
// to the thread, without a name, gone with the thread or the process. A
// folder that has become unusable fails the next call as making a file in it
// would; a call that fails for any reason drops both files, and one that
// succeeds trims a file that grew past kKeptScratchBytes back to empty.
class ScratchFiles {
  public:
    struct File {
        int fd = -1;
        std::uint64_t size = 0;  // how far the file reaches
        dev_t device = 0;
        ino_t inode = 0;
    };

    ScratchFiles() = default;
    ScratchFiles(const ScratchFiles&) = delete;
    ScratchFiles& operator=(const ScratchFiles&) = delete;
    ~ScratchFiles() { Drop(); }

    // Both files ready in `dir`; false (failure set) when the folder cannot
    // take them.
    bool Ready(const std::string& dir) {
        static const bool forkHandlerSet =
            ::pthread_atfork(nullptr, nullptr, AfterForkInChild) == 0;
        // Without the fork handler, the process id tells a child apart.
        const unsigned generation = forkHandlerSet ? forkGeneration.load(std::memory_order_relaxed)
                                                   : static_cast<unsigned>(::getpid());
        if (generation != generation_ || dir != dir_)
            Drop();
        generation_ = generation;
        if (files_[0].fd >= 0 && !StillOurs()) {
            // A host that closes descriptors it does not own may have closed
            // ours, and the numbers may name its own files now: forget them
            // without closing, never write into them.
            files_[0] = File();
            files_[1] = File();
        }
        if (files_[0].fd >= 0) {
            // The folder may have gone, or lost its write permission, since
            // the files were made: answer as making them now would.
            if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
                FailErrno("cannot create temporary file in " + dir, errno);
                Drop();
                return false;
            }
            return true;
        }
        dir_ = dir;
        for (File& file : files_) {
            file.fd = CreateNamelessFile(dir);
            struct stat st {};
            if (file.fd >= 0 && ::fstat(file.fd, &st) != 0) {
                FailErrno("cannot create temporary file in " + dir, errno);
                ::close(file.fd);
                file.fd = -1;
            }
            if (file.fd < 0) {
                Drop();
                return false;
            }
            file.device = st.st_dev;
            file.inode = st.st_ino;
        }
        return true;
    }

    File& operator[](std::size_t i) { return files_[i]; }
    std::string What() const { return "temporary file in " + dir_; }

    void Drop() {
        for (File& file : files_) {
            if (file.fd >= 0)
                ::close(file.fd);
            file = File();
        }
    }

    void Trim() {
        for (File& file : files_) {
            if (file.size > kKeptScratchBytes) {
                if (::ftruncate(file.fd, 0) == 0) {
                    file.size = 0;
                } else {
                    Drop();
                    return;
                }
            }
        }
    }

  private:
    bool StillOurs() const {
        for (const File& file : files_) {
            struct stat st {};
            // A closed file's inode number is soon given to the next new
            // file, so the number alone proves nothing: ours also has no
            // name and exactly the length the calls left it.
            if (::fstat(file.fd, &st) != 0 || st.st_dev != file.device || st.st_ino != file.inode ||
                st.st_nlink != 0 || static_cast<std::uint64_t>(st.st_size) != file.size)
                return false;
        }
        return true;
    }

    File files_[2];
    std::string dir_;
    unsigned generation_ = 0;
};

thread_local ScratchFiles scratch;

// One buffer call's hold on the thread's scratch files: dropped unless the
// call says it succeeded, trimmed when it did.
class ScratchUse {
  public:
    ScratchUse() = default;
    ScratchUse(const ScratchUse&) = delete;
    ScratchUse& operator=(const ScratchUse&) = delete;
    ~ScratchUse() {
        if (succeeded_)
            scratch.Trim();
        else
            scratch.Drop();
    }
    void Succeeded() { succeeded_ = true; }

  private:
    bool succeeded_ = false;
};

bool WriteAllAt(int fd, const unsigned char* data, std::size_t length, std::uint64_t at = 0) {
    auto offset = static_cast<off_t>(at);
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, length, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        offset += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Writes `length` bytes so that they end where the scratch file ends, and
// returns the offset they start at (-1, failure set, when they cannot be
// written). zlib reads a stream from its start position to the end of the
// file, so it sees exactly these bytes; whatever an earlier, longer input
// left before them is never read, and the file needs no truncating.
std::int64_t WriteAtEnd(ScratchFiles::File& file, const unsigned char* data, std::uint32_t length) {
    const std::uint64_t at = file.size > length ? file.size - length : 0;
    if (!WriteAllAt(file.fd, data, length, at)) {
        FailErrno("cannot write " + scratch.What(), errno);
        return -1;
    }
    file.size = at + length;
    return static_cast<std::int64_t>(at);
}

// A descriptor for zlib, which closes the one it is given, on the scratch
// file at offset `at` (zlib starts at the current position). -1 (failure
// set).
int DescriptorForZlib(const ScratchFiles::File& file, std::int64_t at = 0) {
    const int fd = ::dup(file.fd);
    if (fd < 0 || ::lseek(fd, static_cast<off_t>(at), SEEK_SET) != static_cast<off_t>(at)) {
        FailErrno("cannot open gzip stream on " + scratch.What(), errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// zlib's stream on a descriptor of one of the scratch files (zlib owns the
// descriptor from here on, and it is closed on failure too).
gzFile OpenGzStream(int fd, const char* mode, unsigned bufferSize) {
    errno = 0;
    gzFile file = ::gzdopen(fd, mode);
    if (file == nullptr) {
        if (errno != 0) {
            FailErrno("cannot open gzip stream on " + scratch.What(), errno);
        } else {
            Fail("cannot open gzip stream on " + scratch.What());
        }
        ::close(fd);
        return nullptr;
    }
    ::gzbuffer(file, bufferSize);
    return file;
}

// zlib's buffer for a stream of `length` bytes: the whole input in one read
// when it is small, kZlibBuffer at most.
unsigned ZlibBufferFor(std::uint64_t length) {
    constexpr unsigned kSmallest = 1024;
    if (length < kSmallest)
        return kSmallest;
    return length < kZlibBuffer ? static_cast<unsigned>(length) : kZlibBuffer;
}

// Reads the first `size` bytes of a scratch file into one buffer of exactly
// that size.
GzBuffer ReadResult(int fd, std::uint64_t size) {
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
        FailErrno("cannot read " + scratch.What(), errno);
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

// TrailerMatches for a compressed file on disk, read through the
// descriptor already open on it: its first two and last eight bytes.
bool FileTrailerMatches(int fd) {
    struct stat st {};
    unsigned char head[2] = {};
    unsigned char tail[kGzTrailerSize] = {};
    bool ok = ::fstat(fd, &st) == 0;
    const auto size = static_cast<std::uint64_t>(ok ? st.st_size : 0);
    const bool gzip = ok && size >= 2 && ::pread(fd, head, 2, 0) == 2 && IsGzip(head, 2);
    if (ok && gzip) {
        ok = size >= kGzMinStreamSize &&
             ::pread(fd, tail, kGzTrailerSize, static_cast<off_t>(size - kGzTrailerSize)) ==
                 static_cast<ssize_t>(kGzTrailerSize) &&
             LittleEndian32(tail) == lastStream.crc &&
             LittleEndian32(tail + 4) == static_cast<std::uint32_t>(lastStream.length);
    }
    if (!ok)
        Fail("truncated gzip stream");
    return ok;
}

bool HasSuffix(const std::string& path) {
    return path.size() > kGzSuffixLength &&
           path.compare(path.size() - kGzSuffixLength, kGzSuffixLength, kGzSuffix) == 0;
}

// The compress copy loop: `read(block, capacity)` gives the next plain
// bytes (0 at the end, -1 on an error that it has reported); each block goes
// to zlib, then to the progress step. Leaves `gz` open.
template <class Read>
bool DeflateBlocks(gzFile gz, Read&& read, GzProgress progress) {
    unsigned char block[GzBlockSize];
    for (;;) {
        const std::ptrdiff_t n = read(block, sizeof block);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (::gzwrite(gz, block, static_cast<unsigned>(n)) != static_cast<int>(n)) {
            FailGz(gz, "cannot write gzip stream");
            return false;
        }
        if (progress.step)
            progress.step(progress.context, static_cast<std::uint32_t>(n));
    }
}

// Closes a gzip stream being written; the close flushes the last deflate
// output, so it can fail too. `ok` says whether the loop before succeeded.
bool CloseGzWriter(gzFile gz, bool ok) {
    const int rc = ::gzclose(gz);
    if (ok && rc != Z_OK) {
        if (rc == Z_ERRNO) {
            FailErrno("cannot write gzip stream", errno);
        } else {
            Fail("cannot finish gzip stream");
        }
        return false;
    }
    return ok;
}

// The decompress copy loop: blocks of GzBlockSize from zlib to
// `write(block, n)` (false on an error that it has reported), at most
// `outputLimit` bytes in all. On success lastStream holds the CRC-32 and
// length of what was written. Leaves `gz` open.
template <class Write>
bool InflateBlocks(gzFile gz, std::uint64_t outputLimit, Write&& write) {
    unsigned char block[GzBlockSize];
    std::uint64_t total = 0;
    uLong crc = ::crc32(0L, Z_NULL, 0);
    lastStream = StreamSummary();
    for (;;) {
        // Ask for at most one byte past the limit: a stream that would decode
        // to more stops here instead of being inflated first.
        const std::uint64_t room = outputLimit - total;
        const unsigned want =
            room < sizeof block ? static_cast<unsigned>(room + 1) : unsigned{sizeof block};
        const int n = ::gzread(gz, block, want);
        if (n < 0) {
            FailGz(gz, "cannot read gzip stream");
            return false;
        }
        if (n == 0) {
            // A stream that simply ends early reads as end of file; zlib keeps
            // the reason.
            int code = Z_OK;
            ::gzerror(gz, &code);
            if (code != Z_OK) {
                FailGz(gz, "cannot read gzip stream");
                return false;
            }
            lastStream = StreamSummary{static_cast<std::uint32_t>(crc), total};
            return true;
        }
        if (static_cast<std::uint64_t>(n) > room) {
            Fail("decoded size exceeds limit");
            return false;
        }
        total += static_cast<std::uint64_t>(n);
        crc = ::crc32(crc, block, static_cast<uInt>(n));
        if (!write(block, static_cast<std::size_t>(n)))
            return false;
    }
}

bool CloseGzReader(gzFile gz, bool ok) {
    const int rc = ::gzclose(gz);
    if (ok && rc != Z_OK) {
        Fail("corrupt gzip stream");
        return false;
    }
    return ok;
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
    if (ok) {
        ok = DeflateBlocks(
            gz,
            [plainFile](unsigned char* block, std::size_t capacity) -> std::ptrdiff_t {
                const std::size_t n = std::fread(block, 1, capacity, plainFile);
                if (std::ferror(plainFile)) {
                    FailErrno("cannot read plain input", errno);
                    return -1;
                }
                return static_cast<std::ptrdiff_t>(n);
            },
            progress);
    }
    if (plainFile)
        std::fclose(plainFile);
    if (gz)
        ok = CloseGzWriter(gz, ok);
    return ok ? 1 : 0;
}

int GzStreamDecompress(void* gzipFile, std::FILE* plainFile, std::uint64_t outputLimit) {
    gzFile gz = AsGz(gzipFile);
    bool ok = plainFile != nullptr && gz != nullptr;
    if (!ok)
        Fail("no stream to decompress");
    if (ok) {
        ok = InflateBlocks(gz, outputLimit, [plainFile](const unsigned char* block, std::size_t n) {
            if (std::fwrite(block, 1, n, plainFile) == n)
                return true;
            FailErrno("cannot write decoded output", errno);
            return false;
        });
    }
    if (plainFile) {
        if (std::fclose(plainFile) != 0 && ok) {
            FailErrno("cannot write decoded output", errno);
            ok = false;
        }
    }
    if (gz)
        ok = CloseGzReader(gz, ok);
    if (!ok)
        lastStream = StreamSummary();
    return ok ? 1 : 0;
}

int GzCompressFile(const std::string& path, const char* mode, GzProgress progress) {
    std::string output = path + kGzSuffix;
    std::FILE* plain = std::fopen(path.c_str(), "rb");
    if (plain == nullptr) {
        FailErrno("cannot open " + path, errno);
        return 0;
    }
    // Our own descriptor on the output, so that the header can be set after
    // zlib has closed its copy, without opening the file again by name.
    const int fd = ::open(output.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        FailErrno("cannot create " + output, errno);
        std::fclose(plain);
        return 0;
    }
    const int zlibFd = ::dup(fd);
    errno = 0;
    gzFile gz = zlibFd < 0 ? nullptr : ::gzdopen(zlibFd, mode);
    if (gz == nullptr) {
        FailErrno("cannot create " + output, errno != 0 ? errno : EINVAL);
        if (zlibFd >= 0)
            ::close(zlibFd);
        std::fclose(plain);
        ::close(fd);
        ::unlink(output.c_str());
        return 0;
    }
    ::gzbuffer(gz, kZlibBuffer);
    bool ok = GzStreamCompress(plain, gz, progress) != 0;
    if (ok)
        ok = FixHeaderInFile(fd, output);
    ::close(fd);
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
    // Our own descriptor on the input: the trailer is checked through it
    // after zlib has closed its copy.
    const int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        FailErrno("cannot open " + input, errno);
        return 0;
    }
    const int zlibFd = ::dup(fd);
    errno = 0;
    gzFile gz = zlibFd < 0 ? nullptr : ::gzdopen(zlibFd, "rb");
    if (gz == nullptr) {
        FailErrno("cannot open " + input, errno != 0 ? errno : EINVAL);
        if (zlibFd >= 0)
            ::close(zlibFd);
        ::close(fd);
        return 0;
    }
    ::gzbuffer(gz, kZlibBuffer);
    std::FILE* plain = std::fopen(output.c_str(), "wb");
    if (plain == nullptr) {
        FailErrno("cannot create " + output, errno);
        ::gzclose(gz);
        ::close(fd);
        return 0;
    }
    const bool ok = GzStreamDecompress(gz, plain, outputLimit) && FileTrailerMatches(fd);
    ::close(fd);
    if (!ok) {
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
    ScratchUse use;
    if (!scratch.Ready(TempDirectory()))
        return nullptr;
    ScratchFiles::File& plain = scratch[0];
    ScratchFiles::File& packed = scratch[1];
    // The plain file is read back in blocks at known offsets, up to the
    // input's length, so bytes of an earlier call beyond it do not matter.
    if (!WriteAllAt(plain.fd, data, length)) {
        FailErrno("cannot write " + scratch.What(), errno);
        return nullptr;
    }
    plain.size = std::max<std::uint64_t>(plain.size, length);
    const int zlibFd = DescriptorForZlib(packed);
    if (zlibFd < 0)
        return nullptr;
    gzFile gz = OpenGzStream(zlibFd, GzWriteMode, kZlibBuffer);
    if (gz == nullptr)
        return nullptr;
    std::uint64_t offset = 0;
    bool ok = DeflateBlocks(
        gz,
        [&](unsigned char* block, std::size_t capacity) -> std::ptrdiff_t {
            const std::uint64_t left = length - offset;
            const std::size_t n = left < capacity ? static_cast<std::size_t>(left) : capacity;
            if (n > 0 && !ReadAllAt(plain.fd, block, n, offset)) {
                FailErrno("cannot read " + scratch.What(), errno);
                return -1;
            }
            offset += n;
            return static_cast<std::ptrdiff_t>(n);
        },
        progress);
    if (!CloseGzWriter(gz, ok))
        return nullptr;

    // zlib wrote the stream from offset 0 through a descriptor sharing our
    // file position: where that position stands is the stream's length.
    const off_t end = ::lseek(packed.fd, 0, SEEK_CUR);
    if (end < 0) {
        FailErrno("cannot read " + scratch.What(), errno);
        return nullptr;
    }
    const auto size = static_cast<std::uint64_t>(end);
    packed.size = std::max(packed.size, size);
    GzBuffer result = ReadResult(packed.fd, size);
    if (!result)
        return nullptr;
    if (size < kGzMinStreamSize || !LooksLikeOurHeader(result.get())) {
        Fail("unexpected gzip header from zlib");
        return nullptr;
    }
    FixHeaderBytes(result.get());
    *outLength = static_cast<std::uint32_t>(size);
    use.Succeeded();
    return result;
}

GzBuffer GzDecompressBuffer(const unsigned char* data, std::uint32_t length,
                            std::uint32_t* outLength, std::uint64_t outputLimit) {
    if (outLength == nullptr || (data == nullptr && length != 0)) {
        Fail("no buffer");
        return nullptr;
    }
    ScratchUse use;
    if (!scratch.Ready(TempDirectory()))
        return nullptr;
    ScratchFiles::File& packed = scratch[0];
    ScratchFiles::File& plain = scratch[1];
    const std::int64_t at = WriteAtEnd(packed, data, length);
    if (at < 0)
        return nullptr;
    const int zlibFd = DescriptorForZlib(packed, at);
    if (zlibFd < 0)
        return nullptr;
    gzFile gz = OpenGzStream(zlibFd, "rb", ZlibBufferFor(length));
    if (gz == nullptr)
        return nullptr;
    const std::uint64_t limit = outputLimit < kMaxBufferResult ? outputLimit : kMaxBufferResult;
    std::uint64_t written = 0;
    const bool ok = InflateBlocks(gz, limit, [&](const unsigned char* block, std::size_t n) {
        if (!WriteAllAt(plain.fd, block, n, written)) {
            FailErrno("cannot write " + scratch.What(), errno);
            return false;
        }
        written += n;
        plain.size = std::max(plain.size, written);
        return true;
    });
    if (!CloseGzReader(gz, ok))
        return nullptr;
    // The input is in memory: its trailer is checked there, not read again.
    if (!TrailerMatches(data, length)) {
        Fail("truncated gzip stream");
        return nullptr;
    }
    GzBuffer result = ReadResult(plain.fd, written);
    if (!result)
        return nullptr;
    *outLength = static_cast<std::uint32_t>(written);
    use.Succeeded();
    return result;
}

}  // namespace codec
