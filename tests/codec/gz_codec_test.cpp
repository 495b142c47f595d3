// Gzip buffer codec: stream bytes, round trips, progress, temporary files on
// success and failure, corrupt and hostile streams, file operations, threads.
#include "codec/GzCodec.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using codec::GzBuffer;

constexpr std::uint32_t kUntouched = 0xDEADBEEF;

Bytes RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<unsigned char>(rng());
    return out;
}

// Compressible text-like bytes: words from a small vocabulary.
Bytes TextBytes(std::size_t n, unsigned seed) {
    static const char* const words[] = {"pack ",  "folder ", "file ",   "the ",   "of ",
                                        "data\n", "record ", "stream ", "block ", "name "};
    std::mt19937 rng(seed);
    Bytes out;
    out.reserve(n + 8);
    while (out.size() < n) {
        const char* w = words[rng() % 10];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}

Bytes ToBytes(const GzBuffer& buf, std::uint32_t n) {
    return Bytes(buf.get(), buf.get() + n);
}

Bytes Compress(const Bytes& in) {
    std::uint32_t n = kUntouched;
    GzBuffer out = codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n);
    EXPECT_TRUE(out) << codec::GzLastError();
    return out ? ToBytes(out, n) : Bytes{};
}

// zlib's own in-memory gzip decoder, independent of the gz* file functions.
bool InflateGzip(const Bytes& stream, Bytes& out) {
    z_stream zs{};
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK)
        return false;
    out.clear();
    unsigned char chunk[65536];
    zs.next_in = const_cast<unsigned char*>(stream.data());
    zs.avail_in = static_cast<uInt>(stream.size());
    int rc = Z_OK;
    do {
        zs.next_out = chunk;
        zs.avail_out = sizeof chunk;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.insert(out.end(), chunk, chunk + (sizeof chunk - zs.avail_out));
    } while (rc == Z_OK);
    bool ok = rc == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    return ok;
}

// A gzip stream made in memory, for hostile inputs that the codec would
// take long to produce itself.
Bytes DeflateGzip(const Bytes& in) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&zs, in.size()));
    zs.next_in = const_cast<unsigned char*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return {"<cannot list " + dir + ">"};
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

bool ReadFile(const std::string& path, Bytes& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Every test gets a private temporary directory as $TMPDIR.
class GzCodecTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        hadTmp_ = old != nullptr;
        if (old)
            oldTmp_ = old;
        std::string tmpl =
            (old && *old ? std::string(old) : std::string("/tmp")) + "/gztest.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
        dir_ = root_ + "/tmp";
        ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0);
        setenv("TMPDIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        if (hadTmp_) {
            setenv("TMPDIR", oldTmp_.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
        std::string cmd = "rm -rf '" + root_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    void ExpectTempDirEmpty(const char* when) {
        EXPECT_EQ(ListDir(dir_), std::vector<std::string>{}) << when;
    }

    std::string root_;  // private scratch folder
    std::string dir_;   // $TMPDIR, inside root_
    bool hadTmp_ = false;
    std::string oldTmp_;
};

// ---- Stream bytes ---------------------------------------------------------

TEST_F(GzCodecTest, EmptyInputGivesHeaderEmptyBlockAndTrailer) {
    Bytes stream = Compress({});
    const Bytes expected = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0B,
                            0x03, 0x00, 0,    0,    0,    0,    0,    0,    0,    0};
    EXPECT_EQ(stream, expected);
}

