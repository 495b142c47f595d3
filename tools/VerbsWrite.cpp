// VerbsWrite.cpp - the verbs that change a pack: create, add, rm, mv, mkdir,
// convert. Every one ends with the archive's atomic Save (create may write
// to standard output instead).
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "archive/EntryCoding.h"
#include "archive/PackArchive.h"
#include "archive/PackFolder.h"
#include "format/Names.h"
#include "platform/FileSystem.h"
#include "platform/FolderWalk.h"
#include "tools/Cli.h"
#include "tools/Interrupt.h"
#include "tools/OrderedPool.h"
#include "tools/PackNames.h"

namespace vpf {

using crateforge::CPackArchive;
using crateforge::CPackFolder;
using crateforge::PackEntry;
namespace fs = crateforge::fs;

namespace {

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string JoinPrefix(const std::string& prefix, std::string_view name) {
    if (name.empty())
        return prefix;
    return prefix.empty() ? std::string(name) : prefix + "/" + std::string(name);
}

// ---- Where a path given on the command line goes in the pack ---------------------

// Its components, without "." and without a leading "/" or whatever leads up
// to a ".." component (so that nothing climbs out of the pack's root), as
// tar stores its members.
struct Placement {
    std::vector<std::string> parts;
    bool leftOutRoot = false;
    bool leftOutUp = false;
};

Placement PlacementOf(std::string_view text) {
    Placement out;
    out.leftOutRoot = !text.empty() && text.front() == '/';
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = text.find('/', at);
        const std::string_view part =
            text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (part == "..") {
            out.parts.clear();
            out.leftOutUp = true;
        } else if (!part.empty() && part != ".") {
            out.parts.emplace_back(part);
        }
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    return out;
}

// Whether --exclude leaves this name out: a pattern matches the name itself
// or its path inside the pack (the whole path or any tail that starts after
// a "/"); a pattern ending in "/" matches folders only.
bool Excluded(const std::vector<std::string>& globs, std::string_view name,
              const std::string& packPath, bool isFolder) {
    for (std::string glob : globs) {
        if (glob.size() > 1 && glob.back() == '/') {
            if (!isFolder)
                continue;
            glob.pop_back();
        }
        if (fnmatch(glob.c_str(), std::string(name).c_str(), 0) == 0)
            return true;
        for (std::size_t at = 0; at < packPath.size();) {
            if (fnmatch(glob.c_str(), packPath.c_str() + at, 0) == 0)
                return true;
            const std::size_t slash = packPath.find('/', at);
            if (slash == std::string::npos)
                break;
            at = slash + 1;
        }
    }
    return false;
}

// Names read from a -T list ("-" for standard input): one per line, or
// NUL-terminated with --null. Empty names are skipped.
bool ReadNameList(const std::string& file, bool nul, std::vector<std::string>& names,
                  std::string& why) {
    const int fd = file == "-" ? STDIN_FILENO : open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = pack::ErrnoText(errno);
        return false;
    }
    std::string all;
    char block[65536];
    for (;;) {
        const ssize_t n = read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = pack::ErrnoText(errno);
            if (fd != STDIN_FILENO)
                close(fd);
            return false;
        }
        if (n == 0)
            break;
        all.append(block, static_cast<std::size_t>(n));
    }
    if (fd != STDIN_FILENO)
        close(fd);
    const char separator = nul ? '\0' : '\n';
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find(separator, at);
        if (end == std::string::npos)
            end = all.size();
        if (end > at)
            names.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    return true;
}

// ---- The plan: what goes where, settled before anything is read -----------------

// One disk file to code and add, in pack order.
struct AddItem {
    std::string diskPath;
    CPackFolder* folder;
    std::string name;
    std::string packPath;
    std::uint64_t size;
    dev_t device;
    ino_t inode;
    bool replace = false;  // a file of that name in the pack before this run
    bool dropped = false;  // replaced by a later file of the same run
};

// Why the pack refused a name or a folder, in vpf's words: "cannot pack
// DISK: " comes before it.
std::string RefusalText(crateforge::EditOutcome outcome, std::string_view name) {
    using crateforge::EditOutcome;
    switch (outcome) {
        case EditOutcome::NameTooLong:
            return "its name is longer than " + std::to_string(pack::kMaxNameLength) + " bytes";
        case EditOutcome::UnusableName:
            return "its name cannot be used inside a PackFile (" + pack::InvalidNameReason(name) +
                   ")";
        case EditOutcome::FullNameTooLong:
            return "its full name in the pack would be longer than " +
                   std::to_string(pack::kMaxFullNameLength) + " bytes";
        case EditOutcome::TooDeep:
            return "its folders are nested more than " + std::to_string(pack::kMaxFolderDepth) +
                   " deep";
        case EditOutcome::FileTooLarge:
            return "files of 4 GiB or more cannot be packed";
        case EditOutcome::PackTooLarge:
            return "the pack would reach 4 GiB";
        default:
            return crateforge::EditReason(outcome);
    }
}

struct CodedItem {
    std::unique_ptr<PackEntry> entry;
    crateforge::DiskReadStatus status = crateforge::DiskReadStatus::Ok;
    pack::Fault fault;
};

// Walks the disk paths given on the command line with the program's one
// folder walk (names in byte order, dot-names included, links to folders
// followed, cycles and unreadable names reported), makes the pack's folders
// as it goes and lists the files to add. Taken names are settled here, by
// the replace policy or a question, before any file is read; contents are
// read later, by the coding workers.
class AddPlan final : public fs::FolderVisitor {
  public:
    AddPlan(CPackArchive& archive, const Options& options, const std::string& packPath,
            bool packIsFile)
        : archive_(archive), options_(options), decider_(options) {
        struct stat st;
        if (packIsFile && stat(packPath.c_str(), &st) == 0) {
            havePack_ = true;
            packDevice_ = st.st_dev;
            packInode_ = st.st_ino;
        }
    }

