// The gzip buffer codec against zlib in memory on 1 MiB of real text.
// Goals: GzCompressBuffer within 1.05x the time of compress2 at level 9 (it
// is zlib's deflate, plus the progress steps and the exact-size copy);
// GzDecompressBuffer (libdeflate) at most 0.5x the time of uncompress. The
// codec's zlib decoder is timed too, for the builds without libdeflate.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "bench/codec/Corpus.h"
#include "codec/GzCodec.h"

namespace {

constexpr std::size_t kInputSize = 1 << 20;

const std::vector<std::uint8_t>& Input() {
    static const std::vector<std::uint8_t> input = [] {
        const auto& corpus = bench::HeaderCorpus(kInputSize);
        return std::vector<std::uint8_t>(corpus.begin(), corpus.begin() + kInputSize);
    }();
    return input;
}

void BM_ZlibCompress2Level9(benchmark::State& state) {
    const auto& in = Input();
    std::vector<Bytef> out(compressBound(in.size()));
    for (auto _ : state) {
        uLongf outLen = out.size();
        if (compress2(out.data(), &outLen, in.data(), in.size(), 9) != Z_OK) {
            state.SkipWithError("compress2 failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_GzCompressBuffer(benchmark::State& state) {
    const auto& in = Input();
    for (auto _ : state) {
        std::uint32_t n = 0;
        codec::GzError error;
        codec::GzBuffer out = codec::GzCompressBuffer(
            in.data(), static_cast<std::uint32_t>(in.size()), &n, {}, &error);
        if (!out) {
            state.SkipWithError(error.reason);
            break;
        }
        benchmark::DoNotOptimize(out.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_ZlibUncompress(benchmark::State& state) {
    const auto& in = Input();
    std::vector<Bytef> packed(compressBound(in.size()));
    uLongf packedLen = packed.size();
    compress2(packed.data(), &packedLen, in.data(), in.size(), 9);
    std::vector<Bytef> out(in.size());
    for (auto _ : state) {
        uLongf outLen = out.size();
        if (uncompress(out.data(), &outLen, packed.data(), packedLen) != Z_OK) {
            state.SkipWithError("uncompress failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void Decompress(benchmark::State& state, codec::GzDecoder decoder) {
    const auto& in = Input();
    std::uint32_t packedLen = 0;
    codec::GzBuffer packed =
        codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &packedLen);
    if (!packed || !codec::GzHasDecoder(decoder)) {
        state.SkipWithError("no stream or no decoder");
        return;
    }
    for (auto _ : state) {
        std::uint32_t n = 0;
        codec::GzError error;
        codec::GzBuffer out =
            codec::GzDecompressWith(decoder, packed.get(), packedLen, &n, in.size(), &error);
        if (!out) {
            state.SkipWithError(error.reason);
            break;
        }
        benchmark::DoNotOptimize(out.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

void BM_GzDecompressBuffer(benchmark::State& state) {
    Decompress(state, codec::GzDefaultDecoder());
}

void BM_GzDecompressZlib(benchmark::State& state) {
    Decompress(state, codec::GzDecoder::Zlib);
}

BENCHMARK(BM_ZlibCompress2Level9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GzCompressBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GzDecompressBuffer)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GzDecompressZlib)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
