// The coder writes, byte for byte, the member packs have always held: what
// zlib's gzip file functions write for the mode "wb9" (fed in the blocks the
// codec once used), with extra flags 00 and OS byte 0B. Checked on
// generated inputs around every buffer size zlib and the codec use, and on
// the files of a real tree of text (the system's C headers).
#include <gtest/gtest.h>
#include <zlib.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/GzCodec.h"

namespace {

using Bytes = std::vector<unsigned char>;

// What zlib's file functions write for `in`, read back from a scratch file.
Bytes WrittenByGzFile(const Bytes& in) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/gzref.XXXXXX";
    const int fd = mkstemp(path.data());
    EXPECT_GE(fd, 0);
    gzFile gz = gzdopen(dup(fd), "wb9");
    EXPECT_NE(gz, nullptr);
    for (std::size_t done = 0; done < in.size();) {
        const auto n = static_cast<unsigned>(std::min<std::size_t>(16384, in.size() - done));
        EXPECT_EQ(gzwrite(gz, in.data() + done, n), static_cast<int>(n));
        done += n;
    }
    EXPECT_EQ(gzclose(gz), Z_OK);
    Bytes out(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)));
    EXPECT_EQ(pread(fd, out.data(), out.size(), 0), static_cast<ssize_t>(out.size()));
    close(fd);
    unlink(path.c_str());
    if (out.size() >= 10) {
        out[8] = 0x00;
        out[9] = 0x0B;
    }
    return out;
}

void ExpectSameStream(const Bytes& in, const std::string& what) {
    std::uint32_t length = 0;
    codec::GzBuffer coded =
        codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &length);
    ASSERT_TRUE(coded) << what;
    const Bytes reference = WrittenByGzFile(in);
    ASSERT_EQ(length, reference.size()) << what;
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), coded.get())) << what;
}

Bytes Generated(std::size_t n, unsigned seed, unsigned noise) {
    Bytes out(n);
    unsigned x = seed;
    for (auto& c : out) {
        x = x * 1103515245u + 12345u;
        c = (x >> 24) % noise == 0 ? static_cast<unsigned char>(x >> 8)
                                   : static_cast<unsigned char>("pack of files "[(x >> 16) % 14]);
    }
    return out;
}

TEST(GzDeflateTest, SameStreamAroundEveryBufferSize) {
    const std::size_t sizes[] = {0,     1,     2,     100,   16383,  16384,  16385,
                                 32768, 65535, 65536, 65537, 131073, 1 << 20};
    for (std::size_t n : sizes)
        for (unsigned noise : {2u, 9u, 1000u}) {
            ExpectSameStream(Generated(n, static_cast<unsigned>(n), noise),
                             std::to_string(n) + " bytes, noise " + std::to_string(noise));
        }
    ExpectSameStream(Bytes(300000, 'z'), "one repeated byte");
    Bytes random(70000);
    unsigned x = 7;
    for (auto& c : random) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<unsigned char>(x >> 24);
    }
    ExpectSameStream(random, "incompressible bytes");
}

void Collect(const std::string& dir, std::vector<std::string>& files, std::size_t limit) {
    DIR* d = opendir(dir.c_str());
    if (!d)
        return;
    while (dirent* e = readdir(d)) {
        if (files.size() >= limit)
            break;
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            Collect(path, files, limit);
        else if (S_ISREG(st.st_mode) && st.st_size < (4 << 20))
            files.push_back(path);
    }
    closedir(d);
}

TEST(GzDeflateTest, SameStreamOnARealTree) {
    std::vector<std::string> files;
    Collect("/usr/include", files, 1500);
    ASSERT_GT(files.size(), 100u) << "the system's C headers are needed";
    for (const std::string& path : files) {
        std::ifstream in(path, std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), {});
        ExpectSameStream(bytes, path);
    }
}

}  // namespace
