// The one entry decoder: method dispatch, size claims refused before any
// allocation, exact decoded sizes, truncated gzip members, and failures of
// this machine (temporary folder, sink) told apart from damage.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "codec/Lzrw.h"
#include "format/ByteSource.h"
#include "format/EntryDecoder.h"
#include "tests/support/TestPacks.h"

namespace {

using pack::EntryClaim;
using pack::PackMethod;
using testpacks::Bytes;

constexpr auto kStored = static_cast<std::uint8_t>(PackMethod::Stored);
constexpr auto kLzrw = static_cast<std::uint8_t>(PackMethod::Lzrw3a);
constexpr auto kGzip = static_cast<std::uint8_t>(PackMethod::Gzip);

class Collect final : public pack::ByteSink {
  public:
    bool Write(const unsigned char* data, std::size_t length) override {
        if (refuseAfter >= 0 && bytes.size() + length > static_cast<std::size_t>(refuseAfter))
            return false;
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
    std::string Reason() const override { return "disk full"; }
    Bytes bytes;
    long refuseAfter = -1;
};

// Decodes `stored` all three ways and returns whether each succeeded, with
// the bytes they agreed on.
struct Outcome {
    bool decoded, loaded, streamed;
    Bytes bytes;
    pack::Fault fault;
};
Outcome DecodeAll(const EntryClaim& claim, const Bytes& stored) {
    Outcome o{};
    pack::DecodedBytes a, b;
    pack::Fault f1, f2, f3;
    o.decoded = pack::DecodeEntry(claim, stored.data(), a, f1);
    Bytes file(7 + stored.size(), 0xEE);  // the stored bytes at offset 7 of a "file"
    if (!stored.empty())
        std::memcpy(file.data() + 7, stored.data(), stored.size());
    pack::MemorySource source(file);
    o.loaded = pack::LoadEntry(source, 7, claim, b, f2);
    Collect sink;
    o.streamed = pack::StreamEntry(source, 7, claim, sink, f3);
    o.fault = f2;
    if (o.decoded)
        o.bytes = Bytes(a.get(), a.get() + claim.originalSize);
    EXPECT_EQ(o.decoded, o.loaded);
    EXPECT_EQ(o.loaded, o.streamed) << f2.Text() << " / " << f3.Text();
    if (o.loaded) {
        EXPECT_EQ(Bytes(b.get(), b.get() + claim.originalSize), o.bytes);
        EXPECT_EQ(sink.bytes, o.bytes);
    } else {
        EXPECT_EQ(f1.kind, f2.kind);
        EXPECT_EQ(f2.kind, f3.kind);
        if (f2.kind == pack::FaultKind::Damaged) {
            EXPECT_EQ(f2.offset, 7u);
            EXPECT_EQ(f3.offset, 7u);
        }
    }
    return o;
}

TEST(EntryDecoderTest, EveryMethodRoundTrips) {
    for (std::size_t size : {0u, 1u, 17u, 5000u, 200000u}) {
        const Bytes content = testpacks::SampleBytes(size, static_cast<std::uint32_t>(size));
        for (PackMethod m : {PackMethod::Stored, PackMethod::Lzrw3a, PackMethod::Gzip}) {
            SCOPED_TRACE(std::to_string(size) + " bytes, method " +
                         std::to_string(static_cast<int>(m)));
            const Bytes stored = testpacks::EncodeContent(content, m);
            const Outcome o =
                DecodeAll({static_cast<std::uint8_t>(m), static_cast<std::uint32_t>(size),
                           static_cast<std::uint32_t>(stored.size())},
                          stored);
            ASSERT_TRUE(o.decoded) << o.fault.Text();
            EXPECT_EQ(o.bytes, content);
        }
    }
}

TEST(EntryDecoderTest, ClaimsRefusedBeforeAnythingIsRead) {
    pack::Fault fault;
    EXPECT_FALSE(pack::CheckEntryClaim({3, 10, 10}, fault));
    EXPECT_EQ(fault.reason, "unknown method 3");
    EXPECT_FALSE(pack::CheckEntryClaim({0xFF, 0, 0}, fault));
    EXPECT_FALSE(pack::CheckEntryClaim({kStored, 10, 9}, fault));
    EXPECT_TRUE(pack::CheckEntryClaim({kStored, 0, 0}, fault));
    EXPECT_TRUE(pack::CheckEntryClaim({kGzip, 0xFFFFFFFF, 20}, fault));
    // LZRW3-A: a block yields at most 9 bytes per body byte.
    EXPECT_TRUE(pack::CheckEntryClaim({kLzrw, 9 * 96, 100}, fault));
    EXPECT_FALSE(pack::CheckEntryClaim({kLzrw, 9 * 96 + 1, 100}, fault));
    EXPECT_FALSE(pack::CheckEntryClaim({kLzrw, 1, 4}, fault));
    // Near the top of the u32 range nothing wraps.
    EXPECT_TRUE(pack::CheckEntryClaim({kLzrw, 0xFFFFFFFF, 477218593}, fault));
    EXPECT_FALSE(pack::CheckEntryClaim({kLzrw, 0xFFFFFFFF, 477218592}, fault));
}

// A huge source that is never read: a claim it cannot back must be refused
// before the decoder allocates for it or reads it.
class ZeroSource final : public pack::ByteSource {
  public:
    explicit ZeroSource(std::uint64_t size) : size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t, void*, std::size_t) override {
        ++reads;
        return false;
    }
    int reads = 0;

