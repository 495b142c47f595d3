// Damaged and hostile packs against the desktop program's loader, its
// conversion and the strict check: the shared corpus with one verdict per
// pack, and the cases of the loader's and the check's own that the corpus
// does not state. A refusal is one message naming the file, no change to
// the document and nothing written; never a crash or a read outside the file.
#include <sys/stat.h>

#include <set>

#include "archive/EntryData.h"
#include "archive/PackCheck.h"
#include "format/Names.h"
#include "tests/archive/ArchiveFixture.h"
#include "tests/support/DamagedPacks.h"

namespace crateforge::test {
namespace {

using damaged::Content;
using damaged::Verdict;
using testpacks::File;
using testpacks::Folder;
using testpacks::PatchU32;

// Whether the bytes begin with a whole header of the case's version: the
// program opens nothing else and says nothing about it.
bool Recognised(const damaged::Case& c) {
    const std::size_t header =
        c.version == pack::PackVersion::Old ? pack::kOldPackHeaderSize : pack::kPackHeaderSize;
    return c.version != pack::PackVersion::None && c.bytes.size() >= header &&
           pack::DetectVersion(c.bytes) == c.version;
}

class DamagedPacksTest : public ArchiveTest {
  protected:
    // A new file for every pack: rewriting one file over and over frees its
    // blocks each time, which some file systems make slow.
    std::string WriteNew(const std::string& stem, const Bytes& bytes) {
        return dir.Write(stem + std::to_string(++written_) + ".vpf", bytes);
    }

    // Opens `bytes` as a "2.10" pack in a fresh document; expects a refusal
    // with one message and the file untouched.
    void ExpectRefused(const Bytes& bytes, const std::string& label) {
        const std::string path = WriteNew("bad", bytes);
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
        EXPECT_EQ(testpacks::ReadFile(path), bytes) << label;
    }

    // Every entry of the tree in directory order: full name ("/" between
    // folders) and the entry.
    static void Entries(const CPackFolder& folder, const std::string& prefix,
                        std::vector<std::pair<std::string, const PackEntry*>>& out) {
        for (const PackEntry* e : FilesOf(&folder))
            out.emplace_back(prefix + std::string(e->Name()), e);
        for (std::size_t i = 0; i < folder.SubfolderCount(); ++i)
            Entries(*folder.SubfolderAt(static_cast<int>(i)),
                    prefix + std::string(folder.SubfolderName(static_cast<int>(i))) + "/", out);
    }
    static Bytes Decoded(const PackEntry& entry) {
        pack::DecodedBytes bytes;
        pack::Fault fault;
        EXPECT_TRUE(DecodeEntry(entry, bytes, fault)) << fault.Text();
        return bytes ? Bytes(bytes.get(), bytes.get() + entry.originalSize) : Bytes();
    }
    static Bytes Stored(const PackEntry& entry) {
        pack::DecodedBytes holder;
        const unsigned char* bytes = nullptr;
        pack::Fault fault;
        EXPECT_TRUE(StoredBytes(entry, holder, bytes, fault)) << fault.Text();
        return bytes ? Bytes(bytes, bytes + entry.packedSize) : Bytes();
    }