TEST_F(GzCodecTest, StreamHasFixedHeaderAndTrailerOfData) {
    for (std::size_t n : {1u, 100u, 16385u, 70000u}) {
        SCOPED_TRACE(n);
        Bytes in = TextBytes(n, static_cast<unsigned>(n));
        Bytes stream = Compress(in);
        ASSERT_GE(stream.size(), 18u);
        EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 10),
                  Bytes(std::begin(codec::GzHeader), std::end(codec::GzHeader)));
        const unsigned char* t = stream.data() + stream.size() - 8;
        std::uint32_t crc = t[0] | t[1] << 8 | t[2] << 16 | static_cast<std::uint32_t>(t[3]) << 24;
        std::uint32_t len = t[4] | t[5] << 8 | t[6] << 16 | static_cast<std::uint32_t>(t[7]) << 24;
        EXPECT_EQ(crc, crc32(0, in.data(), static_cast<uInt>(in.size())));
        EXPECT_EQ(len, n);
        // Level 9 with the default strategy, exactly as deflate makes it.
        Bytes reference = DeflateGzip(in);
        EXPECT_EQ(Bytes(stream.begin() + 10, stream.end()),
                  Bytes(reference.begin() + 10, reference.end()));
    }
}

// ---- Round trips -----------------------------------------------------------

