// PackArchive.h - the open pack document of the desktop program (CPackArchive).
//
// CPackArchive holds one pack file as a CPackFolder tree: the directory in
// memory, and every file's stored bytes in the pack file, kept open, until
// they are needed (files just added are held in memory until the next
// save, which gives them back); plus non-owning references to what it
// drives: the message service that owns its boxes, the list it fills, the
// progress bar, and the small-icon lookup. The window makes a new document
// for every New and Open and destroys the previous one first. Every command
// that changes the content calls Save at once, which rewrites the whole file.
//
// Results: operations return 1 for done and 0 for refused / not possible
// (nothing open, name taken, the user said No, a failure reported to the
// user); lookups return an index or -1. While nothing is open (path empty)
// every content operation returns 0 and changes nothing. The tree changes
// only through this class: the edits (MakeFolder, Rename, Move, Remove,
// AddCodedEntry) answer an outcome and show nothing, for callers with words
// of their own (vpf, the New Folder command); the commands above them show
// the program's messages. Every limit of a pack (the depth, the full name,
// 4 GiB, names equal but for case) is checked in one place, CheckPlace.
//
// Safety and failures:
//   - Open / Load / ConvertOldPack read the pack through the format core's
//     one directory walker and entry decoder (format/PackDirectory.h,
//     format/EntryDecoder.h): a truncated, inconsistent or hostile file is
//     refused with 0, a message naming the file, and no change to the
//     document. Names are taken as stored, whatever they hold (a converted
//     old pack keeps "maps\\x.map" in its root). Load reads the directory
//     only and keeps every entry's place, sizes and method byte as loaded
//     (entries that share bytes in the file are written apart by a save,
//     refused when that would not fit a pack); conversion decodes every
//     entry and codes it again.
//   - Save writes through the one atomic replace-write (platform/
//     AtomicFile.h): a link at the path is followed, the old file's mode is
//     kept, and the previous pack stays byte-identical when any step fails.
//     The document then goes back to what is on disk (it reloads the pack it
//     last loaded or saved, keeping the shown folder where it still exists,
//     or returns to an empty root for a pack never written); row data from
//     before the failed Save is then invalid and the list has been refilled.
//     When the pack's folder takes no new file but the pack is writable,
//     Save rewrites it in place, with the space reserved first and the old
//     bytes kept aside and put back on any failure. A pack that may not be
//     written (no write permission, or no write bit at all) is never
//     changed: the save is refused. The file on disk is the truth: a pack
//     that another program changed since this document loaded or saved it
//     (device, inode, size, modification time) is not overwritten; the
//     document loads it again and the command is not applied. Loading
//     holds a shared flock on the pack and saving an exclusive one.
//   - Adding refuses, with a message naming the file and before anything
//     changes: names of more than 259 bytes or that a pack cannot hold,
//     full names inside the pack longer than pack::kMaxFullNameLength,
//     files that cannot be opened or read (the rest of a batch goes on),
//     files of 4 GiB or more, and additions that would make the pack reach
//     4 GiB. AddFolder walks the disk with the one folder walk (platform/
//     FolderWalk.h) and reports everything it did not add in one message.
//   - Nothing writes outside the workspace: names become disk paths by the
//     one rule (pack::ToDiskPath; those with an empty, "." or ".." component
//     are refused) and are written below the workspace through descriptors
//     (platform/BeneathFolder.h).
//   - LastFault() keeps the reason of the last failure for tools.
//
// Message texts are the program's own and live in ArchiveTexts.h.
// Everything runs on one thread (the user interface thread); the process-
// wide progress binding of EntryCoding.h is set by the constructor and
// SetProgressControl and cleared by the destructor.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ArchiveTexts.h"
#include "archive/EntryCoding.h"
#include "archive/PackEntry.h"
#include "archive/PackFolder.h"
#include "format/ByteSource.h"
#include "format/EntryDecoder.h"
#include "platform/Fault.h"
#include "platform/Platform.h"

