// PackFolder.h - one folder of the pack held in memory (CPackFolder).
//
// The archive document keeps the whole pack as a tree of CPackFolder nodes.
// A folder owns its subfolders, their 264-byte name records (FolderRecord
// images: name, then the blockOffset a save assigns) and its files with their
// stored bytes. The lists are public because the list view, the status line
// and the extract dialog walk them by index; change them only through the
// members below, which keep the counts and the totals right.
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

    CPackFolder* parent = nullptr;  // not owned; null for the root
    std::uint32_t subtreeSize = pack::kFolderBlockHeaderSize;
    std::vector<std::unique_ptr<CPackFolder>> subfolders;
    std::vector<std::unique_ptr<pack::FolderRecord>> subfolderNames;  // index-parallel
    std::vector<std::unique_ptr<PackEntry>> files;
    std::uint32_t subfolderCount = 0;
    std::uint32_t fileCount = 0;
    std::uint32_t totalOriginalSize = 0;
    std::uint32_t totalPackedSize = 0;

    // First subfolder / file whose name equals `name` ignoring case, or -1.
    int FindSubfolder(std::string_view name) const;
    int FindFile(std::string_view name) const;

    // Name of subfolder i (0 <= i < subfolderCount).
    std::string_view SubfolderName(int i) const;
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

    // Appends a name record (name, blockOffset 0) and an empty child whose
    // parent is this folder; returns the child. Does not test for an existing
    // name (callers do). Returns null, appending nothing, for a name the
    // 260-byte field cannot hold (more than 259 bytes or a NUL byte).
    CPackFolder* AppendSubfolder(std::string_view name);
    // Appends the entry at the end of `files` and adds its sizes to the
    // totals of this folder and every ancestor. Returns 1.
    int AppendFile(std::unique_ptr<PackEntry> entry);
    // Puts `entry` in the place of file i (same position), moving the totals
    // by the difference; the old entry and its bytes are released. Returns 1.
    int ReplaceFileAt(int i, std::unique_ptr<PackEntry> entry);
    // Removes file i (later files move up), lowering the totals. Returns 1.
    int EraseFileAt(int i);
    // Removes subfolder i with everything below it, lowering the totals by
    // the whole subtree's sizes. Returns the number of files removed.
    std::uint32_t EraseSubfolderAt(int i);
    // Releases everything; counts and totals 0. Deep trees are released
    // without deep recursion.
    void Clear();

    // Adds (signed) deltas to this folder's totals and every ancestor's.
    void AdjustTotals(std::int64_t deltaOriginal, std::int64_t deltaPacked);

    // Number of folders in this subtree, this one included.
    std::uint64_t FolderCountInSubtree() const;
};

}  // namespace crateforge