  private:
    std::uint64_t size_;
};

TEST(EntryDecoderTest, HostileSizesAreRefusedWithoutReadingOrAllocating) {
    ZeroSource source(0xFFFFFFFFull);
    pack::DecodedBytes out;
    pack::Fault fault;
    // The size that once wrapped `originalSize + 1` to an empty buffer.
    EXPECT_FALSE(pack::LoadEntry(source, 100, {kLzrw, 0xFFFFFFFF, 477000000}, out, fault));
    EXPECT_EQ(fault.kind, pack::FaultKind::Damaged);
    EXPECT_EQ(fault.offset, 100u);
    // Stored bytes past the end of the source.
    EXPECT_FALSE(pack::LoadEntry(source, 0xFFFFFF00u, {kStored, 0x1000, 0x1000}, out, fault));
    EXPECT_EQ(fault.kind, pack::FaultKind::Damaged);
    Collect sink;
    EXPECT_FALSE(pack::StreamEntry(source, 100, {kLzrw, 0xFFFFFFFF, 477000000}, sink, fault));
    EXPECT_EQ(source.reads, 0);
    EXPECT_EQ(out, nullptr);
}

TEST(EntryDecoderTest, DecodedSizeMustBeExact) {
    const Bytes content = testpacks::SampleBytes(3000, 5);
    for (PackMethod m : {PackMethod::Lzrw3a, PackMethod::Gzip}) {
        const Bytes stored = testpacks::EncodeContent(content, m);
        const auto method = static_cast<std::uint8_t>(m);
        const auto packed = static_cast<std::uint32_t>(stored.size());
        for (std::uint32_t claimed : {0u, 1u, 2999u, 3001u, 6000u}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(method)) + " claims " +
                         std::to_string(claimed));
            const Outcome o = DecodeAll({method, claimed, packed}, stored);
            EXPECT_FALSE(o.decoded);
            EXPECT_EQ(o.fault.kind, pack::FaultKind::Damaged);
        }
    }
}

