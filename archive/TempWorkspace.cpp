// TempWorkspace.cpp - the private temporary directory and its clean-up.
#include "archive/TempWorkspace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "archive/PackFolder.h"
#include "format/Names.h"
#include "platform/FileSystem.h"

namespace crateforge {

namespace {
// Past this many attempts a name is given up rather than searched forever.
constexpr int kMaxNameSuffix = 1000;

std::string_view StripTrailingSlash(std::string_view path) {
    if (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}
}  // namespace

CTempWorkspace::CTempWorkspace() {
    workspacePath = fs::MakeWorkspaceDirectory(&reason_);
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
    if (!workspacePath.empty())
        rmdir(workspacePath.c_str());
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
    for (int k = 2; k <= kMaxNameSuffix; ++k) {
        struct stat st;
        if (lstat(candidate.c_str(), &st) != 0)
            return candidate;  // free
        // Taken by the same kind: hand it out again (a rewrite of the same
        // entry). A link is never ours, so it counts as the other kind.
        if (!S_ISLNK(st.st_mode) && S_ISDIR(st.st_mode) == wantDirectory)
            return candidate;
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
