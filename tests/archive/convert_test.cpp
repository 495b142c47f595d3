// Converting "1.03" packs: the question, the new path, skipped entries, full
// 48-byte names, LZRW3-A entries, unique names, and refusals that write
// nothing.
#include "tests/archive/ArchiveFixture.h"

#include <cstring>

#include "archive/EntryData.h"

namespace crateforge::test {
namespace {

using testpacks::OldEntry;

class ConvertTest : public ArchiveTest {
  protected:
    static Bytes Decoded(const PackEntry& entry) {
        codec::GzBuffer bytes;
        std::uint32_t length = 0;
        std::string reason;
        EXPECT_TRUE(DecodeEntry(entry, bytes, length, reason)) << reason;
        return bytes ? Bytes(bytes.get(), bytes.get() + length) : Bytes();
    }
    std::vector<std::string> RootNames() const {
        std::vector<std::string> out;
        for (const auto& f : archive->root()->files)
            out.emplace_back(f->Name());
        return out;
    }
};

TEST_F(ConvertTest, YesConvertsToTheVpfPathAndLeavesTheOldFile) {
    const Bytes lzrwText = TextBytes(20000);
    const std::string name48(48, 'N');
    const Bytes old = testpacks::BuildOldPack({
        OldEntry("first.txt", TextBytes(1000)),
        OldEntry("skipped.bin", NoiseBytes(10), 0, 23),
        OldEntry(name48, NoiseBytes(33)),
        OldEntry("coded.txt", lzrwText, 0x31),  // low nibble 1: LZRW3-A
        OldEntry("also-skipped", NoiseBytes(5), 0, 200),
        OldEntry("last", {}),
    });
    const std::string path = dir.Write("data.dat", old);
    messages.Queue(MessageAnswer::Yes);
    ASSERT_EQ(archive->Open(path), 1);

    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].caption, "Warning");
    EXPECT_EQ(messages.Calls()[0].text,
              "PackFile has an old version. It will be converted. Do you wish to continue?");
    EXPECT_EQ(messages.Calls()[0].buttons, MessageButtons::YesNo);

    EXPECT_EQ(archive->path(), dir.File("data.VPF"));
    EXPECT_EQ(testpacks::ReadFile(path), old);
    EXPECT_EQ(RootNames(), (std::vector<std::string>{"first.txt", name48, "coded.txt", "last"}));
    EXPECT_EQ(archive->fileCount(), 4u);
    EXPECT_EQ(Decoded(*archive->root()->files[2]), lzrwText);
    for (const auto& f : archive->root()->files)
        EXPECT_NE(f->method, static_cast<std::uint8_t>(pack::PackMethod::Lzrw3a));
    EXPECT_EQ(archive->root()->files[0]->method, static_cast<std::uint8_t>(pack::PackMethod::Gzip));

    const Bytes written = testpacks::ReadFile(dir.File("data.VPF"));
    ASSERT_GE(written.size(), 20u);
    EXPECT_EQ(std::string(written.begin(), written.begin() + 8), "VHPF2.10");
    EXPECT_EQ(testpacks::PeekU32(written, 16), 4u);
    EXPECT_EQ(list.Names(), RootNames());

    // The progress bar spans each entry's stored size while it is recoded.
    ASSERT_GE(progress.Ranges().size(), 4u);
    EXPECT_EQ(progress.Ranges()[0].second, 1000u);
    EXPECT_EQ(progress.Position(), 0u);
}

TEST_F(ConvertTest, NoWritesNothingAndLeavesNoPack) {
    const std::string path = dir.Write("data.dat", testpacks::BuildOldPack({OldEntry("a", {})}));
    messages.Queue(MessageAnswer::No);
    EXPECT_EQ(archive->Open(path), 0);
    EXPECT_FALSE(archive->IsOpen());
    EXPECT_FALSE(fs::PathExists(dir.File("data.VPF")));
}

TEST_F(ConvertTest, NewPathRules) {
    struct Case {
        const char* file;
        const char* converted;
    } cases[] = {
        {"games.dat", "games.VPF"}, {"in.place.vpf", "in.place.vpf"},
        {"UPPER.VPF", "UPPER.VPF"}, {"Mixed.vPf", "Mixed.vPf"},
        {"noext", "noext.VPF"},     {"two.dots.dat", "two.dots.VPF"},
    };
    for (const Case& c : cases) {
        const Bytes old = testpacks::BuildOldPack({OldEntry("x", testpacks::ToBytes("xyz"))});
        const std::string path = dir.Write(c.file, old);
        auto doc = MakeArchive();
        messages.Queue(MessageAnswer::Yes);
        ASSERT_EQ(doc->Open(path), 1) << c.file;
        EXPECT_EQ(doc->path(), dir.File(c.converted)) << c.file;
        EXPECT_TRUE(CPackArchive::IsCurrentPack(dir.File(c.converted))) << c.file;
        if (std::string(c.file) != c.converted) {
            EXPECT_EQ(testpacks::ReadFile(path), old) << c.file;
        }
    }
}

