// The in-memory gzip coder makes the temporary-file codec's stream byte for
// byte: on generated inputs around every buffer size zlib and the codec
// use, and on the files of a real tree of text (the system's C headers).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/GzCodec.h"
#include "codec/GzDeflate.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Both coders on `in`: the streams must be identical.
void ExpectSameStream(const Bytes& in, const std::string& what) {
    std::uint32_t fileLength = 0, memoryLength = 0;
    codec::GzBuffer viaFiles =
        codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &fileLength);
    codec::GzBuffer inMemory =
        codec::GzDeflateBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &memoryLength);
    ASSERT_TRUE(viaFiles) << what << ": " << codec::GzLastError();
    ASSERT_TRUE(inMemory) << what;
    ASSERT_EQ(memoryLength, fileLength) << what;
    EXPECT_TRUE(std::equal(viaFiles.get(), viaFiles.get() + fileLength, inMemory.get())) << what;
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

TEST(GzDeflateTest, RefusesAMissingBuffer) {
    std::uint32_t length = 77;
    EXPECT_FALSE(codec::GzDeflateBuffer(nullptr, 5, &length));
    EXPECT_EQ(length, 77u);
    EXPECT_FALSE(codec::GzDeflateBuffer(reinterpret_cast<const unsigned char*>("x"), 1, nullptr));
}

}  // namespace
