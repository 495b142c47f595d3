// LZRW3-A codec: hand-computed blocks, group boundaries, round trips, a
// byte-at-a-time model of the coder that the optimised one must match byte
// for byte, and corrupt blocks that must be refused without overrunning.
#include "codec/Lzrw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using codec::LzrwCompressSlack;
using codec::LzrwWorkMemorySize;

Bytes B(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ---------------------------------------------------------------------------
// Reference model: the algorithm transcribed step by step, one byte at a
// time, with plain indices. Kept deliberately simple and separate from the
// codec so that the codec's shortcuts are checked against it.

constexpr char kRefStart[] = "123456789012345678";

std::uint32_t RefRow(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
    const std::uint32_t key = (std::uint32_t(b0) << 8) ^ (std::uint32_t(b1) << 4) ^ b2;
    return ((40543u * key) >> 4) & 0x1FF;
}

Bytes RefCompress(const Bytes& src) {
    const std::size_t n = src.size();
    Bytes out(4, 0);
    std::size_t controlPos = out.size();
    out.resize(out.size() + 2);
    std::uint32_t acc = 0xFFFF0000u;
    std::array<long long, 4096> table;  // -1: the start string
    table.fill(-1);
    long long r1 = -1, r2 = -1;  // rows of pending literals; -1: none
    unsigned cycle = 0;
    auto insert = [&](std::uint32_t row, std::size_t pos) {
        table[row * 8 + cycle] = static_cast<long long>(pos);
        cycle = (cycle + 1) % 8;
    };
    auto byteAt = [&](long long at, std::size_t k) -> std::uint8_t {
        return at < 0 ? static_cast<std::uint8_t>(kRefStart[k]) : src[at + k];
    };
    std::size_t p = 0;
    for (;;) {
        if (out.size() > n) {
            Bytes stored = {1, 0, 0, 0};
            stored.insert(stored.end(), src.begin(), src.end());
            return stored;
        }
        const std::size_t remaining = n - p;
        const int items = remaining >= 288 ? 16 : 1;
        if (remaining == 0)
            break;
        for (int k = 0; k < items; ++k) {
            std::uint32_t row = 0;
            std::size_t best = 0;
            std::uint32_t bestSlot = 0;
            if (n - p >= 18) {
                row = RefRow(src[p], src[p + 1], src[p + 2]);
                for (std::uint32_t s = 0; s < 8; ++s) {
                    const long long at = table[row * 8 + s];
                    std::size_t count = 0;
                    while (count < 18 && byteAt(at, count) == src[p + count])
                        ++count;
                    if (count > best) {
                        best = count;
                        bestSlot = s;
                    }
                }
            }
            if (best < 3) {
                out.push_back(src[p]);
                if (r2 >= 0)
                    insert(static_cast<std::uint32_t>(r2), p - 2);
                r2 = r1;
                r1 = row;
                p += 1;
                acc &= ~0x10000u;
                acc >>= 1;
            } else {
                const std::uint32_t index = row * 8 + bestSlot;
                out.push_back(static_cast<std::uint8_t>(((index & 0xF00) >> 4) | (best - 3)));
                out.push_back(static_cast<std::uint8_t>(index & 0xFF));
                if (r1 >= 0) {
                    if (r2 >= 0) {
                        insert(static_cast<std::uint32_t>(r2), p - 2);
                        r2 = -1;
                    }
                    insert(static_cast<std::uint32_t>(r1), p - 1);
                    r1 = -1;
                }
                insert(row, p);
                p += best;
                acc >>= 1;
            }
        }
        if ((acc >> 16) == 0) {
            out[controlPos] = acc & 0xFF;
            out[controlPos + 1] = (acc >> 8) & 0xFF;
            controlPos = out.size();
            out.resize(out.size() + 2);
            acc = 0xFFFF0000u;
        }
    }
    while ((acc >> 16) != 0)
        acc >>= 1;
    out[controlPos] = acc & 0xFF;
    out[controlPos + 1] = (acc >> 8) & 0xFF;
    if (controlPos + 2 == out.size())
        out.resize(controlPos);
    return out;
}

// The decoder as described, with every read and write checked. Refuses
// what the codec refuses: short or odd header, stored copy too big, copy
// past the capacity, truncated item or control word, control word with no
// item, zero bits after the last item.
std::optional<Bytes> RefDecompress(const Bytes& block, std::size_t capacity) {
    if (block.size() < 4)
        return std::nullopt;
    if (block[0] == 1) {
        if (block.size() - 4 > capacity)
            return std::nullopt;
        return Bytes(block.begin() + 4, block.end());
    }
    std::array<long long, 4096> table;
    table.fill(-1);
    unsigned cycle = 0;
    Bytes out;
    auto insertAt = [&](std::size_t pos) {
        const std::uint32_t row = RefRow(out[pos], out[pos + 1], out[pos + 2]);
        table[row * 8 + cycle] = static_cast<long long>(pos);
        cycle = (cycle + 1) % 8;
    };
    std::size_t literals = 0;
    std::uint32_t control = 1;
    std::size_t pos = 4;
    while (pos < block.size()) {
        if (control == 1) {
            if (block.size() - pos < 3)
                return std::nullopt;
            control = 0x10000u | block[pos] | (std::uint32_t(block[pos + 1]) << 8);
            pos += 2;
        }
        if (control & 1) {
            if (block.size() - pos < 2)
                return std::nullopt;
            const std::uint32_t a = block[pos], b = block[pos + 1];
            pos += 2;
            const std::uint32_t index = ((a & 0xF0) << 4) | b;
            const std::size_t length = (a & 0x0F) + 3;
            if (out.size() + length > capacity)
                return std::nullopt;
            const std::size_t q = out.size();
            const long long at = table[index];
            for (std::size_t i = 0; i < length; ++i) {
                out.push_back(at < 0 ? static_cast<std::uint8_t>(kRefStart[i]) : out[at + i]);
            }
            if (literals > 0) {
                insertAt(q - literals);
                if (literals == 2)
                    insertAt(q - 1);
                literals = 0;
            }
            table[(index & ~7u) + cycle] = static_cast<long long>(q);
            cycle = (cycle + 1) % 8;
        } else {
            if (out.size() == capacity)
                return std::nullopt;
            out.push_back(block[pos++]);
            if (++literals == 3) {
                insertAt(out.size() - 3);
                literals = 2;
            }
        }
        control >>= 1;
    }
    for (; control != 1; control >>= 1) {
        if ((control & 1) == 0)
            return std::nullopt;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Calls into the codec with buffers of exactly the promised sizes, so that
// the sanitizer build catches any access beyond them.

Bytes Compress(const Bytes& src) {
    Bytes work(LzrwWorkMemorySize);
    Bytes dst(src.size() + LzrwCompressSlack);
    std::uint32_t length = 0xDEADBEEF;
    codec::LzrwCompress(work.data(), src.data(), static_cast<std::uint32_t>(src.size()), dst.data(),
                        &length);
    EXPECT_LE(length, src.size() + 4);
    dst.resize(std::min<std::size_t>(length, dst.size()));
    return dst;
}

std::optional<Bytes> Decompress(const Bytes& block, std::size_t capacity) {
    Bytes work(LzrwWorkMemorySize);
    const Bytes in(block.begin(), block.end());
    std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[capacity]);
    std::uint32_t length = 0xDEADBEEF;
    if (!codec::LzrwDecompress(work.data(), in.data(), static_cast<std::uint32_t>(in.size()),
                               out.get(), static_cast<std::uint32_t>(capacity), &length)) {
        EXPECT_EQ(length, 0xDEADBEEFu) << "length written on failure";
        return std::nullopt;
    }
    EXPECT_LE(length, capacity);
    return Bytes(out.get(), out.get() + std::min<std::size_t>(length, capacity));
}

// Inputs of various kinds.
Bytes RandomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>(rng());
    return out;
}

Bytes WordText(std::size_t n, std::uint32_t seed) {
    static const char* const kWords[] = {
        "the ",    "pack ", "file ", "folder ", "of ",       "and ",        "struct ", "int ",
        "return ", "0;\n",  "{\n",   "}\n",     "#include ", "<stdio.h>\n", "    ",    "static "};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < n) {
        const char* w = kWords[rng() % std::size(kWords)];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}

Bytes Repeating(std::size_t n, const std::string& unit) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(unit[i % unit.size()]);
    return out;
}