TEST_F(GzCodecTest, RoundTripsAndZlibAcceptsTheStream) {
    struct Case {
        const char* what;
        Bytes data;
    };
    const Case cases[] = {
        {"empty", {}},
        {"one byte", {0x42}},
        {"block - 1", TextBytes(16383, 1)},
        {"block", TextBytes(16384, 2)},
        {"block + 1", RandomBytes(16385, 3)},
        {"100000", TextBytes(100000, 4)},
        {"3 MB random", RandomBytes(3 << 20, 5)},
        {"3 MB text", TextBytes(3 << 20, 6)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes stream = Compress(c.data);
        Bytes inflated;
        EXPECT_TRUE(InflateGzip(stream, inflated));
        EXPECT_EQ(inflated, c.data);

        std::uint32_t n = kUntouched;
        GzBuffer back = codec::GzDecompressBuffer(
            stream.data(), static_cast<std::uint32_t>(stream.size()), &n, c.data.size());
        ASSERT_TRUE(back) << codec::GzLastError();
        EXPECT_EQ(n, c.data.size());
        EXPECT_EQ(ToBytes(back, n), c.data);
        ExpectTempDirEmpty(c.what);
    }
}

TEST_F(GzCodecTest, PythonGzipAcceptsTheStream) {
    if (std::system("python3 -c 'import gzip' >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "python3 not available";
    }
    Bytes in = TextBytes(50000, 7);
    Bytes stream = Compress(in);
    std::string gzPath = root_ + "/py.gz";
    std::string outPath = root_ + "/py.out";
    WriteFile(gzPath, stream);
    std::string cmd =
        "python3 -c 'import gzip,sys; open(sys.argv[2],\"wb\").write("
        "gzip.decompress(open(sys.argv[1],\"rb\").read()))' '" +
        gzPath + "' '" + outPath + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Bytes out;
    ASSERT_TRUE(ReadFile(outPath, out));
    EXPECT_EQ(out, in);
}

TEST_F(GzCodecTest, InputWithoutGzipMagicComesBackAsItIs) {
    const Bytes cases[] = {
        {},
        {'h', 'e', 'l', 'l', 'o', ' ', 'p', 'a', 'c', 'k'},
        {0x1F},
        {0x1F, 0x8C, 0x08, 0x00, 0x01, 0x02},
        RandomBytes(40000, 8),
    };
    for (const Bytes& in : cases) {
        SCOPED_TRACE(in.size());
        std::uint32_t n = kUntouched;
        GzBuffer out =
            codec::GzDecompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n);
        ASSERT_TRUE(out) << codec::GzLastError();
        EXPECT_EQ(ToBytes(out, n), in);
    }
    ExpectTempDirEmpty("after transparent copies");
}

// ---- Progress --------------------------------------------------------------

TEST_F(GzCodecTest, ProgressReportsEveryBlockWritten) {
    struct Case {
        std::size_t size;
        std::vector<std::uint32_t> calls;
    };
    const Case cases[] = {
        {0, {}},
        {1, {1}},
        {16384, {16384}},
        {16385, {16384, 1}},
        {100000, {16384, 16384, 16384, 16384, 16384, 16384, 1696}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<std::uint32_t> calls;
        codec::GzProgress progress;
        progress.context = &calls;
        progress.step = [](void* ctx, std::uint32_t bytes) {
            static_cast<std::vector<std::uint32_t>*>(ctx)->push_back(bytes);
        };
        Bytes in = TextBytes(c.size, 9);
        std::uint32_t n = 0;
        GzBuffer out =
            codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n, progress);
        ASSERT_TRUE(out);
        EXPECT_EQ(calls, c.calls);
    }
}

// ---- Corrupt and hostile streams --------------------------------------------

TEST_F(GzCodecTest, TruncatedStreamsFailAtEveryLength) {
    Bytes in = TextBytes(600, 10);
    Bytes stream = Compress(in);
    ASSERT_GT(stream.size(), 20u);
    for (std::size_t len = 0; len < stream.size(); ++len) {
        SCOPED_TRACE(len);
        std::uint32_t n = kUntouched;
        GzBuffer out =
            codec::GzDecompressBuffer(stream.data(), static_cast<std::uint32_t>(len), &n);
        if (len < 2) {
            // Too short to carry the magic: read as plain bytes.
            ASSERT_TRUE(out);
            EXPECT_EQ(ToBytes(out, n), Bytes(stream.begin(), stream.begin() + len));
            continue;
        }
        EXPECT_FALSE(out);
        EXPECT_EQ(n, kUntouched);
        EXPECT_STREQ(codec::GzLastError(), "corrupt gzip stream");
    }
    ExpectTempDirEmpty("after truncated streams");
}

TEST_F(GzCodecTest, DamagedTrailerOrBodyFails) {
    Bytes in = TextBytes(5000, 11);
    Bytes stream = Compress(in);
    const std::size_t size = stream.size();
    struct Case {
        const char* what;
        std::size_t offset;
    };
    const Case cases[] = {
        {"crc byte 0", size - 8},    {"crc byte 3", size - 5},  {"length byte 0", size - 4},
        {"length byte 3", size - 1}, {"compression method", 2}, {"deflate body", 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bad = stream;
        bad[c.offset] ^= 0x01;
        std::uint32_t n = kUntouched;
        GzBuffer out =
            codec::GzDecompressBuffer(bad.data(), static_cast<std::uint32_t>(bad.size()), &n);
        EXPECT_FALSE(out);
        EXPECT_EQ(n, kUntouched);
        EXPECT_STREQ(codec::GzLastError(), "corrupt gzip stream");
    }
    ExpectTempDirEmpty("after damaged streams");
}

TEST_F(GzCodecTest, OutputLimitIsEnforced) {
    Bytes in = TextBytes(100000, 12);
    Bytes stream = Compress(in);
    struct Case {
        std::uint64_t limit;
        bool ok;
    };
    const Case cases[] = {
        {100000, true}, {100001, true}, {99999, false}, {16384, false}, {0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        std::uint32_t n = kUntouched;
        GzBuffer out = codec::GzDecompressBuffer(
            stream.data(), static_cast<std::uint32_t>(stream.size()), &n, c.limit);
        EXPECT_EQ(static_cast<bool>(out), c.ok);
        if (!c.ok) {
            EXPECT_EQ(n, kUntouched);
            EXPECT_STREQ(codec::GzLastError(), "decoded size exceeds limit");
        }
    }
    // The empty stream fits a limit of 0.
    Bytes empty = Compress({});
    std::uint32_t n = kUntouched;
    EXPECT_TRUE(
        codec::GzDecompressBuffer(empty.data(), static_cast<std::uint32_t>(empty.size()), &n, 0));
    EXPECT_EQ(n, 0u);
    ExpectTempDirEmpty("after limits");
}

// Runs `body` in a forked child whose files may not grow past `maxFileSize`;
// write() then fails with EFBIG instead of killing the child. The child's
// exit code is body's result.
int RunWithFileSizeLimit(rlim_t maxFileSize, int (*body)(const std::string&),
                         const std::string& arg) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{maxFileSize, maxFileSize};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
            _exit(90);
        _exit(body(arg));
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST_F(GzCodecTest, DecompressionBombStopsAtTheLimit) {
    // 64 MiB of zeros in a stream of some 64 KiB. With files capped at 1 MiB
    // the call can only report the limit if it stops early instead of
    // writing everything first.
    Bytes bomb = DeflateGzip(Bytes(64u << 20, 0));
    ASSERT_LT(bomb.size(), 1u << 20);
    std::string path = root_ + "/bomb.gz";
    WriteFile(path, bomb);
    int rc = RunWithFileSizeLimit(
        1u << 20,
        [](const std::string& p) {
            Bytes stream;
            if (!ReadFile(p, stream))
                return 10;
            std::uint32_t n = kUntouched;
            GzBuffer out = codec::GzDecompressBuffer(
                stream.data(), static_cast<std::uint32_t>(stream.size()), &n, 4096);
            if (out || n != kUntouched)
                return 11;
            if (std::strcmp(codec::GzLastError(), "decoded size exceeds limit") != 0)
                return 12;
            return 0;
        },
        path);
    EXPECT_EQ(rc, 0);
    ExpectTempDirEmpty("after the bomb");
}

// ---- Lifetime of the temporary files -----------------------------------------

TEST_F(GzCodecTest, TemporaryFilesHaveNoNameWhileACallWorks) {
    // The progress step runs in the middle of the compress loop, with both
    // temporary files open: the folder must look empty all the same.
    struct Seen {
        std::string dir;
        int steps = 0;
        std::vector<std::string> names;
    } seen{dir_, 0, {}};
    codec::GzProgress progress;
    progress.context = &seen;
    progress.step = [](void* context, std::uint32_t) {
        auto* s = static_cast<Seen*>(context);
        ++s->steps;
        for (const std::string& n : ListDir(s->dir))
            s->names.push_back(n);
    };
    Bytes in = TextBytes(100000, 31);
    std::uint32_t n = kUntouched;
    GzBuffer out =
        codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n, progress);
    ASSERT_TRUE(out) << codec::GzLastError();
    EXPECT_EQ(seen.steps, 7);
    EXPECT_EQ(seen.names, std::vector<std::string>{});
    Bytes back;
    ASSERT_TRUE(InflateGzip(ToBytes(out, n), back));
    EXPECT_EQ(back, in);
}

TEST_F(GzCodecTest, KilledMidDecodeLeavesNothing) {
    // A child decodes a large stream again and again; it is killed while it
    // works. Neither during the calls nor after the kill may the folder
    // hold anything.
    Bytes stream = DeflateGzip(TextBytes(8u << 20, 32));
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(ready[0]);
        bool told = false;
        for (;;) {
            std::uint32_t n = 0;
            GzBuffer out =
                codec::GzDecompressBuffer(stream.data(), static_cast<std::uint32_t>(stream.size()),
                                          &n, std::uint64_t{8} << 20);
            if (!out)
                _exit(1);
            if (!told && write(ready[1], "x", 1) == 1)
                told = true;
        }
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);  // one call done, the next under way
    close(ready[0]);
    std::vector<std::string> during;
    for (int i = 0; i < 20; ++i) {
        for (const std::string& name : ListDir(dir_))
            during.push_back(name);
        usleep(2000);
    }
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself: a decode failed";
    EXPECT_EQ(during, std::vector<std::string>{});
    ExpectTempDirEmpty("after the kill");
}

// The nameless temporary files this thread holds open in `dir`, by
// descriptor number.
std::vector<int> ScratchDescriptors(const std::string& dir) {
    std::vector<int> fds;
    DIR* d = opendir("/proc/self/fd");
    if (!d)
        return fds;
    while (dirent* e = readdir(d)) {
        char target[4096] = {};
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target).rfind(dir + "/", 0) == 0 &&
            std::strstr(target, "(deleted)") != nullptr)
            fds.push_back(std::atoi(e->d_name));
    }
    closedir(d);
    std::sort(fds.begin(), fds.end());
    return fds;
}