    // Adds the path `text` (as given, -C folder `dir`) below `base`, the
    // folder inside the pack at `basePath`.
    void AddPath(const std::string& text, const std::string& dir, CPackFolder* base,
                 const std::string& basePath) {
        const std::string diskPath = StripTrailingSlashes(
            dir.empty() || (!text.empty() && text.front() == '/') ? text : fs::JoinPath(dir, text));
        Placement placement = PlacementOf(text);
        std::vector<std::string>& parts = placement.parts;
        // Excluded before anything else is done with the path: an excluded
        // name is neither looked at nor reported, whatever it is.
        const bool named = !parts.empty();
        const std::string givenPath = JoinPrefix(basePath, JoinPackPath(parts));
        if (named && Excluded(options_.excludes, parts.back(), givenPath, false))
            return;
        if (placement.leftOutRoot && !saidRoot_) {
            saidRoot_ = true;
            Say("vpf: names in the pack leave out the leading \"/\" of " + text, options_.quiet);
        }
        if (placement.leftOutUp && !saidUp_) {
            saidUp_ = true;
            Say("vpf: names in the pack leave out what leads up to a \"..\", as in " + text,
                options_.quiet);
        }
        struct stat st;
        if (stat(diskPath.c_str(), &st) != 0) {
            Fail("cannot pack " + diskPath + ": " + pack::ErrnoText(errno));
            return;
        }
        const bool isFolder = S_ISDIR(st.st_mode);
        // A pattern for folders only ("build/") is settled once the path is
        // known to be one.
        if (named && isFolder && Excluded(options_.excludes, parts.back(), givenPath, true))
            return;
        if (!isFolder && !S_ISREG(st.st_mode)) {
            Fail("cannot pack " + diskPath + ": not a regular file or a folder");
            return;
        }
        if (parts.empty() && !isFolder)
            parts.emplace_back(fs::LastComponent(diskPath));
        const std::string packPath = JoinPrefix(basePath, JoinPackPath(parts));
        if (!isFolder) {
            const std::string name = parts.back();
            parts.pop_back();
            CPackFolder* folder = EnsureFolders(base, basePath, parts, diskPath);
            if (folder)
                AddFileItem(diskPath, name, folder, JoinPrefix(basePath, JoinPackPath(parts)),
                            static_cast<std::uint64_t>(st.st_size), st.st_dev, st.st_ino);
            return;
        }
        CPackFolder* folder = EnsureFolders(base, basePath, parts, diskPath);
        if (!folder)
            return;
        walkRoot_ = folder;
        folders_.clear();
        prefixes_ = {packPath};
        pack::Fault fault;
        const auto depth = static_cast<std::uint32_t>(folder->Depth());
        if (!fs::WalkFolder(diskPath, *this, pack::kMaxFolderDepth - depth, fault))
            Fail("cannot pack the folder " + diskPath + ": " + fault.reason);
    }

    // Removes the folders made only to hold a path given on the command line
    // (the "a/b" of "a/b/c.txt") that stayed empty because what they were
    // made for was not packed, so that a pack never shows folders nobody
    // asked for. Folders that came from disk stay, empty or not.
    void PruneUnused() {
        for (auto it = implicit_.rbegin(); it != implicit_.rend(); ++it) {
            CPackFolder* folder = *it;
            if (real_.count(folder) || folder->FileCount() > 0 || folder->SubfolderCount() > 0)
                continue;
            CPackFolder* parent = folder->Parent();
            const std::string name(parent->SubfolderName(parent->IndexOf(folder)));
            if (archive_.Remove(parent, name, true).Done())
                --foldersMade;
        }
        implicit_.clear();
    }

    std::vector<AddItem> items;
    std::uint64_t totalBytes = 0;
    std::size_t fileCount = 0;  // items not dropped
    int failures = 0;
    int foldersMade = 0;

  private:
    void Fail(const std::string& text) {
        ++failures;
        Error(text);
    }

    // Whether a file `name` can go into `folder` (a name taken there is
    // settled later, by the replace policy).
    bool NameUsable(const std::string& diskPath, std::string_view name, const CPackFolder* folder) {
        const crateforge::EditOutcome outcome =
            archive_.CheckPlace(folder, crateforge::Placement{name, false, false});
        if (outcome == crateforge::EditOutcome::Done ||
            outcome == crateforge::EditOutcome::NameTaken)
            return true;
        Fail("cannot pack " + diskPath + ": " + RefusalText(outcome, name));
        return false;
    }

    // The subfolder `name` of `parent`, made when missing. A folder made by
    // this run from another disk folder whose name differs only in letter
    // case is shared (a pack ignores case), and said.
    CPackFolder* Subfolder(CPackFolder* parent, const std::string& parentPath,
                           const std::string& name, const std::string& diskPath) {
        const crateforge::EditResult made = archive_.MakeFolder(parent, name);
        if (made.outcome == crateforge::EditOutcome::NameTaken) {
            CPackFolder* folder = made.folder;
            const std::string stored(parent->SubfolderName(parent->IndexOf(folder)));
            const auto known = madeFrom_.find(folder);
            if (known != madeFrom_.end() && stored != name) {
                const std::string text = diskPath + " went into the folder " +
                                         JoinPrefix(parentPath, stored) + " of " + known->second +
                                         ": names in a pack ignore letter case";
                if (options_.replace == ReplacePolicy::Ask)
                    Fail(text);
                else if (options_.verbose)
                    Error(text);
            }
            return folder;
        }
        if (!made.Done()) {
            Fail("cannot pack " + diskPath + ": " + RefusalText(made.outcome, name));
            return nullptr;
        }
        CPackFolder* folder = made.folder;
        ++foldersMade;
        madeFrom_[folder] = diskPath;
        if (making_)
            implicit_.push_back(folder);
        return folder;
    }

