// PackFolder.h - one folder of the pack held in memory (CPackFolder).
//
// The archive document keeps the whole pack as a tree of CPackFolder nodes.
// A folder owns its subfolders, their 264-byte name records (FolderRecord
// images: name, then the blockOffset a save assigns) and its files with their
// stored bytes. Anyone may read a folder by index (the list view, the status
// line, the extract dialog, vpf); only CPackArchive changes one, through its
// edit members, which check every limit of a pack first.
//
// Invariants:
//   - subfolders.size() == subfolderNames.size() == subfolderCount, and
//     files.size() == fileCount;
//   - totalOriginalSize / totalPackedSize cover the whole subtree; every
//     change updates this folder and every ancestor up to the root at once
//     (32-bit counters that wrap, like the pack's own fields);
//   - the order of the lists is the order of the records in the pack and of
//     the rows in the list before any sort.
// Names are compared ignoring ASCII letter case (pack::SameNameIgnoringCase).
// The deepest nesting loaded or created is pack::kMaxFolderDepth, the
// longest full name pack::kMaxFullNameLength bytes. Entry
// pointers stay valid while the entry is in the tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/PackEntry.h"
#include "format/PackFormat.h"

namespace crateforge {

// The name with " (k)" added, before its extension when `beforeExtension`
// (a leading dot starts no extension): used wherever a name must step past
// one that is taken. NumberedName("a.txt", 2, true) == "a (2).txt".
std::string NumberedName(std::string_view name, int k, bool beforeExtension);

class CPackFolder {
  public:
    // An empty folder: no records, totals 0, subtreeSize 12.
    explicit CPackFolder(CPackFolder* parent = nullptr);
    ~CPackFolder();  // Clear()
    CPackFolder(const CPackFolder&) = delete;
    CPackFolder& operator=(const CPackFolder&) = delete;

    // First subfolder / file whose name equals `name` ignoring case, or -1.
    int FindSubfolder(std::string_view name) const;
    int FindFile(std::string_view name) const;

    // ---- Reading by index: what a listing of the folder needs ----------
    // Counts of the lists; names, sizes and subtree totals by position
    // (0 <= i < count). The entry of file i, or null outside.
    std::uint32_t SubfolderCount() const { return static_cast<std::uint32_t>(subfolders.size()); }
    std::uint32_t FileCount() const { return static_cast<std::uint32_t>(files.size()); }
    std::string_view SubfolderName(int i) const;
    std::uint32_t SubfolderOriginalTotal(int i) const;
    std::uint32_t SubfolderPackedTotal(int i) const;
    std::string_view FileName(int i) const;
    std::uint32_t FileOriginalSize(int i) const;
    std::uint32_t FilePackedSize(int i) const;
    const PackEntry* FileAt(int i) const;
    // Subfolder i, or null outside.
    CPackFolder* SubfolderAt(int i) const;
    // Index of `child` among the subfolders, or -1.
    int IndexOf(const CPackFolder* child) const;
    CPackFolder* Parent() const { return parent; }
    // Bytes of this folder's block and every block below it, as the last
    // save laid them out.
    std::uint32_t SubtreeSize() const { return subtreeSize; }
    // Sizes of every file in the subtree (32-bit counters that wrap).
    std::uint32_t TotalOriginalSize() const { return totalOriginalSize; }
    std::uint32_t TotalPackedSize() const { return totalPackedSize; }
    // Levels of folders below this one: 0 when it has no subfolder.
    int Height() const;
    // Depth of this folder: 0 for the root.
    int Depth() const;
    // Bytes of this folder's full name inside the pack (the names from the
    // root down, one separator between them); 0 for the root.
    std::size_t FullNameLength() const;
    // Bytes of the full name an entry named with `nameLength` bytes would
    // have in this folder.
    std::size_t ChildNameLength(std::size_t nameLength) const;
    // The longest full name inside this folder, counted from it (its own
    // name not included): a file "ab" gives 2, a folder "s" holding "ab" 4;
    // 0 when it is empty.
    std::size_t LongestNameInside() const;

    // Number of folders in this subtree, this one included.
    std::uint64_t FolderCountInSubtree() const;

  private:
    friend class CPackArchive;

    CPackFolder* parent = nullptr;  // not owned; null for the root
    std::uint32_t subtreeSize = pack::kFolderBlockHeaderSize;
    std::vector<std::unique_ptr<CPackFolder>> subfolders;
    std::vector<std::unique_ptr<pack::FolderRecord>> subfolderNames;  // index-parallel
    std::vector<std::unique_ptr<PackEntry>> files;
    std::uint32_t subfolderCount = 0;
    std::uint32_t fileCount = 0;
    std::uint32_t totalOriginalSize = 0;
    std::uint32_t totalPackedSize = 0;

    // Appends a name record (name, blockOffset 0) and an empty child whose
    // parent is this folder; returns the child. Does not test for an existing
    // name (callers do). Returns null, appending nothing, for a name the
    // 260-byte field cannot hold (more than 259 bytes or a NUL byte).
    CPackFolder* AppendSubfolder(std::string_view name);
    // Appends the entry at the end of `files` and adds its sizes to the
    // totals of this folder and every ancestor. Returns the entry.
    PackEntry* AppendFile(std::unique_ptr<PackEntry> entry);
    // Puts `entry` in the place of file i (same position), moving the totals
    // by the difference; the old entry and its bytes are released. Returns 1.
    int ReplaceFileAt(int i, std::unique_ptr<PackEntry> entry);
    // Removes file i (later files move up), lowering the totals. Returns 1.
    int EraseFileAt(int i);
    // Removes subfolder i with everything below it, lowering the totals by
    // the whole subtree's sizes. Returns the number of files removed.
    std::uint32_t EraseSubfolderAt(int i);
    // Removes every file / subfolder i with doomed[i] set (doomed has one
    // flag per file / subfolder), in one pass: the rest keep their order and
    // the totals fall once by what went. Return the number of files removed.
    std::uint32_t EraseFiles(const std::vector<bool>& doomed);
    std::uint32_t EraseSubfolders(const std::vector<bool>& doomed);
    // Releases everything; counts and totals 0. Deep trees are released
    // without deep recursion.
    void Clear();

    // Adds (signed) deltas to this folder's totals and every ancestor's.
    void AdjustTotals(std::int64_t deltaOriginal, std::int64_t deltaPacked);

    // Gives file (subfolder) i the name `name` (a change of letter case
    // only included); the caller has checked it.
    void RenameAt(int i, bool isFolder, std::string_view name);
    // Takes file i (subfolder i with everything inside) out of this folder,
    // lowering the totals; the rest keep their order.
    std::unique_ptr<PackEntry> ReleaseFileAt(int i);
    std::unique_ptr<CPackFolder> ReleaseSubfolderAt(int i);
    // Appends a folder taken out of another one under `name`, raising the
    // totals by its subtree's.
    void AdoptSubfolder(std::unique_ptr<CPackFolder> folder, std::string_view name);
};

}  // namespace crateforge
