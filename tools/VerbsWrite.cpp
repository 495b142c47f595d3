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
#include "archive/EntryData.h"
#include "archive/PackArchive.h"
#include "archive/PackFolder.h"
#include "platform/FileSystem.h"
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
    std::string reason;
};

// Walks the disk paths given on the command line in the order the desktop
// program adds them (names in byte order, names beginning with "." skipped,
// links to folders not followed), making the pack's folders as it goes and
// listing the files to add. Contents are read later, by the coding workers.
class AddPlan {
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
        AddDirectory(path, name, target, prefix, target->Depth() + 1);
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
        if (!crateforge::IsSafeEntryName(name)) {
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

    void AddDirectory(const std::string& path, const std::string& name, CPackFolder* parent,
                      const std::string& prefix, int depth) {
        if (!NameUsable(path, name))
            return;
        if (depth > crateforge::kMaxFolderDepth) {
            Fail("Unable to add " + path + ": its folders are nested more than " +
                 std::to_string(crateforge::kMaxFolderDepth) + " deep.");
            return;
        }
        std::vector<fs::DirEntry> names;
        std::string reason;
        if (!fs::ListDirectory(path, names, &reason)) {
            Fail("Unable to list the folder " + path + ": " + reason + ". It was not added.");
            return;
        }
        CPackFolder* target = nullptr;
        const int i = parent->FindSubfolder(name);
        if (i >= 0) {
            target = parent->subfolders[static_cast<std::size_t>(i)].get();
        } else {
            target = parent->AppendSubfolder(name);
            ++foldersMade;
        }
        if (!target) {
            Fail("Unable to add " + path + ": its name cannot be used inside a PackFile.");
            return;
        }
        const std::string inner = prefix + name + "/";
        for (const fs::DirEntry& e : names) {
            if (e.name[0] == '.')
                continue;
            const std::string full = fs::JoinPath(path, e.name);
            if (e.isDirectory) {
                if (!e.isSymlink)  // a link to a folder could lead back up
                    AddDirectory(full, e.name, target, inner, depth + 1);
            } else {
                AddFileItem(full, e.name, target, inner, e.size, nullptr);
            }
        }
    }

    bool havePack_ = false;
    std::uint64_t packSize_ = 0;
    dev_t packDevice_ = 0;
    ino_t packInode_ = 0;
};

// Codes the planned files on the workers and adds them in plan order.
// Returns the number of files added or replaced.
std::size_t CodeAndAdd(CPackArchive& archive, AddPlan& plan, const Options& options,
                       int& failures) {
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
            out.status = crateforge::CodeDiskFile(items[i].diskPath, *out.entry, {}, out.reason);
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
                Error("Unable to read the file " + item.diskPath + ": " + coded.reason +
                      ". It was not added.");
            } else if (archive.AddCodedFile(std::move(coded.entry), item.folder, item.diskPath)) {
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
    CPackFolder* folder = archive.root();
    prefix.clear();
    if (!options.havePackDir)
        return folder;
    std::vector<std::string> parts;
    if (!SplitPackPath(options.packDir, parts)) {
        Error(options.packDir + ": not a valid folder name inside a PackFile");
        return nullptr;
    }
    for (const std::string& part : parts) {
        if (folder->Depth() + 1 > crateforge::kMaxFolderDepth) {
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
    const std::size_t added = CodeAndAdd(archive, plan, options, failures);
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
        CPackFolder* parent = FindPackFolder(archive.root(), parts);
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
        if (archive.current()->FindFile(last) >= 0)
            archive.RemoveFile(last);
        if (archive.current()->FindSubfolder(last) >= 0)
            archive.RemoveFolder(last);
        while (archive.current() != archive.root())
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
        if (parts.size() > static_cast<std::size_t>(crateforge::kMaxFolderDepth)) {
            Error(options.args[a] + ": folders are nested too deeply");
            return kExitUsage;
        }
        CPackFolder* folder = archive.root();
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
    CPackFolder* source = FindPackFolder(archive.root(), from);
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
    CPackFolder* destination = FindPackFolder(archive.root(), to);
    std::string newName = storedName;
    if (!destination || to.empty()) {
        if (!destination) {
            newName = to.back();
            to.pop_back();
            destination = FindPackFolder(archive.root(), to);
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
            if (destination->Depth() + 1 + Height(*moving) > crateforge::kMaxFolderDepth) {
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
            Error(oldPath + ": already a PackFile of version 2.10; nothing to convert");
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
        // The desktop program's rule: the extension becomes ".VPF".
        const std::string_view name = fs::LastComponent(oldPath);
        const std::size_t dot = name.rfind('.');
        const std::size_t base = oldPath.size() - name.size();
        newPath = (dot == std::string_view::npos || dot == 0)
                      ? oldPath + ".VPF"
                      : oldPath.substr(0, base + dot) + ".VPF";
        if (name.size() >= 4 &&
            crateforge::SameNameIgnoringCase(name.substr(name.size() - 4), ".vpf"))
            newPath = oldPath;
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
    for (auto& file : old.root()->files) {
        if (!converted.AddCodedFile(TakeEntry(*file, file->Name()), converted.root(), oldPath))
            return kExitFailure;
    }
    if (!converted.Save())
        return kExitFailure;
    if (options.verbose)
        Error("converted " + oldPath + " to " + newPath);
    return console.errors() + target.errors() > 0 ? kExitFailure : kExitOk;
}

}  // namespace vpf
