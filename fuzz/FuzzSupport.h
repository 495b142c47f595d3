// FuzzSupport.h - what the fuzz targets share: a private folder per process
// (also made $TMPDIR, so that a file left there by anything is seen), the
// input written to a file there, and an abort that says why.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzing {

inline const std::string& PrivateFolder() {
    static const std::string path = [] {
        const char* base = std::getenv("TMPDIR");
        std::string dir = std::string(base && *base ? base : "/tmp") + "/fuzz.XXXXXX";
        if (!mkdtemp(dir.data()))
            std::abort();
        const std::string temp = dir + "/tmp";
        if (mkdir(temp.c_str(), 0700) != 0)
            std::abort();
        setenv("TMPDIR", temp.c_str(), 1);
        return dir;
    }();
    return path;
}

// $TMPDIR of the process: must be empty between inputs.
inline std::string TempFolder() {
    return PrivateFolder() + "/tmp";
}

inline std::string WriteInput(const std::uint8_t* data, std::size_t size,
                              const char* name = "input.vpf") {
    const std::string path = PrivateFolder() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    if (std::fclose(f) != 0)
        std::abort();
    return path;
}

[[noreturn]] inline void Broken(const char* why) {
    std::fprintf(stderr, "fuzz: broken promise: %s\n", why);
    std::abort();
}

inline void Require(bool ok, const char* why) {
    if (!ok)
        Broken(why);
}

// Names left in `dir` ("." and ".." aside).
inline int EntriesIn(const std::string& dir) {
    int n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                ++n;
        closedir(d);
    }
    return n;
}

}  // namespace fuzzing
