// The dropped-files block of drag-out, byte by byte.
#include <gtest/gtest.h>

#include "builder/DropFiles.h"

namespace crateforge {
namespace {

std::string Bytes(const std::vector<unsigned char>& block) {
    return std::string(block.begin(), block.end());
}

const std::string kHeader(
    "\x14\0\0\0"
    "\0\0\0\0"
    "\0\0\0\0"
    "\0\0\0\0"
    "\0\0\0\0",
    20);

TEST(DropFilesBlockTest, LayoutForEachListShape) {
    struct Case {
        std::vector<std::string> paths;
        std::string names;  // what follows the header, final NUL included
    };
    const Case cases[] = {
        {{"/tmp/TMPa/x.txt"}, std::string("/tmp/TMPa/x.txt\0\0", 17)},
        {{"/a", "/bc"}, std::string("/a\0/bc\0\0", 8)},
        // Empty paths would end the list early: they are left out.
        {{"", "/a", "", "/b"}, std::string("/a\0/b\0\0", 7)},
        // A path ends at a NUL inside it; what is left empty is left out.
        {{std::string("/a\0junk", 7), std::string("\0x", 2)}, std::string("/a\0\0", 4)},
        {{}, std::string("\0", 1)},
    };
    for (const Case& c : cases) {
        const std::vector<unsigned char> block = BuildDropFilesBlock(c.paths);
        ASSERT_GE(block.size(), 21u);
        EXPECT_EQ(Bytes(block).substr(0, 20), kHeader);
        EXPECT_EQ(Bytes(block).substr(20), c.names);
        EXPECT_EQ(block.back(), 0u);
    }
}

TEST(DropFilesBlockTest, SizeIsTwentyOnePlusEachPathAndItsNul) {
    const std::vector<std::string> paths = {std::string(300, 'p'), "/q/r", "s"};
    const std::vector<unsigned char> block = BuildDropFilesBlock(paths);
    EXPECT_EQ(block.size(), 21u + 301u + 5u + 2u);
    // High bytes of the header stay zero: the offset is exactly 20.
    EXPECT_EQ(block[0], 20u);
    EXPECT_EQ(block[1], 0u);
    EXPECT_EQ(block[2], 0u);
    EXPECT_EQ(block[3], 0u);
}

}  // namespace
}  // namespace crateforge