Bytes Decompress(const Bytes& stream, std::uint64_t limit = codec::GzNoLimit) {
    std::uint32_t n = kUntouched;
    GzBuffer out = codec::GzDecompressBuffer(stream.data(),
                                             static_cast<std::uint32_t>(stream.size()), &n, limit);
    EXPECT_TRUE(out) << codec::GzLastError();
    return out ? ToBytes(out, n) : Bytes{};
}

TEST_F(GzCodecTest, CallsAfterLargerOnesSeeNothingOfThem) {
    // The files are written again from the start by each call: a shorter
    // input must not run on into the bytes an earlier call left behind.
    // Input without the gzip magic shows it plainly (it comes back whole).
    const Bytes longPlain = TextBytes(300000, 40);
    const Bytes shortPlain(longPlain.begin(), longPlain.begin() + 1000);
    EXPECT_EQ(Decompress(longPlain), longPlain);
    EXPECT_EQ(Decompress(shortPlain), shortPlain);
    // And a short member after a long one that ended in a member too.
    const Bytes big = TextBytes(500000, 41);
    const Bytes small = TextBytes(700, 42);
    EXPECT_EQ(Decompress(Compress(big)), big);
    EXPECT_EQ(Decompress(Compress(small)), small);
    EXPECT_EQ(Decompress(Bytes{}), Bytes{});
    ExpectTempDirEmpty("after calls of several sizes");
}

