// Fuzz target: the input is a pack file. It is opened through PackReader
// and every entry is loaded, read and copied; whatever opens must keep the
// reader's promises (a loaded entry has data, CopyData agrees with GetData).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "reader/PackReader.h"

namespace {

// One private folder per process for the pack file and the gzip codec's
// temporary files.
const std::string& PackPath() {
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        std::string dir = std::string(base && *base ? base : "/tmp") + "/fuzz_reader.XXXXXX";
        if (!mkdtemp(dir.data()))
            std::abort();
        setenv("TMPDIR", dir.c_str(), 1);
        return dir + "/input.vpf";
    }();
    return path;
}

void Require(bool ok) {
    if (!ok)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = PackPath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);

    PackReader reader;
    std::string name = path;
    if (reader.OpenPack(name.data())) {
        const unsigned long count = reader.GetNumFiles();
        for (unsigned long i = 0; i < count; ++i) {
            char* entryName = reader.GetName(i);
            Require(entryName != nullptr);
            Require(reader.GetIndex(entryName) <= i);
            const unsigned long length = reader.GetFileSize(i);
            if (reader.LoadFile(i)) {
                unsigned char* bytes = reader.GetData(i);
                Require(bytes != nullptr);
                std::vector<unsigned char> copy(length);
                unsigned long copied = 0;
                reader.CopyData(i, copy.data(), &copied);
                Require(copied == length);
                Require(length == 0 || std::memcmp(copy.data(), bytes, length) == 0);
                reader.PurgeFile(i);
            } else {
                Require(reader.GetData(i) == nullptr);
            }
        }
        PackReader shared(reader);
        shared.ClosePack();
        Require(reader.GetNumFiles() == 0);
    } else {
        Require(reader.GetNumFiles() == 0);
    }
    return 0;
}