// Text with runs and random noise mixed in, so that every item kind and
// every copy distance turns up.
Bytes Mixed(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < n) {
        switch (rng() % 4) {
            case 0:
                out.insert(out.end(), 1 + rng() % 40, static_cast<std::uint8_t>(rng()));
                break;
            case 1: {
                Bytes r = RandomBytes(1 + rng() % 20, rng());
                out.insert(out.end(), r.begin(), r.end());
                break;
            }
            case 2: {
                Bytes t = WordText(1 + rng() % 100, rng());
                out.insert(out.end(), t.begin(), t.end());
                break;
            }
            default:
                if (!out.empty()) {
                    const std::size_t back = 1 + rng() % std::min<std::size_t>(out.size(), 64);
                    const std::size_t len = 1 + rng() % 30;
                    for (std::size_t i = 0; i < len; ++i)
                        out.push_back(out[out.size() - back]);
                }
        }
    }
    out.resize(n);
    return out;
}

std::vector<Bytes> Contents(std::size_t n, std::uint32_t seed) {
    return {RandomBytes(n, seed), WordText(n, seed),          Repeating(n, "a"),
            Repeating(n, "ab"),   Repeating(n, "1234567890"), Mixed(n, seed)};
}

// Checks one input both ways: the block equals the model's, and decodes back.
void CheckRoundTrip(const Bytes& src) {
    const Bytes block = Compress(src);
    ASSERT_EQ(block, RefCompress(src)) << "size " << src.size();
    const auto back = Decompress(block, src.size());
    ASSERT_TRUE(back.has_value()) << "size " << src.size();
    ASSERT_EQ(*back, src) << "size " << src.size();
}

