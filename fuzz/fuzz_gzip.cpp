// Fuzz target: hostile gzip data. The buffer codec and the streaming decoder
// must agree on every input and cap their output at the limit given in the
// first two bytes (in 64-byte steps).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/GzCodec.h"
#include "codec/GzStream.h"
#include "fuzz/FuzzSupport.h"

namespace {

class Input final : public codec::GzInput {
  public:
    Input(const std::uint8_t* p, std::size_t n) : p_(p), left_(n) {}
    std::ptrdiff_t Read(unsigned char* buffer, std::size_t capacity) override {
        // Odd chunks: the member's end falls anywhere in a block.
        const std::size_t n = std::min({capacity, left_, std::size_t{1021}});
        std::copy(p_, p_ + n, buffer);
        p_ += n;
        left_ -= n;
        return static_cast<std::ptrdiff_t>(n);
    }

  private:
    const std::uint8_t* p_;
    std::size_t left_;
};

class Output final : public codec::GzOutput {
  public:
    bool Write(const unsigned char* data, std::size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
    std::vector<unsigned char> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using fuzzing::Require;
    if (size < 2)
        return 0;
    // The limit: up to 4 MiB, in 64-byte steps.
    const std::uint64_t limit = (std::uint64_t{data[0]} | std::uint64_t{data[1]} << 8) * 64;
    data += 2;
    size -= 2;
    std::uint32_t length = 0xFFFFFFFFu;
    codec::GzBuffer buffer =
        codec::GzDecompressBuffer(data, static_cast<std::uint32_t>(size), &length, limit);
    Input in(data, size);
    Output out;
    std::uint64_t decoded = 0;
    std::string reason;
    const codec::GzInflateStatus status = codec::GzInflateMember(in, out, limit, &decoded, reason);
    Require((buffer != nullptr) == (status == codec::GzInflateStatus::Ok),
            "the buffer and streaming decoders disagree");
    if (buffer) {
        Require(length <= limit && length == out.bytes.size(), "decoded sizes differ");
        Require(std::equal(out.bytes.begin(), out.bytes.end(), buffer.get()),
                "decoded bytes differ");
    } else {
        Require(length == 0xFFFFFFFFu, "a failed decode wrote a length");
    }
    Require(decoded <= limit, "the streaming decoder passed its limit");
    return 0;
}
