// VerbsRead.cpp - the verbs that read a pack: list, extract, cat, check.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>

#include "archive/EntryData.h"
#include "archive/PackArchive.h"
#include "archive/PackCheck.h"
#include "archive/PackFolder.h"
#include "format/ByteSource.h"
#include "format/EntryDecoder.h"
#include "format/Names.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "tools/Cli.h"
#include "tools/OrderedPool.h"

namespace vpf {

using crateforge::CPackArchive;
using crateforge::CPackFolder;
using crateforge::PackEntry;
namespace fs = crateforge::fs;

namespace {

const char* MethodName(std::uint8_t method) {
    switch (method) {
        case static_cast<std::uint8_t>(pack::PackMethod::Stored):
            return "stored";
        case static_cast<std::uint8_t>(pack::PackMethod::Lzrw3a):
            return "lzrw3a";
        case static_cast<std::uint8_t>(pack::PackMethod::Gzip):
            return "gzip";
        default:
            return "unknown";
    }
}

void PrintLine(const std::string& text) {
    const std::string line = Printable(text) + "\n";
    std::fputs(line.c_str(), stdout);
}

void ListFolder(const CPackFolder& folder, const std::string& prefix, bool longForm) {
    char row[96];
    for (const auto& file : folder.files) {
        const std::string path = prefix + std::string(file->Name());
        if (longForm) {
            std::snprintf(row, sizeof row, "%12" PRIu32 " %12" PRIu32 " %5" PRId64 "%%  %-7s ",
                          file->originalSize, file->packedSize,
                          CPackArchive::FileRatio(file->originalSize, file->packedSize),
                          MethodName(file->method));
            PrintLine(row + path);
        } else {
            PrintLine(path);
        }
    }
    for (std::size_t i = 0; i < folder.subfolders.size(); ++i) {
        const CPackFolder& sub = *folder.subfolders[i];
        const std::string path =
            prefix + std::string(folder.SubfolderName(static_cast<int>(i))) + "/";
        if (longForm) {
            std::snprintf(row, sizeof row, "%12" PRIu32 " %12" PRIu32 " %5" PRId64 "%%  %-7s ",
                          sub.totalOriginalSize, sub.totalPackedSize,
                          CPackArchive::FolderRatio(sub.totalOriginalSize, sub.totalPackedSize),
                          "folder");
            PrintLine(row + path);
        } else {
            PrintLine(path);
        }
        ListFolder(sub, path, longForm);
    }
}

// A file to write and where.
struct ExtractJob {
    const PackEntry* entry;
    std::string packPath;
    std::string target;
    bool replace;  // an existing file is replaced through a temporary sibling
};

struct ExtractResult {
    bool ok = true;
    std::string reason;
};

class ExtractPlan {
  public:
    ExtractPlan(ConsoleMessages& console, const std::string& packPath, std::string outputDir)
        : console_(console), packPath_(packPath), out_(std::move(outputDir)) {}

    // Adds the folder's whole subtree below `dir` (a disk folder already
    // made or to be made) with `prefix` as its path inside the pack.
    void AddFolder(const CPackFolder& folder, const std::string& dir, const std::string& prefix,
                   int depth) {
        if (!MakeDirectory(dir))
            return;
        for (const auto& file : folder.files)
            AddFile(*file, dir, prefix);
        if (depth >= static_cast<int>(pack::kMaxFolderDepth) && !folder.subfolders.empty()) {
            Fail(prefix + ": its folders are nested too deeply");
            return;
        }
        for (std::size_t i = 0; i < folder.subfolders.size(); ++i) {
            const std::string name(folder.SubfolderName(static_cast<int>(i)));
            if (!pack::IsValidEntryName(name)) {
                Fail("the folder name \"" + name + "\" in " + (prefix.empty() ? "/" : prefix) +
                     " cannot be used on disk; it was skipped");
                continue;
            }
            AddFolder(*folder.subfolders[i], fs::JoinPath(dir, name), prefix + name + "/",
                      depth + 1);
        }
    }

    void AddFile(const PackEntry& entry, const std::string& dir, const std::string& prefix) {
        const std::string name(entry.Name());
        if (!pack::IsValidEntryName(name)) {
            Fail("the file name \"" + name + "\" in " + (prefix.empty() ? "/" : prefix) +
                 " cannot be used on disk; it was skipped");
            return;
        }
        const std::string target = fs::JoinPath(dir, name);
        if (!targets_.insert(target).second) {
            Fail(prefix + name + " appears twice in the pack; only the first was extracted");
            return;
        }
        bool replace = false;
        struct stat st;
        if (lstat(target.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                Fail("unable to extract " + prefix + name + ": a folder " + target +
                     " is in the way");
                return;
            }
            if (!console_.DecideReplace(
                    target, "File " + name + " already exist. Do you wish to overwrite?"))
                return;
            replace = true;
        }
        jobs.push_back(ExtractJob{&entry, prefix + name, target, replace});
        totalBytes += entry.originalSize;
    }

