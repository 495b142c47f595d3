// Opening packs in the desktop program's document (CPackArchive::Open).
//
//   BM_OpenFlatPack/N   a pack of N small stored files in its root folder
//                       (1k, 10k, 50k); items = files loaded
//   BM_OpenDeepPack     a pack of 2,000 folders, each holding 25 files
//   BM_ConvertOldPack   a "1.03" pack of 5,000 small entries converted into
//                       a document (decode and recode, nothing saved)
//
// The packs are written once per process with the test pack writer into a
// private temporary folder, which is also TMPDIR; writing them
// is not timed. The page cache holds them after the first run, so the
// figures are the cost of the loader itself, not of the disk.
#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "archive/PackArchive.h"
#include "platform/Scripted.h"
#include "tests/support/TestPacks.h"

namespace {

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

Bytes SmallContent(std::size_t i) {
    return testpacks::ToBytes("file " + std::to_string(i) + " of the benchmark pack\n");
}

const std::string& FlatPack(std::size_t count) {
    static std::map<std::size_t, std::string> paths;
    auto it = paths.find(count);
    if (it != paths.end())
        return it->second;
    testpacks::Folder root;
    root.files.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        root.files.emplace_back("file" + std::to_string(i) + ".txt", SmallContent(i));
    const std::string path =
        Scratch().Write("flat" + std::to_string(count) + ".vpf", testpacks::BuildPack(root));
    return paths.emplace(count, path).first->second;
}

const std::string& DeepPack() {
    static const std::string path = [] {
        testpacks::Folder root;
        for (int f = 0; f < 2000; ++f) {
            testpacks::Folder folder("folder" + std::to_string(f));
            for (int i = 0; i < 25; ++i)
                folder.files.emplace_back("f" + std::to_string(i), SmallContent(i));
            root.folders.push_back(std::move(folder));
        }
        return Scratch().Write("deep.vpf", testpacks::BuildPack(root));
    }();
    return path;
}

const std::string& OldPack() {
    static const std::string path = [] {
        std::vector<testpacks::OldEntry> entries;
        for (int i = 0; i < 5000; ++i)
            entries.emplace_back("old" + std::to_string(i),
                                 SmallContent(static_cast<std::size_t>(i)), i % 2);
        return Scratch().Write("old.dat", testpacks::BuildOldPack(entries));
    }();
    return path;
}

void OpenOnce(benchmark::State& state, const std::string& path, std::uint32_t files) {
    crateforge::ScriptedMessages messages;
    crateforge::ScriptedList list;
    crateforge::ScriptedProgress progress;
    crateforge::CPackArchive archive(&messages, &list, &progress);
    if (archive.Open(path) != 1 || archive.FileCount() != files)
        state.SkipWithError("the pack did not open");
}

void BM_OpenFlatPack(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const std::string& path = FlatPack(count);
    for (auto _ : state)
        OpenOnce(state, path, static_cast<std::uint32_t>(count));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenFlatPack)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_OpenDeepPack(benchmark::State& state) {
    const std::string& path = DeepPack();
    for (auto _ : state)
        OpenOnce(state, path, 50000);
    state.SetItemsProcessed(state.iterations() * 50000);
}
BENCHMARK(BM_OpenDeepPack)->Unit(benchmark::kMillisecond);

void BM_ConvertOldPack(benchmark::State& state) {
    const std::string& path = OldPack();
    for (auto _ : state) {
        crateforge::ScriptedMessages messages;
        crateforge::CPackArchive archive(&messages, nullptr, nullptr);
        archive.CreateNew(path);
        if (archive.ConvertOldPack() != 1 || archive.FileCount() != 5000)
            state.SkipWithError("the pack did not convert");
    }
    state.SetItemsProcessed(state.iterations() * 5000);
}
BENCHMARK(BM_ConvertOldPack)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
