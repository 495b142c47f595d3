// Lzrw.cpp - LZRW3-A compressor and bounds-checked decompressor.
//
// Table slots hold 32-bit positions: an offset from the start of the source
// (compressor) or of the output (decompressor), or kStartSlot for the start
// string, which lives in this file. Every real position in a slot lies
// before the current item, so a copy never reads bytes not yet known.
#include "codec/Lzrw.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace codec {
namespace {

// Block header: flag byte, three bytes written as zero and never read.
constexpr std::uint32_t kHeaderSize = LzrwBlockHeaderSize;
constexpr std::uint8_t kFlagCompressed = 0;
constexpr std::uint8_t kFlagStored = 1;

// Hash table: 512 rows of 8 slots, filled by one cycle counter.
constexpr std::uint32_t kRowSlots = 8;
constexpr std::uint32_t kRows = 512;
constexpr std::uint32_t kTableSlots = kRows * kRowSlots;
constexpr std::uint32_t kRowMask = kRows - 1;
constexpr std::uint32_t kHashMultiplier = 40543;
constexpr std::uintptr_t kTableAlign = 4;
static_assert(kTableSlots * sizeof(std::uint32_t) + 16 == LzrwWorkMemorySize);
static_assert(kTableAlign - 1 <= LzrwWorkMemorySize - kTableSlots * sizeof(std::uint32_t));

// Items and groups.
constexpr std::uint32_t kMinMatch = 3;
constexpr std::uint32_t kMaxMatch = kMinMatch + 15;
constexpr std::uint32_t kGroupItems = 16;
constexpr std::uint32_t kControlBytes = 2;
constexpr std::uint32_t kCopyItemBytes = 2;
// A full group reads at most this much input (compressor) and takes at most
// this much body (decompressor).
constexpr std::uint32_t kGroupInput = kGroupItems * kMaxMatch;
constexpr std::uint32_t kGroupBody = kGroupItems * kCopyItemBytes;
static_assert(kGroupInput == 288 && kGroupBody == 32);
// The compressor writes at most one group past the limit it tests.
static_assert(kGroupBody <= LzrwCompressSlack);

// Control accumulator of the compressor: 16 marker bits above the item bits;
// once they have all been shifted out, 16 items are waiting.
constexpr std::uint32_t kAccumulatorStart = 0xFFFF0000u;
constexpr std::uint32_t kAccumulatorNext = 0x10000u;
// Control register of the decompressor: the word plus a sentinel bit that
// reaches bit 0 when the group's 16 items are done.
constexpr std::uint32_t kControlSentinel = 0x10000u;

// Fast decoding of a whole group needs no checks while this much block and
// output room remain: each item takes at most 2 body bytes and writes at most
// kMaxMatch bytes, and the wide copies below read and write at most
// kWideLiterals / kMaxMatch bytes from an item's start.
constexpr std::uint32_t kWideLiterals = 16;
constexpr std::ptrdiff_t kFastInput = kControlBytes + kGroupBody + kWideLiterals;
constexpr std::ptrdiff_t kFastOutput = kGroupItems * kMaxMatch;

constexpr std::uint32_t kStartSlot = 0xFFFFFFFFu;
constexpr std::uint8_t kStartString[kMaxMatch] = {'1', '2', '3', '4', '5', '6', '7', '8', '9',
                                                  '0', '1', '2', '3', '4', '5', '6', '7', '8'};

// First slot of the row of the three bytes at p.
inline std::uint32_t RowOf(const std::uint8_t* p) {
    const std::uint32_t key = (std::uint32_t{p[0]} << 8) ^ (std::uint32_t{p[1]} << 4) ^ p[2];
    return (((kHashMultiplier * key) >> 4) & kRowMask) * kRowSlots;
}

std::uint32_t* ResetTable(void* work) {
    std::uintptr_t address = reinterpret_cast<std::uintptr_t>(work);
    address = (address + kTableAlign - 1) & ~(kTableAlign - 1);
    auto* table = ::new (reinterpret_cast<void*>(address)) std::uint32_t[kTableSlots];
    std::fill_n(table, kTableSlots, kStartSlot);
    return table;
}

inline std::uint64_t Load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Equal leading bytes of two 8-byte loads whose XOR is x: 0 to 8.
inline std::uint32_t EqualBytes(std::uint64_t x) {
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<std::uint32_t>(std::countr_zero(x)) >> 3;
    } else {
        return static_cast<std::uint32_t>(std::countl_zero(x)) >> 3;
    }
}

