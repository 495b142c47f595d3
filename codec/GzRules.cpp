// GzRules.cpp - a deflate walker with zlib's rules, for streams libdeflate
// has accepted.
//
// It reads exactly as an inflater does (block headers, code tables, one
// symbol after another) but writes nothing: distances are not followed,
// since both decoders refuse one that reaches before the start alike.
// Tables follow zlib's rules for what a code may be: never over-subscribed;
// incomplete only as one code of one bit (literal/length and distance
// codes) or no code at all (distance codes); the code-length code always
// complete.
#include "codec/GzRules.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace codec {
namespace {

constexpr int kMaxCodeBits = 15;
constexpr unsigned kLiteralCodes = 286;  // 0-255, end of block, 29 lengths
constexpr unsigned kDistanceCodes = 30;
constexpr unsigned kFixedLiteralCodes = 288;  // 286 and 287 have codes but no meaning
constexpr unsigned kFixedDistanceCodes = 32;  // so do 30 and 31
constexpr unsigned kCodeLengthCodes = 19;
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kFirstLength = 257;

// Bits looked up at once; longer codes are decoded bit by bit (they are
// rare by construction: a code of n bits stands for about 2^-n of the
// symbols).
constexpr int kLiteralRoot = 10;
constexpr int kDistanceRoot = 8;
constexpr int kCodeLengthRoot = 7;  // code-length codes have at most 7 bits

constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint8_t kDistanceExtra[kDistanceCodes] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                         4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                         9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static_assert(kFirstLength + sizeof kLengthExtra == kLiteralCodes);
// The code lengths of a dynamic block come in this order.
constexpr std::uint8_t kCodeLengthOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                             11, 4,  12, 3, 13, 2, 14, 1, 15};

// Most bits one symbol takes: a length code and its extra bits, then a
// distance code and its extra bits.
constexpr unsigned kMaxSymbolBits = kMaxCodeBits + 5 + kMaxCodeBits + 13;

// A table entry: bits 0-7 how many bits the symbol takes with its extra
// bits, 8-15 its kind, 16-31 the symbol.
enum Kind : std::uint32_t {
    kLiteral,  // for a code-length code: every symbol
    kLength,   // for a distance code: every valid symbol
    kEnd,      // end of block
    kLong,     // a code longer than the table's root: decode bit by bit
    kInvalid,  // bits that name no symbol, or a symbol without meaning
};
constexpr std::uint32_t MakeEntry(std::uint32_t bits, Kind kind, std::uint32_t symbol) {
    return bits | static_cast<std::uint32_t>(kind) << 8 | symbol << 16;
}
constexpr std::uint32_t BitsOf(std::uint32_t entry) {
    return entry & 0xFF;
}
constexpr Kind KindOf(std::uint32_t entry) {
    return static_cast<Kind>((entry >> 8) & 0xFF);
}
constexpr std::uint32_t SymbolOf(std::uint32_t entry) {
    return entry >> 16;
}

enum class Alphabet { Literal, Distance, CodeLength };

// A code's counts and decoding table. Left uninitialised until Check and
// Fill: most members need counts only, and clearing the tables would cost
// more than checking them.
struct Code {
    Alphabet alphabet;
    unsigned valid;  // symbols from here on have no meaning
    int root;
    bool complete;
    std::uint16_t count[kMaxCodeBits + 1];
    std::uint16_t sorted[kFixedLiteralCodes];  // by code length, then symbol
    std::uint32_t table[1u << kLiteralRoot];
};

void Prepare(Code& code, Alphabet alphabet, unsigned valid, int root) {
    code.alphabet = alphabet;
    code.valid = valid;
    code.root = root;
}

