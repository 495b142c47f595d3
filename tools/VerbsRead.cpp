// VerbsRead.cpp - the verbs that read a pack: list, extract, cat, check.
//
// They read the pack's directory only (format/PackDirectory.h) and decode
// each entry in blocks straight from the file (pack::StreamEntry), so memory
// stays flat whatever the sizes of the pack and its files. Packs of both
// versions are read; nothing here ever writes to a pack.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "archive/EntryData.h"
#include "archive/PackCheck.h"
#include "format/ByteSource.h"
#include "format/EntryDecoder.h"
#include "format/Names.h"
#include "platform/AtomicFile.h"
#include "platform/BeneathFolder.h"
#include "platform/FileSystem.h"
#include "tools/Cli.h"
#include "tools/Interrupt.h"
#include "tools/OrderedPool.h"
#include "tools/PackInput.h"
#include "tools/PackNames.h"

namespace vpf {

namespace fs = crateforge::fs;
using Folder = NameTree::Folder;

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

// Percent saved: 0 when the sizes are equal or nothing is stored.
std::int64_t Ratio(std::uint64_t original, std::uint64_t packed) {
    if (original == 0 || original == packed)
        return 0;
    return 100 - static_cast<std::int64_t>(static_cast<double>(packed) /
                                           static_cast<double>(original) * 100.0);
}

PoolOptions PoolFor(const Options& options) {
    const unsigned jobs = EffectiveJobs(options);
    PoolOptions pool;
    pool.jobs = jobs;
    pool.window = std::size_t{4} * jobs;
    pool.budget = std::max<std::uint64_t>(64ull << 20, (32ull << 20) * jobs);
    return pool;
}

bool FlushStdout() {
    if (std::fflush(stdout) == 0)
        return true;
    Error(std::string(kStdoutName) + ": " + pack::ErrnoText(errno));
    return false;
}

// ---- JSON -------------------------------------------------------------------

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t code = 0;
        std::size_t length = 1;
        if (static_cast<unsigned char>(text[i]) >= 0x80 && !DecodeUtf8(text, i, code, length))
            return false;
        i += length;
    }
    return true;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t v =
            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
            static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (i < bytes.size()) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// ---- list -------------------------------------------------------------------

// Takes decoded bytes and keeps nothing.
class DiscardSink final : public pack::ByteSink {
  public:
    bool Write(const unsigned char*, std::size_t) override { return true; }
};

// Whether the file's stored bytes decode to exactly its original size.
bool Decodes(pack::ByteSource& source, const pack::DirectoryFile& f, pack::Fault& fault) {
    DiscardSink sink;
    return pack::StreamEntry(source, f.dataOffset, {f.method, f.originalSize, f.packedSize}, sink,
                             fault);
}

// "; 2 files cannot be read (see above)" for a summary, "" for none.
std::string Unreadable(std::uint64_t files) {
    if (files == 0)
        return "";
    return "; " + Counted(files, "file") + " cannot be read (see above)";
}

class Lister {
  public:
    Lister(const Options& options, const DirectoryTree& tree) : o_(options), tree_(tree) {}

    void Header() {
        if (o_.longList && !o_.json && !o_.nullSeparated)
            Line("    Original       Packed  Ratio  Method  Name");
    }

    // With --salvage, only files that are whole and decode are listed; each
    // other one is named with the reason.
    void Salvage(pack::ByteSource& source, const std::string& packName) {
        source_ = &source;
        packName_ = packName;
    }
    std::uint64_t unreadable = 0;

    void File(Folder folder, std::size_t i, const std::string& path) {
        const std::size_t index = tree_.FileIndex(folder, i);
        const pack::DirectoryFile& f = tree_.Dir().files[index];
        if (source_) {
            pack::Fault fault;
            if (f.cut)
                fault = CutFault(tree_.Dir(), index);
            if (f.cut || !Decodes(*source_, f, fault)) {
                ++unreadable;
                Error(packName_ + ": cannot read " + path + ": " + fault.Text());
                return;
            }
        }
        ++files_;
        original_ += f.originalSize;
        packed_ += f.packedSize;
        Row(path, false, f.originalSize, f.packedSize, MethodName(f.method));
    }

