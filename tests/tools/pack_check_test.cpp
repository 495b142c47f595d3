// The strict check in process: every truncation of a sound pack is refused,
// never crashes, and the whole pack passes.
#include <gtest/gtest.h>

#include "archive/PackCheck.h"
#include "tests/support/TestPacks.h"

namespace {

using pack::PackMethod;
using testpacks::File;
using testpacks::Folder;

TEST(PackCheckTest, EveryTruncationFailsAndTheWholePackPasses) {
    testpacks::TempDir dir;
    setenv("TMPDIR", dir.Path().c_str(), 1);
    Folder root;
    root.files = {File("s", testpacks::ToBytes("0123456789")),
                  File("g", testpacks::SampleBytes(700, 1), PackMethod::Gzip),
                  File("l", testpacks::SampleBytes(700, 2), PackMethod::Lzrw3a), File("e", {})};
    root.folders = {Folder("F", {File("y", testpacks::ToBytes("why"))}, {Folder("G")})};
    const testpacks::Bytes whole = testpacks::BuildPack(root);
    const std::string path = dir.File("t.vpf");
    crateforge::PackStructure structure;
    crateforge::PackCheckFault fault;
    testpacks::WriteFile(path, whole);
    ASSERT_TRUE(crateforge::CheckPack(path, structure, fault)) << fault.reason;
    ASSERT_EQ(structure.entries.size(), 5u);
    EXPECT_EQ(structure.entries[4].path, "F/y");
    EXPECT_EQ(structure.folderCount, 2u);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        testpacks::WriteFile(path, testpacks::Bytes(whole.begin(), whole.begin() + n));
        EXPECT_FALSE(crateforge::CheckPack(path, structure, fault)) << n;
        EXPECT_LE(fault.offset, n) << n << " " << fault.reason;
    }
}

TEST(PackCheckTest, LzrwSizePlausibility) {
    EXPECT_TRUE(crateforge::LzrwSizePlausible(0, 0));
    EXPECT_TRUE(crateforge::LzrwSizePlausible(9000, 1000));
    EXPECT_FALSE(crateforge::LzrwSizePlausible(0xFFFFFFFFu, 4));
}

}  // namespace