    CPackFolder* EnsureFolders(CPackFolder* base, const std::string& basePath,
                               const std::vector<std::string>& parts, const std::string& diskPath) {
        CPackFolder* folder = base;
        std::string path = basePath;
        making_ = true;
        for (const std::string& part : parts) {
            folder = Subfolder(folder, path, part, diskPath);
            if (!folder)
                break;
            path = JoinPrefix(path, part);
        }
        making_ = false;
        return folder;
    }

    void AddFileItem(const std::string& diskPath, const std::string& name, CPackFolder* folder,
                     const std::string& prefix, std::uint64_t size, dev_t device, ino_t inode) {
        if (!NameUsable(diskPath, name, folder))
            return;
        const std::string packPath = JoinPrefix(prefix, name);
        if (havePack_ && device == packDevice_ && inode == packInode_) {
            Say("vpf: " + diskPath + " is the pack being written; it is not packed into itself",
                options_.quiet);
            return;
        }
        auto& planned = planned_[folder];
        const std::string key = pack::FoldedName(name);
        if (const auto it = planned.find(key); it != planned.end()) {
            AddItem& earlier = items[it->second];
            if (earlier.device == device && earlier.inode == inode)
                return;  // the same file named twice (a folder and its files in a -T list)
            const std::string question = "Replace " + earlier.packPath + ", packed from " +
                                         earlier.diskPath + ", with " + diskPath + "?";
            switch (decider_.Decide(question)) {
                case ReplaceDecider::Answer::Replace:
                    earlier.dropped = true;
                    --fileCount;
                    totalBytes -= earlier.size;
                    if (options_.verbose)
                        Error(diskPath + " replaces " + earlier.diskPath + " as " + packPath);
                    break;
                case ReplaceDecider::Answer::Keep:
                    if (options_.verbose)
                        Error("kept " + earlier.diskPath + " as " + earlier.packPath +
                              "; not packed: " + diskPath);
                    return;
                case ReplaceDecider::Answer::KeepUnasked:
                    Fail("cannot pack " + diskPath + ": its name in the pack, " + packPath +
                         ", is taken by " + earlier.diskPath + " (" +
                         (earlier.name == name ? "" : "names in a pack ignore letter case; ") +
                         "--overwrite takes the later file, --keep the first)");
                    return;
            }
        }
        bool replace = false;
        if (const int existing = folder->FindFile(name); existing >= 0) {
            const std::string held = JoinPrefix(prefix, folder->FileName(existing));
            switch (decider_.Decide("Replace " + held + " in the pack with " + diskPath + "?")) {
                case ReplaceDecider::Answer::Replace:
                    replace = true;
                    break;
                case ReplaceDecider::Answer::Keep:
                    if (options_.verbose)
                        Error("kept " + held + "; not added: " + diskPath);
                    return;
                case ReplaceDecider::Answer::KeepUnasked:
                    Fail(std::string(options_.dryRun ? "would not" : "did not") + " add " +
                         diskPath + ": the pack holds " + held +
                         " already (--overwrite replaces it, --keep keeps it without this "
                         "message)");
                    return;
            }
        }
        planned[key] = items.size();
        items.push_back(
            AddItem{diskPath, folder, name, packPath, size, device, inode, replace, false});
        totalBytes += size;
        ++fileCount;
    }

    // ---- The walk ------------------------------------------------------------
    bool EnterFolder(const fs::WalkItem& folder) override {
        if (folder.depth == 0) {
            real_.insert(walkRoot_);  // listed: it stays even when empty
            folders_.push_back(walkRoot_);
            return true;
        }
        const std::string packPath = JoinPrefix(prefixes_.back(), folder.name);
        if (Excluded(options_.excludes, folder.name, packPath, true))
            return false;
        CPackFolder* target =
            Subfolder(folders_.back(), prefixes_.back(), folder.name, folder.path);
        if (!target)
            return false;
        folders_.push_back(target);
        prefixes_.push_back(packPath);
        return true;
    }
    void LeaveFolder(const fs::WalkItem& folder) override {
        folders_.pop_back();
        if (folder.depth > 0)
            prefixes_.pop_back();
    }
    void VisitFile(const fs::WalkItem& file) override {
        if (Excluded(options_.excludes, file.name, JoinPrefix(prefixes_.back(), file.name), false))
            return;
        struct stat st;
        if (stat(file.path.c_str(), &st) != 0) {
            Fail("cannot pack " + file.path + ": " + pack::ErrnoText(errno));
            return;
        }
        AddFileItem(file.path, file.name, folders_.back(), prefixes_.back(), file.size, st.st_dev,
                    st.st_ino);
    }
    void Skipped(const fs::WalkProblem& problem) override {
        // What the walk could not take is reported only when it was wanted.
        const std::string name(fs::LastComponent(problem.path));
        const bool isFolder = problem.kind == fs::WalkProblemKind::CannotList ||
                              problem.kind == fs::WalkProblemKind::Cycle ||
                              problem.kind == fs::WalkProblemKind::TooDeep;
        if (Excluded(options_.excludes, name, JoinPrefix(prefixes_.back(), name), isFolder))
            return;
        switch (problem.kind) {
            case fs::WalkProblemKind::CannotList:
                Fail("cannot pack the folder " + problem.path + ": " + problem.reason);
                break;
            case fs::WalkProblemKind::CannotRead:
            case fs::WalkProblemKind::NotRegular:
            case fs::WalkProblemKind::Cycle:
                Fail("cannot pack " + problem.path + ": " + problem.reason);
                break;
            case fs::WalkProblemKind::TooDeep:
                Fail("cannot pack " + problem.path + ": its folders are nested more than " +
                     std::to_string(pack::kMaxFolderDepth) + " deep");
                break;
        }
    }