    // The folder's own row (not for the root), then everything inside it.
    void Folder_(Folder folder, const std::string& path) {
        if (!path.empty()) {
            ++folders_;
            Row(path, true, tree_.TotalOriginal(folder), tree_.TotalPacked(folder), nullptr);
        }
        const std::string prefix = path.empty() ? path : path + "/";
        for (std::size_t i = 0; i < tree_.FileCount(folder); ++i)
            File(folder, i, prefix + std::string(tree_.FileName(folder, i)));
        for (std::size_t i = 0; i < tree_.SubfolderCount(folder); ++i)
            Folder_(tree_.Subfolder(folder, i),
                    prefix + std::string(tree_.SubfolderName(folder, i)));
    }

    // The long listing's last row, on standard output.
    void TotalsRow() {
        if (!LongRows())
            return;
        char row[96];
        std::snprintf(row, sizeof row, "%12" PRIu64 " %12" PRIu64 " %5" PRId64 "%%          ",
                      original_, packed_, Ratio(original_, packed_));
        Line(row + Counts());
    }

    // The summary on standard error, after the listing has left standard
    // output, so that both in one pipe come in order.
    void Summary(const std::string& packName) {
        if (LongRows())
            return;
        Say("listed " + Counts() + " of " + packName + ", " + Size(original_) + " (" +
                Size(packed_) + " packed)" + Unreadable(unreadable),
            o_.quiet);
    }

  private:
    bool LongRows() const { return o_.longList && !o_.json && !o_.nullSeparated; }
    std::string Counts() const {
        return Counted(files_, "file") + " and " + Counted(folders_, "folder");
    }

    void Line(const std::string& text) {
        const std::string line = ForStdout(text) + "\n";
        std::fputs(line.c_str(), stdout);
    }

    void Row(const std::string& path, bool folder, std::uint64_t original, std::uint64_t packed,
             const char* method) {
        if (o_.json) {
            std::string line = "{\"path\":";
            if (IsUtf8(path))
                line += JsonString(path);
            else
                line += JsonString(Base64(path)) + ",\"pathEncoding\":\"base64\"";
            line += std::string(",\"type\":") + (folder ? "\"folder\"" : "\"file\"");
            line += ",\"originalSize\":" + std::to_string(original);
            line += ",\"packedSize\":" + std::to_string(packed);
            line += std::string(",\"method\":") +
                    (method ? JsonString(method) : std::string("null")) + "}\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
            return;
        }
        const std::string name = folder ? path + "/" : path;
        if (o_.nullSeparated) {
            std::fwrite(name.c_str(), 1, name.size() + 1, stdout);  // with its NUL
            return;
        }
        if (!o_.longList) {
            Line(name);
            return;
        }
        char row[96];
        std::snprintf(row, sizeof row, "%12" PRIu64 " %12" PRIu64 " %5" PRId64 "%%  %-7s ",
                      original, packed, Ratio(original, packed), folder ? "folder" : method);
        Line(row + name);
    }

    const Options& o_;
    const DirectoryTree& tree_;
    pack::ByteSource* source_ = nullptr;
    std::string packName_;
    std::uint64_t files_ = 0, folders_ = 0, original_ = 0, packed_ = 0;
};

// Resolves the names given after the pack (none: the whole pack, as its
// root folder); prints a line for each that names nothing. Returns
// kExitUsage for a name no pack can hold.
int Select(const Options& options, const NameTree& tree, const std::string& packName, bool takeBoth,
           std::vector<NameMatch>& selected, int& failures) {
    if (options.args.size() == 1)
        selected.push_back(NameMatch{true, tree.Root(), 0, ""});
    for (std::size_t a = 1; a < options.args.size(); ++a) {
        const std::string& name = options.args[a];
        const Resolution r = Resolve(tree, name, {options.fileOnly, takeBoth});
        for (const std::string& path : r.ambiguous) {
            ++failures;
            Error(packName + ": " + AmbiguityHint(path) + "; it was left alone");
        }
        switch (r.status) {
            case Resolution::Status::Invalid:
                Error(name + ": not a valid name inside a PackFile");
                return kExitUsage;
            case Resolution::Status::NotFound:
                ++failures;
                if (r.pattern)
                    Error(packName + ": nothing matches " + name);
                else if (options.fileOnly)
                    Error(packName + ": no file named " + name);
                else if (!name.empty() && (name.back() == '/' || name.back() == '\\'))
                    Error(packName + ": no folder named " + name);
                else
                    Error(packName + ": no file or folder named " + name);
                break;
            case Resolution::Status::Ambiguous:
            case Resolution::Status::Found:
                selected.insert(selected.end(), r.matches.begin(), r.matches.end());
                break;
        }
    }
    return kExitOk;
}