TEST_F(ConvertTest, NamesEqualButForCaseGetNumberedSuffixes) {
    const std::string path = dir.Write(
        "case.dat", testpacks::BuildOldPack({OldEntry("Readme.txt", testpacks::ToBytes("1")),
                                             OldEntry("README.TXT", testpacks::ToBytes("2")),
                                             OldEntry("readme.txt", testpacks::ToBytes("3")),
                                             OldEntry("Makefile", testpacks::ToBytes("4")),
                                             OldEntry("MAKEFILE", testpacks::ToBytes("5"))}));
    messages.Queue(MessageAnswer::Yes);
    ASSERT_EQ(archive->Open(path), 1);
    EXPECT_EQ(RootNames(),
              (std::vector<std::string>{"Readme.txt", "README (2).TXT", "readme (3).txt",
                                        "Makefile", "MAKEFILE (2)"}));
    EXPECT_EQ(Decoded(*archive->root()->files[2]), testpacks::ToBytes("3"));
}

TEST_F(ConvertTest, ManyEqualNamesStayCheap) {
    std::vector<OldEntry> entries(3000, OldEntry("Same.txt", {}));
    const std::string path = dir.Write("same.dat", testpacks::BuildOldPack(entries));
    messages.Queue(MessageAnswer::Yes);
    ASSERT_EQ(archive->Open(path), 1);
    ASSERT_EQ(archive->fileCount(), 3000u);
    EXPECT_EQ(archive->root()->files[1]->Name(), "Same (2).txt");
    EXPECT_EQ(archive->root()->files[2999]->Name(), "Same (3000).txt");
}

TEST_F(ConvertTest, ShortLzrwDecodeStopsTheConversionAndWritesNothing) {
    OldEntry shortOne("short.txt", TextBytes(4000), 1);
    shortOne.originalSize = 4010;  // decodes to 4000 bytes only
    const std::string path = dir.Write(
        "short.dat", testpacks::BuildOldPack({OldEntry("fine", TextBytes(100)), shortOne}));
    messages.Queue(MessageAnswer::Yes);
    EXPECT_EQ(archive->Open(path), 0);
    EXPECT_FALSE(archive->IsOpen());
    EXPECT_FALSE(fs::PathExists(dir.File("short.VPF")));
    ASSERT_EQ(messages.Calls().size(), 2u);
    EXPECT_EQ(
        messages.Calls()[1].text,
        "Unable to convert the PackFile " + path +
            ": the file short.txt does not decode to its original size. Nothing was written.");
    EXPECT_EQ(messages.Calls()[1].caption, kAppCaption);
}

TEST_F(ConvertTest, DamagedOldPacksAreRefused) {
    testpacks::OldPackLayout layout;
    const Bytes good = testpacks::BuildOldPack(
        {OldEntry("a.txt", TextBytes(500), 1), OldEntry("b.bin", NoiseBytes(300))}, &layout);
    std::vector<std::pair<std::string, Bytes>> bad;
    for (std::size_t n = 12; n < good.size(); n += 7)
        bad.emplace_back("cut " + std::to_string(n),
                         Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
    Bytes count = good;
    testpacks::PatchU32(count, 8, 0x40000000u);
    bad.emplace_back("entry count", count);
    Bytes offset = good;
    testpacks::PatchU32(offset, 12, 0xFFFFFFF0u);
    bad.emplace_back("entry offset", offset);
    Bytes original = good;  // LZRW entry claiming a huge original size
    testpacks::PatchU32(original, layout.entryOffsets[0] + 52, 0xFFFFFFFFu);
    bad.emplace_back("original size", original);
    testpacks::OldPackLayout sharedLayout;
    Bytes shared = testpacks::BuildOldPack(  // both records name the big entry's bytes
        {OldEntry("big", NoiseBytes(1000)), OldEntry("tiny", NoiseBytes(1))}, &sharedLayout);
    testpacks::PatchU32(shared, 16, static_cast<std::uint32_t>(sharedLayout.entryOffsets[0]));
    bad.emplace_back("shared entry", shared);
    Bytes stored = good;  // stored entry whose sizes disagree
    testpacks::PatchU32(stored, layout.entryOffsets[1] + 52, 301);
    bad.emplace_back("stored size", stored);

    for (const auto& [label, bytes] : bad) {
        const std::string path = dir.Write("bad.dat", bytes);
        messages.Clear();
        messages.Queue(MessageAnswer::Yes);
        auto doc = MakeArchive();
        EXPECT_EQ(doc->Open(path), 0) << label;
        EXPECT_FALSE(doc->IsOpen()) << label;
        ASSERT_EQ(messages.Calls().size(), 2u) << label;
        EXPECT_EQ(messages.Calls()[1].text.rfind("Unable to convert the PackFile " + path, 0), 0u)
            << messages.Calls()[1].text;
        EXPECT_FALSE(fs::PathExists(dir.File("bad.VPF"))) << label;
    }
}

}  // namespace
}  // namespace crateforge::test