    CPackArchive& archive_;
    const Options& options_;
    ReplaceDecider decider_;
    bool havePack_ = false;
    dev_t packDevice_ = 0;
    ino_t packInode_ = 0;
    bool saidRoot_ = false;
    bool saidUp_ = false;
    CPackFolder* walkRoot_ = nullptr;
    std::vector<CPackFolder*> folders_;  // the pack folders of the walk's path
    std::vector<std::string> prefixes_;  // their paths inside the pack
    std::unordered_map<CPackFolder*, std::string> madeFrom_;
    bool making_ = false;                    // EnsureFolders is at work
    std::vector<CPackFolder*> implicit_;     // folders it made, in order
    std::unordered_set<CPackFolder*> real_;  // folders walked on disk
    std::unordered_map<CPackFolder*, std::unordered_map<std::string, std::size_t>> planned_;
};

// The folder named by --into, made when missing; null after a message.
CPackFolder* IntoFolder(CPackArchive& archive, const Options& options, std::string& prefix,
                        bool& changed) {
    CPackFolder* folder = archive.Root();
    prefix.clear();
    if (!options.haveInto)
        return folder;
    std::vector<std::string> parts;
    if (!SplitPackPath(options.into, parts)) {
        Error("--into: " + options.into + " is not a valid folder name inside a PackFile");
        return nullptr;
    }
    for (const std::string& part : parts) {
        const crateforge::EditResult made = archive.MakeFolder(folder, part);
        switch (made.outcome) {
            case crateforge::EditOutcome::Done:
                changed = true;
                [[fallthrough]];
            case crateforge::EditOutcome::NameTaken:
                folder = made.folder;
                prefix = JoinPrefix(
                    prefix, folder->Parent()->SubfolderName(folder->Parent()->IndexOf(folder)));
                break;
            case crateforge::EditOutcome::TooDeep:
                Error("--into: " + options.into + ": folders are nested too deeply");
                return nullptr;
            case crateforge::EditOutcome::FullNameTooLong:
                Error("--into: " + options.into + ": a full name longer than " +
                      std::to_string(pack::kMaxFullNameLength) + " bytes");
                return nullptr;
            case crateforge::EditOutcome::PackTooLarge:
                Error("--into: " + options.into + ": the pack would reach 4 GiB");
                return nullptr;
            default:
                Error("--into: " + options.into + " is not a valid folder name inside a PackFile");
                return nullptr;
        }
    }
    return folder;
}

// Every input of the command line into the plan; false after a message
// when a -T list cannot be read.
bool PlanInputs(const Options& options, AddPlan& plan, CPackFolder* base,
                const std::string& basePath) {
    for (const InputArg& input : options.inputs) {
        if (input.kind == InputArg::Kind::Path) {
            plan.AddPath(input.text, input.dir, base, basePath);
            continue;
        }
        std::vector<std::string> names;
        std::string why;
        if (!ReadNameList(input.text, options.nullSeparated, names, why)) {
            Error("-T " + (input.text == "-" ? std::string(kStdinName) : input.text) + ": " + why);
            return false;
        }
        for (const std::string& name : names)
            plan.AddPath(name, input.dir, base, basePath);
    }
    return true;
}

struct AddTotals {
    std::size_t added = 0;
    std::size_t replaced = 0;
    std::uint64_t original = 0;
    std::uint64_t packed = 0;
};

// Codes the planned files on the workers (gzip in memory) and adds them in
// plan order.
// The files to code, in the order the pack lays out their data (a folder's
// files, then its subfolders, depth first), so that a streamed pack gets
// them one after the other; a folder's own files keep the order given.
std::vector<const AddItem*> InLayoutOrder(const CPackArchive& archive, const AddPlan& plan) {
    std::unordered_map<const CPackFolder*, std::size_t> rank;
    std::vector<const CPackFolder*> stack{archive.Root()};
    while (!stack.empty()) {
        const CPackFolder* folder = stack.back();
        stack.pop_back();
        rank.emplace(folder, rank.size());
        for (int i = static_cast<int>(folder->SubfolderCount()) - 1; i >= 0; --i)
            stack.push_back(folder->SubfolderAt(i));
    }
    std::vector<const AddItem*> items;
    for (const AddItem& item : plan.items)
        if (!item.dropped)
            items.push_back(&item);
    std::stable_sort(items.begin(), items.end(), [&](const AddItem* a, const AddItem* b) {
        return rank[a->folder] < rank[b->folder];
    });
    return items;
}

// A new pack file is written as its files are coded (see
// CPackArchive::StreamNewPack) when the plan says where its directory ends.
void StreamInto(CPackArchive& archive, const AddPlan& plan) {
    std::uint64_t planned = 0;
    for (const AddItem& item : plan.items)
        planned += !item.dropped && !item.replace ? 1 : 0;
    pack::Fault ignored;  // without it the save copies the bytes as it always could
    archive.StreamNewPack(archive.DirectoryEndWith(planned), ignored);
}

