// Reading the directory of both pack versions into the flat, full-path list.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "reader/PackIndex.h"
#include "tests/reader/ReaderFixtures.h"

namespace {

using namespace readertest;

class IndexTest : public ReaderTest {};

TEST_F(IndexTest, TreePackListsFullPathsInPreOrderWithSizesAndMethods) {
    const Bytes bytes = testpacks::BuildPack(SampleTree());
    const std::string path = Write("sample.vpf", bytes);
    tovelink::PackIndex index;
    ASSERT_TRUE(index.OpenPack(path.c_str())) << index.LastError();

    const std::vector<Expected> expected = SampleEntries();
    ASSERT_EQ(index.GetNumFiles(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        const tovelink::PackEntry& e = index.Entries()[i];
        EXPECT_EQ(e.name, nullptr);  // full names are built when asked for
        EXPECT_EQ(index.FullName(i), expected[i].name);
        EXPECT_STREQ(index.GetName(i), expected[i].name.c_str());
        EXPECT_EQ(e.name.get(), index.GetName(i));  // and then kept
        EXPECT_EQ(e.originalSize, expected[i].content.size());
        EXPECT_EQ(e.method, static_cast<std::uint32_t>(expected[i].method));
        EXPECT_EQ(e.data, nullptr);  // opening reads no data
        // The stored bytes follow the 9-byte block header.
        const Bytes stored = testpacks::EncodeContent(expected[i].content, expected[i].method);
        ASSERT_LE(std::size_t{e.dataOffset} + e.packedSize, bytes.size());
        EXPECT_EQ(Bytes(bytes.begin() + e.dataOffset, bytes.begin() + e.dataOffset + e.packedSize),
                  stored);
        EXPECT_EQ(PackMethod(bytes[e.dataOffset - 1]), expected[i].method);
    }
    EXPECT_STREQ(index.GetArchiveName(), path.c_str());
}

TEST_F(IndexTest, FullNamesLongerThanOneFieldKeepTheirLength) {
    const std::string path = Write("deep.vpf", testpacks::BuildPack(SampleTree()));
    PackReader reader;
    ASSERT_TRUE(Open(reader, path));
    const unsigned long last = reader.GetNumFiles() - 1;
    ASSERT_EQ(std::strlen(reader.GetName(last)), 403u);
    EXPECT_EQ(reader.GetName(last), DeepName());
    EXPECT_EQ(reader.GetIndex(Name(DeepName()).data()), last);
    EXPECT_EQ(DataOf(reader, last), testpacks::ToBytes("deep"));
}

TEST_F(IndexTest, EmptyPacksOfBothVersionsOpenWithNoEntries) {
    const Bytes empty = testpacks::BuildPack(Folder());
    ASSERT_EQ(empty.size(), pack::kEmptyPackSize);
    for (const Bytes& bytes : {empty, testpacks::BuildOldPack({})}) {
        PackReader reader;
        ASSERT_TRUE(Open(reader, Write("empty.pack", bytes)));
        EXPECT_EQ(reader.GetNumFiles(), 0u);
        EXPECT_EQ(reader.GetName(0), nullptr);
        EXPECT_TRUE(reader.LoadAll());
    }
}

TEST_F(IndexTest, FoldersWithoutFilesAddNoEntries) {
    Folder root;
    root.folders = {Folder("empty1"), Folder("holder", {}, {Folder("empty2")}),
                    Folder("last", {File("only.txt", testpacks::ToBytes("x"))})};
    PackReader reader;
    ASSERT_TRUE(Open(reader, Write("folders.vpf", testpacks::BuildPack(root))));
    ASSERT_EQ(reader.GetNumFiles(), 1u);
    EXPECT_STREQ(reader.GetName(0), "last\\only.txt");
}

TEST_F(IndexTest, OldPackTakesEntriesInTableOrderAndLeavesCode23Out) {
    testpacks::OldPackLayout layout;
    const std::vector<testpacks::OldEntry> entries = SampleOldEntries();
    const Bytes bytes = testpacks::BuildOldPack(entries, &layout);
    tovelink::PackIndex index;
    ASSERT_TRUE(index.OpenPack(Write("old.dat", bytes).c_str())) << index.LastError();

    struct Row {
        std::size_t source;  // entry in SampleOldEntries
        PackMethod method;
    };
    const Row rows[] = {{0, PackMethod::Stored},
                        {1, PackMethod::Lzrw3a},   // flags 0x11
                        {3, PackMethod::Lzrw3a},   // flags 0x21
                        {4, PackMethod::Stored}};  // flags 0x10
    ASSERT_EQ(index.GetNumFiles(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const testpacks::OldEntry& src = entries[rows[i].source];
        const tovelink::PackEntry& e = index.Entries()[i];
        SCOPED_TRACE(src.name);
        EXPECT_STREQ(index.GetName(i), src.name.c_str());
        EXPECT_EQ(e.method, static_cast<std::uint32_t>(rows[i].method));
        EXPECT_EQ(e.originalSize, src.content.size());
        EXPECT_EQ(e.dataOffset, layout.entryOffsets[rows[i].source] + pack::kOldEntryRecordSize);
        ASSERT_TRUE(index.LoadFile(i)) << index.LastError();
        EXPECT_EQ(Bytes(e.data.get(), e.data.get() + e.originalSize), src.content);
    }
    EXPECT_EQ(std::strlen(index.GetName(2)), 48u);  // a name filling its field
    EXPECT_EQ(index.GetIndex("skipped.txt"), tovelink::PackIndex::kNotFound);
}

TEST_F(IndexTest, VersionDecidesWhichReadingApplies) {
    // The version tag alone picks the reading; a layout that does not fit
    // it is refused, any other version is no pack.
    const Bytes tree = testpacks::BuildPack(SampleTree());
    const Bytes old = testpacks::BuildOldPack(SampleOldEntries());
    struct Case {
        const char* what;
        Bytes bytes;
        bool opens;
        unsigned long files;
    };
    auto retag = [](Bytes b, const char* version) {
        std::memcpy(b.data() + 4, version, 4);
        return b;
    };
    auto remagic = [](Bytes b) {
        b[0] = 'v';
        return b;
    };
    const Case cases[] = {
        {"2.10 pack", tree, true, 11},
        {"1.03 pack", old, true, 4},
        // Its zero reserved bytes read as an old file count of 0.
        {"2.10 pack tagged 1.03", retag(tree, "1.03"), true, 0},
        {"1.03 pack tagged 2.10", retag(old, "2.10"), false, 0},
        {"version 2.11", retag(tree, "2.11"), false, 0},
        {"version 1.02", retag(old, "1.02"), false, 0},
        {"lower-case magic", remagic(tree), false, 0},
        {"empty file", {}, false, 0},
        {"bare magic and version", Bytes(tree.begin(), tree.begin() + 8), false, 0},
        {"header without root block", Bytes(tree.begin(), tree.begin() + 20), false, 0},
        {"old header cut short", Bytes(old.begin(), old.begin() + 11), false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PackReader reader;
        EXPECT_EQ(Open(reader, Write("v.pack", c.bytes)), c.opens);
        EXPECT_EQ(reader.GetNumFiles(), c.files);
    }
}

TEST_F(IndexTest, DeepLongNamesAsTheBuilderWritesThemOpen) {
    // Ten nested folders with 250-byte names and 2,000 files at the bottom:
    // full names of over 2,500 bytes, far more name bytes than pack bytes
    // per entry; a sound pack that must open whole.
    Folder bottom(std::string(250, 'j'));
    for (int i = 0; i < 2000; ++i)
        bottom.files.push_back(
            File("file_" + std::to_string(i) + ".txt", testpacks::ToBytes(std::to_string(i))));
    Folder tree = bottom;
    std::string prefix;
    for (int level = 8; level >= 0; --level) {
        Folder parent(std::string(250, static_cast<char>('a' + level)));
        parent.folders.push_back(std::move(tree));
        tree = std::move(parent);
    }
    Folder root;
    root.folders.push_back(std::move(tree));
    for (int level = 0; level < 10; ++level)
        prefix += std::string(250, static_cast<char>('a' + level)) + "\\";

    PackReader reader;
    ASSERT_TRUE(Open(reader, Write("deep-long.vpf", testpacks::BuildPack(root))));
    ASSERT_EQ(reader.GetNumFiles(), 2000u);
    for (unsigned long i : {0ul, 1ul, 999ul, 1999ul}) {
        const std::string name = prefix + "file_" + std::to_string(i) + ".txt";
        EXPECT_EQ(reader.GetName(i), name);
        EXPECT_EQ(reader.GetIndex(Name(name).data()), i);
        EXPECT_EQ(DataOf(reader, i), testpacks::ToBytes(std::to_string(i)));
    }
}

TEST_F(IndexTest, FifoGivenAsThePackIsRefusedAtOnce) {
    // Opening a FIFO for reading waits for a writer unless done without
    // blocking; the open runs in a child so that a hang fails the test
    // instead of stopping it.
    const std::string fifo = dir_.File("pipe.vpf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        tovelink::PackIndex index;
        const bool opened = index.OpenPack(fifo.c_str());
        const bool said = index.LastError().find("not a regular file") != std::string::npos;
        _exit(!opened && said && index.GetNumFiles() == 0 ? 0 : 1);
    }
    int status = 0;
    pid_t done = 0;
    for (int waited = 0; waited < 500 && done == 0; ++waited) {
        done = waitpid(pid, &status, WNOHANG);
        if (done == 0)
            usleep(10000);
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "OpenPack of a FIFO did not return within 5 s";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "refused without the reason, or opened";
}

TEST_F(IndexTest, MissingFileOrFolderIsNoPack) {
    tovelink::PackIndex index;
    EXPECT_FALSE(index.OpenPack(dir_.File("missing.vpf").c_str()));
    EXPECT_NE(index.LastError().find("cannot open"), std::string::npos) << index.LastError();
    EXPECT_FALSE(index.OpenPack(dir_.Path().c_str()));
    EXPECT_EQ(index.GetNumFiles(), 0u);
}

}  // namespace