namespace crateforge {

class CTempWorkspace;

namespace fs {
class AtomicFile;
}

// What to do when an added file's name is taken in its folder.
enum class NameClash {
    Ask,      // ask "File %s already exist. Do you wish to replace it?"
    Replace,  // replace without asking
    Keep,     // keep the existing file and answer NameTaken
};

// How an addition ended.
enum class AddOutcome {
    Added,      // a new file in the folder
    Replaced,   // the file of that name was replaced in its place
    NameTaken,  // kept the existing file (NameClash::Keep, or the user said No)
    Refused,    // not added; the reason was shown and is in LastFault()
};

// Files stored uncompressed because compressing them failed (the gzip coder
// ran out of memory), counted until TakeCodingFallbacks.
struct CodingFallbacks {
    int count = 0;
    std::string firstName;  // the first such file (its disk path, or its name in an old pack)
    std::string reason;     // why its compression failed
};

// An entry of an old pack that conversion named apart from an earlier one
// whose name differs only in letter case.
struct ConversionRename {
    std::size_t index;    // its place among the converted files (0 = the first)
    std::string oldName;  // as the old pack stores it
    std::string newName;  // as the converted pack holds it
};

// How a save ended. Every outcome but Saved and Incomplete leaves the file
// on disk as it was and the document as the disk holds it (loaded again).
enum class SaveOutcome {
    Saved,
    NotOpen,
    Failed,          // not written (too large, cannot be written, disk full, ...)
    ReadOnly,        // the pack exists and may not be written: nothing was written
    ChangedOutside,  // another program changed the pack since this document read
                     // or saved it: nothing was written, the document was reloaded
    Incomplete,      // rewritten in place, failed, and the old bytes could not be
                     // put back: the document keeps its tree for the next save
};

// How a rename ended.
enum class RenameOutcome {
    Renamed,
    NotFound,     // no such file / folder: nothing changed
    NameTaken,    // the new name is taken (also by the entry itself in another case)
    InvalidName,  // the new name cannot be stored; the reason was shown
    NotOpen,
};

// How an edit of the tree ended. CPackArchive checks every limit of a pack
// here, once, for every way a tree changes (adding, making, renaming,
// moving); the callers only choose their words.
enum class EditOutcome {
    Done,
    NotOpen,
    NotFound,         // no such file or folder
    NameTaken,        // a file (folder) of that name but for letter case is there
    UnusableName,     // empty, ".", "..", or holding "/", "\\" or NUL
    NameTooLong,      // longer than pack::kMaxNameLength bytes
    FullNameTooLong,  // a full name would pass pack::kMaxFullNameLength bytes
    TooDeep,          // folders would nest more than pack::kMaxFolderDepth below the root
    FileTooLarge,     // a file of 4 GiB or more
    PackTooLarge,     // the pack would reach 4 GiB
    IntoItself,       // a folder moved into itself or below it
};

// The outcome told in a few words ("its name is longer than 259 bytes");
// "" for Done.
const char* EditReason(EditOutcome outcome);

struct EditResult {
    EditOutcome outcome = EditOutcome::Done;
    // MakeFolder: the folder made, or the one holding the name for NameTaken.
    CPackFolder* folder = nullptr;
    // Remove: the files removed, those inside a removed folder included.
    std::uint32_t filesRemoved = 0;
    bool Done() const { return outcome == EditOutcome::Done; }
    const char* Reason() const { return EditReason(outcome); }
};

// What is about to go into a folder, as CPackArchive::CheckPlace weighs it.
struct Placement {
    std::string_view name;
    bool isFolder = false;
    // A new entry makes the pack grow; an entry moved or renamed does not.
    bool isNew = true;
    // The file of that name that is replaced, or the entry itself when it is
    // renamed in its folder: not a clash. -1 for none.
    int keep = -1;
    // Files: the bytes they will take in the pack (at most their size).
    std::uint64_t size = 0;
    // Folders moved or renamed: the folder, whose names and levels inside
    // come along.
    const CPackFolder* inside = nullptr;
};

class CPackArchive;

// The rows of the document's shown folder, as the list reads them: ".."
// below the root, then the subfolders, then the files, in folder order.
// It reads the folder by index through CPackFolder's read members only.
class CFolderRows final : public ListSource {
  public:
    explicit CFolderRows(const CPackArchive& archive) : archive_(archive) {}
    int RowCount() const override;
    RowKey KeyAt(int position) const override;
    std::string_view Name(RowKey key) const override;
    std::string CellText(RowKey key, int column) const override;
    int IconIndex(RowKey key) const override;

