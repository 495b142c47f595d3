// tree_host.cpp - a C++ host of the library through class PackReader, built
// for Linux and for Windows: every file of PACK compared byte for byte with
// FOLDER/<its name>, by index and by name in other letter case, through
// GetData and CopyData.
//   tree_host_cxx PACK FOLDER      prints "N files, B bytes equal"
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "PackReader.h"

static int failures = 0;

static void Check(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "tree_host_cxx: FAILED: %s\n", what.c_str());
        ++failures;
    }
}

static bool ReadDisk(const std::string& path, std::vector<unsigned char>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tree_host_cxx PACK FOLDER\n");
        return 2;
    }
    PackReader reader;
    if (!reader.OpenPack(argv[1])) {
        std::fprintf(stderr, "tree_host_cxx: FAILED: cannot open %s\n", argv[1]);
        return 1;
    }
    Check(std::strcmp(reader.GetArchiveName(), argv[1]) == 0, "the archive name");
    const unsigned long count = reader.GetNumFiles();
    unsigned long long total = 0;
    for (unsigned long i = 0; i < count; ++i) {
        const char* stored = reader.GetName(i);
        if (!stored) {
            Check(false, "a name for index " + std::to_string(i));
            continue;
        }
        std::string name = stored;
        std::string path = std::string(argv[2]) + "/" + name;
        for (char& c : path)
            c = c == '\\' ? '/' : c;
        std::vector<unsigned char> disk;
        if (!ReadDisk(path, disk)) {
            Check(false, "the file on disk " + path);
            continue;
        }
        std::string other = name;
        for (char& c : other)
            c = (c >= 'a' && c <= 'z') ? char(c - 32) : (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
        Check(reader.GetIndex(&other[0]) == reader.GetIndex(&name[0]) &&
                  reader.GetIndex(&name[0]) <= i,
              "found in other letter case: " + other);
        Check(reader.GetFileSize(i) == disk.size() && reader.GetFileSize(&other[0]) == disk.size(),
              "size of " + name);
        const unsigned char* data = reader.GetData(i);
        Check(data && (disk.empty() || std::memcmp(data, disk.data(), disk.size()) == 0),
              "GetData bytes of " + name);
        reader.PurgeFile(i);
        std::vector<unsigned char> copy(disk.size() + 1, 0xA5);
        unsigned long size = 0;
        reader.CopyData(i, copy.data(), &size);
        Check(size == disk.size() &&
                  (disk.empty() || std::memcmp(copy.data(), disk.data(), disk.size()) == 0) &&
                  copy[disk.size()] == 0xA5,
              "CopyData bytes of " + name);
        reader.PurgeFile(i);
        total += disk.size();
    }
    Check(reader.GetName(count) == nullptr && reader.GetData(count) == nullptr,
          "nothing past the end");
    reader.ClosePack();
    Check(reader.GetNumFiles() == 0, "no files after ClosePack");
    if (failures == 0)
        std::printf("%lu files, %llu bytes equal\n", count, total);
    return failures != 0;
}