AddTotals CodeAndAdd(CPackArchive& archive, AddPlan& plan, const Options& options, int& failures) {
    const unsigned jobs = EffectiveJobs(options);
    PoolOptions pool;
    pool.jobs = jobs;
    pool.window = std::size_t{16} * jobs;
    pool.budget = std::max<std::uint64_t>(64ull << 20, (32ull << 20) * jobs);
    ProgressMeter meter(options, plan.totalBytes);
    AddTotals totals;
    const std::vector<const AddItem*> items = InLayoutOrder(archive, plan);

    RunOrdered<CodedItem>(
        items.size(), pool, [&](std::size_t i) { return items[i]->size; },
        [&](std::size_t i) {
            CodedItem out;
            out.entry = std::make_unique<PackEntry>();
            out.entry->SetName(items[i]->name);
            out.status = crateforge::CodeDiskFile(items[i]->diskPath, *out.entry, {}, out.fault);
            return out;
        },
        [&](std::size_t i, CodedItem&& coded) {
            const AddItem& item = *items[i];
            meter.Advance(item.size);
            interrupt::CountDone();
            if (coded.status == crateforge::DiskReadStatus::TooLarge) {
                ++failures;
                Error("cannot pack " + item.diskPath + ": files of 4 GiB or more cannot be packed");
                return true;
            }
            if (coded.status != crateforge::DiskReadStatus::Ok) {
                ++failures;
                Error("cannot pack " + item.diskPath + ": " + coded.fault.reason);
                return true;
            }
            const std::uint64_t original = coded.entry->originalSize;
            const std::uint64_t packed = coded.entry->packedSize;
            const crateforge::AddOutcome outcome = archive.AddCodedEntry(
                coded.entry, item.folder, item.diskPath,
                item.replace ? crateforge::NameClash::Replace : crateforge::NameClash::Keep);
            switch (outcome) {
                case crateforge::AddOutcome::Added:
                case crateforge::AddOutcome::Replaced:
                    ++totals.added;
                    totals.replaced += outcome == crateforge::AddOutcome::Replaced ? 1 : 0;
                    totals.original += original;
                    totals.packed += packed;
                    if (options.verbose)
                        Error((outcome == crateforge::AddOutcome::Added ? "added " : "replaced ") +
                              item.packPath);
                    break;
                case crateforge::AddOutcome::NameTaken:
                    ++failures;
                    Error("cannot pack " + item.diskPath + ": " + item.packPath +
                          " was taken meanwhile");
                    break;
                case crateforge::AddOutcome::Refused:
                    ++failures;  // the archive has said why
                    break;
            }
            return true;
        });
    meter.Finish();
    return totals;
}

// Says in vpf's words what a save that did not happen left: `kept` names
// what is still on disk at packPath when the save found a file there.
bool SaidSaved(crateforge::SaveOutcome outcome, const pack::Fault& fault,
               const std::string& packPath, bool existed, const char* kept) {
    switch (outcome) {
        case crateforge::SaveOutcome::Saved:
            return true;
        case crateforge::SaveOutcome::NotOpen:
        case crateforge::SaveOutcome::Failed:
            Error("cannot save " + packPath + ": " + fault.Text() + "; " +
                  (existed ? kept : "no pack was written"));
            return false;
        case crateforge::SaveOutcome::ReadOnly:
            Error("cannot change " + packPath + ": it is read-only; " + kept);
            return false;
        case crateforge::SaveOutcome::ChangedOutside:
            Error(packPath +
                  " was changed by another program while vpf ran; nothing was done to it, run "
                  "the command again");
            return false;
        case crateforge::SaveOutcome::Incomplete:
            Error("cannot save " + packPath + ": " + fault.Text() +
                  "; it was being rewritten in place and its previous bytes could not be put "
                  "back, so it is damaged");
            return false;
    }
    return false;
}

// Saves the pack, saying in vpf's words what did not happen.
bool SavePack(CPackArchive& archive) {
    const std::string packPath = archive.Path();
    const bool existed = fs::PathExists(packPath);
    pack::Fault fault;
    const crateforge::SaveOutcome outcome = archive.SaveQuietly(fault);
    return SaidSaved(outcome, fault, packPath, existed, "the pack is unchanged");
}

// "; 2 names were not packed (see above)", or in a dry run "; 2 names
// would not be packed (see above)".
std::string NotDone(int failures, const char* what, bool dryRun = false) {
    if (failures <= 0)
        return "";
    return "; " + Count(static_cast<std::uint64_t>(failures)) +
           (failures == 1 ? " name " : " names ") +
           (dryRun          ? "would not be "
            : failures == 1 ? "was not "
                            : "were not ") +
           what + " (see above)";
}

