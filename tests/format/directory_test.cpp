// The directory walker on sound packs: every record and offset of the worked
// layouts, full names, the same answers from a file as from memory, and
// read errors told apart from damage.
#include <gtest/gtest.h>

#include "format/ByteSource.h"
#include "format/PackDirectory.h"
#include "tests/support/DamagedPacks.h"
#include "tests/support/TestPacks.h"

namespace {

using testpacks::Bytes;
using testpacks::File;
using testpacks::Folder;

pack::Directory Walk(const Bytes& bytes) {
    pack::MemorySource source(bytes);
    pack::Directory dir;
    pack::Fault fault;
    EXPECT_TRUE(pack::ReadDirectory(source, dir, fault)) << fault.Text();
    return dir;
}

// Root with subfolder A and file y.txt (50 stored bytes); A holds x.bin (100
// stored bytes): the root block spans 20..560, A's block 560..836, y.txt's
// data block is at 836 and x.bin's at 895; the file ends at 1004.
TEST(DirectoryTest, WorkedLayoutOfTwoFoldersAndTwoFiles) {
    Folder root;
    root.files = {File("y.txt", Bytes(50, 'y'))};
    root.folders = {Folder("A", {File("x.bin", Bytes(100, 'x'))})};
    const Bytes bytes = testpacks::BuildPack(root);
    ASSERT_EQ(bytes.size(), 1004u);
    const pack::Directory dir = Walk(bytes);
    EXPECT_EQ(dir.version, pack::PackVersion::Current);
    EXPECT_EQ(dir.fileSize, 1004u);
    EXPECT_EQ(dir.headerFileCount, 2u);
    EXPECT_EQ(dir.directoryEnd, 836u);
    ASSERT_EQ(dir.folders.size(), 2u);
    const pack::PackDirectory& r = dir.folders[0];
    EXPECT_EQ(r.parent, pack::kNoFolder);
    EXPECT_EQ(r.blockOffset, 20u);
    EXPECT_EQ(r.subtreeSize, 816u);
    EXPECT_EQ(r.subtreeEnd, 836u);
    EXPECT_EQ(r.folderCount, 1u);
    EXPECT_EQ(r.fileCount, 1u);
    const pack::PackDirectory& a = dir.folders[1];
    EXPECT_EQ(dir.FolderName(1), "A");
    EXPECT_EQ(a.parent, 0u);
    EXPECT_EQ(a.depth, 1u);
    EXPECT_EQ(a.recordOffset, 32u);
    EXPECT_EQ(a.recordedBlockOffset, 560u);
    EXPECT_EQ(a.blockOffset, 560u);
    EXPECT_EQ(a.subtreeSize, 276u);
    EXPECT_EQ(a.subtreeEnd, 836u);
    ASSERT_EQ(dir.files.size(), 2u);
    EXPECT_EQ(dir.FullName(0, '\\'), "y.txt");
    EXPECT_EQ(dir.files[0].recordOffset, 296u);
    EXPECT_EQ(dir.files[0].blockOffset, 836u);
    EXPECT_EQ(dir.files[0].dataOffset, 845u);
    EXPECT_EQ(dir.files[0].originalSize, 50u);
    EXPECT_EQ(dir.files[0].packedSize, 50u);
    EXPECT_EQ(dir.FullName(1, '\\'), "A\\x.bin");
    EXPECT_EQ(dir.FullName(1, '/'), "A/x.bin");
    EXPECT_EQ(dir.files[1].folder, 1u);
    EXPECT_EQ(dir.files[1].recordOffset, 572u);
    EXPECT_EQ(dir.files[1].blockOffset, 895u);
    EXPECT_EQ(dir.files[1].dataOffset, 904u);
}

TEST(DirectoryTest, EntriesInPreOrderAndFoldersByParent) {
    Folder root;
    root.files = {File("r1", {1}), File("r2", {2})};
    root.folders = {Folder("A", {File("a1", {3})}, {Folder("D", {File("d1", {4})})}),
                    Folder("B", {File("b1", {5})})};
    const pack::Directory dir = Walk(testpacks::BuildPack(root));
    std::vector<std::string> names;
    for (std::size_t i = 0; i < dir.files.size(); ++i)
        names.push_back(dir.FullName(i, '\\'));
    EXPECT_EQ(names, (std::vector<std::string>{"r1", "r2", "A\\a1", "A\\D\\d1", "B\\b1"}));
    ASSERT_EQ(dir.folders.size(), 4u);  // root, A, D, B in pre-order
    EXPECT_EQ(dir.FolderPath(2, '/'), "A/D");
    EXPECT_EQ(dir.folders[2].parent, 1u);
    EXPECT_EQ(dir.folders[3].parent, 0u);
    EXPECT_EQ(dir.folders[1].firstFile, 2u);
    EXPECT_EQ(dir.folders[3].firstFile, 4u);
}

TEST(DirectoryTest, OldPackInTableOrderWithSkippedEntriesLeftOut) {
    const Bytes bytes = testpacks::BuildOldPack(
        {testpacks::OldEntry("first", {1, 2}, 0x00, 0), testpacks::OldEntry("skip", {3}, 0x00, 23),
         testpacks::OldEntry(std::string(48, 'L'), {4, 5, 6}, 0x21, 22)});
    const pack::Directory dir = Walk(bytes);
    EXPECT_EQ(dir.version, pack::PackVersion::Old);
    EXPECT_EQ(dir.headerFileCount, 3u);
    EXPECT_EQ(dir.directoryEnd, 24u);
    ASSERT_EQ(dir.files.size(), 2u);
    EXPECT_EQ(dir.FullName(0, '\\'), "first");
    EXPECT_EQ(dir.files[0].recordOffset, 24u);
    EXPECT_EQ(dir.files[0].dataOffset, 84u);
    EXPECT_EQ(dir.FullName(1, '\\'), std::string(48, 'L'));
    // 0x21: low nibble 1 names an LZRW3-A block.
    EXPECT_EQ(dir.files[1].method, static_cast<std::uint8_t>(pack::PackMethod::Lzrw3a));
    EXPECT_EQ(dir.folders.size(), 1u);
    EXPECT_EQ(dir.folders[0].fileCount, 2u);
}

TEST(DirectoryTest, RestrictedToOneVersion) {
    const Bytes old = testpacks::BuildOldPack({testpacks::OldEntry("a", {1}, 0, 0)});
    pack::MemorySource source(old);
    pack::Directory dir;
    pack::Fault fault;
    EXPECT_FALSE(pack::ReadDirectory(source, pack::PackVersion::Current, dir, fault));
    EXPECT_EQ(fault.kind, pack::FaultKind::NotAPack);
    EXPECT_EQ(fault.reason, "not a PackFile of version 2.10");
    EXPECT_TRUE(pack::ReadDirectory(source, pack::PackVersion::Old, dir, fault));
}

// A source whose reads start failing after a number of calls.
class FailingSource final : public pack::ByteSource {
  public:
    FailingSource(const Bytes& bytes, int goodReads) : inner_(bytes), left_(goodReads) {}
    std::uint64_t Size() const override { return inner_.Size(); }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        return left_-- > 0 && inner_.ReadAt(offset, buffer, length);
    }

