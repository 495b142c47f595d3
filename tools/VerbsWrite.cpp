// VerbsWrite.cpp - the verbs that change a pack: create, add, rm, mv, mkdir,
// convert. Every one ends with the archive's atomic Save.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/EntryCoding.h"
#include "archive/PackArchive.h"
#include "archive/PackFolder.h"
#include "format/Names.h"
#include "platform/FileSystem.h"
#include "platform/FolderWalk.h"
#include "tools/Cli.h"
#include "tools/OrderedPool.h"

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

// One disk file to code and add, in pack order.
struct AddItem {
    std::string diskPath;
    CPackFolder* folder;
    std::string name;
    std::string packPath;
    std::uint64_t size;
};

struct CodedItem {
    std::unique_ptr<PackEntry> entry;
    crateforge::DiskReadStatus status = crateforge::DiskReadStatus::Ok;
    pack::Fault fault;
};

// Walks the disk paths given on the command line with the program's one
// folder walk (names in byte order, dot-names included, links to folders
// followed, cycles and unreadable names reported), making the pack's folders
// as it goes and listing the files to add. Contents are read later, by the
// coding workers.
class AddPlan final : public fs::FolderVisitor {
  public:
    explicit AddPlan(const std::string& packPath) {
        struct stat st;
        if (stat(packPath.c_str(), &st) == 0) {
            havePack_ = true;
            packSize_ = static_cast<std::uint64_t>(st.st_size);
            packDevice_ = st.st_dev;
            packInode_ = st.st_ino;
        }
    }

    void AddPath(const std::string& given, CPackFolder* target, const std::string& prefix) {
        const std::string path = StripTrailingSlashes(given);
        struct stat st;
        if (stat(path.c_str(), &st) != 0) {
            Fail("Unable to add " + path + ": " + fs::ErrnoText(errno) + ".");
            return;
        }
        if (!S_ISDIR(st.st_mode)) {
            AddFileItem(path, std::string(fs::LastComponent(path)), target, prefix,
                        static_cast<std::uint64_t>(st.st_size), &st);
            return;
        }
        std::string name(fs::LastComponent(path));
        if (name.empty() || name == "." || name == "..") {
            // "." and the like stand for the folder they name.
            if (char* real = realpath(path.c_str(), nullptr)) {
                name = std::string(fs::LastComponent(real));
                std::free(real);
            }
        }
        if (name.empty() || name == "/") {
            Fail("Unable to add " + path + ": a folder without a name cannot be packed.");
            return;
        }
        const auto depth = static_cast<std::uint32_t>(target->Depth()) + 1;
        if (depth > pack::kMaxFolderDepth) {
            Fail("Unable to add " + path + ": its folders are nested more than " +
                 std::to_string(pack::kMaxFolderDepth) + " deep.");
            return;
        }
        rootName_ = name;
        folders_ = {target};
        prefixes_ = {prefix};
        pack::Fault fault;
        if (!fs::WalkFolder(path, *this, pack::kMaxFolderDepth - depth, fault))
            Fail("Unable to list the folder " + path + ": " + fault.reason + ". It was not added.");
    }

    std::vector<AddItem> items;
    std::uint64_t totalBytes = 0;
    int failures = 0;
    int foldersMade = 0;

  private:
    void Fail(const std::string& text) {
        ++failures;
        Error(text);
    }

    bool NameUsable(const std::string& path, const std::string& name) {
        if (name.size() > pack::kMaxNameLength) {
            Fail("Unable to add " + path + ": its name is longer than 259 bytes.");
            return false;
        }
        if (!pack::IsValidEntryName(name)) {
            Fail("Unable to add " + path + ": its name cannot be used inside a PackFile.");
            return false;
        }
        return true;
    }

    void AddFileItem(const std::string& path, const std::string& name, CPackFolder* folder,
                     const std::string& prefix, std::uint64_t size, const struct stat* known) {
        if (!NameUsable(path, name))
            return;
        // The pack never packs itself (an add of the folder that holds it).
        if (havePack_ && size == packSize_) {
            struct stat st;
            if (!known && stat(path.c_str(), &st) == 0)
                known = &st;
            if (known && known->st_dev == packDevice_ && known->st_ino == packInode_)
                return;
        }
        items.push_back(AddItem{path, folder, name, prefix + name, size});
        totalBytes += size;
    }