TEST_F(GzCodecTest, FilesKeptBetweenCallsAreFewAndSmall) {
    const Bytes big = TextBytes(3u << 20, 43);
    EXPECT_EQ(Decompress(Compress(big)), big);
    const std::vector<int> fds = ScratchDescriptors(dir_);
    ASSERT_EQ(fds.size(), 2u) << "the thread keeps its two files open";
    for (int fd : fds) {
        struct stat st {};
        ASSERT_EQ(fstat(fd, &st), 0);
        EXPECT_LE(st.st_size, 1 << 20) << "a large call's bytes are given back";
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    EXPECT_EQ(Decompress(Compress(big)), big);
    EXPECT_EQ(ScratchDescriptors(dir_), fds) << "the next call uses the same files";
    // A call in another temporary folder makes its files there.
    const std::string other = root_ + "/other";
    ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
    setenv("TMPDIR", other.c_str(), 1);
    EXPECT_EQ(Decompress(Compress(big)), big);
    EXPECT_EQ(ScratchDescriptors(dir_), std::vector<int>{});
    EXPECT_EQ(ScratchDescriptors(other).size(), 2u);
    setenv("TMPDIR", dir_.c_str(), 1);
}

TEST_F(GzCodecTest, AFolderGoneSinceTheLastCallFailsTheNext) {
    const Bytes in = TextBytes(5000, 44);
    const Bytes stream = Compress(in);
    EXPECT_EQ(Decompress(stream), in);
    ASSERT_EQ(rmdir(dir_.c_str()), 0);
    std::uint32_t n = kUntouched;
    EXPECT_FALSE(
        codec::GzDecompressBuffer(stream.data(), static_cast<std::uint32_t>(stream.size()), &n));
    EXPECT_EQ(n, kUntouched);
    EXPECT_EQ(codec::GzLastError(),
              "cannot create temporary file in " + dir_ + ": No such file or directory");
    EXPECT_FALSE(codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n));
    EXPECT_EQ(codec::GzLastError(),
              "cannot create temporary file in " + dir_ + ": No such file or directory");
    ASSERT_EQ(mkdir(dir_.c_str(), 0700), 0);
    EXPECT_EQ(Decompress(stream), in);
}

