// Byte sources: the file source's window gives the file's bytes wherever a
// read falls; what is no regular file, or too large, is refused at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "format/ByteSource.h"
#include "tests/support/TestPacks.h"

namespace {

using testpacks::Bytes;

TEST(ByteSourceTest, FileReadsMatchTheFileAnywhere) {
    testpacks::TempDir temp;
    const Bytes content = testpacks::SampleBytes(3 * pack::FileSource::kWindowSize + 12345, 3);
    const std::string path = temp.Write("f", content);
    pack::FileSource file;
    pack::Fault fault;
    ASSERT_TRUE(file.Open(path, fault)) << fault.Text();
    ASSERT_EQ(file.Size(), content.size());
    std::mt19937 rng(42);
    for (int i = 0; i < 5000; ++i) {
        const std::size_t length = i % 10 == 0 ? rng() % 200000 : rng() % 600;
        const std::size_t offset = rng() % (content.size() + 10);
        Bytes got(length);
        const bool inside = offset + length <= content.size();
        ASSERT_EQ(file.ReadAt(offset, got.data(), length), inside) << offset << "+" << length;
        if (inside) {
            ASSERT_TRUE(std::equal(got.begin(), got.end(), content.begin() + offset));
        }
    }
    // Reads that end exactly at the end, and empty reads at the end.
    Bytes last(10);
    EXPECT_TRUE(file.ReadAt(content.size() - 10, last.data(), 10));
    EXPECT_TRUE(file.ReadAt(content.size(), nullptr, 0));
    EXPECT_FALSE(file.ReadAt(content.size() + 1, nullptr, 0));
}

TEST(ByteSourceTest, ThreadsShareADescriptor) {
    testpacks::TempDir temp;
    const Bytes content = testpacks::SampleBytes(1 << 20, 8);
    const std::string path = temp.Write("f", content);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            pack::DescriptorSource source(fd, content.size());
            Bytes got(4096);
            for (std::size_t at = t * 512; at + got.size() <= content.size(); at += 8192) {
                if (!source.ReadAt(at, got.data(), got.size()) ||
                    !std::equal(got.begin(), got.end(), content.begin() + at))
                    ++mismatches;
            }
        });
    for (auto& t : threads)
        t.join();
    close(fd);
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(ByteSourceTest, NotARegularFileIsRefusedWithoutBlocking) {
    testpacks::TempDir temp;
    const std::string fifo = temp.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pack::FileSource file;
    pack::Fault fault;
    // Nobody writes to the FIFO: a blocking open would never return.
    EXPECT_FALSE(file.Open(fifo, fault));
    EXPECT_EQ(fault.kind, pack::FaultKind::Io);
    EXPECT_EQ(fault.reason, "not a regular file");
    EXPECT_FALSE(file.Open(temp.Path(), fault));
    EXPECT_EQ(fault.reason, "it is a folder");
    EXPECT_FALSE(file.Open(temp.File("missing"), fault));
    EXPECT_EQ(fault.kind, pack::FaultKind::Io);
    EXPECT_FALSE(file.Open("/dev/null", fault));
}

TEST(ByteSourceTest, AnAdoptedDescriptorIsCheckedAndOwnedLikeAnOpenedFile) {
    testpacks::TempDir temp;
    const Bytes content = testpacks::SampleBytes(5000, 4);
    const std::string path = temp.Write("f", content);
    pack::FileSource file;
    pack::Fault fault;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(file.Adopt(fd, fault)) << fault.Text();
    Bytes got(content.size());
    ASSERT_TRUE(file.ReadAt(0, got.data(), got.size()));
    EXPECT_EQ(got, content);
    EXPECT_EQ(file.Descriptor(), fd);
    file.Close();
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);  // closed with the source
    // A pipe is refused, and closed too.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    EXPECT_FALSE(file.Adopt(pipeFds[0], fault));
    EXPECT_EQ(fault.reason, "not a regular file");
    EXPECT_EQ(fcntl(pipeFds[0], F_GETFD), -1);
    close(pipeFds[1]);
}

TEST(ByteSourceTest, FilesOfFourGibibytesAreRefused) {
    testpacks::TempDir temp;
    const std::string path = temp.File("sparse");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 0x100000000ll), 0);  // sparse: no disk space used
    close(fd);
    pack::FileSource file;
    pack::Fault fault;
    EXPECT_FALSE(file.Open(path, fault));
    EXPECT_EQ(fault.reason, "the file is 4 GiB or larger");
    ASSERT_EQ(truncate(path.c_str(), 0xFFFFFFFFll), 0);
    EXPECT_TRUE(file.Open(path, fault)) << fault.Text();
    EXPECT_EQ(file.Size(), 0xFFFFFFFFull);
}

TEST(ByteSourceTest, IdentityChangesWhenTheFileIsReplaced) {
    testpacks::TempDir temp;
    const std::string path = temp.Write("p", {1, 2, 3});
    pack::FileSource a;
    pack::Fault fault;
    ASSERT_TRUE(a.Open(path, fault));
    const pack::FileIdentity before = a.Identity();
    pack::FileSource same;
    ASSERT_TRUE(same.Open(path, fault));
    EXPECT_EQ(same.Identity(), before);
    const std::string other = temp.Write("q", {1, 2, 3, 4});
    ASSERT_EQ(rename(other.c_str(), path.c_str()), 0);
    pack::FileSource replaced;
    ASSERT_TRUE(replaced.Open(path, fault));
    EXPECT_FALSE(replaced.Identity() == before);
}

}  // namespace
