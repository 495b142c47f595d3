// ArchiveContent.cpp - what changes a pack's content: adding disk files and
// folders, removing and renaming. Nothing here writes the pack; the
// commands call Save afterwards.
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "archive/EntryCoding.h"
#include "archive/PackArchive.h"
#include "format/Names.h"
#include "format/PackFormat.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/FolderWalk.h"

namespace crateforge {

namespace {

std::string_view StripOneTrailingSlash(std::string_view path) {
    if (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

const std::string kMaxDepthText = std::to_string(pack::kMaxFolderDepth);
static_assert(pack::kMaxFullNameLength == 4095, "the limit is told in ArchiveTexts.h");

}  // namespace

// ---- Names and limits --------------------------------------------------------

bool CPackArchive::CheckNewName(std::string_view name, const CPackFolder* folder,
                                const std::string& sourcePath) {
    if (!pack::IsValidEntryName(name)) {
        Refuse(WithNames(name.size() > pack::kMaxNameLength ? kNameTooLongText : kNameUnusableText,
                         {sourcePath}));
        return false;
    }
    if (folder->ChildNameLength(name.size()) > pack::kMaxFullNameLength) {
        Refuse(WithNames(kFullNameTooLongText, {sourcePath}));
        return false;
    }
    return true;
}

AddOutcome CPackArchive::PrepareAdd(std::string_view name, CPackFolder* folder,
                                    const std::string& sourcePath, NameClash onClash,
                                    int& existing) {
    existing = -1;
    if (!CheckNewName(name, folder, sourcePath))
        return AddOutcome::Refused;
    existing = folder->FindFile(name);
    if (existing < 0)
        return AddOutcome::Added;
    switch (onClash) {
        case NameClash::Replace:
            return AddOutcome::Added;
        case NameClash::Keep:
            return AddOutcome::NameTaken;
        case NameClash::Ask:
            break;
    }
    const MessageAnswer answer =
        ownerWindow_ ? ownerWindow_->ShowMessage(kWarningCaption, WithName(kReplaceQuestion, name),
                                                 MessageButtons::YesNo)
                     : MessageAnswer::No;
    return answer == MessageAnswer::Yes ? AddOutcome::Added : AddOutcome::NameTaken;
}

AddOutcome CPackArchive::InsertEntry(std::unique_ptr<PackEntry>& entry, CPackFolder* folder,
                                     int existing, const std::string& sourcePath) {
    std::uint64_t size = PackSize() + pack::kDataBlockHeaderSize + entry->packedSize;
    if (existing < 0)
        size += pack::kFileRecordSize;
    else
        size -= pack::kDataBlockHeaderSize +
                std::uint64_t{folder->files[static_cast<std::size_t>(existing)]->packedSize};
    if (size > pack::kMaxPackSize) {
        Refuse(WithNames(kPackWouldBeTooLargeText, {sourcePath}));
        return AddOutcome::Refused;
    }
    SpoolBytes(*entry);
    if (existing < 0) {
        folder->AppendFile(std::move(entry));
        ++fileCount;
        return AddOutcome::Added;
    }
    folder->ReplaceFileAt(existing, std::move(entry));
    return AddOutcome::Replaced;
}

void CPackArchive::SpoolBytes(PackEntry& entry) {
    if (!entry.data || entry.packedSize < kSpoolMinimum ||
        spoolEnd_ + entry.packedSize > pack::kMaxPackSize)
        return;
    if (!spool_) {
        // Beside the pack, so that the save copies on one file system (and
        // the space is taken where the pack will need it anyway).
        const int fd = fs::NamelessFile(fs::ParentDirectory(fs::FollowLinks(path)));
        if (fd < 0)
            return;  // the bytes stay in memory
        spool_ = std::make_shared<const StoredFile>(fd);
        spoolEnd_ = 0;
    }
    std::size_t done = 0;
    while (done < entry.packedSize) {
        const ssize_t n = pwrite(spool_->Descriptor(), entry.data.get() + done,
                                 entry.packedSize - done, static_cast<off_t>(spoolEnd_ + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // a full disk: the bytes stay in memory
        done += static_cast<std::size_t>(n);
    }
    entry.stored = spool_;
    entry.storedOffset = static_cast<std::uint32_t>(spoolEnd_);
    entry.data.reset();
    spoolEnd_ += entry.packedSize;
}

// ---- Adding files ----------------------------------------------------------------

int CPackArchive::LoadEntryFromDisk(const std::string& diskPath, PackEntry& entry) {
    codec::GzBuffer bytes;
    std::uint32_t size = 0;
    pack::Fault fault;
    const DiskReadStatus status = ReadDiskFile(diskPath, bytes, size, fault);
    if (status == DiskReadStatus::TooLarge)
        return Refuse(WithNames(kFileTooLargeText, {diskPath}));
    if (status != DiskReadStatus::Ok) {
        Report(fault, WithNames(kReadFailedText, {diskPath, fault.Text()}));
        return 0;
    }
    entry.originalSize = size;
    if (progressControl_)
        progressControl_->SetPosition(progressControl_->Position() + size / 2);
    ProgressAccumulator = 0.0f;
    codec::GzError error;
    if (!CompressEntry(std::move(bytes), entry, BoundGzProgress(), &error))
        NoteCodingFallback(diskPath, error.reason);
    return 1;
}

void CPackArchive::NoteCodingFallback(std::string_view name, const char* reason) {
    if (codingFallbacks_.count++ == 0) {
        codingFallbacks_.firstName = std::string(name);
        codingFallbacks_.reason = reason;
    }
}

CodingFallbacks CPackArchive::TakeCodingFallbacks() {
    return std::exchange(codingFallbacks_, CodingFallbacks{});
}

int CPackArchive::AddFile(const std::string& diskPath, CPackFolder* folder) {
    if (!IsOpen() || !folder)
        return 0;
    const std::string_view name = fs::LastComponent(diskPath);
    int existing = -1;
    if (PrepareAdd(name, folder, diskPath, NameClash::Ask, existing) != AddOutcome::Added)
        return 0;
    // Refuse what cannot fit before reading anything: the stored form is
    // never larger than the file.
    std::uint64_t diskSize = 0;
    if (fs::RegularFileSize(diskPath, diskSize)) {
        if (diskSize > pack::kMaxPackSize)
            return Refuse(WithNames(kFileTooLargeText, {diskPath}));
        std::uint64_t size = PackSize() + pack::kDataBlockHeaderSize + diskSize;
        if (existing < 0)
            size += pack::kFileRecordSize;
        else
            size -= pack::kDataBlockHeaderSize +
                    std::uint64_t{folder->files[static_cast<std::size_t>(existing)]->packedSize};
        if (size > pack::kMaxPackSize)
            return Refuse(WithNames(kPackWouldBeTooLargeText, {diskPath}));
    }
    auto entry = std::make_unique<PackEntry>();
    entry->SetName(name);
    if (!LoadEntryFromDisk(diskPath, *entry))
        return 0;
    return InsertEntry(entry, folder, existing, diskPath) == AddOutcome::Refused ? 0 : 1;
}

AddOutcome CPackArchive::AddCodedEntry(std::unique_ptr<PackEntry>& entry, CPackFolder* folder,
                                       const std::string& sourcePath, NameClash onClash) {
    if (!IsOpen() || !folder || !entry)
        return AddOutcome::Refused;
    if (!entry->HasBytes()) {
        Refuse(WithNames(kCodedBytesMissingText, {sourcePath}));
        return AddOutcome::Refused;
    }
    int existing = -1;
    const std::string name(entry->Name());
    const AddOutcome prepared = PrepareAdd(name, folder, sourcePath, onClash, existing);
    if (prepared != AddOutcome::Added)
        return prepared;
    return InsertEntry(entry, folder, existing, sourcePath);
}

// ---- Adding folders --------------------------------------------------------------

// Adds what the disk walk visits: each folder becomes (or merges into) a
// subfolder of the one above it, each file goes through AddFile, and
// everything the walk left out is reported in the words AddFile uses.
class AddFolderVisitor final : public fs::FolderVisitor {
  public:
    AddFolderVisitor(CPackArchive& archive, CPackFolder* into) : archive_(archive) {
        folders_.push_back(into);
    }

    bool EnterFolder(const fs::WalkItem& folder) override {
        CPackFolder* parent = folders_.back();
        if (!archive_.CheckNewName(folder.name, parent, folder.path))
            return false;
        CPackFolder* target = nullptr;
        const int i = parent->FindSubfolder(folder.name);
        if (i >= 0) {
            target = parent->subfolders[static_cast<std::size_t>(i)].get();
        } else {
            if (archive_.PackSize() + pack::kFolderRecordSize + pack::kFolderBlockHeaderSize >
                pack::kMaxPackSize) {
                archive_.Refuse(WithNames(kPackWouldBeTooLargeText, {folder.path}));
                return false;
            }
            target = parent->AppendSubfolder(folder.name);
        }
        if (folder.depth == 0)
            rootAccepted = true;
        folders_.push_back(target);
        return true;
    }
    void LeaveFolder(const fs::WalkItem&) override { folders_.pop_back(); }
    void VisitFile(const fs::WalkItem& file) override {
        archive_.AddFile(file.path, folders_.back());
    }
    void Skipped(const fs::WalkProblem& problem) override {
        switch (problem.kind) {
            case fs::WalkProblemKind::CannotList:
                archive_.Refuse(WithNames(kListFailedText, {problem.path, problem.reason}));
                break;
            case fs::WalkProblemKind::CannotRead:
            case fs::WalkProblemKind::NotRegular:
                archive_.Refuse(WithNames(kReadFailedText, {problem.path, problem.reason}));
                break;
            case fs::WalkProblemKind::TooDeep:
                archive_.Refuse(WithNames(kAddTooDeepText, {problem.path, kMaxDepthText}));
                break;
            case fs::WalkProblemKind::Cycle:
                archive_.Refuse(WithNames(kNotAddedText, {problem.path, problem.reason}));
                break;
        }
    }

    bool rootAccepted = false;

  private:
    CPackArchive& archive_;
    std::vector<CPackFolder*> folders_;  // the pack folders of the walk's path
};

int CPackArchive::AddFolder(const std::string& diskPath, CPackFolder* folder) {
    if (!IsOpen() || !folder)
        return 0;
    const std::string dir(StripOneTrailingSlash(diskPath));
    if (!CheckNewName(fs::LastComponent(dir), folder, dir))
        return 0;
    // The added folder sits one level below `folder`; the pack holds at most
    // kMaxFolderDepth levels below its root.
    const std::uint32_t depth = static_cast<std::uint32_t>(folder->Depth()) + 1;
    if (depth > pack::kMaxFolderDepth)
        return Refuse(WithNames(kAddTooDeepText, {dir, kMaxDepthText}));
    AddFolderVisitor visitor(*this, folder);
    pack::Fault fault;
    // Names beginning with "." inside it stay out (.git, editor files).
    if (!fs::WalkFolder(dir, visitor, pack::kMaxFolderDepth - depth, fault, true))
        return Refuse(WithNames(kListFailedText, {dir, fault.reason}));
    return visitor.rootAccepted ? 1 : 0;
}

// ---- Removing and renaming ---------------------------------------------------------

int CPackArchive::RemoveFile(const std::string& name) {
    if (!IsOpen())
        return 0;
    const int i = current->FindFile(fs::LastComponent(name));
    if (i >= 0) {
        current->EraseFileAt(i);
        --fileCount;
    }
    return 1;
}

int CPackArchive::RemoveFolder(const std::string& name) {
    if (!IsOpen())
        return 0;
    const int i = current->FindSubfolder(fs::LastComponent(StripOneTrailingSlash(name)));
    if (i >= 0)
        fileCount -= current->EraseSubfolderAt(i);
    return 1;
}

RenameOutcome CPackArchive::RenameEntry(const std::string& oldName, const std::string& newName,
                                        bool isFolder) {
    if (!IsOpen())
        return RenameOutcome::NotOpen;
    if (newName.size() > pack::kMaxNameLength || !pack::IsValidEntryName(newName)) {
        Refuse(WithNames(
            newName.size() > pack::kMaxNameLength ? kRenameTooLongText : kRenameUnusableText,
            {oldName}));
        RefreshList();
        return RenameOutcome::InvalidName;
    }
    // The new name must leave every full name it is part of within the
    // limit: a folder's, the longest one inside it too.
    const int renamed = isFolder ? current->FindSubfolder(oldName) : current->FindFile(oldName);
    std::size_t inside = 0;
    if (isFolder && renamed >= 0)
        inside = current->subfolders[static_cast<std::size_t>(renamed)]->LongestNameInside();
    if (renamed >= 0 && current->ChildNameLength(newName.size()) + (inside > 0 ? inside + 1 : 0) >
                            pack::kMaxFullNameLength) {
        Refuse(WithNames(kRenameFullNameTooLongText, {oldName}));
        RefreshList();
        return RenameOutcome::InvalidName;
    }
    RenameOutcome outcome = RenameOutcome::NotFound;
    if (isFolder) {
        if (current->FindSubfolder(newName) >= 0)
            return RenameOutcome::NameTaken;
        const int i = current->FindSubfolder(oldName);
        if (i >= 0) {
            pack::SetFieldName(current->subfolderNames[static_cast<std::size_t>(i)]->name, newName);
            outcome = RenameOutcome::Renamed;
        }
    } else {
        if (current->FindFile(newName) >= 0)
            return RenameOutcome::NameTaken;
        const int i = current->FindFile(oldName);
        if (i >= 0) {
            current->files[static_cast<std::size_t>(i)]->SetName(newName);
            outcome = RenameOutcome::Renamed;
        }
    }
    RefreshList();
    return outcome;
}

int CPackArchive::RenameFile(const std::string& oldName, const std::string& newName) {
    const RenameOutcome outcome = RenameEntry(oldName, newName, false);
    return outcome == RenameOutcome::NameTaken || outcome == RenameOutcome::NotOpen ? 0 : 1;
}

int CPackArchive::RenameFolder(const std::string& oldName, const std::string& newName) {
    const RenameOutcome outcome = RenameEntry(oldName, newName, true);
    return outcome == RenameOutcome::NameTaken || outcome == RenameOutcome::NotOpen ? 0 : 1;
}

}  // namespace crateforge