  private:
    const CPackArchive& archive_;
};

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
    // question answered Yes, converts a "1.03" pack and saves it under
    // pack::ConvertedPackPath (the old file is otherwise left as it was).
    // Returns 1 when a pack is open, 0 otherwise (no pack: no message; the
    // user said No; damaged: a message) with the document Empty.
    int Open(const std::string& file);
    // Rewrites the whole pack at path() atomically. 1 on success; 0 after a
    // failure that was reported (see the top of this header).
    int Save();
    // The same, showing nothing: the outcome, with the reason in `fault`.
    // When the document had to be loaded again and that failed, ReloadFailed()
    // is true and LastFault() says why (the document is then an empty root).
    SaveOutcome SaveQuietly(pack::Fault& fault);
    bool ReloadFailed() const { return reloadFailed_; }
    // Binds the document to `newPath` and saves it there (the file at the
    // old path is left as it is). 1, or 0 as Save.
    int SaveAs(const std::string& newPath);
    // The same, showing nothing, as SaveQuietly.
    SaveOutcome SaveAsQuietly(const std::string& newPath, pack::Fault& fault);
    // Writes the whole pack, byte for byte what Save would write, into
    // `sink` (a pipe, for example) and shows nothing. False with `fault` when
    // the pack would reach 4 GiB, bytes are missing or the sink refuses;
    // the sink may then hold part of a pack.
    bool WriteTo(pack::ByteSink& sink, pack::Fault& fault);

    // Writes a new pack as its files are coded: each coded entry that joins
    // the tree from now on (AddCodedEntry) goes straight to its place in a
    // new file beside path(), after a directory planned to end at
    // `directoryEnd` (DirectoryEndWith), and the next save writes only the
    // header and the directory into it instead of copying every byte again.
    // Callers add files in the order the pack lays out its data: a folder's
    // files, then its subfolders, depth first. When the tree does not come
    // out as planned (a file failed or was replaced, a folder left out), the
    // save copies the written bytes into a pack of its own, as it does
    // without streaming; the saved pack is the same either way. False, with
    // nothing changed, where no new file can be made beside path().
    bool StreamNewPack(std::uint64_t directoryEnd, pack::Fault& fault);
    // Where the directory ends when `moreFiles` more files join the tree as
    // it is now (in any folders: each costs one record).
    std::uint64_t DirectoryEndWith(std::uint64_t moreFiles) const;

    // Whether the file starts with a whole header of that version.
    static bool IsCurrentPack(const std::string& file);
    static bool IsOldPack(const std::string& file);

    // Loads path() as a "2.10" pack; 1, or 0 (with LastFault) leaving the
    // document unchanged. Lists the root on success.
    int Load();
    // Converts path() as a "1.03" pack into the tree (all in the root, in the
    // order of the offset table; entryCode >= 23 skipped; names equal but for
    // case after the first get " (2)", " (3)", ... before the extension;
    // every file recoded to gzip or stored; refused once the converted pack
    // would reach 4 GiB). 1, or 0 with a message and the document unchanged;
    // nothing is written either way.
    int ConvertOldPack();
    // The entries the last successful ConvertOldPack renamed, in order.
    const std::vector<ConversionRename>& ConversionRenames() const { return conversionRenames_; }

    // Files stored uncompressed since the last call because their
    // compression failed (by AddFile, AddFolder, LoadEntryFromDisk and the
    // conversion of Open); the count starts again at 0. A command takes them
    // once at its end and says so in one message.
    CodingFallbacks TakeCodingFallbacks();

    // ---- Content (all 0 while nothing is open) -------------------------------

