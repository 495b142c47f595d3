// Whole packs assembled from the records, checked byte by byte against
// layouts worked out by hand: every field at its absolute offset.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "format/PackFormat.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

template <class R>
void Append(Bytes& out, const R& record) {
    auto bytes = pack::Encode(record);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void AppendData(Bytes& out, std::size_t n, std::uint8_t seed) {
    for (std::size_t i = 0; i < n; ++i)
        out.push_back(static_cast<std::uint8_t>(seed + i));
}

// Independent little-endian decoding, so that a fault in the helpers under
// test cannot hide itself.
std::uint32_t U32At(const Bytes& b, std::size_t off) {
    return static_cast<std::uint32_t>(b.at(off)) | static_cast<std::uint32_t>(b.at(off + 1)) << 8 |
           static_cast<std::uint32_t>(b.at(off + 2)) << 16 |
           static_cast<std::uint32_t>(b.at(off + 3)) << 24;
}

std::string TextAt(const Bytes& b, std::size_t off, std::size_t n) {
    return std::string(b.begin() + static_cast<std::ptrdiff_t>(off),
                       b.begin() + static_cast<std::ptrdiff_t>(off + n));
}

// A name field: the name, then zero bytes to the end of the field.
void ExpectNameField(const Bytes& b, std::size_t off, std::string_view name,
                     std::size_t field = pack::kNameFieldSize) {
    ASSERT_LE(off + field, b.size());
    EXPECT_EQ(TextAt(b, off, name.size()), name) << "name at " << off;
    for (std::size_t i = name.size(); i < field; ++i) {
        ASSERT_EQ(b[off + i], 0) << "padding byte " << i << " of the name at " << off;
    }
}

void ExpectCurrentHeader(const Bytes& b, std::uint32_t fileCount) {
    EXPECT_EQ(TextAt(b, 0, 4), "VHPF");
    EXPECT_EQ(TextAt(b, 4, 4), "2.10");
    for (std::size_t i = 8; i < 16; ++i)
        EXPECT_EQ(b.at(i), 0) << "reserved byte " << i;
    EXPECT_EQ(U32At(b, 16), fileCount);
}

void ExpectData(const Bytes& b, std::size_t off, std::uint32_t size, std::uint8_t seed) {
    EXPECT_EQ(U32At(b, off), size) << "originalSize at " << off;
    EXPECT_EQ(U32At(b, off + 4), size) << "packedSize at " << off;
    EXPECT_EQ(b.at(off + 8), static_cast<std::uint8_t>(pack::PackMethod::Stored));
    for (std::uint32_t i = 0; i < size; ++i) {
        ASSERT_EQ(b.at(off + 9 + i), static_cast<std::uint8_t>(seed + i)) << "data byte " << i;
    }
}

pack::FolderRecord Folder(std::string_view name, std::uint32_t blockOffset) {
    pack::FolderRecord r{};
    EXPECT_TRUE(pack::SetFieldName(r.name, name));
    r.blockOffset = blockOffset;
    return r;
}

pack::FileRecord File(std::string_view name, std::uint32_t dataOffset) {
    pack::FileRecord r{};
    EXPECT_TRUE(pack::SetFieldName(r.name, name));
    r.dataOffset = dataOffset;
    return r;
}

pack::DataBlockHeader StoredData(std::uint32_t size) {
    return {size, size, static_cast<std::uint8_t>(pack::PackMethod::Stored)};
}

TEST(PackLayout, EmptyPackIs32Bytes) {
    Bytes b;
    Append(b, pack::MakePackHeader(0));
    Append(b,
           pack::FolderBlockHeader{static_cast<std::uint32_t>(pack::FolderBlockSize(0, 0)), 0, 0});
    ASSERT_EQ(b.size(), 32u);
    ASSERT_EQ(b.size(), pack::kEmptyPackSize);
    ExpectCurrentHeader(b, 0);
    EXPECT_EQ(U32At(b, 20), 12u);
    EXPECT_EQ(U32At(b, 24), 0u);
    EXPECT_EQ(U32At(b, 28), 0u);

    pack::PackHeader h{};
    ASSERT_TRUE(pack::Read(b, 0, h));
    EXPECT_TRUE(pack::IsCurrentPack(h));
    EXPECT_EQ(h.fileCount, 0u);
    pack::FolderBlockHeader root{};
    ASSERT_TRUE(pack::Read(b, pack::kRootBlockOffset, root));
    EXPECT_EQ(root.subtreeSize, 12u);
    EXPECT_EQ(root.folderCount + root.fileCount, 0u);
}

TEST(PackLayout, OneStoredFile) {
    // Offsets as the writer derives them.
    const std::uint64_t rootBlock = pack::FolderBlockSize(0, 1);
    const std::uint64_t dataOffset = pack::kRootBlockOffset + rootBlock;
    const std::uint64_t end = dataOffset + pack::kDataBlockHeaderSize + 10;
    ASSERT_EQ(rootBlock, 276u);
    ASSERT_EQ(dataOffset, 296u);
    ASSERT_EQ(end, 315u);

    Bytes b;
    Append(b, pack::MakePackHeader(1));
    Append(b, pack::FolderBlockHeader{276, 0, 1});
    Append(b, File("a.txt", 296));
    Append(b, StoredData(10));
    AppendData(b, 10, 0x30);

    ASSERT_EQ(b.size(), 315u);
    ExpectCurrentHeader(b, 1);
    EXPECT_EQ(U32At(b, 20), 276u);  // subtreeSize
    EXPECT_EQ(U32At(b, 24), 0u);    // folderCount
    EXPECT_EQ(U32At(b, 28), 1u);    // fileCount
    ExpectNameField(b, 32, "a.txt");
    EXPECT_EQ(U32At(b, 292), 296u);  // dataOffset
    ExpectData(b, 296, 10, 0x30);
}

// Root: folder A and file y.txt (50 bytes); A: file x.bin (100 bytes).
// Written once by appending encoded records and once with Write at the
// offsets; both must give the same 1004 bytes.
TEST(PackLayout, NestedFolder) {
    const std::uint64_t rootBlock = pack::FolderBlockSize(1, 1);
    const std::uint64_t aBlock = pack::FolderBlockSize(0, 1);
    const std::uint64_t aOffset = pack::kRootBlockOffset + rootBlock;
    const std::uint64_t rootSubtree = rootBlock + aBlock;
    const std::uint64_t dataStart = pack::kRootBlockOffset + rootSubtree;
    const std::uint64_t yOffset = dataStart;
    const std::uint64_t xOffset = yOffset + pack::kDataBlockHeaderSize + 50;
    const std::uint64_t end = xOffset + pack::kDataBlockHeaderSize + 100;
    ASSERT_EQ(aOffset, 560u);
    ASSERT_EQ(rootSubtree, 816u);
    ASSERT_EQ(aBlock, 276u);
    ASSERT_EQ(aOffset + aBlock, 836u);
    ASSERT_EQ(yOffset, 836u);
    ASSERT_EQ(xOffset, 895u);
    ASSERT_EQ(end, 1004u);

    Bytes b;
    Append(b, pack::MakePackHeader(2));
    Append(b, pack::FolderBlockHeader{816, 1, 1});
    Append(b, Folder("A", 560));
    Append(b, File("y.txt", 836));
    ASSERT_EQ(b.size(), 560u);
    Append(b, pack::FolderBlockHeader{276, 0, 1});
    Append(b, File("x.bin", 895));
    ASSERT_EQ(b.size(), 836u);
    Append(b, StoredData(50));
    AppendData(b, 50, 0x40);
    Append(b, StoredData(100));
    AppendData(b, 100, 0x80);
    ASSERT_EQ(b.size(), 1004u);

    ExpectCurrentHeader(b, 2);
    // Root block, 20..560.
    EXPECT_EQ(U32At(b, 20), 816u);
    EXPECT_EQ(U32At(b, 24), 1u);
    EXPECT_EQ(U32At(b, 28), 1u);
    ExpectNameField(b, 32, "A");
    EXPECT_EQ(U32At(b, 292), 560u);
    ExpectNameField(b, 296, "y.txt");
    EXPECT_EQ(U32At(b, 556), 836u);
    // A's block, 560..836.
    EXPECT_EQ(U32At(b, 560), 276u);
    EXPECT_EQ(U32At(b, 564), 0u);
    EXPECT_EQ(U32At(b, 568), 1u);
    ExpectNameField(b, 572, "x.bin");
    EXPECT_EQ(U32At(b, 832), 895u);
    // Data region.
    ExpectData(b, 836, 50, 0x40);
    ExpectData(b, 895, 100, 0x80);

    Bytes w(1004, 0xEE);
    ASSERT_TRUE(pack::Write(w, 0, pack::MakePackHeader(2)));
    ASSERT_TRUE(pack::Write(w, 20, pack::FolderBlockHeader{816, 1, 1}));
    ASSERT_TRUE(pack::Write(w, 32, Folder("A", 560)));
    ASSERT_TRUE(pack::Write(w, 296, File("y.txt", 836)));
    ASSERT_TRUE(pack::Write(w, 560, pack::FolderBlockHeader{276, 0, 1}));
    ASSERT_TRUE(pack::Write(w, 572, File("x.bin", 895)));
    ASSERT_TRUE(pack::Write(w, 836, StoredData(50)));
    ASSERT_TRUE(pack::Write(w, 895, StoredData(100)));
    for (std::size_t i = 0; i < 50; ++i)
        w[845 + i] = static_cast<std::uint8_t>(0x40 + i);
    for (std::size_t i = 0; i < 100; ++i)
        w[904 + i] = static_cast<std::uint8_t>(0x80 + i);
    EXPECT_EQ(w, b);

    // And the records read back from the same places.
    pack::FolderRecord a{};
    ASSERT_TRUE(pack::Read(b, 32, a));
    EXPECT_EQ(pack::FieldName(a.name), "A");
    EXPECT_EQ(a.blockOffset, 560u);
    pack::FileRecord x{};
    ASSERT_TRUE(pack::Read(b, 572, x));
    EXPECT_EQ(pack::FieldName(x.name), "x.bin");
    EXPECT_EQ(x.dataOffset, 895u);
    pack::DataBlockHeader d{};
    ASSERT_TRUE(pack::Read(b, 895, d));
    EXPECT_EQ(d.originalSize, 100u);
    EXPECT_EQ(d.packedSize, 100u);
    EXPECT_EQ(d.method, 0u);
}

// Old version: header, offset table, entry records each followed by data.
TEST(PackLayout, OldPackWithTwoEntries) {
    pack::OldEntryRecord first{};
    ASSERT_TRUE(pack::SetFieldName(first.name, "old.txt"));
    first.packedSize = 5;
    first.originalSize = 5;
    first.flags = 0x10;
    first.entryCode = 3;
    pack::OldEntryRecord second{};
    const std::string fullName(48, 'n');
    std::memcpy(second.name, fullName.data(), 48);  // fills the field, no terminator
    second.packedSize = 4;
    second.originalSize = 9;
    second.flags = 0x21;
    second.entryCode = 23;
    second.reserved[0] = 0xAB;
    second.reserved[1] = 0xCD;

    Bytes b;
    Append(b, pack::MakeOldPackHeader(2));
    b.insert(b.end(), {20, 0, 0, 0, 85, 0, 0, 0});
    Append(b, first);
    AppendData(b, 5, 1);
    Append(b, second);
    AppendData(b, 4, 9);
    ASSERT_EQ(b.size(), 149u);

    EXPECT_EQ(TextAt(b, 0, 8), "VHPF1.03");
    EXPECT_EQ(U32At(b, 8), 2u);
    ExpectNameField(b, 20, "old.txt", pack::kOldNameFieldSize);
    EXPECT_EQ(U32At(b, 68), 5u);  // packedSize
    EXPECT_EQ(U32At(b, 72), 5u);  // originalSize
    EXPECT_EQ(b[76], 0x10);       // flags
    EXPECT_EQ(b[77], 3);          // entryCode
    EXPECT_EQ(b[78], 0);
    EXPECT_EQ(b[79], 0);
    EXPECT_EQ(TextAt(b, 85, 48), fullName);
    EXPECT_EQ(U32At(b, 133), 4u);
    EXPECT_EQ(U32At(b, 137), 9u);
    EXPECT_EQ(b[141], 0x21);
    EXPECT_EQ(b[142], 23);
    EXPECT_EQ(b[143], 0xAB);
    EXPECT_EQ(b[144], 0xCD);

    pack::OldPackHeader h{};
    ASSERT_TRUE(pack::Read(b, 0, h));
    EXPECT_TRUE(pack::IsOldPack(h));
    pack::PackHeader asCurrent{};
    ASSERT_TRUE(pack::Read(b, 0, asCurrent));
    EXPECT_FALSE(pack::IsCurrentPack(asCurrent));
    std::uint32_t entry1 = 0;
    ASSERT_TRUE(pack::ReadU32(b, pack::kOldPackHeaderSize + pack::kOldEntryOffsetSize, entry1));
    EXPECT_EQ(entry1, 85u);
    pack::OldEntryRecord r{};
    ASSERT_TRUE(pack::Read(b, entry1, r));
    EXPECT_EQ(pack::FieldName(r.name), fullName);
    EXPECT_EQ(r.packedSize, 4u);
    EXPECT_EQ(r.originalSize, 9u);
    EXPECT_EQ(r.entryCode, 23);
}

}  // namespace