// ---- extract --------------------------------------------------------------------

// A file to write and where.
struct ExtractJob {
    std::size_t file;  // index in Directory::files
    std::string packPath;
    std::vector<std::string> folder;  // its disk folder below the output folder
    std::string name;                 // its own name there
    std::string target;               // the whole path, for messages
    bool replace;                     // an existing file is replaced
};

struct ExtractResult {
    bool ok = true;
    std::string reason;
};

ExtractResult Failed(std::string reason) {
    ExtractResult result;
    result.ok = false;
    result.reason = std::move(reason);
    return result;
}

std::string JoinComponents(const std::vector<std::string>& components, std::size_t count) {
    std::string out;
    for (std::size_t k = 0; k < count; ++k) {
        if (k > 0)
            out += '/';
        out += components[k];
    }
    return out;
}

// The stored names of `folder` and the folders above it, from the root down
// (none for the root).
std::vector<std::string_view> StoredNames(const pack::Directory& directory, std::uint32_t folder) {
    std::vector<std::string_view> names;
    for (std::uint32_t f = folder; f != 0 && f != pack::kNoFolder; f = directory.folders[f].parent)
        names.push_back(directory.FolderName(f));
    return {names.rbegin(), names.rend()};
}

// Settles, before anything is written, where every file goes: the names
// inside the pack become disk paths by the one rule (pack::ToDiskPath, so a
// converted pack's "maps\x.map" goes to maps/x.map), folders are made below
// the output folder through its descriptor (fs::BeneathFolder), and names
// that cannot be written there are named with the reason and left out.
class ExtractPlan {
  public:
    // `out` is the output folder open for writing below it (in a dry run it
    // may not exist yet: then not open), `outPath` its path for messages.
    ExtractPlan(const Options& options, const DirectoryTree& tree, const std::string& packName,
                const fs::BeneathFolder& out, std::string outPath)
        : options_(options),
          tree_(tree),
          decider_(options),
          packName_(packName),
          out_(out),
          outPath_(std::move(outPath)) {}

    // The folder's whole subtree; `names` holds the stored names from the
    // root down to it, `path` its path inside the pack.
    void AddFolder(Folder folder, std::vector<std::string_view>& names, const std::string& path) {
        pack::DiskPath disk;
        if (!names.empty() && !Place(names, path + "/", disk))
            return;
        // A folder whose whole path is stripped is the output folder itself.
        Strip(disk.components);
        if (!MakeDirectory(disk.components, path + "/"))
            return;
        const std::string prefix = path.empty() ? path : path + "/";
        for (std::size_t i = 0; i < tree_.FileCount(folder); ++i) {
            names.push_back(tree_.FileName(folder, i));
            AddFile(folder, i, names, prefix + std::string(names.back()));
            names.pop_back();
        }
        for (std::size_t i = 0; i < tree_.SubfolderCount(folder); ++i) {
            names.push_back(tree_.SubfolderName(folder, i));
            AddFolder(tree_.Subfolder(folder, i), names, prefix + std::string(names.back()));
            names.pop_back();
        }
    }

