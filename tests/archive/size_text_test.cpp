// Size text of the status line and the disk measures used for progress.
#include "tests/archive/ArchiveFixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include "archive/SizeText.h"

namespace crateforge::test {
namespace {

TEST(SizeText, FormatSizeTable) {
    struct Case {
        std::uint32_t size;
        const char* text;
    } cases[] = {{0, "0 B"},
                 {999, "999 B"},
                 {1000, "0 kB"},
                 {1023, "0 kB"},
                 {1024, "1 kB"},
                 {999999, "976 kB"},
                 {1000000, "1.0 MB"},
                 {1048576, "1.0 MB"},
                 {999999999, "953.7 MB"},
                 {1000000000, "0.93 GB"},
                 {1073741824, "1.00 GB"},
                 {2147483648u, "2.00 GB"},
                 {4294967295u, "4.00 GB"}};
    for (const Case& c : cases)
        EXPECT_EQ(FormatSize(c.size), c.text) << c.size;
}

using DiskSizeTest = ArchiveTest;

// The folder measure counts what Add Folder reads, names beginning with a
// dot left out; the path measure of dropped items counts them.
TEST_F(DiskSizeTest, FolderSkipsDotNamesPathCountsThem) {
    const std::string top = SourceDir("m");
    Source("m/a.txt", NoiseBytes(10));
    Source("m/.hidden", NoiseBytes(5));
    SourceDir("m/sub");
    Source("m/sub/b.bin", NoiseBytes(20));
    EXPECT_EQ(FolderDiskSize(top), 30u);
    EXPECT_EQ(FolderDiskSize(top + "/"), 30u);
    EXPECT_EQ(PathDiskSize(top), 35u);

    SourceDir("m/.config");
    Source("m/.config/big", NoiseBytes(1000));
    EXPECT_EQ(FolderDiskSize(top), 30u);
    EXPECT_EQ(PathDiskSize(top), 1035u);
    // The measured folder's own name does not count.
    EXPECT_EQ(FolderDiskSize(top + "/.config"), 1000u);
}

TEST_F(DiskSizeTest, LinksBelowAreFollowedExceptBackUpTheTree) {
    const std::string top = SourceDir("l");
    Source("l/f", NoiseBytes(7));
    SourceDir("outside");
    Source("outside/o", NoiseBytes(100));
    ASSERT_EQ(symlink(top.c_str(), (top + "/loop").c_str()), 0);
    ASSERT_EQ(symlink((top + "/f").c_str(), (top + "/alias").c_str()), 0);
    ASSERT_EQ(symlink((top + "/gone").c_str(), (top + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink((src + "/outside").c_str(), (top + "/out").c_str()), 0);
    EXPECT_EQ(FolderDiskSize(top), 114u);
    EXPECT_EQ(PathDiskSize(top), 114u);
    // The path itself may be a link to a folder.
    const std::string topLink = src + "/toplink";
    ASSERT_EQ(symlink(top.c_str(), topLink.c_str()), 0);
    EXPECT_EQ(PathDiskSize(topLink), 114u);
}

TEST_F(DiskSizeTest, WhatCannotBeMeasuredCountsZero) {
    EXPECT_EQ(FileDiskSize(src + "/missing"), 0u);
    EXPECT_EQ(PathDiskSize(src + "/missing"), 0u);
    EXPECT_EQ(FolderDiskSize(src + "/missing"), 0u);
    EXPECT_EQ(FileDiskSize(src), 0u);  // a folder is no file
    ASSERT_EQ(mkfifo((src + "/fifo").c_str(), 0600), 0);
    EXPECT_EQ(FileDiskSize(src + "/fifo"), 0u);  // and does not block
    const std::string huge = Source("huge", {});
    ASSERT_EQ(truncate(huge.c_str(), 0x100000005LL), 0);
    EXPECT_EQ(FileDiskSize(huge), 0u);  // cannot be added, so it adds no range
    EXPECT_EQ(FileDiskSize(Source("ten", NoiseBytes(10))), 10u);
}

}  // namespace
}  // namespace crateforge::test
