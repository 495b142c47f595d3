// Truncated, inconsistent and hostile packs are refused with 0, a message
// naming the file, and no change: never a crash or a read outside the file.
#include "tests/archive/ArchiveFixture.h"

namespace crateforge::test {
namespace {

using testpacks::File;
using testpacks::Folder;
using testpacks::PatchU32;

class LoadCorruptTest : public ArchiveTest {
  protected:
    Folder Sample() {
        return Folder(
            "",
            {File("a.txt", TextBytes(700), pack::PackMethod::Gzip), File("b.bin", NoiseBytes(64))},
            {Folder("Sub", {File("c.txt", TextBytes(300, 4), pack::PackMethod::Lzrw3a)},
                    {Folder("Leaf", {File("d", NoiseBytes(9))})})});
    }
    // Opens `bytes` in a fresh document; expects a refusal with a message.
    void ExpectRefused(const Bytes& bytes, const std::string& label) {
        const std::string path = dir.Write("bad.vpf", bytes);
        messages.Clear();
        auto doc = MakeArchive();
        EXPECT_EQ(doc->Open(path), 0) << label;
        EXPECT_FALSE(doc->IsOpen()) << label;
        EXPECT_EQ(doc->Root(), nullptr) << label;
        ASSERT_EQ(messages.Calls().size(), 1u) << label;
        EXPECT_EQ(messages.Calls()[0].caption, kAppCaption);
        EXPECT_EQ(messages.Calls()[0].text.rfind("Unable to open the PackFile " + path + ": ", 0),
                  0u)
            << messages.Calls()[0].text;
        EXPECT_EQ(testpacks::ReadFile(path), bytes) << label;  // nothing written
    }
};

TEST_F(LoadCorruptTest, EveryTruncationIsRefused) {
    const Bytes good = testpacks::BuildPack(Sample());
    for (std::size_t length = 0; length < good.size(); ++length) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        if (length < pack::kPackHeaderSize) {
            // No whole header: not a pack at all, so no message.
            const std::string path = dir.Write("cut.vpf", cut);
            messages.Clear();
            EXPECT_EQ(MakeArchive()->Open(path), 0);
            EXPECT_TRUE(messages.Calls().empty());
            continue;
        }
        ExpectRefused(cut, "length " + std::to_string(length));
        if (HasFatalFailure())
            return;
    }
    ASSERT_EQ(archive->Open(dir.Write("good.vpf", good)), 1);
}

TEST_F(LoadCorruptTest, HostileFieldsAreRefused) {
    testpacks::PackLayout layout;
    const Bytes good = testpacks::BuildPack(Sample(), &layout);
    const std::size_t root = layout.blockOffsets[0];
    struct Case {
        const char* label;
        std::size_t offset;
        std::uint32_t value;
    } cases[] = {
        {"root folder count", root + 4, 0xFFFFFFFFu},
        {"root file count", root + 8, 0x00FFFFFFu},
        {"sub file count", layout.blockOffsets[1] + 8, 5},
        {"data offset past end", layout.fileRecordOffsets[0] + 260, 0xFFFFFFF0u},
        {"data offset at end", layout.fileRecordOffsets[1] + 260,
         static_cast<std::uint32_t>(good.size())},
        {"packed size past end", layout.dataOffsets[1] + 4, 0x7FFFFFFFu},
        {"packed size one too many", layout.dataOffsets.back() + 4, 10},
        {"header file count", 16, 3},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        PatchU32(bad, c.offset, c.value);
        ExpectRefused(bad, c.label);
    }
}

TEST_F(LoadCorruptTest, RecordsSharingOneBigBlockCannotMultiplyMemory) {
    // Four records pointing at one 5000-byte block would need four copies of
    // it: more stored bytes than the file holds.
    testpacks::PackLayout layout;
    const Bytes good = testpacks::BuildPack(
        Folder("", {File("big", NoiseBytes(5000)), File("e1", {}), File("e2", {}), File("e3", {})}),
        &layout);
    Bytes bad = good;
    for (int i = 1; i < 4; ++i)
        PatchU32(bad, layout.fileRecordOffsets[static_cast<std::size_t>(i)] + 260,
                 static_cast<std::uint32_t>(layout.dataOffsets[0]));
    ExpectRefused(bad, "shared block");
}

TEST_F(LoadCorruptTest, NestingDeeperThanTheLimitIsRefusedShallowerLoads) {
    auto nested = [](int depth) {
        Folder root("");
        Folder* f = &root;
        for (int i = 0; i < depth; ++i) {
            f->folders.push_back(Folder("n"));
            f = &f->folders.back();
        }
        f->files.push_back(File("leaf", testpacks::ToBytes("x")));
        return root;
    };
    ExpectRefused(testpacks::BuildPack(nested(static_cast<int>(pack::kMaxFolderDepth) + 1)),
                  "too deep");
    ASSERT_EQ(archive->Open(dir.Write("ok.vpf", testpacks::BuildPack(nested(100)))), 1);
    EXPECT_EQ(archive->FileCount(), 1u);
}

TEST_F(LoadCorruptTest, UnreadablePathIsNoPack) {
    // A directory where the pack should be: not a pack, nothing shown.
    const std::string path = SourceDir("dir.vpf");
    EXPECT_FALSE(CPackArchive::IsCurrentPack(path));
    EXPECT_EQ(archive->Open(path), 0);
    EXPECT_TRUE(messages.Calls().empty());
}

}  // namespace
}  // namespace crateforge::test
