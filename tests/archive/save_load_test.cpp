// Saving writes the format's layouts exactly; loading and saving again
// without a change rewrites the same bytes.
#include "tests/archive/ArchiveFixture.h"

#include <cstdint>
#include <cstring>
#include <set>

#include "archive/EntryData.h"

namespace crateforge::test {
namespace {

void PutU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutName(Bytes& out, const std::string& name) {
    Bytes field(260, 0);
    std::memcpy(field.data(), name.data(), name.size());
    out.insert(out.end(), field.begin(), field.end());
}
void PutHeader(Bytes& out, std::uint32_t fileCount) {
    for (char c : std::string("VHPF2.10"))
        out.push_back(static_cast<std::uint8_t>(c));
    out.insert(out.end(), 8, 0);
    PutU32(out, fileCount);
}

using SaveLoadTest = ArchiveTest;

TEST_F(SaveLoadTest, NewPackExistsOnlyAfterTheFirstSaveAndIsThe32ByteEmptyPack) {
    const std::string path = PackPath();
    ASSERT_EQ(archive->CreateNew(path), 1);
    EXPECT_FALSE(fs::PathExists(path));
    ASSERT_EQ(archive->Save(), 1);
    Bytes expected;
    PutHeader(expected, 0);
    PutU32(expected, 12);
    PutU32(expected, 0);
    PutU32(expected, 0);
    EXPECT_EQ(testpacks::ReadFile(path), expected);
    EXPECT_EQ(archive->PackSize(), 32u);
}

TEST_F(SaveLoadTest, OneStoredFileGivesThe315ByteLayout) {
    const Bytes content = testpacks::ToBytes("0123456789");
    const std::string file = Source("a.txt", content);
    ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    ASSERT_EQ(archive->AddFile(file, archive->Root()), 1);
    ASSERT_EQ(archive->Save(), 1);

    Bytes expected;
    PutHeader(expected, 1);
    PutU32(expected, 276);
    PutU32(expected, 0);
    PutU32(expected, 1);
    PutName(expected, "a.txt");
    PutU32(expected, 296);
    PutU32(expected, 10);
    PutU32(expected, 10);
    expected.push_back(0);
    expected.insert(expected.end(), content.begin(), content.end());
    ASSERT_EQ(expected.size(), 315u);
    EXPECT_EQ(testpacks::ReadFile(PackPath()), expected);
}

TEST_F(SaveLoadTest, FolderAndFilesGiveThe1004ByteLayout) {
    const Bytes y = NoiseBytes(50, 1), x = NoiseBytes(100, 2);
    const std::string yPath = Source("y.txt", y);
    const std::string xPath = Source("x.bin", x);
    ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    CPackFolder* a = archive->MakeFolder(archive->Root(), "A").folder;
    ASSERT_EQ(archive->AddFile(yPath, archive->Root()), 1);
    ASSERT_EQ(archive->AddFile(xPath, a), 1);
    ASSERT_EQ(archive->Save(), 1);

    Bytes expected;
    PutHeader(expected, 2);
    PutU32(expected, 816);  // root block 20..560 plus A's block
    PutU32(expected, 1);
    PutU32(expected, 1);
    PutName(expected, "A");
    PutU32(expected, 560);
    PutName(expected, "y.txt");
    PutU32(expected, 836);
    PutU32(expected, 276);  // A's block 560..836
    PutU32(expected, 0);
    PutU32(expected, 1);
    PutName(expected, "x.bin");
    PutU32(expected, 895);
    PutU32(expected, 50);
    PutU32(expected, 50);
    expected.push_back(0);
    expected.insert(expected.end(), y.begin(), y.end());
    PutU32(expected, 100);
    PutU32(expected, 100);
    expected.push_back(0);
    expected.insert(expected.end(), x.begin(), x.end());
    ASSERT_EQ(expected.size(), 1004u);
    EXPECT_EQ(testpacks::ReadFile(PackPath()), expected);
    EXPECT_EQ(archive->Root()->SubtreeSize(), 816u);
    EXPECT_EQ(a->SubtreeSize(), 276u);
    EXPECT_EQ(archive->Root()->FileAt(0)->dataOffset, 836u);

    // Writing to a sink (a pipe) gives the same bytes; a sink that refuses
    // part-way is a failure with its own reason.
    struct Collect : pack::ByteSink {
        Bytes bytes;
        std::size_t limit = SIZE_MAX;
        bool Write(const unsigned char* data, std::size_t length) override {
            if (bytes.size() + length > limit)
                return false;
            bytes.insert(bytes.end(), data, data + length);
            return true;
        }
        std::string Reason() const override { return "the pipe is closed"; }
    } sink;
    pack::Fault fault;
    ASSERT_TRUE(archive->WriteTo(sink, fault)) << fault.Text();
    EXPECT_EQ(sink.bytes, expected);
    Collect shortSink;
    shortSink.limit = 900;
    EXPECT_FALSE(archive->WriteTo(shortSink, fault));
    EXPECT_EQ(fault.reason, "the pipe is closed");
}

TEST_F(SaveLoadTest, LoadingAndSavingUnchangedRewritesTheSameBytes) {
    using testpacks::File;
    using testpacks::Folder;
    File damaged("damaged.bin", NoiseBytes(40));
    damaged.originalSize = 99;  // stored, but packedSize 40: kept as it is
    File unknown("unknown.bin", NoiseBytes(30));
    unknown.methodByte = 9;
    Folder root(
        "",
        {File("g.txt", TextBytes(5000), pack::PackMethod::Gzip),
         File("l.txt", TextBytes(3000, 2), pack::PackMethod::Lzrw3a), File("empty", {}), damaged,
         unknown},
        {Folder("Sub", {File("s.bin", NoiseBytes(77))},
                {Folder("Deeper", {File("d.txt", TextBytes(900, 3), pack::PackMethod::Gzip)}),
                 Folder("Empty")}),
         Folder("Other", {File("o", testpacks::ToBytes("o"))})});
    const Bytes original = testpacks::BuildPack(root);
    const std::string path = dir.Write("round.vpf", original);

    ASSERT_EQ(archive->Open(path), 1);
    EXPECT_EQ(archive->FileCount(), 8u);
    EXPECT_EQ(archive->Root()->FileCount(), 5u);
    EXPECT_EQ(archive->Root()->SubfolderCount(), 2u);
    EXPECT_EQ(archive->Root()->FileAt(4)->method, 9);
    ASSERT_EQ(archive->Save(), 1);
    EXPECT_EQ(testpacks::ReadFile(path), original);

    // And a second document loads the rewritten file to the same tree.
    auto second = MakeArchive();
    ASSERT_EQ(second->Open(path), 1);
    EXPECT_EQ(second->Root()->TotalOriginalSize(), archive->Root()->TotalOriginalSize());
    EXPECT_EQ(second->Root()->TotalPackedSize(), archive->Root()->TotalPackedSize());
    EXPECT_TRUE(messages.Calls().empty());
}

TEST_F(SaveLoadTest, SavedContentDecodesToTheAddedFiles) {
    const Bytes text = TextBytes(100000), noise = NoiseBytes(3000);
    const std::string t = Source("t.txt", text);
    const std::string n = Source("n.bin", noise);
    ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    ASSERT_EQ(archive->AddFile(t, archive->Root()), 1);
    ASSERT_EQ(archive->AddFile(n, archive->Root()), 1);
    ASSERT_EQ(archive->Save(), 1);

    auto loaded = MakeArchive();
    ASSERT_EQ(loaded->Open(PackPath()), 1);
    const auto files = FilesOf(loaded->Root());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0]->method, static_cast<std::uint8_t>(pack::PackMethod::Gzip));
    EXPECT_LT(files[0]->packedSize, text.size());
    EXPECT_EQ(files[1]->method, static_cast<std::uint8_t>(pack::PackMethod::Stored));
    for (std::size_t i = 0; i < 2; ++i) {
        pack::DecodedBytes bytes;
        pack::Fault fault;
        ASSERT_TRUE(DecodeEntry(*files[i], bytes, fault)) << fault.Text();
        const Bytes& want = i == 0 ? text : noise;
        ASSERT_EQ(files[i]->originalSize, want.size());
        EXPECT_EQ(0, std::memcmp(bytes.get(), want.data(), want.size()));
    }
    // Neither the codec nor the save leaves anything behind.
    EXPECT_TRUE(TmpLeftovers().empty());
    std::vector<fs::DirEntry> names;
    fs::ListDirectory(dir.Path(), names);
    for (const auto& e : names)
        EXPECT_NE(e.name[0], '.') << e.name;  // no hidden save file
}

