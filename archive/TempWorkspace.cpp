// TempWorkspace.cpp - the private temporary directory and its clean-up.
#include "archive/TempWorkspace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "archive/PackFolder.h"
#include "format/Names.h"
#include "platform/FileSystem.h"

namespace crateforge {

namespace {
// Past this many attempts a name is given up rather than searched forever.
constexpr int kMaxNameSuffix = 1000;

// Names mkdtemp gives: "TMP" and six characters.
constexpr std::size_t kWorkspaceNameLength = 9;

std::string_view StripTrailingSlash(std::string_view path) {
    if (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

std::string BootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

}  // namespace

CTempWorkspace::CTempWorkspace() {
    pack::Fault fault;
    workspacePath = fs::MakeWorkspaceDirectory(&fault);
    if (workspacePath.empty()) {
        reason_ = fault.reason;
        return;
    }
    if (!beneath_.Open(workspacePath, fault)) {
        reason_ = fault.reason;
        rmdir(workspacePath.c_str());
        workspacePath.clear();
        return;
    }
    Mark();
}

void CTempWorkspace::Mark() {
    lockFd_ = open(workspacePath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (lockFd_ < 0)
        return;
    // The lock first, the mark second: a mark is never seen unlocked while
    // its owner lives.
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        close(lockFd_);
        lockFd_ = -1;
        return;
    }
    const int mark =
        openat(lockFd_, kOwnerMarkName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (mark < 0)
        return;
    const bool written =
        fs::WriteAll(mark, "pid " + std::to_string(getpid()) + "\nboot " + BootId() + "\n");
    close(mark);
    if (written)
        marked_ = true;
    else
        unlinkat(lockFd_, kOwnerMarkName, 0);
}

void CTempWorkspace::RemoveRoot() {
    if (workspacePath.empty())
        return;
    if (!marked_) {
        rmdir(workspacePath.c_str());
        return;
    }
    // The lock is still held, so no other start can take the workspace
    // while the mark is briefly gone.
    unlinkat(lockFd_, kOwnerMarkName, 0);
    if (rmdir(workspacePath.c_str()) != 0) {
        const int mark = openat(lockFd_, kOwnerMarkName,
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (mark >= 0) {
            fs::WriteAll(mark, "pid " + std::to_string(getpid()) + "\nboot " + BootId() + "\n");
            close(mark);
        }
    }
}

std::vector<std::string> CTempWorkspace::RemoveAbandoned(std::vector<std::string>* failures) {
    std::vector<std::string> removed;
    const std::string tmp = fs::TempDirectory();
    std::vector<fs::DirEntry> entries;
    if (!fs::ListDirectory(tmp, entries))
        return removed;
    const uid_t me = geteuid();
    for (const fs::DirEntry& e : entries) {
        if (e.isSymlink || !e.isDirectory || e.name.size() != kWorkspaceNameLength ||
            e.name.compare(0, 3, "TMP") != 0)
            continue;
        const std::string path = fs::JoinPath(tmp, e.name);
        const int dir = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir < 0)
            continue;
        struct stat st, mark;
        const bool ours = fstat(dir, &st) == 0 && st.st_uid == me &&
                          fstatat(dir, kOwnerMarkName, &mark, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISREG(mark.st_mode) && mark.st_uid == me;
        // A lock that cannot be taken belongs to a workspace in use.
        if (ours && flock(dir, LOCK_EX | LOCK_NB) == 0) {
            pack::Fault why;
            if (fs::RemoveTree(path, &why))
                removed.push_back(path);
            else if (failures)
                failures->push_back(path + ": " + why.reason);
        }
        close(dir);
    }
    return removed;
}

CTempWorkspace::~CTempWorkspace() {
    for (const std::string& file : filePaths) {
        struct stat st;
        if (lstat(file.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
            unlink(file.c_str());
    }
    filePaths.clear();
    for (auto it = folderPaths.rbegin(); it != folderPaths.rend(); ++it)
        if (fs::IsDirectory(*it, false))
            rmdir(it->c_str());
    folderPaths.clear();
    RemoveRoot();
    if (lockFd_ >= 0)
        close(lockFd_);
}

bool CTempWorkspace::Contains(std::string_view path) const {
    return !workspacePath.empty() && path.size() > workspacePath.size() &&
           path.substr(0, workspacePath.size()) == workspacePath &&
           path[workspacePath.size()] == '/';
}

bool CTempWorkspace::IsHandedOutFolder(std::string_view path) const {
    return std::find(folderPaths.begin(), folderPaths.end(), path) != folderPaths.end();
}

std::string CTempWorkspace::FreePath(const std::string& dir, std::string_view name,
                                     bool wantDirectory) const {
    std::string candidate = fs::JoinPath(dir, name);
    const std::string markPath = fs::JoinPath(workspacePath, kOwnerMarkName);
    for (int k = 2; k <= kMaxNameSuffix; ++k) {
        struct stat st;
        // The mark is the workspace's own, whatever an entry is called.
        if (candidate != markPath) {
            if (lstat(candidate.c_str(), &st) != 0)
                return candidate;  // free
            // Taken by the same kind: hand it out again (a rewrite of the
            // same entry). A link is never ours, so it counts as the other
            // kind.
            if (!S_ISLNK(st.st_mode) && S_ISDIR(st.st_mode) == wantDirectory)
                return candidate;
        }
        candidate = fs::JoinPath(dir, NumberedName(name, k, !wantDirectory));
    }
    return {};
}

std::string CTempWorkspace::MakeFilePath(std::string_view name) {
    if (!IsValid() || !pack::IsValidEntryName(name))
        return {};
    std::string path = FreePath(workspacePath, name, false);
    if (!path.empty())
        filePaths.push_back(path);
    return path;
}

std::string CTempWorkspace::MakeNestedFilePath(std::string_view directory, std::string_view name) {
    directory = StripTrailingSlash(directory);
    if (!IsValid() || !pack::IsValidEntryName(name) ||
        (directory != workspacePath && !IsHandedOutFolder(directory)))
        return {};
    std::string path = FreePath(std::string(directory), name, false);
    if (!path.empty())
        filePaths.push_back(path);
    return path;
}

std::string CTempWorkspace::MakeFolderPath(std::string_view name, std::string_view relativeParent) {
    name = StripTrailingSlash(name);
    if (!IsValid() || !pack::IsValidEntryName(name))
        return {};
    std::string dir = workspacePath;
    if (!relativeParent.empty()) {
        std::string_view rest = StripTrailingSlash(relativeParent);
        while (!rest.empty()) {
            const std::size_t slash = rest.find('/');
            const std::string_view part = rest.substr(0, slash);
            if (!pack::IsValidEntryName(part))
                return {};
            rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        }
        dir = fs::JoinPath(workspacePath, StripTrailingSlash(relativeParent));
        if (!IsHandedOutFolder(dir))
            return {};
    }
    std::string path = FreePath(dir, name, true);
    if (!path.empty())
        folderPaths.push_back(path);
    return path;
}

}  // namespace crateforge