    // ---- The walk ------------------------------------------------------------
    bool EnterFolder(const fs::WalkItem& folder) override {
        const std::string name = folder.depth == 0 ? rootName_ : folder.name;
        if (!NameUsable(folder.path, name))
            return false;
        CPackFolder* parent = folders_.back();
        CPackFolder* target = nullptr;
        const int i = parent->FindSubfolder(name);
        if (i >= 0) {
            target = parent->subfolders[static_cast<std::size_t>(i)].get();
        } else {
            target = parent->AppendSubfolder(name);
            ++foldersMade;
        }
        folders_.push_back(target);
        prefixes_.push_back(prefixes_.back() + name + "/");
        return true;
    }
    void LeaveFolder(const fs::WalkItem&) override {
        folders_.pop_back();
        prefixes_.pop_back();
    }
    void VisitFile(const fs::WalkItem& file) override {
        AddFileItem(file.path, file.name, folders_.back(), prefixes_.back(), file.size, nullptr);
    }
    void Skipped(const fs::WalkProblem& problem) override {
        switch (problem.kind) {
            case fs::WalkProblemKind::CannotList:
                Fail("Unable to list the folder " + problem.path + ": " + problem.reason +
                     ". It was not added.");
                break;
            case fs::WalkProblemKind::CannotRead:
            case fs::WalkProblemKind::NotRegular:
                Fail("Unable to read the file " + problem.path + ": " + problem.reason +
                     ". It was not added.");
                break;
            case fs::WalkProblemKind::TooDeep:
                Fail("Unable to add " + problem.path + ": its folders are nested more than " +
                     std::to_string(pack::kMaxFolderDepth) + " deep.");
                break;
            case fs::WalkProblemKind::Cycle:
                Fail("Unable to add " + problem.path + ": " + problem.reason +
                     ". It was not added.");
                break;
        }
    }

    bool havePack_ = false;
    std::uint64_t packSize_ = 0;
    dev_t packDevice_ = 0;
    ino_t packInode_ = 0;
    std::string rootName_;
    std::vector<CPackFolder*> folders_;  // the pack folders of the walk's path
    std::vector<std::string> prefixes_;  // their paths inside the pack
};

// Codes the planned files on the workers and adds them in plan order.
// Returns the number of files added or replaced.
// Adds one coded file; a name that is taken is settled by the replace
// policy (asking on the terminal when it says so). True when added or
// replaced.
bool AddCoded(CPackArchive& archive, ConsoleMessages& console, std::unique_ptr<PackEntry>& entry,
              const AddItem& item) {
    crateforge::AddOutcome outcome =
        archive.AddCodedEntry(entry, item.folder, item.diskPath, crateforge::NameClash::Keep);
    if (outcome == crateforge::AddOutcome::NameTaken &&
        console.DecideReplace(item.packPath,
                              crateforge::WithName(crateforge::kReplaceQuestion, item.name)))
        outcome = archive.AddCodedEntry(entry, item.folder, item.diskPath,
                                        crateforge::NameClash::Replace);
    return outcome == crateforge::AddOutcome::Added || outcome == crateforge::AddOutcome::Replaced;
}

std::size_t CodeAndAdd(CPackArchive& archive, ConsoleMessages& console, AddPlan& plan,
                       const Options& options, int& failures) {
    const unsigned jobs = EffectiveJobs(options);
    PoolOptions pool;
    pool.jobs = jobs;
    pool.window = std::size_t{4} * jobs;
    pool.budget = std::max<std::uint64_t>(64ull << 20, (32ull << 20) * jobs);
    ProgressMeter meter(options, plan.totalBytes);
    std::size_t added = 0;
    const std::vector<AddItem>& items = plan.items;

    RunOrdered<CodedItem>(
        items.size(), pool, [&](std::size_t i) { return items[i].size; },
        [&](std::size_t i) {
            CodedItem out;
            out.entry = std::make_unique<PackEntry>();
            out.entry->SetName(items[i].name);
            out.status = crateforge::CodeDiskFile(items[i].diskPath, *out.entry, {}, out.fault);
            return out;
        },
        [&](std::size_t i, CodedItem&& coded) {
            const AddItem& item = items[i];
            meter.Advance(item.size);
            if (coded.status == crateforge::DiskReadStatus::TooLarge) {
                ++failures;
                Error("Unable to add " + item.diskPath +
                      ": files of 4 GiB or more cannot be packed.");
            } else if (coded.status != crateforge::DiskReadStatus::Ok) {
                ++failures;
                Error("Unable to read the file " + item.diskPath + ": " + coded.fault.reason +
                      ". It was not added.");
            } else if (AddCoded(archive, console, coded.entry, item)) {
                ++added;
                if (options.verbose)
                    Error("added " + item.packPath);
            }
            return true;
        });
    meter.Finish();
    return added;
}