// ---------------------------------------------------------------------------

TEST(LzrwCodecTest, WorkedExamplesGiveHandComputedBlocks) {
    struct Case {
        const char* what;
        Bytes source;
        Bytes block;
    };
    const Bytes a33 = Repeating(33, "a");
    const Bytes a34 = Repeating(34, "a");
    const Bytes a36 = Repeating(36, "a");
    // 'a' x N: three literals ("aaa" is in row 14 from the third on), one
    // copy of 18 from slot 0 of row 14 (index 0x070), then literals only.
    const Bytes group1 =
        Concat(B({0, 0, 0, 0, 0x08, 0x00, 'a', 'a', 'a', 0x0F, 0x70}), Repeating(12, "a"));
    const Case cases[] = {
        {"empty source is stored", {}, B({1, 0, 0, 0})},
        {"five bytes are always stored", Text("aaaaa"), B({1, 0, 0, 0, 'a', 'a', 'a', 'a', 'a'})},
        {"start string is one copy from row 240", Text("123456789012345678"),
         B({0, 0, 0, 0, 0xFF, 0xFF, 0x7F, 0x80})},
        {"items end at a group boundary: no further control word", a33, group1},
        {"one literal after a full group", a34, Concat(group1, B({0xFE, 0xFF, 'a'}))},
        {"three literals after a full group", a36, Concat(group1, B({0xF8, 0xFF, 'a', 'a', 'a'}))},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Compress(c.source), c.block) << c.what;
        EXPECT_EQ(RefCompress(c.source), c.block) << c.what;
        const auto back = Decompress(c.block, c.source.size());
        ASSERT_TRUE(back.has_value()) << c.what;
        EXPECT_EQ(*back, c.source) << c.what;
    }
}

TEST(LzrwCodecTest, OneCopyAfterAFullGroupHasAllControlBitsSet) {
    // Sixteen literals (0xFF down to 0xF0, rows away from 240), then the
    // start string as one copy item in a group of its own.
    Bytes src;
    for (int b = 0xFF; b >= 0xF0; --b)
        src.push_back(static_cast<std::uint8_t>(b));
    const Bytes literals = src;
    src = Concat(src, Text("123456789012345678"));
    const Bytes expected =
        Concat(Concat(B({0, 0, 0, 0, 0x00, 0x00}), literals), B({0xFF, 0xFF, 0x7F, 0x80}));
    EXPECT_EQ(Compress(src), expected);
    EXPECT_EQ(RefCompress(src), expected);
    EXPECT_EQ(Decompress(expected, src.size()), src);
}

