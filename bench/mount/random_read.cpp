// random_read FILE COUNT SEED: opens FILE, reads COUNT blocks of 4 KiB at
// random block-aligned offsets (pread on one descriptor; the last block of
// the file may be short) and prints "SECONDS CHECKSUM". The seconds cover
// the open, the reads and the close; the checksum (FNV-1a over every byte
// read, in order) must be the same for every file system serving the same
// file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: random_read FILE COUNT SEED\n");
        return 2;
    }
    const long count = std::atol(argv[2]);
    std::mt19937_64 random(std::strtoull(argv[3], nullptr, 10));
    const auto start = std::chrono::steady_clock::now();
    const int fd = open(argv[1], O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size < 4096) {
        std::perror(argv[1]);
        return 1;
    }
    const std::uint64_t blocks = (static_cast<std::uint64_t>(st.st_size) + 4095) / 4096;
    std::uint64_t hash = 0xcbf29ce484222325ull;
    static unsigned char block[4096];
    for (long i = 0; i < count; ++i) {
        const off_t offset = static_cast<off_t>(random() % blocks) * 4096;
        const ssize_t n = pread(fd, block, sizeof block, offset);
        if (n < 0) {
            std::perror("pread");
            return 1;
        }
        for (ssize_t k = 0; k < n; ++k)
            hash = (hash ^ block[k]) * 0x100000001b3ull;
    }
    close(fd);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.6f %016llx\n", seconds, static_cast<unsigned long long>(hash));
    return 0;
}