// The folder named by -C, made when missing; null after a message.
CPackFolder* PackDirectory(CPackArchive& archive, const Options& options, std::string& prefix,
                           bool& changed) {
    CPackFolder* folder = archive.Root();
    prefix.clear();
    if (!options.havePackDir)
        return folder;
    std::vector<std::string> parts;
    if (!SplitPackPath(options.packDir, parts)) {
        Error(options.packDir + ": not a valid folder name inside a PackFile");
        return nullptr;
    }
    for (const std::string& part : parts) {
        if (static_cast<std::uint32_t>(folder->Depth()) + 1 > pack::kMaxFolderDepth) {
            Error(options.packDir + ": folders are nested too deeply");
            return nullptr;
        }
        const int i = folder->FindSubfolder(part);
        if (i >= 0) {
            folder = folder->subfolders[static_cast<std::size_t>(i)].get();
        } else {
            folder = folder->AppendSubfolder(part);
            changed = true;
        }
        prefix += std::string(part) + "/";
    }
    return folder;
}

int Finish(CPackArchive& archive, ConsoleMessages& console, bool save, int failures) {
    if (save && !archive.Save())
        return kExitFailure;  // Save has said why; the previous pack is kept
    return failures > 0 || console.errors() > 0 ? kExitFailure : kExitOk;
}

int AddPaths(CPackArchive& archive, ConsoleMessages& console, const Options& options,
             const std::string& packPath, bool alwaysSave) {
    std::string prefix;
    bool changed = false;
    CPackFolder* target = PackDirectory(archive, options, prefix, changed);
    if (!target)
        return kExitUsage;
    AddPlan plan(packPath);
    for (std::size_t i = 1; i < options.args.size(); ++i)
        plan.AddPath(options.args[i], target, prefix);
    changed = changed || plan.foldersMade > 0;
    int failures = plan.failures;
    const std::size_t added = CodeAndAdd(archive, console, plan, options, failures);
    return Finish(archive, console, alwaysSave || changed || added > 0, failures);
}

// Moves the stored bytes of `from` into a new entry named `name`.
std::unique_ptr<PackEntry> TakeEntry(PackEntry& from, std::string_view name) {
    auto entry = std::make_unique<PackEntry>();
    entry->SetName(name);
    entry->originalSize = from.originalSize;
    entry->packedSize = from.packedSize;
    entry->method = from.method;
    entry->data = std::move(from.data);
    return entry;
}

// Moves everything of `from` into the empty folder `to`.
void MoveContents(CPackFolder& from, CPackFolder& to) {
    for (auto& file : from.files)
        to.AppendFile(TakeEntry(*file, file->Name()));
    for (std::size_t i = 0; i < from.subfolders.size(); ++i) {
        CPackFolder* child = to.AppendSubfolder(from.SubfolderName(static_cast<int>(i)));
        MoveContents(*from.subfolders[i], *child);
    }
}

int Height(const CPackFolder& folder) {
    int height = 0;
    for (const auto& child : folder.subfolders)
        height = std::max(height, 1 + Height(*child));
    return height;
}

}  // namespace

