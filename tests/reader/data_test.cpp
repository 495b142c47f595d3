// Loading, decoding, copying and purging entries through PackReader, and
// loads that must fail: damaged entries and a pack file that changed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "reader/PackIndex.h"
#include "tests/reader/ReaderFixtures.h"

namespace {

using namespace readertest;

class DataTest : public ReaderTest {};

TEST_F(DataTest, EveryMethodDecodesToTheOriginalBytesInBothVersions) {
    PackReader tree;
    ASSERT_TRUE(Open(tree, Write("sample.vpf", testpacks::BuildPack(SampleTree()))));
    const std::vector<Expected> expected = SampleEntries();
    ASSERT_EQ(tree.GetNumFiles(), expected.size());
    for (unsigned long i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(DataOf(tree, i), expected[i].content);
        EXPECT_NE(tree.GetData(i), nullptr);  // also for empty files
    }

    PackReader old;
    ASSERT_TRUE(Open(old, Write("sample.dat", testpacks::BuildOldPack(SampleOldEntries()))));
    const std::vector<testpacks::OldEntry> src = SampleOldEntries();
    const std::size_t taken[] = {0, 1, 3, 4};
    ASSERT_EQ(old.GetNumFiles(), std::size(taken));
    for (unsigned long i = 0; i < old.GetNumFiles(); ++i) {
        SCOPED_TRACE(src[taken[i]].name);
        Bytes copy(src[taken[i]].content.size() + 1, 0xEE);
        unsigned long size = 12345;
        old.CopyData(i, copy.data(), &size);
        ASSERT_EQ(size, src[taken[i]].content.size());
        EXPECT_EQ(Bytes(copy.begin(), copy.begin() + size), src[taken[i]].content);
        EXPECT_EQ(copy.back(), 0xEE);  // nothing past the size
    }
}

TEST_F(DataTest, LoadedDataSurvivesTheFileUntilPurged) {
    const std::string path = Write("gone.vpf", testpacks::BuildPack(SampleTree()));
    PackReader reader;
    ASSERT_TRUE(Open(reader, path));
    ASSERT_TRUE(reader.LoadFile(1ul));
    unsigned char* before = reader.GetData(1ul);
    ASSERT_NE(before, nullptr);
    ASSERT_EQ(std::remove(path.c_str()), 0);

    // A loaded entry is not read again; an unloaded one cannot be read now.
    EXPECT_TRUE(reader.LoadFile(1ul));
    EXPECT_EQ(reader.GetData(1ul), before);
    EXPECT_FALSE(reader.LoadFile(0ul));
    EXPECT_EQ(reader.GetData(0ul), nullptr);
    reader.PurgeFile(1);
    EXPECT_FALSE(reader.LoadFile(1ul));
    EXPECT_EQ(reader.GetData(1ul), nullptr);
    unsigned long size = 99;
    unsigned char buffer[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    reader.CopyData(0ul, buffer, &size);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_FALSE(reader.LoadAll());
}

TEST_F(DataTest, APackFileChangedSinceOpeningIsNotReadFrom) {
    const Bytes original = testpacks::BuildPack(SampleTree());
    Folder other;
    other.files = {File("readme.txt", testpacks::ToBytes("another pack entirely"))};
    const Bytes replacement = testpacks::BuildPack(other);

    struct Case {
        const char* what;
        void (*change)(const std::string& path, const Bytes& original, const Bytes& replacement);
    };
    const Case cases[] = {
        {"removed",
         [](const std::string& p, const Bytes&, const Bytes&) { std::remove(p.c_str()); }},
        {"truncated",
         [](const std::string& p, const Bytes& o, const Bytes&) {
             ASSERT_EQ(truncate(p.c_str(), static_cast<off_t>(o.size() / 2)), 0);
         }},
        {"grown",
         [](const std::string& p, const Bytes& o, const Bytes&) {
             Bytes longer = o;
             longer.resize(o.size() + 100);
             testpacks::WriteFile(p, longer);
         }},
        {"replaced by another pack",
         [](const std::string& p, const Bytes&, const Bytes& r) {
             testpacks::WriteFile(p + ".new", r);
             ASSERT_EQ(std::rename((p + ".new").c_str(), p.c_str()), 0);
         }},
        {"rewritten in place, same size",
         [](const std::string& p, const Bytes& o, const Bytes&) {
             Bytes same = o;
             same.back() ^= 0xFF;
             testpacks::WriteFile(p, same);
             const timespec later[2] = {{0, UTIME_OMIT}, {1234567890, 0}};
             ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), later, 0), 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Write("changing.vpf", original);
        PackReader reader;
        ASSERT_TRUE(Open(reader, path));
        c.change(path, original, replacement);
        for (unsigned long i = 0; i < reader.GetNumFiles(); ++i) {
            EXPECT_FALSE(reader.LoadFile(i));
            EXPECT_EQ(reader.GetData(i), nullptr);
        }
        EXPECT_EQ(reader.LoadFile(Name("readme.txt").data()), -1);
        EXPECT_EQ(reader.GetNumFiles(), SampleEntries().size());  // the index stays
    }
}

TEST_F(DataTest, DamagedEntriesFailToLoadAndCopyNothing) {
    auto file = [](const char* name, PackMethod m, std::size_t length) {
        return File(name, testpacks::SampleBytes(length, static_cast<std::uint32_t>(length)), m);
    };
    auto withOriginal = [](File f, std::uint32_t original) {
        f.originalSize = original;
        return f;
    };
    auto withMethod = [](File f, std::uint8_t method) {
        f.methodByte = method;
        return f;
    };
    auto withStored = [](File f, Bytes stored) {
        f.stored = std::move(stored);
        return f;
    };
    Bytes garbageGzip = testpacks::EncodeContent(testpacks::SampleBytes(2000), PackMethod::Gzip);
    for (std::size_t i = 20; i + 8 < garbageGzip.size(); i += 7)
        garbageGzip[i] ^= 0x5A;

    Folder root;
    root.files = {
        withOriginal(file("stored longer than file", PackMethod::Stored, 100), 90),
        withOriginal(file("stored shorter than file", PackMethod::Stored, 100), 110),
        withOriginal(file("gzip decodes to more", PackMethod::Gzip, 3000), 2999),
        withOriginal(file("gzip decodes to less", PackMethod::Gzip, 3000), 3001),
        withStored(file("gzip damaged", PackMethod::Gzip, 2000), garbageGzip),
        withStored(file("gzip cut short", PackMethod::Gzip, 2000),
                   Bytes(garbageGzip.begin(), garbageGzip.begin() + 30)),
        withOriginal(file("lzrw decodes to more", PackMethod::Lzrw3a, 3000), 2999),
        withOriginal(file("lzrw decodes to less", PackMethod::Lzrw3a, 3000), 3001),
        withOriginal(file("lzrw absurd size", PackMethod::Lzrw3a, 3000), 0xFFFFFFF0u),
        withStored(file("lzrw shorter than its header", PackMethod::Lzrw3a, 10), Bytes{0, 0}),
        withMethod(file("method 3", PackMethod::Stored, 50), 3),
        withMethod(file("method 255", PackMethod::Stored, 50), 255),
        file("sound", PackMethod::Gzip, 500),
    };
    const std::string path = Write("damaged.vpf", testpacks::BuildPack(root));
    PackReader reader;
    ASSERT_TRUE(Open(reader, path));
    tovelink::PackIndex* index = reader.index;
    const unsigned long sound = reader.GetNumFiles() - 1;
    for (unsigned long i = 0; i < sound; ++i) {
        SCOPED_TRACE(reader.GetName(i));
        EXPECT_FALSE(reader.LoadFile(i));
        EXPECT_FALSE(index->LastError().empty());
        EXPECT_EQ(reader.GetData(i), nullptr);
        EXPECT_EQ(reader.LoadFile(reader.GetName(i)), -1);
        std::vector<unsigned char> buffer(4096, 0xC3);
        unsigned long size = 77;
        reader.CopyData(i, buffer.data(), &size);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(buffer, std::vector<unsigned char>(4096, 0xC3));
        // Without a buffer the recorded size is reported; nothing is loaded.
        reader.CopyData(i, nullptr, &size);
        EXPECT_EQ(size, reader.GetFileSize(i));
    }
    EXPECT_FALSE(reader.LoadAll());
    EXPECT_TRUE(reader.LoadFile(sound));
    EXPECT_EQ(DataOf(reader, sound), root.files.back().content);
}

TEST_F(DataTest, StoredDataIsExactlyTheStoredBytes) {
    // Bytes that would not survive any decoder unchanged: a gzip magic and
    // an LZRW3-A flag at the front of a stored file.
    Bytes tricky = {0x1F, 0x8B, 0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF};
    Folder root;
    root.files = {File("tricky", tricky)};
    PackReader reader;
    ASSERT_TRUE(Open(reader, Write("stored.vpf", testpacks::BuildPack(root))));
    EXPECT_EQ(reader.GetFilePackedSize(0ul), tricky.size());
    EXPECT_EQ(DataOf(reader, 0), tricky);
}

}  // namespace
