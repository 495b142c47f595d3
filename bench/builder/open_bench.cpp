// Opening a pack in the desktop program's main window, as a start with the
// pack on the command line does it.
//
//   BM_WindowOpensFlatPack/N  the window is built, the command line opens a
//                             pack of N small files in its root folder
//                             (mixed types: .txt .bin .c .h .png .dat), the
//                             list is filled and the window painted once;
//                             items = rows shown
//   BM_LoadOnly/N             the same pack opened by the document alone
//                             (no list), to tell the loader's share apart
//
// Goal: a pack of 50,000 files in one folder shows within 1 s of start.
// The pack is written once per process into a private temporary folder
// (also TMPDIR, where the window's workspace goes); writing is not timed.
// Run headless: QT_QPA_PLATFORM=offscreen (set here unless given).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeWidget>
#include <cstdlib>
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

const std::string& FlatPack(std::size_t count) {
    static std::map<std::size_t, std::string> paths;
    auto it = paths.find(count);
    if (it != paths.end())
        return it->second;
    static const char* const kTypes[] = {"txt", "bin", "c", "h", "png", "dat"};
    testpacks::Folder root;
    root.files.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        root.files.emplace_back("file" + std::to_string(i) + "." + kTypes[i % 6],
                                testpacks::ToBytes("file " + std::to_string(i) + "\n"));
    }
    const std::string path =
        Scratch().Write("flat" + std::to_string(count) + ".vpf", testpacks::BuildPack(root));
    return paths.emplace(count, path).first->second;
}

void BM_WindowOpensFlatPack(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const std::string& path = FlatPack(count);
    for (auto _ : state) {
        crateforge::ScriptedMessages messages;
        crateforge::ScriptedDialogs dialogs;
        crateforge::ScriptedShell shell;
        crateforge::ScriptedCursor cursor;
        crateforge::BuilderServices services{&messages, &dialogs, &shell, &cursor};
        std::string program = "crateforge", sw = "\\o", pack = path;
        std::vector<char*> argv{program.data(), sw.data(), pack.data()};
        crateforge::CBuilderCommandLineInfo commandLine;
        crateforge::ParseCommandLine(commandLine, static_cast<int>(argv.size()), argv.data());
        {
            crateforge::CBuilderDlg window(services);
            window.commandLine = &commandLine;
            window.show();
            window.OnInitDialog();
            window.repaint();
            QApplication::processEvents();
            if (window.ListView()->topLevelItemCount() != static_cast<int>(count))
                state.SkipWithError("the list does not show every file");
            state.PauseTiming();
        }
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WindowOpensFlatPack)->Arg(1000)->Arg(50000)->Unit(benchmark::kMillisecond);

void BM_LoadOnly(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const std::string& path = FlatPack(count);
    for (auto _ : state) {
        crateforge::ScriptedMessages messages;
        crateforge::CPackArchive archive(&messages, nullptr, nullptr);
        if (archive.Open(path) != 1 || archive.FileCount() != count)
            state.SkipWithError("the pack did not open");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadOnly)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
