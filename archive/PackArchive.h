// PackArchive.h - the open pack document of the desktop program (CPackArchive).
//
// CPackArchive holds one pack file entirely in memory as a CPackFolder tree
// with every file's stored bytes, plus non-owning references to what it
// drives: the message service that owns its boxes, the list it fills, the
// progress bar, and the small-icon lookup. The window makes a new document
// for every New and Open and destroys the previous one first. Every command
// that changes the content calls Save at once, which rewrites the whole file.
//
// Results: operations return 1 for done and 0 for refused / not possible
// (nothing open, name taken, the user said No, a failure reported to the
// user); lookups return an index or -1. While nothing is open (path empty)
// every content operation returns 0 and changes nothing.
//
// Safety and failures:
//   - Open / Load / ConvertOldPack check every count, size and offset against
//     the file: a truncated, inconsistent or hostile file is refused with 0,
//     a message naming the file, and no change to the document.
//   - Save writes a sibling temporary file, flushes and fsyncs it and renames
//     it over the pack (the old file's permission bits are kept). When any
//     step fails the user is told, the previous pack stays byte-identical,
//     and the document goes back to what is on disk: it reloads the pack it
//     last loaded or saved (keeping the shown folder where it still exists),
//     or, for a pack never written, returns to an empty root. Row data from
//     before the failed Save is then invalid; the list has been refilled.
//   - Adding refuses, with a message naming the file and before anything
//     changes: names of more than 259 bytes, files that cannot be opened or
//     read (the rest of a batch goes on), files of 4 GiB or more, and
//     additions that would make the pack reach 4 GiB.
//   - Nothing writes outside the workspace: pack names that are no safe path
//     component are skipped with a message.
//   - LastError() keeps the reason of the last failure for tools.
//
// Message texts are the program's own and are kept byte for byte; see the
// k*Text constants below. Everything runs on one thread (the user interface
// thread); the process-wide progress binding of EntryCoding.h is set by the
// constructor and SetProgressControl and cleared by the destructor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "archive/PackEntry.h"
#include "archive/PackFolder.h"
#include "platform/Platform.h"

namespace crateforge {

class CTempWorkspace;
class PackFileWriter;  // checked buffered writes (PackArchive.cpp)

// Verbatim texts.
inline constexpr char kOldPackQuestion[] =
    "PackFile has an old version. It will be converted. Do you wish to continue?";
inline constexpr char kReplaceQuestion[] = "File %s already exist. Do you wish to replace it?";
inline constexpr char kUpDirName[] = "..";

class CPackArchive {
  public:
    // owner: shows the document's message boxes (must outlive the document).
    // list: filled by RefreshList; may be null (then nothing is listed).
    // progress: driven while loading, converting and adding; may be null.
    // icons: small-icon indexes for the rows; may be null (index 0).
    CPackArchive(MessageService* owner, ListControl* list, ProgressControl* progress,
                 IconProvider* icons = nullptr);
    ~CPackArchive();
    CPackArchive(const CPackArchive&) = delete;
    CPackArchive& operator=(const CPackArchive&) = delete;

    // Sets progressControl and the process-wide progress binding.
    void SetProgressControl(ProgressControl* bar);

    // ---- Document -----------------------------------------------------------

    // Binds the document to `path` with an empty root; writes nothing (the
    // file appears at the first Save). Returns 1.
    int CreateNew(const std::string& path);
    // Opens a "2.10" pack (loads and lists it) or, after the old-version
    // question answered Yes, converts a "1.03" pack and saves it as the same
    // path with ".VPF" in place of its extension (a name already ending in
    // ".vpf", any case, is rewritten in place; the old file is otherwise left
    // as it was). Returns 1 when a pack is open, 0 otherwise (no pack: no
    // message; the user said No; damaged: a message) with the document Empty.
    int Open(const std::string& file);
    // Rewrites the whole pack at path() atomically. 1 on success; 0 after a
    // failure that was reported (see the top of this header).
    int Save();

    // Whether the file starts with a whole header of that version.
    static bool IsCurrentPack(const std::string& file);
    static bool IsOldPack(const std::string& file);

    // Loads path() as a "2.10" pack; 1, or 0 (with LastError) leaving the
    // document unchanged. Lists the root on success.
    int Load();
    // Converts path() as a "1.03" pack into the tree (all in the root, in the
    // order of the offset table; entryCode >= 23 skipped; names equal but for
    // case after the first get " (2)", " (3)", ... before the extension;
    // every file recoded to gzip or stored). 1, or 0 with a message and the
    // document unchanged; nothing is written either way.
    int ConvertOldPack();

    // ---- Content (all 0 while nothing is open) -------------------------------

    // Adds the disk file into `folder` (asks "File %s already exist. Do you
    // wish to replace it?" when the name is taken; Yes replaces in place).
    // 1 added or replaced; 0 declined or refused (with a message).
    int AddFile(const std::string& path, CPackFolder* folder);
    // Adds the disk folder and everything below it into `folder`, merging
    // into a subfolder of the same name. Names beginning with "." are
    // skipped; links to directories are not followed; links to files add the
    // file. Names are taken in byte order. 1, or 0 when nothing is open or
    // the folder itself cannot be listed or named (with a message).
    int AddFolder(const std::string& path, CPackFolder* folder);
    // Reads the disk file into `entry` (whose name is set) and codes it,
    // moving the bar by half its length first and resetting the progress
    // accumulator. 1, or 0 with a message naming the file.
    int LoadEntryFromDisk(const std::string& path, PackEntry& entry);
    // Adds an entry already coded elsewhere (CodeDiskFile) into `folder`
    // with the same checks and the same replace question as AddFile; the
    // entry's name must be set. `sourcePath` names the file in messages.
    // 1 added or replaced; 0 declined or refused (the entry is dropped).
    int AddCodedFile(std::unique_ptr<PackEntry> entry, CPackFolder* folder,
                     const std::string& sourcePath);

