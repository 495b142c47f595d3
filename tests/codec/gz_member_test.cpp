// A gzip member is whole or refused: the buffer codec and the in-memory
// streaming decoder give the same verdict on members cut short anywhere, on
// bytes after a member, on two members, and on input that is no gzip.
#include <gtest/gtest.h>

#include <zlib.h>

#include <vector>

#include "codec/GzCodec.h"
#include "codec/GzStream.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Content(std::size_t n, unsigned seed) {
    Bytes out(n);
    unsigned x = seed;
    for (auto& c : out) {
        x = x * 1103515245u + 12345u;
        c = (x >> 20) % 7 == 0 ? static_cast<unsigned char>(x >> 8)
                               : static_cast<unsigned char>('a' + (x >> 24) % 4);
    }
    return out;
}

Bytes Compress(const Bytes& in) {
    std::uint32_t length = 0;
    codec::GzBuffer out =
        codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &length);
    EXPECT_TRUE(out);
    return Bytes(out.get(), out.get() + length);
}

class MemoryInput final : public codec::GzInput {
  public:
    MemoryInput(const unsigned char* p, std::size_t n, std::size_t chunk)
        : p_(p), left_(n), chunk_(chunk) {}
    std::ptrdiff_t Read(unsigned char* buffer, std::size_t capacity) override {
        std::size_t n = std::min({capacity, left_, chunk_});
        std::copy(p_, p_ + n, buffer);
        p_ += n;
        left_ -= n;
        return static_cast<std::ptrdiff_t>(n);
    }

  private:
    const unsigned char* p_;
    std::size_t left_, chunk_;
};