TEST(LzrwCodecTest, HandBuiltBlocksDecodeToHandComputedOutput) {
    struct Case {
        const char* what;
        Bytes block;
        std::string output;
    };
    const Case cases[] = {
        {"literal, then four bytes from the start string via slot 5 of row 0",
         B({0, 0, 0, 0, 0xFE, 0xFF, 'x', 0x01, 0x05}), "x1234"},
        {"third literal puts 'abc' into row 189; an overlapping copy repeats it",
         B({0, 0, 0, 0, 0xF8, 0xFF, 'a', 'b', 'c', 0x53, 0xE8}), "abcabcabc"},
        {"copy after two literals: 'xy1' to row 427 slot 0, 'y12' slot 1, the copy to row 0 "
         "slot 2",
         B({0, 0, 0, 0, 0xFC, 0xFF, 'x', 'y', 0x00, 0x00, 0x00, 0x02, 0xD2, 0x58}),
         "xy123123xy123"},
        {"empty compressed body", B({0, 0, 0, 0}), ""},
        {"stored copy", B({1, 0, 0, 0, 'h', 'i'}), "hi"},
    };
    for (const Case& c : cases) {
        const auto out = Decompress(c.block, c.output.size());
        ASSERT_TRUE(out.has_value()) << c.what;
        EXPECT_EQ(*out, Text(c.output)) << c.what;
        EXPECT_EQ(RefDecompress(c.block, c.output.size()), Text(c.output)) << c.what;
    }
}

TEST(LzrwCodecTest, LiteralOnlyInputBecomesStoredCopy) {
    // Descending bytes: no three-byte sequence repeats, "123" never occurs.
    Bytes src(256);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<std::uint8_t>(255 - i);
    const Bytes block = Compress(src);
    EXPECT_EQ(block, Concat(B({1, 0, 0, 0}), src));
    EXPECT_EQ(Decompress(block, src.size()), src);

    const Bytes noise = RandomBytes(5000, 7);
    const Bytes noiseBlock = Compress(noise);
    EXPECT_EQ(noiseBlock[0], 1);
    EXPECT_EQ(noiseBlock.size(), noise.size() + 4);
}

TEST(LzrwCodecTest, RunOfOneByteUsesOverlappingCopies) {
    for (std::size_t n : {40u, 300u, 1000u, 70000u}) {
        const Bytes src = Repeating(n, "z");
        const Bytes block = Compress(src);
        EXPECT_EQ(block[0], 0);
        EXPECT_LT(block.size(), n / 8 + 40);
        EXPECT_EQ(Decompress(block, n), src);
        EXPECT_EQ(block, RefCompress(src));
    }
}

TEST(LzrwCodecTest, RoundTripsMatchTheModelAtEverySmallSize) {
    for (std::size_t n = 0; n <= 700; ++n) {
        for (const Bytes& src : Contents(n, static_cast<std::uint32_t>(n))) {
            CheckRoundTrip(src);
            if (HasFatalFailure())
                return;
        }
    }
}

TEST(LzrwCodecTest, RoundTripsMatchTheModelOnLargerInputs) {
    std::mt19937 rng(99);
    for (int i = 0; i < 40; ++i) {
        const std::size_t n = 700 + rng() % 9000;
        for (const Bytes& src : Contents(n, rng())) {
            CheckRoundTrip(src);
            if (HasFatalFailure())
                return;
        }
    }
    CheckRoundTrip(Mixed(3u << 20, 5));
    CheckRoundTrip(WordText(2u << 20, 6));
}

TEST(LzrwCodecTest, EveryTruncationFailsOrDecodesAPrefix) {
    for (const Bytes& src : {WordText(1500, 1), Mixed(1500, 2), Repeating(600, "q")}) {
        const Bytes block = Compress(src);
        ASSERT_EQ(block[0], 0);
        for (std::size_t cut = 0; cut < block.size(); ++cut) {
            const Bytes part(block.begin(), block.begin() + cut);
            const auto out = Decompress(part, src.size());
            EXPECT_EQ(out, RefDecompress(part, src.size())) << "cut " << cut;
            if (out) {
                ASSERT_LT(out->size(), src.size()) << "cut " << cut;
                EXPECT_TRUE(std::equal(out->begin(), out->end(), src.begin())) << "cut " << cut;
            }
        }
    }
}

