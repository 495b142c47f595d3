// PackArchive.cpp - the open pack document: load, convert, save, content,
// listing and temporary extraction.
#include "archive/PackArchive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "archive/EntryCoding.h"
#include "archive/EntryData.h"
#include "archive/TempWorkspace.h"
#include "format/ByteSource.h"
#include "format/EntryDecoder.h"
#include "format/Names.h"
#include "format/PackDirectory.h"
#include "format/PackFormat.h"
#include "platform/FileSystem.h"

namespace crateforge {

namespace {

constexpr std::size_t kWriteBufferSize = 1 << 20;

std::string_view StripOneTrailingSlash(std::string_view path) {
    if (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

// "name (k).ext": used to keep converted names unique ignoring case.
std::string SuffixBeforeExtension(std::string_view name, int k) {
    const std::string suffix = " (" + std::to_string(k) + ")";
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::string(name) + suffix;
    return std::string(name.substr(0, dot)) + suffix + std::string(name.substr(dot));
}

std::string UnsignedText(std::uint32_t value) {
    return std::to_string(value);
}

std::string RatioText(std::int64_t ratio) {
    return std::to_string(ratio) + "%";
}

}  // namespace

// ---- Checked file access ------------------------------------------------------

// Buffered writes that remember the first failure.
class PackFileWriter {
  public:
    explicit PackFileWriter(std::FILE* file) : file_(file) {
        buffer_.reset(new (std::nothrow) char[kWriteBufferSize]);
        if (buffer_)
            std::setvbuf(file_, buffer_.get(), _IOFBF, kWriteBufferSize);
    }
    bool Write(const void* data, std::size_t length) {
        if (failed_)
            return false;
        if (length > 0 && std::fwrite(data, 1, length, file_) != length)
            return Fail(errno != 0 ? errno : EIO);
        return true;
    }
    template <class Record>
    bool WriteRecord(const Record& record) {
        std::uint8_t bytes[sizeof(Record)];
        if (!pack::Write(std::span<std::uint8_t>(bytes, sizeof bytes), 0, record))
            return Fail(EINVAL);
        return Write(bytes, sizeof bytes);
    }
    bool Fail(int error) {
        if (!failed_)
            error_ = error;
        failed_ = true;
        return false;
    }
    bool Failed() const { return failed_; }
    int Error() const { return error_; }
    std::FILE* File() const { return file_; }

  private:
    std::FILE* file_;
    std::unique_ptr<char[]> buffer_;
    bool failed_ = false;
    int error_ = 0;
};

// ---- Construction ---------------------------------------------------------------

CPackArchive::CPackArchive(MessageService* owner, ListControl* list, ProgressControl* progress,
                           IconProvider* icons)
    : ownerWindow_(owner), listControl_(list), progressControl_(progress), icons_(icons) {
    BindProgressControl(progress);
}

CPackArchive::~CPackArchive() {
    // Leave a binding made by another document alone.
    if (BoundProgressControl() == progressControl_)
        BindProgressControl(nullptr);
    ownerWindow_ = nullptr;
    listControl_ = nullptr;
    progressControl_ = nullptr;
    root_.reset();
}

void CPackArchive::SetProgressControl(ProgressControl* bar) {
    progressControl_ = bar;
    BindProgressControl(bar);
}

void CPackArchive::Message(const std::string& text) {
    lastError_ = text;
    if (ownerWindow_)
        ownerWindow_->ShowMessage(kAppCaption, text, MessageButtons::Ok);
}

int CPackArchive::Fail(const std::string& text) {
    Message(text);
    return 0;
}

// ---- Document -------------------------------------------------------------------

int CPackArchive::CreateNew(const std::string& path) {
    root_ = std::make_unique<CPackFolder>(nullptr);
    current_ = root_.get();
    path_ = path;
    fileCount_ = 0;
    onDisk_ = false;
    return 1;
}

namespace {

// The version whose whole header `file` begins with; None when it cannot be
// opened, names no known version or is shorter than that version's header.
pack::PackVersion VersionOf(const std::string& file) {
    pack::FileSource source;
    pack::Fault fault;
    std::uint8_t tag[pack::kVersionTagBytes];
    if (!source.Open(file, fault) || !source.ReadAt(0, tag, sizeof tag))
        return pack::PackVersion::None;
    const pack::PackVersion version = pack::DetectVersion(tag);
    const std::size_t header =
        version == pack::PackVersion::Old ? pack::kOldPackHeaderSize : pack::kPackHeaderSize;
    return source.Size() >= header ? version : pack::PackVersion::None;
}

}  // namespace

bool CPackArchive::IsCurrentPack(const std::string& file) {
    return VersionOf(file) == pack::PackVersion::Current;
}

bool CPackArchive::IsOldPack(const std::string& file) {
    return VersionOf(file) == pack::PackVersion::Old;
}

int CPackArchive::Open(const std::string& file) {
    root_.reset();
    current_ = nullptr;
    path_.clear();
    fileCount_ = 0;
    onDisk_ = false;

    const pack::PackVersion version = VersionOf(file);
    if (version == pack::PackVersion::None)
        return 0;
    if (version == pack::PackVersion::Current) {
        path_ = file;
        if (!Load()) {
            path_.clear();
            return Fail("Unable to open the PackFile " + file + ": " + lastError_ + ".");
        }
        return 1;
    }
    if (!ownerWindow_ || ownerWindow_->ShowMessage(kWarningCaption, kOldPackQuestion,
                                                   MessageButtons::YesNo) != MessageAnswer::Yes)
        return 0;
    path_ = file;
    if (!ConvertOldPack()) {
        path_.clear();
        return 0;
    }
    path_ = pack::ConvertedPackPath(file);
    onDisk_ = false;
    if (!Save()) {
        root_.reset();
        current_ = nullptr;
        path_.clear();
        fileCount_ = 0;
        if (listControl_)
            listControl_->DeleteAllRows();
        return 0;
    }
    return 1;
}

int CPackArchive::Load() {
    pack::FileSource source;
    pack::Directory directory;
    pack::Fault fault;
    if (!source.Open(path_, fault) ||
        !pack::ReadDirectory(source, pack::PackVersion::Current, directory, fault)) {
        lastError_ = fault.Text();
        return 0;
    }
    // The walker has checked the structure; the tree is built in its order
    // (folders in pre-order, so a parent always comes before its children)
    // and the stored bytes are read in the order they lie in the file, so
    // the source's read-ahead window serves runs of small entries at once.
    auto tree = std::make_unique<CPackFolder>(nullptr);
    std::vector<CPackFolder*> folders(directory.folders.size(), nullptr);
    folders[0] = tree.get();
    tree->subtreeSize = directory.folders[0].subtreeSize;
    for (std::size_t i = 1; i < directory.folders.size(); ++i) {
        const pack::PackDirectory& d = directory.folders[i];
        CPackFolder* parent = folders[d.parent];
        CPackFolder* folder = parent->AppendSubfolder(directory.FolderName(i));
        parent->subfolderNames.back()->blockOffset = d.recordedBlockOffset;
        folder->subtreeSize = d.subtreeSize;
        folders[i] = folder;
    }
    for (std::size_t i = 0; i < directory.files.size(); ++i) {
        const pack::DirectoryFile& f = directory.files[i];
        auto entry = std::make_unique<PackEntry>();
        entry->SetName(directory.FileName(i));
        entry->dataOffset = static_cast<std::uint32_t>(f.blockOffset);
        entry->originalSize = f.originalSize;
        entry->packedSize = f.packedSize;
        entry->method = f.method;
        if (f.packedSize > 0) {
            entry->data.reset(new (std::nothrow) unsigned char[f.packedSize]);
            if (!entry->data) {
                lastError_ = fs::ErrnoText(ENOMEM);
                return 0;
            }
            if (!source.ReadAt(f.dataOffset, entry->data.get(), f.packedSize)) {
                lastError_ = "the stored bytes at offset " + std::to_string(f.dataOffset) +
                             " cannot be read: " + fs::ErrnoText(errno);
                return 0;
            }
        }
        folders[f.folder]->AppendFile(std::move(entry));
    }
    root_ = std::move(tree);
    current_ = root_.get();
    fileCount_ = directory.headerFileCount;
    onDisk_ = true;
    RefreshList();
    return 1;
}

int CPackArchive::ConvertOldPack() {
    const std::string packPath = path_;
    auto refuse = [&](const std::string& why) {
        return Fail("Unable to convert the PackFile " + packPath + ": " + why +
                    ". Nothing was written.");
    };
    pack::FileSource source;
    pack::Directory directory;
    pack::Fault fault;
    if (!source.Open(packPath, fault) ||
        !pack::ReadDirectory(source, pack::PackVersion::Old, directory, fault))
        return refuse(fault.Text());

    auto tree = std::make_unique<CPackFolder>(nullptr);
    // The converted pack must stay below 4 GiB like any other; its size is
    // known entry by entry, so an old pack that cannot fit stops early.
    std::uint64_t packSize = pack::kEmptyPackSize;
    // Names taken so far (folded) and the next suffix to try per name, so
    // that many equal names cost no more than distinct ones.
    std::unordered_set<std::string> taken;
    std::unordered_map<std::string, int> nextSuffix;
    for (std::size_t i = 0; i < directory.files.size(); ++i) {
        const pack::DirectoryFile& f = directory.files[i];
        const std::string_view name = directory.FileName(i);
        pack::DecodedBytes content;
        if (!pack::LoadEntry(source, f.dataOffset, {f.method, f.originalSize, f.packedSize},
                             content, fault))
            return refuse("the file " + std::string(name) + ": " + fault.Text());

        auto entry = std::make_unique<PackEntry>();
        // Names equal but for case would hide each other from commands that
        // work by name: the later ones get " (2)", " (3)", ...
        std::string unique(name);
        if (taken.count(pack::FoldedName(name))) {
            int& k = nextSuffix.try_emplace(pack::FoldedName(name), 2).first->second;
            do
                unique = SuffixBeforeExtension(name, k++);
            while (taken.count(pack::FoldedName(unique)));
        }
        taken.insert(pack::FoldedName(unique));
        if (!entry->SetName(unique))
            return refuse("the file " + std::string(name) +
                          " cannot keep its name: " + pack::InvalidNameReason(unique));
        entry->originalSize = f.originalSize;

        if (progressControl_) {
            progressControl_->SetPosition(0);
            progressControl_->SetRange(0, f.packedSize);
        }
        ProgressAccumulator = 0.0f;
        CompressEntry(std::move(content), *entry);
        if (progressControl_)
            progressControl_->SetPosition(0);
        packSize += pack::kFileRecordSize + pack::kDataBlockHeaderSize + entry->packedSize;
        if (packSize > pack::kMaxPackSize)
            return refuse("the converted PackFile would reach 4 GiB");
        tree->AppendFile(std::move(entry));
    }
    root_ = std::move(tree);
    current_ = root_.get();
    fileCount_ = static_cast<std::uint32_t>(directory.files.size());
    onDisk_ = false;
    RefreshList();
    return 1;
}
// ---- Save -----------------------------------------------------------------------

std::uint64_t CPackArchive::PackSize() const {
    if (!root_)
        return 0;
    const std::uint64_t folders = root_->FolderCountInSubtree();
    return pack::kPackHeaderSize + pack::kFolderBlockHeaderSize * folders +
           pack::kFolderRecordSize * (folders - 1) +
           (pack::kFileRecordSize + pack::kDataBlockHeaderSize) * std::uint64_t{fileCount_} +
           root_->totalPackedSize;
}

std::uint64_t CPackArchive::ComputeFolderOffsets(CPackFolder& folder, std::uint64_t start) {
    std::uint64_t end =
        start + pack::FolderBlockSize(folder.subfolders.size(), folder.files.size());
    for (std::size_t i = 0; i < folder.subfolders.size(); ++i) {
        folder.subfolderNames[i]->blockOffset = static_cast<std::uint32_t>(end);
        end = ComputeFolderOffsets(*folder.subfolders[i], end);
    }
    folder.subtreeSize = static_cast<std::uint32_t>(end - start);
    return end;
}

std::uint64_t CPackArchive::ComputeDataOffsets(CPackFolder& folder, std::uint64_t position) {
    for (auto& entry : folder.files) {
        entry->dataOffset = static_cast<std::uint32_t>(position);
        position += pack::kDataBlockHeaderSize + std::uint64_t{entry->packedSize};
    }
    for (auto& child : folder.subfolders)
        position = ComputeDataOffsets(*child, position);
    return position;
}

bool CPackArchive::WriteHeader(PackFileWriter& file) {
    return file.WriteRecord(pack::MakePackHeader(fileCount_));
}

bool CPackArchive::WriteDirectory(PackFileWriter& file) {
    const std::uint64_t directoryEnd = ComputeFolderOffsets(*root_, pack::kRootBlockOffset);
    const std::uint64_t end = ComputeDataOffsets(*root_, directoryEnd);
    if (end > pack::kMaxPackSize)
        return file.Fail(EFBIG);
    return WriteFolder(file, *root_);
}

bool CPackArchive::WriteFolder(PackFileWriter& file, const CPackFolder& folder) {
    pack::FolderBlockHeader header{folder.subtreeSize,
                                   static_cast<std::uint32_t>(folder.subfolders.size()),
                                   static_cast<std::uint32_t>(folder.files.size())};
    if (!file.WriteRecord(header))
        return false;
    for (const auto& name : folder.subfolderNames)
        if (!file.WriteRecord(*name))
            return false;
    for (const auto& entry : folder.files) {
        pack::FileRecord record;
        std::memcpy(record.name, entry->name, sizeof record.name);
        record.dataOffset = entry->dataOffset;
        if (!file.WriteRecord(record))
            return false;
    }
    for (const auto& child : folder.subfolders)
        if (!WriteFolder(file, *child))
            return false;
    return true;
}

bool CPackArchive::WriteData(PackFileWriter& file, const CPackFolder& folder) {
    for (const auto& entry : folder.files) {
        if (entry->packedSize > 0 && !entry->data)
            return file.Fail(EINVAL);
        pack::DataBlockHeader block{entry->originalSize, entry->packedSize, entry->method};
        if (!file.WriteRecord(block) || !file.Write(entry->data.get(), entry->packedSize))
            return false;
    }
    for (const auto& child : folder.subfolders)
        if (!WriteData(file, *child))
            return false;
    return true;
}

int CPackArchive::Save() {
    if (!IsOpen() || !root_)
        return 0;
    if (PackSize() > pack::kMaxPackSize)
        return SaveFailed("it would reach 4 GiB");

    // Write through a link to the pack it names, not over the link.
    std::string target = path_;
    if (fs::IsSymlink(path_)) {
        if (char* resolved = realpath(path_.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    mode_t mode = 0;
    struct stat st;
    if (stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }

    std::string temp = fs::JoinPath(fs::ParentDirectory(target), ".TMPsaveXXXXXX");
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return SaveFailed(fs::ErrnoText(errno));

    // A file-size limit must fail the write, not kill the program.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &previous);

    std::FILE* stream = fdopen(fd, "wb");
    int error = 0;
    if (!stream) {
        error = errno;
        close(fd);
    } else {
        PackFileWriter writer(stream);
        errno = 0;
        if (WriteHeader(writer) && WriteDirectory(writer) && WriteData(writer, *root_)) {
            if (std::fflush(stream) != 0)
                writer.Fail(errno);
            else if (fsync(fileno(stream)) != 0)
                writer.Fail(errno);
            else if (fchmod(fileno(stream), mode) != 0)
                writer.Fail(errno);
        }
        error = writer.Failed() ? writer.Error() : 0;
        if (std::fclose(stream) != 0 && error == 0)
            error = errno != 0 ? errno : EIO;
    }
    if (error == 0 && rename(temp.c_str(), target.c_str()) != 0)
        error = errno;
    sigaction(SIGXFSZ, &previous, nullptr);
    if (error != 0) {
        unlink(temp.c_str());
        return SaveFailed(error == EFBIG && PackSize() > pack::kMaxPackSize ? "it would reach 4 GiB"
                                                                            : fs::ErrnoText(error));
    }
    // Make the rename itself durable; a failure here loses nothing.
    const int dirFd = open(fs::ParentDirectory(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    onDisk_ = true;
    return 1;
}

int CPackArchive::SaveFailed(const std::string& reason) {
    const bool hadFile = onDisk_;
    Message("Unable to save the PackFile " + path_ + ": " + reason + "." +
            (hadFile ? " The previous version is kept." : ""));
    const std::string text = lastError_;
    RestoreFromDisk();
    lastError_ = text;
    return 0;
}

void CPackArchive::RestoreFromDisk() {
    // The tree goes back to what the file holds, so that the document and
    // the disk agree after a failed save. The shown folder is kept where it
    // still exists.
    std::vector<std::string> trail;
    for (const CPackFolder* f = current_; f && f->parent; f = f->parent) {
        const CPackFolder* parent = f->parent;
        for (std::size_t i = 0; i < parent->subfolders.size(); ++i)
            if (parent->subfolders[i].get() == f)
                trail.emplace(trail.begin(), parent->SubfolderName(static_cast<int>(i)));
    }
    current_ = nullptr;
    root_.reset();
    fileCount_ = 0;
    const bool reloaded = onDisk_ && Load();
    if (!reloaded) {
        if (onDisk_)
            Message("Unable to reload the PackFile " + path_ + ": " + lastError_ + ".");
        root_ = std::make_unique<CPackFolder>(nullptr);
        fileCount_ = 0;
        onDisk_ = false;
    }
    current_ = root_.get();
    for (const std::string& name : trail) {
        const int i = current_->FindSubfolder(name);
        if (i < 0)
            break;
        current_ = current_->subfolders[static_cast<std::size_t>(i)].get();
    }
    RefreshList();
}

// ---- Content ----------------------------------------------------------------------

int CPackArchive::PrepareAdd(std::string_view name, CPackFolder* folder,
                             const std::string& sourcePath, int& existing) {
    existing = -1;
    if (name.size() > pack::kMaxNameLength)
        return Fail("Unable to add " + sourcePath + ": its name is longer than 259 bytes.");
    if (!IsSafeEntryName(name))
        return Fail("Unable to add " + sourcePath + ": its name cannot be used inside a PackFile.");
    existing = folder->FindFile(name);
    if (existing >= 0) {
        const MessageAnswer answer =
            ownerWindow_
                ? ownerWindow_->ShowMessage(kWarningCaption, WithName(kReplaceQuestion, name),
                                            MessageButtons::YesNo)
                : MessageAnswer::No;
        if (answer != MessageAnswer::Yes)
            return 0;
    }
    return 1;
}

int CPackArchive::InsertEntry(std::unique_ptr<PackEntry> entry, CPackFolder* folder, int existing,
                              const std::string& sourcePath) {
    std::uint64_t size = PackSize() + pack::kDataBlockHeaderSize + entry->packedSize;
    if (existing < 0)
        size += pack::kFileRecordSize;
    else
        size -= pack::kDataBlockHeaderSize +
                std::uint64_t{folder->files[static_cast<std::size_t>(existing)]->packedSize};
    if (size > pack::kMaxPackSize)
        return Fail("Unable to add " + sourcePath + ": the PackFile would reach 4 GiB.");
    if (existing < 0) {
        folder->AppendFile(std::move(entry));
        ++fileCount_;
    } else {
        folder->ReplaceFileAt(existing, std::move(entry));
    }
    return 1;
}

int CPackArchive::LoadEntryFromDisk(const std::string& path, PackEntry& entry) {
    codec::GzBuffer bytes;
    std::uint32_t size = 0;
    std::string reason;
    const DiskReadStatus status = ReadDiskFile(path, bytes, size, reason);
    if (status == DiskReadStatus::TooLarge)
        return Fail("Unable to add " + path + ": files of 4 GiB or more cannot be packed.");
    if (status != DiskReadStatus::Ok)
        return Fail("Unable to read the file " + path + ": " + reason + ". It was not added.");
    entry.originalSize = size;
    if (progressControl_)
        progressControl_->SetPosition(progressControl_->Position() + size / 2);
    ProgressAccumulator = 0.0f;
    CompressEntry(std::move(bytes), entry);
    return 1;
}

int CPackArchive::AddFile(const std::string& path, CPackFolder* folder) {
    if (!IsOpen() || !folder)
        return 0;
    const std::string_view name = fs::LastComponent(path);
    int existing = -1;
    if (!PrepareAdd(name, folder, path, existing))
        return 0;
    // Refuse what cannot fit before reading anything: the stored form is
    // never larger than the file.
    std::uint64_t diskSize = 0;
    if (fs::RegularFileSize(path, diskSize)) {
        if (diskSize > UINT32_MAX)
            return Fail("Unable to add " + path + ": files of 4 GiB or more cannot be packed.");
        std::uint64_t size = PackSize() + pack::kDataBlockHeaderSize + diskSize;
        if (existing < 0)
            size += pack::kFileRecordSize;
        else
            size -= pack::kDataBlockHeaderSize +
                    std::uint64_t{folder->files[static_cast<std::size_t>(existing)]->packedSize};
        if (size > pack::kMaxPackSize)
            return Fail("Unable to add " + path + ": the PackFile would reach 4 GiB.");
    }
    auto entry = std::make_unique<PackEntry>();
    entry->SetName(name);
    if (!LoadEntryFromDisk(path, *entry))
        return 0;
    return InsertEntry(std::move(entry), folder, existing, path);
}

int CPackArchive::AddCodedFile(std::unique_ptr<PackEntry> entry, CPackFolder* folder,
                               const std::string& sourcePath) {
    if (!IsOpen() || !folder || !entry)
        return 0;
    if (entry->packedSize > 0 && !entry->data)
        return Fail("Unable to add " + sourcePath + ": its coded bytes are missing.");
    int existing = -1;
    const std::string name(entry->Name());
    if (!PrepareAdd(name, folder, sourcePath, existing))
        return 0;
    return InsertEntry(std::move(entry), folder, existing, sourcePath);
}

int CPackArchive::AddFolder(const std::string& path, CPackFolder* folder) {
    if (!IsOpen() || !folder)
        return 0;
    return AddFolderAt(path, folder, folder->Depth() + 1);
}

int CPackArchive::AddFolderAt(const std::string& path, CPackFolder* folder, int depth) {
    const std::string dir(StripOneTrailingSlash(path));
    const std::string_view name = fs::LastComponent(dir);
    if (name.size() > pack::kMaxNameLength)
        return Fail("Unable to add " + dir + ": its name is longer than 259 bytes.");
    if (!IsSafeEntryName(name))
        return Fail("Unable to add " + dir + ": its name cannot be used inside a PackFile.");
    if (depth > kMaxFolderDepth)
        return Fail("Unable to add " + dir + ": its folders are nested more than " +
                    std::to_string(kMaxFolderDepth) + " deep.");
    std::vector<fs::DirEntry> names;
    std::string reason;
    if (!fs::ListDirectory(dir, names, &reason))
        return Fail("Unable to list the folder " + dir + ": " + reason + ". It was not added.");

    CPackFolder* target = nullptr;
    const int i = folder->FindSubfolder(name);
    if (i >= 0) {
        target = folder->subfolders[static_cast<std::size_t>(i)].get();
    } else {
        if (PackSize() + pack::kFolderRecordSize + pack::kFolderBlockHeaderSize >
            pack::kMaxPackSize)
            return Fail("Unable to add " + dir + ": the PackFile would reach 4 GiB.");
        target = folder->AppendSubfolder(name);
    }
    for (const fs::DirEntry& e : names) {
        if (e.name[0] == '.')
            continue;
        const std::string full = fs::JoinPath(dir, e.name);
        if (e.isDirectory) {
            // A link to a directory could lead back to an ancestor.
            if (!e.isSymlink)
                AddFolderAt(full, target, depth + 1);
        } else {
            AddFile(full, target);
        }
    }
    return 1;
}

int CPackArchive::RemoveFile(const std::string& name) {
    if (!IsOpen())
        return 0;
    const int i = current_->FindFile(fs::LastComponent(name));
    if (i >= 0) {
        current_->EraseFileAt(i);
        --fileCount_;
    }
    return 1;
}

int CPackArchive::RemoveFolder(const std::string& name) {
    if (!IsOpen())
        return 0;
    const int i = current_->FindSubfolder(fs::LastComponent(StripOneTrailingSlash(name)));
    if (i >= 0)
        fileCount_ -= current_->EraseSubfolderAt(i);
    return 1;
}

int CPackArchive::Rename(const std::string& oldName, const std::string& newName, bool isFolder) {
    if (!IsOpen())
        return 0;
    if (newName.size() > pack::kMaxNameLength) {
        Message("Unable to rename " + oldName + ": the new name is longer than 259 bytes.");
        RefreshList();
        return 1;
    }
    if (!IsSafeEntryName(newName)) {
        Message("Unable to rename " + oldName +
                ": a name must not be empty, \".\" or \"..\", or contain \"/\" or \"\\\".");
        RefreshList();
        return 1;
    }
    if (isFolder) {
        if (current_->FindSubfolder(newName) >= 0)
            return 0;
        const int i = current_->FindSubfolder(oldName);
        if (i >= 0)
            pack::SetFieldName(current_->subfolderNames[static_cast<std::size_t>(i)]->name,
                               newName);
    } else {
        if (current_->FindFile(newName) >= 0)
            return 0;
        const int i = current_->FindFile(oldName);
        if (i >= 0)
            current_->files[static_cast<std::size_t>(i)]->SetName(newName);
    }
    RefreshList();
    return 1;
}

int CPackArchive::RenameFile(const std::string& oldName, const std::string& newName) {
    return Rename(oldName, newName, false);
}

int CPackArchive::RenameFolder(const std::string& oldName, const std::string& newName) {
    return Rename(oldName, newName, true);
}

// ---- Listing --------------------------------------------------------------------

std::int64_t CPackArchive::FileRatio(std::uint32_t originalSize, std::uint32_t packedSize) {
    if (packedSize == originalSize || originalSize == 0)
        return 0;
    const double t = static_cast<double>(packedSize) / static_cast<double>(originalSize) * 100.0;
    return 100 - static_cast<std::int64_t>(t);
}

std::int64_t CPackArchive::FolderRatio(std::uint32_t originalSize, std::uint32_t packedSize) {
    if (packedSize == originalSize || originalSize == 0)
        return 0;
    const double t = static_cast<double>(static_cast<float>(packedSize)) /
                     static_cast<double>(originalSize) * 100.0;
    return 100 - static_cast<std::int64_t>(t);
}

void CPackArchive::RefreshList() {
    if (!listControl_)
        return;
    listControl_->DeleteAllRows();
    if (!current_)
        return;
    const int folderIcon = icons_ ? icons_->FolderIconIndex() : 0;
    int base = 0;
    if (current_ != root_.get()) {
        listControl_->InsertRow(0, kUpDirName, folderIcon, nullptr);
        base = 1;
    }
    for (std::size_t i = 0; i < current_->subfolders.size(); ++i) {
        const CPackFolder& sub = *current_->subfolders[i];
        const int row = base + static_cast<int>(i);
        listControl_->InsertRow(row, current_->SubfolderName(static_cast<int>(i)), folderIcon,
                                nullptr);
        listControl_->SetCellText(row, 1, UnsignedText(sub.totalOriginalSize));
        listControl_->SetCellText(
            row, 2, RatioText(FolderRatio(sub.totalOriginalSize, sub.totalPackedSize)));
        listControl_->SetCellText(row, 3, UnsignedText(sub.totalPackedSize));
    }
    base += static_cast<int>(current_->subfolders.size());
    for (std::size_t i = 0; i < current_->files.size(); ++i) {
        PackEntry* entry = current_->files[i].get();
        const int row = base + static_cast<int>(i);
        listControl_->InsertRow(row, entry->Name(),
                                icons_ ? icons_->FileIconIndex(entry->Name()) : 0, entry);
        listControl_->SetCellText(row, 1, UnsignedText(entry->originalSize));
        listControl_->SetCellText(row, 2,
                                  RatioText(FileRatio(entry->originalSize, entry->packedSize)));
        listControl_->SetCellText(row, 3, UnsignedText(entry->packedSize));
    }
    if (sortColumn_ != -1)
        listControl_->SortRows(
            [this](const PackEntry* a, const PackEntry* b) { return CompareRows(a, b); });
}

int CPackArchive::CompareRows(const PackEntry* a, const PackEntry* b) const {
    // Rows without data (folders, "..") are equal among themselves, so the
    // sort keeps their listing order and stays a strict weak ordering.
    if (!a && !b)
        return 0;
    if (!a)
        return -1;
    if (!b)
        return 1;
    if (sortDirection_ != 1)
        std::swap(a, b);
    auto three = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    switch (sortColumn_) {
        case 0: {
            const int c = a->Name().compare(b->Name());
            return c < 0 ? -1 : (c > 0 ? 1 : 0);
        }
        case 1:
            return three(a->originalSize, b->originalSize);
        case 2:
            return three(FileRatio(a->originalSize, a->packedSize),
                         FileRatio(b->originalSize, b->packedSize));
        case 3:
            return three(a->packedSize, b->packedSize);
        default:
            return 0;
    }
}

void CPackArchive::SortByColumn(int column) {
    if (column != sortColumn_) {
        sortColumn_ = column;
        sortDirection_ = 1;
    } else {
        sortDirection_ = sortDirection_ == 1 ? 2 : 1;
    }
    RefreshList();
}

void CPackArchive::SetSortState(int column, int direction) {
    sortColumn_ = column;
    sortDirection_ = direction;
}

void CPackArchive::EnterFolderAt(int index) {
    if (!current_ || index < 0 || index >= static_cast<int>(current_->subfolders.size()))
        return;
    current_ = current_->subfolders[static_cast<std::size_t>(index)].get();
    RefreshList();
}

void CPackArchive::EnterFolder(const std::string& name) {
    if (current_)
        EnterFolderAt(current_->FindSubfolder(name));
}

void CPackArchive::GoUp() {
    if (current_ && current_->parent) {
        current_ = current_->parent;
        RefreshList();
    }
}

// ---- Temporary workspace ----------------------------------------------------------

std::string CPackArchive::ExtractFileToTemp(const PackEntry& entry, CTempWorkspace& workspace) {
    const std::string name(entry.Name());
    if (!workspace.IsValid()) {
        Message("Unable to write " + name + " to the temporary folder: " + workspace.Reason() +
                ".");
        return {};
    }
    if (!IsSafeEntryName(name)) {
        Message("Unable to write " + name +
                " to the temporary folder: its name cannot be used as a file name.");
        return {};
    }
    const std::string target = workspace.MakeFilePath(name);
    std::string reason;
    if (target.empty())
        reason = "no free name is left";
    else if (WriteEntryToFile(entry, target, reason))
        return target;
    Message("Unable to write " + name + " to the temporary folder: " + reason + ".");
    return {};
}

bool CPackArchive::ExtractTree(const CPackFolder& folder, CTempWorkspace& workspace,
                               const std::string& dir, const std::string& relative, int depth,
                               int& failures, std::string& firstFailure) {
    auto failed = [&](std::string_view name, const std::string& why) {
        if (failures++ == 0)
            firstFailure = std::string(name) + ": " + why;
    };
    for (const auto& entry : folder.files) {
        const std::string_view name = entry->Name();
        std::string reason;
        if (!IsSafeEntryName(name)) {
            failed(name, "its name cannot be used as a file name");
            continue;
        }
        const std::string target = workspace.MakeNestedFilePath(dir, name);
        if (target.empty())
            failed(name, "no free name is left");
        else if (!WriteEntryToFile(*entry, target, reason))
            failed(name, reason);
    }
    if (depth >= kMaxFolderDepth && !folder.subfolders.empty()) {
        failed(relative, "its folders are nested too deeply");
        return false;
    }
    for (std::size_t i = 0; i < folder.subfolders.size(); ++i) {
        const std::string_view name = folder.SubfolderName(static_cast<int>(i));
        if (!IsSafeEntryName(name)) {
            failed(name, "its name cannot be used as a folder name");
            continue;
        }
        const std::string sub = workspace.MakeFolderPath(name, relative);
        if (sub.empty()) {
            failed(name, "no free name is left");
            continue;
        }
        if (mkdir(sub.c_str(), 0700) != 0 && !(errno == EEXIST && fs::IsDirectory(sub, false))) {
            failed(name, fs::ErrnoText(errno));
            continue;
        }
        ExtractTree(*folder.subfolders[i], workspace, sub,
                    sub.substr(workspace.WorkspacePath().size() + 1), depth + 1, failures,
                    firstFailure);
    }
    return failures == 0;
}

std::string CPackArchive::ExtractFolderToTemp(int index, CTempWorkspace& workspace,
                                              const std::string& parentPath) {
    if (!current_ || index < 0 || index >= static_cast<int>(current_->subfolders.size()))
        return {};
    const std::string name(current_->SubfolderName(index));
    if (!workspace.IsValid()) {
        Message("Unable to write " + name + " to the temporary folder: " + workspace.Reason() +
                ".");
        return {};
    }
    if (!IsSafeEntryName(name)) {
        Message("Unable to write " + name +
                " to the temporary folder: its name cannot be used as a folder name.");
        return {};
    }
    const std::string dir = workspace.MakeFolderPath(name, parentPath);
    if (dir.empty()) {
        Message("Unable to write " + name + " to the temporary folder: no free name is left.");
        return {};
    }
    if (mkdir(dir.c_str(), 0700) != 0 && !(errno == EEXIST && fs::IsDirectory(dir, false))) {
        Message("Unable to write " + name + " to the temporary folder: " + fs::ErrnoText(errno) +
                ".");
        return {};
    }
    int failures = 0;
    std::string firstFailure;
    ExtractTree(*current_->subfolders[static_cast<std::size_t>(index)], workspace, dir,
                dir.substr(workspace.WorkspacePath().size() + 1), current_->Depth() + 1, failures,
                firstFailure);
    if (failures > 0)
        Message("Unable to write " + std::to_string(failures) + " item(s) of " + name +
                " to the temporary folder, the first being " + firstFailure + ".");
    return dir;
}

}  // namespace crateforge
