// The folder tree: case-blind lookups, order, totals through every ancestor.
#include <gtest/gtest.h>

#include "archive/PackFolder.h"

namespace crateforge {
namespace {

std::unique_ptr<PackEntry> Entry(const char* name, std::uint32_t original, std::uint32_t packed) {
    auto e = std::make_unique<PackEntry>();
    e->SetName(name);
    e->originalSize = original;
    e->packedSize = packed;
    return e;
}

TEST(FolderTree, LookupsIgnoreAsciiCaseOnly) {
    CPackFolder root;
    root.AppendFile(Entry("readme.txt", 1, 1));
    root.AppendSubfolder("old.stuff");
    EXPECT_EQ(root.FindFile("README.TXT"), 0);
    EXPECT_EQ(root.FindFile("readme.tx"), -1);
    EXPECT_EQ(root.FindSubfolder("OLD.STUFF"), 0);
    EXPECT_EQ(root.FindSubfolder("old"), -1);
    // A file and a folder may share a name; lookups are per kind.
    EXPECT_EQ(root.FindFile("old.stuff"), -1);
    // Bytes outside A-Z must match exactly.
    root.AppendFile(Entry("\xC4pfel", 1, 1));
    EXPECT_EQ(root.FindFile("\xE4pfel"), -1);
    EXPECT_EQ(root.FindFile("\xC4PFEL"), 1);
}

TEST(FolderTree, EraseKeepsOrderAndTotals) {
    CPackFolder root;
    CPackFolder* a = root.AppendSubfolder("A");
    CPackFolder* b = a->AppendSubfolder("B");
    b->AppendFile(Entry("one", 10, 5));
    b->AppendFile(Entry("two", 20, 7));
    b->AppendFile(Entry("three", 30, 9));
    EXPECT_EQ(root.totalOriginalSize, 60u);
    EXPECT_EQ(a->TotalPackedSize(), 21u);

    b->EraseFileAt(0);
    ASSERT_EQ(b->FileCount(), 2u);
    EXPECT_EQ(b->FileAt(0)->Name(), "two");
    EXPECT_EQ(b->FileAt(1)->Name(), "three");
    EXPECT_EQ(root.totalOriginalSize, 50u);
    EXPECT_EQ(root.totalPackedSize, 16u);

    // Replacing moves every ancestor's totals by the difference only.
    b->ReplaceFileAt(1, Entry("three", 100, 1));
    EXPECT_EQ(b->FileCount(), 2u);
    EXPECT_EQ(b->FileAt(1)->originalSize, 100u);
    EXPECT_EQ(root.totalOriginalSize, 120u);
    EXPECT_EQ(a->TotalPackedSize(), 8u);
}

TEST(FolderTree, EraseSubfolderCountsEveryFileBelow) {
    CPackFolder root;
    root.AppendFile(Entry("keep", 1000, 100));
    CPackFolder* x = root.AppendSubfolder("X");
    CPackFolder* k = x->AppendSubfolder("K");
    for (int i = 0; i < 3; ++i)
        k->AppendFile(Entry(("f" + std::to_string(i)).c_str(), 10, 2));
    CPackFolder* n = k->AppendSubfolder("N");
    n->AppendFile(Entry("g0", 7, 3));
    n->AppendFile(Entry("g1", 7, 3));
    x->AppendSubfolder("After");
    EXPECT_EQ(root.totalOriginalSize, 1044u);

    EXPECT_EQ(x->EraseSubfolderAt(0), 5u);
    EXPECT_EQ(x->SubfolderCount(), 1u);
    EXPECT_EQ(x->SubfolderName(0), "After");
    EXPECT_EQ(x->TotalOriginalSize(), 0u);
    EXPECT_EQ(root.totalOriginalSize, 1000u);
    EXPECT_EQ(root.totalPackedSize, 100u);
}

TEST(FolderTree, AppendSubfolderRefusesNamesTheFieldCannotHold) {
    CPackFolder root;
    EXPECT_NE(root.AppendSubfolder(std::string(259, 'n')), nullptr);
    EXPECT_EQ(root.AppendSubfolder(std::string(260, 'n')), nullptr);
    EXPECT_EQ(root.subfolderCount, 1u);
    EXPECT_EQ(root.subfolders.size(), root.subfolderNames.size());
    EXPECT_EQ(root.subfolderNames[0]->blockOffset, 0u);
}

TEST(FolderTree, DeepTreesAreReleasedWithoutDeepRecursion) {
    auto root = std::make_unique<CPackFolder>();
    CPackFolder* f = root.get();
    for (int i = 0; i < 200000; ++i)
        f = f->AppendSubfolder("d");
    EXPECT_EQ(f->Depth(), 200000);
    root.reset();  // must not overflow the stack
}

}  // namespace
}  // namespace crateforge