// create and add after the pack is open (or new): plan, code, save.
int PackInputs(CPackArchive& archive, ConsoleMessages& console, const Options& options,
               const std::string& packPath, bool creating, bool newPack) {
    const auto start = std::chrono::steady_clock::now();
    const bool toStdout = creating && packPath == "-";
    std::string basePath;
    bool changed = creating || newPack;
    CPackFolder* base = IntoFolder(archive, options, basePath, changed);
    if (!base)
        return kExitUsage;
    AddPlan plan(archive, options, packPath, !toStdout);
    if (!PlanInputs(options, plan, base, basePath))
        return kExitFailure;
    int failures = plan.failures;
    const std::string packName = toStdout ? std::string(kStdoutName) : packPath;

    if (options.dryRun) {
        for (const AddItem& item : plan.items) {
            if (item.dropped)
                continue;
            const int fd = open(item.diskPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                ++failures;
                Error("cannot pack " + item.diskPath + ": " + pack::ErrnoText(errno));
                continue;
            }
            close(fd);
            std::printf("%s\n", ForStdout((item.replace ? "would replace " : "would add ") +
                                          item.packPath + " <- " + item.diskPath)
                                    .c_str());
        }
        std::fflush(stdout);
        Say(std::string(creating ? "would pack " : "would add ") + Counted(plan.fileCount, "file") +
                ", " + Size(plan.totalBytes) + ", into " + packName + "; nothing was written" +
                NotDone(failures, "packed", true),
            options.quiet);
        return failures > 0 ? kExitFailure : kExitOk;
    }

    interrupt::DescribeWork("read", plan.fileCount, "file", "");
    if (creating && !toStdout)
        StreamInto(archive, plan);
    const AddTotals totals = CodeAndAdd(archive, plan, options, failures);
    plan.PruneUnused();
    changed = changed || plan.foldersMade > 0 || totals.added > 0;
    if (toStdout) {
        StdoutSink sink;
        pack::Fault fault;
        if (!archive.WriteTo(sink, fault) || std::fflush(stdout) != 0) {
            // A reason from the sink already names standard output.
            const std::string why = !fault.reason.empty() ? fault.reason : pack::ErrnoText(errno);
            Error((why == sink.Reason() ? why : std::string(kStdoutName) + ": " + why) +
                  "; the pack written there is incomplete");
            return kExitFailure;
        }
    } else if (changed && !SavePack(archive)) {
        return kExitFailure;
    }
    std::string summary;
    if (creating) {
        summary = "packed " + Counted(totals.added, "file") + ", " + Size(totals.original) +
                  " into " + Size(archive.PackSize());
    } else {
        summary = "added " + Counted(totals.added, "file");
        if (totals.replaced > 0)
            summary += " (" + Count(totals.replaced) + " replaced)";
        summary += ", " + Size(totals.original) + " into " + Size(totals.packed) + ", to " +
                   (newPack ? "the new pack " : "") + packPath;
    }
    summary += " in " + Seconds(SecondsSince(start)) + NotDone(failures, "packed");
    Say(summary, options.quiet);
    return failures > 0 || console.errors() > 0 ? kExitFailure : kExitOk;
}

int Finish(CPackArchive& archive, ConsoleMessages& console, bool save, int failures) {
    if (save && !SavePack(archive))
        return kExitFailure;
    return failures > 0 || console.errors() > 0 ? kExitFailure : kExitOk;
}

std::uint64_t FilesIn(const CPackFolder& folder) {
    std::uint64_t n = folder.FileCount();
    for (int i = 0; i < static_cast<int>(folder.SubfolderCount()); ++i)
        n += FilesIn(*folder.SubfolderAt(i));
    return n;
}

// The folders below `folder`, at every depth.
std::uint64_t FoldersIn(const CPackFolder& folder) {
    std::uint64_t n = folder.SubfolderCount();
    for (int i = 0; i < static_cast<int>(folder.SubfolderCount()); ++i)
        n += FoldersIn(*folder.SubfolderAt(i));
    return n;
}

bool RefuseStdinPack(const Options& options) {
    if (options.args.empty() || options.args[0] != "-")
        return false;
    Error(options.verb + " changes a pack file in place and cannot use \"-\"; name the pack file");
    return true;
}

}  // namespace