    // File `i` of `folder`; `names` ends with its own stored name.
    void AddFile(Folder folder, std::size_t i, const std::vector<std::string_view>& names,
                 const std::string& packPath) {
        pack::DiskPath disk;
        if (!Place(names, packPath, disk))
            return;
        if (!Strip(disk.components)) {
            ++strippedAway;
            if (options_.verbose)
                Error("left out " + packPath + ": --strip-components takes its whole path");
            return;
        }
        std::vector<std::string>& components = disk.components;
        const std::string name = components.back();
        components.pop_back();
        if (!MakeDirectory(components, packPath))
            return;
        components.push_back(name);
        const std::string key = JoinComponents(components, components.size());
        const std::string target = PathOf(components);
        components.pop_back();
        if (const auto [it, inserted] = files_.emplace(key, packPath); !inserted) {
            Fail(it->second == packPath || pack::SameNameIgnoringCase(it->second, packPath)
                     ? packPath + " appears twice in the pack; only the first " + Was() +
                           " extracted"
                     : NotDone() + " extract " + packPath + ": " + it->second + " " + Was() +
                           " extracted as " + target + " already");
            return;
        }
        const std::size_t index = tree_.FileIndex(folder, i);
        bool replace = false;
        const int dir = FolderOf(components);
        struct stat st;
        if (dir >= 0 && fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            // Only a regular file, or a link to one, is ever replaced; the
            // link itself is replaced, so nothing is written outside the
            // output folder.
            struct stat followed;
            const bool regular =
                S_ISREG(st.st_mode) ||
                (S_ISLNK(st.st_mode) && fstatat(dir, name.c_str(), &followed, 0) == 0 &&
                 S_ISREG(followed.st_mode));
            if (!regular) {
                Fail("cannot extract " + packPath + ": " + target + " is " +
                     (S_ISDIR(st.st_mode)   ? "a folder"
                      : S_ISLNK(st.st_mode) ? "a link to something other than a regular file"
                                            : "not a regular file") +
                     ", and only regular files are replaced");
                return;
            }
            switch (decider_.Decide("Replace the existing file " + target + "?")) {
                case ReplaceDecider::Answer::Replace:
                    replace = true;
                    break;
                case ReplaceDecider::Answer::Keep:
                    if (options_.verbose)
                        Error("kept the existing " + target);
                    return;
                case ReplaceDecider::Answer::KeepUnasked:
                    Fail(NotDone() + " extract " + packPath + ": " + target +
                         " exists already (--overwrite replaces it, --keep keeps it without "
                         "this message)");
                    return;
            }
        }
        jobs.push_back(ExtractJob{index, packPath, std::move(components), name, target, replace});
        totalBytes += tree_.Dir().files[index].originalSize;
    }

    std::vector<ExtractJob> jobs;
    std::uint64_t totalBytes = 0;
    int failures = 0;
    std::uint64_t strippedAway = 0;  // files --strip-components left no name

  private:
    void Fail(const std::string& text) {
        ++failures;
        Error(packName_ + ": " + text);
    }

    // Drops the leading folders --strip-components names; false when
    // nothing is left.
    bool Strip(std::vector<std::string>& components) const {
        const std::size_t n = std::min<std::size_t>(options_.stripComponents, components.size());
        components.erase(components.begin(), components.begin() + static_cast<std::ptrdiff_t>(n));
        return !components.empty();
    }

    // A dry run tells what it would not do.
    std::string NotDone() const { return options_.dryRun ? "would not" : "did not"; }
    std::string Was() const { return options_.dryRun ? "would be" : "was"; }

    std::string PathOf(std::span<const std::string> components) const {
        std::string path = outPath_;
        for (const std::string& c : components)
            path = fs::JoinPath(path, c);
        return path;
    }

    // The disk path of `names`, or false after naming why there is none.
    bool Place(const std::vector<std::string_view>& names, const std::string& packPath,
               pack::DiskPath& disk) {
        const std::string why = pack::ToDiskPath(names, disk);
        if (!why.empty()) {
            Fail("cannot extract " + packPath + ": its name cannot be written to disk (" + why +
                 ")");
            return false;
        }
        if (disk.droppedLeading && !saidLeading_) {
            saidLeading_ = true;
            Say("vpf: " + packName_ +
                    ": names are extracted without the separators they begin with, as in " +
                    packPath,
                options_.quiet);
        }
        return true;
    }

