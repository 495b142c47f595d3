// What the desktop program writes, the reader library reads: a saved pack
// of a disk tree, and packs built from generated trees (deep, 259-byte
// names, empty folders and files, names equal but for case, many files);
// and the two agree on every "2.10" pack of the damaged-pack corpus.
#include <algorithm>
#include <cstring>
#include <random>

#include "archive/EntryCoding.h"
#include "format/Names.h"
#include "reader/PackReader.h"
#include "tests/archive/ArchiveFixture.h"
#include "tests/support/DamagedPacks.h"

namespace crateforge::test {
namespace {

using ReaderInteropTest = ArchiveTest;

TEST_F(ReaderInteropTest, SavedPackIsReadByTheLibrary) {
    const Bytes text = TextBytes(40000), noise = NoiseBytes(1500), zero;
    SourceDir("tree");
    SourceDir("tree/Inner");
    Source("tree/text.txt", text);
    Source("tree/Inner/noise.bin", noise);
    Source("tree/Inner/zero", zero);
    const std::string top = Source("top.txt", testpacks::ToBytes("top"));

    ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    ASSERT_EQ(archive->AddFile(top, archive->Root()), 1);
    ASSERT_EQ(archive->AddFolder(src + "/tree", archive->Root()), 1);
    ASSERT_EQ(archive->Save(), 1);

    PackReader reader;
    std::string path = PackPath();
    ASSERT_TRUE(reader.OpenPack(path.data()));
    ASSERT_EQ(reader.GetNumFiles(), 4u);
    struct Want {
        std::string name;
        const Bytes* bytes;
    } wants[] = {{"top.txt", nullptr},
                 {"tree\\text.txt", &text},
                 {"tree\\Inner\\noise.bin", &noise},
                 {"TREE\\inner\\ZERO", &zero}};
    for (Want& w : wants) {
        std::string name = w.name;
        const unsigned long index = reader.GetIndex(name.data());
        ASSERT_NE(index, static_cast<unsigned long>(-1)) << w.name;
        if (!w.bytes)
            continue;
        ASSERT_EQ(reader.GetFileSize(index), w.bytes->size()) << w.name;
        unsigned char* data = reader.GetData(index);
        if (!w.bytes->empty()) {
            ASSERT_NE(data, nullptr) << w.name;
            EXPECT_EQ(0, std::memcmp(data, w.bytes->data(), w.bytes->size())) << w.name;
        }
    }
    EXPECT_LT(reader.GetFilePackedSize(reader.GetIndex(wants[1].name.data())), text.size());
    reader.ClosePack();
}

// ---- Generated trees ---------------------------------------------------------------

// One file the generator put into the document, by its full name.
struct Expected {
    std::string name;  // folders joined with "\\", as the library names entries
    Bytes bytes;
};

// Builds trees in the document as its commands do (MakeFolder for a new
// folder, coded entries added with the document's checks), remembering what
// each file must read back as.
class TreeMaker {
  public:
    TreeMaker(CPackArchive& archive, std::uint32_t seed) : archive_(archive), random_(seed) {}

    // A name of `length` bytes: letters in both cases, digits, spaces, dots
    // and bytes above 0x7F; never a separator, NUL, "." or "..".
    std::string Name(std::size_t length) {
        static constexpr char kPlain[] = "abcXYZ019 ._-~";
        std::string name;
        while (name.size() < length) {
            const unsigned pick = Next(4);
            name +=
                pick == 0 ? static_cast<char>(0x80 + Next(0x7F)) : kPlain[Next(sizeof kPlain - 1)];
        }
        if (name == "." || name == "..")
            name[0] = 'n';
        return name;
    }
    Bytes Content() {
        switch (Next(4)) {
            case 0:
                return {};
            case 1:
                return NoiseBytes(Next(3000), Next(1000));
            default:
                return TextBytes(Next(20000), Next(1000));
        }
    }
    // The subfolder `name` of `parent`, made when missing; a folder whose
    // name differs only in case is that folder, and `name` becomes its own.
    CPackFolder* Folder(CPackFolder* parent, std::string& name) {
        const int i = parent->FindSubfolder(name);
        if (i < 0)
            return archive_.MakeFolder(parent, name).folder;
        name = std::string(parent->SubfolderName(i));
        return parent->SubfolderAt(i);
    }
    // Adds a file; false when its name is taken in the folder (ignoring
    // case), which the builder never lets happen.
    bool File(CPackFolder* folder, const std::string& path, const std::string& name, Bytes bytes) {
        auto entry = std::make_unique<PackEntry>();
        EXPECT_TRUE(entry->SetName(name));
        entry->originalSize = static_cast<std::uint32_t>(bytes.size());
        codec::GzBuffer buffer(new unsigned char[bytes.size() + 1]);
        std::copy(bytes.begin(), bytes.end(), buffer.get());
        CompressEntry(std::move(buffer), *entry, {});
        const AddOutcome outcome = archive_.AddCodedEntry(entry, folder, name, NameClash::Keep);
        if (outcome != AddOutcome::Added)
            return false;
        expected.push_back({path.empty() ? name : path + "\\" + name, std::move(bytes)});
        return true;
    }
    unsigned Next(unsigned bound) {
        return bound == 0 ? 0 : static_cast<unsigned>(random_() % bound);
    }

