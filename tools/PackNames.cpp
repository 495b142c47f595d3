// PackNames.cpp - resolving names and patterns inside a pack.
#include "tools/PackNames.h"

#include <fnmatch.h>

#include <algorithm>
#include <optional>

#include "archive/PackFolder.h"
#include "format/Names.h"
#include "format/PackDirectory.h"
#include "tools/Cli.h"

namespace vpf {

// ---- DirectoryTree ------------------------------------------------------------

DirectoryTree::DirectoryTree(const pack::Directory& directory) : directory_(directory) {
    const std::size_t n = directory.folders.size();
    childStart_.assign(n + 1, 0);
    for (std::size_t f = 1; f < n; ++f)
        ++childStart_[directory.folders[f].parent + 1];
    for (std::size_t f = 0; f < n; ++f)
        childStart_[f + 1] += childStart_[f];
    children_.resize(n > 0 ? n - 1 : 0);
    std::vector<std::uint32_t> next(childStart_.begin(), childStart_.end() - 1);
    // Pre-order keeps each folder's subfolders in record order.
    for (std::size_t f = 1; f < n; ++f)
        children_[next[directory.folders[f].parent]++] = static_cast<std::uint32_t>(f);

    totalOriginal_.assign(n, 0);
    totalPacked_.assign(n, 0);
    filesBelow_.assign(n, 0);
    foldersBelow_.assign(n, 0);
    for (const pack::DirectoryFile& file : directory.files) {
        totalOriginal_[file.folder] += file.originalSize;
        totalPacked_[file.folder] += file.packedSize;
        ++filesBelow_[file.folder];
    }
    // A folder comes after its parent in pre-order: sum from the end.
    for (std::size_t f = n; f-- > 1;) {
        const std::uint32_t parent = directory.folders[f].parent;
        totalOriginal_[parent] += totalOriginal_[f];
        totalPacked_[parent] += totalPacked_[f];
        filesBelow_[parent] += filesBelow_[f];
        foldersBelow_[parent] += foldersBelow_[f] + 1;
    }
}

std::size_t DirectoryTree::SubfolderCount(Folder folder) const {
    return childStart_[folder + 1] - childStart_[folder];
}

NameTree::Folder DirectoryTree::Subfolder(Folder folder, std::size_t i) const {
    return children_[childStart_[folder] + i];
}

std::string_view DirectoryTree::SubfolderName(Folder folder, std::size_t i) const {
    return directory_.FolderName(Subfolder(folder, i));
}

std::size_t DirectoryTree::FileCount(Folder folder) const {
    return directory_.folders[folder].fileCount;
}

std::string_view DirectoryTree::FileName(Folder folder, std::size_t i) const {
    return directory_.FileName(FileIndex(folder, i));
}

std::size_t DirectoryTree::FileIndex(Folder folder, std::size_t i) const {
    return directory_.folders[folder].firstFile + i;
}

// ---- ArchiveTree ----------------------------------------------------------------

std::size_t ArchiveTree::SubfolderCount(Folder folder) const {
    return Of(folder)->SubfolderCount();
}

NameTree::Folder ArchiveTree::Subfolder(Folder folder, std::size_t i) const {
    return Id(Of(folder)->SubfolderAt(static_cast<int>(i)));
}

std::string_view ArchiveTree::SubfolderName(Folder folder, std::size_t i) const {
    return Of(folder)->SubfolderName(static_cast<int>(i));
}

std::size_t ArchiveTree::FileCount(Folder folder) const {
    return Of(folder)->FileCount();
}

std::string_view ArchiveTree::FileName(Folder folder, std::size_t i) const {
    return Of(folder)->FileName(static_cast<int>(i));
}

// ---- Resolving ------------------------------------------------------------------

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

std::string Join(const std::string& prefix, std::string_view name) {
    return prefix.empty() ? std::string(name) : prefix + "/" + std::string(name);
}

std::size_t FindSubfolder(const NameTree& tree, NameTree::Folder folder, std::string_view name) {
    const std::size_t n = tree.SubfolderCount(folder);
    for (std::size_t i = 0; i < n; ++i)
        if (pack::SameNameIgnoringCase(tree.SubfolderName(folder, i), name))
            return i;
    return kNone;
}

bool EndsWithSeparator(std::string_view name) {
    return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

// The pattern with "/" between folders and no outer separators.
std::string PatternOf(std::string_view name) {
    std::string out;
    for (char c : name) {
        const char d = c == '\\' ? '/' : c;
        if (d == '/' && (out.empty() || out.back() == '/'))
            continue;
        out += d;
    }
    while (!out.empty() && out.back() == '/')
        out.pop_back();
    return out;
}

bool Matches(const std::string& pattern, const std::string& path) {
    return fnmatch(pattern.c_str(), path.c_str(), FNM_CASEFOLD | FNM_NOESCAPE) == 0;
}

// How many of parts[k...] the components of a stored name (split at "/"
// and "\\", empty ones left out) match, or 0 when they do not all match: a
// converted pack's root file "maps\\x.map" answers to maps/x.map, as the
// reader library finds it by "maps\\x.map".
std::size_t MatchStored(std::string_view stored, const std::vector<std::string>& parts,
                        std::size_t k) {
    std::size_t m = 0;
    for (std::size_t at = 0; at <= stored.size();) {
        const std::size_t end = stored.find_first_of("/\\", at);
        const std::string_view part =
            stored.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (!part.empty()) {
            if (k + m >= parts.size() || !pack::SameNameIgnoringCase(part, parts[k + m]))
                return 0;
            ++m;
        }
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    return m;
}

// The first file and the first folder, in directory order, whose names from
// the root match all of `parts`.
struct ExactWalk {
    const NameTree& tree;
    const std::vector<std::string>& parts;
    bool wantFile;
    bool wantFolder;
    std::optional<NameMatch> file;
    std::optional<NameMatch> folder;

    void Walk(NameTree::Folder at, const std::string& prefix, std::size_t k) {
        for (std::size_t i = 0; wantFile && !file && i < tree.FileCount(at); ++i) {
            const std::string_view name = tree.FileName(at, i);
            if (MatchStored(name, parts, k) == parts.size() - k)
                file = NameMatch{false, at, i, Join(prefix, name)};
        }
        for (std::size_t i = 0; i < tree.SubfolderCount(at); ++i) {
            const std::string_view name = tree.SubfolderName(at, i);
            const std::size_t m = MatchStored(name, parts, k);
            if (m == 0)
                continue;
            if (k + m < parts.size())
                Walk(tree.Subfolder(at, i), Join(prefix, name), k + m);
            else if (wantFolder && !folder)
                folder = NameMatch{true, tree.Subfolder(at, i), 0, Join(prefix, name)};
        }
    }
};

struct PatternWalk {
    const NameTree& tree;
    const std::string& pattern;
    bool wantFolder;
    const ResolveRules& rules;
    Resolution& out;

    void Walk(NameTree::Folder folder, const std::string& prefix) {
        const std::size_t files = tree.FileCount(folder);
        const std::size_t subfolders = tree.SubfolderCount(folder);
        // Files first, then folders, as a listing shows them.
        std::vector<bool> folderRefused(subfolders, false);
        for (std::size_t i = 0; i < files && !wantFolder; ++i) {
            const std::string path = Join(prefix, tree.FileName(folder, i));
            if (!Matches(pattern, path))
                continue;
            const std::size_t twin =
                rules.fileOnly ? kNone : FindSubfolder(tree, folder, tree.FileName(folder, i));
            if (twin != kNone && !rules.takeBoth &&
                Matches(pattern, Join(prefix, tree.SubfolderName(folder, twin)))) {
                out.ambiguous.push_back(path);
                folderRefused[twin] = true;
                continue;
            }
            out.matches.push_back(NameMatch{false, folder, i, path});
        }
        for (std::size_t i = 0; i < subfolders; ++i) {
            if (folderRefused[i])
                continue;  // refused with its file twin: not entered either
            const std::string path = Join(prefix, tree.SubfolderName(folder, i));
            if (!rules.fileOnly && Matches(pattern, path)) {
                out.matches.push_back(NameMatch{true, tree.Subfolder(folder, i), 0, path});
                continue;  // taken whole
            }
            Walk(tree.Subfolder(folder, i), path);
        }
    }
};

}  // namespace

bool HasWildcard(std::string_view name) {
    return name.find_first_of("*?[") != std::string_view::npos;
}

std::string AmbiguityHint(std::string_view path) {
    const std::string p(path);
    return p + " is both a file and a folder; write " + p +
           "/ for the folder, or use --file-only for the file";
}

Resolution Resolve(const NameTree& tree, std::string_view name, const ResolveRules& rules) {
    Resolution out;
    const bool wantFolder = EndsWithSeparator(name);
    std::vector<std::string> parts;
    const bool valid = SplitPackPath(name, parts);
    if (valid && parts.empty()) {
        if (rules.fileOnly) {
            out.status = Resolution::Status::NotFound;
            return out;
        }
        out.matches.push_back(NameMatch{true, tree.Root(), 0, ""});
        out.status = Resolution::Status::Found;
        return out;
    }
    if (valid) {
        ExactWalk walk{tree, parts, !wantFolder, !rules.fileOnly, std::nullopt, std::nullopt};
        walk.Walk(tree.Root(), "", 0);
        if (walk.file && walk.folder && !rules.takeBoth) {
            out.ambiguous.push_back(walk.file->path);
            out.status = Resolution::Status::Ambiguous;
            return out;
        }
        if (walk.file)
            out.matches.push_back(*walk.file);
        if (walk.folder)
            out.matches.push_back(*walk.folder);
        if (!out.matches.empty()) {
            out.status = Resolution::Status::Found;
            return out;
        }
    }
    if (!HasWildcard(name)) {
        out.status = valid ? Resolution::Status::NotFound : Resolution::Status::Invalid;
        return out;
    }
    out.pattern = true;
    const std::string pattern = PatternOf(name);
    PatternWalk walk{tree, pattern, wantFolder, rules, out};
    walk.Walk(tree.Root(), "");
    out.status = !out.matches.empty()    ? Resolution::Status::Found
                 : out.ambiguous.empty() ? Resolution::Status::NotFound
                                         : Resolution::Status::Ambiguous;
    return out;
}

std::vector<NameMatch> WithoutNested(std::vector<NameMatch> matches) {
    // Checked against every other match, so the input is only read here.
    std::vector<NameMatch> out;
    for (const NameMatch& m : matches) {
        bool covered = false;
        for (const NameMatch& other : matches) {
            if (!other.isFolder || &other == &m)
                continue;
            if (other.path.empty() ||
                (m.path.size() > other.path.size() && m.path.starts_with(other.path) &&
                 m.path[other.path.size()] == '/')) {
                covered = !(m.isFolder && m.path.empty());
                if (covered)
                    break;
            }
        }
        if (covered)
            continue;
        const bool repeat = std::any_of(out.begin(), out.end(), [&](const NameMatch& o) {
            return o.isFolder == m.isFolder && o.folder == m.folder && o.file == m.file;
        });
        if (!repeat)
            out.push_back(m);
    }
    return out;
}

}  // namespace vpf