    // Makes the folder at `components` below the output folder (only checks
    // it in a dry run): an existing folder is used, anything else in the
    // way (a file, a link) is refused, and so is a folder where a file of
    // this extraction goes.
    bool MakeDirectory(const std::vector<std::string>& components, const std::string& packPath) {
        const std::string key = JoinComponents(components, components.size());
        if (made_.count(key))
            return true;
        for (std::size_t k = 1; k <= components.size(); ++k) {
            const auto file = files_.find(JoinComponents(components, k));
            if (file != files_.end()) {
                const std::string where = PathOf({components.data(), k});
                if (!packPath.empty() && packPath.back() == '/')
                    Fail("cannot extract the folder " + packPath + ": the file " + file->second +
                         " of the same name " + Was() + " extracted as " + where +
                         "; extract the folder on its own into another folder (-C DIR '" +
                         packPath + "')");
                else
                    Fail("cannot extract " + packPath + ": the file " + file->second + " " + Was() +
                         " extracted as " + where +
                         ", where its folder would go; extract it on its own into another "
                         "folder (-C DIR '" +
                         packPath + "')");
                return false;
            }
        }
        pack::Fault fault;
        bool missing = false;
        fs::Descriptor folder;
        if (out_.IsOpen())
            folder = out_.OpenFolder(components,
                                     options_.dryRun ? fs::MakeFolders::No : fs::MakeFolders::Yes,
                                     0777, fault, &missing);
        if (!folder.IsOpen() && !(options_.dryRun && (missing || !out_.IsOpen()))) {
            Fail("cannot extract " + (packPath == "/" ? std::string("the folder") : packPath) +
                 ": " + fault.reason);
            return false;
        }
        made_.insert(key);
        cachedKey_ = key;
        cached_ = std::move(folder);
        return true;
    }

    // The descriptor of a folder MakeDirectory has made (-1 in a dry run
    // where it does not exist yet).
    int FolderOf(const std::vector<std::string>& components) {
        const std::string key = JoinComponents(components, components.size());
        if (cachedKey_ != key && out_.IsOpen()) {
            pack::Fault fault;
            cached_ = out_.OpenFolder(components, fs::MakeFolders::No, 0, fault);
            cachedKey_ = key;
        }
        return cached_.Get();
    }

    const Options& options_;
    const DirectoryTree& tree_;
    ReplaceDecider decider_;
    std::string packName_;
    const fs::BeneathFolder& out_;
    std::string outPath_;
    std::unordered_map<std::string, std::string> files_;  // disk path -> pack path
    std::unordered_set<std::string> made_;
    std::optional<std::string> cachedKey_;  // the folder `cached_` is, when set
    fs::Descriptor cached_;
    bool saidLeading_ = false;
};

// The files --strip-components left out, for the summary: asked for, so no
// failure, but said.
std::string StrippedAway(std::uint64_t files) {
    if (files == 0)
        return "";
    return "; " + Counted(files, "file") + " with no more than that many folders above " +
           (files == 1 ? "it was" : "them were") + " left out (--strip-components)";
}

// Makes the output folder and its parents (checks them in a dry run).
bool PrepareOutputDirectory(const std::string& dir, bool dryRun) {
    std::string path;
    std::size_t at = 0;
    while (at != std::string::npos) {
        const std::size_t slash = dir.find('/', at + 1);
        path = dir.substr(0, slash);
        at = slash;
        if (path.empty() || path == "/")
            continue;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 || dryRun)
            continue;
        if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
            Error(dir + ": " + pack::ErrnoText(errno));
            return false;
        }
    }
    if (!dryRun && !fs::IsDirectory(dir)) {
        Error(dir + ": not a folder");
        return false;
    }
    return true;
}