    // Remove by row text in the current folder; 1 (also when not found).
    int RemoveFile(const std::string& name);
    int RemoveFolder(const std::string& name);
    // Rename in the current folder; 0 when the new name is taken (the caller
    // shows "File %s already exist." / "Directory %s already exist."); 1
    // otherwise. A new name that is empty, ".", "..", holds "/" or "\\", or
    // has more than 259 bytes is refused with a message and changes nothing
    // (returns 1 so the caller does not report it as taken). Refreshes the
    // list.
    int RenameFile(const std::string& oldName, const std::string& newName);
    int RenameFolder(const std::string& oldName, const std::string& newName);

    // ---- Listing and navigation ---------------------------------------------

    // Rebuilds the rows from current(): ".." (below the root), folders, files;
    // then sorts when a sort column is set.
    void RefreshList();
    // Comparator of the list sort (a strict weak ordering): rows without data
    // are equal to each other and come before file rows; file rows by
    // sortColumn (0 name, case-sensitive byte order; 1 original size; 2 ratio;
    // 3 packed size; sizes unsigned), descending unless sortDirection is 1.
    int CompareRows(const PackEntry* a, const PackEntry* b) const;
    // Column-header click: a new column sorts ascending, the same column
    // flips the direction; then RefreshList.
    void SortByColumn(int column);
    void SetSortState(int column, int direction);

    void EnterFolderAt(int index);  // -1: nothing
    void EnterFolder(const std::string& name);
    void GoUp();

    // ---- Temporary workspace --------------------------------------------------

    // Writes the entry's original bytes at the workspace's top level; returns
    // the path, or "" after reporting the failure (unsafe name, damaged or
    // undecodable entry, write failure).
    std::string ExtractFileToTemp(const PackEntry& entry, CTempWorkspace& workspace);
    // Writes subfolder `index` of current() with its whole subtree below the
    // workspace (under `parentPath`, relative, "" at the top); returns its
    // directory, or "" when index is -1 or the directory cannot be made.
    // Files that fail are left out and reported together in one message.
    std::string ExtractFolderToTemp(int index, CTempWorkspace& workspace,
                                    const std::string& parentPath);

    // ---- State ----------------------------------------------------------------

    bool IsOpen() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    CPackFolder* root() const { return root_.get(); }
    CPackFolder* current() const { return current_; }
    std::uint32_t fileCount() const { return fileCount_; }
    int sortColumn() const { return sortColumn_; }
    int sortDirection() const { return sortDirection_; }
    ListControl* listControl() const { return listControl_; }
    ProgressControl* progressControl() const { return progressControl_; }
    // Size in bytes of the pack that Save would write now.
    std::uint64_t PackSize() const;
    const std::string& LastError() const { return lastError_; }

    // Percent saved, as the Ratio column shows it: 0 when both sizes are
    // equal or the original size is 0, else 100 - trunc(packed / original *
    // 100) in double precision (negative when the stored form is larger).
    // Folder rows convert the packed total to float first.
    static std::int64_t FileRatio(std::uint32_t originalSize, std::uint32_t packedSize);
    static std::int64_t FolderRatio(std::uint32_t originalSize, std::uint32_t packedSize);

  private:
    bool WriteHeader(PackFileWriter& file);
    bool WriteDirectory(PackFileWriter& file);
    std::uint64_t ComputeFolderOffsets(CPackFolder& folder, std::uint64_t start);
    std::uint64_t ComputeDataOffsets(CPackFolder& folder, std::uint64_t position);
    bool WriteFolder(PackFileWriter& file, const CPackFolder& folder);
    bool WriteData(PackFileWriter& file, const CPackFolder& folder);

    int SaveFailed(const std::string& reason);
    void RestoreFromDisk();
    int InsertEntry(std::unique_ptr<PackEntry> entry, CPackFolder* folder, int existing,
                    const std::string& sourcePath);
    int PrepareAdd(std::string_view name, CPackFolder* folder, const std::string& sourcePath,
                   int& existing);
    int AddFolderAt(const std::string& path, CPackFolder* folder, int depth);
    int Rename(const std::string& oldName, const std::string& newName, bool isFolder);
    bool ExtractTree(const CPackFolder& folder, CTempWorkspace& workspace, const std::string& dir,
                     const std::string& relative, int depth, int& failures,
                     std::string& firstFailure);
    void Message(const std::string& text);
    int Fail(const std::string& text);

    MessageService* ownerWindow_;
    ListControl* listControl_;
    ProgressControl* progressControl_;
    IconProvider* icons_;
    std::unique_ptr<CPackFolder> root_;
    CPackFolder* current_ = nullptr;
    std::string path_;
    std::uint32_t fileCount_ = 0;
    int sortColumn_ = -1;
    int sortDirection_ = 0;
    bool onDisk_ = false;  // path_ holds the pack this document last loaded or saved
    std::string lastError_;
};

}  // namespace crateforge