    // Adds the disk file into `folder` (asks "File %s already exist. Do you
    // wish to replace it?" when the name is taken; Yes replaces in place).
    // 1 added or replaced; 0 declined or refused (with a message).
    int AddFile(const std::string& path, CPackFolder* folder);
    // Adds the disk folder and everything below it into `folder`, merging
    // into a subfolder of the same name, walking the disk with the one
    // folder walk (names in byte order, names inside it that begin with "."
    // left out, links to folders followed except cycles). 1, or 0 when nothing is open or the
    // folder itself cannot be listed or named (with a message). What the walk or the additions left
    // out inside is reported in one message.
    int AddFolder(const std::string& path, CPackFolder* folder);
    // Reads the disk file into `entry` (whose name is set) and codes it,
    // moving the bar by half its length first and resetting the progress
    // accumulator. 1, or 0 with a message naming the file.
    int LoadEntryFromDisk(const std::string& path, PackEntry& entry);
    // Adds an entry already coded elsewhere (CodeDiskFile) into `folder`
    // with the checks of AddFile; `onClash` says what to do with a name that
    // is taken. `sourcePath` names the file in messages. The entry is taken
    // on Added and Replaced, and left to the caller otherwise.
    AddOutcome AddCodedEntry(std::unique_ptr<PackEntry>& entry, CPackFolder* folder,
                             const std::string& sourcePath, NameClash onClash);

    // ---- Edits of the tree: the only way it changes -------------------------
    // Each checks every limit through CheckPlace first and changes nothing
    // unless it answers Done; none shows a message or saves.

    // Whether `what` may go into `folder` as it is now, in this order: a
    // usable name, the depth, the full names, a clash with a file (folder)
    // of the same name but for letter case, the file's size, the pack's size.
    EditOutcome CheckPlace(const CPackFolder* folder, const Placement& what) const;
    // A new empty folder `name` in `parent` (NameTaken: result.folder is the
    // one that holds the name).
    EditResult MakeFolder(CPackFolder* parent, std::string_view name);
    // Gives the file (folder) `oldName` of `folder` the name `newName`.
    EditResult Rename(CPackFolder* folder, std::string_view oldName, bool isFolder,
                      std::string_view newName);
    // Moves the file (folder) `name` of `from` into `to` as `newName`,
    // keeping its bytes and everything inside; into the same folder it is a
    // rename (a change of letter case only included).
    EditResult Move(CPackFolder* from, std::string_view name, bool isFolder, CPackFolder* to,
                    std::string_view newName);
    // Removes the file (folder, with everything inside) `name` of `folder`.
    EditResult Remove(CPackFolder* folder, std::string_view name, bool isFolder);

    // Remove by row text in the current folder; 1 (also when not found).
    int RemoveFile(const std::string& name);
    int RemoveFolder(const std::string& name);
    // Removes the files and folders of these rows of the current folder in
    // one pass (the ".." row and keys the folder does not hold remove
    // nothing); what is left keeps its order. Returns the number of files
    // removed, those inside removed folders included. Does not refill the
    // list: the caller saves and refreshes.
    std::uint32_t RemoveRows(const std::vector<RowKey>& keys);
    // Rename in the current folder; 0 when the new name is taken (the caller
    // shows "File %s already exist." / "Directory %s already exist."); 1
    // otherwise, also when the new name was refused with a message or no
    // such entry exists. Refreshes the list.
    int RenameFile(const std::string& oldName, const std::string& newName);
    int RenameFolder(const std::string& oldName, const std::string& newName);
    // The same with the outcome told apart. A new name that is empty, ".",
    // "..", holds "/" or "\\", has more than 259 bytes, or would make a full
    // name longer than pack::kMaxFullNameLength (the entry's own, or one
    // inside a renamed folder) is refused with a message (InvalidName) and
    // changes nothing.
    RenameOutcome RenameEntry(const std::string& oldName, const std::string& newName,
                              bool isFolder);

    // ---- Listing and navigation ---------------------------------------------