// Writes one entry through a hidden sibling in its folder, reached below
// the output folder through descriptors, that becomes the target only when
// it is complete: the one entry decoder streams the original bytes into it,
// and a failure (or an interrupt) leaves the target as it was.
ExtractResult WriteJob(const pack::Directory& directory, int fd, std::uint64_t size,
                       const fs::BeneathFolder& out, const ExtractJob& job) {
    const pack::DirectoryFile& f = directory.files[job.file];
    const pack::EntryClaim claim{f.method, f.originalSize, f.packedSize};
    pack::Fault fault;
    // Bytes that are not there, or a claim that cannot be right, create
    // nothing at all.
    if (f.cut)
        return Failed(CutFault(directory, job.file).Text());
    if (!pack::CheckEntryClaim(claim, fault))
        return Failed(fault.reason);
    const fs::Descriptor folder = out.OpenFolder(job.folder, fs::MakeFolders::No, 0, fault);
    if (!folder.IsOpen())
        return Failed(fault.reason);
    fs::AtomicFileOptions options = crateforge::ExtractOptions();
    options.replace = job.replace;  // a file that appeared meanwhile is kept
    fs::AtomicFile file;
    if (!interrupt::BeginCreating())
        return Failed("interrupted");
    const bool began = file.BeginAt(folder.Get(), job.name, job.target, options, fault);
    interrupt::EndCreating();
    if (!began)
        return Failed(fault.reason);
    pack::DescriptorSource stored(fd, size);
    crateforge::AtomicFileSink sink(file);
    if (!pack::StreamEntry(stored, f.dataOffset, claim, sink, fault))
        return Failed(fault.Text());
    // Put in place and counted as one step: an interrupt's summary counts
    // exactly the files that are whole on disk, whatever the threads do.
    if (!interrupt::BeginCreating())
        return Failed("interrupted");
    const bool committed = file.Commit(fault);
    if (committed)
        interrupt::CountDone();
    interrupt::EndCreating();
    if (!committed)
        return Failed(fault.Text());
    return ExtractResult{};
}

}  // namespace

int RunList(const Options& options) {
    PackInput in;
    if (const int rc = OpenPackToRead(options.args[0], in, options.salvage); rc != kExitOk)
        return rc;
    const DirectoryTree tree(in.directory);
    int failures = 0;
    for (const pack::Fault& lost : LostRecords(in.directory)) {
        ++failures;
        ReportOpenFault(in.name, lost);
    }
    std::vector<NameMatch> selected;
    if (const int rc = Select(options, tree, in.name, true, selected, failures); rc != kExitOk)
        return rc;
    Lister lister(options, tree);
    if (options.salvage)
        lister.Salvage(in.source, in.name);
    lister.Header();
    for (const NameMatch& m : WithoutNested(std::move(selected))) {
        if (m.isFolder)
            lister.Folder_(m.folder, m.path);
        else
            lister.File(m.folder, m.file, m.path);
    }
    lister.TotalsRow();
    if (!FlushStdout())
        return kExitFailure;
    lister.Summary(in.name);
    return failures > 0 || lister.unreadable > 0 ? kExitFailure : kExitOk;
}

int RunExtract(const Options& options) {
    const auto start = std::chrono::steady_clock::now();
    std::string out = options.haveOutputDir ? options.outputDir : std::string(".");
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    if (out.empty()) {
        Error("-C: an empty folder name");
        return kExitUsage;
    }
    PackInput in;
    if (const int rc = OpenPackToRead(options.args[0], in, options.salvage); rc != kExitOk)
        return rc;
    const DirectoryTree tree(in.directory);

    // What to extract, resolved before anything is written.
    int failures = 0;
    for (const pack::Fault& lost : LostRecords(in.directory)) {
        ++failures;
        ReportOpenFault(in.name, lost);
    }
    std::vector<NameMatch> selected;
    if (const int rc = Select(options, tree, in.name, false, selected, failures); rc != kExitOk)
        return rc;
    selected = WithoutNested(std::move(selected));
    if (selected.empty())
        return kExitFailure;
    if (!PrepareOutputDirectory(out, options.dryRun))
        return kExitFailure;
    fs::BeneathFolder outFolder;
    pack::Fault outFault;
    if (!outFolder.Open(out, outFault) && !(options.dryRun && !fs::PathExists(out))) {
        Error(outFault.reason);
        return kExitFailure;
    }

    ExtractPlan plan(options, tree, in.name, outFolder, out);
    for (const NameMatch& m : selected) {
        std::vector<std::string_view> names =
            StoredNames(in.directory, static_cast<std::uint32_t>(m.folder));
        if (m.isFolder) {
            plan.AddFolder(m.folder, names, m.path);
            continue;
        }
        names.push_back(tree.FileName(m.folder, m.file));
        plan.AddFile(m.folder, m.file, names, m.path);
    }
    failures += plan.failures;

    if (options.dryRun) {
        for (const ExtractJob& job : plan.jobs)
            std::printf("%s\n", ForStdout((job.replace ? "would replace " : "would extract ") +
                                          job.packPath + " -> " + job.target)
                                    .c_str());
        if (!FlushStdout())
            return kExitFailure;
        Say("would extract " + Counted(plan.jobs.size(), "file") + ", " + Size(plan.totalBytes) +
                ", into " + out + StrippedAway(plan.strippedAway) + "; nothing was written",
            options.quiet);
        return failures > 0 ? kExitFailure : kExitOk;
    }

    interrupt::DescribeWork("extracted", plan.jobs.size(), "file", "into " + out);
    ProgressMeter meter(options, plan.totalBytes);
    std::size_t written = 0;
    std::uint64_t bytes = 0;
    const int fd = in.source.Descriptor();
    const std::uint64_t size = in.source.Size();
    RunOrdered<ExtractResult>(
        plan.jobs.size(), PoolFor(options),
        [&](std::size_t i) { return in.directory.files[plan.jobs[i].file].originalSize; },
        [&](std::size_t i) { return WriteJob(in.directory, fd, size, outFolder, plan.jobs[i]); },
        [&](std::size_t i, ExtractResult&& result) {
            const std::uint32_t length = in.directory.files[plan.jobs[i].file].originalSize;
            meter.Advance(length);
            if (!result.ok) {
                ++failures;
                Error(in.name + ": cannot extract " + plan.jobs[i].packPath + " to " +
                      plan.jobs[i].target + ": " + result.reason);
                return true;
            }
            ++written;
            bytes += length;
            if (options.verbose)
                Error("extracted " + plan.jobs[i].target);
            return true;
        });
    meter.Finish();
    std::string summary = "extracted " + Counted(written, "file") + ", " + Size(bytes) + ", into " +
                          out + " in " + Seconds(SecondsSince(start)) +
                          StrippedAway(plan.strippedAway);
    if (failures > 0)
        summary += "; " + Count(static_cast<std::uint64_t>(failures)) +
                   (failures == 1 ? " name was" : " names were") + " not extracted (see above)";
    Say(summary, options.quiet);
    return failures > 0 ? kExitFailure : kExitOk;
}

