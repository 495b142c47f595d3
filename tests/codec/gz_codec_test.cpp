// Gzip buffer codec: stream bytes, round trips through both decoders,
// progress, the output limit and hostile size claims, no temporary folder,
// threads.
#include "codec/GzCodec.h"

#include <dirent.h>
#include <gtest/gtest.h>
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
using codec::GzDecoder;

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
    codec::GzError error;
    GzBuffer out =
        codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n, {}, &error);
    EXPECT_TRUE(out) << error.reason;
    return out ? ToBytes(out, n) : Bytes{};
}

// The decoders this build has.
std::vector<GzDecoder> Decoders() {
    std::vector<GzDecoder> out = {GzDecoder::Zlib};
    if (codec::GzHasDecoder(GzDecoder::Libdeflate))
        out.push_back(GzDecoder::Libdeflate);
    return out;
}

const char* NameOf(GzDecoder decoder) {
    return decoder == GzDecoder::Zlib ? "zlib" : "libdeflate";
}

// zlib's own in-memory gzip decoder, independent of the codec.
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

// Every test gets a private scratch folder.
class GzCodecTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string tmpl =
            (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/gztest.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + root_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }

    std::string root_;
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

        for (GzDecoder decoder : Decoders()) {
            SCOPED_TRACE(NameOf(decoder));
            std::uint32_t n = kUntouched;
            codec::GzError error;
            GzBuffer back = codec::GzDecompressWith(decoder, stream.data(),
                                                    static_cast<std::uint32_t>(stream.size()), &n,
                                                    c.data.size(), &error);
            ASSERT_TRUE(back) << error.reason;
            EXPECT_EQ(n, c.data.size());
            EXPECT_EQ(ToBytes(back, n), c.data);
        }
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

// ---- Limits and hostile sizes ---------------------------------------------------

TEST_F(GzCodecTest, OutputLimitIsEnforced) {
    Bytes in = TextBytes(100000, 12);
    Bytes stream = Compress(in);
    struct Case {
        std::uint64_t limit;
        bool ok;
    };
    const Case cases[] = {
        {100000, true}, {100001, true}, {99999, false}, {16384, false}, {0, false}};
    for (GzDecoder decoder : Decoders())
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(NameOf(decoder)) + " " + std::to_string(c.limit));
            std::uint32_t n = kUntouched;
            codec::GzError error;
            GzBuffer out = codec::GzDecompressWith(decoder, stream.data(),
                                                   static_cast<std::uint32_t>(stream.size()), &n,
                                                   c.limit, &error);
            EXPECT_EQ(static_cast<bool>(out), c.ok);
            if (!c.ok) {
                EXPECT_EQ(n, kUntouched);
                EXPECT_EQ(error.failure, codec::GzFailure::TooLarge);
                EXPECT_STREQ(error.reason, "decoded size exceeds limit");
            }
        }
    // The empty stream fits a limit of 0.
    Bytes empty = Compress({});
    std::uint32_t n = kUntouched;
    EXPECT_TRUE(
        codec::GzDecompressBuffer(empty.data(), static_cast<std::uint32_t>(empty.size()), &n, 0));
    EXPECT_EQ(n, 0u);
}

Bytes WithClaim(Bytes stream, std::uint32_t claim) {
    for (int i = 0; i < 4; ++i)
        stream[stream.size() - 4 + static_cast<std::size_t>(i)] =
            static_cast<unsigned char>(claim >> (8 * i));
    return stream;
}

#if defined(__SANITIZE_ADDRESS__)
#define CF_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CF_UNDER_ASAN 1
#endif
#endif

