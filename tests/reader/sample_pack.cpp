// Writes the two packs that the installed-library host program reads:
//   <dir>/sample.vpf  version "2.10": hello.txt (stored), docs\Guide.md (gzip),
//                     docs\deep\Notes.lz (LZRW3-A)
//   <dir>/sample.dat  version "1.03": legacy.txt (LZRW3-A), plain.txt (stored)
// The host program knows the same names and contents.
//
// With a second argument, a folder TREE, it also writes every file below TREE
// coded with LZRW3-A (a coding only old packs hold; nothing else here writes
// it) into <dir>/lzrw.vpf (version "2.10", TREE's folders) and <dir>/lzrw.dat
// (version "1.03", names joined by a backslash), for the hosts that compare
// every byte with TREE.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/TestPacks.h"

namespace {

using namespace testpacks;

// TREE's files as a folder of the pack, in name order, and each file as an
// old pack's entry named by its path.
Folder ReadTree(const std::filesystem::path& dir, const std::string& prefix,
                std::vector<OldEntry>& old) {
    std::vector<std::filesystem::directory_entry> items;
    for (const auto& item : std::filesystem::directory_iterator(dir))
        items.push_back(item);
    std::sort(items.begin(), items.end());
    Folder folder(dir.filename().string());
    for (const auto& item : items) {
        const std::string name = item.path().filename().string();
        if (item.is_directory()) {
            folder.folders.push_back(ReadTree(item.path(), prefix + name + "\\", old));
        } else {
            const Bytes content = ReadFile(item.path().string());
            folder.files.push_back(File(name, content, pack::PackMethod::Lzrw3a));
            old.push_back(OldEntry(prefix + name, content, 0x01, 0));
        }
    }
    return folder;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s DIR [TREE]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::string guide;
    for (int i = 0; i < 200; ++i)
        guide += "Line " + std::to_string(i) + " of the guide.\n";
    std::string notes;
    for (int i = 0; i < 100; ++i)
        notes += "note note note " + std::to_string(i % 7) + "\n";

    Folder root;
    root.files = {File("hello.txt", ToBytes("Hello from the pack.\n"))};
    root.folders = {
        Folder("docs", {File("Guide.md", ToBytes(guide), pack::PackMethod::Gzip)},
               {Folder("deep", {File("Notes.lz", ToBytes(notes), pack::PackMethod::Lzrw3a)})})};
    WriteFile(dir + "/sample.vpf", BuildPack(root));
    WriteFile(dir + "/sample.dat",
              BuildOldPack({OldEntry("legacy.txt", ToBytes(notes), 0x01, 0),
                            OldEntry("plain.txt", ToBytes("plain old\n"), 0x00, 0)}));
    if (argc == 3) {
        std::vector<OldEntry> old;
        WriteFile(dir + "/lzrw.vpf", BuildPack(ReadTree(argv[2], "", old)));
        WriteFile(dir + "/lzrw.dat", BuildOldPack(old));
    }
    return 0;
}
