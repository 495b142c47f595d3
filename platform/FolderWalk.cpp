// FolderWalk.cpp - the disk-folder walk.
#include "platform/FolderWalk.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"

namespace crateforge::fs {

namespace {

using FolderId = std::pair<std::uint64_t, std::uint64_t>;  // device, inode

class Walk {
  public:
    Walk(FolderVisitor& visitor, std::uint32_t maxDepth, bool skipDotNames)
        : visitor_(visitor), maxDepth_(maxDepth), skipDotNames_(skipDotNames) {}

    void Folder(const WalkItem& folder, FolderId id, const std::vector<DirEntry>& names) {
        if (!visitor_.EnterFolder(folder))
            return;
        path_.push_back(id);
        for (const DirEntry& e : names) {
            if (skipDotNames_ && e.name.front() == '.')
                continue;
            WalkItem item;
            item.path = JoinPath(folder.path, e.name);
            item.name = e.name;
            item.depth = folder.depth + 1;
            item.viaLink = e.isSymlink;
            if (e.statError != 0) {
                Report(WalkProblemKind::CannotRead, item.path, pack::ErrnoText(e.statError));
            } else if (e.isRegular) {
                item.size = e.size;
                visitor_.VisitFile(item);
            } else if (!e.isDirectory) {
                Report(WalkProblemKind::NotRegular, item.path, "not a regular file");
            } else if (std::find(path_.begin(), path_.end(), FolderId{e.device, e.inode}) !=
                       path_.end()) {
                Report(WalkProblemKind::Cycle, item.path, "a link back to a folder that holds it");
            } else if (item.depth > maxDepth_) {
                Report(WalkProblemKind::TooDeep, item.path, "folders nested too deeply");
            } else {
                std::vector<DirEntry> inner;
                pack::Fault listed;
                if (!ListDirectory(item.path, inner, &listed)) {
                    Report(WalkProblemKind::CannotList, item.path, listed.reason);
                    continue;
                }
                item.isFolder = true;
                Folder(item, FolderId{e.device, e.inode}, inner);
            }
        }
        path_.pop_back();
        visitor_.LeaveFolder(folder);
    }

  private:
    void Report(WalkProblemKind kind, const std::string& path, std::string reason) {
        visitor_.Skipped(WalkProblem{kind, path, std::move(reason)});
    }

    FolderVisitor& visitor_;
    std::uint32_t maxDepth_;
    bool skipDotNames_;
    std::vector<FolderId> path_;  // the folders from the walked one down
};

}  // namespace

bool WalkFolder(const std::string& path, FolderVisitor& visitor, std::uint32_t maxDepth,
                pack::Fault& fault, bool skipDotNames) {
    WalkItem root;
    root.path = path.size() > 1 && path.back() == '/' ? path.substr(0, path.size() - 1) : path;
    root.name = std::string(LastComponent(root.path));
    root.isFolder = true;
    struct stat st;
    if (lstat(root.path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        root.viaLink = true;
    }
    if (stat(root.path.c_str(), &st) != 0)
        return pack::Fail(fault, pack::FaultKind::Io, pack::ErrnoText(errno));
    if (!S_ISDIR(st.st_mode))
        return pack::Fail(fault, pack::FaultKind::Io, pack::ErrnoText(ENOTDIR));
    std::vector<DirEntry> names;
    if (!ListDirectory(root.path, names, &fault))
        return false;
    Walk(visitor, maxDepth, skipDotNames)
        .Folder(
            root,
            FolderId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)},
            names);
    return true;
}

}  // namespace crateforge::fs
