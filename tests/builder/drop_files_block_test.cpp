// What drags and drops carry, byte by byte: the dropped-files block of
// drag-out and the file URIs of both ways.
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

TEST(FileUriTest, PathsTravelByteForByteThroughTheUriList) {
    struct Case {
        std::string path;
        std::string uri;
    };
    const Case cases[] = {
        {"/tmp/a.txt", "file:///tmp/a.txt"},
        {"/tmp/caf\xE9-bin.txt", "file:///tmp/caf%E9-bin.txt"},  // Latin-1, no UTF-8
        {"/tmp/bad\xFFname.txt", "file:///tmp/bad%FFname.txt"},
        {"/tmp/caf\xC3\xA9", "file:///tmp/caf%C3%A9"},  // UTF-8 as it is
        {"/a b/100%#?;", "file:///a%20b/100%25%23%3F%3B"},
        {"/x/\x01\x7F~_.-", "file:///x/%01%7F~_.-"},
    };
    std::vector<std::string> paths;
    std::string list;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uri);
        EXPECT_EQ(FileUriList({c.path}), c.uri + "\r\n");
        EXPECT_EQ(PathsFromUriList(c.uri), std::vector<std::string>{c.path});
        paths.push_back(c.path);
        list += c.uri + "\r\n";
    }
    EXPECT_EQ(FileUriList(paths), list);
    EXPECT_EQ(PathsFromUriList(list), paths);
    EXPECT_EQ(FileUriList({"", ""}), "");
}

TEST(FileUriTest, OnlyLocalFilesAreTakenFromAUriList) {
    struct Case {
        std::string list;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {"# a comment\r\nfile:///a\r\n", {"/a"}},
        {"file://localhost/b\nFILE:///C%41\n", {"/b", "/CA"}},
        {"file:///dir/\r\n", {"/dir"}},  // a folder named with its slash
        {"file:///\r\n", {"/"}},
        {"file://otherhost/x\r\nhttps://example/y\r\nfile:relative\r\n", {}},
        {"file:///nul%00inside\r\nfile:///ok%2", {"/ok%2"}},  // "%2" is no escape
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        EXPECT_EQ(PathsFromUriList(c.list), c.paths);
    }
}

}  // namespace
}  // namespace crateforge
