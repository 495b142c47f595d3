// The list of one folder: rows, texts, ratios, sorting and navigation.
#include "tests/archive/ArchiveFixture.h"

namespace crateforge::test {
namespace {

class ListingTest : public ArchiveTest {
  protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    }
    PackEntry* Add(CPackFolder* folder, const char* name, std::uint32_t original,
                   std::uint32_t packed) {
        auto e = ClaimedEntry(name, original, packed);
        PackEntry* raw = e.get();
        EXPECT_EQ(archive->AddCodedEntry(e, folder, name, NameClash::Keep), AddOutcome::Added);
        return raw;
    }
    std::vector<std::string> Column(int column) const {
        std::vector<std::string> out;
        for (int r = 0; r < list.RowCount(); ++r)
            out.push_back(list.RowText(r, column));
        return out;
    }
};

TEST_F(ListingTest, RatioExamples) {
    struct Case {
        std::uint32_t original, packed;
        std::int64_t ratio;
    } cases[] = {
        {100, 33, 67}, {3, 1, 67}, {1000, 999, 1}, {100, 29, 72}, {200, 50, 75},
        {77, 77, 0},   {0, 0, 0},  {0, 20, 0},     {10, 11, -10}, {1, 0xFFFFFFFFu, -429496729400}};
    for (const Case& c : cases)
        EXPECT_EQ(CPackArchive::FileRatio(c.original, c.packed), c.ratio)
            << c.original << "/" << c.packed;
    EXPECT_EQ(CPackArchive::FolderRatio(100, 29), 72);
    EXPECT_EQ(CPackArchive::FolderRatio(0, 12), 0);
    // The folder total passes through float: 16777217 becomes 16777216.
    EXPECT_EQ(CPackArchive::FolderRatio(16777216, 16777217), 0);
    EXPECT_EQ(CPackArchive::FileRatio(16777216, 16777217), 0);  // 100.0000059...: 100 - 100
}

TEST_F(ListingTest, RowsOfRootAndSubfolder) {
    CPackFolder* root = archive->Root();
    CPackFolder* sub = archive->MakeFolder(root, "Sub").folder;
    archive->MakeFolder(root, "Stored");
    Add(sub, "x.gz", 200, 50);
    Add(root->SubfolderAt(1), "plain", 40, 40);
    PackEntry* big = Add(root, "big.iso", 3000000000u, 2500000000u);
    PackEntry* empty = Add(root, "lzrw-empty", 0, 4);
    archive->RefreshList();

    EXPECT_EQ(Column(0), (std::vector<std::string>{"Sub", "Stored", "big.iso", "lzrw-empty"}));
    EXPECT_EQ(Column(1), (std::vector<std::string>{"200", "40", "3000000000", "0"}));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"75%", "0%", "17%", "0%"}));
    EXPECT_EQ(Column(3), (std::vector<std::string>{"50", "40", "2500000000", "4"}));
    EXPECT_EQ(list.Key(0), RowKey::Folder(0));
    EXPECT_EQ(archive->FileAt(list.Key(0)), nullptr);
    EXPECT_EQ(archive->FileAt(list.Key(2)), big);
    EXPECT_EQ(archive->FileAt(list.Key(3)), empty);
    EXPECT_EQ(list.Rows()[0].icon, ScriptedIcons::kFolderIcon);
    EXPECT_EQ(list.Rows()[2].icon, icons.FileIconIndex("big.iso"));
    EXPECT_EQ(list.Rows()[3].icon, ScriptedIcons::kPlainFileIcon);

    archive->EnterFolder("SUB");
    EXPECT_EQ(archive->Current(), sub);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"..", "x.gz"}));
    EXPECT_EQ(Column(1), (std::vector<std::string>{"", "200"}));
    EXPECT_TRUE(list.Key(0).IsParent());
    EXPECT_EQ(archive->FileAt(list.Key(0)), nullptr);

    archive->GoUp();
    EXPECT_EQ(archive->Current(), root);
    archive->GoUp();  // at the root: nothing
    EXPECT_EQ(archive->Current(), root);
    archive->EnterFolder("nowhere");
    archive->EnterFolderAt(-1);
    archive->EnterFolderAt(2);
    EXPECT_EQ(archive->Current(), root);
    archive->EnterFolderAt(1);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"..", "plain"}));
}

