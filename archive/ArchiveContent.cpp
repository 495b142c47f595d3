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

const char* EditReason(EditOutcome outcome) {
    switch (outcome) {
        case EditOutcome::Done:
            return "";
        case EditOutcome::NotOpen:
            return "no pack is open";
        case EditOutcome::NotFound:
            return "there is no such file or folder";
        case EditOutcome::NameTaken:
            return "the name is taken";
        case EditOutcome::UnusableName:
            return "its name cannot be used inside a PackFile";
        case EditOutcome::NameTooLong:
            return "its name is longer than 259 bytes";
        case EditOutcome::FullNameTooLong:
            return "a full name inside the PackFile would be longer than 4095 bytes";
        case EditOutcome::TooDeep:
            return "its folders would be nested more than 512 deep";
        case EditOutcome::FileTooLarge:
            return "files of 4 GiB or more cannot be packed";
        case EditOutcome::PackTooLarge:
            return "the PackFile would reach 4 GiB";
        case EditOutcome::IntoItself:
            return "a folder cannot go into itself";
    }
    return "";
}

static_assert(pack::kMaxNameLength == 259 && pack::kMaxFolderDepth == 512,
              "the limits are told in words above and in ArchiveTexts.h");

EditOutcome CPackArchive::CheckPlace(const CPackFolder* folder, const Placement& what) const {
    if (!IsOpen() || !folder)
        return EditOutcome::NotOpen;
    if (what.name.size() > pack::kMaxNameLength)
        return EditOutcome::NameTooLong;
    if (!pack::IsValidEntryName(what.name))
        return EditOutcome::UnusableName;
    if (what.isFolder) {
        const int height = what.inside ? what.inside->Height() : 0;
        if (static_cast<std::uint64_t>(folder->Depth()) + 1 + static_cast<std::uint64_t>(height) >
            pack::kMaxFolderDepth)
            return EditOutcome::TooDeep;
    }
    const std::size_t inside = what.inside ? what.inside->LongestNameInside() : 0;
    if (folder->ChildNameLength(what.name.size()) + (inside > 0 ? inside + 1 : 0) >
        pack::kMaxFullNameLength)
        return EditOutcome::FullNameTooLong;
    const int taken =
        what.isFolder ? folder->FindSubfolder(what.name) : folder->FindFile(what.name);
    if (taken >= 0 && taken != what.keep)
        return EditOutcome::NameTaken;
    if (!what.isFolder && what.size > pack::kMaxPackSize)
        return EditOutcome::FileTooLarge;
    if (!what.isNew)
        return EditOutcome::Done;
    std::uint64_t size = PackSize();
    if (what.isFolder) {
        size += pack::kFolderRecordSize + pack::kFolderBlockHeaderSize;
    } else {
        size += pack::kDataBlockHeaderSize + what.size;
        if (what.keep >= 0)
            size -= pack::kDataBlockHeaderSize + std::uint64_t{folder->FilePackedSize(what.keep)};
        else
            size += pack::kFileRecordSize;
    }
    return size > pack::kMaxPackSize ? EditOutcome::PackTooLarge : EditOutcome::Done;
}

int CPackArchive::RefuseAdd(EditOutcome outcome, const std::string& sourcePath) {
    switch (outcome) {
        case EditOutcome::NameTooLong:
            return Refuse(EditReason(outcome), WithNames(kNameTooLongText, {sourcePath}));
        case EditOutcome::UnusableName:
            return Refuse(EditReason(outcome), WithNames(kNameUnusableText, {sourcePath}));
        case EditOutcome::FullNameTooLong:
            return Refuse(EditReason(outcome), WithNames(kFullNameTooLongText, {sourcePath}));
        case EditOutcome::TooDeep:
            return Refuse(EditReason(outcome),
                          WithNames(kAddTooDeepText, {sourcePath, kMaxDepthText}));
        case EditOutcome::FileTooLarge:
            return Refuse(EditReason(outcome), WithNames(kFileTooLargeText, {sourcePath}));
        case EditOutcome::PackTooLarge:
            return Refuse(EditReason(outcome), WithNames(kPackWouldBeTooLargeText, {sourcePath}));
        default:
            return Refuse(EditReason(outcome),
                          WithNames(kNotAddedText, {sourcePath, EditReason(outcome)}));
    }
}

