// Handles share one PackIndex through assignment and copying; each index is
// released exactly once, by the last handle (the sanitizer build checks for
// double frees, use after free and leaks).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <type_traits>

#include "reader/PackIndex.h"
#include "tests/reader/ReaderFixtures.h"

namespace {

using namespace readertest;

static_assert(sizeof(PackReader) == sizeof(void*));
static_assert(std::is_copy_constructible_v<PackReader> && std::is_copy_assignable_v<PackReader>);

class ShareTest : public ReaderTest {
  protected:
    void SetUp() override {
        ReaderTest::SetUp();
        treePath_ = Write("tree.vpf", testpacks::BuildPack(SampleTree()));
        oldPath_ = Write("old.dat", testpacks::BuildOldPack(SampleOldEntries()));
    }
    std::string treePath_;
    std::string oldPath_;
};

TEST_F(ShareTest, AssignedHandlesDriveOneIndex) {
    PackReader a;
    ASSERT_TRUE(Open(a, treePath_));
    PackReader b;
    b = a;
    EXPECT_EQ(a.index, b.index);
    EXPECT_EQ(a.index->RefCount(), 2u);

    unsigned char* data = a.GetData(2ul);
    EXPECT_EQ(b.GetData(2ul), data);  // one set of loaded buffers
    a.PurgeFile(2);
    EXPECT_EQ(a.index->Entries()[2].data, nullptr);  // purged for both
    EXPECT_TRUE(Open(b, oldPath_));
    EXPECT_EQ(a.GetNumFiles(), 4u);
    EXPECT_STREQ(a.GetArchiveName(), oldPath_.c_str());
    a.ClosePack();
    EXPECT_EQ(b.GetNumFiles(), 0u);
}

TEST_F(ShareTest, CopyConstructionShares) {
    auto a = std::make_unique<PackReader>();
    ASSERT_TRUE(Open(*a, treePath_));
    PackReader copy(*a);
    PackReader assignedCopy = *a;
    EXPECT_EQ(copy.index, a->index);
    EXPECT_EQ(assignedCopy.index, a->index);
    EXPECT_EQ(a->index->RefCount(), 3u);
    a.reset();  // the first handle goes; the index stays for the others
    EXPECT_EQ(copy.index->RefCount(), 2u);
    EXPECT_EQ(copy.GetNumFiles(), SampleEntries().size());
    EXPECT_EQ(DataOf(copy, 1), SampleEntries()[1].content);
    EXPECT_EQ(assignedCopy.GetData(1ul), copy.GetData(1ul));
}

TEST_F(ShareTest, AssignmentDropsTheFormerIndexAndSelfAssignmentIsHarmless) {
    PackReader a;
    PackReader b;
    ASSERT_TRUE(Open(a, treePath_));
    ASSERT_TRUE(Open(b, oldPath_));
    ASSERT_NE(b.GetData(0ul), nullptr);
    PackReader keeper(b);  // holds b's former index
    EXPECT_EQ(keeper.index->RefCount(), 2u);

    b = a;
    EXPECT_EQ(keeper.index->RefCount(), 1u);
    EXPECT_EQ(a.index->RefCount(), 2u);
    EXPECT_EQ(keeper.GetNumFiles(), 4u);  // still whole and loaded
    EXPECT_EQ(DataOf(keeper, 0), testpacks::ToBytes("old stored"));

    PackReader& same = keeper;
    keeper = same;  // self-assignment
    b = a;          // already shared
    EXPECT_EQ(keeper.index->RefCount(), 1u);
    EXPECT_EQ(a.index->RefCount(), 2u);
    EXPECT_EQ(keeper.GetNumFiles(), 4u);

    keeper = PackReader();  // the former index of b is released here
    EXPECT_EQ(keeper.GetNumFiles(), 0u);
    EXPECT_EQ(keeper.index->RefCount(), 1u);
}

TEST_F(ShareTest, ManyHandlesReleasedInAnyOrder) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
        std::vector<std::unique_ptr<PackReader>> handles;
        handles.push_back(std::make_unique<PackReader>());
        ASSERT_TRUE(Open(*handles[0], treePath_));
        ASSERT_TRUE(handles[0]->LoadAll());
        for (int i = 1; i < 12; ++i) {
            if (i % 2)
                handles.push_back(std::make_unique<PackReader>(*handles[i - 1]));
            else {
                handles.push_back(std::make_unique<PackReader>());
                *handles.back() = *handles[i / 2];
            }
        }
        EXPECT_EQ(handles[0]->index->RefCount(), handles.size());
        std::mt19937 rng(seed);
        std::shuffle(handles.begin(), handles.end(), rng);
        while (handles.size() > 1) {
            handles.pop_back();
            EXPECT_EQ(handles[0]->index->RefCount(), handles.size());
            EXPECT_EQ(DataOf(*handles[0], 0), testpacks::ToBytes("Read me first.\n"));
        }
    }
}

}  // namespace
