// Flat memory: list reads only a pack's directory, cat streams each entry,
// so their peak memory stays below a fixed bound whatever the sizes. The
// pack is built once, quickly: a gzip member of 256 MiB of zeros made with
// zlib here, and a stored file of 512 MiB that is a hole in a sparse file.
// Peak memory is what /usr/bin/time -f %M reports.
#include <zlib.h>

#include "tests/tools/VpfRunner.h"

namespace vpftest {
namespace {

using testpacks::File;
using testpacks::Folder;

constexpr std::uint32_t kGzipSize = 256u << 20;
constexpr std::uint32_t kStoredSize = 512u << 20;
constexpr long kListLimitKb = 64 * 1024;
constexpr long kCatLimitKb = 128 * 1024;

// One gzip member of `size` zero bytes.
[[maybe_unused]] Bytes GzipOfZeros(std::uint32_t size) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 1, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    const Bytes zeros(1 << 20, 0);
    Bytes out;
    unsigned char buffer[1 << 16];
    std::uint32_t left = size;
    int flush = Z_NO_FLUSH;
    do {
        const std::uint32_t n =
            std::min<std::uint32_t>(left, static_cast<std::uint32_t>(zeros.size()));
        z.next_in = const_cast<unsigned char*>(zeros.data());
        z.avail_in = n;
        left -= n;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&z);
    return out;
}

class MemoryTest : public VpfTest {
  protected:
    long PeakKb(const std::string& file) {
        const std::string text = ReadString(file);
        const std::size_t last = text.find_last_of("0123456789");
        if (last == std::string::npos)
            return -1;
        const std::size_t first = text.find_last_not_of("0123456789", last);
        return std::stol(text.substr(first == std::string::npos ? 0 : first + 1));
    }
};

TEST_F(MemoryTest, ListAndCatStayFlatWhateverTheSizes) {
#ifdef CF_SANITIZED
    GTEST_SKIP() << "the sanitizer's shadow memory is not the tool's";
#else
    Folder root;
    File gz("gz.bin", Bytes{}, pack::PackMethod::Gzip);
    gz.stored = GzipOfZeros(kGzipSize);
    gz.originalSize = kGzipSize;
    root.files = {gz, File("stored.bin", testpacks::ToBytes("0"))};
    testpacks::PackLayout layout;
    Bytes bytes = testpacks::BuildPack(root, &layout);
    // The stored file is last: it becomes a hole of kStoredSize bytes.
    const std::size_t block = layout.dataOffsets.back();
    testpacks::PatchU32(bytes, block, kStoredSize);
    testpacks::PatchU32(bytes, block + 4, kStoredSize);
    bytes.resize(block + 9);
    Write("big.vpf", bytes);
    ASSERT_EQ(truncate(Path("big.vpf").c_str(), static_cast<off_t>(block + 9 + kStoredSize)), 0);

    RunResult r = RunShell("/usr/bin/time -f %M -o list.kb $VPF list -l big.vpf");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("   268435456 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   536870912    536870912     0%  stored  stored.bin"), std::string::npos)
        << r.out;
    EXPECT_GT(PeakKb("list.kb"), 0);
    EXPECT_LT(PeakKb("list.kb"), kListLimitKb);

    r = RunShell("/usr/bin/time -f %M -o gz.kb $VPF cat -q big.vpf gz.bin | wc -c");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, std::to_string(kGzipSize) + "\n");
    EXPECT_GT(PeakKb("gz.kb"), 0);
    EXPECT_LT(PeakKb("gz.kb"), kCatLimitKb);

    r = RunShell("/usr/bin/time -f %M -o stored.kb $VPF cat -q big.vpf stored.bin | wc -c");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, std::to_string(kStoredSize) + "\n");
    EXPECT_LT(PeakKb("stored.kb"), kCatLimitKb);
    std::printf("peak memory in KiB: list %ld, cat of gzip %ld, cat of stored %ld\n",
                PeakKb("list.kb"), PeakKb("gz.kb"), PeakKb("stored.kb"));
#endif
}

}  // namespace
}  // namespace vpftest