std::uint32_t EntryFor(const Code& code, unsigned symbol, unsigned bits) {
    if (symbol >= code.valid)
        return MakeEntry(bits, kInvalid, symbol);
    switch (code.alphabet) {
        case Alphabet::CodeLength:
            return MakeEntry(bits, kLiteral, symbol);
        case Alphabet::Distance:
            return MakeEntry(bits + kDistanceExtra[symbol], kLength, symbol);
        case Alphabet::Literal:
            break;
    }
    if (symbol < kEndOfBlock)
        return MakeEntry(bits, kLiteral, symbol);
    if (symbol == kEndOfBlock)
        return MakeEntry(bits, kEnd, symbol);
    return MakeEntry(bits + kLengthExtra[symbol - kFirstLength], kLength, symbol);
}

std::uint32_t Reverse(std::uint32_t value, int bits) {
    std::uint32_t out = 0;
    for (int i = 0; i < bits; ++i, value >>= 1)
        out = out << 1 | (value & 1);
    return out;
}

// Counts the lengths of a code of n symbols; false where zlib refuses the
// code.
bool Check(const std::uint8_t* lengths, unsigned n, Code& code) {
    std::memset(code.count, 0, sizeof code.count);
    for (unsigned s = 0; s < n; ++s)
        ++code.count[lengths[s]];
    code.count[0] = 0;
    int left = 1;
    int longest = 0;
    for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
        left = (left << 1) - code.count[bits];
        if (left < 0)
            return false;  // over-subscribed
        if (code.count[bits] != 0)
            longest = bits;
    }
    code.complete = left == 0;
    if (left > 0 && longest != 0 && (code.alphabet == Alphabet::CodeLength || longest != 1))
        return false;  // incomplete beyond one one-bit code
    if (longest == 0 && code.alphabet == Alphabet::CodeLength)
        return false;  // every length would read as 0: no end of block
    return true;
}

// The canonical codes of a checked code, in its table.
void Fill(const std::uint8_t* lengths, unsigned n, Code& code) {
    std::uint16_t offset[kMaxCodeBits + 2] = {};
    std::uint32_t next[kMaxCodeBits + 1] = {};
    for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
        offset[bits + 1] = static_cast<std::uint16_t>(offset[bits] + code.count[bits]);
        next[bits] = (next[bits - 1] + code.count[bits - 1]) << 1;
    }
    const std::uint32_t size = 1u << code.root;
    for (std::uint32_t i = 0; i < size; ++i)
        code.table[i] = MakeEntry(0, kInvalid, 0);
    for (unsigned s = 0; s < n; ++s) {
        const int bits = lengths[s];
        if (bits == 0)
            continue;
        code.sorted[offset[bits]++] = static_cast<std::uint16_t>(s);
        // Streams carry codes first bit first: the table is indexed by the
        // reversed code.
        const std::uint32_t reversed = Reverse(next[bits]++, bits);
        if (bits <= code.root) {
            const std::uint32_t entry = EntryFor(code, s, static_cast<unsigned>(bits));
            for (std::uint32_t i = reversed; i < size; i += 1u << bits)
                code.table[i] = entry;
        } else {
            code.table[reversed & (size - 1)] = MakeEntry(0, kLong, 0);
        }
    }
}

// Bits of the stream, first bit lowest. Past the end it reads zero bytes
// and counts them; a walk that uses more than a buffer's worth of them has
// left the stream.
struct Bits {
    const unsigned char* begin;
    const unsigned char* pos;
    const unsigned char* end;
    std::uint64_t buffer = 0;
    unsigned count = 0;
    std::size_t overread = 0;

    static constexpr std::size_t kMaxOverread = sizeof(std::uint64_t);

    // At least 56 bits in the buffer afterwards; false once past the end.
    bool Refill() {
        if (end - pos >= 8) {
            std::uint64_t word;
            std::memcpy(&word, pos, sizeof word);
            buffer |= word << count;
            pos += (63 - count) >> 3;
            count |= 56;
            return true;
        }
        while (count <= 56) {
            if (pos < end)
                buffer |= static_cast<std::uint64_t>(*pos++) << count;
            else
                ++overread;
            count += 8;
        }
        return overread <= kMaxOverread;
    }
    bool Need(unsigned n) { return count >= n || Refill(); }
    std::uint32_t Take(unsigned n) {
        const auto value = static_cast<std::uint32_t>(buffer & ((std::uint64_t{1} << n) - 1));
        Drop(n);
        return value;
    }
    void Drop(unsigned n) {
        buffer >>= n;
        count -= n;
    }
    std::uint64_t BitsUsed() const {
        return (static_cast<std::uint64_t>(pos - begin) + overread) * 8 - count;
    }
};
static_assert(kMaxSymbolBits <= 56);
static_assert(std::endian::native == std::endian::little, "Refill reads words as little-endian");

