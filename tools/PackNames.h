// PackNames.h - what a name given on the command line means inside a pack.
//
// The verbs that read look names up in a pack's directory on disk; the verbs
// that change a pack look them up in the archive's tree. Both go through the
// one resolver here, so that a name means the same to every verb:
//   - "/" or "\" separate folders; letter case is ignored; "" or "/" is the
//     root, that is the whole pack;
//   - a name stored with separators in it stands for its parts: a converted
//     pack's root file "maps\x.map" answers to maps/x.map (when two
//     entries answer, the first in directory order wins, as in the reader
//     library);
//   - "NAME/" (a trailing separator) means the folder only; with
//     --file-only, a name means the file only;
//   - a name that is both a file and a folder of one folder is Ambiguous
//     unless the caller takes both (list does; rm, mv and extract refuse it
//     and say how to choose: AmbiguityHint);
//   - a name that names nothing but holds a wildcard ("*", "?" or "[...]")
//     is a pattern, matched without regard to case against the whole path
//     of every file and folder ("*" also crosses "/"); a folder that matches
//     is taken whole, and what lies inside it is not matched again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace crateforge {
class CPackFolder;
}

namespace pack {
struct Directory;
}

namespace vpf {

// A read-only view of a folder tree inside a pack.
class NameTree {
  public:
    using Folder = std::uintptr_t;
    virtual ~NameTree() = default;
    virtual Folder Root() const = 0;
    virtual std::size_t SubfolderCount(Folder folder) const = 0;
    virtual Folder Subfolder(Folder folder, std::size_t i) const = 0;
    virtual std::string_view SubfolderName(Folder folder, std::size_t i) const = 0;
    virtual std::size_t FileCount(Folder folder) const = 0;
    virtual std::string_view FileName(Folder folder, std::size_t i) const = 0;
};

// A pack's directory as a NameTree; also the folders' subfolder lists and
// subtree totals that listing and extracting need. Folder ids are indexes
// in Directory::folders; files are numbered as in Directory::files.
class DirectoryTree final : public NameTree {
  public:
    explicit DirectoryTree(const pack::Directory& directory);
    Folder Root() const override { return 0; }
    std::size_t SubfolderCount(Folder folder) const override;
    Folder Subfolder(Folder folder, std::size_t i) const override;
    std::string_view SubfolderName(Folder folder, std::size_t i) const override;
    std::size_t FileCount(Folder folder) const override;
    std::string_view FileName(Folder folder, std::size_t i) const override;

    // Index in Directory::files of file `i` of `folder`.
    std::size_t FileIndex(Folder folder, std::size_t i) const;
    // Sums over the folder's whole subtree.
    std::uint64_t TotalOriginal(Folder folder) const { return totalOriginal_[folder]; }
    std::uint64_t TotalPacked(Folder folder) const { return totalPacked_[folder]; }
    std::uint64_t FilesBelow(Folder folder) const { return filesBelow_[folder]; }
    std::uint64_t FoldersBelow(Folder folder) const { return foldersBelow_[folder]; }

    const pack::Directory& Dir() const { return directory_; }

  private:
    const pack::Directory& directory_;
    std::vector<std::uint32_t> childStart_;  // children of f: children_[childStart_[f] ..
    std::vector<std::uint32_t> children_;    //   childStart_[f + 1])
    std::vector<std::uint64_t> totalOriginal_, totalPacked_, filesBelow_, foldersBelow_;
};

// The archive's tree as a NameTree.
class ArchiveTree final : public NameTree {
  public:
    explicit ArchiveTree(crateforge::CPackFolder* root) : root_(root) {}
    Folder Root() const override { return Id(root_); }
    std::size_t SubfolderCount(Folder folder) const override;
    Folder Subfolder(Folder folder, std::size_t i) const override;
    std::string_view SubfolderName(Folder folder, std::size_t i) const override;
    std::size_t FileCount(Folder folder) const override;
    std::string_view FileName(Folder folder, std::size_t i) const override;

    static Folder Id(crateforge::CPackFolder* folder) { return reinterpret_cast<Folder>(folder); }
    static crateforge::CPackFolder* Of(Folder id) {
        return reinterpret_cast<crateforge::CPackFolder*>(id);
    }

  private:
    crateforge::CPackFolder* root_;
};

// One file or folder a name stands for.
struct NameMatch {
    bool isFolder = false;
    NameTree::Folder folder = 0;  // the folder itself, or the folder that holds the file
    std::size_t file = 0;         // the file's index in its folder
    std::string path;             // names as stored, joined with "/"; "" for the root
};

struct Resolution {
    enum class Status {
        Found,      // `matches` holds at least one
        NotFound,   // nothing: no such name, or a pattern that matches nothing
        Invalid,    // not a name a pack can hold ("a/../b", an empty component is fine)
        Ambiguous,  // a file and a folder (see `ambiguous`), and nothing else
    };
    Status status = Status::NotFound;
    std::vector<NameMatch> matches;
    // Paths that are both a file and a folder, refused (unless taken both).
    std::vector<std::string> ambiguous;
    bool pattern = false;  // the name was matched as a pattern
};

struct ResolveRules {
    bool fileOnly = false;  // --file-only
    bool takeBoth = false;  // a file and a folder of one name are both taken
};

Resolution Resolve(const NameTree& tree, std::string_view name, const ResolveRules& rules);

// Whether a name holds a wildcard character.
bool HasWildcard(std::string_view name);

// The message for a name that is both a file and a folder: what it is and
// how to choose ("NAME/" for the folder, --file-only for the file).
std::string AmbiguityHint(std::string_view path);

// Drops matches that lie inside another match's folder (and repeats), so
// that nothing is handled twice; keeps the order of first appearance.
std::vector<NameMatch> WithoutNested(std::vector<NameMatch> matches);

}  // namespace vpf
