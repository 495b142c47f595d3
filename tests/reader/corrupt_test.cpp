// The damaged-pack corpus (tests/support/DamagedPacks.h) through the reader
// library as a host uses it: every pack is written to disk and opened with
// PackReader. OpenPack must give the corpus's directory verdict. A refused
// pack leaves no entries and a reason (with the byte offset, inside the
// file, when it is damage). An accepted one lists the corpus's names in
// order; an Intact one loads to the corpus's bytes, a Damaged one fails at
// least one load. Whatever opens stays usable: every member on every entry
// either works or fails cleanly, and the reader can close and go on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "format/Names.h"
#include "reader/PackIndex.h"
#include "tests/reader/ReaderFixtures.h"
#include "tests/support/DamagedPacks.h"

namespace {

using namespace readertest;
using damaged::Content;
using damaged::Verdict;

class CorruptTest : public ReaderTest {
  protected:
    // Writes `bytes` as a new file (a rewrite in place of a file just read
    // makes some file systems flush it first, which would dominate the run).
    std::string Place(const Bytes& bytes) {
        const std::string path = dir_.File("variant.pack");
        std::remove(path.c_str());
        testpacks::WriteFile(path, bytes);
        return path;
    }

    // Every member on every entry: loads either fail cleanly or give a
    // buffer of the entry's size that CopyData reproduces. Returns whether
    // any load failed; closes the pack.
    static bool ExerciseAll(PackReader& reader) {
        bool anyFailed = false;
        for (unsigned long i = 0; i < reader.GetNumFiles(); ++i) {
            char* name = reader.GetName(i);
            EXPECT_NE(name, nullptr);
            if (!name)
                continue;
            EXPECT_LE(reader.GetIndex(name), i);
            const unsigned long size = reader.GetFileSize(i);
            unsigned long reported = 1;
            reader.CopyData(i, nullptr, &reported);
            EXPECT_EQ(reported, size);
            if (reader.LoadFile(i)) {
                unsigned char* data = reader.GetData(i);
                EXPECT_NE(data, nullptr);
                if (!data)
                    continue;
                Bytes copy(size + 1, 0xA5);
                reader.CopyData(i, copy.data(), &reported);
                EXPECT_EQ(reported, size);
                EXPECT_EQ(Bytes(copy.begin(), copy.begin() + size), Bytes(data, data + size));
                EXPECT_EQ(copy.back(), 0xA5);
            } else {
                anyFailed = true;
                EXPECT_FALSE(reader.index->LastError().empty());
                EXPECT_EQ(reader.GetData(i), nullptr);
                Bytes copy(16, 0xA5);
                reader.CopyData(i, copy.data(), &reported);
                EXPECT_EQ(reported, 0u);
                EXPECT_EQ(copy, Bytes(16, 0xA5));
            }
            reader.PurgeFile(i);
        }
        reader.LoadAll();
        reader.ClosePack();
        EXPECT_EQ(reader.GetNumFiles(), 0u);
        return anyFailed;
    }
};

TEST_F(CorruptTest, EveryCorpusPackGetsItsVerdict) {
    std::size_t accepted = 0, refused = 0;
    PackReader reader;  // one reader for all: each pack must leave it usable
    for (const damaged::Case& c : damaged::Corpus()) {
        SCOPED_TRACE(c.what);
        const std::string path = Place(c.bytes);
        const bool opened = Open(reader, path);
        ASSERT_EQ(opened, c.directory == Verdict::Accept) << reader.index->LastError();
        EXPECT_STREQ(reader.GetArchiveName(), path.c_str());
        if (!opened) {
            ++refused;
            const pack::Fault& fault = reader.index->LastFault();
            EXPECT_EQ(reader.GetNumFiles(), 0u);
            EXPECT_FALSE(reader.index->LastError().empty());
            if (fault.kind == pack::FaultKind::Damaged) {
                ASSERT_TRUE(fault.HasOffset()) << fault.Text();
                EXPECT_LE(fault.offset, c.bytes.size());
            } else {
                EXPECT_EQ(fault.kind, pack::FaultKind::NotAPack) << fault.Text();
            }
            continue;
        }
        ++accepted;
        if (c.content == Content::Intact) {
            ASSERT_EQ(reader.GetNumFiles(), c.entries.size());
            for (unsigned long i = 0; i < c.entries.size(); ++i) {
                EXPECT_EQ(reader.GetName(i), damaged::ReaderName(c.entries[i]));
                EXPECT_EQ(DataOf(reader, i), c.entries[i].bytes) << c.entries[i].name;
            }
        }
        const bool anyFailed = ExerciseAll(reader);
        if (c.content == Content::Intact) {
            EXPECT_FALSE(anyFailed);
        }
        if (c.content == Content::Damaged) {
            EXPECT_TRUE(anyFailed);
        }
    }
    EXPECT_GT(accepted, 150u);
    EXPECT_GT(refused, 500u);
}

TEST_F(CorruptTest, NamesAreStoredBytesAndLookupsGiveTheScansAnswer) {
    // Names no disk path can hold, and names that look like paths: a file
    // "a\\b" beside a folder "a" holding "b" (two entries of one full name),
    // other systems' paths, folders of such names. The reader opens them,
    // hands the names back byte for byte, and a lookup in any letter case
    // finds the first entry in index order whose full name matches.
    const std::string odd[] = {"a\\b", "c:\\x", "..", "a/b", ".", "/abs", "A\\B\\"};
    for (const std::string& name : odd) {
        SCOPED_TRACE(name);
        Folder asFile;
        asFile.files = {File(name, testpacks::ToBytes("x"))};
        asFile.folders = {Folder("a", {File("b", testpacks::ToBytes("y"))})};
        Folder asFolder;
        asFolder.folders = {Folder(name, {File("f", testpacks::ToBytes("z"))}),
                            Folder("A", {}, {Folder("B", {}, {Folder("", {File("f", {})})})})};
        for (const Bytes& bytes : {testpacks::BuildPack(asFile), testpacks::BuildPack(asFolder)}) {
            PackReader reader;
            ASSERT_TRUE(Open(reader, Place(bytes))) << reader.index->LastError();
            std::vector<std::string> names;
            for (unsigned long i = 0; i < reader.GetNumFiles(); ++i)
                names.emplace_back(reader.GetName(i));
            EXPECT_TRUE(names[0] == name || names[0] == name + "\\f") << names[0];
            for (std::string query : names) {
                std::string upper = query;
                for (char& c : upper)
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                unsigned long first = static_cast<unsigned long>(-1);
                for (unsigned long i = 0;
                     i < names.size() && first == static_cast<unsigned long>(-1); ++i)
                    if (pack::SameNameIgnoringCase(names[i], query))
                        first = i;
                EXPECT_EQ(reader.GetIndex(query.data()), first) << query;
                EXPECT_EQ(reader.GetIndex(upper.data()), first) << upper;
                EXPECT_NE(reader.GetData(upper.data()), nullptr) << upper;
            }
            for (std::string absent : {name + "\\", "\\" + name, std::string("a\\\\b")}) {
                if (std::find(names.begin(), names.end(), absent) == names.end()) {
                    EXPECT_EQ(reader.GetIndex(absent.data()), static_cast<unsigned long>(-1))
                        << absent;
                }
            }
        }
    }
}

}  // namespace