// A code longer than the table's root, read bit by bit from `buffer`
// (canonical order: the codes of one length are consecutive numbers, after
// the shorter ones).
std::uint32_t DecodeLong(const Code& code, std::uint64_t buffer) {
    int value = 0;
    int first = 0;
    int index = 0;
    for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
        value |= static_cast<int>((buffer >> (bits - 1)) & 1);
        const int count = code.count[bits];
        if (value - count < first)
            return EntryFor(code, code.sorted[index + (value - first)],
                            static_cast<unsigned>(bits));
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return MakeEntry(0, kInvalid, 0);
}

// The symbols of one block up to its end; false at a symbol zlib refuses.
// The bit buffer lives in locals here: this loop is where the time goes.
bool WalkBlock(Bits& in, const Code& literals, const Code& distances) {
    const std::uint32_t literalMask = (1u << literals.root) - 1;
    const std::uint32_t distanceMask = (1u << distances.root) - 1;
    std::uint64_t buffer = in.buffer;
    unsigned count = in.count;
    auto drop = [&](std::uint32_t entry) {
        buffer >>= BitsOf(entry);
        count -= BitsOf(entry);
    };
    for (;;) {
        if (count < kMaxSymbolBits) {
            in.buffer = buffer;
            in.count = count;
            if (!in.Refill())
                return false;
            buffer = in.buffer;
            count = in.count;
        }
        std::uint32_t entry = literals.table[buffer & literalMask];
        if (KindOf(entry) == kLiteral) {
            drop(entry);
            continue;
        }
        if (KindOf(entry) == kLong)
            entry = DecodeLong(literals, buffer);
        if (KindOf(entry) == kLiteral) {
            drop(entry);
            continue;
        }
        if (KindOf(entry) != kLength) {
            if (KindOf(entry) != kEnd)
                return false;
            drop(entry);
            in.buffer = buffer;
            in.count = count;
            return true;
        }
        drop(entry);
        entry = distances.table[buffer & distanceMask];
        if (KindOf(entry) == kLong)
            entry = DecodeLong(distances, buffer);
        if (KindOf(entry) != kLength)
            return false;
        drop(entry);
    }
}

struct FixedCodes {
    Code literals;
    Code distances;
    FixedCodes() {
        std::uint8_t lengths[kFixedLiteralCodes];
        for (unsigned s = 0; s < kFixedLiteralCodes; ++s)
            lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        Prepare(literals, Alphabet::Literal, kLiteralCodes, kLiteralRoot);
        Check(lengths, kFixedLiteralCodes, literals);
        Fill(lengths, kFixedLiteralCodes, literals);
        std::uint8_t five[kFixedDistanceCodes];
        std::memset(five, 5, sizeof five);
        Prepare(distances, Alphabet::Distance, kDistanceCodes, kDistanceRoot);
        Check(five, kFixedDistanceCodes, distances);
        Fill(five, kFixedDistanceCodes, distances);
    }
};