// Number of equal leading bytes of a and b, at most kMaxMatch. Reads exactly
// kMaxMatch bytes of each: the third load overlaps the second.
inline std::uint32_t MatchLength(const std::uint8_t* a, const std::uint8_t* b) {
    static_assert(kMaxMatch == 18);
    std::uint32_t n = EqualBytes(Load64(a) ^ Load64(b));
    if (n < 8)
        return n;
    n = EqualBytes(Load64(a + 8) ^ Load64(b + 8));
    if (n < 8)
        return 8 + n;
    // Bytes 10-15 are known equal here, so this gives 16 to 18.
    return 10 + EqualBytes(Load64(a + 10) ^ Load64(b + 10));
}

}  // namespace

void LzrwCompress(void* work, const std::uint8_t* source, std::uint32_t sourceLength,
                  std::uint8_t* destination, std::uint32_t* destinationLength) {
    std::uint32_t* const table = ResetTable(work);
    const std::uint8_t* in = source;
    const std::uint8_t* const end = source + sourceLength;
    // The body may not grow past the source length; tested once per step.
    const std::uint8_t* const limit = destination + sourceLength;

    destination[0] = kFlagCompressed;
    destination[1] = destination[2] = destination[3] = 0;
    std::uint8_t* control = destination + kHeaderSize;
    std::uint8_t* out = control + kControlBytes;
    std::uint32_t accumulator = kAccumulatorStart;
    std::uint32_t cycle = 0;
    // Literals just coded whose positions are not in the table yet (0-2),
    // and their rows: row1 the last one's, row2 the one before.
    std::uint32_t pending = 0;
    std::uint32_t row1 = 0;
    std::uint32_t row2 = 0;

    auto insert = [&](std::uint32_t row, std::uint32_t position) {
        table[row + cycle] = position;
        cycle = (cycle + 1) & (kRowSlots - 1);
    };

    // One searched item at `in`; at least kMaxMatch bytes remain.
    auto codeItem = [&]() __attribute__((always_inline)) {
        const std::uint32_t row = RowOf(in);
        std::uint32_t best = 0;
        std::uint32_t bestSlot = 0;
        // Every slot is measured in full, without branching on the bytes
        // seen; ties keep the lower slot.
        for (std::uint32_t slot = 0; slot < kRowSlots; ++slot) {
            const std::uint32_t at = table[row + slot];
            const std::uint8_t* candidate = at == kStartSlot ? kStartString : source + at;
            const std::uint32_t length = MatchLength(candidate, in);
            if (length > best) {
                best = length;
                bestSlot = slot;
            }
        }
        const auto position = static_cast<std::uint32_t>(in - source);
        if (best < kMinMatch) {
            *out++ = *in++;
            if (pending == 2)
                insert(row2, position - 2);
            row2 = row1;
            row1 = row;
            pending += pending < 2 ? 1 : 0;
            accumulator = (accumulator & ~kAccumulatorNext) >> 1;
        } else {
            const std::uint32_t index = row + bestSlot;
            out[0] = static_cast<std::uint8_t>(((index & 0xF00) >> 4) | (best - kMinMatch));
            out[1] = static_cast<std::uint8_t>(index & 0xFF);
            out += kCopyItemBytes;
            in += best;
            if (pending == 2)
                insert(row2, position - 2);
            if (pending >= 1)
                insert(row1, position - 1);
            pending = 0;
            insert(row, position);
            accumulator >>= 1;
        }
    };

    for (;;) {
        if (out > limit) {
            // Coding does not pay: store the source as it is.
            destination[0] = kFlagStored;
            if (sourceLength != 0)
                std::memcpy(destination + kHeaderSize, source, sourceLength);
            *destinationLength = sourceLength + kHeaderSize;
            return;
        }
        const auto remaining = static_cast<std::size_t>(end - in);
        if (remaining >= kGroupInput) {
            for (std::uint32_t item = 0; item < kGroupItems; ++item)
                codeItem();
        } else if (remaining >= kMaxMatch) {
            codeItem();
        } else if (remaining == 0) {
            break;
        } else {
            // The last bytes go out as literals. Their table insertions are
            // skipped: no copy item follows that could use them.
            *out++ = *in++;
            accumulator = (accumulator & ~kAccumulatorNext) >> 1;
        }
        if ((accumulator >> 16) == 0) {
            control[0] = static_cast<std::uint8_t>(accumulator & 0xFF);
            control[1] = static_cast<std::uint8_t>((accumulator >> 8) & 0xFF);
            control = out;
            out += kControlBytes;
            accumulator = kAccumulatorStart;
        }
    }

    if (accumulator == kAccumulatorStart) {
        // No item follows the last control word: drop it.
        out = control;
    } else {
        // The last group's unused bits are ones.
        while ((accumulator >> 16) != 0)
            accumulator >>= 1;
        control[0] = static_cast<std::uint8_t>(accumulator & 0xFF);
        control[1] = static_cast<std::uint8_t>((accumulator >> 8) & 0xFF);
    }
    *destinationLength = static_cast<std::uint32_t>(out - destination);
}