    // Makes `dir` and the folders above it up to the output folder; an
    // existing folder is used, anything else in the way (a file, a link) is
    // refused so that nothing is written outside the output folder.
    bool MakeDirectory(const std::string& dir) {
        if (made_.count(dir))
            return true;
        if (dir != out_) {
            const std::string parent = fs::ParentDirectory(dir);
            if (parent == dir || !MakeDirectory(parent))
                return false;
        } else {
            made_.insert(dir);
            return true;  // the output folder itself was made or checked before
        }
        if (mkdir(dir.c_str(), 0777) != 0) {
            const int error = errno;
            struct stat st;
            if (error != EEXIST || lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
                Fail("unable to make the folder " + dir + ": " +
                     (error == EEXIST ? std::string("a file or link is in the way")
                                      : fs::ErrnoText(error)));
                return false;
            }
        }
        made_.insert(dir);
        return true;
    }

    std::vector<ExtractJob> jobs;
    std::uint64_t totalBytes = 0;
    int failures = 0;

  private:
    void Fail(const std::string& text) {
        ++failures;
        Error(packPath_ + ": " + text);
    }
    ConsoleMessages& console_;
    std::string packPath_;
    std::string out_;
    std::unordered_set<std::string> targets_;
    std::unordered_set<std::string> made_;
};

// Makes the output folder and its parents.
bool MakeOutputDirectory(const std::string& dir) {
    std::string path;
    std::size_t at = 0;
    while (at != std::string::npos) {
        const std::size_t slash = dir.find('/', at + 1);
        path = dir.substr(0, slash);
        at = slash;
        if (path.empty() || path == "/")
            continue;
        if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
            Error(dir + ": " + fs::ErrnoText(errno));
            return false;
        }
    }
    if (!fs::IsDirectory(dir)) {
        Error(dir + ": not a folder");
        return false;
    }
    return true;
}

ExtractResult Failed(std::string reason) {
    ExtractResult result;
    result.ok = false;
    result.reason = std::move(reason);
    return result;
}

// Writes one entry through a hidden sibling that becomes the target only
// when it is complete: the one entry decoder streams the original bytes
// into it (gzip inflated in memory, in blocks, so no decoded copy is held
// and the temporary folder is not needed), and a failure leaves the target
// as it was.
ExtractResult WriteJob(const ExtractJob& job) {
    const PackEntry& entry = *job.entry;
    const pack::EntryClaim claim = crateforge::ClaimOf(entry);
    pack::Fault fault;
    // A claim that cannot be right creates nothing at all.
    if (!pack::CheckEntryClaim(claim, fault))
        return Failed(fault.reason);
    if (entry.packedSize > 0 && !entry.data)
        return Failed("the stored bytes are missing");
    fs::AtomicFileOptions options = crateforge::ExtractOptions();
    options.replace = job.replace;  // a file that appeared meanwhile is kept
    fs::AtomicFile file;
    if (!file.Begin(job.target, options, fault))
        return Failed(fault.reason);
    pack::MemorySource stored({entry.data.get(), entry.packedSize});
    crateforge::AtomicFileSink sink(file);
    if (!pack::StreamEntry(stored, 0, claim, sink, fault) || !file.Commit(fault))
        return Failed(fault.reason);
    return ExtractResult{};
}

// Standard output as the decoder's sink.
class StdoutSink final : public pack::ByteSink {
  public:
    bool Write(const unsigned char* data, std::size_t length) override {
        if (std::fwrite(data, 1, length, stdout) == length)
            return true;
        error_ = errno;
        return false;
    }
    std::string Reason() const override {
        return "standard output: " + fs::ErrnoText(error_ != 0 ? error_ : EIO);
    }

  private:
    int error_ = 0;
};

struct Selection {
    const CPackFolder* folder = nullptr;
    const PackEntry* file = nullptr;
    std::vector<std::string> parents;  // names inside the pack, as stored
};

}  // namespace