AddOutcome CPackArchive::PrepareAdd(std::string_view name, CPackFolder* folder,
                                    const std::string& sourcePath, NameClash onClash,
                                    std::uint64_t size, int& existing) {
    existing = -1;
    Placement file{name, false, true, -1, size, nullptr};
    EditOutcome checked = CheckPlace(folder, file);
    if (checked == EditOutcome::NameTaken) {
        existing = folder->FindFile(name);
        bool replace = onClash == NameClash::Replace;
        if (onClash == NameClash::Ask)
            replace = ownerWindow_ &&
                      ownerWindow_->ShowMessage(kWarningCaption, WithName(kReplaceQuestion, name),
                                                MessageButtons::YesNo) == MessageAnswer::Yes;
        if (!replace)
            return AddOutcome::NameTaken;
        file.keep = existing;
        checked = CheckPlace(folder, file);
    }
    if (checked != EditOutcome::Done) {
        RefuseAdd(checked, sourcePath);
        return AddOutcome::Refused;
    }
    return AddOutcome::Added;
}

AddOutcome CPackArchive::InsertEntry(std::unique_ptr<PackEntry>& entry, CPackFolder* folder,
                                     int existing, const std::string& sourcePath) {
    // The coded size is known only now.
    const EditOutcome checked =
        CheckPlace(folder, Placement{entry->Name(), false, true, existing, entry->packedSize});
    if (checked != EditOutcome::Done) {
        RefuseAdd(checked, sourcePath);
        return AddOutcome::Refused;
    }
    if (!StreamBytes(*entry))
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
        return Refuse(EditReason(EditOutcome::FileTooLarge),
                      WithNames(kFileTooLargeText, {diskPath}));
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
    // Refuse what cannot fit before reading anything: the stored form is
    // never larger than the file.
    std::uint64_t diskSize = 0;
    if (!fs::RegularFileSize(diskPath, diskSize))
        diskSize = 0;
    int existing = -1;
    if (PrepareAdd(name, folder, diskPath, NameClash::Ask, diskSize, existing) != AddOutcome::Added)
        return 0;
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
        Refuse("its coded bytes are missing", WithNames(kCodedBytesMissingText, {sourcePath}));
        return AddOutcome::Refused;
    }
    int existing = -1;
    const std::string name(entry->Name());
    const AddOutcome prepared =
        PrepareAdd(name, folder, sourcePath, onClash, entry->packedSize, existing);
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
        const EditResult made = archive_.MakeFolder(folders_.back(), folder.name);
        if (!made.Done() && made.outcome != EditOutcome::NameTaken) {
            archive_.RefuseAdd(made.outcome, folder.path);
            return false;
        }
        CPackFolder* target = made.folder;  // a folder of that name is merged into
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
                archive_.Refuse(problem.reason,
                                WithNames(kListFailedText, {problem.path, problem.reason}));
                break;
            case fs::WalkProblemKind::CannotRead:
            case fs::WalkProblemKind::NotRegular:
                archive_.Refuse(problem.reason,
                                WithNames(kReadFailedText, {problem.path, problem.reason}));
                break;
            case fs::WalkProblemKind::TooDeep:
                archive_.Refuse(problem.reason,
                                WithNames(kAddTooDeepText, {problem.path, kMaxDepthText}));
                break;
            case fs::WalkProblemKind::Cycle:
                archive_.Refuse(problem.reason,
                                WithNames(kNotAddedText, {problem.path, problem.reason}));
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
    // The walk makes the folder (or merges into one of that name, which
    // is within every limit already); it is weighed first, so that nothing
    // is read for a folder that cannot be added.
    const EditOutcome checked =
        CheckPlace(folder, Placement{fs::LastComponent(dir), true, false, -1, 0, nullptr});
    if (checked != EditOutcome::Done && checked != EditOutcome::NameTaken)
        return RefuseAdd(checked, dir);
    // The added folder sits one level below `folder`.
    const std::uint32_t depth = static_cast<std::uint32_t>(folder->Depth()) + 1;
    AddFolderVisitor visitor(*this, folder);
    pack::Fault fault;
    // Names beginning with "." inside it stay out (.git, editor files).
    if (!fs::WalkFolder(dir, visitor, pack::kMaxFolderDepth - depth, fault, true)) {
        Report(fault, WithNames(kListFailedText, {dir, fault.reason}));
        return 0;
    }
    return visitor.rootAccepted ? 1 : 0;
}

// ---- Removing and renaming ---------------------------------------------------------

EditResult CPackArchive::MakeFolder(CPackFolder* parent, std::string_view name) {
    EditResult result;
    result.outcome = CheckPlace(parent, Placement{name, true, true, -1, 0, nullptr});
    if (result.outcome == EditOutcome::NameTaken)
        result.folder = parent->SubfolderAt(parent->FindSubfolder(name));
    if (result.outcome != EditOutcome::Done)
        return result;
    result.folder = parent->AppendSubfolder(name);
    return result;
}

