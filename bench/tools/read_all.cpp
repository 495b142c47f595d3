// read_all: a host program of the installed Tovelink library. It opens a
// pack and reads every file through PackReader (GetData, then PurgeFile),
// the way a game or server reads its assets, and prints the count and the
// number of bytes read.
//   read_all PACK
#include <tovelink/PackReader.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: read_all PACK\n");
        return 2;
    }
    PackReader reader;
    if (!reader.OpenPack(argv[1])) {
        std::fprintf(stderr, "read_all: %s: not a pack\n", argv[1]);
        return 1;
    }
    unsigned long long bytes = 0;
    unsigned long sum = 0;
    const unsigned long count = reader.GetNumFiles();
    for (unsigned long i = 0; i < count; ++i) {
        const unsigned long size = reader.GetFileSize(i);
        unsigned char* data = reader.GetData(i);
        if (!data && size > 0) {
            std::fprintf(stderr, "read_all: %s: file %lu cannot be read\n", argv[1], i);
            return 1;
        }
        if (size > 0)
            sum += data[size - 1];
        bytes += size;
        reader.PurgeFile(i);
    }
    reader.ClosePack();
    std::printf("%lu files, %llu bytes (%lu)\n", count, bytes, sum);
    return 0;
}
