// The gzip buffer codec against zlib in memory on 1 MiB of real text.
// Goals: GzCompressBuffer within 1.05x the time of compress2 at level 9,
// GzDecompressBuffer within 1.3x the time of uncompress. The temporary files
// live wherever $TMPDIR (else the system default) points.
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
        codec::GzBuffer out =
            codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &n);
        if (!out) {
            state.SkipWithError(codec::GzLastError());
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

void BM_GzDecompressBuffer(benchmark::State& state) {
    const auto& in = Input();
    std::uint32_t packedLen = 0;
    codec::GzBuffer packed =
        codec::GzCompressBuffer(in.data(), static_cast<std::uint32_t>(in.size()), &packedLen);
    if (!packed) {
        state.SkipWithError(codec::GzLastError());
        return;
    }
    for (auto _ : state) {
        std::uint32_t n = 0;
        codec::GzBuffer out = codec::GzDecompressBuffer(packed.get(), packedLen, &n, in.size());
        if (!out) {
            state.SkipWithError(codec::GzLastError());
            break;
        }
        benchmark::DoNotOptimize(out.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
}

BENCHMARK(BM_ZlibCompress2Level9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GzCompressBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GzDecompressBuffer)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
