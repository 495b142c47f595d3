// Lzrw.h - LZRW3-A block codec, in memory.
//
// LZRW3-A is a greedy LZ77 coder with a 4096-slot hash table (512 rows of 8
// slots), 3-byte hashing, copy lengths 3 to 18 and a table index in place of
// an offset. Blocks written here are byte-identical to those of other
// implementations of the published algorithm, and theirs decode here.
//
// Block layout: byte 0 is a flag (1 = stored copy; the compressor writes 0
// for a compressed body, and the decoder takes any value but 1 as one),
// bytes 1-3 are written as zero and never read, the body follows at offset 4. A compressed body is
// a sequence of groups: a 16-bit control word (low byte first) and up to 16 items, bit k of the
// word telling whether item k is a literal byte (0) or a two-byte copy item (1).
//
// The codec allocates nothing and keeps no state between calls: its hash
// table lives in the caller's work area, so calls with separate work areas
// may run on separate threads. The block does not record its decoded size;
// the caller knows it (a pack entry's original size) and passes it as the
// decoder's output capacity.
#pragma once

#include <cstddef>
#include <cstdint>

namespace codec {

// Bytes of work memory every call needs: 4096 slots of 4 bytes (32-bit
// offsets) plus 16 bytes of slack for aligning the table.
inline constexpr std::uint32_t LzrwWorkMemorySize = 16400;

// Extra output room the compressor needs beyond the source length: it may
// write this far past `sourceLength` before it notices that the body grew
// too large and falls back to a stored copy.
inline constexpr std::uint32_t LzrwCompressSlack = 32;

// Bytes before the body of every block: the flag and three bytes that are
// written as zero and ignored when read.
inline constexpr std::uint32_t LzrwBlockHeaderSize = 4;

// No body decodes to more than this many times its own length: a copy item
// takes 2 bytes (plus its share of a control word) and yields at most 18.
inline constexpr std::uint64_t LzrwMaxExpansion = 9;

// The most bytes a block of `blockLength` bytes can decode to, whatever its
// flag byte says (a stored copy yields its body, a compressed body at most
// LzrwMaxExpansion times it).
// Callers refuse larger size claims before allocating the output. 64-bit, so
// that no claim read from a file can wrap.
constexpr std::uint64_t LzrwMaxDecodedSize(std::uint64_t blockLength) {
    return blockLength < LzrwBlockHeaderSize
               ? 0
               : LzrwMaxExpansion * (blockLength - LzrwBlockHeaderSize);
}
static_assert(LzrwMaxDecodedSize(0) == 0 && LzrwMaxDecodedSize(4) == 0 &&
              LzrwMaxDecodedSize(6) == 18 && LzrwMaxDecodedSize(0xFFFFFFFFull) > 0xFFFFFFFFull);

enum class LzrwAction : std::uint8_t { Compress = 1, Decompress = 2 };

// LzrwCompress: codes `sourceLength` bytes at `source` into one block.
//   work:        at least LzrwWorkMemorySize bytes, any alignment.
//   destination: room for sourceLength + LzrwCompressSlack bytes.
//   *destinationLength receives the block length, at most sourceLength + 4.
//   sourceLength must be at most UINT32_MAX - LzrwCompressSlack.
//   Never fails: a source that does not shrink is stored as it is (flag 1).
void LzrwCompress(void* work, const std::uint8_t* source, std::uint32_t sourceLength,
                  std::uint8_t* destination, std::uint32_t* destinationLength);

// LzrwDecompress: decodes one whole block (header included).
//   work:        at least LzrwWorkMemorySize bytes, any alignment.
//   source, sourceLength: the block; never read beyond.
//   destination, destinationCapacity: the output room; never written beyond.
//   Returns true and sets *destinationLength to the decoded length when the
//   block is well formed and fits. Returns false for a block shorter than its
//   header, a stored copy larger than the capacity, a literal or copy item that reaches past the
//   capacity, or a body that ends inside an item or a control word, with a
//   control word and no item after it, or with a zero among the last
//   group's unused control bits (the coder sets them, so a zero there means
//   items were cut off); *destinationLength is then left unwritten and the
//   destination's contents are unspecified, so callers must not use them.
//   A block cut at an item boundary can still decode, to fewer bytes:
//   callers compare *destinationLength with the size they expect.
//   Bytes between *destinationLength and the capacity may be overwritten.
bool LzrwDecompress(void* work, const std::uint8_t* source, std::uint32_t sourceLength,
                    std::uint8_t* destination, std::uint32_t destinationCapacity,
                    std::uint32_t* destinationLength);

// LzrwCodec: the dispatch entry. `action` is compared by its low byte:
// 1 compresses (the capacity must be at least sourceLength +
// LzrwCompressSlack), 2 decompresses into `destinationCapacity` bytes. Any
// other action does nothing, leaves *destinationLength unwritten and returns
// false, and so does compression into less than sourceLength +
// LzrwCompressSlack bytes. Returns what the chosen operation returns
// (compression: true).
bool LzrwCodec(unsigned action, void* work, const std::uint8_t* source, std::uint32_t sourceLength,
               std::uint8_t* destination, std::uint32_t destinationCapacity,
               std::uint32_t* destinationLength);

}  // namespace codec