TEST_F(ListingTest, SortingKeepsFoldersOnTopAndFlipsOnSecondClick) {
    CPackFolder* root = archive->Root();
    CPackFolder* child = archive->MakeFolder(root, "zeta").folder;
    archive->MakeFolder(root, "alpha");
    Add(root, "a.txt", 30, 10);
    Add(root, "B.txt", 3000000000u, 3000000000u);
    Add(root, "c.txt", 10, 9);
    Add(root, "D", 20, 1);
    archive->RefreshList();
    EXPECT_EQ(list.SortCount(), 0);

    archive->SortByColumn(1);
    EXPECT_EQ(archive->SortColumn(), 1);
    EXPECT_EQ(archive->SortDirection(), 1);
    EXPECT_EQ(Column(0),
              (std::vector<std::string>{"zeta", "alpha", "c.txt", "D", "a.txt", "B.txt"}));
    archive->SortByColumn(1);
    EXPECT_EQ(archive->SortDirection(), 2);
    EXPECT_EQ(Column(0),
              (std::vector<std::string>{"zeta", "alpha", "B.txt", "a.txt", "D", "c.txt"}));
    archive->SortByColumn(0);
    EXPECT_EQ(archive->SortDirection(), 1);
    EXPECT_EQ(Column(0),
              (std::vector<std::string>{"zeta", "alpha", "B.txt", "D", "a.txt", "c.txt"}));
    archive->SortByColumn(2);  // ratios 67, 0, 10, 95
    EXPECT_EQ(Column(0),
              (std::vector<std::string>{"zeta", "alpha", "B.txt", "c.txt", "a.txt", "D"}));
    archive->SortByColumn(3);
    archive->SortByColumn(3);  // packed, descending
    EXPECT_EQ(Column(0),
              (std::vector<std::string>{"zeta", "alpha", "B.txt", "a.txt", "c.txt", "D"}));

    // The sort state stays with the document as it moves between folders.
    Add(child, "k", 5, 5);
    Add(child, "j", 6, 6);
    archive->EnterFolder("zeta");
    EXPECT_EQ(Column(0), (std::vector<std::string>{"..", "j", "k"}));
}

TEST_F(ListingTest, ComparatorIsAStrictWeakOrdering) {
    PackEntry* a = Add(archive->Root(), "a", 1, 1);
    PackEntry* b = Add(archive->Root(), "b", 2, 1);
    for (int column = 0; column < 5; ++column) {
        for (int direction : {1, 2}) {
            archive->SetSortState(column, direction);
            EXPECT_EQ(archive->CompareRows(nullptr, nullptr), 0);
            EXPECT_LT(archive->CompareRows(nullptr, a), 0);
            EXPECT_GT(archive->CompareRows(a, nullptr), 0);
            EXPECT_EQ(archive->CompareRows(a, a), 0);
            EXPECT_EQ(archive->CompareRows(a, b), -archive->CompareRows(b, a));
        }
    }
    archive->SetSortState(1, 1);
    EXPECT_LT(archive->CompareRows(a, b), 0);
    archive->SetSortState(1, 0);  // any other direction sorts descending
    EXPECT_GT(archive->CompareRows(a, b), 0);
}

TEST_F(ListingTest, RemovingRowsTakesExactlyThoseEntriesInOnePass) {
    using testpacks::File;
    using testpacks::Folder;
    auto bytes = [](std::size_t n) { return Bytes(n, 'x'); };
    Folder root(
        "", {File("a", bytes(1)), File("B", bytes(1)), File("c", bytes(1)), File("D", bytes(1))},
        {Folder("keep", {File("k", bytes(5))}),
         Folder("gone", {File("g1", bytes(10))}, {Folder("deeper", {File("g2", bytes(20))})})});
    testpacks::WriteFile(PackPath(), testpacks::BuildPack(root));
    archive = MakeArchive();
    ASSERT_EQ(archive->Open(PackPath()), 1);
    ASSERT_EQ(archive->FileCount(), 7u);

    std::vector<RowKey> keys;
    for (int r = 0; r < list.RowCount(); ++r)
        if (list.RowText(r) == "gone" || list.RowText(r) == "B" || list.RowText(r) == "D")
            keys.push_back(list.Key(r));
    keys.push_back(RowKey::Parent());          // ".." removes nothing
    keys.push_back(RowKey::File(99));          // nor does a key the folder does not hold
    keys.push_back(RowKey::Folder(1));         // the same row twice: removed once
    EXPECT_EQ(archive->RemoveRows(keys), 4u);  // B, D, and g1, g2 inside "gone"
    EXPECT_EQ(archive->FileCount(), 3u);
    archive->RefreshList();
    EXPECT_EQ(Column(0), (std::vector<std::string>{"keep", "a", "c"}));
    const CPackFolder* now = archive->Root();
    EXPECT_EQ(now->TotalOriginalSize(), 5u + 1 + 1);
    EXPECT_EQ(now->TotalPackedSize(), 5u + 1 + 1);
    EXPECT_EQ(now->FileCount(), 2u);
    EXPECT_EQ(now->SubfolderCount(), 1u);
    EXPECT_EQ(archive->RemoveRows({}), 0u);
    // What is left is a pack that saves and loads again.
    ASSERT_EQ(archive->Save(), 1);
    archive = MakeArchive();
    ASSERT_EQ(archive->Open(PackPath()), 1);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"keep", "a", "c"}));
    EXPECT_EQ(archive->FileCount(), 3u);
}

TEST_F(ListingTest, NoListControlAndEmptyPack) {
    archive->RefreshList();
    EXPECT_EQ(list.RowCount(), 0);
    CPackArchive unlisted(&messages, nullptr, nullptr);
    ASSERT_EQ(unlisted.CreateNew(PackPath("other.vpf")), 1);
    unlisted.RefreshList();  // no list: nothing to do, no crash
    unlisted.SortByColumn(0);
    EXPECT_EQ(unlisted.SortColumn(), 0);
}

}  // namespace
}  // namespace crateforge::test