int RunCreate(const Options& options) {
    const std::string& packPath = options.args[0];
    if (fs::PathExists(packPath) && options.replace != ReplacePolicy::Overwrite) {
        Error(packPath +
              ": the file exists already; use --overwrite to replace it, or vpf add to add to it");
        return kExitFailure;
    }
    ConsoleMessages console(options, packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    archive.CreateNew(packPath);
    return AddPaths(archive, console, options, packPath, true);
}

int RunAdd(const Options& options) {
    const std::string& packPath = options.args[0];
    ConsoleMessages console(options, packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    if (const int rc = OpenPack(archive, packPath); rc != kExitOk)
        return rc;
    return AddPaths(archive, console, options, packPath, false);
}

int RunRemove(const Options& options) {
    const std::string& packPath = options.args[0];
    ConsoleMessages console(options, packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    if (const int rc = OpenPack(archive, packPath); rc != kExitOk)
        return rc;
    int failures = 0;
    bool changed = false;
    for (std::size_t a = 1; a < options.args.size(); ++a) {
        std::vector<std::string> parts;
        if (!SplitPackPath(options.args[a], parts) || parts.empty()) {
            Error(options.args[a] + ": not a valid name inside a PackFile");
            return kExitUsage;
        }
        const std::string last = parts.back();
        parts.pop_back();
        CPackFolder* parent = FindPackFolder(archive.Root(), parts);
        const bool found =
            parent && (parent->FindFile(last) >= 0 || parent->FindSubfolder(last) >= 0);
        if (!found) {
            ++failures;
            Error(packPath + ": no file or folder named " + options.args[a]);
            continue;
        }
        // The archive removes from the folder it shows: walk there and back.
        for (const std::string& part : parts)
            archive.EnterFolder(part);
        if (archive.Current()->FindFile(last) >= 0)
            archive.RemoveFile(last);
        if (archive.Current()->FindSubfolder(last) >= 0)
            archive.RemoveFolder(last);
        while (archive.Current() != archive.Root())
            archive.GoUp();
        changed = true;
        if (options.verbose)
            Error("removed " + options.args[a]);
    }
    return Finish(archive, console, changed, failures);
}

int RunMakeDir(const Options& options) {
    const std::string& packPath = options.args[0];
    ConsoleMessages console(options, packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    if (const int rc = OpenPack(archive, packPath); rc != kExitOk)
        return rc;
    bool changed = false;
    for (std::size_t a = 1; a < options.args.size(); ++a) {
        std::vector<std::string> parts;
        if (!SplitPackPath(options.args[a], parts) || parts.empty()) {
            Error(options.args[a] + ": not a valid folder name inside a PackFile");
            return kExitUsage;
        }
        if (parts.size() > static_cast<std::size_t>(pack::kMaxFolderDepth)) {
            Error(options.args[a] + ": folders are nested too deeply");
            return kExitUsage;
        }
        CPackFolder* folder = archive.Root();
        for (const std::string& part : parts) {
            const int i = folder->FindSubfolder(part);
            if (i >= 0) {
                folder = folder->subfolders[static_cast<std::size_t>(i)].get();
            } else {
                folder = folder->AppendSubfolder(part);
                changed = true;
            }
        }
    }
    return Finish(archive, console, changed, 0);
}

int RunMove(const Options& options) {
    const std::string& packPath = options.args[0];
    const std::string& oldText = options.args[1];
    const std::string& newText = options.args[2];
    std::vector<std::string> from, to;
    if (!SplitPackPath(oldText, from) || from.empty()) {
        Error(oldText + ": not a valid name inside a PackFile");
        return kExitUsage;
    }
    if (!SplitPackPath(newText, to)) {
        Error(newText + ": not a valid name inside a PackFile");
        return kExitUsage;
    }
    ConsoleMessages console(options, packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    if (const int rc = OpenPack(archive, packPath); rc != kExitOk)
        return rc;

    const std::string name = from.back();
    from.pop_back();
    CPackFolder* source = FindPackFolder(archive.Root(), from);
    const int fileIndex = source ? source->FindFile(name) : -1;
    const int folderIndex = source ? source->FindSubfolder(name) : -1;
    if (fileIndex < 0 && folderIndex < 0) {
        Error(packPath + ": no file or folder named " + oldText);
        return kExitFailure;
    }
    if (fileIndex >= 0 && folderIndex >= 0) {
        Error(packPath + ": both a file and a folder are named " + oldText);
        return kExitFailure;
    }
    const std::string storedName =
        fileIndex >= 0 ? std::string(source->files[static_cast<std::size_t>(fileIndex)]->Name())
                       : std::string(source->SubfolderName(folderIndex));

    // NEW names an existing folder: move into it; else it is the new path.
    CPackFolder* destination = FindPackFolder(archive.Root(), to);
    std::string newName = storedName;
    if (!destination || to.empty()) {
        if (!destination) {
            newName = to.back();
            to.pop_back();
            destination = FindPackFolder(archive.Root(), to);
        }
        if (!destination) {
            Error(packPath + ": no folder named " + JoinPackPath(to));
            return kExitFailure;
        }
    }
    if (fileIndex >= 0) {
        PackEntry& entry = *source->files[static_cast<std::size_t>(fileIndex)];
        const int taken = destination->FindFile(newName);
        if (taken >= 0 && !(destination == source && taken == fileIndex)) {
            Error(packPath + ": a file named " + newName + " exists already there");
            return kExitFailure;
        }
        if (destination == source) {
            entry.SetName(newName);  // also a change of letter case only
        } else {
            destination->AppendFile(TakeEntry(entry, newName));
            source->EraseFileAt(fileIndex);
        }
    } else {
        CPackFolder* moving = source->subfolders[static_cast<std::size_t>(folderIndex)].get();
        for (const CPackFolder* f = destination; f; f = f->parent) {
            if (f == moving) {
                Error(packPath + ": cannot move the folder " + oldText + " into itself");
                return kExitFailure;
            }
        }
        const int taken = destination->FindSubfolder(newName);
        if (taken >= 0 && !(destination == source && taken == folderIndex)) {
            Error(packPath + ": a folder named " + newName + " exists already there");
            return kExitFailure;
        }
        if (destination == source) {
            pack::SetFieldName(source->subfolderNames[static_cast<std::size_t>(folderIndex)]->name,
                               newName);
        } else {
            if (static_cast<std::uint32_t>(destination->Depth() + 1 + Height(*moving)) >
                pack::kMaxFolderDepth) {
                Error(packPath + ": the folders would be nested too deeply");
                return kExitFailure;
            }
            CPackFolder* copy = destination->AppendSubfolder(newName);
            MoveContents(*moving, *copy);
            // Erasing the emptied records lowers the totals the moves raised.
            source->EraseSubfolderAt(folderIndex);
        }
    }
    if (options.verbose)
        Error("moved " + oldText + " to " + newText);
    return Finish(archive, console, true, 0);
}

int RunConvert(const Options& options) {
    const std::string& oldPath = options.args[0];
    ConsoleMessages console(options, oldPath);
    if (!fs::PathExists(oldPath)) {
        Error(oldPath + ": " + fs::ErrnoText(ENOENT));
        return kExitFailure;
    }
    if (CPackArchive::IsCurrentPack(oldPath)) {
        if (!options.quiet)
            Error(oldPath + ": already a PackFile of version " +
                  std::string(pack::VersionText(pack::PackVersion::Current)) +
                  "; nothing to convert");
        return kExitOk;
    }
    if (!CPackArchive::IsOldPack(oldPath)) {
        Error(oldPath + ": not a PackFile");
        return kExitFailure;
    }
    std::string newPath;
    if (options.args.size() > 1) {
        newPath = options.args[1];
    } else {
        newPath = pack::ConvertedPackPath(oldPath);  // the desktop program's rule
    }
    if (fs::PathExists(newPath) && options.replace != ReplacePolicy::Overwrite) {
        Error(newPath + ": the file exists already; use --overwrite to replace it");
        return kExitFailure;
    }
    CPackArchive old(&console, nullptr, nullptr);
    old.CreateNew(oldPath);
    if (!old.ConvertOldPack())
        return kExitFailure;  // said why; nothing was written

    ConsoleMessages target(options, newPath);
    CPackArchive converted(&target, nullptr, nullptr);
    converted.CreateNew(newPath);
    for (auto& file : old.Root()->files) {
        std::unique_ptr<PackEntry> entry = TakeEntry(*file, file->Name());
        // Conversion made every name unique already.
        if (converted.AddCodedEntry(entry, converted.Root(), oldPath,
                                    crateforge::NameClash::Keep) != crateforge::AddOutcome::Added)
            return kExitFailure;
    }
    if (!converted.Save())
        return kExitFailure;
    if (options.verbose)
        Error("converted " + oldPath + " to " + newPath);
    return console.errors() + target.errors() > 0 ? kExitFailure : kExitOk;
}

}  // namespace vpf
