// GzStream.cpp - in-memory streaming decoder of one gzip member.
#include "codec/GzStream.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>

namespace codec {

namespace {

constexpr unsigned char kMagic0 = 0x1F;
constexpr unsigned char kMagic1 = 0x8B;
// windowBits 15 plus 16: a gzip wrapper, checked, no raw deflate.
constexpr int kGzipWindowBits = 15 + 16;

std::uint32_t LittleEndian32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

struct Inflate {
    z_stream z{};
    bool live = false;
    ~Inflate() {
        if (live)
            inflateEnd(&z);
    }
};

}  // namespace

GzInflateStatus GzInflateMember(GzInput& in, GzOutput& out, std::uint64_t outputLimit,
                                std::uint64_t* decoded, std::string& reason) {
    std::uint64_t written = 0;
    auto finish = [&](GzInflateStatus status, const char* text) {
        if (decoded)
            *decoded = written;
        if (status != GzInflateStatus::Ok)
            reason = text;
        return status;
    };
    std::unique_ptr<unsigned char[]> inBlock(new (std::nothrow) unsigned char[GzBlockSize]);
    std::unique_ptr<unsigned char[]> outBlock(new (std::nothrow) unsigned char[GzBlockSize]);
    if (!inBlock || !outBlock)
        return finish(GzInflateStatus::NoMemory, "out of memory");

    // Fill at least two bytes (or reach the end) to see whether it is gzip.
    std::size_t have = 0;
    bool atEnd = false;
    while (have < 2 && !atEnd) {
        const std::ptrdiff_t n = in.Read(inBlock.get() + have, GzBlockSize - have);
        if (n < 0)
            return finish(GzInflateStatus::InputError, "cannot read the stored bytes");
        if (n == 0)
            atEnd = true;
        have += static_cast<std::size_t>(n);
    }
    const bool gzip = have >= 2 && inBlock[0] == kMagic0 && inBlock[1] == kMagic1;
    if (!gzip) {
        // Not gzip: copied as it is, as zlib's file functions do.
        for (;;) {
            if (have > 0) {
                if (have > outputLimit - written)
                    return finish(GzInflateStatus::TooLarge, "decoded size exceeds limit");
                if (!out.Write(inBlock.get(), have))
                    return finish(GzInflateStatus::OutputError, "cannot write decoded output");
                written += have;
            }
            if (atEnd)
                return finish(GzInflateStatus::Ok, "");
            const std::ptrdiff_t n = in.Read(inBlock.get(), GzBlockSize);
            if (n < 0)
                return finish(GzInflateStatus::InputError, "cannot read the stored bytes");
            atEnd = n == 0;
            have = static_cast<std::size_t>(n);
        }
    }

    // Members are read as zlib's file functions read them: after one ends,
    // another starts if its magic follows at once; anything else is skipped
    // to the end. Then the last eight bytes of the input must be a trailer
    // that matches the CRC-32 and length of everything decoded.
    Inflate inflater;
    if (inflateInit2(&inflater.z, kGzipWindowBits) != Z_OK)
        return finish(GzInflateStatus::NoMemory, "out of memory");
    inflater.live = true;
    z_stream& z = inflater.z;
    z.next_in = inBlock.get();
    z.avail_in = static_cast<uInt>(have);
    uLong crc = crc32(0L, Z_NULL, 0);
    unsigned char tail[8] = {};  // the last eight input bytes read
    std::size_t tailFill = 0;
    auto remember = [&](const unsigned char* p, std::size_t n) {
        for (std::size_t i = n > 8 ? n - 8 : 0; i < n; ++i) {
            if (tailFill == 8)
                std::memmove(tail, tail + 1, 7);
            else
                ++tailFill;
            tail[tailFill - 1] = p[i];
        }
    };
    remember(inBlock.get(), have);
    auto refill = [&](std::size_t keep) -> bool {
        // Keeps the `keep` unread bytes at the start of the block.
        if (keep > 0)
            std::memmove(inBlock.get(), z.next_in, keep);
        const std::ptrdiff_t n = in.Read(inBlock.get() + keep, GzBlockSize - keep);
        if (n < 0)
            return false;
        atEnd = n == 0;
        remember(inBlock.get() + keep, static_cast<std::size_t>(n));
        z.next_in = inBlock.get();
        z.avail_in = static_cast<uInt>(keep + static_cast<std::size_t>(n));
        return true;
    };
    bool between = false;  // a member has ended
    for (;;) {
        if (between) {
            if (z.avail_in < 2 && !atEnd) {
                if (!refill(z.avail_in))
                    return finish(GzInflateStatus::InputError, "cannot read the stored bytes");
                continue;
            }
            if (z.avail_in == 0) {
                const bool adds = tailFill == 8 && LittleEndian32(tail) == crc &&
                                  LittleEndian32(tail + 4) == static_cast<std::uint32_t>(written);
                return adds ? finish(GzInflateStatus::Ok, "")
                            : finish(GzInflateStatus::Corrupt, "gzip members that do not add up");
            }
            if (z.avail_in < 2 || z.next_in[0] != kMagic0 || z.next_in[1] != kMagic1) {
                // Skipped, but still read: the trailer test needs the end.
                while (!atEnd)
                    if (!refill(0))
                        return finish(GzInflateStatus::InputError, "cannot read the stored bytes");
                z.avail_in = 0;
                continue;
            }
            if (inflateReset(&z) != Z_OK)
                return finish(GzInflateStatus::Corrupt, "corrupt gzip stream");
            between = false;
        }
        if (z.avail_in == 0 && !atEnd && !refill(0))
            return finish(GzInflateStatus::InputError, "cannot read the stored bytes");
        if (z.avail_in == 0 && atEnd)
            return finish(GzInflateStatus::Corrupt, "truncated gzip stream");
        z.next_out = outBlock.get();
        z.avail_out = GzBlockSize;
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_MEM_ERROR)
            return finish(GzInflateStatus::NoMemory, "out of memory");
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return finish(GzInflateStatus::Corrupt, "corrupt gzip stream");
        const std::size_t produced = GzBlockSize - z.avail_out;
        if (produced > 0) {
            if (produced > outputLimit - written)
                return finish(GzInflateStatus::TooLarge, "decoded size exceeds limit");
            if (!out.Write(outBlock.get(), produced))
                return finish(GzInflateStatus::OutputError, "cannot write decoded output");
            crc = crc32(crc, outBlock.get(), static_cast<uInt>(produced));
            written += produced;
        }
        if (rc == Z_STREAM_END)
            between = true;
        else if (rc == Z_BUF_ERROR && z.avail_in == 0 && atEnd)
            return finish(GzInflateStatus::Corrupt, "truncated gzip stream");
    }
}

}  // namespace codec
