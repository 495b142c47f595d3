// A corpus of damaged and hostile packs, made from small valid ones: every
// truncation, every header and record field set to 0, max and off-by-one
// values, broken names, absurd counts, self-referring and deep folder
// blocks. Each must be refused cleanly (OpenPack false with a reason, or the
// damaged entry fails to load), and whatever does open must stay usable.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "reader/PackIndex.h"
#include "tests/reader/ReaderFixtures.h"

namespace {

using namespace readertest;

// What a damaged pack must do.
enum class Outcome {
    Refused,   // OpenPack false, no entries, a reason given
    Intact,    // opens, and every entry loads to its original content
    Survives,  // may open or not; whatever opens loads or fails cleanly
};

struct Variant {
    std::string what;
    Bytes bytes;
    Outcome outcome;
};

// A small pack with all methods and two folder levels.
Folder SmallTree() {
    Folder root;
    root.files = {File("a.txt", testpacks::ToBytes("alpha alpha alpha")),
                  File("b.gz", testpacks::SampleBytes(300, 11), PackMethod::Gzip)};
    Folder g("G", {File("d", testpacks::ToBytes("delta"))});
    root.folders = {
        Folder("F", {File("c.lz", testpacks::SampleBytes(200, 12), PackMethod::Lzrw3a)}, {g})};
    return root;
}

std::vector<Bytes> SmallTreeContents() {
    const Folder t = SmallTree();
    return {t.files[0].content, t.files[1].content, t.folders[0].files[0].content,
            t.folders[0].folders[0].files[0].content};
}

std::vector<testpacks::OldEntry> SmallOld() {
    return {testpacks::OldEntry("one", testpacks::ToBytes("first entry"), 0x00, 0),
            testpacks::OldEntry("two", testpacks::SampleBytes(400, 13), 0x01, 1),
            testpacks::OldEntry("gone", testpacks::ToBytes("skipped"), 0x00, 23),
            testpacks::OldEntry("three", testpacks::ToBytes("last one"), 0x00, 2)};
}

std::vector<Bytes> SmallOldContents() {
    const auto e = SmallOld();
    return {e[0].content, e[1].content, e[3].content};
}

// The values a u32 field is set to, given its sound value and the file size.
std::vector<std::uint32_t> Mutations(std::uint32_t sound, std::size_t fileSize) {
    std::set<std::uint32_t> values = {0u,
                                      1u,
                                      0xFFFFFFFFu,
                                      0x7FFFFFFFu,
                                      0x80000000u,
                                      sound - 1,
                                      sound + 1,
                                      static_cast<std::uint32_t>(fileSize),
                                      static_cast<std::uint32_t>(fileSize - 1)};
    values.erase(sound);
    return {values.begin(), values.end()};
}

class CorruptTest : public ReaderTest {
  protected:
    // Opens every variant and checks its outcome; `contents` are the sound
    // pack's entries in order, for Intact variants.
    void Check(const std::vector<Variant>& variants, const std::vector<Bytes>& contents) {
        const std::string path = dir_.File("variant.pack");
        for (const Variant& v : variants) {
            SCOPED_TRACE(v.what);
            testpacks::WriteFile(path, v.bytes);
            PackReader reader;
            std::string p = path;
            const bool opened = reader.OpenPack(p.data());
            const std::string reason = reader.index->LastError();
            switch (v.outcome) {
                case Outcome::Refused:
                    EXPECT_FALSE(opened);
                    EXPECT_FALSE(reason.empty());
                    EXPECT_EQ(reader.GetNumFiles(), 0u);
                    break;
                case Outcome::Intact:
                    ASSERT_TRUE(opened) << reason;
                    ASSERT_EQ(reader.GetNumFiles(), contents.size());
                    for (unsigned long i = 0; i < contents.size(); ++i)
                        EXPECT_EQ(DataOf(reader, i), contents[i]) << reader.GetName(i);
                    break;
                case Outcome::Survives:
                    if (!opened) {
                        EXPECT_FALSE(reason.empty());
                    }
                    break;
            }
            ExerciseAll(reader);
        }
    }