int RunCat(const Options& options) {
    const auto start = std::chrono::steady_clock::now();
    PackInput in;
    if (const int rc = OpenPackToRead(options.args[0], in, options.salvage); rc != kExitOk)
        return rc;
    const DirectoryTree tree(in.directory);
    int failures = 0;
    std::uint64_t files = 0, bytes = 0;
    for (std::size_t a = 1; a < options.args.size(); ++a) {
        const std::string& name = options.args[a];
        // cat writes files: a folder of the same name is no rival.
        const Resolution r = Resolve(tree, name, {true, false});
        if (r.status == Resolution::Status::Invalid) {
            Error(name + ": not a valid name inside a PackFile");
            return kExitUsage;
        }
        if (r.status != Resolution::Status::Found) {
            ++failures;
            const Resolution folder = Resolve(tree, name, {false, true});
            Error(in.name + ": " +
                  (folder.status == Resolution::Status::Found
                       ? name + " is a folder; cat writes files (vpf extract writes folders)"
                       : (r.pattern ? "no file matches " : "no file named ") + name));
            continue;
        }
        for (const NameMatch& m : r.matches) {
            const std::size_t index = tree.FileIndex(m.folder, m.file);
            const pack::DirectoryFile& f = in.directory.files[index];
            if (f.cut) {
                ++failures;
                Error(in.name + ": cannot read " + m.path + ": " +
                      CutFault(in.directory, index).Text());
                continue;
            }
            StdoutSink sink;
            pack::Fault fault;
            if (!pack::StreamEntry(in.source, f.dataOffset,
                                   {f.method, f.originalSize, f.packedSize}, sink, fault)) {
                ++failures;
                if (fault.kind == pack::FaultKind::Interrupted) {
                    Error(fault.reason);
                    return kExitFailure;  // standard output is gone: nothing more can go there
                }
                Error(in.name + ": cannot read " + m.path + ": " + fault.Text() +
                      (bytes > 0 || files > 0 ? "; what was written before it is whole" : ""));
                continue;
            }
            ++files;
            bytes += f.originalSize;
        }
    }
    if (!FlushStdout())
        return kExitFailure;
    Say("wrote " + Counted(files, "file") + ", " + Size(bytes) + ", to standard output in " +
            Seconds(SecondsSince(start)),
        options.quiet);
    return failures > 0 ? kExitFailure : kExitOk;
}