TEST_F(SaveLoadTest, HeaderChecksNeedTheWholeHeader) {
    const std::string shortCurrent = dir.Write("short.vpf", testpacks::ToBytes("VHPF2.10"));
    const std::string shortOld = dir.Write("short.dat", testpacks::ToBytes("VHPF1.03\1\0\0"));
    EXPECT_FALSE(CPackArchive::IsCurrentPack(shortCurrent));
    EXPECT_FALSE(CPackArchive::IsOldPack(shortOld));
    EXPECT_FALSE(CPackArchive::IsCurrentPack(dir.File("missing.vpf")));
    for (const std::string& p : {shortCurrent, shortOld, dir.File("missing.vpf")}) {
        EXPECT_EQ(archive->Open(p), 0) << p;
        EXPECT_FALSE(archive->IsOpen());
    }
    // Not a pack: no message, as for any other file.
    EXPECT_TRUE(messages.Calls().empty());

    Bytes empty;
    PutHeader(empty, 0);
    PutU32(empty, 12);
    PutU32(empty, 0);
    PutU32(empty, 0);
    EXPECT_TRUE(CPackArchive::IsCurrentPack(dir.Write("empty.vpf", empty)));
    ASSERT_EQ(archive->Open(dir.File("empty.vpf")), 1);
    EXPECT_EQ(archive->Root()->FileCount(), 0u);
    EXPECT_EQ(list.RowCount(), 0);
}

