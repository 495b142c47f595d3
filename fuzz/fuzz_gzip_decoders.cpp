// Fuzz target: the two gzip decoders against each other. libdeflate (with
// the rules zlib adds) and zlib's inflate must give the same verdict and the
// same bytes on every input, and so must the streaming decoder. A random
// change to deflate data nearly always breaks the member's CRC-32, which
// would hide every difference in how the data itself is read; so each input
// is also tried as deflate data with a trailer fitted to what either
// library makes of it alone. The first two bytes give the output limit, in
// 64-byte steps, as for fuzz_gzip.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/GzCodec.h"
#include "codec/GzStream.h"
#include "fuzz/FuzzSupport.h"

namespace {

using Bytes = std::vector<unsigned char>;
using fuzzing::Require;

// Room for what a library alone makes of the deflate data.
constexpr std::size_t kMaxFitted = 1 << 20;

class Input final : public codec::GzInput {
  public:
    explicit Input(const Bytes& b) : p_(b.data()), left_(b.size()) {}
    std::ptrdiff_t Read(unsigned char* buffer, std::size_t capacity) override {
        const std::size_t n = std::min({capacity, left_, std::size_t{509}});
        std::copy(p_, p_ + n, buffer);
        p_ += n;
        left_ -= n;
        return static_cast<std::ptrdiff_t>(n);
    }

  private:
    const unsigned char* p_;
    std::size_t left_;
};

class Output final : public codec::GzOutput {
  public:
    bool Write(const unsigned char* data, std::size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
    Bytes bytes;
};

void RequireAgreement(const Bytes& input, std::uint64_t limit) {
    const auto size = static_cast<std::uint32_t>(input.size());
    std::uint32_t zlibLength = 0xFFFFFFFFu, libdeflateLength = 0xFFFFFFFFu;
    codec::GzBuffer byZlib =
        codec::GzDecompressWith(codec::GzDecoder::Zlib, input.data(), size, &zlibLength, limit);
    codec::GzBuffer byLibdeflate = codec::GzDecompressWith(
        codec::GzDecoder::Libdeflate, input.data(), size, &libdeflateLength, limit);
    Require((byZlib != nullptr) == (byLibdeflate != nullptr), "zlib and libdeflate disagree");
    if (byZlib) {
        Require(zlibLength == libdeflateLength && zlibLength <= limit, "decoded sizes differ");
        Require(std::equal(byZlib.get(), byZlib.get() + zlibLength, byLibdeflate.get()),
                "decoded bytes differ");
    } else {
        Require(zlibLength == 0xFFFFFFFFu && libdeflateLength == 0xFFFFFFFFu,
                "a failed decode wrote a length");
    }
    Input in(input);
    Output out;
    std::uint64_t decoded = 0;
    std::string reason;
    const bool streamed =
        codec::GzInflateMember(in, out, limit, &decoded, reason) == codec::GzInflateStatus::Ok;
    Require(streamed == (byZlib != nullptr), "the streaming decoder disagrees");
    if (streamed)
        Require(out.bytes.size() == zlibLength &&
                    std::equal(out.bytes.begin(), out.bytes.end(), byZlib.get()),
                "the streaming decoder's bytes differ");
}

void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// `header`, the first `used` bytes of `body`, and a trailer for `content`.
Bytes Fitted(const Bytes& header, const unsigned char* body, std::size_t used,
             const unsigned char* content, std::size_t length) {
    Bytes member = header;
    member.insert(member.end(), body, body + used);
    Put32(member, static_cast<std::uint32_t>(crc32(0, content, static_cast<uInt>(length))));
    Put32(member, static_cast<std::uint32_t>(length));
    return member;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::uint64_t limit = (std::uint64_t{data[0]} | std::uint64_t{data[1]} << 8) * 64;
    const Bytes input(data + 2, data + size);
    RequireAgreement(input, limit);

    // The deflate data: the input's, between a plain header and a trailer,
    // or the whole input.
    Bytes header(std::begin(codec::GzHeader), std::end(codec::GzHeader));
    const unsigned char* body = input.data();
    std::size_t bodyLength = input.size();
    if (input.size() >= 18 && input[0] == 0x1F && input[1] == 0x8B) {
        header.assign(input.begin(), input.begin() + 10);
        body += 10;
        bodyLength -= 18;
    }
    static Bytes out(kMaxFitted);
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    Require(d != nullptr, "no memory for libdeflate");
    std::size_t used = 0, produced = 0;
    if (libdeflate_deflate_decompress_ex(d, body, bodyLength, out.data(), out.size(), &used,
                                         &produced) == LIBDEFLATE_SUCCESS)
        RequireAgreement(Fitted(header, body, used, out.data(), produced), codec::GzNoLimit);
    libdeflate_free_decompressor(d);

    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) == Z_OK) {
        z.next_in = const_cast<unsigned char*>(body);
        z.avail_in = static_cast<uInt>(bodyLength);
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        if (inflate(&z, Z_FINISH) == Z_STREAM_END)
            RequireAgreement(Fitted(header, body, bodyLength - z.avail_in, out.data(), z.total_out),
                             codec::GzNoLimit);
        inflateEnd(&z);
    }
    return 0;
}