TEST_F(GzCodecTest, DescriptorsClosedByTheHostAreNeverWrittenThrough) {
    // A host that closes every descriptor it did not open, then opens files
    // of its own under the same numbers: the next call must leave them be.
    const Bytes in = TextBytes(200000, 45);
    const Bytes stream = Compress(in);
    EXPECT_EQ(Decompress(stream), in);
    const std::vector<int> fds = ScratchDescriptors(dir_);
    ASSERT_EQ(fds.size(), 2u);
    std::vector<std::string> mine;
    for (int fd : fds) {
        ASSERT_EQ(close(fd), 0);
        const std::string path = root_ + "/host-" + std::to_string(fd);
        WriteFile(path, {'h', 'o', 's', 't'});
        const int again = open(path.c_str(), O_RDWR);
        ASSERT_GE(again, 0);
        if (again != fd) {
            ASSERT_EQ(dup2(again, fd), fd);
            close(again);
        }
        mine.push_back(path);
    }
    EXPECT_EQ(Decompress(stream), in);
    EXPECT_EQ(Compress(in).size(), stream.size());
    for (std::size_t i = 0; i < fds.size(); ++i) {
        Bytes now;
        ASSERT_TRUE(ReadFile(mine[i], now));
        EXPECT_EQ(now, (Bytes{'h', 'o', 's', 't'})) << mine[i];
        close(fds[i]);
    }
}

TEST_F(GzCodecTest, AForkedChildAndItsParentDoNotShareFiles) {
    // The parent has its files before the fork; parent and child then decode
    // different streams at the same time, many times over.
    const Bytes a = TextBytes(150000, 46);
    const Bytes b = TextBytes(90000, 47);
    const Bytes streamA = Compress(a);
    const Bytes streamB = Compress(b);
    EXPECT_EQ(Decompress(streamA), a);
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        for (int i = 0; i < 200; ++i) {
            std::uint32_t n = 0;
            GzBuffer out = codec::GzDecompressBuffer(
                streamB.data(), static_cast<std::uint32_t>(streamB.size()), &n);
            if (!out || ToBytes(out, n) != b)
                _exit(1);
        }
        _exit(0);
    }
    int wrong = 0;
    for (int i = 0; i < 200; ++i) {
        std::uint32_t n = 0;
        GzBuffer out = codec::GzDecompressBuffer(streamA.data(),
                                                 static_cast<std::uint32_t>(streamA.size()), &n);
        if (!out || ToBytes(out, n) != a)
            ++wrong;
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child decoded wrongly";
    EXPECT_EQ(wrong, 0);
}

// ---- Failures of the temporary directory and the disk -----------------------

TEST_F(GzCodecTest, UnusableTempDirFailsWithReason) {
    std::string file = root_ + "/plain-file";
    WriteFile(file, {1, 2, 3});
    struct Case {
        const char* what;
        std::string dir;
        const char* reason;
    };
    const Case cases[] = {
        {"missing folder", root_ + "/missing", "No such file or directory"},
        {"regular file", file, "Not a directory"},
        {"below a regular file", file + "/sub", "Not a directory"},
    };
    Bytes in = TextBytes(1000, 13);
    Bytes stream = Compress(in);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setenv("TMPDIR", c.dir.c_str(), 1);
        const std::string expected = "cannot create temporary file in " + c.dir + ": " + c.reason;
        std::uint32_t n = kUntouched;
        EXPECT_FALSE(codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n));
        EXPECT_EQ(n, kUntouched);
        EXPECT_EQ(codec::GzLastError(), expected);
        EXPECT_FALSE(codec::GzDecompressBuffer(stream.data(),
                                               static_cast<std::uint32_t>(stream.size()), &n));
        EXPECT_EQ(n, kUntouched);
        EXPECT_EQ(codec::GzLastError(), expected);
    }
    setenv("TMPDIR", dir_.c_str(), 1);
    EXPECT_EQ(ListDir(root_), (std::vector<std::string>{"plain-file", "tmp"}));
    ExpectTempDirEmpty("after unusable folders");
}

