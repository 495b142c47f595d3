// GzCodec.cpp - the gzip buffer codec, in memory.
#include "codec/GzCodec.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/NativeFile.h"

// Set by the build: whether libdeflate was found.
#ifndef CF_HAVE_LIBDEFLATE
#define CF_HAVE_LIBDEFLATE 0
#endif
#if CF_HAVE_LIBDEFLATE
#include <libdeflate.h>

#include "codec/GzRules.h"
#endif

namespace codec {
namespace {

constexpr unsigned char kMagic0 = 0x1F;
constexpr unsigned char kMagic1 = 0x8B;
constexpr unsigned char kDeflated = 8;
constexpr std::size_t kHeaderSize = sizeof GzHeader;
constexpr std::size_t kTrailerSize = 8;  // CRC-32, then the length mod 2^32
// The smallest member: header, a last fixed block holding only its end
// (10 bits), trailer.
constexpr std::size_t kSmallestMember = kHeaderSize + 2 + kTrailerSize;
// Results carry their length in 32 bits.
constexpr std::uint64_t kMaxResult = 0xFFFFFFFFu;
// Deflate yields at most 258 bytes for every two bits (a length and a
// distance of one bit each): no member decodes to more than this many
// times its own size.
constexpr std::uint64_t kMaxExpansion = 258 * 4;

// Header flags (RFC 1952).
constexpr unsigned char kFlagHeaderCrc = 0x02;
constexpr unsigned char kFlagExtra = 0x04;
constexpr unsigned char kFlagName = 0x08;
constexpr unsigned char kFlagComment = 0x10;
constexpr unsigned char kFlagsReserved = 0xE0;

// What zlib's gzip file functions pass to deflateInit2 for the mode "wb9",
// so that the streams stay the bytes packs have always held.
constexpr int kLevel = 9;
constexpr int kGzipWindowBits = MAX_WBITS + 16;
constexpr int kMemLevel = 8;  // zlib's DEF_MEM_LEVEL
// zlib writes its own extra-flags and OS bytes; packs carry 00 and 0B.
constexpr std::size_t kExtraFlagsAt = 8;

constexpr char kCorrupt[] = "corrupt gzip stream";
constexpr char kTruncated[] = "truncated gzip stream";
constexpr char kTrailing[] = "bytes after the gzip member";
constexpr char kPastLimit[] = "decoded size exceeds limit";
constexpr char kNoMemory[] = "out of memory";
constexpr char kStreamTooLarge[] = "gzip stream of 4 GiB or more";
constexpr char kNoBuffer[] = "no buffer";
constexpr char kNoDecoder[] = "decoder not built in";

GzBuffer Fail(GzError* error, GzFailure failure, const char* reason) {
    if (error)
        *error = GzError{failure, reason};
    return nullptr;
}

GzBuffer Allocate(std::uint64_t size) {
    return GzAllocate(size);
}

std::uint32_t LittleEndian32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool IsGzip(const unsigned char* data, std::size_t length) {
    return length >= 2 && data[0] == kMagic0 && data[1] == kMagic1;
}

// How one decoder ended. On success it wrote exactly the room it was given.
struct Decoded {
    GzFailure failure = GzFailure::None;
    const char* reason = "";
};
constexpr Decoded kDecodedOk{};

// ---- zlib ---------------------------------------------------------------------

// The whole member in one call of inflate, which reads the header, checks
// the CRC-16 of a header that has one, and checks the trailer.
Decoded InflateWithZlib(const unsigned char* data, std::uint32_t length, unsigned char* out,
                        std::uint32_t room) {
    z_stream z{};
    if (inflateInit2(&z, kGzipWindowBits) != Z_OK)
        return {GzFailure::NoMemory, kNoMemory};
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = length;
    z.next_out = out;
    z.avail_out = room;
    const int rc = inflate(&z, Z_FINISH);
    const uInt unread = z.avail_in;
    inflateEnd(&z);
    switch (rc) {
        case Z_STREAM_END:
            return unread == 0 ? kDecodedOk : Decoded{GzFailure::Corrupt, kTrailing};
        case Z_MEM_ERROR:
            return {GzFailure::NoMemory, kNoMemory};
        case Z_BUF_ERROR:
            // Out of input: cut short. Out of room: more than its trailer says.
            return {GzFailure::Corrupt, unread == 0 ? kTruncated : kCorrupt};
        default:
            return {GzFailure::Corrupt, kCorrupt};
    }
}

// ---- libdeflate ---------------------------------------------------------------

#if CF_HAVE_LIBDEFLATE

// Finds where the header ends, with zlib's rules: method 8, no reserved
// flag, the optional fields whole, and the CRC-16 of a header that has one.
Decoded HeaderEnd(const unsigned char* data, std::size_t length, std::size_t& end) {
    if (length < kHeaderSize)
        return {GzFailure::Corrupt, kTruncated};
    const unsigned char flags = data[3];
    if (data[2] != kDeflated || (flags & kFlagsReserved) != 0)
        return {GzFailure::Corrupt, kCorrupt};
    std::size_t at = kHeaderSize;
    if (flags & kFlagExtra) {
        if (length - at < 2)
            return {GzFailure::Corrupt, kTruncated};
        const std::size_t extra = data[at] | data[at + 1] << 8;
        if (length - at - 2 < extra)
            return {GzFailure::Corrupt, kTruncated};
        at += 2 + extra;
    }
    for (const unsigned char field : {kFlagName, kFlagComment}) {
        if ((flags & field) == 0)
            continue;
        const void* nul = std::memchr(data + at, 0, length - at);
        if (!nul)
            return {GzFailure::Corrupt, kTruncated};
        at = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - data) + 1;
    }
    if (flags & kFlagHeaderCrc) {
        if (length - at < 2)
            return {GzFailure::Corrupt, kTruncated};
        const std::uint32_t crc = libdeflate_crc32(0, data, at) & 0xFFFFu;
        if ((data[at] | data[at + 1] << 8) != static_cast<int>(crc))
            return {GzFailure::Corrupt, kCorrupt};
        at += 2;
    }
    end = at;
    return kDecodedOk;
}

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// The header by hand, the deflate data by libdeflate, the trailer by hand,
// then the rules zlib adds (GzRules.h).
Decoded InflateWithLibdeflate(const unsigned char* data, std::uint32_t length, unsigned char* out,
                              std::uint32_t room) {
    std::size_t bodyStart = 0;
    const Decoded header = HeaderEnd(data, length, bodyStart);
    if (header.failure != GzFailure::None)
        return header;
    if (length - bodyStart < kTrailerSize)
        return {GzFailure::Corrupt, kTruncated};
    const unsigned char* body = data + bodyStart;
    const std::size_t bodyLength = length - bodyStart - kTrailerSize;

    std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
        libdeflate_alloc_decompressor());
    if (!decompressor)
        return {GzFailure::NoMemory, kNoMemory};
    std::size_t used = 0;
    std::size_t produced = 0;
    if (libdeflate_deflate_decompress_ex(decompressor.get(), body, bodyLength, out, room, &used,
                                         &produced) != LIBDEFLATE_SUCCESS)
        return {GzFailure::Corrupt, kCorrupt};
    // The member's trailer follows its deflate data (at least eight bytes
    // are left: the data was looked for before the last eight).
    const unsigned char* trailer = body + used;
    if (LittleEndian32(trailer) != libdeflate_crc32(0, out, produced) ||
        LittleEndian32(trailer + 4) != static_cast<std::uint32_t>(produced))
        return {GzFailure::Corrupt, kCorrupt};
    if (used != bodyLength)
        return {GzFailure::Corrupt, kTrailing};
    if (!GzDeflateKeepsZlibRules(body, used))
        return {GzFailure::Corrupt, kCorrupt};
    return kDecodedOk;
}