bool LzrwDecompress(void* work, const std::uint8_t* source, std::uint32_t sourceLength,
                    std::uint8_t* destination, std::uint32_t destinationCapacity,
                    std::uint32_t* destinationLength) {
    if (sourceLength < kHeaderSize)
        return false;
    // Flag 1 is a stored copy and any other value a compressed body, as
    // other writers of the format may set it; bytes 1-3 are not read.
    if (source[0] == kFlagStored) {
        const std::uint32_t length = sourceLength - kHeaderSize;
        if (length > destinationCapacity)
            return false;
        if (length != 0)
            std::memcpy(destination, source + kHeaderSize, length);
        *destinationLength = length;
        return true;
    }

    std::uint32_t* const table = ResetTable(work);
    const std::uint8_t* in = source + kHeaderSize;
    const std::uint8_t* const inEnd = source + sourceLength;
    std::uint8_t* out = destination;
    std::uint8_t* const outEnd = destination + destinationCapacity;
    std::uint32_t cycle = 0;
    // Literals since the last copy item whose positions are not in the
    // table yet; the third one in a row puts the first of them in.
    std::uint32_t literals = 0;
    std::uint32_t control = 1;

    auto insert = [&](const std::uint8_t* at) __attribute__((always_inline)) {
        table[RowOf(at) + cycle] = static_cast<std::uint32_t>(at - destination);
        cycle = (cycle + 1) & (kRowSlots - 1);
    };
    // After a copy item of at least kMinMatch bytes at q: the pending
    // literals' positions, then q in the row of the match.
    auto insertCopy = [&](std::uint8_t * q, std::uint32_t index) __attribute__((always_inline)) {
        if (literals != 0) {
            insert(q - literals);
            if (literals == 2)
                insert(q - 1);
            literals = 0;
        }
        table[(index & ~(kRowSlots - 1)) + cycle] = static_cast<std::uint32_t>(q - destination);
        cycle = (cycle + 1) & (kRowSlots - 1);
    };
    auto copySource = [&](std::uint32_t index) __attribute__((always_inline)) {
        const std::uint32_t at = table[index];
        return at == kStartSlot ? kStartString : destination + at;
    };

    // Whole groups while neither end is near: no checks per item. Copies
    // and literal runs are written wide and may spill up to kMaxMatch bytes
    // past their end; the next item overwrites the spill.
    while (inEnd - in >= kFastInput && outEnd - out >= kFastOutput) {
        control = kControlSentinel | in[0] | (std::uint32_t{in[1]} << 8);
        in += kControlBytes;
        do {
            if ((control & 1) != 0) {
                const std::uint32_t a = in[0];
                const std::uint32_t index = ((a & 0xF0) << 4) | in[1];
                const std::uint32_t length = (a & 0x0F) + kMinMatch;
                in += kCopyItemBytes;
                std::uint8_t* const q = out;
                const std::uint32_t at = table[index];
                const std::uint8_t* from = kStartString;
                std::size_t distance = kMaxMatch;
                if (at != kStartSlot) {
                    from = destination + at;
                    distance = static_cast<std::size_t>(q - from);
                }
                if (distance >= 8) {
                    // Each piece reads only bytes written before it.
                    std::memcpy(q, from, 8);
                    std::memcpy(q + 8, from + 8, 8);
                    std::memcpy(q + 16, from + 16, 2);
                } else if (distance == 1) {
                    std::memset(q, *from, kMaxMatch);
                } else {
                    for (std::uint32_t i = 0; i < length; ++i)
                        q[i] = from[i];
                }
                out = q + length;
                insertCopy(q, index);
                control >>= 1;
            } else {
                const auto run = static_cast<std::uint32_t>(std::countr_zero(control));
                std::memcpy(out, in, kWideLiterals);
                std::uint8_t* const first = out - literals;
                const std::uint32_t total = literals + run;
                for (std::uint32_t i = 0; i + 2 < total; ++i)
                    insert(first + i);
                literals = std::min<std::uint32_t>(total, 2);
                out += run;
                in += run;
                control >>= run;
            }
        } while (control != 1);
    }

    // Near the ends: one item at a time, every length checked.
    while (in != inEnd) {
        if (control == 1) {
            // A control word must be followed by at least one item.
            if (inEnd - in <= static_cast<std::ptrdiff_t>(kControlBytes))
                goto corrupt;
            control = kControlSentinel | in[0] | (std::uint32_t{in[1]} << 8);
            in += kControlBytes;
        }
        if ((control & 1) != 0) {
            if (inEnd - in < static_cast<std::ptrdiff_t>(kCopyItemBytes))
                goto corrupt;
            const std::uint32_t a = in[0];
            const std::uint32_t index = ((a & 0xF0) << 4) | in[1];
            const std::uint32_t length = (a & 0x0F) + kMinMatch;
            in += kCopyItemBytes;
            if (static_cast<std::size_t>(outEnd - out) < length)
                goto corrupt;
            const std::uint8_t* from = copySource(index);
            std::uint8_t* const q = out;
            for (std::uint32_t i = 0; i < length; ++i)
                q[i] = from[i];
            out = q + length;
            insertCopy(q, index);
        } else {
            if (out == outEnd)
                goto corrupt;
            *out++ = *in++;
            if (++literals == 3) {
                insert(out - 3);
                literals = 2;
            }
        }
        control >>= 1;
    }
    // The unused bits of the last group are ones; a zero there means items
    // were cut off.
    if ((control & (control + 1)) != 0)
        goto corrupt;
    *destinationLength = static_cast<std::uint32_t>(out - destination);
    return true;

corrupt:
    return false;
}

bool LzrwCodec(unsigned action, void* work, const std::uint8_t* source, std::uint32_t sourceLength,
               std::uint8_t* destination, std::uint32_t destinationCapacity,
               std::uint32_t* destinationLength) {
    switch (static_cast<std::uint8_t>(action & 0xFF)) {
        case static_cast<std::uint8_t>(LzrwAction::Compress):
            if (std::uint64_t{destinationCapacity} <
                std::uint64_t{sourceLength} + LzrwCompressSlack) {
                return false;
            }
            LzrwCompress(work, source, sourceLength, destination, destinationLength);
            return true;
        case static_cast<std::uint8_t>(LzrwAction::Decompress):
            return LzrwDecompress(work, source, sourceLength, destination, destinationCapacity,
                                  destinationLength);
        default:
            return false;
    }
}

}  // namespace codec