// A new pack written as its files are coded becomes the pack file itself
// when the tree comes out as planned, and is copied into a pack of its own
// when it does not; the saved bytes are the same either way.
TEST_F(SaveLoadTest, StreamedNewPackSavesTheSameBytesWhateverTheTreeBecame) {
    struct Add {
        const char* folder;  // "" the root, else one of MakeTree's
        const char* name;
        std::size_t size;
    };
    struct Case {
        const char* what;
        std::vector<Add> adds;
        std::uint32_t neverCame;  // planned root files that were not added
        bool streamed;            // the streamed file became the pack
    };
    const std::vector<Case> cases = {
        {"in layout order",
         {{"", "a.txt", 70000}, {"", "empty", 0}, {"sub", "b.bin", 20000}, {"deep", "c", 100}},
         0,
         true},
        {"only folders", {}, 0, true},
        {"a planned file never came", {{"", "a.txt", 70000}, {"sub", "b.bin", 20000}}, 1, false},
        {"out of layout order", {{"sub", "b.bin", 20000}, {"", "a.txt", 70000}}, 0, false},
        {"a name replaced", {{"", "a.txt", 70000}, {"", "A.TXT", 30000}}, 0, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string streamedName = "s" + std::to_string(n) + ".vpf";
        const std::string streamedPath = PackPath(streamedName);
        const std::string wholePath = PackPath("w" + std::to_string(n) + ".vpf");
        ++n;
        auto fill = [&](CPackArchive& doc, bool stream) -> ino_t {
            EXPECT_EQ(doc.CreateNew(stream ? streamedPath : wholePath), 1);
            CPackFolder* sub = doc.MakeFolder(doc.Root(), "sub").folder;
            CPackFolder* deep = doc.MakeFolder(sub, "deep").folder;
            doc.MakeFolder(doc.Root(), "other");
            auto folderOf = [&](std::string_view f) {
                return f.empty() ? doc.Root() : f == "sub" ? sub : deep;
            };
            ino_t sibling = 0;
            if (stream) {
                std::set<std::string> names;
                for (const Add& a : c.adds)
                    names.insert(std::string(a.folder) + "/" + a.name);
                const std::uint64_t planned = names.size() + c.neverCame;
                pack::Fault fault;
                EXPECT_TRUE(doc.StreamNewPack(doc.DirectoryEndWith(planned), fault))
                    << fault.Text();
                std::vector<fs::DirEntry> names2;
                fs::ListDirectory(dir.Path(), names2);
                for (const auto& e : names2)
                    if (e.name.rfind("." + streamedName + ".", 0) == 0) {
                        struct stat st {};
                        EXPECT_EQ(stat(dir.File(e.name).c_str(), &st), 0);
                        sibling = st.st_ino;
                    }
                EXPECT_NE(sibling, 0u) << "no file is being streamed";
            }
            for (const Add& a : c.adds) {
                const std::string from = Source(a.name, TextBytes(a.size, a.size % 7 + 1));
                auto entry = std::make_unique<PackEntry>();
                entry->SetName(a.name);
                pack::Fault fault;
                EXPECT_EQ(CodeDiskFile(from, *entry, {}, fault), DiskReadStatus::Ok);
                const AddOutcome added =
                    doc.AddCodedEntry(entry, folderOf(a.folder), from, NameClash::Replace);
                EXPECT_TRUE(added == AddOutcome::Added || added == AddOutcome::Replaced);
            }
            pack::Fault fault;
            EXPECT_EQ(doc.SaveQuietly(fault), SaveOutcome::Saved) << fault.Text();
            return sibling;
        };
        auto streamedDoc = MakeArchive();
        const ino_t sibling = fill(*streamedDoc, true);
        auto wholeDoc = MakeArchive();
        fill(*wholeDoc, false);

        EXPECT_EQ(testpacks::ReadFile(streamedPath), testpacks::ReadFile(wholePath));
        struct stat st {};
        ASSERT_EQ(stat(streamedPath.c_str(), &st), 0);
        EXPECT_EQ(st.st_ino == sibling, c.streamed);
        // The document reads its files back from the saved pack.
        for (const PackEntry* e : FilesOf(streamedDoc->Root())) {
            pack::DecodedBytes bytes;
            pack::Fault fault;
            EXPECT_TRUE(DecodeEntry(*e, bytes, fault)) << fault.Text();
        }
        std::vector<fs::DirEntry> names;
        fs::ListDirectory(dir.Path(), names);
        for (const auto& e : names)
            EXPECT_NE(e.name[0], '.') << e.name;  // no streamed file left over
    }
}

}  // namespace
}  // namespace crateforge::test