TEST(LzrwCodecTest, CorruptBlocksAreRefused) {
    struct Case {
        const char* what;
        Bytes block;
        std::size_t capacity;
    };
    const Case cases[] = {
        {"no header", {}, 10},
        {"header cut short", B({0, 0, 0}), 10},
        {"stored copy larger than the room", B({1, 0, 0, 0, 'a', 'b', 'c'}), 2},
        {"control word cut short", B({0, 0, 0, 0, 0xFE}), 10},
        {"control word with no item", B({0, 0, 0, 0, 0xFE, 0xFF}), 10},
        {"copy item cut short", B({0, 0, 0, 0, 0xFF, 0xFF, 0x7F}), 30},
        {"literal announced but missing", B({0, 0, 0, 0, 0xFC, 0xFF, 'a'}), 30},
        {"copy past the room", B({0, 0, 0, 0, 0xFF, 0xFF, 0x7F, 0x80}), 17},
        {"literal past the room", B({0, 0, 0, 0, 0xFC, 0xFF, 'a', 'b'}), 1},
        {"second control word cut short",
         Concat(Concat(B({0, 0, 0, 0, 0x00, 0x00}), Repeating(16, "a")), B({0xFE})), 40},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(Decompress(c.block, c.capacity).has_value()) << c.what;
        EXPECT_FALSE(RefDecompress(c.block, c.capacity).has_value()) << c.what;
    }
}

// Flag 1 is a stored copy; any other flag a compressed body, as other
// writers of the format may set it; bytes 1-3 are never read.
TEST(LzrwCodecTest, FlagOneIsStoredAnyOtherFlagCompressedPaddingIgnored) {
    const Bytes src = WordText(900, 9);
    const Bytes block = Compress(src);
    ASSERT_EQ(block[0], 0);
    const Bytes body(block.begin() + 4, block.end());
    for (std::uint8_t flag : {0, 2, 3, 0x10, 0x80, 0xFF}) {
        for (const Bytes& padding : {B({0, 0, 0}), B({1, 2, 3}), B({0xFF, 0xFF, 0xFF})}) {
            const Bytes variant = Concat(Concat(B({flag}), padding), body);
            EXPECT_EQ(Decompress(variant, src.size()), src) << int(flag);
            EXPECT_EQ(RefDecompress(variant, src.size()), src) << int(flag);
        }
    }
    // Flag 1 with any padding: the body itself, even one that reads as items.
    for (const Bytes& padding : {B({0, 0, 0}), B({9, 0, 7})}) {
        const Bytes stored = Concat(Concat(B({1}), padding), body);
        EXPECT_EQ(Decompress(stored, body.size()), body);
        EXPECT_FALSE(Decompress(stored, body.size() - 1).has_value());
    }
    // An empty body decodes to nothing whatever the flag.
    EXPECT_EQ(Decompress(B({7, 1, 1, 1}), 0), Bytes());
    EXPECT_EQ(Decompress(B({1, 1, 1, 1}), 0), Bytes());
}

TEST(LzrwCodecTest, EveryCapacityBelowTheSizeFails) {
    for (const Bytes& src : {WordText(1200, 3), Repeating(1000, "ab"), Repeating(1000, "z"),
                             RandomBytes(100, 4), Text("123456789012345678")}) {
        const Bytes block = Compress(src);
        EXPECT_EQ(Decompress(block, src.size()), src);
        EXPECT_EQ(Decompress(block, src.size() + 100), src);
        for (std::size_t capacity = 0; capacity < src.size(); ++capacity) {
            ASSERT_FALSE(Decompress(block, capacity).has_value())
                << "size " << src.size() << " capacity " << capacity;
        }
    }
}

