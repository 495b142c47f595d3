// GzCodec.h - the gzip buffer codec: one buffer in, a new buffer out.
//
// Stored files of the gzip method hold one gzip member: deflate at level 9
// with the default strategy (as zlib's deflate makes it), a header of
// exactly 1F 8B 08 00 00 00 00 00 00 0B (no name, time 0, extra flags 0, OS
// byte 0x0B) and the CRC-32 / length trailer.
//
// Everything happens in memory: no temporary folder, no file, no descriptor
// is used, so a missing, full or read-only $TMPDIR changes nothing and a
// process killed in the middle of a call leaves nothing behind. Calls keep
// no state between them and may run on several threads at once.
//
// Coding is zlib's deflate, fed in blocks of GzBlockSize so that the caller
// sees progress. Decoding takes the whole member at once: with libdeflate
// where the build found it (several times faster), else with zlib's
// inflate. Both decoders give the same verdict and the same bytes on every
// input (see GzDecompressBuffer); tests and a fuzz target hold them to it.
//
// Results are allocated at their exact size and belong to the caller. A null
// result means failure; the out length is then left unwritten, and the
// optional GzError says why. Nothing here shows a message or throws.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>

namespace codec {

// Input bytes per progress step of the coder.
inline constexpr std::uint32_t GzBlockSize = 16384;
// The first bytes of every stream this codec writes.
inline constexpr unsigned char GzHeader[10] = {0x1F, 0x8B, 0x08, 0x00, 0x00,
                                               0x00, 0x00, 0x00, 0x00, 0x0B};

using GzBuffer = std::unique_ptr<unsigned char[]>;

// Progress of the coder: `step(context, n)` is called after each block of
// input coded, with that block's length (GzBlockSize, the last one less).
// An empty progress reports nothing.
struct GzProgress {
    void (*step)(void* context, std::uint32_t bytes) = nullptr;
    void* context = nullptr;
};

inline constexpr std::uint64_t GzNoLimit = std::numeric_limits<std::uint64_t>::max();

// A new buffer of `size` bytes (one at least, so that an empty result is
// still a buffer), or null. The codec's results come from here, and so do
// callers' buffers for the stored bytes they decode. Buffers of
// GzHugeBuffer bytes or more ask the system for huge pages where it offers
// them (Linux: MADV_HUGEPAGE): filling fresh memory 4 KiB at a time costs
// more than decoding into it. Freed with delete[] like any other.
inline constexpr std::uint64_t GzHugeBuffer = std::uint64_t{8} << 20;
GzBuffer GzAllocate(std::uint64_t size);

// Why a call failed: the data (Corrupt: damaged, cut short or not exactly
// one member; TooLarge: past the output limit, or a stream that would not
// fit in 4 GiB), memory, or a call without its buffers (Invalid).
enum class GzFailure { None, Corrupt, TooLarge, NoMemory, Invalid };
struct GzError {
    GzFailure failure = GzFailure::None;
    const char* reason = "";  // a fixed text, e.g. "corrupt gzip stream"
};

// GzCompressBuffer: the gzip member of `length` bytes at `data` (data may be
// null when length is 0). Returns it and sets *outLength, or null. Fails
// only for memory (or a stream past 4 GiB).
GzBuffer GzCompressBuffer(const unsigned char* data, std::uint32_t length, std::uint32_t* outLength,
                          GzProgress progress = {}, GzError* error = nullptr);

// GzDecompressBuffer: the bytes decoded from `length` bytes at `data`.
//
// Input that does not begin with the gzip magic 1F 8B (also input of 0 or
// 1 byte) is returned as it is, as zlib's file functions have always read
// such data. Anything else must be exactly one gzip member: a sound header
// (its CRC-16 checked when it has one), deflate data that zlib's inflate
// accepts, and the trailer whose CRC-32 and length match what was decoded,
// ending exactly where the input ends. A member cut short, damaged, or
// followed by any byte fails (Corrupt).
//
// `outputLimit` caps the result (callers pass the entry's original size): a
// member that decodes, or says in its trailer that it decodes, to more
// fails (TooLarge) without being decoded past the limit, so a tiny hostile
// stream cannot take much memory. Results never exceed 4 GiB - 1.
// Returns the bytes and sets *outLength (a non-null buffer also for 0
// bytes), or null.
GzBuffer GzDecompressBuffer(const unsigned char* data, std::uint32_t length,
                            std::uint32_t* outLength, std::uint64_t outputLimit = GzNoLimit,
                            GzError* error = nullptr);

// The two decoders. GzDecompressBuffer uses libdeflate when the build has
// it; tests and the differential fuzz target call each one by name.
enum class GzDecoder { Libdeflate, Zlib };
bool GzHasDecoder(GzDecoder decoder);
GzDecoder GzDefaultDecoder();
// GzDecompressBuffer with the given decoder; a decoder the build lacks
// fails (Invalid, "decoder not built in").
GzBuffer GzDecompressWith(GzDecoder decoder, const unsigned char* data, std::uint32_t length,
                          std::uint32_t* outLength, std::uint64_t outputLimit = GzNoLimit,
                          GzError* error = nullptr);

}  // namespace codec