    // Shows the rows of current() in the list: ".." (below the root),
    // folders, files; then sorts when a sort column is set.
    void RefreshList();
    // Comparator of the list sort (a strict weak ordering): rows without an
    // entry (folders, "..") are equal to each other and come before file
    // rows; file rows by sortColumn (0 name, case-sensitive byte order;
    // 1 original size; 2 ratio; 3 packed size; sizes unsigned), descending
    // unless sortDirection is 1.
    int CompareRows(const PackEntry* a, const PackEntry* b) const;
    // The same for two rows of the list, by their keys.
    int CompareRows(RowKey a, RowKey b) const;
    // The entry of a file row of the current folder; null for other rows and
    // keys the folder does not hold.
    const PackEntry* FileAt(RowKey key) const;
    // The rows the list reads (valid as long as the document).
    const ListSource& Rows() const { return rows_; }
    // Column-header click: a new column sorts ascending, the same column
    // flips the direction; then RefreshList.
    void SortByColumn(int column);
    void SetSortState(int column, int direction);

    void EnterFolderAt(int index);  // -1: nothing
    void EnterFolder(const std::string& name);
    void GoUp();

    // ---- Temporary workspace --------------------------------------------------

    // Writes the entry's original bytes at the workspace's top level (a name
    // holding separators below the folders it names, by pack::ToDiskPath);
    // returns the file's path, or "" after reporting the failure (a name that
    // cannot be written to disk, damaged or undecodable entry, write
    // failure).
    std::string ExtractFileToTemp(const PackEntry& entry, CTempWorkspace& workspace);
    // Writes subfolder `index` of current() with its whole subtree below the
    // workspace (under `parentPath`, relative, "" at the top); returns its
    // directory, or "" when index is -1 or the directory cannot be made.
    // Files that fail are left out and reported together in one message.
    std::string ExtractFolderToTemp(int index, CTempWorkspace& workspace,
                                    const std::string& parentPath);

    // ---- State ----------------------------------------------------------------

    bool IsOpen() const { return !path.empty(); }
    const std::string& Path() const { return path; }
    CPackFolder* Root() const { return root.get(); }
    CPackFolder* Current() const { return current; }
    std::uint32_t FileCount() const { return fileCount; }
    int SortColumn() const { return sortColumn; }
    int SortDirection() const { return sortDirection; }
    ListControl* listControl() const { return listControl_; }
    ProgressControl* progressControl() const { return progressControl_; }
    // Size in bytes of the pack that Save would write now.
    std::uint64_t PackSize() const;
    // Why the last operation failed (kind Io, Damaged, ...; empty reason when
    // none did).
    const pack::Fault& LastFault() const { return lastFault; }

    // Percent saved, as the Ratio column shows it: 0 when both sizes are
    // equal or the original size is 0, else 100 - trunc(packed / original *
    // 100) in double precision (negative when the stored form is larger).
    // Folder rows convert the packed total to float first.
    static std::int64_t FileRatio(std::uint32_t originalSize, std::uint32_t packedSize);
    static std::int64_t FolderRatio(std::uint32_t originalSize, std::uint32_t packedSize);

  private:
    bool WriteHeader(pack::ByteSink& file);
    bool WriteDirectory(pack::ByteSink& file);
    std::uint64_t ComputeFolderOffsets(CPackFolder& folder, std::uint64_t start);
    std::uint64_t ComputeDataOffsets(CPackFolder& folder, std::uint64_t position);
    bool WriteFolder(pack::ByteSink& file, const CPackFolder& folder);
    bool WriteData(pack::ByteSink& file, const CPackFolder& folder);
    bool WriteStoredBytes(pack::ByteSink& file, const PackEntry& entry);
    // After a save: every entry's bytes are read from the new pack.
    void PointIntoPack(CPackFolder& folder);
    // Moves the coded bytes of an entry about to join the tree into a
    // nameless file beside the pack, so that a batch of additions holds no
    // more memory than one file until the save copies them into the pack.
    // Where that file cannot be made or written, the bytes stay in memory.
    void SpoolBytes(PackEntry& entry);
    static constexpr std::uint32_t kSpoolMinimum = 16 * 1024;  // smaller ones stay in memory
    // Writes an entry about to join the tree at the end of the streamed pack
    // (StreamNewPack); false, leaving it as it was, when no pack is streamed
    // or the write failed (streaming then stops).
    bool StreamBytes(PackEntry& entry);
    // Whether every entry of the tree sits in `file` where the pack about to
    // be saved has it, between `start` and `end`; assigns the offsets.
    bool StreamLaidOut(const StoredFile* file, std::uint64_t start, std::uint64_t end);
    static bool LaidOutIn(const CPackFolder& folder, const StoredFile* file,
                          std::uint64_t& position);
    // Why the tree cannot be written as it is (too large, bytes missing).
    bool CheckWritable(pack::Fault& fault) const;

