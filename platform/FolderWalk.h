// FolderWalk.h - the one walk over a folder tree on disk.
//
// Adding a folder to a pack (the desktop program and vpf) and measuring one
// before it is added (FolderDiskSize) walk the disk the same way, here:
//
//   - the folder's entries in byte order of their names (ListDirectory), so
//     that packs built from the same tree are identical;
//   - "." and ".." are left out; other names beginning with "." (".git",
//     ".gitignore") are visited like any other unless the caller asks to
//     leave them out (the desktop program does: its Add Folder keeps them
//     out of a game's packs; vpf packs them, as tar does);
//   - a link to a file is visited as the file it names; a link to a folder
//     is entered like the folder, except one that leads back to a folder
//     already on the walk's path (a cycle), which is reported and skipped;
//   - everything else that is not visited is reported to the visitor with
//     its path and the reason: a folder that cannot be listed, a name that
//     cannot be read (a dangling link, a loop of links, a name that vanished),
//     a FIFO, socket or device, a folder deeper than the limit. Nothing is
//     skipped silently.
//
// The visitor sees a folder (EnterFolder) before its entries and after its
// listing succeeded, so that a folder that cannot be listed is reported
// instead of entered. It may decline a folder (its own reasons, for example
// a name that a pack cannot hold); the walk then skips what is inside
// without a report of its own.
//
// Memory: one listing per level of the current path. Thread-safe for
// separate visitors.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Fault.h"

namespace crateforge::fs {

struct WalkItem {
    std::string path;         // the disk path
    std::string name;         // its last component
    std::uint32_t depth = 0;  // 0: the walked folder; 1: its entries; ...
    bool isFolder = false;
    bool viaLink = false;    // the name is a symbolic link
    std::uint64_t size = 0;  // bytes of a regular file
};

enum class WalkProblemKind {
    CannotList,  // a folder that cannot be opened or read
    CannotRead,  // a name whose file cannot be looked at
    Cycle,       // a link back to a folder on the walk's path
    NotRegular,  // a FIFO, socket or device
    TooDeep,     // a folder below the depth limit
};

struct WalkProblem {
    WalkProblemKind kind;
    std::string path;
    std::string reason;  // one line, no final period
};

class FolderVisitor {
  public:
    virtual ~FolderVisitor() = default;
    // A folder, the walked one included (depth 0); false skips its entries.
    virtual bool EnterFolder(const WalkItem& folder) = 0;
    // After the entries of a folder that EnterFolder accepted.
    virtual void LeaveFolder(const WalkItem& folder) { (void)folder; }
    virtual void VisitFile(const WalkItem& file) = 0;
    virtual void Skipped(const WalkProblem& problem) = 0;
};

// Walks the folder at `path` (one trailing "/" ignored; a link to a folder
// is followed). Folders deeper than `maxDepth` below it are reported as
// TooDeep. False with `fault` when `path` itself is no folder or cannot be
// listed; the visitor has then seen nothing.
// With `skipDotNames`, names inside it that begin with "." are left out,
// silently (the walked folder's own name does not count).
bool WalkFolder(const std::string& path, FolderVisitor& visitor, std::uint32_t maxDepth,
                pack::Fault& fault, bool skipDotNames = false);

}  // namespace crateforge::fs
