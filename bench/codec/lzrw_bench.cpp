// LZRW3-A against zlib in memory, on the same 32 MiB of real text, in one
// run. Prints MB/s per benchmark and, at the end, the speed ratios that the
// codec is held to: decode >= 1.8x zlib inflate (2x wanted), encode >= 10x
// zlib level 9.
#include "bench/codec/Corpus.h"
#include "codec/Lzrw.h"

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kCorpusBytes = 32u << 20;

const std::vector<std::uint8_t>& Corpus() {
    return bench::HeaderCorpus(kCorpusBytes);
}

// The corpus as one LZRW3-A block and as one zlib level-9 stream.
const std::vector<std::uint8_t>& LzrwBlock() {
    static const std::vector<std::uint8_t> block = [] {
        const auto& src = Corpus();
        std::vector<std::uint8_t> work(codec::LzrwWorkMemorySize);
        std::vector<std::uint8_t> out(src.size() + codec::LzrwCompressSlack);
        std::uint32_t length = 0;
        codec::LzrwCompress(work.data(), src.data(), static_cast<std::uint32_t>(src.size()),
                            out.data(), &length);
        out.resize(length);
        return out;
    }();
    return block;
}

const std::vector<std::uint8_t>& ZlibStream() {
    static const std::vector<std::uint8_t> stream = [] {
        const auto& src = Corpus();
        uLongf length = compressBound(src.size());
        std::vector<std::uint8_t> out(length);
        if (compress2(out.data(), &length, src.data(), src.size(), 9) != Z_OK)
            length = 0;
        out.resize(length);
        return out;
    }();
    return stream;
}

void SetRatio(benchmark::State& state, std::size_t packed) {
    state.counters["packed%"] =
        100.0 * static_cast<double>(packed) / static_cast<double>(Corpus().size());
}

void BM_LzrwCompress(benchmark::State& state) {
    const auto& src = Corpus();
    std::vector<std::uint8_t> work(codec::LzrwWorkMemorySize);
    std::vector<std::uint8_t> out(src.size() + codec::LzrwCompressSlack);
    std::uint32_t length = 0;
    for (auto _ : state) {
        codec::LzrwCompress(work.data(), src.data(), static_cast<std::uint32_t>(src.size()),
                            out.data(), &length);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
    SetRatio(state, length);
}

void BM_LzrwDecompress(benchmark::State& state) {
    const auto& src = Corpus();
    const auto& block = LzrwBlock();
    std::vector<std::uint8_t> work(codec::LzrwWorkMemorySize);
    std::vector<std::uint8_t> out(src.size());
    std::uint32_t length = 0;
    for (auto _ : state) {
        const bool ok = codec::LzrwDecompress(work.data(), block.data(),
                                              static_cast<std::uint32_t>(block.size()), out.data(),
                                              static_cast<std::uint32_t>(out.size()), &length);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    if (length != src.size() || out != src)
        state.SkipWithError("LZRW3-A round trip differs");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
    SetRatio(state, block.size());
}

void BM_ZlibCompress9(benchmark::State& state) {
    const auto& src = Corpus();
    std::vector<std::uint8_t> out(compressBound(src.size()));
    uLongf length = 0;
    for (auto _ : state) {
        length = out.size();
        const int rc = compress2(out.data(), &length, src.data(), src.size(), 9);
        benchmark::DoNotOptimize(rc);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
    SetRatio(state, length);
}

void BM_ZlibUncompress(benchmark::State& state) {
    const auto& src = Corpus();
    const auto& stream = ZlibStream();
    std::vector<std::uint8_t> out(src.size());
    uLongf length = 0;
    for (auto _ : state) {
        length = out.size();
        const int rc = uncompress(out.data(), &length, stream.data(), stream.size());
        benchmark::DoNotOptimize(rc);
        benchmark::ClobberMemory();
    }
    if (length != src.size() || out != src)
        state.SkipWithError("zlib round trip differs");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
    SetRatio(state, stream.size());
}

BENCHMARK(BM_LzrwCompress)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_LzrwDecompress)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_ZlibCompress9)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Console output as usual, plus each benchmark's rate kept for the summary.
class RateReporter : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal, so that logs stay plain.
    RateReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end())
                rates_[run.benchmark_name()] = it->second.value;
        }
    }
    double Rate(const std::string& prefix) const {
        for (const auto& [name, rate] : rates_) {
            if (name.rfind(prefix, 0) == 0)
                return rate;
        }
        return 0;
    }

  private:
    std::map<std::string, double> rates_;
};

void PrintRatio(const char* what, double rate, double baseline, double goal, double stretch) {
    if (rate <= 0 || baseline <= 0) {
        std::printf("%-34s not measured\n", what);
        return;
    }
    const double ratio = rate / baseline;
    std::printf(
        "%-34s %8.1f MB/s vs %8.1f MB/s = %5.2fx  (goal %.1fx%s: %s)\n", what, rate / 1e6,
        baseline / 1e6, ratio, goal, stretch > 0 ? ", stretch 2x" : "",
        ratio >= goal ? (stretch > 0 && ratio >= stretch ? "met, stretch met" : "met") : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (Corpus().size() < kCorpusBytes) {
        std::fprintf(stderr, "corpus too small: %zu bytes\n", Corpus().size());
        return 1;
    }
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nCorpus: %zu bytes of /usr/include; LZRW3-A %zu bytes, zlib -9 %zu bytes\n",
                Corpus().size(), LzrwBlock().size(), ZlibStream().size());
    PrintRatio("LZRW3-A decode vs zlib inflate", reporter.Rate("BM_LzrwDecompress"),
               reporter.Rate("BM_ZlibUncompress"), 1.8, 2.0);
    PrintRatio("LZRW3-A encode vs zlib level 9", reporter.Rate("BM_LzrwCompress"),
               reporter.Rate("BM_ZlibCompress9"), 10.0, 0);
    return 0;
}
