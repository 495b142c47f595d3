// SampleTree.h - one tree of folders and files, on disk and as a pack, for
// the programs that show a pack as a file system (vpf mount, the PhysicsFS
// archiver).
//
// The tree holds nested folders, an empty folder, empty files, files of
// 1 MB in each method (stored, gzip, LZRW3-A), small coded files, and
// names in mixed letter case, with spaces, shell characters and a byte
// above 0x7F. WriteSampleTree writes it below a folder and returns the pack
// of the same tree ("2.10", every file in the method it names).
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/TestPacks.h"

namespace testpacks {

// The sample tree as a pack folder (the root).
inline Folder SampleFolder() {
    using M = pack::PackMethod;
    Bytes noise(1 << 20);
    std::uint32_t x = 2463534242u;
    for (auto& b : noise) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    Folder root;
    root.files = {
        {"Readme.TXT", ToBytes("A sample tree.\n"), M::Gzip},
        {"empty.dat", {}, M::Stored},
        {"empty coded.gz", {}, M::Gzip},
    };
    Folder data("Data", {
                            {"Stored.bin", noise, M::Stored},
                            {"Gzip.Txt", SampleBytes(1 << 20, 7), M::Gzip},
                            {"Lzrw.Txt", SampleBytes(1 << 20, 8), M::Lzrw3a},
                            {"odd size.lzrw", SampleBytes(99991, 9), M::Lzrw3a},
                        });
    Folder deep("Deep");
    deep.folders = {
        Folder("Deeper", {}, {Folder("Deepest", {{"leaf.txt", ToBytes("leaf\n"), M::Lzrw3a}})}),
        Folder("Empty Folder"),
    };
    data.folders = {deep};
    Folder mixed("Mixed Case", {
                                   {"CamelCase.Json", ToBytes("{\"a\": 1}\n"), M::Gzip},
                                   {"UPPER.TXT", SampleBytes(5000, 3), M::Stored},
                                   {"sp ace & $ymbols!.txt", ToBytes("odd name\n"), M::Stored},
                                   {"caf\xe9.txt", ToBytes("latin-1 name\n"), M::Lzrw3a},
                               });
    root.folders = {data, mixed};
    return root;
}

// Writes `folder`'s contents below `path` (which must exist).
inline void WriteFolder(const Folder& folder, const std::string& path) {
    for (const File& file : folder.files)
        WriteFile(path + "/" + file.name, file.content);
    for (const Folder& sub : folder.folders) {
        const std::string child = path + "/" + sub.name;
        if (mkdir(child.c_str(), 0755) != 0)
            throw std::runtime_error("cannot make " + child);
        WriteFolder(sub, child);
    }
}

// Writes the sample tree below `path` and returns its pack.
inline Bytes WriteSampleTree(const std::string& path) {
    const Folder root = SampleFolder();
    WriteFolder(root, path);
    return BuildPack(root);
}

}  // namespace testpacks