int RunList(const Options& options) {
    const std::string& packPath = options.args[0];
    ConsoleMessages console(options, packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    if (const int rc = OpenPack(archive, packPath); rc != kExitOk)
        return rc;
    const CPackFolder& root = *archive.Root();
    if (options.longList)
        PrintLine("    Original       Packed  Ratio  Method  Name");
    ListFolder(root, "", options.longList);
    if (options.longList) {
        char row[160];
        std::snprintf(row, sizeof row,
                      "%12" PRIu32 " %12" PRIu32 " %5" PRId64 "%%          %" PRIu32
                      " files, %" PRIu64 " folders",
                      root.totalOriginalSize, root.totalPackedSize,
                      CPackArchive::FolderRatio(root.totalOriginalSize, root.totalPackedSize),
                      archive.FileCount(), root.FolderCountInSubtree() - 1);
        PrintLine(row);
    }
    if (std::fflush(stdout) != 0) {
        Error("standard output: " + fs::ErrnoText(errno));
        return kExitFailure;
    }
    return kExitOk;
}

int RunExtract(const Options& options) {
    const std::string& packPath = options.args[0];
    ConsoleMessages console(options, packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    if (const int rc = OpenPack(archive, packPath); rc != kExitOk)
        return rc;
    std::string out = options.haveOutputDir ? options.outputDir : std::string(".");
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    if (out.empty()) {
        Error("-o: an empty folder name");
        return kExitUsage;
    }

    // What to extract, resolved before anything is written.
    std::vector<Selection> selected;
    int failures = 0;
    if (options.args.size() == 1) {
        selected.push_back(Selection{archive.Root(), nullptr, {}});
    } else {
        for (std::size_t a = 1; a < options.args.size(); ++a) {
            std::vector<std::string> parts;
            if (!SplitPackPath(options.args[a], parts)) {
                Error(options.args[a] + ": not a valid name inside a PackFile");
                return kExitUsage;
            }
            if (parts.empty()) {
                selected.push_back(Selection{archive.Root(), nullptr, {}});
                continue;
            }
            Selection base;
            const CPackFolder* folder = archive.Root();
            for (std::size_t k = 0; folder && k + 1 < parts.size(); ++k) {
                const int i = folder->FindSubfolder(parts[k]);
                if (i < 0) {
                    folder = nullptr;
                    break;
                }
                base.parents.emplace_back(folder->SubfolderName(i));
                folder = folder->subfolders[static_cast<std::size_t>(i)].get();
            }
            bool found = false;
            if (folder) {
                if (const int f = folder->FindFile(parts.back()); f >= 0) {
                    Selection s = base;
                    s.file = folder->files[static_cast<std::size_t>(f)].get();
                    selected.push_back(std::move(s));
                    found = true;
                }
                if (const int d = folder->FindSubfolder(parts.back()); d >= 0) {
                    Selection s = base;
                    s.parents.emplace_back(folder->SubfolderName(d));
                    s.folder = folder->subfolders[static_cast<std::size_t>(d)].get();
                    selected.push_back(std::move(s));
                    found = true;
                }
            }
            if (!found) {
                ++failures;
                Error(packPath + ": no file or folder named " + options.args[a]);
            }
        }
    }
    if (selected.empty())
        return kExitFailure;
    if (!MakeOutputDirectory(out))
        return kExitFailure;

    ExtractPlan plan(console, packPath, out);
    for (const Selection& s : selected) {
        std::string dir = out;
        std::string prefix;
        bool usable = true;
        const std::size_t dirs = s.parents.size();
        for (std::size_t k = 0; k < dirs; ++k) {
            if (!pack::IsValidEntryName(s.parents[k])) {
                usable = false;
                break;
            }
            dir = fs::JoinPath(dir, s.parents[k]);
            prefix += s.parents[k] + "/";
        }
        if (!usable) {
            ++failures;
            Error(packPath + ": a folder name in " + JoinPackPath(s.parents) +
                  " cannot be used on disk; it was skipped");
            continue;
        }
        if (s.folder) {
            plan.AddFolder(*s.folder, dir, prefix, static_cast<int>(dirs));
        } else if (plan.MakeDirectory(dir)) {
            plan.AddFile(*s.file, dir, prefix);
        }
    }
    failures += plan.failures;

    const unsigned jobs = EffectiveJobs(options);
    PoolOptions pool;
    pool.jobs = jobs;
    pool.window = std::size_t{4} * jobs;
    pool.budget = std::max<std::uint64_t>(64ull << 20, (32ull << 20) * jobs);
    ProgressMeter meter(options, plan.totalBytes);
    RunOrdered<ExtractResult>(
        plan.jobs.size(), pool, [&](std::size_t i) { return plan.jobs[i].entry->originalSize; },
        [&](std::size_t i) { return WriteJob(plan.jobs[i]); },
        [&](std::size_t i, ExtractResult&& result) {
            meter.Advance(plan.jobs[i].entry->originalSize);
            if (!result.ok) {
                ++failures;
                Error(packPath + ": unable to extract " + plan.jobs[i].packPath + " to " +
                      plan.jobs[i].target + ": " + result.reason);
            } else if (options.verbose) {
                Error("extracted " + plan.jobs[i].target);
            }
            return true;
        });
    meter.Finish();
    return failures > 0 || console.errors() > 0 ? kExitFailure : kExitOk;
}

int RunCat(const Options& options) {
    const std::string& packPath = options.args[0];
    std::vector<std::string> parts;
    if (!SplitPackPath(options.args[1], parts) || parts.empty()) {
        Error(options.args[1] + ": not a valid name inside a PackFile");
        return kExitUsage;
    }
    ConsoleMessages console(options, packPath);
    CPackArchive archive(&console, nullptr, nullptr);
    if (const int rc = OpenPack(archive, packPath); rc != kExitOk)
        return rc;
    const std::string name = parts.back();
    parts.pop_back();
    const CPackFolder* folder = FindPackFolder(archive.Root(), parts);
    const int i = folder ? folder->FindFile(name) : -1;
    if (i < 0) {
        Error(packPath + ": no file named " + options.args[1]);
        return kExitFailure;
    }
    const PackEntry& entry = *folder->files[static_cast<std::size_t>(i)];
    if (entry.packedSize > 0 && !entry.data) {
        Error(packPath + ": unable to read " + options.args[1] + ": the stored bytes are missing");
        return kExitFailure;
    }
    pack::MemorySource stored({entry.data.get(), entry.packedSize});
    StdoutSink sink;
    pack::Fault fault;
    if (!pack::StreamEntry(stored, 0, crateforge::ClaimOf(entry), sink, fault)) {
        if (fault.kind == pack::FaultKind::Interrupted)
            Error(fault.reason);
        else
            Error(packPath + ": unable to read " + options.args[1] + ": " + fault.reason);
        return kExitFailure;
    }
    if (std::fflush(stdout) != 0) {
        Error("standard output: " + fs::ErrnoText(errno));
        return kExitFailure;
    }
    return kExitOk;
}

int RunCheck(const Options& options) {
    const std::string& packPath = options.args[0];
    // The first fault, told as damage only when it is the pack's.
    auto report = [&](const pack::Fault& f) {
        if (f.kind == pack::FaultKind::Damaged)
            Error(packPath + ": damaged at offset " + std::to_string(f.offset) + ": " + f.reason);
        else if (f.kind == pack::FaultKind::NotAPack)
            Error(packPath + ": " + f.reason);
        else
            Error(packPath + ": cannot check: " + f.Text());
        return kExitFailure;
    };
    pack::FileSource source;
    pack::Directory directory;
    pack::Fault fault;
    if (!source.Open(packPath, fault)) {
        if (fault.kind == pack::FaultKind::Damaged)
            return report(fault);
        Error(packPath + ": " + fault.reason);
        return kExitFailure;
    }
    if (!crateforge::CheckPackStructure(source, directory, fault))
        return report(fault);

    const unsigned jobs = EffectiveJobs(options);
    PoolOptions pool;
    pool.jobs = jobs;
    pool.window = std::size_t{4} * jobs;
    pool.budget = std::max<std::uint64_t>(64ull << 20, (32ull << 20) * jobs);
    const auto& files = directory.files;
    std::uint64_t total = 0;
    for (const auto& f : files)
        total += f.originalSize;
    ProgressMeter meter(options, total);
    struct Checked {
        bool ok = true;
        pack::Fault fault;
    };
    bool ok = true;
    RunOrdered<Checked>(
        files.size(), pool,
        [&](std::size_t i) { return std::uint64_t{files[i].originalSize} + files[i].packedSize; },
        [&](std::size_t i) {
            // Each worker reads through its own source over the one descriptor.
            pack::DescriptorSource own(source.Descriptor(), source.Size());
            Checked r;
            r.ok = crateforge::CheckEntryData(own, directory, i, r.fault);
            return r;
        },
        [&](std::size_t i, Checked&& r) {
            meter.Advance(files[i].originalSize);
            if (!r.ok) {
                ok = false;
                fault = r.fault;
                return false;  // the first fault in pack order is the one reported
            }
            return true;
        });
    meter.Finish();
    if (!ok)
        return report(fault);
    if (!options.quiet) {
        PrintLine(packPath + ": OK, version " + std::string(pack::VersionText(directory.version)) +
                  ", " + std::to_string(files.size()) + " files in " +
                  std::to_string(directory.folders.size() - 1) + " folders, " +
                  std::to_string(directory.fileSize) + " bytes");
        std::fflush(stdout);
    }
    return kExitOk;
}

}  // namespace vpf
