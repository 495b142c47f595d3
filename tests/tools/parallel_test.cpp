// Coding and decoding on several threads: the pack is the same for every
// thread count, and so is what extract writes.
#include "tests/tools/VpfRunner.h"

namespace vpftest {
namespace {

class ParallelTest : public VpfTest {};

TEST_F(ParallelTest, PackIsByteIdenticalForEveryThreadCount) {
    MakeDir("t");
    for (int d = 0; d < 6; ++d) {
        const std::string dir = "t/d" + std::to_string(d);
        MakeDir(dir);
        for (int f = 0; f < 25; ++f) {
            const std::size_t size = static_cast<std::size_t>((f * 7919 + d * 104729) % 60000);
            Write(dir + "/f" + std::to_string(f) + ".txt",
                  f % 5 == 0 ? Bytes(size, static_cast<std::uint8_t>(f))
                             : testpacks::SampleBytes(size, static_cast<std::uint32_t>(f + d)));
        }
    }
    Write("t/big.bin", testpacks::SampleBytes(3 << 20, 77));
    for (const char* jobs : {"1", "2", "4", "7"}) {
        const RunResult r = Run({"create", "-j", jobs, std::string("p") + jobs + ".vpf", "t"});
        ASSERT_EQ(r.code, 0) << r.err;
    }
    const Bytes one = Read("p1.vpf");
    ASSERT_GT(one.size(), 1000u);
    for (const char* name : {"p2.vpf", "p4.vpf", "p7.vpf"})
        EXPECT_TRUE(Read(name) == one) << name;

    for (const char* jobs : {"1", "4"}) {
        const std::string out = std::string("o") + jobs;
        ASSERT_EQ(Run({"extract", "-j", jobs, "p4.vpf", "-o", out}).code, 0);
        EXPECT_EQ(Read(out + "/t/big.bin"), Read("t/big.bin"));
        for (int d = 0; d < 6; ++d)
            for (int f = 0; f < 25; f += 6) {
                const std::string name =
                    "/t/d" + std::to_string(d) + "/f" + std::to_string(f) + ".txt";
                EXPECT_EQ(Read(out + name), Read(name.substr(1))) << name;
            }
    }
    EXPECT_EQ(Run({"check", "-j", "4", "-q", "p1.vpf"}).code, 0);
    EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(ParallelTest, OnlyAWindowOfFilesIsHeldWhileCoding) {
#ifdef CF_SANITIZED
    GTEST_SKIP() << "the sanitizer's quarantine keeps freed memory";
#else
    // 32 files of 4 MiB that gzip shrinks to almost nothing: holding them
    // all would take 128 MiB; the window holds a few at a time.
    MakeDir("z");
    const Bytes zeros(4 << 20, 0);
    for (int i = 0; i < 32; ++i)
        Write("z/f" + std::to_string(i), zeros);
    long rss = 0;
    const RunResult r = Run({"create", "-j", "2", "z.vpf", "z"}, 0, &rss);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_LT(Read("z.vpf").size(), 1u << 20);
    EXPECT_LT(rss, 80 * 1024) << "peak memory in KiB";
#endif
}

}  // namespace
}  // namespace vpftest
