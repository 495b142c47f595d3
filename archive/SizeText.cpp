// SizeText.cpp - status-line size text and disk measures before adding.
#include "archive/SizeText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include "format/PackFormat.h"
#include "platform/FileSystem.h"
#include "platform/FolderWalk.h"

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

// Files of 4 GiB or more cannot be added, so they add nothing to the bar.
std::uint32_t Addable(std::uint64_t size) {
    return size > pack::kMaxPackSize ? 0 : static_cast<std::uint32_t>(size);
}

// Sums what AddFolder would read: the same walk, the same files.
class SizeVisitor final : public fs::FolderVisitor {
  public:
    bool EnterFolder(const fs::WalkItem&) override { return true; }
    void VisitFile(const fs::WalkItem& file) override { sum += Addable(file.size); }
    void Skipped(const fs::WalkProblem&) override {}
    std::uint32_t sum = 0;  // wraps, like the bar's 32-bit range
};

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

namespace {

std::uint32_t WalkedSize(const std::string& path, bool skipDotNames) {
    SizeVisitor visitor;
    pack::Fault fault;
    fs::WalkFolder(path, visitor, pack::kMaxFolderDepth, fault, skipDotNames);
    return visitor.sum;
}

}  // namespace

std::uint32_t FolderDiskSize(const std::string& path) {
    return WalkedSize(path, true);
}

std::uint32_t PathDiskSize(const std::string& path) {
    return fs::IsDirectory(path) ? WalkedSize(path, false) : FileDiskSize(path);
}

}  // namespace crateforge
