// The desktop program's main window with long lists.
//
//   BM_WindowOpensFlatPack/N  the window is built, the command line opens a
//                             pack of N one-byte files in its root folder
//                             (mixed types: .txt .bin .c .h .png .dat), the
//                             list is filled and the window painted once;
//                             items = rows shown. Counters: peak_MB, the
//                             process's peak resident memory during the
//                             iteration, and rss_MB once the window shows
//   BM_WindowOpensNamedPack   the same for the pack $BENCH_PACK names
//   BM_LoadOnly/N             the same pack opened by the document alone
//                             (no list), to tell the loader's share apart
//   BM_SortByColumn/C/N       a click on column C's header with N rows shown
//                             (a second click on the same header reverses)
//   BM_SelectDeleteRefill/N   every row selected (Ctrl+A), Delete answered
//                             Yes: removal, save and the refilled list
//
// Goals: 1,000,000 files reach the window in <= 1.5 s with <= 400 MB in
// all; sorting 50,000 rows by any column <= 0.2 s; selecting, deleting and
// refilling 50,000 rows <= 1 s in all.
// The packs are written once per process into a private temporary folder
// (also TMPDIR, where the window's workspace goes), streamed straight in the
// pack format so that writing them costs no memory; writing is not timed.
// Run headless: QT_QPA_PLATFORM=offscreen (set here unless given).
#include <benchmark/benchmark.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "archive/PackArchive.h"
#include "builder/BuilderDlg.h"
#include "builder/CommandLine.h"
#include "platform/Scripted.h"
#include "tests/support/TestPacks.h"

namespace {

testpacks::TempDir& Scratch() {
    static testpacks::TempDir dir;
    static bool pointed = [] {
        setenv("TMPDIR", dir.Path().c_str(), 1);
        return true;
    }();
    (void)pointed;
    return dir;
}

void PutU32(std::ofstream& out, std::uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    out.write(reinterpret_cast<const char*>(bytes), 4);
}

std::string FileName(std::size_t i) {
    static const char* const kTypes[] = {"txt", "bin", "c", "h", "png", "dat"};
    return "file" + std::to_string(i) + "." + kTypes[i % 6];
}

// A pack of `count` stored one-byte files at the root, written record by
// record: header, root block, then every data block.
const std::string& FlatPack(std::size_t count) {
    static std::map<std::size_t, std::string> paths;
    auto it = paths.find(count);
    if (it != paths.end())
        return it->second;
    const std::string path = Scratch().File("flat" + std::to_string(count) + ".vpf");
    std::ofstream out(path, std::ios::binary);
    out.write(pack::kMagic, pack::kTagSize);
    out.write(pack::kVersionCurrent, pack::kTagSize);
    const char reserved[8] = {};
    out.write(reserved, sizeof reserved);
    PutU32(out, static_cast<std::uint32_t>(count));
    const std::uint64_t directory =
        pack::kFolderBlockHeaderSize + pack::kFileRecordSize * std::uint64_t{count};
    PutU32(out, static_cast<std::uint32_t>(directory));
    PutU32(out, 0);
    PutU32(out, static_cast<std::uint32_t>(count));
    std::uint64_t data = pack::kPackHeaderSize + directory;
    for (std::size_t i = 0; i < count; ++i) {
        char name[pack::kNameFieldSize] = {};
        const std::string text = FileName(i);
        std::memcpy(name, text.data(), text.size());
        out.write(name, sizeof name);
        PutU32(out, static_cast<std::uint32_t>(data));
        data += pack::kDataBlockHeaderSize + 1;
    }
    for (std::size_t i = 0; i < count; ++i) {
        PutU32(out, 1);
        PutU32(out, 1);
        const char block[2] = {0, static_cast<char>('a' + i % 26)};  // stored, one byte
        out.write(block, 2);
    }
    out.close();
    return paths.emplace(count, path).first->second;
}

// Resident memory of this process from /proc/self/status, in MB.
double StatusMegabytes(const char* field) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return 0;
    char line[256];
    double kb = 0;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':')
            kb = std::atof(line + length + 1);
    }
    std::fclose(status);
    return kb / 1024.0;
}