#endif  // CF_HAVE_LIBDEFLATE

}  // namespace

GzBuffer GzAllocate(std::uint64_t size) {
    GzBuffer buffer(new (std::nothrow) unsigned char[size > 0 ? size : 1]);
    // A hint over the whole huge pages inside the buffer; a refusal changes
    // nothing.
    if (buffer && size >= GzHugeBuffer)
        native::HintHugePages(buffer.get(), static_cast<std::size_t>(size));
    return buffer;
}

bool GzHasDecoder(GzDecoder decoder) {
    return decoder == GzDecoder::Zlib || CF_HAVE_LIBDEFLATE;
}

GzDecoder GzDefaultDecoder() {
    return CF_HAVE_LIBDEFLATE ? GzDecoder::Libdeflate : GzDecoder::Zlib;
}

GzBuffer GzDecompressBuffer(const unsigned char* data, std::uint32_t length,
                            std::uint32_t* outLength, std::uint64_t outputLimit, GzError* error) {
    return GzDecompressWith(GzDefaultDecoder(), data, length, outLength, outputLimit, error);
}

GzBuffer GzDecompressWith(GzDecoder decoder, const unsigned char* data, std::uint32_t length,
                          std::uint32_t* outLength, std::uint64_t outputLimit, GzError* error) {
    if (outLength == nullptr || (data == nullptr && length != 0))
        return Fail(error, GzFailure::Invalid, kNoBuffer);
    if (!GzHasDecoder(decoder))
        return Fail(error, GzFailure::Invalid, kNoDecoder);
    const std::uint64_t limit = std::min(outputLimit, kMaxResult);

    if (!IsGzip(data, length)) {
        // Read as it is, as zlib's file functions read a file without the
        // magic.
        if (length > limit)
            return Fail(error, GzFailure::TooLarge, kPastLimit);
        GzBuffer copy = Allocate(length);
        if (!copy)
            return Fail(error, GzFailure::NoMemory, kNoMemory);
        if (length > 0)
            std::memcpy(copy.get(), data, length);
        *outLength = length;
        return copy;
    }

    if (length < kSmallestMember)
        return Fail(error, GzFailure::Corrupt, kTruncated);
    // A sound member decodes to exactly the length its trailer gives: the
    // result gets that room and no more, so a member that claims more than
    // the limit, or more than its deflate data can yield, is refused before
    // anything is allocated, and one that would write past its claim stops
    // there.
    const std::uint32_t claimed = LittleEndian32(data + length - 4);
    if (claimed > limit)
        return Fail(error, GzFailure::TooLarge, kPastLimit);
    if (claimed > kMaxExpansion * length)
        return Fail(error, GzFailure::Corrupt, kCorrupt);
    GzBuffer result = Allocate(claimed);
    if (!result)
        return Fail(error, GzFailure::NoMemory, kNoMemory);

    Decoded decoded;
#if CF_HAVE_LIBDEFLATE
    if (decoder == GzDecoder::Libdeflate)
        decoded = InflateWithLibdeflate(data, length, result.get(), claimed);
    else
#endif
        decoded = InflateWithZlib(data, length, result.get(), claimed);
    if (decoded.failure != GzFailure::None)
        return Fail(error, decoded.failure, decoded.reason);
    *outLength = claimed;
    return result;
}