TEST_F(GzCodecTest, ReadOnlyTempDirFails) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    // The folder was fine for the call before: the files kept since then do
    // not make the next call succeed.
    Bytes in = TextBytes(1000, 14);
    EXPECT_EQ(Decompress(Compress(in)), in);
    ASSERT_EQ(chmod(dir_.c_str(), 0500), 0);
    std::uint32_t n = kUntouched;
    EXPECT_FALSE(codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n));
    EXPECT_EQ(n, kUntouched);
    EXPECT_EQ(codec::GzLastError(),
              "cannot create temporary file in " + dir_ + ": Permission denied");
    ASSERT_EQ(chmod(dir_.c_str(), 0700), 0);
    ExpectTempDirEmpty("after read-only folder");
}

// Each body returns 0 when the call failed cleanly: null result, length
// untouched, a reason given, and nothing left in $TMPDIR.
int CompressUnderLimit(const std::string& dir) {
    Bytes in = RandomBytes(100000, 15);  // incompressible: the .gz outgrows the input
    std::uint32_t n = kUntouched;
    GzBuffer out = codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n);
    if (out || n != kUntouched)
        return 1;
    if (std::strstr(codec::GzLastError(), "File too large") == nullptr)
        return 2;
    return ListDir(dir).empty() ? 0 : 3;
}

int DecompressUnderLimit(const std::string& dir) {
    Bytes stream = DeflateGzip(Bytes(1 << 20, 0x61));  // small stream, large output
    std::uint32_t n = kUntouched;
    GzBuffer out =
        codec::GzDecompressBuffer(stream.data(), static_cast<std::uint32_t>(stream.size()), &n);
    if (out || n != kUntouched)
        return 1;
    if (std::strstr(codec::GzLastError(), "File too large") == nullptr)
        return 2;
    return ListDir(dir).empty() ? 0 : 3;
}

int InputTooLargeForDisk(const std::string& dir) {
    Bytes in = TextBytes(200000, 17);
    std::uint32_t n = kUntouched;
    GzBuffer out = codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n);
    if (out || n != kUntouched)
        return 1;
    if (std::strstr(codec::GzLastError(), "cannot write temporary file") == nullptr)
        return 2;
    return ListDir(dir).empty() ? 0 : 3;
}

TEST_F(GzCodecTest, FullDiskFailsAndCleansUp) {
    struct Case {
        const char* what;
        rlim_t limit;
        int (*body)(const std::string&);
    };
    const Case cases[] = {
        {"gzip output does not fit", 100000, CompressUnderLimit},
        {"decoded output does not fit", 64 * 1024, DecompressUnderLimit},
        {"input does not fit", 100000, InputTooLargeForDisk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RunWithFileSizeLimit(c.limit, c.body, dir_), 0);
        ExpectTempDirEmpty(c.what);
    }
}

// ---- File operations ---------------------------------------------------------

TEST_F(GzCodecTest, CompressFileReplacesInputWithGzipFile) {
    Bytes in = TextBytes(40000, 18);
    std::string path = root_ + "/doc.txt";
    WriteFile(path, in);
    ASSERT_EQ(codec::GzCompressFile(path, codec::GzWriteMode), 1) << codec::GzLastError();
    EXPECT_FALSE(Exists(path));
    Bytes stream;
    ASSERT_TRUE(ReadFile(path + ".gz", stream));
    ASSERT_GE(stream.size(), 10u);
    EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 10),
              Bytes(std::begin(codec::GzHeader), std::end(codec::GzHeader)));
    Bytes inflated;
    EXPECT_TRUE(InflateGzip(stream, inflated));
    EXPECT_EQ(inflated, in);

    // A missing input fails and creates nothing.
    EXPECT_EQ(codec::GzCompressFile(root_ + "/none", codec::GzWriteMode), 0);
    EXPECT_FALSE(Exists(root_ + "/none.gz"));
    // An output that cannot be created fails and keeps the input.
    std::string inDir = root_ + "/ro";
    ASSERT_EQ(mkdir(inDir.c_str(), 0700), 0);
    WriteFile(inDir + "/f", in);
    ASSERT_EQ(mkdir((inDir + "/f.gz").c_str(), 0700), 0);  // a folder in the way
    EXPECT_EQ(codec::GzCompressFile(inDir + "/f", codec::GzWriteMode), 0);
    EXPECT_TRUE(Exists(inDir + "/f"));
}