  private:
    pack::MemorySource inner_;
    int left_;
};

TEST(DirectoryTest, ReadErrorsAreNotDamage) {
    for (const Bytes& sound : {testpacks::BuildPack(damaged::SmallTree()),
                               testpacks::BuildOldPack(damaged::SmallOld())}) {
        int failures = 0;
        for (int good = 1; good < 40; ++good) {
            FailingSource source(sound, good);
            pack::Directory dir;
            pack::Fault fault;
            if (pack::ReadDirectory(source, dir, fault))
                break;  // enough reads to finish
            ++failures;
            EXPECT_EQ(fault.kind, pack::FaultKind::Io) << good << ": " << fault.Text();
            EXPECT_TRUE(dir.files.empty());
        }
        EXPECT_GT(failures, 3);
    }
}

TEST(DirectoryTest, FileAndMemoryGiveTheSameAnswers) {
    testpacks::TempDir temp;
    const std::string path = temp.File("case.pack");
    for (const damaged::Case& c : damaged::Corpus()) {
        if (c.bytes.size() > 200000)
            continue;
        SCOPED_TRACE(c.what);
        testpacks::WriteFile(path, c.bytes);
        pack::FileSource file;
        pack::Fault fault;
        ASSERT_TRUE(file.Open(path, fault)) << fault.Text();
        pack::MemorySource memory(c.bytes);
        pack::Directory a, b;
        pack::Fault fa, fb;
        const bool okFile = pack::ReadDirectory(file, a, fa);
        const bool okMemory = pack::ReadDirectory(memory, b, fb);
        ASSERT_EQ(okFile, okMemory);
        EXPECT_EQ(fa.Text(), fb.Text());
        ASSERT_EQ(a.files.size(), b.files.size());
        EXPECT_EQ(a.names, b.names);
        for (std::size_t i = 0; i < a.files.size(); ++i) {
            EXPECT_EQ(a.files[i].dataOffset, b.files[i].dataOffset);
            EXPECT_EQ(a.files[i].packedSize, b.files[i].packedSize);
        }
    }
}

}  // namespace