namespace {

struct Deflate {
    z_stream z{};
    bool live = false;
    ~Deflate() {
        if (live)
            deflateEnd(&z);
    }
};

}  // namespace

GzBuffer GzCompressBuffer(const unsigned char* data, std::uint32_t length, std::uint32_t* outLength,
                          GzProgress progress, GzError* error) {
    if (outLength == nullptr || (data == nullptr && length != 0))
        return Fail(error, GzFailure::Invalid, kNoBuffer);
    Deflate d;
    if (deflateInit2(&d.z, kLevel, Z_DEFLATED, kGzipWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return Fail(error, GzFailure::NoMemory, kNoMemory);
    d.live = true;
    // deflateBound covers the gzip wrapper: the stream fits in one
    // allocation. (Past 4 GiB only incompressible input would need it.)
    const std::uint64_t room = std::min<std::uint64_t>(deflateBound(&d.z, length), kMaxResult);
    GzBuffer work = Allocate(room);
    if (!work)
        return Fail(error, GzFailure::NoMemory, kNoMemory);
    d.z.next_out = work.get();
    d.z.avail_out = static_cast<uInt>(room);
    // Block by block, so that the caller sees progress; deflate makes the
    // same stream however its input is cut.
    for (std::uint32_t done = 0; done < length;) {
        const std::uint32_t block = std::min(GzBlockSize, length - done);
        d.z.next_in = const_cast<unsigned char*>(data + done);
        d.z.avail_in = block;
        if (deflate(&d.z, Z_NO_FLUSH) != Z_OK || d.z.avail_in != 0)
            return Fail(error, GzFailure::TooLarge, kStreamTooLarge);
        done += block;
        if (progress.step)
            progress.step(progress.context, block);
    }
    if (deflate(&d.z, Z_FINISH) != Z_STREAM_END)
        return Fail(error, GzFailure::TooLarge, kStreamTooLarge);
    const auto size = static_cast<std::uint32_t>(d.z.total_out);
    work[kExtraFlagsAt] = GzHeader[kExtraFlagsAt];
    work[kExtraFlagsAt + 1] = GzHeader[kExtraFlagsAt + 1];
    // The caller keeps the stream (the desktop program holds every coded
    // file until the pack is closed): give it its exact size.
    if (size < room) {
        if (GzBuffer exact = Allocate(size)) {
            std::memcpy(exact.get(), work.get(), size);
            work = std::move(exact);
        }
    }
    *outLength = size;
    return work;
}

}  // namespace codec