// Starts a new peak of resident memory.
void ResetPeak() {
    if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

struct Services {
    crateforge::ScriptedMessages messages;
    crateforge::ScriptedDialogs dialogs;
    crateforge::ScriptedShell shell;
    crateforge::ScriptedCursor cursor;
    crateforge::ScriptedDrag drag;
    crateforge::BuilderServices Get() { return {&messages, &dialogs, &shell, &cursor, &drag}; }
};

// A window that opens `path` from its command line, as the program does.
std::unique_ptr<crateforge::CBuilderDlg> OpenWindow(Services& services, const std::string& path,
                                                    crateforge::CBuilderCommandLineInfo& line) {
    std::string program = "crateforge", sw = "\\o", pack = path;
    std::vector<char*> argv{program.data(), sw.data(), pack.data()};
    line = crateforge::CBuilderCommandLineInfo();
    crateforge::ParseCommandLine(line, static_cast<int>(argv.size()), argv.data());
    auto window = std::make_unique<crateforge::CBuilderDlg>(services.Get());
    window->commandLine = &line;
    window->resize(760, 600);
    window->show();
    window->OnInitDialog();
    window->repaint();
    QApplication::processEvents();
    return window;
}

int Rows(const crateforge::CBuilderDlg& window) {
    return window.ListControlImpl()->RowCount();
}

void BM_WindowOpensFlatPack(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const std::string& path = FlatPack(count);
    double peak = 0, shown = 0;
    for (auto _ : state) {
        ResetPeak();
        Services services;
        crateforge::CBuilderCommandLineInfo line;
        {
            auto window = OpenWindow(services, path, line);
            state.PauseTiming();
            peak = std::max(peak, StatusMegabytes("VmHWM"));
            shown = StatusMegabytes("VmRSS");
            if (Rows(*window) != static_cast<int>(count))
                state.SkipWithError("the list does not show every file");
        }
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["peak_MB"] = peak;
    state.counters["rss_MB"] = shown;
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WindowOpensFlatPack)
    ->Arg(1000)
    ->Arg(50000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// The window opening the pack named by $BENCH_PACK (skipped without it):
// a pack of a few large files, whose size must not show in memory.
void BM_WindowOpensNamedPack(benchmark::State& state) {
    const char* named = std::getenv("BENCH_PACK");
    if (!named || !*named) {
        state.SkipWithError("BENCH_PACK names no pack");
        return;
    }
    const std::string path = named;
    double peak = 0, shown = 0;
    for (auto _ : state) {
        ResetPeak();
        Services services;
        crateforge::CBuilderCommandLineInfo line;
        {
            auto window = OpenWindow(services, path, line);
            state.PauseTiming();
            peak = std::max(peak, StatusMegabytes("VmHWM"));
            shown = StatusMegabytes("VmRSS");
            if (Rows(*window) <= 0)
                state.SkipWithError("the list shows nothing");
        }
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["peak_MB"] = peak;
    state.counters["rss_MB"] = shown;
}
BENCHMARK(BM_WindowOpensNamedPack)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LoadOnly(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const std::string& path = FlatPack(count);
    double peak = 0;
    for (auto _ : state) {
        ResetPeak();
        crateforge::ScriptedMessages messages;
        crateforge::CPackArchive archive(&messages, nullptr, nullptr);
        if (archive.Open(path) != 1 || archive.FileCount() != count)
            state.SkipWithError("the pack did not open");
        peak = std::max(peak, StatusMegabytes("VmHWM"));
    }
    state.counters["peak_MB"] = peak;
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadOnly)->Arg(50000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SortByColumn(benchmark::State& state) {
    const int column = static_cast<int>(state.range(0));
    const auto count = static_cast<std::size_t>(state.range(1));
    Services services;
    crateforge::CBuilderCommandLineInfo line;
    auto window = OpenWindow(services, FlatPack(count), line);
    for (auto _ : state) {
        window->OnColumnClick(column);
        window->repaint();
        QApplication::processEvents();
    }
    if (Rows(*window) != static_cast<int>(count))
        state.SkipWithError("rows went missing");
    state.SetItemsProcessed(state.iterations() * state.range(1));
}
BENCHMARK(BM_SortByColumn)
    ->ArgsProduct({{0, 1, 2, 3}, {50000}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4);

void BM_SelectDeleteRefill(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const std::string& original = FlatPack(count);
    const std::string copy = Scratch().File("delete.vpf");
    for (auto _ : state) {
        state.PauseTiming();
        {
            std::ifstream in(original, std::ios::binary);
            std::ofstream out(copy, std::ios::binary | std::ios::trunc);
            out << in.rdbuf();
        }
        Services services;
        crateforge::CBuilderCommandLineInfo line;
        auto window = OpenWindow(services, copy, line);
        services.messages.Queue(crateforge::MessageAnswer::Yes);
        state.ResumeTiming();

        QAbstractItemView* list = window->ListView();
        list->setFocus();
        QKeyEvent selectAll(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
        QApplication::sendEvent(list, &selectAll);
        QApplication::processEvents();
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QApplication::sendEvent(list, &del);
        window->repaint();
        QApplication::processEvents();

        state.PauseTiming();
        if (Rows(*window) != 0 || services.messages.PendingAnswers() != 0)
            state.SkipWithError("the rows were not deleted");
        window.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SelectDeleteRefill)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