    std::vector<Expected> expected;

  private:
    CPackArchive& archive_;
    std::mt19937 random_;
};

class GeneratedTreeTest : public ArchiveTest {
  protected:
    // Saves the document and reads every entry back through the library:
    // the same names in the same order, sizes and bytes, each also found by
    // its name in another letter case.
    void ExpectReaderSees(std::vector<Expected> expected, std::string path = {}) {
        if (path.empty())
            path = PackPath();
        ASSERT_EQ(archive->Save(), 1) << archive->LastFault().Text();
        PackReader reader;
        ASSERT_TRUE(reader.OpenPack(path.data()));
        ASSERT_EQ(reader.GetNumFiles(), expected.size());
        // The library lists a folder's files, then its subfolders' entries;
        // the generator added them in any order, so compare by name.
        std::sort(expected.begin(), expected.end(),
                  [](const Expected& a, const Expected& b) { return a.name < b.name; });
        std::vector<std::pair<std::string, unsigned long>> listed;
        for (unsigned long i = 0; i < reader.GetNumFiles(); ++i)
            listed.emplace_back(reader.GetName(i), i);
        std::sort(listed.begin(), listed.end());
        for (std::size_t k = 0; k < expected.size(); ++k) {
            const Expected& want = expected[k];
            ASSERT_EQ(listed[k].first, want.name);
            const unsigned long i = listed[k].second;
            ASSERT_EQ(reader.GetFileSize(i), want.bytes.size()) << want.name;
            const unsigned char* data = reader.GetData(i);
            ASSERT_NE(data, nullptr) << want.name;
            EXPECT_EQ(Bytes(data, data + want.bytes.size()), want.bytes) << want.name;
            reader.PurgeFile(i);
            std::string upper = want.name;
            for (char& c : upper)
                c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
            const unsigned long found = reader.GetIndex(upper.data());
            ASSERT_NE(found, static_cast<unsigned long>(-1)) << want.name;
            EXPECT_TRUE(pack::SameNameIgnoringCase(reader.GetName(found), want.name));
        }
        reader.ClosePack();
        // The document reads it back the same way too.
        auto again = MakeArchive();
        ASSERT_EQ(again->Open(path), 1);
        EXPECT_EQ(again->FileCount(), expected.size());
    }
};

TEST_F(GeneratedTreeTest, TheDeepestTreeTheBuilderMakes) {
    ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    TreeMaker make(*archive, 1);
    CPackFolder* folder = archive->Root();
    std::string path;
    for (std::uint32_t depth = 1; depth <= pack::kMaxFolderDepth; ++depth) {
        std::string name = make.Name(1 + make.Next(3));
        folder = make.Folder(folder, name);
        path += (path.empty() ? "" : "\\") + name;
        if (depth % 64 == 0 || depth == pack::kMaxFolderDepth) {
            ASSERT_TRUE(make.File(folder, path, "at" + std::to_string(depth), make.Content()));
        }
    }
    ExpectReaderSees(make.expected);
}

TEST_F(GeneratedTreeTest, NamesOfTheFullLengthInEveryPlace) {
    ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    TreeMaker make(*archive, 2);
    CPackFolder* folder = archive->Root();
    std::string path;
    for (int level = 0; level < 8; ++level) {
        ASSERT_TRUE(make.File(folder, path, make.Name(pack::kMaxNameLength), make.Content()));
        std::string name = make.Name(pack::kMaxNameLength);
        folder = make.Folder(folder, name);
        path += (path.empty() ? "" : "\\") + name;
    }
    ASSERT_TRUE(make.File(folder, path, make.Name(pack::kMaxNameLength), make.Content()));
    ExpectReaderSees(make.expected);
}

TEST_F(GeneratedTreeTest, EmptyFoldersEmptyFilesAndNamesEqualButForCase) {
    ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    TreeMaker make(*archive, 3);
    CPackFolder* root = archive->Root();
    // Empty folders stay (they hold no entry the library lists).
    std::string empty = "empty", emptier = "emptier", dataName = "DATA", inner = "Data";
    make.Folder(make.Folder(root, empty), emptier);
    ASSERT_TRUE(make.File(root, "", "zero", {}));
    // A file and a folder may share a name; the same name in other folders
    // and other letter cases is a different entry.
    ASSERT_TRUE(make.File(root, "", "Data", testpacks::ToBytes("the file")));
    CPackFolder* data = make.Folder(root, dataName);
    ASSERT_TRUE(make.File(data, "DATA", "data", testpacks::ToBytes("inside")));
    ASSERT_TRUE(make.File(make.Folder(data, inner), "DATA\\Data", "DATA", {}));
    // Within one folder, names equal but for case are refused.
    EXPECT_FALSE(make.File(root, "", "ZERO", testpacks::ToBytes("no")));
    EXPECT_FALSE(make.File(data, "DATA", "Data", testpacks::ToBytes("no")));
    ExpectReaderSees(make.expected);
}

TEST_F(GeneratedTreeTest, ManyFilesInRandomShapes) {
    for (std::uint32_t seed = 10; seed < 13; ++seed) {
        SCOPED_TRACE(seed);
        ASSERT_EQ(archive->CreateNew(PackPath("random" + std::to_string(seed) + ".vpf")), 1);
        TreeMaker make(*archive, seed);
        std::vector<std::pair<CPackFolder*, std::string>> folders{{archive->Root(), ""}};
        for (int i = 0; i < 2500; ++i) {
            const auto [folder, path] = folders[make.Next(static_cast<unsigned>(folders.size()))];
            if (make.Next(8) == 0 && folder->Depth() < 40) {
                std::string name = make.Name(1 + make.Next(40));
                CPackFolder* made = make.Folder(folder, name);
                folders.emplace_back(made, path.empty() ? name : path + "\\" + name);
            } else {
                make.File(folder, path, make.Name(1 + make.Next(30)), make.Content());
            }
        }
        ASSERT_GT(make.expected.size(), 2000u);
        ExpectReaderSees(make.expected, PackPath("random" + std::to_string(seed) + ".vpf"));
    }
}

// An old pack's names are whole paths, and its conversion keeps them byte
// for byte: a host finds "maps\\x.map" by that name, in any letter case, in
// the old pack and in its conversion alike.
TEST_F(ReaderInteropTest, AConvertedOldPackIsReadByItsOldNamesInAnyCase) {
    const Bytes map = TextBytes(4000, 3), sub = NoiseBytes(500);
    const std::string old = dir.Write(
        "game.dat", testpacks::BuildOldPack({testpacks::OldEntry("maps\\x.map", map, 1),
                                             testpacks::OldEntry("Maps\\Sub\\y.bin", sub),
                                             testpacks::OldEntry("readme", TextBytes(10))}));
    messages.Queue(MessageAnswer::Yes);
    ASSERT_EQ(archive->Open(old), 1);
    const std::string converted = archive->Path();
    ASSERT_EQ(converted, dir.File("game.VPF"));
    for (std::string path : {old, converted}) {
        SCOPED_TRACE(path);
        PackReader reader;
        ASSERT_TRUE(reader.OpenPack(path.data()));
        ASSERT_EQ(reader.GetNumFiles(), 3u);
        EXPECT_STREQ(reader.GetName(0), "maps\\x.map");
        EXPECT_STREQ(reader.GetName(1), "Maps\\Sub\\y.bin");
        struct Lookup {
            const char* name;
            unsigned long index;
        };
        for (const Lookup& l :
             {Lookup{"maps\\x.map", 0}, Lookup{"MAPS\\X.MAP", 0}, Lookup{"mApS\\x.MaP", 0},
              Lookup{"maps\\sub\\Y.BIN", 1}, Lookup{"maps/x.map", static_cast<unsigned long>(-1)},
              Lookup{"x.map", static_cast<unsigned long>(-1)},
              Lookup{"maps\\", static_cast<unsigned long>(-1)}}) {
            std::string name = l.name;
            EXPECT_EQ(reader.GetIndex(name.data()), l.index) << l.name;
        }
        std::string name = "MAPS\\X.MAP";
        const unsigned char* data = reader.GetData(name.data());
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(Bytes(data, data + reader.GetFileSize(name.data())), map);
        name = "maps\\SUB\\y.bin";
        data = reader.GetData(name.data());
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(Bytes(data, data + sub.size()), sub);
    }
}

// ---- The corpus -----------------------------------------------------------------

// Both deliverables read "2.10" packs with the one directory walker: they
// open the same packs and count the same files.
TEST_F(ReaderInteropTest, TheLibraryAndTheLoaderAgreeOnEveryPackOfTheCorpus) {
    std::size_t both = 0, written = 0;
    for (const damaged::Case& c : damaged::Corpus()) {
        if (c.version == pack::PackVersion::Old)
            continue;  // the library reads old packs, the program converts them
        SCOPED_TRACE(c.what);
        std::string path = dir.Write("corpus" + std::to_string(++written) + ".vpf", c.bytes);
        PackReader reader;
        const bool read = reader.OpenPack(path.data());
        auto doc = MakeArchive();
        const bool loaded = doc->Open(path) == 1;
        ASSERT_EQ(read, loaded);
        if (read) {
            ++both;
            EXPECT_EQ(reader.GetNumFiles(), doc->FileCount());
        }
    }
    EXPECT_GT(both, 100u);
}

}  // namespace
}  // namespace crateforge::test
