// add_tree - adds a disk folder to a new pack through the archive document
// on the scripted platform, then saves it, and prints what it cost.
//
//   add_tree <folder> <pack>
//
// Output (one "key value" per line): files, pack_bytes, seconds (wall time of
// add + save), max_rss_kb (peak resident set of the whole process), messages
// (boxes the document showed, e.g. for unreadable files).
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "archive/PackArchive.h"
#include "archive/SizeText.h"
#include "platform/FileSystem.h"
#include "platform/Scripted.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <folder> <pack>\n", argv[0]);
        return 2;
    }
    using namespace crateforge;
    ScriptedMessages messages;
    ScriptedList list;
    ScriptedProgress progress;
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t packBytes = 0;
    std::uint32_t files = 0;
    {
        CPackArchive archive(&messages, &list, &progress);
        archive.CreateNew(argv[2]);
        progress.SetRange(0, FolderDiskSize(argv[1]));
        progress.SetPosition(0);
        if (!archive.AddFolder(argv[1], archive.Root()) || !archive.Save()) {
            std::fprintf(stderr, "add_tree: %s\n", archive.LastFault().Text().c_str());
            return 1;
        }
        packBytes = archive.PackSize();
        files = archive.FileCount();
    }
    for (const auto& call : messages.Calls())
        std::fprintf(stderr, "message: %s\n", call.text.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("files %u\npack_bytes %llu\nseconds %.3f\nmax_rss_kb %ld\nmessages %zu\n", files,
                static_cast<unsigned long long>(packBytes), seconds, usage.ru_maxrss,
                messages.Calls().size());
    return 0;
}
