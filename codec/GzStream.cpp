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

    Inflate inflater;
    if (inflateInit2(&inflater.z, kGzipWindowBits) != Z_OK)
        return finish(GzInflateStatus::NoMemory, "out of memory");
    inflater.live = true;
    z_stream& z = inflater.z;
    z.next_in = inBlock.get();
    z.avail_in = static_cast<uInt>(have);
    bool ended = false;
    for (;;) {
        if (z.avail_in == 0 && !atEnd) {
            const std::ptrdiff_t n = in.Read(inBlock.get(), GzBlockSize);
            if (n < 0)
                return finish(GzInflateStatus::InputError, "cannot read the stored bytes");
            atEnd = n == 0;
            z.next_in = inBlock.get();
            z.avail_in = static_cast<uInt>(n);
        }
        if (ended) {
            // One member and nothing after it.
            if (z.avail_in > 0)
                return finish(GzInflateStatus::Corrupt, "data after the gzip stream");
            if (atEnd)
                return finish(GzInflateStatus::Ok, "");
            continue;
        }
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
            written += produced;
        }
        if (rc == Z_STREAM_END)
            ended = true;
        else if (rc == Z_BUF_ERROR && z.avail_in == 0 && atEnd)
            return finish(GzInflateStatus::Corrupt, "truncated gzip stream");
    }
}

}  // namespace codec
