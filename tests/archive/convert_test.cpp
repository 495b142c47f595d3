// Converting "1.03" packs: the question, the new path, skipped entries, full
// 48-byte names, LZRW3-A entries, unique names, and refusals that write
// nothing.
#include "tests/archive/ArchiveFixture.h"

#include <unistd.h>

#include <cstring>

#include "archive/EntryData.h"
#include "tests/support/FailingAllocations.h"

namespace crateforge::test {
namespace {

using testpacks::OldEntry;

class ConvertTest : public ArchiveTest {
  protected:
    static Bytes Decoded(const PackEntry& entry) {
        pack::DecodedBytes bytes;
        pack::Fault fault;
        EXPECT_TRUE(DecodeEntry(entry, bytes, fault)) << fault.Text();
        return bytes ? Bytes(bytes.get(), bytes.get() + entry.originalSize) : Bytes();
    }
    std::vector<std::string> RootNames() const {
        std::vector<std::string> out;
        for (const PackEntry* f : FilesOf(archive->Root()))
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

    EXPECT_EQ(archive->Path(), dir.File("data.VPF"));
    EXPECT_EQ(testpacks::ReadFile(path), old);
    EXPECT_EQ(RootNames(), (std::vector<std::string>{"first.txt", name48, "coded.txt", "last"}));
    EXPECT_EQ(archive->FileCount(), 4u);
    EXPECT_EQ(Decoded(*archive->Root()->FileAt(2)), lzrwText);
    for (const PackEntry* f : FilesOf(archive->Root()))
        EXPECT_NE(f->method, static_cast<std::uint8_t>(pack::PackMethod::Lzrw3a));
    EXPECT_EQ(archive->Root()->FileAt(0)->method,
              static_cast<std::uint8_t>(pack::PackMethod::Gzip));

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

TEST_F(ConvertTest, RecodingWithoutMemoryIsCountedAndARefusalCountsNothing) {
    const std::string path = dir.Write(
        "data.dat",
        testpacks::BuildOldPack({OldEntry("a.txt", TextBytes(3000)),
                                 OldEntry("b.txt", TextBytes(3000, 2)), OldEntry("empty", {})}));
    messages.Queue(MessageAnswer::Yes);
    {
        // No memory for the coded streams (a little more than each file).
        testsupport::FailAllocations noMemory(3001, 4000);
        ASSERT_EQ(archive->Open(path), 1);
        EXPECT_EQ(noMemory.Failed(), 2);
    }
    const CodingFallbacks taken = archive->TakeCodingFallbacks();
    EXPECT_EQ(taken.count, 2);
    EXPECT_EQ(taken.firstName, "a.txt");
    EXPECT_EQ(taken.reason, "out of memory");

    // A conversion that is refused part-way keeps nothing, not even a count.
    // "fine" is recoded (and stored) before "short.txt" stops the conversion.
    OldEntry shortOne("short.txt", TextBytes(4000), 1);
    shortOne.originalSize = 4010;
    const std::string bad = dir.Write(
        "bad.dat", testpacks::BuildOldPack({OldEntry("fine", TextBytes(3000)), shortOne}));
    auto second = MakeArchive();
    messages.Queue(MessageAnswer::Yes);
    {
        testsupport::FailAllocations noMemory(3001, 4000);
        EXPECT_EQ(second->Open(bad), 0);
        EXPECT_EQ(noMemory.Failed(), 1);
    }
    EXPECT_EQ(second->TakeCodingFallbacks().count, 0);
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
        EXPECT_EQ(doc->Path(), dir.File(c.converted)) << c.file;
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
    EXPECT_EQ(Decoded(*archive->Root()->FileAt(2)), testpacks::ToBytes("3"));
}

TEST_F(ConvertTest, ManyEqualNamesStayCheap) {
    std::vector<OldEntry> entries(3000, OldEntry("Same.txt", {}));
    const std::string path = dir.Write("same.dat", testpacks::BuildOldPack(entries));
    messages.Queue(MessageAnswer::Yes);
    ASSERT_EQ(archive->Open(path), 1);
    ASSERT_EQ(archive->FileCount(), 3000u);
    EXPECT_EQ(archive->Root()->FileAt(1)->Name(), "Same (2).txt");
    EXPECT_EQ(archive->Root()->FileAt(2999)->Name(), "Same (3000).txt");
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
    EXPECT_EQ(messages.Calls()[1].text,
              "Unable to convert the PackFile " + path +
                  ": the file short.txt: decoded to 4000 bytes instead of 4010 at offset " +
                  std::to_string(pack::kOldPackHeaderSize + 2 * pack::kOldEntryOffsetSize +
                                 pack::kOldEntryRecordSize + 100 + pack::kOldEntryRecordSize) +
                  ". Nothing was written.");
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

// An LZRW3-A entry may claim the largest original size a u32 holds when its
// block is large enough to yield it (about 477 MB). A sparse file makes such
// a pack cheap on disk; the claim must neither wrap a size computation nor
// let the decoder write past its buffer.
TEST_F(ConvertTest, LargestLzrwClaimInASparsePackIsRefusedWithoutOverflow) {
    constexpr std::uint32_t kClaim = 0xFFFFFFFFu;
    // The smallest block whose bound admits the claim.
    std::uint32_t packed = codec::LzrwBlockHeaderSize;
    while (codec::LzrwMaxDecodedSize(packed) < kClaim)
        packed += 1u << 16;
    ASSERT_GT(packed, 400u * 1000 * 1000);
    testpacks::OldEntry huge("huge.bin", {}, 1);
    huge.originalSize = kClaim;
    huge.stored = Bytes{1, 0, 0, 0};  // a stored-copy block: its body follows
    Bytes head = testpacks::BuildOldPack({huge});
    const std::size_t record = pack::kOldPackHeaderSize + pack::kOldEntryOffsetSize;
    testpacks::PatchU32(head, record + pack::kOldNameFieldSize, packed);
    const std::string path = dir.Write("huge.dat", head);
    ASSERT_EQ(
        truncate(path.c_str(), static_cast<off_t>(record + pack::kOldEntryRecordSize + packed)), 0);

    messages.Queue(MessageAnswer::Yes);
    EXPECT_EQ(archive->Open(path), 0);
    EXPECT_FALSE(archive->IsOpen());
    ASSERT_EQ(messages.Calls().size(), 2u);
    EXPECT_EQ(messages.Calls()[1].text,
              "Unable to convert the PackFile " + path + ": the file huge.bin: decoded to " +
                  std::to_string(packed - codec::LzrwBlockHeaderSize) + " bytes instead of " +
                  std::to_string(kClaim) + " at offset " +
                  std::to_string(record + pack::kOldEntryRecordSize) + ". Nothing was written.");
    EXPECT_FALSE(fs::PathExists(dir.File("huge.VPF")));
}

// A table that names one record ten million times is refused from its
// structure, before the converter allocates or decodes anything per slot.
TEST_F(ConvertTest, TableNamingOneRecordManyTimesIsRefusedAtOnce) {
    constexpr std::uint32_t kSlots = 10'000'000;
    const std::uint32_t record = pack::kOldPackHeaderSize + pack::kOldEntryOffsetSize * kSlots;
    Bytes bytes(record + pack::kOldEntryRecordSize + 100);
    pack::Write(bytes, 0, pack::MakeOldPackHeader(kSlots));
    for (std::uint32_t i = 0; i < kSlots; ++i)
        pack::WriteU32(bytes, pack::kOldPackHeaderSize + pack::kOldEntryOffsetSize * i, record);
    pack::OldEntryRecord entry{};
    std::memcpy(entry.name, "one", 3);
    entry.packedSize = entry.originalSize = 100;
    pack::Write(bytes, record, entry);
    const std::string path = dir.Write("many.dat", bytes);

    messages.Queue(MessageAnswer::Yes);
    EXPECT_EQ(archive->Open(path), 0);
    ASSERT_EQ(messages.Calls().size(), 2u);
    EXPECT_EQ(messages.Calls()[1].text,
              "Unable to convert the PackFile " + path +
                  ": entries that claim more bytes than the file holds at offset " +
                  std::to_string(record) + ". Nothing was written.");
    EXPECT_FALSE(fs::PathExists(dir.File("many.VPF")));
}

}  // namespace
}  // namespace crateforge::test
