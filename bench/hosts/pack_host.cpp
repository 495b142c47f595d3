// pack_host: a host program of the installed Tovelink library, timed by
// bench/hosts/run against zip_host.
//
//   pack_host read PACK LIST [ROUNDS]
//       Reads files the way a game reads its assets: for every name of LIST
//       in order, GetFileSize, GetData, then PurgeFile of GetIndex. ROUNDS
//       (default 1) repeats the list.
//   pack_host lookup PACK LIST
//       GetIndex of every name of LIST with its ASCII letters upper-cased
//       (the lookup ignores case); every name must be found at the index
//       its exact spelling has.
//
// LIST holds one full name per line, folders joined with a backslash.
// Prints "open S s, work S s, cpu S s, N files, B bytes (C)": the seconds
// OpenPack took, the seconds of the work after it, the processor seconds of
// that work, and a checksum of the bytes read,
// so that nothing can be left out and runs can be compared. Exits 1 when a
// name is missing or its data cannot be read.
#include <tovelink/PackReader.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Processor time of the process so far (user and system): what a shared,
// busy machine disturbs less than the wall clock.
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5 ||
        (std::strcmp(argv[1], "read") != 0 && std::strcmp(argv[1], "lookup") != 0)) {
        std::fprintf(stderr, "usage: pack_host read|lookup PACK LIST [ROUNDS]\n");
        return 2;
    }
    const bool lookup = std::strcmp(argv[1], "lookup") == 0;
    std::vector<std::vector<char>> names;
    std::ifstream list(argv[3]);
    for (std::string line; std::getline(list, line);)
        if (!line.empty())
            names.emplace_back(line.c_str(), line.c_str() + line.size() + 1);
    const int rounds = argc == 5 ? std::atoi(argv[4]) : 1;

    const Clock::time_point start = Clock::now();
    PackReader reader;
    if (!reader.OpenPack(argv[2])) {
        std::fprintf(stderr, "pack_host: %s: cannot open\n", argv[2]);
        return 1;
    }
    const Clock::time_point opened = Clock::now();
    const double cpuOpened = CpuSeconds();
    unsigned long long bytes = 0;
    unsigned long sum = 0;
    std::size_t done = 0;
    if (lookup) {
        std::vector<std::vector<char>> upper = names;
        for (std::vector<char>& name : upper)
            for (char& c : name)
                if (c >= 'a' && c <= 'z')
                    c = static_cast<char>(c - 'a' + 'A');
        const Clock::time_point begin = Clock::now();
        std::vector<unsigned long> found(names.size());
        for (std::size_t i = 0; i < upper.size(); ++i)
            found[i] = reader.GetIndex(upper[i].data());
        const Clock::time_point end = Clock::now();
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (found[i] != reader.GetIndex(names[i].data()) || found[i] == (unsigned long)-1) {
                std::fprintf(stderr, "pack_host: %s: not found\n", upper[i].data());
                return 1;
            }
            sum += found[i];
        }
        std::printf("open %.6f s, work %.6f s, cpu %.6f s, %zu files, 0 bytes (%lu)\n",
                    Seconds(start, opened), Seconds(begin, end), CpuSeconds() - cpuOpened,
                    names.size(), sum);
        return 0;
    }
    for (int r = 0; r < rounds; ++r) {
        for (std::vector<char>& name : names) {
            const unsigned long size = reader.GetFileSize(name.data());
            unsigned char* data = reader.GetData(name.data());
            if (!data) {
                std::fprintf(stderr, "pack_host: %s: cannot read\n", name.data());
                return 1;
            }
            for (unsigned long i = 0; i < size; i += 512)
                sum += data[i];
            bytes += size;
            reader.PurgeFile(reader.GetIndex(name.data()));
            ++done;
        }
    }
    const Clock::time_point end = Clock::now();
    const double cpu = CpuSeconds() - cpuOpened;
    std::printf("open %.6f s, work %.6f s, cpu %.6f s, %zu files, %llu bytes (%lu)\n",
                Seconds(start, opened), Seconds(opened, end), cpu, done, bytes, sum);
    return 0;
}