int RunCreate(const Options& options) {
    const std::string& packPath = options.args[0];
    if (packPath == "-") {
        if (isatty(STDOUT_FILENO) && !options.dryRun) {
            Error(
                "refusing to write a pack to a terminal; redirect standard output or name a "
                "pack file");
            return kExitUsage;
        }
        interrupt::WatchStdout();
    } else {
        struct stat st;
        if (lstat(packPath.c_str(), &st) == 0) {
            if (options.replace != ReplacePolicy::Overwrite) {
                Error(packPath +
                      ": the file exists already; use --overwrite to replace it, or vpf add to "
                      "add to it");
                return kExitFailure;
            }
            struct stat target;
            if (stat(packPath.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
                Error(packPath + ": not a regular file; --overwrite replaces only regular files " +
                      "(and the regular file a link points to)");
                return kExitFailure;
            }
        }
        interrupt::WatchPack(packPath);
    }
    ConsoleMessages console(packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    archive.CreateNew(packPath);
    return PackInputs(archive, console, options, packPath, true, true);
}

int RunAdd(const Options& options) {
    if (RefuseStdinPack(options))
        return kExitUsage;
    const std::string& packPath = options.args[0];
    ConsoleMessages console(packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    struct stat st;
    const bool missing = lstat(packPath.c_str(), &st) != 0 && errno == ENOENT;
    if (missing)
        archive.CreateNew(packPath);  // add makes the pack it is asked to add to
    else if (const int rc = OpenPackForChange(archive, packPath); rc != kExitOk)
        return rc;
    interrupt::WatchPack(packPath);
    return PackInputs(archive, console, options, packPath, false, missing);
}

int RunRemove(const Options& options) {
    if (RefuseStdinPack(options))
        return kExitUsage;
    const std::string& packPath = options.args[0];
    ConsoleMessages console(packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    if (const int rc = OpenPackForChange(archive, packPath); rc != kExitOk)
        return rc;
    interrupt::WatchPack(packPath);
    const ArchiveTree tree(archive.Root());
    int failures = 0;
    std::vector<NameMatch> selected;
    for (std::size_t a = 1; a < options.args.size(); ++a) {
        const std::string& name = options.args[a];
        const Resolution r = Resolve(tree, name, {options.fileOnly, false});
        for (const std::string& path : r.ambiguous) {
            ++failures;
            Error(packPath + ": " + AmbiguityHint(path) + "; it was not removed");
        }
        if (r.status == Resolution::Status::Invalid) {
            Error(name + ": not a valid name inside a PackFile");
            return kExitUsage;
        }
        if (r.status == Resolution::Status::NotFound) {
            ++failures;
            Error(packPath + ": " + (r.pattern ? "nothing matches " : "no file or folder named ") +
                  name);
            continue;
        }
        for (const NameMatch& m : r.matches) {
            if (m.isFolder && m.path.empty()) {
                ++failures;
                Error(packPath + ": " + name +
                      " is the whole pack; rm removes what is inside it (\"*\" names all of it)");
                continue;
            }
            selected.push_back(m);
        }
    }
    selected = WithoutNested(std::move(selected));
    std::uint64_t files = 0, folders = 0;
    for (const NameMatch& m : selected) {
        if (m.isFolder) {
            folders += 1 + FoldersIn(*ArchiveTree::Of(m.folder));
            files += FilesIn(*ArchiveTree::Of(m.folder));
        } else {
            ++files;
        }
    }
    const std::string what = Counted(files, "file") + " and " + Counted(folders, "folder");
    if (options.dryRun) {
        for (const NameMatch& m : selected)
            std::printf("%s\n",
                        ForStdout("would remove " + m.path + (m.isFolder ? "/" : "")).c_str());
        std::fflush(stdout);
        Say("would remove " + what + " from " + packPath + "; nothing was changed" +
                NotDone(failures, "found"),
            options.quiet);
        return failures > 0 ? kExitFailure : kExitOk;
    }
    // What to remove, by folder and stored name, before anything moves:
    // removing one file shifts the indexes of the files after it.
    struct Removal {
        CPackFolder* parent;
        std::string name;
        bool isFolder;
        std::string path;
    };
    std::vector<Removal> removals;
    for (const NameMatch& m : selected) {
        CPackFolder* target = ArchiveTree::Of(m.folder);
        if (m.isFolder) {
            CPackFolder* parent = target->Parent();
            removals.push_back({parent, std::string(parent->SubfolderName(parent->IndexOf(target))),
                                true, m.path});
        } else {
            removals.push_back(
                {target, std::string(target->FileName(static_cast<int>(m.file))), false, m.path});
        }
    }
    for (const Removal& removal : removals) {
        archive.Remove(removal.parent, removal.name, removal.isFolder);
        if (options.verbose)
            Error("removed " + removal.path + (removal.isFolder ? "/" : ""));
    }
    const int rc = Finish(archive, console, !selected.empty(), failures);
    if (rc == kExitOk || !selected.empty())
        Say("removed " + what + " from " + packPath + NotDone(failures, "found"), options.quiet);
    return rc;
}

int RunMakeDir(const Options& options) {
    if (RefuseStdinPack(options))
        return kExitUsage;
    const std::string& packPath = options.args[0];
    ConsoleMessages console(packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    if (const int rc = OpenPackForChange(archive, packPath); rc != kExitOk)
        return rc;
    interrupt::WatchPack(packPath);
    std::uint64_t made = 0;
    for (std::size_t a = 1; a < options.args.size(); ++a) {
        std::vector<std::string> parts;
        if (!SplitPackPath(options.args[a], parts) || parts.empty()) {
            Error(options.args[a] + ": not a valid folder name inside a PackFile");
            return kExitUsage;
        }
        CPackFolder* folder = archive.Root();
        for (const std::string& part : parts) {
            const crateforge::EditResult result = archive.MakeFolder(folder, part);
            switch (result.outcome) {
                case crateforge::EditOutcome::Done:
                    ++made;
                    [[fallthrough]];
                case crateforge::EditOutcome::NameTaken:
                    folder = result.folder;
                    continue;
                case crateforge::EditOutcome::TooDeep:
                    Error(options.args[a] + ": folders are nested too deeply");
                    return kExitUsage;
                case crateforge::EditOutcome::FullNameTooLong:
                    Error(options.args[a] + ": a full name longer than " +
                          std::to_string(pack::kMaxFullNameLength) + " bytes");
                    return kExitUsage;
                case crateforge::EditOutcome::PackTooLarge:
                    Error(packPath + ": cannot make " + options.args[a] +
                          ": the pack would reach 4 GiB; nothing was changed");
                    return kExitFailure;
                default:
                    Error(options.args[a] + ": not a valid folder name inside a PackFile");
                    return kExitUsage;
            }
        }
    }
    const int rc = Finish(archive, console, made > 0, 0);
    if (rc == kExitOk)
        Say("made " + Counted(made, "folder") + " in " + packPath, options.quiet);
    return rc;
}

int RunMove(const Options& options) {
    if (RefuseStdinPack(options))
        return kExitUsage;
    const std::string& packPath = options.args[0];
    const std::string& oldText = options.args[1];
    const std::string& newText = options.args[2];
    std::vector<std::string> to;
    if (!SplitPackPath(newText, to)) {
        Error(newText + ": not a valid name inside a PackFile");
        return kExitUsage;
    }
    const bool newIsFolder = !newText.empty() && (newText.back() == '/' || newText.back() == '\\');
    ConsoleMessages console(packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    if (const int rc = OpenPackForChange(archive, packPath); rc != kExitOk)
        return rc;
    interrupt::WatchPack(packPath);

    const ArchiveTree tree(archive.Root());
    const Resolution r = Resolve(tree, oldText, {options.fileOnly, false});
    switch (r.status) {
        case Resolution::Status::Invalid:
            Error(oldText + ": not a valid name inside a PackFile");
            return kExitUsage;
        case Resolution::Status::NotFound:
            Error(packPath + ": " + (r.pattern ? "nothing matches " : "no file or folder named ") +
                  oldText);
            return kExitFailure;
        case Resolution::Status::Ambiguous:
            Error(packPath + ": " + AmbiguityHint(r.ambiguous.front()) + "; nothing was moved");
            return kExitFailure;
        case Resolution::Status::Found:
            break;
    }
    if (r.matches.size() != 1 || !r.ambiguous.empty()) {
        Error(packPath + ": " + oldText + " matches " +
              Count(r.matches.size() + r.ambiguous.size()) +
              " files and folders; mv moves one; nothing was moved");
        return kExitFailure;
    }
    const NameMatch& match = r.matches.front();
    if (match.isFolder && match.path.empty()) {
        Error(packPath + ": the whole pack cannot be moved");
        return kExitFailure;
    }
    const bool isFile = !match.isFolder;
    CPackFolder* source =
        isFile ? ArchiveTree::Of(match.folder) : ArchiveTree::Of(match.folder)->Parent();
    const int index =
        isFile ? static_cast<int>(match.file) : source->IndexOf(ArchiveTree::Of(match.folder));
    const std::string storedName(isFile ? source->FileName(index) : source->SubfolderName(index));

    // NEW names an existing folder: move into it; else it is the new path.
    // NEW naming OLD itself in other letter case ("docs" to "Docs") is a
    // rename in place: names ignore case, so the folder found is OLD.
    CPackFolder* destination = FindPackFolder(archive.Root(), to);
    if (!isFile && !newIsFolder && !to.empty() && destination == source->SubfolderAt(index))
        destination = nullptr;
    std::string newName = storedName;
    if (!destination && newIsFolder) {
        Error(packPath + ": no folder named " + newText + "; nothing was moved");
        return kExitFailure;
    }
    if (!destination || to.empty()) {
        if (!destination) {
            newName = to.back();
            to.pop_back();
            destination = FindPackFolder(archive.Root(), to);
        }
        if (!destination) {
            Error(packPath + ": no folder named " + JoinPackPath(to) + "; nothing was moved");
            return kExitFailure;
        }
    }
    switch (archive.Move(source, storedName, !isFile, destination, newName).outcome) {
        case crateforge::EditOutcome::Done:
            break;
        case crateforge::EditOutcome::FullNameTooLong:
            Error(packPath + ": a full name in the pack would be longer than " +
                  std::to_string(pack::kMaxFullNameLength) + " bytes; nothing was moved");
            return kExitFailure;
        case crateforge::EditOutcome::IntoItself:
            Error(packPath + ": cannot move the folder " + oldText + " into itself");
            return kExitFailure;
        case crateforge::EditOutcome::NameTaken:
            Error(packPath + ": a " + (isFile ? "file" : "folder") + " named " + newName +
                  " exists already there; nothing was moved");
            return kExitFailure;
        case crateforge::EditOutcome::TooDeep:
            Error(packPath + ": the folders would be nested too deeply; nothing was moved");
            return kExitFailure;
        default:
            Error(newText + ": not a valid name inside a PackFile");
            return kExitUsage;
    }
    const int rc = Finish(archive, console, true, 0);
    if (rc == kExitOk)
        Say("moved " + match.path + (isFile ? "" : "/") + " to " +
                JoinPrefix(JoinPackPath(to), newName) + (isFile ? "" : "/") + " in " + packPath,
            options.quiet);
    return rc;
}

int RunConvert(const Options& options) {
    const auto start = std::chrono::steady_clock::now();
    const std::string& oldPath = options.args[0];
    if (RefuseStdinPack(options))
        return kExitUsage;
    ConsoleMessages console(oldPath);
    if (!fs::PathExists(oldPath)) {
        Error(oldPath + ": " + pack::ErrnoText(ENOENT));
        return kExitFailure;
    }
    if (CPackArchive::IsCurrentPack(oldPath)) {
        Say("vpf: " + oldPath + ": already a PackFile of version " +
                std::string(pack::VersionText(pack::PackVersion::Current)) + "; nothing to convert",
            options.quiet);
        return kExitOk;
    }
    if (!CPackArchive::IsOldPack(oldPath)) {
        Error(oldPath + ": not a PackFile");
        return kExitFailure;
    }
    const std::string newPath =
        options.args.size() > 1 ? options.args[1] : pack::ConvertedPackPath(oldPath);
    if (newPath == "-") {
        Error("convert writes a pack file; name it instead of \"-\"");
        return kExitUsage;
    }
    struct stat st;
    if (lstat(newPath.c_str(), &st) == 0) {
        if (options.replace != ReplacePolicy::Overwrite) {
            Error(newPath + ": the file exists already; use --overwrite to replace it");
            return kExitFailure;
        }
        if (stat(newPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            Error(newPath +
                  ": not a regular file; --overwrite replaces only regular files (and "
                  "the regular file a link points to)");
            return kExitFailure;
        }
    }
    interrupt::WatchPack(newPath);
    CPackArchive old(&console, nullptr, nullptr);
    old.CreateNew(oldPath);
    if (!old.ConvertOldPack())
        return kExitFailure;  // said why; nothing was written
    // Names are taken over byte for byte; one equal to an earlier name but
    // for letter case is numbered apart, and said.
    for (const crateforge::ConversionRename& r : old.ConversionRenames())
        Error(oldPath + ": entry " + std::to_string(r.index + 1) + ", " + r.oldName +
              ", is named " + r.newName + " in " + newPath + ": its name equals that of an " +
              "earlier entry but for letter case");
    std::uint64_t original = 0;
    for (int i = 0; i < static_cast<int>(old.Root()->FileCount()); ++i)
        original += old.Root()->FileOriginalSize(i);
    pack::Fault fault;
    const bool existed = fs::PathExists(newPath);
    if (!SaidSaved(old.SaveAsQuietly(newPath, fault), fault, newPath, existed,
                   "the file there is unchanged"))
        return kExitFailure;
    if (console.errors() > 0)
        return kExitFailure;
    Say("converted " + Counted(old.FileCount(), "file") + ", " + Size(original) + ", of " +
            oldPath + " into " + newPath + " (" + Size(old.PackSize()) + ") in " +
            Seconds(SecondsSince(start)),
        options.quiet);
    return kExitOk;
}

}  // namespace vpf
