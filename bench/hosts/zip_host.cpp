// zip_host: the libzip counterpart of pack_host, timed against it by
// bench/hosts/run on a zip archive of the same tree.
//
//   zip_host read ZIP LIST [ROUNDS]
//       For every name of LIST in order: zip_stat for the size, zip_fopen
//       and zip_fread into a buffer of that size, zip_fclose, the buffer
//       freed. ROUNDS (default 1) repeats the list.
//   zip_host lookup ZIP LIST
//       zip_name_locate of every name as it is spelt (libzip's hashed
//       lookup is exact-case; its case-blind flag scans every entry).
//
// LIST holds one name per line, folders joined with "/". Prints the same
// line as pack_host; exits 1 when a name is missing or cannot be read.
#include <zip.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
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
        std::fprintf(stderr, "usage: zip_host read|lookup ZIP LIST [ROUNDS]\n");
        return 2;
    }
    const bool lookup = std::strcmp(argv[1], "lookup") == 0;
    std::vector<std::string> names;
    std::ifstream list(argv[3]);
    for (std::string line; std::getline(list, line);)
        if (!line.empty())
            names.push_back(line);
    const int rounds = argc == 5 ? std::atoi(argv[4]) : 1;

    const Clock::time_point start = Clock::now();
    int error = 0;
    zip_t* archive = zip_open(argv[2], ZIP_RDONLY, &error);
    if (!archive) {
        std::fprintf(stderr, "zip_host: %s: cannot open (libzip error %d)\n", argv[2], error);
        return 1;
    }
    const Clock::time_point opened = Clock::now();
    const double cpuOpened = CpuSeconds();
    unsigned long long bytes = 0;
    unsigned long sum = 0;
    std::size_t done = 0;
    if (lookup) {
        std::vector<zip_int64_t> found(names.size());
        for (std::size_t i = 0; i < names.size(); ++i)
            found[i] = zip_name_locate(archive, names[i].c_str(), 0);
        const Clock::time_point end = Clock::now();
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (found[i] < 0) {
                std::fprintf(stderr, "zip_host: %s: not found\n", names[i].c_str());
                return 1;
            }
            sum += static_cast<unsigned long>(found[i]);
        }
        std::printf("open %.6f s, work %.6f s, cpu %.6f s, %zu files, 0 bytes (%lu)\n",
                    Seconds(start, opened), Seconds(opened, end), CpuSeconds() - cpuOpened,
                    names.size(), sum);
        zip_discard(archive);
        return 0;
    }
    for (int r = 0; r < rounds; ++r) {
        for (const std::string& name : names) {
            zip_stat_t st;
            zip_stat_init(&st);
            if (zip_stat(archive, name.c_str(), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) {
                std::fprintf(stderr, "zip_host: %s: not found\n", name.c_str());
                return 1;
            }
            const auto size = static_cast<unsigned long>(st.size);
            std::unique_ptr<unsigned char[]> data(new unsigned char[size > 0 ? size : 1]);
            zip_file_t* file = zip_fopen(archive, name.c_str(), 0);
            const bool read =
                file && zip_fread(file, data.get(), size) == static_cast<zip_int64_t>(size);
            if (file)
                zip_fclose(file);
            if (!read) {
                std::fprintf(stderr, "zip_host: %s: cannot read\n", name.c_str());
                return 1;
            }
            for (unsigned long i = 0; i < size; i += 512)
                sum += data[i];
            bytes += size;
            ++done;
        }
    }
    const Clock::time_point end = Clock::now();
    const double cpu = CpuSeconds() - cpuOpened;
    zip_discard(archive);
    std::printf("open %.6f s, work %.6f s, cpu %.6f s, %zu files, %llu bytes (%lu)\n",
                Seconds(start, opened), Seconds(opened, end), cpu, done, bytes, sum);
    return 0;
}
