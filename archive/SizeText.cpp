// SizeText.cpp - status-line size text and disk measures before adding.
#include "archive/SizeText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "archive/PackFolder.h"
#include "platform/FileSystem.h"

namespace crateforge {

std::string FormatSize(std::uint32_t size) {
    char text[32];
    if (size < 1000u)
        std::snprintf(text, sizeof text, "%u B", size);
    else if (size < 1000000u)
        std::snprintf(text, sizeof text, "%u kB", size >> 10);
    else if (size < 1000000000u)
        std::snprintf(text, sizeof text, "%3.1f MB", size / 1024.0 / 1024.0);
    else
        std::snprintf(text, sizeof text, "%3.2f GB", size / 1024.0 / 1024.0 / 1024.0);
    return text;
}

namespace {
std::uint32_t Addable(std::uint64_t size) {
    return size > UINT32_MAX ? 0 : static_cast<std::uint32_t>(size);
}

std::uint32_t FolderSizeAt(const std::string& dir, int depth) {
    std::vector<fs::DirEntry> names;
    if (depth > kMaxFolderDepth || !fs::ListDirectory(dir, names))
        return 0;
    std::uint32_t sum = 0;
    for (const fs::DirEntry& e : names) {
        if (e.name[0] == '.')
            continue;
        if (e.isDirectory) {
            if (!e.isSymlink)
                sum += FolderSizeAt(fs::JoinPath(dir, e.name), depth + 1);
        } else if (e.isRegular) {
            sum += Addable(e.size);
        }
    }
    return sum;
}

std::uint32_t PathSizeAt(const std::string& path, bool followLink, int depth) {
    if (!fs::IsDirectory(path, followLink))
        return fs::IsDirectory(path, true) ? 0 : FileDiskSize(path);
    std::vector<fs::DirEntry> names;
    if (depth > kMaxFolderDepth || !fs::ListDirectory(path, names))
        return 0;
    std::uint32_t sum = 0;
    for (const fs::DirEntry& e : names)
        sum += PathSizeAt(fs::JoinPath(path, e.name), false, depth + 1);
    return sum;
}
}  // namespace

std::uint32_t FileDiskSize(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat st;
    const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    return ok ? Addable(static_cast<std::uint64_t>(st.st_size)) : 0;
}

std::uint32_t FolderDiskSize(const std::string& path) {
    return FolderSizeAt(path, 0);
}

std::uint32_t PathDiskSize(const std::string& path) {
    return PathSizeAt(path, true, 0);
}

}  // namespace crateforge
