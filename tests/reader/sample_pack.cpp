// Writes the two packs that the installed-library host program reads:
//   <dir>/sample.vpf  version "2.10": hello.txt (stored), docs\Guide.md (gzip),
//                     docs\deep\Notes.lz (LZRW3-A)
//   <dir>/sample.dat  version "1.03": legacy.txt (LZRW3-A), plain.txt (stored)
// The host program knows the same names and contents.
#include <cstdio>
#include <string>

#include "tests/support/TestPacks.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    using namespace testpacks;
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
    return 0;
}