EditResult CPackArchive::Rename(CPackFolder* folder, std::string_view oldName, bool isFolder,
                                std::string_view newName) {
    return Move(folder, oldName, isFolder, folder, newName);
}

EditResult CPackArchive::Move(CPackFolder* from, std::string_view name, bool isFolder,
                              CPackFolder* to, std::string_view newName) {
    EditResult result;
    if (!IsOpen() || !from || !to) {
        result.outcome = EditOutcome::NotOpen;
        return result;
    }
    const int index = isFolder ? from->FindSubfolder(name) : from->FindFile(name);
    if (index < 0) {
        result.outcome = EditOutcome::NotFound;
        return result;
    }
    const CPackFolder* moving = isFolder ? from->SubfolderAt(index) : nullptr;
    for (const CPackFolder* f = to; moving && f; f = f->Parent())
        if (f == moving) {
            result.outcome = EditOutcome::IntoItself;
            return result;
        }
    result.outcome =
        CheckPlace(to, Placement{newName, isFolder, false, to == from ? index : -1, 0, moving});
    if (result.outcome != EditOutcome::Done)
        return result;
    if (to == from) {
        from->RenameAt(index, isFolder, newName);
        return result;
    }
    if (isFolder)
        to->AdoptSubfolder(from->ReleaseSubfolderAt(index), newName);
    else
        to->AppendFile(from->ReleaseFileAt(index))->SetName(newName);
    return result;
}

EditResult CPackArchive::Remove(CPackFolder* folder, std::string_view name, bool isFolder) {
    EditResult result;
    if (!IsOpen() || !folder) {
        result.outcome = EditOutcome::NotOpen;
        return result;
    }
    const int i = isFolder ? folder->FindSubfolder(name) : folder->FindFile(name);
    if (i < 0) {
        result.outcome = EditOutcome::NotFound;
        return result;
    }
    result.filesRemoved = isFolder ? folder->EraseSubfolderAt(i) : (folder->EraseFileAt(i), 1u);
    fileCount -= result.filesRemoved;
    return result;
}

int CPackArchive::RemoveFile(const std::string& name) {
    if (!IsOpen())
        return 0;
    Remove(current, fs::LastComponent(name), false);
    return 1;
}

int CPackArchive::RemoveFolder(const std::string& name) {
    if (!IsOpen())
        return 0;
    Remove(current, fs::LastComponent(StripOneTrailingSlash(name)), true);
    return 1;
}

RenameOutcome CPackArchive::RenameEntry(const std::string& oldName, const std::string& newName,
                                        bool isFolder) {
    if (!IsOpen())
        return RenameOutcome::NotOpen;
    // A name that cannot be stored is refused even when no such entry exists.
    EditOutcome outcome = newName.size() > pack::kMaxNameLength ? EditOutcome::NameTooLong
                          : pack::IsValidEntryName(newName)     ? EditOutcome::Done
                                                                : EditOutcome::UnusableName;
    // Unlike a move, a rename here refuses the entry's own name in other
    // letter case: the list would show no change.
    if (outcome == EditOutcome::Done) {
        const int index = isFolder ? current->FindSubfolder(oldName) : current->FindFile(oldName);
        const int taken = isFolder ? current->FindSubfolder(newName) : current->FindFile(newName);
        if (index >= 0)
            outcome =
                CheckPlace(current, Placement{newName, isFolder, false, -1, 0,
                                              isFolder ? current->SubfolderAt(index) : nullptr});
        else
            outcome = taken >= 0 ? EditOutcome::NameTaken : EditOutcome::NotFound;
    }
    if (outcome == EditOutcome::Done)
        outcome = Rename(current, oldName, isFolder, newName).outcome;
    switch (outcome) {
        case EditOutcome::Done:
            RefreshList();
            return RenameOutcome::Renamed;
        case EditOutcome::NameTaken:
            return RenameOutcome::NameTaken;
        case EditOutcome::NotFound:
            RefreshList();
            return RenameOutcome::NotFound;
        case EditOutcome::NameTooLong:
            Refuse(EditReason(outcome), WithNames(kRenameTooLongText, {oldName}));
            break;
        case EditOutcome::FullNameTooLong:
            Refuse(EditReason(outcome), WithNames(kRenameFullNameTooLongText, {oldName}));
            break;
        case EditOutcome::UnusableName:
            Refuse(EditReason(outcome), WithNames(kRenameUnusableText, {oldName}));
            break;
        default:  // a rename in place adds no depth and no bytes
            Refuse(EditReason(outcome), WithNames(kNotAddedText, {oldName, EditReason(outcome)}));
            break;
    }
    RefreshList();
    return RenameOutcome::InvalidName;
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
