// The PackReader interface's edge cases, one table: each row names the
// behaviour and checks it on a freshly opened sample pack.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "tests/reader/ReaderFixtures.h"

namespace {

using namespace readertest;

constexpr unsigned long kAllOnes = static_cast<unsigned long>(-1);

struct EdgeCase {
    const char* name;
    std::function<void(PackReader& reader, const std::string& path, testpacks::TempDir& dir)> check;
};

const EdgeCase kCases[] = {
    {"GetDataByNameAndByIndexReturnTheSameBuffer",
     [](PackReader& r, const std::string&, testpacks::TempDir&) {
         for (const Expected& e : SampleEntries()) {
             std::vector<char> name = Name(e.name);
             const unsigned long i = r.GetIndex(name.data());
             unsigned char* byName = r.GetData(name.data());
             EXPECT_NE(byName, nullptr) << e.name;
             EXPECT_EQ(byName, r.GetData(i)) << e.name;
         }
         EXPECT_EQ(r.GetIndex(Name("readme.txt").data()), 0u);  // index 0 too
     }},
    {"GetIndexIgnoresCaseAndFindsTheLowerIndexFirst",
     [](PackReader& r, const std::string&, testpacks::TempDir&) {
         EXPECT_EQ(r.GetIndex(Name("README.TXT").data()), 0u);
         EXPECT_EQ(r.GetIndex(Name("a\\d\\D1").data()), r.GetIndex(Name("A\\D\\d1").data()));
         const unsigned long lower = r.GetIndex(Name("case.txt").data());
         EXPECT_STREQ(r.GetName(lower), "Case.txt");
         EXPECT_EQ(r.GetIndex(Name("CASE.TXT").data()), lower);
         // Only ASCII letters fold; other bytes must match exactly.
         EXPECT_EQ(r.GetIndex(Name("A/D/d1").data()), kAllOnes);
         EXPECT_EQ(r.GetIndex(Name("readme.txt ").data()), kAllOnes);
         EXPECT_EQ(r.GetIndex(Name("readme.tx").data()), kAllOnes);
         EXPECT_EQ(r.GetIndex(Name("A").data()), kAllOnes);  // folders are no entries
     }},
    {"UnknownNameFindsNothingEverywhere",
     [](PackReader& r, const std::string&, testpacks::TempDir&) {
         std::vector<char> name = Name("no such file");
         EXPECT_EQ(r.LoadFile(name.data()), -1);
         EXPECT_EQ(r.GetIndex(name.data()), kAllOnes);
         EXPECT_EQ(r.GetFileSize(name.data()), 0u);
         EXPECT_EQ(r.GetFilePackedSize(name.data()), 0u);
         EXPECT_EQ(r.GetData(name.data()), nullptr);
         unsigned long size = 5;
         unsigned char buffer[4] = {9, 9, 9, 9};
         r.CopyData(name.data(), buffer, &size);
         EXPECT_EQ(size, 0u);
         EXPECT_EQ(buffer[0], 9);
     }},
    {"IndexAtTheCountIsInvalidEverywhere",
     [](PackReader& r, const std::string&, testpacks::TempDir&) {
         const unsigned long n = r.GetNumFiles();
         for (unsigned long bad : {n, n + 1, kAllOnes}) {
             EXPECT_FALSE(r.LoadFile(bad));
             EXPECT_EQ(r.GetName(bad), nullptr);
             EXPECT_EQ(r.GetData(bad), nullptr);
             EXPECT_EQ(r.GetFileSize(bad), 0u);
             EXPECT_EQ(r.GetFilePackedSize(bad), 0u);
             unsigned long size = 5;
             unsigned char buffer[4] = {9, 9, 9, 9};
             r.CopyData(bad, buffer, &size);
             EXPECT_EQ(size, 0u);
             EXPECT_EQ(buffer[3], 9);
             r.PurgeFile(bad);  // harmless
         }
     }},
    {"CopyDataWithoutBufferReportsTheSizeAndLoadsNothing",
     [](PackReader& r, const std::string& path, testpacks::TempDir&) {
         const unsigned long i = r.GetIndex(Name("Data.bin").data());
         unsigned long size = 0;
         r.CopyData(i, nullptr, &size);
         EXPECT_EQ(size, 5000u);
         // Nothing was loaded: with the file gone the entry cannot load now.
         std::remove(path.c_str());
         EXPECT_EQ(r.GetData(i), nullptr);
     }},
    {"CopyDataWithBufferLoadsAndLeavesLoaded",
     [](PackReader& r, const std::string& path, testpacks::TempDir&) {
         std::vector<char> name = Name("B\\b1");
         Bytes buffer(2500);
         unsigned long size = 0;
         r.CopyData(name.data(), buffer.data(), &size);
         EXPECT_EQ(size, 2500u);
         std::remove(path.c_str());
         unsigned char* data = r.GetData(name.data());
         ASSERT_NE(data, nullptr);
         EXPECT_EQ(Bytes(data, data + size), buffer);
     }},
    {"PurgedEntryLoadsAgainWithTheSameBytes",
     [](PackReader& r, const std::string&, testpacks::TempDir&) {
         for (unsigned long i = 0; i < r.GetNumFiles(); ++i) {
             const unsigned long size = r.GetFileSize(i);
             unsigned char* first = r.GetData(i);
             ASSERT_NE(first, nullptr);
             const Bytes before(first, first + size);
             r.PurgeFile(i);
             unsigned char* again = r.GetData(i);
             ASSERT_NE(again, nullptr);
             EXPECT_EQ(Bytes(again, again + size), before);
         }
         EXPECT_TRUE(r.LoadAll());
         r.PurgeAll();
         EXPECT_EQ(r.GetNumFiles(), SampleEntries().size());  // entries stay
         EXPECT_TRUE(r.LoadAll());
     }},
    {"ClosePackKeepsTheNameAndTheReaderOpensAnother",
     [](PackReader& r, const std::string& path, testpacks::TempDir& dir) {
         ASSERT_TRUE(r.LoadAll());
         r.ClosePack();
         EXPECT_EQ(r.GetNumFiles(), 0u);
         EXPECT_EQ(r.GetName(0), nullptr);
         EXPECT_EQ(r.GetIndex(Name("readme.txt").data()), kAllOnes);
         EXPECT_STREQ(r.GetArchiveName(), path.c_str());
         EXPECT_TRUE(r.LoadAll());
         std::string other = dir.Write("other.dat", testpacks::BuildOldPack(SampleOldEntries()));
         ASSERT_TRUE(r.OpenPack(other.data()));
         EXPECT_EQ(r.GetNumFiles(), 4u);
         EXPECT_STREQ(r.GetArchiveName(), other.c_str());
     }},
    {"ClosePackLeavesNoDescriptorOrFileOfThePackBehind",
     [](PackReader& r, const std::string& path, testpacks::TempDir& dir) {
         auto descriptors = [] {
             std::size_t n = 0;
             if (DIR* d = opendir("/proc/self/fd")) {
                 while (readdir(d))
                     ++n;
                 closedir(d);
             }
             return n;
         };
         auto files = [&] {
             std::size_t n = 0;
             if (DIR* d = opendir(dir.Path().c_str())) {
                 while (readdir(d))
                     ++n;
                 closedir(d);
             }
             return n;
         };
         // A first round, so that whatever a thread keeps between loads of
         // any pack is there before counting.
         ASSERT_TRUE(r.LoadAll());
         r.ClosePack();
         const std::size_t fds = descriptors(), names = files();
         for (int round = 0; round < 3; ++round) {
             std::string again = path;
             ASSERT_TRUE(r.OpenPack(again.data()));
             for (unsigned long i = 0; i < r.GetNumFiles(); ++i)
                 ASSERT_NE(r.GetName(i), nullptr);
             ASSERT_TRUE(r.LoadAll());
             r.ClosePack();
             EXPECT_EQ(descriptors(), fds) << round;
             EXPECT_EQ(files(), names) << round;
             EXPECT_EQ(r.GetNumFiles(), 0u);
         }
     }},
    {"OpenPackOverAnOpenPackClosesItFirst",
     [](PackReader& r, const std::string&, testpacks::TempDir& dir) {
         ASSERT_NE(r.GetData(0ul), nullptr);
         std::string other = dir.Write("other.dat", testpacks::BuildOldPack(SampleOldEntries()));
         ASSERT_TRUE(r.OpenPack(other.data()));
         EXPECT_EQ(r.GetNumFiles(), 4u);
         EXPECT_STREQ(r.GetName(0), "first.txt");
         EXPECT_EQ(r.GetIndex(Name("readme.txt").data()), kAllOnes);
     }},
    {"NotAPackOpensFalseWithNoEntriesAndKeepsThePath",
     [](PackReader& r, const std::string&, testpacks::TempDir& dir) {
         std::string text = dir.Write("text.txt", testpacks::ToBytes("just some text, no pack"));
         EXPECT_FALSE(r.OpenPack(text.data()));
         EXPECT_EQ(r.GetNumFiles(), 0u);
         EXPECT_STREQ(r.GetArchiveName(), text.c_str());
         std::string missing = dir.File("missing.vpf");
         EXPECT_FALSE(r.OpenPack(missing.data()));
         EXPECT_EQ(r.GetNumFiles(), 0u);
         EXPECT_STREQ(r.GetArchiveName(), missing.c_str());
     }},
    {"PathOf260CharactersIsRefusedAndKeepsTheOldName",
     [](PackReader& r, const std::string& path, testpacks::TempDir&) {
         std::string longest = path + std::string(259 - path.size(), 'x');
         std::string tooLong = longest + "y";
         ASSERT_EQ(tooLong.size(), 260u);
         EXPECT_FALSE(r.OpenPack(tooLong.data()));
         EXPECT_STREQ(r.GetArchiveName(), path.c_str());
         EXPECT_EQ(r.GetNumFiles(), 0u);
         EXPECT_FALSE(r.OpenPack(longest.data()));  // 259 is taken (the file is missing)
         EXPECT_STREQ(r.GetArchiveName(), longest.c_str());
     }},
    {"EmptyFilesLoadToANonNullEmptyBuffer",
     [](PackReader& r, const std::string&, testpacks::TempDir&) {
         for (const char* n : {"empty.txt", "empty.gz"}) {
             std::vector<char> name = Name(n);
             EXPECT_EQ(r.GetFileSize(name.data()), 0u);
             EXPECT_NE(r.GetIndex(name.data()), kAllOnes);
             EXPECT_GE(r.LoadFile(name.data()), 0);
             EXPECT_NE(r.GetData(name.data()), nullptr);
         }
     }},
    {"SizesComeFromTheIndex",
     [](PackReader& r, const std::string&, testpacks::TempDir&) {
         const std::vector<Expected> expected = SampleEntries();
         for (unsigned long i = 0; i < expected.size(); ++i) {
             const Expected& e = expected[i];
             const Bytes stored = testpacks::EncodeContent(e.content, e.method);
             EXPECT_EQ(r.GetFileSize(i), e.content.size()) << e.name;
             EXPECT_EQ(r.GetFilePackedSize(i), stored.size()) << e.name;
             // By name: the first case-blind match (Case.txt for CASE.TXT).
             std::vector<char> name = Name(e.name);
             const unsigned long first = r.GetIndex(name.data());
             EXPECT_LE(first, i);
             EXPECT_EQ(r.GetFileSize(name.data()), r.GetFileSize(first)) << e.name;
             EXPECT_EQ(r.GetFilePackedSize(name.data()), r.GetFilePackedSize(first)) << e.name;
         }
     }},
};

class EdgeTest : public ReaderTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(EdgeTest, Holds) {
    const std::string path = Write("edge.vpf", testpacks::BuildPack(SampleTree()));
    PackReader reader;
    ASSERT_TRUE(Open(reader, path));
    GetParam().check(reader, path, dir_);
}

INSTANTIATE_TEST_SUITE_P(PackReader, EdgeTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<EdgeCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(EdgeTestEmptyReader, NewReaderHasNothing) {
    PackReader r;
    EXPECT_EQ(r.GetNumFiles(), 0u);
    EXPECT_STREQ(r.GetArchiveName(), "");
    EXPECT_EQ(r.GetName(0), nullptr);
    EXPECT_EQ(r.GetData(0ul), nullptr);
    EXPECT_FALSE(r.LoadFile(0ul));
    EXPECT_TRUE(r.LoadAll());
    std::vector<char> name = Name("x");
    EXPECT_EQ(r.GetIndex(name.data()), kAllOnes);
    unsigned long size = 3;
    r.CopyData(name.data(), nullptr, &size);
    EXPECT_EQ(size, 0u);
    r.PurgeAll();
    r.ClosePack();
}

}  // namespace
