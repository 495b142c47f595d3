// The strict check in process: the rules only it demands, and decoding
// failures that are this machine's told apart from damage. The corpus and
// the truncation sweep are in damaged_packs_test.cpp.
#include <gtest/gtest.h>

#include <functional>

#include "archive/PackCheck.h"
#include "format/ByteSource.h"
#include "tests/support/TestPacks.h"

namespace crateforge {
namespace {

using pack::PackMethod;
using testpacks::Bytes;
using testpacks::File;
using testpacks::Folder;

Folder Sample() {
    Folder root;
    root.files = {File("s", testpacks::ToBytes("0123456789")),
                  File("g", testpacks::SampleBytes(700, 1), PackMethod::Gzip),
                  File("l", testpacks::SampleBytes(700, 2), PackMethod::Lzrw3a), File("e", {})};
    root.folders = {Folder("F", {File("y", testpacks::ToBytes("why"))}, {Folder("G")})};
    return root;
}

bool Check(const Bytes& bytes, pack::Fault& fault, pack::Directory* out = nullptr) {
    pack::MemorySource source(bytes);
    pack::Directory directory;
    if (!CheckPackStructure(source, directory, fault))
        return false;
    for (std::size_t i = 0; i < directory.files.size(); ++i)
        if (!CheckEntryData(source, directory, i, fault))
            return false;
    if (out)
        *out = std::move(directory);
    return true;
}

// What only the strict check refuses: the walker (and so every reader)
// accepts each of these packs.
TEST(PackCheckTest, StrictRulesBeyondTheWalker) {
    testpacks::PackLayout layout;
    const Bytes good = testpacks::BuildPack(Sample(), &layout);
    struct Case {
        const char* label;
        std::function<void(Bytes&)> damage;
        std::size_t offset;
        const char* reason;
    };
    const std::size_t f = layout.folderRecordOffsets[0];
    const std::size_t r0 = layout.fileRecordOffsets[0], r1 = layout.fileRecordOffsets[1];
    const Case cases[] = {
        {"reserved header byte", [](Bytes& b) { b[11] = 1; }, 11, "reserved bytes"},
        {"block offset", [&](Bytes& b) { testpacks::PatchU32(b, f + 260, 7); }, f + 260,
         "folder F: its block offset is 7 but its block starts at"},
        {"subtree size", [](Bytes& b) { testpacks::PatchU32(b, 20, 12); }, 20,
         "the root folder: its subtree size is 12"},
        {"data order",
         [&](Bytes& b) {
             const std::uint32_t a = testpacks::PeekU32(b, r0 + 260);
             testpacks::PatchU32(b, r0 + 260, testpacks::PeekU32(b, r1 + 260));
             testpacks::PatchU32(b, r1 + 260, a);
         },
         r0 + 260, "s: its data offset is"},
        {"trailing byte", [](Bytes& b) { b.push_back(0); }, good.size(),
         "1 bytes follow the last data block"},
        {"padding", [&](Bytes& b) { b[r1 + 200] = 'p'; }, r1 + 200,
         "a name field with bytes after its terminator"},
        {"name \"..\"",
         [&](Bytes& b) {
             b[f] = '.';
             b[f + 1] = '.';
         },
         f, "the name \"..\" cannot be written to disk: a \"..\" component"},
        {"leading separator", [&](Bytes& b) { b[r1] = '/'; }, r1,
         "the name \"/\" cannot be written to disk: nothing but separators"},
        {"data inside the directory",
         [&](Bytes& b) { testpacks::PatchU32(b, r1 + 260, static_cast<std::uint32_t>(r0)); },
         r1 + 260, "g: its data block lies inside the header or the directory"},
        {"shared data",
         [&](Bytes& b) { testpacks::PatchU32(b, r1 + 260, testpacks::PeekU32(b, r0 + 260)); },
         r1 + 260, "g: its data block shares bytes with that of s"},
    };
    for (const Case& c : cases) {
        Bytes bad = good;
        c.damage(bad);
        pack::MemorySource source(bad);
        pack::Directory walked;
        pack::Fault fault;
        ASSERT_TRUE(pack::ReadDirectory(source, walked, fault)) << c.label << ": " << fault.Text();
        EXPECT_FALSE(Check(bad, fault)) << c.label;
        EXPECT_EQ(fault.kind, pack::FaultKind::Damaged) << c.label;
        EXPECT_EQ(fault.offset, c.offset) << c.label << ": " << fault.reason;
        EXPECT_NE(fault.reason.find(c.reason), std::string::npos)
            << c.label << ": " << fault.reason;
    }
}

TEST(PackCheckTest, NamesTwiceInOneFolderAndEntryClaims) {
    Folder twice = Sample();
    twice.files[1].name = "S";  // equal to "s" ignoring case
    testpacks::PackLayout layout;
    pack::Fault fault;
    EXPECT_FALSE(Check(testpacks::BuildPack(twice, &layout), fault));
    EXPECT_EQ(fault.offset, layout.fileRecordOffsets[1]);
    EXPECT_EQ(fault.reason, "the name \"S\" appears twice in the root folder");

    Folder folders = Sample();
    folders.folders.push_back(Folder("f"));
    EXPECT_FALSE(Check(testpacks::BuildPack(folders, &layout), fault));
    EXPECT_EQ(fault.offset, layout.folderRecordOffsets[1]);
    // A file and a folder may share a name.
    Folder mixed = Sample();
    mixed.files[0].name = "F";
    EXPECT_TRUE(Check(testpacks::BuildPack(mixed), fault)) << fault.Text();

    Folder method = Sample();
    method.files[0].methodByte = 7;
    EXPECT_FALSE(Check(testpacks::BuildPack(method, &layout), fault));
    EXPECT_EQ(fault.offset, layout.dataOffsets[0] + 8);
    EXPECT_EQ(fault.reason, "s: unknown method 7");

    Folder lzrw = Sample();
    lzrw.files[2].originalSize = 0x7FFFFFFF;
    EXPECT_FALSE(Check(testpacks::BuildPack(lzrw, &layout), fault));
    EXPECT_EQ(fault.offset, layout.dataOffsets[2]);
    EXPECT_EQ(fault.reason.rfind("l: an LZRW3-A block of ", 0), 0u) << fault.reason;
}

// A source that fails every read from some offset on, as a disk that
// returns an error would.
class FailingSource final : public pack::ByteSource {
  public:
    FailingSource(const Bytes& bytes, std::uint64_t failFrom) : inner_(bytes), from_(failFrom) {}
    std::uint64_t Size() const override { return inner_.Size(); }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        return offset + length <= from_ && inner_.ReadAt(offset, buffer, length);
    }

  private:
    pack::MemorySource inner_;
    std::uint64_t from_;
};

TEST(PackCheckTest, AReadErrorWhileDecodingIsNotDamage) {
    testpacks::PackLayout layout;
    const Bytes good = testpacks::BuildPack(Sample(), &layout);
    pack::MemorySource whole(good);
    pack::Directory directory;
    pack::Fault fault;
    ASSERT_TRUE(CheckPackStructure(whole, directory, fault)) << fault.Text();
    // The gzip entry's bytes cannot be read: the check could not decode it,
    // which says nothing about the pack.
    FailingSource failing(good, layout.dataOffsets[1] + 20);
    EXPECT_FALSE(CheckEntryData(failing, directory, 1, fault));
    EXPECT_EQ(fault.kind, pack::FaultKind::Io) << fault.Text();
    EXPECT_EQ(fault.reason.rfind("g: ", 0), 0u) << fault.reason;
    EXPECT_TRUE(CheckEntryData(whole, directory, 1, fault)) << fault.Text();
}

}  // namespace
}  // namespace crateforge
