// The folder tree as the archive's edits change it: case-blind lookups,
// order and totals through every ancestor, and every limit of a pack
// enforced the same way by every edit.
#include <gtest/gtest.h>

#include <functional>

#include "archive/PackFolder.h"
#include "tests/archive/ArchiveFixture.h"

namespace crateforge::test {
namespace {

class FolderTreeTest : public ArchiveTest {
  protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    }
    CPackFolder* Make(CPackFolder* parent, std::string_view name) {
        const EditResult made = archive->MakeFolder(parent, name);
        EXPECT_TRUE(made.Done()) << name << ": " << made.Reason();
        return made.folder;
    }
    PackEntry* Put(CPackFolder* folder, std::string_view name, std::uint32_t original,
                   std::uint32_t packed) {
        auto entry = ClaimedEntry(name, original, packed);
        PackEntry* raw = entry.get();
        EXPECT_EQ(archive->AddCodedEntry(entry, folder, std::string(name), NameClash::Keep),
                  AddOutcome::Added)
            << name;
        return raw;
    }
};

TEST_F(FolderTreeTest, LookupsIgnoreAsciiCaseOnly) {
    CPackFolder* root = archive->Root();
    Put(root, "readme.txt", 1, 1);
    Make(root, "old.stuff");
    EXPECT_EQ(root->FindFile("README.TXT"), 0);
    EXPECT_EQ(root->FindFile("readme.tx"), -1);
    EXPECT_EQ(root->FindSubfolder("OLD.STUFF"), 0);
    EXPECT_EQ(root->FindSubfolder("old"), -1);
    // A file and a folder may share a name; lookups are per kind.
    EXPECT_EQ(root->FindFile("old.stuff"), -1);
    EXPECT_TRUE(archive->MakeFolder(root, "readme.txt").Done());
    // Bytes outside A-Z must match exactly.
    Put(root, "\xC4pfel", 1, 1);
    EXPECT_EQ(root->FindFile("\xE4pfel"), -1);
    EXPECT_EQ(root->FindFile("\xC4PFEL"), 1);
}

// Removing, replacing and moving keep the order of what stays and move the
// totals of every ancestor by exactly what changed.
TEST_F(FolderTreeTest, EditsKeepOrderAndTotals) {
    CPackFolder* root = archive->Root();
    Put(root, "keep", 1000, 100);
    CPackFolder* a = Make(root, "A");
    CPackFolder* b = Make(a, "B");
    Put(b, "one", 10, 5);
    Put(b, "two", 20, 7);
    Put(b, "three", 30, 9);
    CPackFolder* n = Make(b, "N");
    Put(n, "g", 7, 3);
    Make(a, "After");
    EXPECT_EQ(root->TotalOriginalSize(), 1067u);
    EXPECT_EQ(a->TotalPackedSize(), 24u);

    EXPECT_EQ(archive->Remove(b, "ONE", false).filesRemoved, 1u);
    ASSERT_EQ(b->FileCount(), 2u);
    EXPECT_EQ(b->FileName(0), "two");
    EXPECT_EQ(b->FileName(1), "three");
    EXPECT_EQ(root->TotalOriginalSize(), 1057u);
    EXPECT_EQ(root->TotalPackedSize(), 119u);

    // Replacing moves the totals by the difference only, in place.
    auto bigger = ClaimedEntry("three", 100, 1);
    EXPECT_EQ(archive->AddCodedEntry(bigger, b, "three", NameClash::Replace), AddOutcome::Replaced);
    EXPECT_EQ(b->FileOriginalSize(1), 100u);
    EXPECT_EQ(a->TotalPackedSize(), 11u);

    // A folder moved takes its totals from one line of ancestors to the other.
    EXPECT_TRUE(archive->Move(b, "N", true, root, "M").Done());
    EXPECT_EQ(a->TotalOriginalSize(), 120u);
    EXPECT_EQ(root->SubfolderName(1), "M");
    EXPECT_EQ(root->SubfolderAt(1)->Parent(), root);
    EXPECT_EQ(root->SubfolderAt(1)->TotalOriginalSize(), 7u);
    EXPECT_EQ(root->TotalOriginalSize(), 1127u);
    EXPECT_TRUE(archive->Move(a, "b", true, a, "b2").Done());
    EXPECT_EQ(a->SubfolderName(0), "b2");
    EXPECT_EQ(a->SubfolderName(1), "After");

    const EditResult gone = archive->Remove(root, "a", true);
    EXPECT_EQ(gone.filesRemoved, 2u);
    EXPECT_EQ(archive->FileCount(), 2u);
    EXPECT_EQ(root->SubfolderCount(), 1u);
    EXPECT_EQ(root->TotalOriginalSize(), 1007u);
    EXPECT_EQ(archive->Remove(root, "a", true).outcome, EditOutcome::NotFound);
}

// Every limit, checked by every edit that could pass it. Each case sets up a
// tree, tries one edit, and expects one outcome; a refused edit leaves the
// tree as it was (file count, folder count, pack size).
TEST_F(FolderTreeTest, EveryEditEnforcesEveryLimit) {
    using Edit = std::function<EditOutcome(CPackArchive&, CPackFolder*)>;
    const std::string n259(259, 'n'), n260(260, 'n');
    // The file added for an edit that adds one: its outcome told as an edit's.
    const auto addFile = [](std::string name, std::uint32_t packed = 1) -> Edit {
        return [name, packed](CPackArchive& a, CPackFolder* at) {
            auto entry = ClaimedEntry("x", 1, packed);
            entry->name = name;  // the field would refuse some of these
            switch (a.AddCodedEntry(entry, at, name, NameClash::Keep)) {
                case AddOutcome::Added:
                case AddOutcome::Replaced:
                    return EditOutcome::Done;
                case AddOutcome::NameTaken:
                    return EditOutcome::NameTaken;
                case AddOutcome::Refused:
                    break;
            }
            return a.CheckPlace(at, Placement{name, false, true, -1, packed});
        };
    };
    const auto makeFolder = [](std::string name) -> Edit {
        return [name](CPackArchive& a, CPackFolder* at) { return a.MakeFolder(at, name).outcome; };
    };
    // "f" (a file) or "s" (a folder holding "ab" and "in") of the root, renamed in
    // its place or moved into `at`.
    const auto rename = [](bool folder, std::string name) -> Edit {
        return [folder, name](CPackArchive& a, CPackFolder*) {
            return a.Rename(a.Root(), folder ? "s" : "f", folder, name).outcome;
        };
    };
    const auto move = [](bool folder, std::string name) -> Edit {
        return [folder, name](CPackArchive& a, CPackFolder* at) {
            return a.Move(a.Root(), folder ? "s" : "f", folder, at, name).outcome;
        };
    };
    // Where the edit happens.
    enum Where { Root, Deep510, Deep511, Deep512, LongPath, Sub };
    struct Case {
        const char* what;
        Where where;
        Edit edit;
        EditOutcome expected;
    };
    // LongPath is 15 folders of 259 bytes: a full name of 3,899 bytes, so a
    // name of 195 bytes inside it reaches 4,095 exactly.
    const std::string fits(195, 'y'), over(196, 'y');
    const std::vector<Case> cases = {
        // Names the 260-byte field or a pack cannot hold.
        {"add 259", Root, addFile(n259), EditOutcome::Done},
        {"add 260", Root, addFile(n260), EditOutcome::NameTooLong},
        {"make 260", Root, makeFolder(n260), EditOutcome::NameTooLong},
        {"rename file 260", Root, rename(false, n260), EditOutcome::NameTooLong},
        {"rename folder 260", Root, rename(true, n260), EditOutcome::NameTooLong},
        {"move file 260", Sub, move(false, n260), EditOutcome::NameTooLong},
        {"add a/b", Root, addFile("a/b"), EditOutcome::UnusableName},
        {"make ..", Root, makeFolder(".."), EditOutcome::UnusableName},
        {"rename folder a\\b", Root, rename(true, "a\\b"), EditOutcome::UnusableName},
        {"move folder empty", Sub, move(true, ""), EditOutcome::UnusableName},
        // Depth: 512 levels below the root at most, what a folder holds included.
        {"make at 511", Deep511, makeFolder("x"), EditOutcome::Done},
        {"make at 512", Deep512, makeFolder("x"), EditOutcome::TooDeep},
        {"move folder holding one to 510", Deep510, move(true, "x"), EditOutcome::Done},
        {"move folder holding one to 511", Deep511, move(true, "x"), EditOutcome::TooDeep},
        {"move file to 512", Deep512, move(false, "x"), EditOutcome::Done},
        {"add file at 512", Deep512, addFile("x"), EditOutcome::Done},
        // Full names of 4,095 bytes at most, those inside a moved folder included.
        {"add 4095", LongPath, addFile(fits), EditOutcome::Done},
        {"add 4096", LongPath, addFile(over), EditOutcome::FullNameTooLong},
        {"make 4095", LongPath, makeFolder(fits), EditOutcome::Done},
        {"make 4096", LongPath, makeFolder(over), EditOutcome::FullNameTooLong},
        {"move file 4096", LongPath, move(false, over), EditOutcome::FullNameTooLong},
        {"move file 4095", LongPath, move(false, fits), EditOutcome::Done},
        {"move folder, inside 4096", LongPath, move(true, std::string(193, 'y')),
         EditOutcome::FullNameTooLong},
        {"move folder, inside 4095", LongPath, move(true, std::string(192, 'y')),
         EditOutcome::Done},
        // Names equal but for letter case, per kind.
        {"add F", Root, addFile("F"), EditOutcome::NameTaken},
        {"make S", Root, makeFolder("S"), EditOutcome::NameTaken},
        {"make f (a file's name)", Root, makeFolder("f"), EditOutcome::Done},
        {"rename file to G", Root, rename(false, "G"), EditOutcome::NameTaken},
        {"rename file to F", Root, rename(false, "F"), EditOutcome::Done},
        {"rename folder to T", Root, rename(true, "T"), EditOutcome::NameTaken},
        {"move file to Sub as TAKEN", Sub, move(false, "TAKEN"), EditOutcome::NameTaken},
        {"move folder to Sub as INNER", Sub, move(true, "INNER"), EditOutcome::NameTaken},
        {"move folder to Sub", Sub, move(true, "x"), EditOutcome::Done},
        // 4 GiB: what adds bytes is weighed; what only moves them is not.
        {"add 4 GiB file", Root, addFile("big", 0xFFFFFFFFu), EditOutcome::PackTooLarge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        archive = MakeArchive();
        ASSERT_EQ(archive->CreateNew(PackPath()), 1);
        CPackFolder* root = archive->Root();
        Put(root, "f", 3, 3);
        Put(root, "g", 3, 3);
        CPackFolder* s = Make(root, "s");
        Put(s, "ab", 1, 1);
        Make(s, "in");
        Make(root, "t");
        CPackFolder* sub = Make(root, "sub");
        Put(sub, "taken", 1, 1);
        Make(sub, "inner");
        CPackFolder* at = root;
        if (c.where == Sub)
            at = sub;
        if (c.where == Deep510 || c.where == Deep511 || c.where == Deep512) {
            for (int i = 0; i < 510 + (c.where - Deep510); ++i)
                at = Make(at, "d");
        }
        if (c.where == LongPath) {
            for (int i = 0; i < 15; ++i)
                at = Make(at, std::string(259, static_cast<char>('a' + i)));
            ASSERT_EQ(at->FullNameLength(), 3899u);
        }
        const std::uint32_t files = archive->FileCount();
        const std::uint64_t folders = root->FolderCountInSubtree();
        const std::uint64_t size = archive->PackSize();
        messages.Clear();
        EXPECT_EQ(c.edit(*archive, at), c.expected);
        if (c.expected != EditOutcome::Done) {
            EXPECT_EQ(archive->FileCount(), files);
            EXPECT_EQ(root->FolderCountInSubtree(), folders);
            EXPECT_EQ(archive->PackSize(), size);
        }
    }
}

// The edits nothing else checks: a folder never goes into itself, a pack
// near 4 GiB takes no new folder or file but still takes renames and moves,
// and nothing changes while no pack is open.
TEST_F(FolderTreeTest, MovesIntoItselfAndPastFourGibibytesAreRefused) {
    CPackFolder* root = archive->Root();
    CPackFolder* s = Make(root, "s");
    CPackFolder* inner = Make(s, "inner");
    EXPECT_EQ(archive->Move(root, "s", true, s, "x").outcome, EditOutcome::IntoItself);
    EXPECT_EQ(archive->Move(root, "s", true, inner, "x").outcome, EditOutcome::IntoItself);
    EXPECT_EQ(root->SubfolderName(0), "s");

    Put(root, "filler", 0xFFFF0000u, 0xFFFF0000u);
    const std::uint64_t room = pack::kMaxPackSize - archive->PackSize();
    EXPECT_EQ(archive->CheckPlace(
                  root, Placement{"f", false, true, -1,
                                  room - pack::kFileRecordSize - pack::kDataBlockHeaderSize}),
              EditOutcome::Done);
    EXPECT_EQ(archive->CheckPlace(
                  root, Placement{"f", false, true, -1,
                                  room - pack::kFileRecordSize - pack::kDataBlockHeaderSize + 1}),
              EditOutcome::PackTooLarge);
    Put(root, "pad", 1,
        room - pack::kFileRecordSize - pack::kDataBlockHeaderSize - pack::kFolderRecordSize -
            pack::kFolderBlockHeaderSize - pack::kFileRecordSize - pack::kDataBlockHeaderSize);
    EXPECT_EQ(archive->MakeFolder(inner, "one more").outcome, EditOutcome::Done);
    EXPECT_EQ(archive->MakeFolder(inner, "two more").outcome, EditOutcome::PackTooLarge);
    EXPECT_TRUE(archive->Rename(root, "pad", false, "PAD").Done());
    EXPECT_TRUE(archive->Move(root, "PAD", false, inner, "pad").Done());
    EXPECT_EQ(archive->PackSize(),
              pack::kMaxPackSize - pack::kFileRecordSize - pack::kDataBlockHeaderSize);

    CPackArchive closed(&messages, nullptr, nullptr);
    EXPECT_EQ(closed.MakeFolder(closed.Root(), "x").outcome, EditOutcome::NotOpen);
    EXPECT_EQ(closed.Remove(closed.Root(), "x", false).outcome, EditOutcome::NotOpen);
}

}  // namespace
}  // namespace crateforge::test