TEST(EntryDecoderTest, EveryTruncatedGzipMemberIsRefused) {
    // 200000 bytes: zlib's file functions once took some cuts of such a
    // member for a clean end of file.
    for (std::size_t size : {100u, 70000u, 200000u}) {
        const Bytes content = testpacks::SampleBytes(size, 77);
        const Bytes stored = testpacks::EncodeContent(content, PackMethod::Gzip);
        const std::size_t step = stored.size() > 5000 ? 97 : 1;
        int refused = 0;
        for (std::size_t cut = 0; cut < stored.size(); cut += step) {
            SCOPED_TRACE(cut);
            const Bytes part(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(cut));
            // Claim what the prefix would decode to, so only the missing
            // trailer can give the cut away.
            for (std::uint32_t claimed : {static_cast<std::uint32_t>(size), 131072u, 65536u}) {
                const Outcome o =
                    DecodeAll({kGzip, claimed, static_cast<std::uint32_t>(part.size())}, part);
                EXPECT_FALSE(o.decoded);
            }
            ++refused;
        }
        EXPECT_GT(refused, 0);
        // A byte after the member is not part of a pack entry either.
        Bytes longer = stored;
        longer.push_back(0);
        EXPECT_FALSE(DecodeAll({kGzip, static_cast<std::uint32_t>(size),
                                static_cast<std::uint32_t>(longer.size())},
                               longer)
                         .decoded);
    }
}

TEST(EntryDecoderTest, GzipWithoutMagicIsCopiedAsItIs) {
    const Bytes text = testpacks::ToBytes("not gzip at all");
    const Outcome o = DecodeAll({kGzip, 15, 15}, text);
    ASSERT_TRUE(o.decoded);
    EXPECT_EQ(o.bytes, text);
}

// Gzip is decoded in memory: a temporary folder that cannot be used
// changes nothing, for the whole decoder and the streaming one.
TEST(EntryDecoderTest, GzipNeedsNoTemporaryFolder) {
    const Bytes content = testpacks::SampleBytes(500, 1);
    const Bytes stored = testpacks::EncodeContent(content, PackMethod::Gzip);
    const pack::EntryClaim claim{kGzip, 500, static_cast<std::uint32_t>(stored.size())};
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", "/nonexistent/folder/for/sure", 1);
    pack::DecodedBytes out;
    pack::Fault fault;
    const bool decoded = pack::DecodeEntry(claim, stored.data(), out, fault);
    pack::MemorySource source(stored);
    Collect sink;
    const bool streamed = pack::StreamEntry(source, 0, claim, sink, fault);
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    ASSERT_TRUE(decoded) << fault.Text();
    EXPECT_EQ(Bytes(out.get(), out.get() + 500), content);
    ASSERT_TRUE(streamed) << fault.Text();
    EXPECT_EQ(sink.bytes, content);
}

TEST(EntryDecoderTest, SinkRefusingStopsTheStream) {
    const Bytes content = testpacks::SampleBytes(300000, 9);
    for (PackMethod m : {PackMethod::Stored, PackMethod::Lzrw3a, PackMethod::Gzip}) {
        const Bytes stored = testpacks::EncodeContent(content, m);
        pack::MemorySource source(stored);
        Collect sink;
        sink.refuseAfter = 100000;
        pack::Fault fault;
        EXPECT_FALSE(pack::StreamEntry(
            source, 0,
            {static_cast<std::uint8_t>(m), 300000, static_cast<std::uint32_t>(stored.size())}, sink,
            fault));
        EXPECT_EQ(fault.kind, pack::FaultKind::Interrupted);
        EXPECT_EQ(fault.reason, "disk full");
        EXPECT_LE(sink.bytes.size(), 100000u);
    }
}

TEST(EntryDecoderTest, UnknownMethodsNeverYieldAFile) {
    for (std::uint8_t method : {3, 4, 0x7F, 0x80, 0xFF}) {
        const Outcome o = DecodeAll({method, 0, 0}, {});
        EXPECT_FALSE(o.decoded);
        EXPECT_EQ(o.fault.reason, "unknown method " + std::to_string(method));
    }
}

}  // namespace