    // Back to the disk after a save that did not happen; `outcome` returned.
    SaveOutcome NotSaved(SaveOutcome outcome);
    // Shows why adding `sourcePath` was refused (an outcome of CheckPlace)
    // and returns 0.
    int RefuseAdd(EditOutcome outcome, const std::string& sourcePath);
    // Reloads the pack last loaded or saved (or empties the tree for one
    // never written), keeping the shown folder where it still exists. False
    // when the reload failed (lastFault says why).
    bool RestoreFromDisk();
    // Checks a file about to go into `folder` (`size`: its bytes at most,
    // 0 when not known yet); asks about a taken name per `onClash`. Refused
    // and NameTaken end the addition; Added means "go on" (existing is then
    // the index of the file to replace, or -1).
    AddOutcome PrepareAdd(std::string_view name, CPackFolder* folder, const std::string& sourcePath,
                          NameClash onClash, std::uint64_t size, int& existing);
    AddOutcome InsertEntry(std::unique_ptr<PackEntry>& entry, CPackFolder* folder, int existing,
                           const std::string& sourcePath);
    bool ExtractTree(const CPackFolder& folder, CTempWorkspace& workspace,
                     const std::string& relative, std::uint32_t depth, int& failures,
                     std::string& firstFailure);

    // The one edge where a failure becomes a message: keeps `fault` as the
    // last failure and shows `text` (the fault told in a sentence).
    void Report(const pack::Fault& fault, const std::string& text);
    // Report with a fault of kind Io and that reason; returns 0.
    int Refuse(std::string reason, const std::string& text);
    // Counts a file that CompressEntry had to store after a failure.
    void NoteCodingFallback(std::string_view name, const char* reason);
    friend class AddFolderVisitor;
    friend class CFolderRows;

    MessageService* ownerWindow_;
    ListControl* listControl_;
    CFolderRows rows_{*this};
    ProgressControl* progressControl_;
    IconProvider* icons_;
    // The document's fields, named as the rest of the program knows them.
    std::unique_ptr<CPackFolder> root;
    CPackFolder* current = nullptr;
    std::string path;
    std::uint32_t fileCount = 0;
    int sortColumn = -1;
    int sortDirection = 0;
    bool onDisk = false;               // path holds the pack this document last loaded or saved
    pack::FileIdentity diskIdentity_;  // that file as it was then (valid while onDisk)
    std::shared_ptr<const StoredFile> packFile_;  // that file, open for reading
    fs::AtomicFile* saving_ = nullptr;            // the file being written by Save
    std::shared_ptr<const StoredFile> spool_;     // coded bytes of files added since
    std::uint64_t spoolEnd_ = 0;
    std::unique_ptr<fs::AtomicFile> stream_;        // the pack being streamed, or null
    std::shared_ptr<const StoredFile> streamFile_;  // it, open for reading
    std::uint64_t streamStart_ = 0;                 // where its data begins
    std::uint64_t streamEnd_ = 0;                   // and where it ends so far
    bool reloadFailed_ = false;
    pack::Fault lastFault;
    CodingFallbacks codingFallbacks_;
    std::vector<ConversionRename> conversionRenames_;
};

}  // namespace crateforge
