// Corpus.h - real text for the codec benchmarks: the system's C headers,
// concatenated in a stable (sorted) order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace bench {

// The first `minBytes` or more bytes of /usr/include's regular files in path
// order (whole files; the tree is read again from the start if it is
// smaller). Built once per process.
inline const std::vector<std::uint8_t>& HeaderCorpus(std::size_t minBytes) {
    static std::vector<std::uint8_t> corpus;
    if (corpus.size() >= minBytes) return corpus;
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator("/usr/include", ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) return corpus;
    while (corpus.size() < minBytes) {
        for (const auto& f : files) {
            std::ifstream in(f, std::ios::binary);
            corpus.insert(corpus.end(), std::istreambuf_iterator<char>(in),
                          std::istreambuf_iterator<char>());
            if (corpus.size() >= minBytes) break;
        }
    }
    return corpus;
}

}  // namespace bench