TEST(LzrwCodecTest, DamagedBlocksDecodeLikeTheModelWithoutOverrun) {
    std::mt19937 rng(2024);
    int refused = 0;
    for (int round = 0; round < 1500; ++round) {
        const Bytes src = Mixed(200 + rng() % 3000, rng());
        Bytes block = Compress(src);
        if (block[0] != 0)
            continue;
        const int flips = 1 + static_cast<int>(rng() % 3);
        for (int f = 0; f < flips; ++f) {
            block[4 + rng() % (block.size() - 4)] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        }
        const std::size_t capacity = src.size() + (rng() % 2 ? 0 : rng() % 64);
        const auto out = Decompress(block, capacity);
        ASSERT_EQ(out, RefDecompress(block, capacity)) << "round " << round;
        refused += out ? 0 : 1;
    }
    // Garbage bodies behind a valid header.
    for (int round = 0; round < 500; ++round) {
        const Bytes block = Concat(B({0, 0, 0, 0}), RandomBytes(1 + rng() % 400, rng()));
        const std::size_t capacity = rng() % 4000;
        ASSERT_EQ(Decompress(block, capacity), RefDecompress(block, capacity)) << round;
    }
    EXPECT_GT(refused, 100);
}

TEST(LzrwCodecTest, DispatchByLowByteOfAction) {
    const Bytes src = WordText(3000, 8);
    Bytes work(LzrwWorkMemorySize);
    Bytes packed(src.size() + LzrwCompressSlack);
    std::uint32_t packedLength = 0;
    ASSERT_TRUE(codec::LzrwCodec(0x101, work.data(), src.data(),
                                 static_cast<std::uint32_t>(src.size()), packed.data(),
                                 static_cast<std::uint32_t>(packed.size()), &packedLength));
    packed.resize(packedLength);
    EXPECT_EQ(packed, RefCompress(src));

    Bytes out(src.size());
    std::uint32_t outLength = 0;
    ASSERT_TRUE(codec::LzrwCodec(2, work.data(), packed.data(), packedLength, out.data(),
                                 static_cast<std::uint32_t>(out.size()), &outLength));
    EXPECT_EQ(outLength, src.size());
    EXPECT_EQ(out, src);

    // Unknown actions and a compress target without the slack do nothing.
    for (unsigned action : {0u, 3u, 0xFFu, 0x200u}) {
        Bytes dst(src.size() + LzrwCompressSlack, 0xAA);
        std::uint32_t length = 12345;
        EXPECT_FALSE(codec::LzrwCodec(action, work.data(), src.data(),
                                      static_cast<std::uint32_t>(src.size()), dst.data(),
                                      static_cast<std::uint32_t>(dst.size()), &length))
            << action;
        EXPECT_EQ(length, 12345u) << action;
        EXPECT_EQ(dst, Bytes(src.size() + LzrwCompressSlack, 0xAA)) << action;
    }
    Bytes small(src.size() + LzrwCompressSlack - 1, 0xAA);
    std::uint32_t length = 12345;
    EXPECT_FALSE(codec::LzrwCodec(1, work.data(), src.data(),
                                  static_cast<std::uint32_t>(src.size()), small.data(),
                                  static_cast<std::uint32_t>(small.size()), &length));
    EXPECT_EQ(length, 12345u);
    EXPECT_EQ(small, Bytes(small.size(), 0xAA));
}

TEST(LzrwCodecTest, WorkAreaOfAnyAlignment) {
    const Bytes src = Mixed(20000, 11);
    const Bytes expected = RefCompress(src);
    for (std::size_t offset = 0; offset < 8; ++offset) {
        // Exactly LzrwWorkMemorySize bytes from the offset on.
        std::unique_ptr<std::uint8_t[]> raw(new std::uint8_t[offset + LzrwWorkMemorySize]);
        void* work = raw.get() + offset;
        Bytes dst(src.size() + LzrwCompressSlack);
        std::uint32_t length = 0;
        codec::LzrwCompress(work, src.data(), static_cast<std::uint32_t>(src.size()), dst.data(),
                            &length);
        dst.resize(length);
        EXPECT_EQ(dst, expected) << offset;
        Bytes out(src.size());
        std::uint32_t outLength = 0;
        ASSERT_TRUE(codec::LzrwDecompress(work, dst.data(), length, out.data(),
                                          static_cast<std::uint32_t>(out.size()), &outLength));
        EXPECT_EQ(out, src) << offset;
    }
}

}  // namespace
