// list_pack PACK: prints every file of a pack as "<name> <size> <sum>",
// the sum being the bytes' total modulo 2^32, read through PackReader.
// Exit status 1 when the pack does not open or a file cannot be read.
#include <tovelink/PackReader.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: list_pack PACK\n");
        return 2;
    }
    PackReader reader;
    if (!reader.OpenPack(argv[1])) {
        std::fprintf(stderr, "list_pack: %s does not open\n", argv[1]);
        return 1;
    }
    for (unsigned long i = 0; i < reader.GetNumFiles(); ++i) {
        const unsigned long size = reader.GetFileSize(i);
        const unsigned char* data = reader.GetData(i);
        if (!data && size != 0) {
            std::fprintf(stderr, "list_pack: %s cannot be read\n", reader.GetName(i));
            return 1;
        }
        unsigned long sum = 0;
        for (unsigned long k = 0; k < size; ++k)
            sum = (sum + data[k]) & 0xFFFFFFFFul;
        std::printf("%s %lu %lu\n", reader.GetName(i), size, sum);
        reader.PurgeFile(i);
    }
    reader.ClosePack();
    return 0;
}