    // Every member on every entry: loads either fail cleanly or give a
    // buffer of the entry's size that CopyData reproduces.
    static void ExerciseAll(PackReader& reader) {
        for (unsigned long i = 0; i < reader.GetNumFiles(); ++i) {
            char* name = reader.GetName(i);
            ASSERT_NE(name, nullptr);
            EXPECT_LE(reader.GetIndex(name), i);
            const unsigned long size = reader.GetFileSize(i);
            unsigned long reported = 1;
            reader.CopyData(i, nullptr, &reported);
            EXPECT_EQ(reported, size);
            if (reader.LoadFile(i)) {
                unsigned char* data = reader.GetData(i);
                ASSERT_NE(data, nullptr);
                Bytes copy(size + 1, 0xA5);
                reader.CopyData(i, copy.data(), &reported);
                EXPECT_EQ(reported, size);
                EXPECT_EQ(Bytes(copy.begin(), copy.begin() + size), Bytes(data, data + size));
                EXPECT_EQ(copy.back(), 0xA5);
            } else {
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
    }
};

TEST_F(CorruptTest, EveryTruncationIsRefused) {
    for (const Bytes& sound :
         {testpacks::BuildPack(SmallTree()), testpacks::BuildOldPack(SmallOld())}) {
        std::vector<Variant> variants;
        for (std::size_t length = 0; length < sound.size(); ++length)
            variants.push_back({"cut at " + std::to_string(length),
                                Bytes(sound.begin(), sound.begin() + length), Outcome::Refused});
        Check(variants, {});
    }
}

TEST_F(CorruptTest, TreePackFieldsOutOfTheirSoundValues) {
    testpacks::PackLayout layout;
    const Bytes sound = testpacks::BuildPack(SmallTree(), &layout);
    ASSERT_EQ(layout.blockOffsets.size(), 3u);
    std::vector<Variant> variants;
    auto mutate = [&](const std::string& what, std::size_t at, Outcome outcome) {
        for (std::uint32_t value : Mutations(testpacks::PeekU32(sound, at), sound.size())) {
            Bytes b = sound;
            testpacks::PatchU32(b, at, value);
            variants.push_back({what + " = " + std::to_string(value), std::move(b), outcome});
        }
    };
    mutate("header fileCount", 16, Outcome::Refused);
    mutate("header reserved", 8, Outcome::Intact);
    for (std::size_t k = 0; k < layout.blockOffsets.size(); ++k) {
        const std::size_t at = layout.blockOffsets[k];
        const std::string block = "block " + std::to_string(k);
        // Readers walk blocks in order and take neither of these.
        mutate(block + " subtreeSize", at, Outcome::Intact);
        mutate(block + " folderCount", at + 4, Outcome::Refused);
        mutate(block + " fileCount", at + 8, Outcome::Refused);
    }
    for (std::size_t at : layout.folderRecordOffsets)
        mutate("blockOffset at " + std::to_string(at), at + pack::kNameFieldSize, Outcome::Intact);
    for (std::size_t k = 0; k < layout.fileRecordOffsets.size(); ++k) {
        const std::string file = "file " + std::to_string(k);
        // Off by one, the block header reads shifted sizes; such an entry
        // may open and then fails to load. Overlaps are refused (below).
        mutate(file + " dataOffset", layout.fileRecordOffsets[k] + pack::kNameFieldSize,
               Outcome::Survives);
        // Sizes and method are only checked when the entry loads.
        mutate(file + " originalSize", layout.dataOffsets[k], Outcome::Survives);
        mutate(file + " packedSize", layout.dataOffsets[k] + 4, Outcome::Survives);
        for (std::uint8_t method : {0, 1, 2, 3, 0x80, 0xFF}) {
            Bytes b = sound;
            b[layout.dataOffsets[k] + 8] = method;
            variants.push_back(
                {file + " method " + std::to_string(method), std::move(b), Outcome::Survives});
        }
    }
    Check(variants, SmallTreeContents());
}

TEST_F(CorruptTest, TreePackBrokenNames) {
    testpacks::PackLayout layout;
    const Bytes sound = testpacks::BuildPack(SmallTree(), &layout);
    std::vector<Variant> variants;
    std::vector<std::size_t> records = layout.folderRecordOffsets;
    records.insert(records.end(), layout.fileRecordOffsets.begin(), layout.fileRecordOffsets.end());
    for (std::size_t at : records) {
        Bytes unterminated = sound;
        std::memset(unterminated.data() + at, 'n', pack::kNameFieldSize);
        variants.push_back(
            {"unterminated name at " + std::to_string(at), unterminated, Outcome::Refused});
        Bytes empty = sound;
        empty[at] = 0;
        variants.push_back({"empty name at " + std::to_string(at), empty, Outcome::Refused});
        Bytes longest = sound;
        std::memset(longest.data() + at, 'n', pack::kMaxNameLength);
        variants.push_back({"259-byte name at " + std::to_string(at), longest, Outcome::Intact});
        // A writer zero-pads the field after the terminator; bytes there
        // are damage (or a smuggled second name), refused.
        Bytes padded = sound;
        padded[at + pack::kNameFieldSize - 1] = 'x';
        variants.push_back(
            {"byte after the terminator at " + std::to_string(at), padded, Outcome::Refused});
    }
    Check(variants, SmallTreeContents());
}

TEST_F(CorruptTest, UnsafeNamesAreRefusedInBothVersions) {
    // Names that would lead a host out of its folder, or make two entries
    // share one full name ("a\b" beside a folder "a" holding "b"), are
    // never written by a sound writer: the pack is damaged.
    const std::string unsafe[] = {".", "..", "a/../../x", "..\\..\\x", "/abs", "a\\b", "c:\\x"};
    std::vector<Variant> variants;
    for (const std::string& name : unsafe) {
        Folder asFile;
        asFile.files = {File(name, testpacks::ToBytes("x"))};
        asFile.folders = {Folder("a", {File("b", testpacks::ToBytes("y"))})};
        variants.push_back({"file named " + name, testpacks::BuildPack(asFile), Outcome::Refused});
        Folder asFolder;
        asFolder.folders = {Folder(name, {File("f", testpacks::ToBytes("z"))})};
        variants.push_back(
            {"folder named " + name, testpacks::BuildPack(asFolder), Outcome::Refused});
        variants.push_back({"old entry named " + name,
                            testpacks::BuildOldPack({testpacks::OldEntry("fine", {}, 0, 0),
                                                     testpacks::OldEntry(name, {}, 0, 0)}),
                            Outcome::Refused});
    }
    // Left out by its code, an old entry's name does not matter.
    variants.push_back({"skipped old entry named ..",
                        testpacks::BuildOldPack({testpacks::OldEntry("fine", {}, 0, 0),
                                                 testpacks::OldEntry("..", {}, 0, 23)}),
                        Outcome::Survives});
    Check(variants, {});
    PackReader reader;
    ASSERT_TRUE(Open(reader, Write("skip.dat", variants.back().bytes)));
    EXPECT_EQ(reader.GetNumFiles(), 1u);
}

TEST_F(CorruptTest, OldPackFieldsOutOfTheirSoundValues) {
    testpacks::OldPackLayout layout;
    const Bytes sound = testpacks::BuildOldPack(SmallOld(), &layout);
    std::vector<Variant> variants;
    auto mutate = [&](const std::string& what, std::size_t at, Outcome outcome) {
        for (std::uint32_t value : Mutations(testpacks::PeekU32(sound, at), sound.size())) {
            Bytes b = sound;
            testpacks::PatchU32(b, at, value);
            variants.push_back({what + " = " + std::to_string(value), std::move(b), outcome});
        }
    };
    mutate("fileCount", 8, Outcome::Survives);
    for (std::size_t k = 0; k < layout.entryOffsets.size(); ++k) {
        const std::string entry = "entry " + std::to_string(k);
        const std::size_t at = layout.entryOffsets[k];
        mutate(entry + " offset", pack::kOldPackHeaderSize + 4 * k, Outcome::Survives);
        mutate(entry + " packedSize", at + 48, Outcome::Survives);
        mutate(entry + " originalSize", at + 52, Outcome::Survives);
        for (std::uint8_t flags : {0x00, 0x01, 0x02, 0x11, 0xF0, 0xFF}) {
            Bytes b = sound;
            b[at + 56] = flags;
            variants.push_back({entry + " flags " + std::to_string(flags), b, Outcome::Survives});
        }
        for (std::uint8_t code : {0, 22, 23, 255}) {
            Bytes b = sound;
            b[at + 57] = code;
            variants.push_back({entry + " code " + std::to_string(code), b, Outcome::Survives});
        }
        Bytes fullName = sound;
        std::memset(fullName.data() + at, 'm', pack::kOldNameFieldSize);
        variants.push_back({entry + " 48-byte name", fullName, Outcome::Survives});
    }
    // Offsets that point into the header, the table or another entry.
    for (std::uint32_t target :
         {0u, 4u, 8u, 12u, static_cast<std::uint32_t>(layout.entryOffsets[0])}) {
        Bytes b = sound;
        testpacks::PatchU32(b, pack::kOldPackHeaderSize + 4 * 3, target);
        variants.push_back({"last entry offset -> " + std::to_string(target), b, Outcome::Refused});
    }
    Check(variants, SmallOldContents());
}

TEST_F(CorruptTest, AbsurdCountsAreRefusedBeforeAllocating) {
    Bytes old = testpacks::BuildOldPack(SmallOld());
    testpacks::PatchU32(old, 8, 0x3FFFFFFF);
    Bytes tree = testpacks::BuildPack(SmallTree());
    Bytes wideRoot = tree;
    testpacks::PatchU32(wideRoot, pack::kRootBlockOffset + 4, 0xFFFFFFFF);
    Bytes manyFiles = tree;
    testpacks::PatchU32(manyFiles, pack::kRootBlockOffset + 8, 0x00FFFFFF);
    Check({{"old fileCount 0x3FFFFFFF", old, Outcome::Refused},
           {"root folderCount max", wideRoot, Outcome::Refused},
           {"root fileCount 0xFFFFFF", manyFiles, Outcome::Refused}},
          {});
}

// Raw "2.10" directories, written block by block.
Bytes RawTree(const std::vector<pack::FolderBlockHeader>& blocks,
              const std::vector<std::vector<std::string>>& names, std::uint32_t fileCount,
              std::uint32_t blockOffset) {
    Bytes out(pack::kPackHeaderSize);
    pack::Write(out, 0, pack::MakePackHeader(fileCount));
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const std::size_t at = out.size();
        out.resize(at + pack::FolderBlockSize(blocks[k].folderCount, blocks[k].fileCount));
        pack::Write(out, at, blocks[k]);
        std::size_t r = at + pack::kFolderBlockHeaderSize;
        for (const std::string& n : names[k]) {
            std::memcpy(out.data() + r, n.data(), n.size());
            testpacks::PatchU32(out, r + pack::kNameFieldSize, blockOffset);
            r += pack::kFolderRecordSize;
        }
    }
    return out;
}

TEST_F(CorruptTest, SelfReferringAndDeepFolderBlocks) {
    std::vector<Variant> variants;
    // Every folder record points back at the root block: readers never
    // follow blockOffset, so this cannot loop; the pack is otherwise sound.
    {
        testpacks::PackLayout layout;
        Bytes b = testpacks::BuildPack(SmallTree(), &layout);
        for (std::size_t at : layout.folderRecordOffsets)
            testpacks::PatchU32(b, at + pack::kNameFieldSize, pack::kRootBlockOffset);
        Check({{"blockOffsets to the root", b, Outcome::Intact}}, SmallTreeContents());
    }
    // A folder naming itself as its own only subfolder, again and again,
    // until the file ends: refused when the blocks run out.
    for (std::size_t depth : {1u, 2u, 1000u}) {
        std::vector<pack::FolderBlockHeader> blocks(depth, pack::FolderBlockHeader{0, 1, 0});
        std::vector<std::vector<std::string>> names(depth, {"loop"});
        variants.push_back({"self chain of " + std::to_string(depth),
                            RawTree(blocks, names, 0, pack::kRootBlockOffset), Outcome::Refused});
    }
    // A chain of folders one level deeper than any writer nests them (the
    // root and kMaxFolderDepth levels below it), and the deepest sound one.
    auto chain = [](std::size_t blockCount) {
        std::vector<pack::FolderBlockHeader> blocks(blockCount, pack::FolderBlockHeader{0, 1, 0});
        blocks.back().folderCount = 0;
        std::vector<std::vector<std::string>> names(blockCount, {"d"});
        names.back().clear();
        return RawTree(blocks, names, 0, 0);
    };
    variants.push_back(
        {"nested past the depth limit", chain(pack::kMaxFolderDepth + 2), Outcome::Refused});
    variants.push_back({"1000 levels", chain(1000), Outcome::Refused});
    // Deep but sound: the deepest nesting, no files; and 5000 empty folders
    // side by side.
    {
        variants.push_back({"deepest nesting", chain(pack::kMaxFolderDepth + 1), Outcome::Intact});

        std::vector<pack::FolderBlockHeader> wide(5001, pack::FolderBlockHeader{12, 0, 0});
        wide[0].folderCount = 5000;
        std::vector<std::vector<std::string>> wideNames(5001);
        for (int i = 0; i < 5000; ++i)
            wideNames[0].push_back("f" + std::to_string(i));
        variants.push_back({"5000 empty folders", RawTree(wide, wideNames, 0, 0), Outcome::Intact});
    }
    Check(variants, {});
}

TEST_F(CorruptTest, DataBlocksMustLieAfterTheDirectoryAndApart) {
    testpacks::PackLayout layout;
    const Bytes sound = testpacks::BuildPack(SmallTree(), &layout);
    std::vector<Variant> variants;
    const std::size_t dataAt = layout.fileRecordOffsets[1] + pack::kNameFieldSize;
    // A file's data pointing at another file's block, at the root block and
    // into the directory's last record.
    for (std::size_t target :
         {layout.dataOffsets[0], layout.blockOffsets[0], layout.directoryEnd - 9}) {
        Bytes b = sound;
        testpacks::PatchU32(b, dataAt, static_cast<std::uint32_t>(target));
        variants.push_back({"data of b.gz at " + std::to_string(target), b, Outcome::Refused});
    }
    Check(variants, {});
}

}  // namespace
