// TempWorkspace.h - the private temporary directory for drag-out and View.
//
// CTempWorkspace is one directory "TMPxxxxxx" (mkdtemp, mode 0700) under the
// temporary directory ($TMPDIR, else P_tmpdir). It hands out paths for files
// and folders written into it, remembers every one, and on destruction
// deletes the remembered files (oldest first), removes the remembered
// directories (newest first, so children go before parents) and then itself.
// Anything it did not hand out stays, and so does a directory holding it.
//
// The Make*Path members create nothing. They refuse (return "") a name that
// is not a safe single component (pack::IsValidEntryName: empty, ".", "..", "/" or
// "\\" inside, too long), so no name from a pack can lead outside the
// workspace. A file and a folder of the same name never overwrite each other:
// when the wanted path is already taken on disk by the other kind, the name
// gets " (2)", " (3)", ... (before the extension of a file name). A path taken
// by the same kind is handed out again, so writing the same entry twice
// replaces the earlier file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace crateforge {

class CTempWorkspace {
  public:
    // Creates the workspace directory. When that fails, IsValid() is false,
    // `workspacePath` is empty, Reason() says why, and every Make*Path
    // returns "".
    CTempWorkspace();
    ~CTempWorkspace();
    CTempWorkspace(const CTempWorkspace&) = delete;
    CTempWorkspace& operator=(const CTempWorkspace&) = delete;

    bool IsValid() const { return !workspacePath.empty(); }
    const std::string& Reason() const { return reason_; }
    const std::string& WorkspacePath() const { return workspacePath; }
    const std::vector<std::string>& FilePaths() const { return filePaths; }
    const std::vector<std::string>& FolderPaths() const { return folderPaths; }

    // workspacePath + "/" + name, remembered as a file.
    std::string MakeFilePath(std::string_view name);
    // directory + "/" (unless it ends in one) + name, remembered as a file.
    // `directory` must be the workspace or a path it handed out as a folder;
    // anything else is refused.
    std::string MakeNestedFilePath(std::string_view directory, std::string_view name);
    // workspacePath + "/" + relativeParent + "/" (when not empty) + name, one
    // trailing "/" removed, remembered as a folder. `relativeParent` is a
    // folder path this workspace handed out, taken relative to the workspace
    // (components joined with "/", each a safe name).
    std::string MakeFolderPath(std::string_view name, std::string_view relativeParent);

    // Whether `path` lies inside the workspace (a plain string test on a path
    // built from safe components).
    bool Contains(std::string_view path) const;

  private:
    // Picks the path for `name` in `dir`, stepping past a path held by the
    // other kind.
    std::string FreePath(const std::string& dir, std::string_view name, bool wantDirectory) const;
    bool IsHandedOutFolder(std::string_view path) const;

    std::string workspacePath;
    std::vector<std::string> filePaths;
    std::vector<std::string> folderPaths;
    std::string reason_;
};

}  // namespace crateforge
