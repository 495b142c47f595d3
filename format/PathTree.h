// PathTree.h - a pack's directory seen as a tree of paths, for programs that
// show a pack as a file system (vpf mount, the PhysicsFS archiver).
//
// Every record becomes a path exactly as extraction turns it into a path on
// disk: the names from the top folder down to it, through ToDiskPath
// (format/Names.h). A name holding "\" or "/" (a converted old pack's
// "maps\x.map") becomes folders and a file; a record that extraction
// refuses (an empty component, "." or "..") is left out and listed in
// LeftOutNames with the reason (what lies in a folder left out is counted
// on the folder's line rather than named). The tree then answers what a
// file system asks:
//   - the children of a folder, in directory order, with their stored names
//     (a folder made of a name's components appears where it is first met);
//   - a child by name in any letter case, as the pack compares names (A-Z
//     fold to a-z, every other byte as it is), in constant time;
//   - a path of "/"-separated components from the root.
// Names that are one name to the pack share one node, so a lookup never
// depends on which spelling was asked for: folders of the same folded name
// in one folder are merged (the first spelling is shown); a file whose name
// is already taken there by an earlier file or folder is left out, as is a
// folder whose name an earlier file holds (with everything in it). "Earlier"
// is directory order, the order in which the reader library finds entries.
//
// Memory stays proportional to the directory: each path component is kept
// once, in a pool of its own; a node is 24 bytes and a table slot 4. Nothing here throws; Build
// reports an allocation failure as a Fault of kind NoMemory. After Build the
// tree is read-only and may be used by many threads at once.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/ByteSource.h"
#include "format/EntryDecoder.h"
#include "format/PackDirectory.h"
#include "platform/Fault.h"

namespace pack {

class PathTree {
  public:
    using Node = std::uint32_t;
    static constexpr Node kRoot = 0;
    static constexpr Node kNoNode = 0xFFFFFFFFu;

    // A record that is not in the tree: its full name as stored (folders
    // joined with "/") and why.
    struct LeftOut {
        std::string name;
        std::string reason;
    };

    // Builds the tree of `directory`, which it keeps. False only when memory
    // runs out (the tree is then empty).
    bool Build(Directory directory, Fault& fault);

    std::size_t NodeCount() const { return nodes_.size(); }
    bool IsFolder(Node node) const { return nodes_[node].file == kNoFile; }
    Node Parent(Node node) const { return nodes_[node].parent; }
    // The node's own name as stored ("" for the root).
    std::string_view Name(Node node) const {
        return std::string_view(names_).substr(nodes_[node].name.offset, nodes_[node].name.length);
    }
    // A folder's files and folders, in directory order.
    std::span<const Node> Children(Node folder) const;
    std::uint32_t SubfolderCount(Node folder) const { return nodes_[folder].subfolders; }
    // A file node's record (sizes, method, where its bytes are).
    const DirectoryFile& File(Node file) const { return directory_.files[nodes_[file].file]; }
    std::uint32_t FileIndex(Node file) const { return nodes_[file].file; }

    // The child of `folder` named `name` in any letter case, or kNoNode.
    Node Find(Node folder, std::string_view name) const;
    // The node at a "/"-separated path from the root ("" is the root; empty
    // components are skipped), or kNoNode. A component that is "." or ".."
    // names nothing.
    Node Resolve(std::string_view path) const;
    // The node's path from the root, joined with "/" ("" for the root).
    std::string Path(Node node) const;

    const std::vector<LeftOut>& LeftOutNames() const { return leftOut_; }
    const Directory& Dir() const { return directory_; }

  private:
    bool OutOfMemory(Fault& fault);
    static constexpr std::uint32_t kNoFile = 0xFFFFFFFFu;
    struct Entry {
        Node parent = kNoNode;
        NameRef name;                  // in names_
        std::uint32_t file = kNoFile;  // index in Directory::files; kNoFile: a folder
        std::uint32_t firstChild = 0;  // folders: children_[firstChild, +childCount)
        std::uint32_t childCount = 0;
        std::uint32_t subfolders = 0;
    };

    std::uint64_t HashOf(Node parent, std::string_view name) const;
    Node FindHashed(Node parent, std::string_view name, std::uint64_t hash) const;
    // Adds a node under `parent` (known not to hold the name yet).
    Node Add(Node parent, std::string_view name, std::uint32_t file, std::uint64_t hash);
    void Grow();
    // Walks down from `parent` through the folders `parts`, making those
    // that are missing. False with `reason` when a file holds one of them.
    bool WalkFolders(Node& parent, std::span<const std::string> parts, std::string& reason);

    Directory directory_;
    std::vector<Entry> nodes_;
    std::vector<Node> children_;
    std::vector<Node> table_;  // open addressing; kNoNode marks a free slot
    std::string names_;        // every node's name once
    std::vector<LeftOut> leftOut_;
};

// The whole decoded content of `file`, read from `source`, through the one
// entry decoder (EntryDecoder.h): exactly file.originalSize bytes, or false
// with the decoder's fault. Gzip is inflated in memory as it streams in;
// other methods are one block each. Thread-safe for separate sources.
bool LoadTreeFile(ByteSource& source, const DirectoryFile& file, DecodedBytes& out, Fault& fault);

}  // namespace pack
