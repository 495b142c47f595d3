// Reading and writing single records in byte buffers: exact bytes, and the
// bounds at the end of the buffer (where hostile offsets land).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "format/PackFormat.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

template <class R>
class RecordIo : public ::testing::Test {};

using RecordTypes = ::testing::Types<pack::PackHeader, pack::FolderBlockHeader, pack::FolderRecord,
                                     pack::FileRecord, pack::DataBlockHeader, pack::OldPackHeader,
                                     pack::OldEntryRecord>;
TYPED_TEST_SUITE(RecordIo, RecordTypes);

// A record whose every byte differs from its neighbours, so that misplaced
// or swapped fields show up.
template <class R>
R Patterned(std::uint8_t seed) {
    R r;
    auto* p = reinterpret_cast<std::uint8_t*>(&r);
    for (std::size_t i = 0; i < sizeof(R); ++i)
        p[i] = static_cast<std::uint8_t>(seed + 7 * i);
    return r;
}

template <class R>
bool SameBytes(const R& a, const R& b) {
    return std::memcmp(&a, &b, sizeof(R)) == 0;
}

TYPED_TEST(RecordIo, ReadAndWriteAtTheEdgeOfTheBuffer) {
    using R = TypeParam;
    constexpr std::size_t kSize = sizeof(R) + 5;
    const std::size_t lastFit = kSize - sizeof(R);
    const R original = Patterned<R>(3);

    Bytes buf(kSize, 0x5A);
    ASSERT_TRUE(pack::Write(buf, lastFit, original));
    R back = Patterned<R>(99);
    ASSERT_TRUE(pack::Read(buf, lastFit, back));
    EXPECT_TRUE(SameBytes(back, original));
    const auto encoded = pack::Encode(original);
    EXPECT_TRUE(std::equal(encoded.begin(), encoded.end(), buf.begin() + lastFit));

    const std::size_t badOffsets[] = {
        lastFit + 1,
        kSize,
        kSize + 1,
        std::numeric_limits<std::size_t>::max(),
        std::numeric_limits<std::size_t>::max() - sizeof(R) + 2,  // offset + size wraps
    };
    for (std::size_t off : badOffsets) {
        SCOPED_TRACE(off);
        const R sentinel = Patterned<R>(41);
        R r = sentinel;
        EXPECT_FALSE(pack::Read(buf, off, r));
        EXPECT_TRUE(SameBytes(r, sentinel)) << "record touched by a failed read";
        const Bytes before = buf;
        EXPECT_FALSE(pack::Write(buf, off, sentinel));
        EXPECT_EQ(buf, before) << "bytes written by a failed write";
    }
    // One byte short of a whole record, and nothing at all.
    R r = Patterned<R>(41);
    EXPECT_FALSE(pack::Read(std::span<const std::uint8_t>(buf.data(), sizeof(R) - 1), 0, r));
    EXPECT_FALSE(pack::Read(std::span<const std::uint8_t>(), 0, r));
    EXPECT_TRUE(SameBytes(r, Patterned<R>(41)));
}

TEST(RecordBytes, FieldsAreLittleEndianWithoutPadding) {
    pack::DataBlockHeader d{0x01020304, 0x0A0B0C0D, 2};
    const auto db = pack::Encode(d);
    EXPECT_EQ(Bytes(db.begin(), db.end()),
              (Bytes{0x04, 0x03, 0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A, 0x02}));

    pack::FolderBlockHeader f{0x11223344, 0x55, 0x66778899};
    const auto fb = pack::Encode(f);
    EXPECT_EQ(Bytes(fb.begin(), fb.end()),
              (Bytes{0x44, 0x33, 0x22, 0x11, 0x55, 0, 0, 0, 0x99, 0x88, 0x77, 0x66}));

    const auto hb = pack::Encode(pack::MakePackHeader(0xA1B2C3D4));
    EXPECT_EQ(Bytes(hb.begin(), hb.end()),
              (Bytes{'V', 'H', 'P', 'F', '2', '.', '1',  '0',  0,    0,
                     0,   0,   0,   0,   0,   0,   0xD4, 0xC3, 0xB2, 0xA1}));

    const auto ob = pack::Encode(pack::MakeOldPackHeader(7));
    EXPECT_EQ(Bytes(ob.begin(), ob.end()),
              (Bytes{'V', 'H', 'P', 'F', '1', '.', '0', '3', 7, 0, 0, 0}));

    pack::FileRecord file{};
    ASSERT_TRUE(pack::SetFieldName(file.name, "n"));
    file.dataOffset = 0x00C0FFEE;
    const auto rb = pack::Encode(file);
    EXPECT_EQ(rb[0], 'n');
    EXPECT_EQ(rb[1], 0);
    EXPECT_EQ(Bytes(rb.begin() + 260, rb.end()), (Bytes{0xEE, 0xFF, 0xC0, 0x00}));
}

TEST(RecordBytes, U32HelpersAtTheEdge) {
    Bytes buf(8, 0);
    EXPECT_TRUE(pack::WriteU32(buf, 4, 0xCAFEBABE));
    EXPECT_EQ(buf, (Bytes{0, 0, 0, 0, 0xBE, 0xBA, 0xFE, 0xCA}));
    std::uint32_t v = 0;
    EXPECT_TRUE(pack::ReadU32(buf, 4, v));
    EXPECT_EQ(v, 0xCAFEBABEu);
    for (std::size_t off : {std::size_t{5}, std::size_t{8}, std::size_t{9},
                            std::numeric_limits<std::size_t>::max() - 2}) {
        SCOPED_TRACE(off);
        v = 123;
        EXPECT_FALSE(pack::ReadU32(buf, off, v));
        EXPECT_EQ(v, 123u);
        const Bytes before = buf;
        EXPECT_FALSE(pack::WriteU32(buf, off, 1));
        EXPECT_EQ(buf, before);
    }
}

}  // namespace
