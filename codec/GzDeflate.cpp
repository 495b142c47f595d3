// GzDeflate.cpp - in-memory gzip, byte for byte the codec's stream.
#include "codec/GzDeflate.h"

#include <zlib.h>

#include <new>

namespace codec {

namespace {

// What zlib's gzip file functions pass to deflateInit2 for the mode "wb9".
constexpr int kLevel = 9;
constexpr int kGzipWindowBits = MAX_WBITS + 16;
constexpr int kMemLevel = 8;  // zlib's DEF_MEM_LEVEL
// The header bytes zlib writes itself (extra flags, OS) are set as the
// temporary-file codec sets them.
constexpr std::size_t kExtraFlagsAt = 8;

struct Deflate {
    z_stream z{};
    bool live = false;
    ~Deflate() {
        if (live)
            deflateEnd(&z);
    }
};

}  // namespace

GzBuffer GzDeflateBuffer(const unsigned char* data, std::uint32_t length,
                         std::uint32_t* outLength) {
    if (outLength == nullptr || (data == nullptr && length != 0))
        return nullptr;
    Deflate d;
    if (deflateInit2(&d.z, kLevel, Z_DEFLATED, kGzipWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return nullptr;
    d.live = true;
    // deflateBound covers the gzip wrapper: one allocation, a little larger
    // than the stream (some hundredths of a percent).
    const uLong bound = deflateBound(&d.z, length);
    if (bound > 0xFFFFFFFFul)
        return nullptr;
    GzBuffer work(new (std::nothrow) unsigned char[bound]);
    if (!work)
        return nullptr;
    d.z.next_in = const_cast<unsigned char*>(data);
    d.z.avail_in = length;
    d.z.next_out = work.get();
    d.z.avail_out = static_cast<uInt>(bound);
    if (deflate(&d.z, Z_FINISH) != Z_STREAM_END)
        return nullptr;
    const std::size_t size = bound - d.z.avail_out;
    if (size < sizeof GzHeader)
        return nullptr;
    work[kExtraFlagsAt] = GzHeader[kExtraFlagsAt];
    work[kExtraFlagsAt + 1] = GzHeader[kExtraFlagsAt + 1];
    *outLength = static_cast<std::uint32_t>(size);
    return work;
}

}  // namespace codec
