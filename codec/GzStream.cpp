// GzStream.cpp - in-memory streaming decoder of one gzip member.
#include "codec/GzStream.h"

#include <zlib.h>

#include <memory>
#include <new>

namespace codec {

namespace {

constexpr unsigned char kMagic0 = 0x1F;
constexpr unsigned char kMagic1 = 0x8B;
// windowBits 15 plus 16: a gzip wrapper, checked, no raw deflate.
constexpr int kGzipWindowBits = MAX_WBITS + 16;
// Bytes read and written per step: large enough that inflate runs in long
// stretches, small enough that memory stays flat.
constexpr std::size_t kBlock = 64 * 1024;

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
    auto emit = [&](const unsigned char* data, std::size_t n) {
        if (n > outputLimit - written)
            return finish(GzInflateStatus::TooLarge, "decoded size exceeds limit");
        if (n > 0 && !out.Write(data, n))
            return finish(GzInflateStatus::OutputError, "cannot write decoded output");
        written += n;
        return GzInflateStatus::Ok;
    };
    std::unique_ptr<unsigned char[]> inBlock(new (std::nothrow) unsigned char[kBlock]);
    std::unique_ptr<unsigned char[]> outBlock(new (std::nothrow) unsigned char[kBlock]);
    if (!inBlock || !outBlock)
        return finish(GzInflateStatus::NoMemory, "out of memory");

    // Fill at least two bytes (or reach the end) to see whether it is gzip.
    std::size_t have = 0;
    bool atEnd = false;
    while (have < 2 && !atEnd) {
        const std::ptrdiff_t n = in.Read(inBlock.get() + have, kBlock - have);
        if (n < 0)
            return finish(GzInflateStatus::InputError, "cannot read the stored bytes");
        atEnd = n == 0;
        have += static_cast<std::size_t>(n);
    }
    if (have < 2 || inBlock[0] != kMagic0 || inBlock[1] != kMagic1) {
        // Not gzip: copied as it is.
        for (;;) {
            if (const GzInflateStatus s = emit(inBlock.get(), have); s != GzInflateStatus::Ok)
                return s;
            if (atEnd)
                return finish(GzInflateStatus::Ok, "");
            const std::ptrdiff_t n = in.Read(inBlock.get(), kBlock);
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
    for (;;) {
        if (z.avail_in == 0) {
            if (atEnd)
                return finish(GzInflateStatus::Corrupt, "truncated gzip stream");
            const std::ptrdiff_t n = in.Read(inBlock.get(), kBlock);
            if (n < 0)
                return finish(GzInflateStatus::InputError, "cannot read the stored bytes");
            atEnd = n == 0;
            z.next_in = inBlock.get();
            z.avail_in = static_cast<uInt>(n);
            continue;
        }
        z.next_out = outBlock.get();
        z.avail_out = kBlock;
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_MEM_ERROR)
            return finish(GzInflateStatus::NoMemory, "out of memory");
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return finish(GzInflateStatus::Corrupt, "corrupt gzip stream");
        if (const GzInflateStatus s = emit(outBlock.get(), kBlock - z.avail_out);
            s != GzInflateStatus::Ok)
            return s;
        if (rc != Z_STREAM_END)
            continue;
        // The member is whole and its trailer matched: nothing may follow.
        while (z.avail_in == 0 && !atEnd) {
            const std::ptrdiff_t n = in.Read(inBlock.get(), kBlock);
            if (n < 0)
                return finish(GzInflateStatus::InputError, "cannot read the stored bytes");
            atEnd = n == 0;
            z.avail_in = static_cast<uInt>(n);
        }
        if (z.avail_in != 0)
            return finish(GzInflateStatus::Corrupt, "bytes after the gzip member");
        return finish(GzInflateStatus::Ok, "");
    }
}

}  // namespace codec