    int written_ = 0;
};

// ---- The corpus ----------------------------------------------------------------

TEST_F(DamagedPacksTest, LoadGivesEveryPackItsVerdictAndKeepsWhatItLoads) {
    std::size_t loaded = 0;
    for (const damaged::Case& c : damaged::Corpus()) {
        if (c.version == pack::PackVersion::Old)
            continue;
        SCOPED_TRACE(c.what);
        if (!Recognised(c)) {
            // Not a pack at all: no message, as for any other file.
            messages.Clear();
            EXPECT_EQ(MakeArchive()->Open(WriteNew("none", c.bytes)), 0);
            EXPECT_TRUE(messages.Calls().empty());
            continue;
        }
        if (c.directory == Verdict::Refuse) {
            ExpectRefused(c.bytes, c.what);
            if (HasFatalFailure())
                return;
            continue;
        }
        ++loaded;
        const std::string path = WriteNew("good", c.bytes);
        messages.Clear();
        auto doc = MakeArchive();
        ASSERT_EQ(doc->Open(path), 1) << (messages.Calls().empty() ? "" : messages.Texts()[0]);
        std::vector<std::pair<std::string, const PackEntry*>> entries;
        Entries(*doc->Root(), "", entries);
        EXPECT_EQ(doc->FileCount(), entries.size());
        if (c.content == Content::Intact) {
            ASSERT_EQ(entries.size(), c.entries.size());
            for (std::size_t i = 0; i < entries.size(); ++i) {
                EXPECT_EQ(entries[i].first, c.entries[i].name);
                EXPECT_EQ(Decoded(*entries[i].second), c.entries[i].bytes) << entries[i].first;
            }
        }
        // Saved without a change, the pack holds the same stored bytes and
        // methods; laid out as a writer lays it out, it is the same file.
        ASSERT_EQ(doc->Save(), 1);
        if (c.strict == Verdict::Accept) {
            EXPECT_EQ(testpacks::ReadFile(path), c.bytes);
        }
        auto again = MakeArchive();
        ASSERT_EQ(again->Open(path), 1);
        std::vector<std::pair<std::string, const PackEntry*>> reloaded;
        Entries(*again->Root(), "", reloaded);
        ASSERT_EQ(reloaded.size(), entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(reloaded[i].first, entries[i].first);
            EXPECT_EQ(reloaded[i].second->method, entries[i].second->method);
            EXPECT_EQ(reloaded[i].second->originalSize, entries[i].second->originalSize);
            EXPECT_EQ(Stored(*reloaded[i].second), Stored(*entries[i].second));
        }
    }
    EXPECT_GT(loaded, 100u);
    EXPECT_TRUE(TmpLeftovers().empty());
}

TEST_F(DamagedPacksTest, ConversionGivesEveryOldPackItsVerdict) {
    std::size_t converted = 0;
    for (const damaged::Case& c : damaged::Corpus()) {
        if (c.version != pack::PackVersion::Old)
            continue;
        SCOPED_TRACE(c.what);
        const std::string stem = "old" + std::to_string(++written_);
        const std::string path = dir.Write(stem + ".dat", c.bytes);
        const std::string target = dir.File(stem + ".VPF");
        messages.Clear();
        messages.Queue(MessageAnswer::Yes);
        auto doc = MakeArchive();
        // A pack is converted only when its structure is sound and every
        // entry decodes.
        const bool expected = c.directory == Verdict::Accept && c.content == Content::Intact;
        const int opened = doc->Open(path);
        EXPECT_EQ(testpacks::ReadFile(path), c.bytes);  // the old pack is left as it was
        if (c.directory == Verdict::Accept && c.content == Content::Unchecked) {
            EXPECT_EQ(fs::PathExists(target), opened == 1);  // not predicted, but honest
            continue;
        }
        ASSERT_EQ(opened, expected ? 1 : 0);
        if (!Recognised(c)) {
            EXPECT_TRUE(messages.Calls().empty());  // no question for what is no pack
            continue;
        }
        if (!expected) {
            EXPECT_FALSE(doc->IsOpen());
            EXPECT_FALSE(fs::PathExists(target));
            ASSERT_EQ(messages.Calls().size(), 2u);
            EXPECT_EQ(messages.Calls()[1].text.rfind("Unable to convert the PackFile " + path, 0),
                      0u)
                << messages.Calls()[1].text;
            continue;
        }
        ++converted;
        EXPECT_EQ(doc->Path(), target);
        ASSERT_EQ(doc->Root()->FileCount(), c.entries.size());
        // Names are kept as the old pack stores them (only repeated ones
        // are numbered); the strict check passes the converted pack when
        // every name can be written to disk as it is.
        bool writable = true;
        std::set<std::string> folded;
        for (std::size_t i = 0; i < c.entries.size(); ++i) {
            const PackEntry& e = *doc->Root()->FileAt(i);
            // Names equal but for case are numbered apart; others are kept.
            if (folded.count(pack::FoldedName(c.entries[i].name)))
                EXPECT_EQ(std::string(e.Name()).rfind(c.entries[i].name.substr(0, 3), 0), 0u);
            else
                EXPECT_EQ(e.Name(), c.entries[i].name);
            EXPECT_TRUE(folded.insert(pack::FoldedName(e.Name())).second) << e.Name();
            folded.insert(pack::FoldedName(c.entries[i].name));
            EXPECT_NE(e.method, static_cast<std::uint8_t>(pack::PackMethod::Lzrw3a));
            EXPECT_EQ(Decoded(e), c.entries[i].bytes) << e.Name();
            pack::DiskPath disk;
            writable = writable && pack::ToDiskPath(e.Name(), disk).empty() && !disk.droppedLeading;
        }
        pack::Directory written;
        pack::Fault fault;
        EXPECT_EQ(CheckPack(target, written, fault), writable) << fault.Text();
    }
    EXPECT_GT(converted, 40u);
    EXPECT_TRUE(TmpLeftovers().empty());
}

TEST_F(DamagedPacksTest, StrictCheckGivesEveryPackItsVerdict) {
    for (const damaged::Case& c : damaged::Corpus()) {
        if (c.strict == Verdict::Unchecked)
            continue;
        SCOPED_TRACE(c.what);
        pack::MemorySource source(c.bytes);
        pack::Directory directory;
        pack::Fault fault;
        bool ok = CheckPackStructure(source, directory, fault);
        for (std::size_t i = 0; ok && i < directory.files.size(); ++i)
            ok = CheckEntryData(source, directory, i, fault);
        ASSERT_EQ(ok, c.strict == Verdict::Accept) << fault.Text();
        if (ok)
            continue;
        // The pack's fault, told with the byte where it lies; or no pack.
        if (!Recognised(c)) {
            EXPECT_EQ(fault.kind, pack::FaultKind::NotAPack) << fault.Text();
        } else {
            EXPECT_EQ(fault.kind, pack::FaultKind::Damaged) << fault.Text();
            ASSERT_TRUE(fault.HasOffset()) << fault.Text();
            EXPECT_LE(fault.offset, c.bytes.size()) << fault.Text();
        }
    }
}

// ---- The loader's own cases ------------------------------------------------------

Folder Sample() {
    return Folder(
        "", {File("a.txt", TextBytes(700), pack::PackMethod::Gzip), File("b.bin", NoiseBytes(64))},
        {Folder("Sub", {File("c.txt", TextBytes(300, 4), pack::PackMethod::Lzrw3a)},
                {Folder("Leaf", {File("d", NoiseBytes(9))})})});
}

TEST_F(DamagedPacksTest, EveryTruncationIsRefused) {
    const Bytes good = testpacks::BuildPack(Sample());
    for (std::size_t length = 0; length < good.size(); ++length) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        if (length < pack::kPackHeaderSize) {
            // No whole header: not a pack at all, so no message.
            const std::string path = WriteNew("cut", cut);
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

TEST_F(DamagedPacksTest, HostileFieldsAreRefused) {
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

TEST_F(DamagedPacksTest, RecordsSharingABlockLoadAndSaveApartWithinTheSizeLimit) {
    // Four records pointing at one 5000-byte block: each entry is that
    // block's file, and a save writes four blocks, as a writer lays them out.
    testpacks::PackLayout layout;
    const Bytes big = NoiseBytes(5000);
    const Bytes good = testpacks::BuildPack(
        Folder("", {File("big", big), File("e1", {}), File("e2", {}), File("e3", {})}), &layout);
    Bytes shared = good;
    for (std::size_t i = 1; i < 4; ++i)
        PatchU32(shared, layout.fileRecordOffsets[i] + 260,
                 static_cast<std::uint32_t>(layout.dataOffsets[0]));
    const std::string path = WriteNew("shared", shared);
    auto doc = MakeArchive();
    ASSERT_EQ(doc->Open(path), 1);
    ASSERT_EQ(doc->Root()->FileCount(), 4u);
    for (const PackEntry* entry : FilesOf(doc->Root()))
        EXPECT_EQ(Decoded(*entry), big) << entry->Name();
    ASSERT_EQ(doc->Save(), 1);
    pack::Directory directory;
    pack::Fault fault;
    EXPECT_TRUE(CheckPack(path, directory, fault)) << fault.Text();
    EXPECT_EQ(testpacks::ReadFile(path).size(), good.size() + 3 * big.size());

    // One 1 MB block named by 4100 records would take 4.1 GB written apart:
    // more than a pack can hold, so it is refused before any copy is made.
    const std::uint32_t records = 4100;
    std::vector<File> files = {File("block", NoiseBytes(1 << 20))};
    for (std::uint32_t i = 1; i < records; ++i)
        files.push_back(File("r" + std::to_string(i), {}));
    testpacks::PackLayout many;
    Bytes bomb = testpacks::BuildPack(Folder("", files), &many);
    for (std::uint32_t i = 1; i < records; ++i)
        PatchU32(bomb, many.fileRecordOffsets[i] + 260,
                 static_cast<std::uint32_t>(many.dataOffsets[0]));
    ExpectRefused(bomb, "shared past 4 GiB");
    EXPECT_NE(messages.Calls()[0].text.find("share bytes"), std::string::npos)
        << messages.Calls()[0].text;
}

TEST_F(DamagedPacksTest, NestingDeeperThanTheLimitIsRefusedShallowerLoads) {
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

TEST_F(DamagedPacksTest, WhatIsNoRegularFileIsNoPackAndNeverBlocks) {
    // A directory or a FIFO where the pack should be: not a pack, nothing
    // shown, and no read that waits for a writer.
    const std::string folder = SourceDir("dir.vpf");
    EXPECT_FALSE(CPackArchive::IsCurrentPack(folder));
    EXPECT_EQ(archive->Open(folder), 0);
    const std::string fifo = src + "/fifo.vpf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(CPackArchive::IsCurrentPack(fifo));
    EXPECT_FALSE(CPackArchive::IsOldPack(fifo));
    EXPECT_EQ(archive->Open(fifo), 0);
    EXPECT_TRUE(messages.Calls().empty());
}

// ---- The strict check's own sweep ---------------------------------------------------

TEST_F(DamagedPacksTest, TheStrictCheckRefusesEveryTruncationAndPassesTheWhole) {
    Folder root;
    root.files = {File("s", testpacks::ToBytes("0123456789")),
                  File("g", testpacks::SampleBytes(700, 1), pack::PackMethod::Gzip),
                  File("l", testpacks::SampleBytes(700, 2), pack::PackMethod::Lzrw3a),
                  File("e", {})};
    root.folders = {Folder("F", {File("y", testpacks::ToBytes("why"))}, {Folder("G")})};
    const Bytes whole = testpacks::BuildPack(root);
    pack::Directory directory;
    pack::Fault fault;
    ASSERT_TRUE(CheckPack(dir.Write("t.vpf", whole), directory, fault)) << fault.Text();
    ASSERT_EQ(directory.files.size(), 5u);
    EXPECT_EQ(directory.FullName(4, '/'), "F/y");
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        pack::MemorySource source(cut);
        bool ok = CheckPackStructure(source, directory, fault);
        for (std::size_t i = 0; ok && i < directory.files.size(); ++i)
            ok = CheckEntryData(source, directory, i, fault);
        EXPECT_FALSE(ok) << n;
        if (n >= pack::kPackHeaderSize) {
            EXPECT_EQ(fault.kind, pack::FaultKind::Damaged) << n;
            EXPECT_LE(fault.offset, n) << n << " " << fault.reason;
        }
    }
}

}  // namespace
}  // namespace crateforge::test