int RunCheck(const Options& options) {
    const std::string name = PackDisplayName(options.args[0]);
    auto say = [&](const pack::Fault& f) {
        if (f.kind == pack::FaultKind::Damaged && f.HasOffset())
            Error(name + ": damaged at offset " + std::to_string(f.offset) + ": " + f.reason);
        else if (f.kind == pack::FaultKind::Damaged || f.kind == pack::FaultKind::NotAPack)
            Error(name + ": " + f.reason);
        else
            Error(name + ": cannot check: " + f.Text());
    };
    // The first fault of the pack's structure, told as damage only when it
    // is the pack's.
    auto report = [&](const pack::Fault& f) {
        say(f);
        return kExitFailure;
    };
    pack::FileSource source;
    pack::Directory directory;
    pack::Fault fault;
    bool terminal = false;
    if (!OpenPackSource(options.args[0], source, fault, &terminal)) {
        if (fault.kind == pack::FaultKind::Damaged || fault.kind == pack::FaultKind::TempFolder)
            return report(fault);
        Error(name + ": " + fault.reason);
        return terminal ? kExitUsage : kExitFailure;
    }
    // A pack cut after a whole directory: every file is checked, and each
    // one that is cut or does not decode is named. Otherwise the strict
    // rules of the layout come first.
    if (!pack::ReadDirectory(source, pack::PackVersion::None, directory, fault,
                             pack::CutData::Keep))
        return report(fault);
    std::uint64_t cut = directory.cutRecordSlots.size();
    for (const auto& f : directory.files)
        cut += f.cut ? 1 : 0;
    if (cut == 0 && !crateforge::CheckPackStructure(source, directory, fault))
        return report(fault);

    const auto& files = directory.files;
    std::uint64_t total = 0;
    for (const auto& f : files)
        total += f.cut ? 0 : f.originalSize;
    for (const pack::Fault& lost : LostRecords(directory))
        say(lost);
    interrupt::DescribeWork("checked", files.size(), "file", "");
    ProgressMeter meter(options, total);
    struct Checked {
        bool ok = true;
        pack::Fault fault;
    };
    std::uint64_t bad = directory.cutRecordSlots.size();
    RunOrdered<Checked>(
        files.size(), PoolFor(options),
        [&](std::size_t i) {
            return files[i].cut ? 0 : std::uint64_t{files[i].originalSize} + files[i].packedSize;
        },
        [&](std::size_t i) {
            Checked r;
            if (files[i].cut) {
                r.ok = false;
                r.fault = CutFault(directory, i);
                r.fault.reason = directory.FullName(i, '/') + ": " + r.fault.reason;
                return r;
            }
            // Each worker reads through its own source over the one descriptor.
            pack::DescriptorSource own(source.Descriptor(), source.Size());
            r.ok = crateforge::CheckEntryData(own, directory, i, r.fault);
            return r;
        },
        [&](std::size_t i, Checked&& r) {
            meter.Advance(files[i].cut ? 0 : files[i].originalSize);
            interrupt::CountDone();
            if (!r.ok) {
                ++bad;
                say(r.fault);  // every file that cannot be read, in pack order
            }
            return true;
        });
    meter.Finish();
    if (bad > 0) {
        const std::uint64_t all = files.size() + directory.cutRecordSlots.size();
        Error(name + ": " + Count(bad) + " of " + Counted(all, "file") +
              " cannot be read; the other " + Count(all - bad) + (all - bad == 1 ? " is" : " are") +
              " whole (vpf extract --salvage writes them)");
        return kExitFailure;
    }
    if (!options.quiet) {
        const std::string line = name + ": OK, version " +
                                 std::string(pack::VersionText(directory.version)) + ", " +
                                 Counted(files.size(), "file") + " in " +
                                 Counted(directory.folders.size() - 1, "folder") + ", " +
                                 Counted(directory.fileSize, "byte") + "\n";
        std::fputs(ForStdout(line.substr(0, line.size() - 1)).append("\n").c_str(), stdout);
        if (!FlushStdout())
            return kExitFailure;
    }
    return kExitOk;
}

}  // namespace vpf