TEST_F(GzCodecTest, DecompressFileSuffixRule) {
    struct Case {
        const char* name;    // argument
        const char* input;   // compressed file read
        const char* output;  // plain file written
    };
    const Case cases[] = {
        {"a.gz", "a.gz", "a"},
        {"a", "a.gz", "a"},
        {".gz", ".gz.gz", ".gz"},  // exactly the suffix: no suffix
        {"b.GZ", "b.GZ.gz", "b.GZ"},
        {"c.Gz", "c.Gz.gz", "c.Gz"},
        {"x.tar.gz", "x.tar.gz", "x.tar"},
        {"dgz", "dgz.gz", "dgz"},
    };
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string work = root_ + "/names";
    ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
    ASSERT_EQ(chdir(work.c_str()), 0);  // relative names: the rule looks at the name as given
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes in = TextBytes(3000, static_cast<unsigned>(std::strlen(c.name)));
        WriteFile(c.input, DeflateGzip(in));
        ASSERT_EQ(codec::GzDecompressFile(c.name), 1) << codec::GzLastError();
        EXPECT_FALSE(Exists(c.input));
        Bytes out;
        ASSERT_TRUE(ReadFile(c.output, out));
        EXPECT_EQ(out, in);
        std::remove(c.output);
        EXPECT_EQ(ListDir("."), std::vector<std::string>{});
    }
    // Failures: a missing input, a corrupt input (its partial output removed,
    // the input kept).
    EXPECT_EQ(codec::GzDecompressFile("missing"), 0);
    EXPECT_FALSE(Exists("missing"));
    Bytes bad = DeflateGzip(TextBytes(50000, 19));
    bad[bad.size() - 6] ^= 0xFF;
    WriteFile("bad.gz", bad);
    EXPECT_EQ(codec::GzDecompressFile("bad.gz"), 0);
    EXPECT_EQ(ListDir("."), std::vector<std::string>{"bad.gz"});
    // Over the limit: fails the same way.
    WriteFile("big.gz", DeflateGzip(TextBytes(50000, 20)));
    EXPECT_EQ(codec::GzDecompressFile("big.gz", 1000), 0);
    EXPECT_STREQ(codec::GzLastError(), "decoded size exceeds limit");
    EXPECT_EQ(ListDir("."), (std::vector<std::string>{"bad.gz", "big.gz"}));
    ASSERT_EQ(chdir(cwd), 0);
}

// ---- Threads -------------------------------------------------------------------

TEST_F(GzCodecTest, ParallelCallsDoNotCollide) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 12;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            for (int r = 0; r < kRounds; ++r) {
                Bytes in = TextBytes(20000 + 997 * static_cast<std::size_t>(t * kRounds + r),
                                     static_cast<unsigned>(t * 100 + r));
                std::uint32_t n = 0;
                GzBuffer z =
                    codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n);
                if (!z) {
                    ++failures[t];
                    continue;
                }
                std::uint32_t m = 0;
                GzBuffer back = codec::GzDecompressBuffer(z.get(), n, &m, in.size());
                if (!back || ToBytes(back, m) != in)
                    ++failures[t];
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    ExpectTempDirEmpty("after parallel calls");
}

}  // namespace
