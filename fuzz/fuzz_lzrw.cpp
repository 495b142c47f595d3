// Fuzz target: LZRW3-A decoding of hostile blocks. The first two input
// bytes give the output capacity (little-endian), the rest is the block. The
// output buffer is exactly that large, so any write past it is caught. A
// block that decodes must survive a round trip through the compressor.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/Lzrw.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::uint32_t capacity = data[0] | (std::uint32_t{data[1]} << 8);
    std::vector<std::uint8_t> work(codec::LzrwWorkMemorySize);
    // Exactly sized copies of the input and output: out-of-bounds access on
    // either side is reported.
    std::vector<std::uint8_t> block(data + 2, data + size);
    std::vector<std::uint8_t> out(capacity);
    std::uint32_t length = 0xFFFFFFFFu;
    if (!codec::LzrwDecompress(work.data(), block.data(), static_cast<std::uint32_t>(block.size()),
                               out.data(), capacity, &length)) {
        if (length != 0xFFFFFFFFu)
            std::abort();  // a failed decode writes no length
        return 0;
    }
    if (length > capacity)
        std::abort();

    std::vector<std::uint8_t> coded(length + codec::LzrwCompressSlack);
    std::uint32_t codedLength = 0;
    codec::LzrwCompress(work.data(), out.data(), length, coded.data(), &codedLength);
    if (codedLength > length + 4)
        std::abort();
    std::vector<std::uint8_t> again(length);
    std::uint32_t againLength = 0;
    if (!codec::LzrwDecompress(work.data(), coded.data(), codedLength, again.data(), length,
                               &againLength) ||
        againLength != length || (length && std::memcmp(again.data(), out.data(), length) != 0))
        std::abort();
    return 0;
}