class Collect final : public codec::GzOutput {
  public:
    bool Write(const unsigned char* data, std::size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
    Bytes bytes;
};

// Both decoders on `input`; true when both accept (they must agree).
bool BothAccept(const Bytes& input, std::uint64_t limit, const Bytes* expect = nullptr) {
    std::uint32_t length = 0;
    codec::GzBuffer buffer = codec::GzDecompressBuffer(
        input.data(), static_cast<std::uint32_t>(input.size()), &length, limit);
    std::string reason;
    std::uint64_t decoded = 0;
    std::vector<bool> verdicts;
    // Odd chunk sizes move the member's end across the input blocks.
    for (std::size_t chunk : {std::size_t{1} << 20, std::size_t{7}, std::size_t{4093}}) {
        MemoryInput in(input.data(), input.size(), chunk);
        Collect out;
        const bool ok =
            codec::GzInflateMember(in, out, limit, &decoded, reason) == codec::GzInflateStatus::Ok;
        if (ok && expect) {
            EXPECT_EQ(out.bytes, *expect);
        }
        verdicts.push_back(ok);
    }
    EXPECT_TRUE(verdicts[0] == verdicts[1] && verdicts[1] == verdicts[2]);
    const bool streamOk = verdicts[0];
    EXPECT_EQ(buffer != nullptr, streamOk) << codec::GzLastError() << " / " << reason;
    if (buffer && expect) {
        EXPECT_EQ(Bytes(buffer.get(), buffer.get() + length), *expect);
    }
    return buffer != nullptr && streamOk;
}

TEST(GzMemberTest, WholeMembersDecode) {
    for (std::size_t n : {0u, 1u, 100u, 70000u, 200000u}) {
        const Bytes content = Content(n, static_cast<unsigned>(n) + 7);
        EXPECT_TRUE(BothAccept(Compress(content), codec::GzNoLimit, &content)) << n;
    }
}

// Where the decoded output of a prefix reaches multiples of zlib's buffers,
// its file functions once reported a clean end of file for a cut member.
TEST(GzMemberTest, MembersCutNearBufferBoundariesAreRefused) {
    for (unsigned seed : {200007u, 3u, 99u}) {
        const Bytes content = Content(200000, seed);
        const Bytes gz = Compress(content);
        // Input offsets where the decoded output passes each 64 KiB mark.
        std::vector<std::size_t> marks;
        z_stream z{};
        ASSERT_EQ(inflateInit2(&z, 31), Z_OK);
        Bytes out(1);
        std::size_t produced = 0, next = 65536;
        for (std::size_t i = 0; i < gz.size() && produced < content.size(); ++i) {
            z.next_in = const_cast<unsigned char*>(gz.data() + i);
            z.avail_in = 1;
            do {
                z.next_out = out.data();
                z.avail_out = 1;
                inflate(&z, Z_NO_FLUSH);
                produced += 1 - z.avail_out;
            } while (z.avail_out == 0 && produced < content.size());
            if (produced >= next) {
                marks.push_back(i);
                next += 65536;
            }
        }
        inflateEnd(&z);
        ASSERT_GE(marks.size(), 2u);
        for (std::size_t mark : marks)
            for (std::size_t cut = mark > 40 ? mark - 40 : 0; cut < mark + 40 && cut < gz.size();
                 ++cut) {
                const Bytes part(gz.begin(), gz.begin() + static_cast<std::ptrdiff_t>(cut));
                EXPECT_FALSE(BothAccept(part, codec::GzNoLimit))
                    << "seed " << seed << " cut " << cut;
            }
    }
}

TEST(GzMemberTest, EveryCutOfASmallMemberIsRefused) {
    const Bytes content = Content(3000, 5);
    const Bytes gz = Compress(content);
    for (std::size_t cut = 0; cut < gz.size(); ++cut) {
        const Bytes part(gz.begin(), gz.begin() + static_cast<std::ptrdiff_t>(cut));
        // Cuts of one byte are no gzip (no two-byte magic) and are copied.
        if (cut < 2) {
            EXPECT_TRUE(BothAccept(part, codec::GzNoLimit, &part));
        } else {
            EXPECT_FALSE(BothAccept(part, codec::GzNoLimit)) << cut;
        }
    }
}

TEST(GzMemberTest, OneMemberAndNothingElse) {
    const Bytes a = Content(500, 1), b = Content(700, 2), empty;
    const Bytes ga = Compress(a), gb = Compress(b);
    Bytes two = ga;
    two.insert(two.end(), gb.begin(), gb.end());
    EXPECT_FALSE(BothAccept(two, codec::GzNoLimit));
    for (unsigned char extra : {0x00, 0x1F, 0x41}) {
        Bytes trailing = ga;
        trailing.push_back(extra);
        EXPECT_FALSE(BothAccept(trailing, codec::GzNoLimit)) << int(extra);
    }
    // Bytes after a member are skipped as zlib skips them; the input must
    // still end with a trailer that matches what was decoded. Zero bytes
    // after an empty member, or a repeated trailer, do.
    const Bytes none = Compress({});
    for (std::size_t zeros : {1u, 2u, 8u}) {
        Bytes padded = none;
        padded.insert(padded.end(), zeros, 0);
        EXPECT_TRUE(BothAccept(padded, codec::GzNoLimit, &empty)) << zeros;
    }
    Bytes repeated = ga;
    repeated.push_back(0);
    repeated.insert(repeated.end(), ga.end() - 8, ga.end());
    EXPECT_TRUE(BothAccept(repeated, codec::GzNoLimit, &a));
    // Members run together as zlib reads them: the whole must end with a
    // trailer that matches everything decoded.
    Bytes emptyFirst = none;
    emptyFirst.insert(emptyFirst.end(), gb.begin(), gb.end());
    EXPECT_TRUE(BothAccept(emptyFirst, codec::GzNoLimit, &b));
    Bytes emptyLast = gb;
    emptyLast.insert(emptyLast.end(), none.begin(), none.end());
    EXPECT_FALSE(BothAccept(emptyLast, codec::GzNoLimit));
    // A damaged trailer: CRC and length each off by one bit.
    for (std::size_t back : {8u, 4u}) {
        Bytes bad = ga;
        bad[bad.size() - back] ^= 1;
        EXPECT_FALSE(BothAccept(bad, codec::GzNoLimit)) << back;
    }
}

TEST(GzMemberTest, LimitAndTransparentInput) {
    const Bytes content = Content(10000, 4);
    const Bytes gz = Compress(content);
    EXPECT_TRUE(BothAccept(gz, 10000, &content));
    EXPECT_FALSE(BothAccept(gz, 9999));
    const Bytes text = {'p', 'l', 'a', 'i', 'n'};
    EXPECT_TRUE(BothAccept(text, 5, &text));
    EXPECT_FALSE(BothAccept(text, 4));
    const Bytes empty;
    EXPECT_TRUE(BothAccept(empty, 0, &empty));
}

}  // namespace