// The code lengths of a dynamic block, checked as zlib checks them: the
// literal/length code's in lengths[0, literalCount), then the distance
// code's (distanceCount).
bool ReadDynamicHeader(Bits& in, std::uint8_t (&lengths)[kLiteralCodes + kDistanceCodes],
                       unsigned& literalCount, unsigned& distanceCount, Code& literals,
                       Code& distances) {
    if (!in.Need(14))
        return false;
    literalCount = in.Take(5) + kFirstLength;
    distanceCount = in.Take(5) + 1;
    const unsigned codeLengthCount = in.Take(4) + 4;
    if (literalCount > kLiteralCodes || distanceCount > kDistanceCodes)
        return false;

    std::memset(lengths, 0, kCodeLengthCodes);
    for (unsigned i = 0; i < codeLengthCount; ++i) {
        if (!in.Need(3))
            return false;
        lengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(in.Take(3));
    }
    Code codeLengths;
    Prepare(codeLengths, Alphabet::CodeLength, kCodeLengthCodes, kCodeLengthRoot);
    if (!Check(lengths, kCodeLengthCodes, codeLengths))
        return false;
    Fill(lengths, kCodeLengthCodes, codeLengths);

    const unsigned total = literalCount + distanceCount;
    unsigned have = 0;
    while (have < total) {
        if (!in.Need(kCodeLengthRoot + 7))
            return false;
        const std::uint32_t entry = codeLengths.table[in.buffer & ((1u << kCodeLengthRoot) - 1)];
        if (KindOf(entry) != kLiteral)
            return false;
        in.Drop(BitsOf(entry));
        const std::uint32_t symbol = SymbolOf(entry);
        if (symbol < 16) {
            lengths[have++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        std::uint8_t value = 0;
        unsigned repeat = 0;
        if (symbol == 16) {
            if (have == 0)
                return false;  // nothing to repeat
            value = lengths[have - 1];
            repeat = 3 + in.Take(2);
        } else if (symbol == 17) {
            repeat = 3 + in.Take(3);
        } else {
            repeat = 11 + in.Take(7);
        }
        if (repeat > total - have)
            return false;  // runs past the declared codes
        std::memset(lengths + have, value, repeat);
        have += repeat;
    }
    if (lengths[kEndOfBlock] == 0)
        return false;
    return Check(lengths, literalCount, literals) &&
           Check(lengths + literalCount, distanceCount, distances);
}

}  // namespace

bool GzDeflateKeepsZlibRules(const unsigned char* data, std::size_t length) {
    static const FixedCodes fixed;
    const std::uint64_t lengthBits = static_cast<std::uint64_t>(length) * 8;
    Bits in{data, data, data + length};
    Code literals;
    Code distances;
    Prepare(literals, Alphabet::Literal, kLiteralCodes, kLiteralRoot);
    Prepare(distances, Alphabet::Distance, kDistanceCodes, kDistanceRoot);
    std::uint8_t lengths[kLiteralCodes + kDistanceCodes];
    for (;;) {
        if (!in.Need(3))
            return false;
        const bool last = in.Take(1) != 0;
        switch (in.Take(2)) {
            case 0: {  // stored: to the byte boundary, LEN, NLEN, the bytes
                in.Drop(in.count % 8);
                const std::uint64_t at = in.BitsUsed() / 8;
                if (at + 4 > length)
                    return false;
                const unsigned size = data[at] | data[at + 1] << 8;
                const unsigned check = data[at + 2] | data[at + 3] << 8;
                if (size != (~check & 0xFFFFu) || at + 4 + size > length)
                    return false;
                in = Bits{data, data + at + 4 + size, data + length};
                break;
            }
            case 1:
                if (!WalkBlock(in, fixed.literals, fixed.distances))
                    return false;
                break;
            case 2: {
                unsigned literalCount = 0;
                unsigned distanceCount = 0;
                if (!ReadDynamicHeader(in, lengths, literalCount, distanceCount, literals,
                                       distances))
                    return false;
                // Complete codes give every bit pattern a symbol with a
                // meaning, so the last block's symbols need no walk.
                if (last && literals.complete && distances.complete)
                    return in.BitsUsed() <= lengthBits;
                Fill(lengths, literalCount, literals);
                Fill(lengths + literalCount, distanceCount, distances);
                if (!WalkBlock(in, literals, distances))
                    return false;
                break;
            }
            default:
                return false;
        }
        if (in.BitsUsed() > lengthBits)
            return false;
        if (last)
            return true;
    }
}

}  // namespace codec