// A gzip member of `size` zero bytes, made without holding them.
Bytes ZerosMember(std::size_t size) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    const Bytes zeros(1 << 20, 0);
    Bytes out(1 << 20);
    std::size_t fed = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (zs.avail_in == 0 && fed < size) {
            const std::size_t n = std::min(zeros.size(), size - fed);
            zs.next_in = const_cast<unsigned char*>(zeros.data());
            zs.avail_in = static_cast<uInt>(n);
            fed += n;
        }
        if (zs.total_out == out.size())
            out.resize(out.size() * 2);
        zs.next_out = out.data() + zs.total_out;
        zs.avail_out = static_cast<uInt>(out.size() - zs.total_out);
        rc = deflate(&zs, fed == size ? Z_FINISH : Z_NO_FLUSH);
        EXPECT_TRUE(rc == Z_OK || rc == Z_STREAM_END || rc == Z_BUF_ERROR);
    }
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// A member's trailer says how large it decodes; the result gets that room
// and no more. Run in a child whose address space is capped at 64 MiB
// above what it holds, so that an allocation of the claimed size, or
// decoding past it, fails the case instead of passing unnoticed.
TEST_F(GzCodecTest, HostileSizeClaimsCostNoMemory) {
#ifdef CF_UNDER_ASAN
    GTEST_SKIP() << "the address space cannot be capped under AddressSanitizer";
#endif
    const Bytes bomb = ZerosMember(std::size_t{128} << 20);
    ASSERT_LT(bomb.size(), 1u << 20);
    const Bytes tiny = Compress(TextBytes(100, 3));
    struct Case {
        const char* what;
        Bytes stream;
        std::uint64_t limit;
        codec::GzFailure failure;
    };
    const Case cases[] = {
        {"128 MiB under a 4 KiB limit", bomb, 4096, codec::GzFailure::TooLarge},
        {"128 MiB claiming 4 KiB", WithClaim(bomb, 4096), codec::GzNoLimit,
         codec::GzFailure::Corrupt},
        {"100 bytes claiming 4 GiB - 1", WithClaim(tiny, 0xFFFFFFFF), codec::GzNoLimit,
         codec::GzFailure::Corrupt},
        {"100 bytes claiming 3 GiB under a limit of 3 GiB", WithClaim(tiny, 3u << 30),
         std::uint64_t{3} << 30, codec::GzFailure::Corrupt},
    };
    for (GzDecoder decoder : Decoders())
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(NameOf(decoder)) + ": " + c.what);
            std::fflush(nullptr);
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                rlimit cap{};
                getrlimit(RLIMIT_AS, &cap);
                std::ifstream statm("/proc/self/statm");
                std::size_t pages = 0;
                statm >> pages;
                const rlim_t room =
                    pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (64u << 20);
                cap.rlim_cur = room;
                if (setrlimit(RLIMIT_AS, &cap) != 0)
                    _exit(90);
                std::uint32_t n = kUntouched;
                codec::GzError error;
                GzBuffer out = codec::GzDecompressWith(decoder, c.stream.data(),
                                                       static_cast<std::uint32_t>(c.stream.size()),
                                                       &n, c.limit, &error);
                _exit(out ? 91 : n != kUntouched ? 92 : static_cast<int>(error.failure));
            }
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(c.failure));
        }
}

// ---- No temporary folder -------------------------------------------------------

TEST_F(GzCodecTest, NeedsNoTemporaryFolder) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    const std::string readOnly = root_ + "/read-only";
    ASSERT_EQ(mkdir(readOnly.c_str(), 0500), 0);
    const Bytes in = TextBytes(300000, 21);
    for (const std::string& tmp : {root_ + "/missing", readOnly, std::string("/dev/null")}) {
        SCOPED_TRACE(tmp);
        setenv("TMPDIR", tmp.c_str(), 1);
        const Bytes stream = Compress(in);
        for (GzDecoder decoder : Decoders()) {
            std::uint32_t n = kUntouched;
            GzBuffer out = codec::GzDecompressWith(decoder, stream.data(),
                                                   static_cast<std::uint32_t>(stream.size()), &n);
            ASSERT_TRUE(out) << NameOf(decoder);
            EXPECT_EQ(ToBytes(out, n), in);
        }
    }
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_EQ(ListDir(root_), std::vector<std::string>{"read-only"});
    EXPECT_EQ(ListDir(readOnly), std::vector<std::string>{});
}

TEST_F(GzCodecTest, CallsWithoutTheirBuffersFail) {
    std::uint32_t n = kUntouched;
    codec::GzError error;
    EXPECT_FALSE(codec::GzCompressBuffer(nullptr, 5, &n, {}, &error));
    EXPECT_EQ(error.failure, codec::GzFailure::Invalid);
    EXPECT_FALSE(codec::GzDecompressBuffer(nullptr, 5, &n));
    const unsigned char x = 'x';
    EXPECT_FALSE(codec::GzCompressBuffer(&x, 1, nullptr));
    EXPECT_FALSE(codec::GzDecompressBuffer(&x, 1, nullptr));
    EXPECT_EQ(n, kUntouched);
    // Nothing to code is no missing buffer.
    EXPECT_TRUE(codec::GzCompressBuffer(nullptr, 0, &n));
    EXPECT_EQ(n, 20u);
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
                for (GzDecoder decoder : Decoders()) {
                    std::uint32_t m = 0;
                    GzBuffer back = codec::GzDecompressWith(decoder, z.get(), n, &m, in.size());
                    if (!back || ToBytes(back, m) != in)
                        ++failures[t];
                }
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
}

}  // namespace
