// Reader benchmarks.
//
//   BM_OpenHeaderPack     open a gzip pack of /usr/include (~10 000 files):
//                         the directory and every data block header
//   BM_ReadHeaderPack     open it and read every file by name (GetData),
//                         purging each after use; items = files
//   BM_Lookup/N           GetIndex of names spread evenly over a pack of N
//                         entries (1k, 10k, 50k); items = lookups
//
// The header pack is built once per process with the test pack writer (gzip
// for every file, as the builder codes them) in a private temporary folder;
// building it takes a while and is not timed. The pack's path is printed so
// that zip_compare.sh can reuse the file list.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "reader/PackReader.h"
#include "tests/support/TestPacks.h"

namespace {

namespace fs = std::filesystem;
using testpacks::Bytes;

testpacks::TempDir& Scratch() {
    static testpacks::TempDir dir;
    static bool pointed = [] {
        setenv("TMPDIR", dir.Path().c_str(), 1);
        return true;
    }();
    (void)pointed;
    return dir;
}

// The folder `path` as a pack folder: regular files and real subfolders in
// name order; `names` collects the full pack names of its files.
testpacks::Folder ReadTree(const fs::path& path, const std::string& prefix,
                           std::vector<std::string>& names, std::uint64_t& bytes) {
    testpacks::Folder folder(path.filename().string());
    std::vector<fs::directory_entry> children;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(path, ec))
        children.push_back(e);
    std::sort(children.begin(), children.end());
    for (const auto& e : children) {
        const std::string name = e.path().filename().string();
        if (name.size() > pack::kMaxNameLength || e.is_symlink(ec))
            continue;
        const std::string full = prefix.empty() ? name : prefix + "\\" + name;
        if (e.is_directory(ec)) {
            folder.folders.push_back(ReadTree(e.path(), full, names, bytes));
        } else if (e.is_regular_file(ec)) {
            std::ifstream in(e.path(), std::ios::binary);
            Bytes content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            bytes += content.size();
            folder.files.push_back(
                testpacks::File(name, std::move(content), pack::PackMethod::Gzip));
            names.push_back(full);
        }
    }
    return folder;
}

struct HeaderPack {
    std::string path;
    std::vector<std::string> names;
    std::uint64_t bytes = 0;
};

const HeaderPack& Headers() {
    static const HeaderPack pack = [] {
        HeaderPack p;
        const testpacks::Folder root = ReadTree("/usr/include", "", p.names, p.bytes);
        p.path = Scratch().Write("headers.vpf", testpacks::BuildPack(root));
        std::fprintf(stderr, "header pack: %zu files, %llu bytes, %s\n", p.names.size(),
                     static_cast<unsigned long long>(p.bytes), p.path.c_str());
        return p;
    }();
    return pack;
}

void BM_OpenHeaderPack(benchmark::State& state) {
    const HeaderPack& h = Headers();
    for (auto _ : state) {
        PackReader reader;
        std::string path = h.path;
        if (!reader.OpenPack(path.data()))
            state.SkipWithError("open failed");
        benchmark::DoNotOptimize(reader.GetNumFiles());
    }
    state.counters["files"] = static_cast<double>(h.names.size());
}
BENCHMARK(BM_OpenHeaderPack)->Unit(benchmark::kMillisecond);

void BM_ReadHeaderPack(benchmark::State& state) {
    const HeaderPack& h = Headers();
    std::vector<std::vector<char>> names;
    for (const std::string& n : h.names)
        names.emplace_back(n.c_str(), n.c_str() + n.size() + 1);
    for (auto _ : state) {
        PackReader reader;
        std::string path = h.path;
        if (!reader.OpenPack(path.data()))
            state.SkipWithError("open failed");
        for (auto& name : names) {
            unsigned char* data = reader.GetData(name.data());
            if (!data) {
                state.SkipWithError("read failed");
                break;
            }
            benchmark::DoNotOptimize(data);
            reader.PurgeFile(reader.GetIndex(name.data()));
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * h.names.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * h.bytes));
}
BENCHMARK(BM_ReadHeaderPack)->Unit(benchmark::kMillisecond)->Iterations(2);

// A pack of `count` empty files in 100 folders, names like the headers'.
const std::string& LookupPack(std::size_t count, std::vector<std::string>& names) {
    static std::map<std::size_t, std::pair<std::string, std::vector<std::string>>> packs;
    auto it = packs.find(count);
    if (it == packs.end()) {
        testpacks::Folder root;
        std::vector<std::string> all;
        for (std::size_t f = 0; f < 100; ++f) {
            testpacks::Folder folder("folder" + std::to_string(f));
            for (std::size_t i = f; i < count; i += 100) {
                folder.files.push_back(testpacks::File("file_" + std::to_string(i) + ".h", {}));
                all.push_back(folder.name + "\\" + folder.files.back().name);
            }
            root.folders.push_back(std::move(folder));
        }
        const std::string path =
            Scratch().Write("lookup" + std::to_string(count) + ".vpf", testpacks::BuildPack(root));
        it = packs.emplace(count, std::make_pair(path, std::move(all))).first;
    }
    names = it->second.second;
    return it->second.first;
}

void BM_Lookup(benchmark::State& state) {
    std::vector<std::string> all;
    std::string path = LookupPack(static_cast<std::size_t>(state.range(0)), all);
    PackReader reader;
    if (!reader.OpenPack(path.data()))
        state.SkipWithError("open failed");
    // 1000 names spread evenly over the list, in upper case (case-blind).
    std::vector<std::vector<char>> probes;
    for (std::size_t k = 0; k < 1000; ++k) {
        std::string n = all[k * all.size() / 1000];
        std::transform(n.begin(), n.end(), n.begin(), ::toupper);
        probes.emplace_back(n.c_str(), n.c_str() + n.size() + 1);
    }
    for (auto _ : state) {
        for (auto& p : probes)
            benchmark::DoNotOptimize(reader.GetIndex(p.data()));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * probes.size()));
}
BENCHMARK(BM_Lookup)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
