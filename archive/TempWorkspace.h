// TempWorkspace.h - the private temporary directory for drag-out and View.
//
// CTempWorkspace is one directory "TMPxxxxxx" (mkdtemp, mode 0700) under the
// temporary directory ($TMPDIR, else P_tmpdir). It hands out paths for files
// and folders written into it, remembers every one, and on destruction
// deletes the remembered files (oldest first), removes the remembered
// directories (newest first, so children go before parents) and then itself.
// Anything it did not hand out stays, and so does a directory holding it.
// The root stays private; what is written inside for other programs gets
// ordinary modes (kHandedOutFileMode, kHandedOutFolderMode, less the umask),
// since a file manager that moves an item out keeps its mode.
//
// Ownership mark: a run killed outright (SIGKILL, a crash) cannot clean up,
// so every workspace says whose it is. The owner holds an exclusive flock on
// the workspace directory for as long as the workspace lives, and only then
// writes the mark file kOwnerMarkName into it (the pid and boot id, for a
// person who looks). The lock goes with the owner's last descriptor, also
// when the process dies. RemoveAbandoned(), called at start, removes every
// marked workspace of this user whose lock it can take: its owner is gone.
// A workspace of another running instance stays (its lock is held), and so
// does every folder without the mark (not ours to judge). A workspace that
// could not be emptied at destruction keeps its mark, so the next start
// removes what is left.
//
// The Make*Path members create nothing. They refuse (return "") a name that
// is not a safe single component (pack::IsValidEntryName: empty, ".", "..",
// "/" or "\\" inside, too long), so no name from a pack can lead outside the
// workspace; callers split a pack's names into such components first
// (pack::ToDiskPath) and write through Beneath(), the workspace open for
// writing below it only. A file and a folder of the same name never overwrite each other:
// when the wanted path is already taken on disk by the other kind, the name
// gets " (2)", " (3)", ... (before the extension of a file name). A path taken
// by the same kind is handed out again, so writing the same entry twice
// replaces the earlier file.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/BeneathFolder.h"

namespace crateforge {

// The mark file of a workspace (see the top). Never handed out: an entry of
// that name gets a numbered name instead.
inline constexpr char kOwnerMarkName[] = ".crateforge-workspace";
// Modes of what the workspace hands out, before the umask.
inline constexpr mode_t kHandedOutFileMode = 0644;
inline constexpr mode_t kHandedOutFolderMode = 0755;

class CTempWorkspace {
  public:
    // Creates the workspace directory. When that fails, IsValid() is false,
    // `workspacePath` is empty, Reason() says why, and every Make*Path
    // returns "".
    CTempWorkspace();
    ~CTempWorkspace();
    CTempWorkspace(const CTempWorkspace&) = delete;
    CTempWorkspace& operator=(const CTempWorkspace&) = delete;

    // Removes the workspaces that runs now gone left in the temporary
    // directory (see the top); returns their paths. A workspace that could
    // not be removed whole is left out of the list; `failures` (when given)
    // gets "path: reason" for it.
    static std::vector<std::string> RemoveAbandoned(std::vector<std::string>* failures = nullptr);

    bool IsValid() const { return !workspacePath.empty(); }
    // Whether the workspace carries its ownership mark (false when the lock
    // or the mark could not be made: it then works unmarked, and a kill
    // leaves it for a person to remove).
    bool IsMarked() const { return marked_; }
    const std::string& Reason() const { return reason_; }
    const std::string& WorkspacePath() const { return workspacePath; }
    const std::vector<std::string>& FilePaths() const { return filePaths; }
    const std::vector<std::string>& FolderPaths() const { return folderPaths; }
    // The workspace directory, for writing below it through descriptors
    // (not open when the workspace is not valid).
    const fs::BeneathFolder& Beneath() const { return beneath_; }

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

    void Mark();
    // Removes the mark and the root when nothing else is left in it.
    void RemoveRoot();

    std::string workspacePath;
    std::vector<std::string> filePaths;
    std::vector<std::string> folderPaths;
    std::string reason_;
    int lockFd_ = -1;  // the workspace directory, flocked while it lives
    fs::BeneathFolder beneath_;
    bool marked_ = false;
};

}  // namespace crateforge
