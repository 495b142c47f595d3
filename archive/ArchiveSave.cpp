// ArchiveSave.cpp - writing the whole pack from the tree, through the one
// atomic replace-write, and going back to the disk when that fails.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "archive/EntryData.h"
#include "archive/PackArchive.h"
#include "format/PackFormat.h"
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"

namespace crateforge {

namespace {

template <class Record>
bool WriteRecord(pack::ByteSink& file, const Record& record) {
    const pack::RecordBytes<Record> bytes = pack::Encode(record);
    return file.Write(bytes.data(), bytes.size());
}

}  // namespace

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

bool CPackArchive::WriteHeader(pack::ByteSink& file) {
    return WriteRecord(file, pack::MakePackHeader(fileCount));
}

bool CPackArchive::WriteDirectory(pack::ByteSink& file) {
    const std::uint64_t directoryEnd = ComputeFolderOffsets(*root, pack::kRootBlockOffset);
    ComputeDataOffsets(*root, directoryEnd);
    return WriteFolder(file, *root);
}

bool CPackArchive::WriteFolder(pack::ByteSink& file, const CPackFolder& folder) {
    const pack::FolderBlockHeader header{folder.subtreeSize,
                                         static_cast<std::uint32_t>(folder.subfolders.size()),
                                         static_cast<std::uint32_t>(folder.files.size())};
    if (!WriteRecord(file, header))
        return false;
    for (const auto& name : folder.subfolderNames)
        if (!WriteRecord(file, *name))
            return false;
    for (const auto& entry : folder.files) {
        pack::FileRecord record{};
        pack::SetFieldName(record.name, entry->Name());  // a name SetName took always fits
        record.dataOffset = entry->dataOffset;
        if (!WriteRecord(file, record))
            return false;
    }
    for (const auto& child : folder.subfolders)
        if (!WriteFolder(file, *child))
            return false;
    return true;
}

bool CPackArchive::WriteStoredBytes(pack::ByteSink& file, const PackEntry& entry) {
    if (entry.packedSize == 0)
        return true;
    if (entry.data)
        return file.Write(entry.data.get(), entry.packedSize);
    if (saving_ && entry.stored) {
        // Unchanged bytes go from file to file; a pack being rewritten in
        // place is read from the copy of its old bytes.
        const int from = saving_->InPlace() && entry.stored == packFile_
                             ? saving_->BackupDescriptor()
                             : entry.stored->Descriptor();
        return saving_->CopyFrom(from, entry.storedOffset, entry.packedSize);
    }
    pack::DecodedBytes holder;
    const unsigned char* bytes = nullptr;
    pack::Fault fault;
    return StoredBytes(entry, holder, bytes, fault) && file.Write(bytes, entry.packedSize);
}

bool CPackArchive::WriteData(pack::ByteSink& file, const CPackFolder& folder) {
    for (const auto& entry : folder.files) {
        const pack::DataBlockHeader block{entry->originalSize, entry->packedSize, entry->method};
        if (!WriteRecord(file, block) || !WriteStoredBytes(file, *entry))
            return false;
    }
    for (const auto& child : folder.subfolders)
        if (!WriteData(file, *child))
            return false;
    return true;
}

namespace {

// Every entry's bytes are there to be written (a missing buffer would make
// the pack lie about its sizes).
bool HasAllBytes(const CPackFolder& folder) {
    for (int i = 0; i < static_cast<int>(folder.FileCount()); ++i)
        if (!folder.FileAt(i)->HasBytes())
            return false;
    for (int i = 0; i < static_cast<int>(folder.SubfolderCount()); ++i)
        if (!HasAllBytes(*folder.SubfolderAt(i)))
            return false;
    return true;
}

}  // namespace

bool CPackArchive::CheckWritable(pack::Fault& fault) const {
    if (PackSize() > pack::kMaxPackSize)
        return pack::Fail(fault, pack::FaultKind::Io, kPackTooLargeReason);
    if (!HasAllBytes(*root))
        return pack::Fail(fault, pack::FaultKind::Io, "the stored bytes of a file are missing");
    return true;
}

bool CPackArchive::WriteTo(pack::ByteSink& sink, pack::Fault& fault) {
    if (!IsOpen() || !root)
        return pack::Fail(fault, pack::FaultKind::Io, "no pack is open");
    if (!CheckWritable(fault))
        return false;
    if (WriteHeader(sink) && WriteDirectory(sink) && WriteData(sink, *root))
        return true;
    const std::string why = sink.Reason();
    return pack::Fail(fault, pack::FaultKind::Io,
                      why.empty() ? "the output refused the bytes" : why);
}

namespace {

// Writes the bytes given to it one after the other from the start of a file
// whose later bytes are written already, in runs of up to 256 KiB.
class HeadSink final : public pack::ByteSink {
  public:
    explicit HeadSink(fs::AtomicFile& file) : file_(file) {}
    bool Write(const unsigned char* data, std::size_t length) override {
        pending_.insert(pending_.end(), data, data + length);
        return pending_.size() < kRun || Flush();
    }
    bool Flush() {
        const bool ok = file_.WriteAt(position_, pending_.data(), pending_.size());
        position_ += pending_.size();
        pending_.clear();
        return ok;
    }
    std::string Reason() const override { return file_.WriteFailure(); }

  private:
    static constexpr std::size_t kRun = 256 * 1024;
    fs::AtomicFile& file_;
    std::vector<unsigned char> pending_;
    std::uint64_t position_ = 0;
};

}  // namespace

bool CPackArchive::StreamNewPack(std::uint64_t directoryEnd, pack::Fault& fault) {
    if (!IsOpen() || !root || stream_)
        return pack::Fail(fault, pack::FaultKind::Io, "no new pack is open");
    fs::AtomicFileOptions options;
    options.followLink = true;  // as the save replaces the pack a link names
    auto file = std::make_unique<fs::AtomicFile>();
    if (!file->Begin(path, options, fault))
        return false;
    const int reader = fcntl(file->Descriptor(), F_DUPFD_CLOEXEC, 0);
    if (reader < 0) {
        const int error = errno;
        file->Abort();
        return pack::Fail(fault, pack::FaultKind::Io, pack::ErrnoText(error));
    }
    stream_ = std::move(file);
    streamFile_ = std::make_shared<const StoredFile>(reader);
    streamStart_ = streamEnd_ = directoryEnd;
    return true;
}

bool CPackArchive::StreamBytes(PackEntry& entry) {
    if (!stream_ || (!entry.data && entry.packedSize > 0))
        return false;
    const std::uint64_t block = pack::kDataBlockHeaderSize + std::uint64_t{entry.packedSize};
    if (streamEnd_ + block > pack::kMaxPackSize)
        return false;  // the save refuses the pack; the bytes wait in memory as before
    const pack::RecordBytes<pack::DataBlockHeader> header =
        pack::Encode(pack::DataBlockHeader{entry.originalSize, entry.packedSize, entry.method});
    if (!stream_->WriteAt(streamEnd_, header.data(), header.size()) ||
        !stream_->WriteAt(streamEnd_ + header.size(), entry.data.get(), entry.packedSize)) {
        // A full disk, say: what was written stays readable through
        // streamFile_, the rest goes the ordinary way and the save says why
        // it cannot write the pack.
        stream_.reset();
        return false;
    }
    entry.stored = streamFile_;
    entry.storedOffset = static_cast<std::uint32_t>(streamEnd_ + header.size());
    entry.data.reset();
    streamEnd_ += block;
    return true;
}

bool CPackArchive::StreamLaidOut(const StoredFile* file, std::uint64_t start, std::uint64_t end) {
    const std::uint64_t directoryEnd = ComputeFolderOffsets(*root, pack::kRootBlockOffset);
    if (directoryEnd != start)
        return false;
    ComputeDataOffsets(*root, directoryEnd);
    std::uint64_t position = directoryEnd;
    return LaidOutIn(*root, file, position) && position == end;
}

bool CPackArchive::LaidOutIn(const CPackFolder& folder, const StoredFile* file,
                             std::uint64_t& position) {
    for (const auto& entry : folder.files) {
        if (entry->data || entry->stored.get() != file || entry->dataOffset != position ||
            entry->storedOffset != position + pack::kDataBlockHeaderSize)
            return false;
        position += pack::kDataBlockHeaderSize + std::uint64_t{entry->packedSize};
    }
    for (const auto& child : folder.subfolders)
        if (!LaidOutIn(*child, file, position))
            return false;
    return true;
}

namespace {

// Whether the user may change the existing file: write permission, and a
// write bit at all (root passes every permission check, but a pack made
// read-only is still not to be changed).
bool MayWrite(const std::string& file, mode_t mode) {
    return (mode & 0222) != 0 && faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

SaveOutcome CPackArchive::SaveQuietly(pack::Fault& fault) {
    reloadFailed_ = false;
    // A streamed pack is used by this save or by none: whatever happens
    // below, its file goes (entries that still read from it keep it open).
    const std::unique_ptr<fs::AtomicFile> stream = std::move(stream_);
    const std::shared_ptr<const StoredFile> streamFile = std::move(streamFile_);
    if (!IsOpen() || !root)
        return pack::Fail(fault, pack::FaultKind::Io, "no pack is open"), SaveOutcome::NotOpen;
    if (!CheckWritable(fault))
        return NotSaved(SaveOutcome::Failed);
    // The pack a link at the path names is the one saved.
    const std::string target = fs::FollowLinks(path);
    fs::FileLock lock;
    const int lockError = lock.Acquire(target, true);
    if (lockError != 0 && lockError != ENOENT) {
        pack::Fail(fault, pack::FaultKind::Io,
                   lockError == EWOULDBLOCK ? "another program keeps it busy"
                                            : pack::ErrnoText(lockError));
        return NotSaved(SaveOutcome::Failed);
    }
    // The file on disk is the truth: what another program changed since this
    // document read it is not overwritten.
    if (onDisk &&
        (!lock.Held() || !(lock.Identity() == diskIdentity_) || !lock.SamePathAndFile(target))) {
        pack::Fail(fault, pack::FaultKind::Io, "changed by another program");
        lock.Release();
        return NotSaved(SaveOutcome::ChangedOutside);
    }
    struct stat st;
    if (lock.Held() && stat(target.c_str(), &st) == 0 && !MayWrite(target, st.st_mode)) {
        pack::Fail(fault, pack::FaultKind::Io, "it is read-only");
        lock.Release();
        return NotSaved(SaveOutcome::ReadOnly);
    }
    // A streamed pack holding every entry where this save puts it needs only
    // its header and directory; any other tree is written whole.
    const bool streamed =
        stream && stream->IsOpen() && StreamLaidOut(streamFile.get(), streamStart_, streamEnd_);
    fs::AtomicFile whole;
    fs::AtomicFile& file = streamed ? *stream : whole;
    if (streamed) {
        // StreamLaidOut has just assigned every offset the folders record.
        HeadSink sink(file);
        if (WriteHeader(sink) && WriteFolder(sink, *root))
            sink.Flush();
    } else {
        fs::AtomicFileOptions options;
        options.followLink = true;    // a link to the pack: the pack it names is saved
        options.allowInPlace = true;  // a folder that takes no new file
        if (!file.Begin(path, options, fault) || !file.Reserve(PackSize(), fault)) {
            file.Abort();
            lock.Release();
            return NotSaved(file.InPlace() && !file.Restored() ? SaveOutcome::Incomplete
                                                               : SaveOutcome::Failed);
        }
        // A failed write is remembered by the file and reported by Commit.
        AtomicFileSink sink(file);
        saving_ = &file;
        if (WriteHeader(sink) && WriteDirectory(sink))
            WriteData(sink, *root);
        saving_ = nullptr;
    }
    int written = -1;
    if (!file.Commit(fault, &written)) {
        if (file.WriteError() == ENODATA)
            fault.reason =
                "the PackFile its unchanged files are copied from was cut short by "
                "another program";
        lock.Release();
        return NotSaved(file.InPlace() && !file.Restored() ? SaveOutcome::Incomplete
                                                           : SaveOutcome::Failed);
    }
    if (written < 0)
        written = open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (written < 0 || !pack::IdentityOf(written, diskIdentity_)) {
        // Saved, but the document cannot read its own pack back.
        if (written >= 0)
            close(written);
        reloadFailed_ = !RestoreFromDisk();
        return SaveOutcome::Saved;
    }
    // Every entry's bytes are in the new pack now: memory is given back and
    // the document reads them from there.
    packFile_ = std::make_shared<const StoredFile>(written);
    PointIntoPack(*root);
    spool_.reset();
    spoolEnd_ = 0;
    onDisk = true;
    return SaveOutcome::Saved;
}

void CPackArchive::PointIntoPack(CPackFolder& folder) {
    for (auto& entry : folder.files) {
        entry->data.reset();
        entry->stored = packFile_;
        entry->storedOffset = entry->dataOffset + pack::kDataBlockHeaderSize;
    }
    for (auto& child : folder.subfolders)
        PointIntoPack(*child);
}

SaveOutcome CPackArchive::NotSaved(SaveOutcome outcome) {
    if (outcome == SaveOutcome::Incomplete) {
        // The pack on disk is damaged; the tree is what the user has, so it
        // stays for the next save to write again.
        onDisk = false;
        return outcome;
    }
    reloadFailed_ = !RestoreFromDisk();
    return outcome;
}

int CPackArchive::Save() {
    pack::Fault fault;
    const bool wasOnDisk = onDisk;
    const SaveOutcome outcome = SaveQuietly(fault);
    const pack::Fault reloadFault = lastFault;
    switch (outcome) {
        case SaveOutcome::Saved:
            return 1;
        case SaveOutcome::NotOpen:
            return 0;
        case SaveOutcome::Failed:
            Report(fault, WithNames(wasOnDisk ? kSaveFailedKeptText : kSaveFailedText,
                                    {path, fault.Text()}));
            break;
        case SaveOutcome::ReadOnly:
            Report(fault, WithNames(kSaveReadOnlyText, {path}));
            break;
        case SaveOutcome::ChangedOutside:
            Report(fault, WithNames(kChangedOutsideText, {path}));
            break;
        case SaveOutcome::Incomplete:
            Report(fault, WithNames(kSaveFailedInPlaceText, {path, fault.Text()}));
            return 0;
    }
    if (reloadFailed_)
        Report(reloadFault, WithNames(kReloadFailedText, {path, reloadFault.Text()}));
    lastFault = fault;
    return 0;
}

int CPackArchive::SaveAs(const std::string& newPath) {
    if (!IsOpen() || !root || newPath.empty())
        return 0;
    path = newPath;
    onDisk = false;
    return Save();
}

SaveOutcome CPackArchive::SaveAsQuietly(const std::string& newPath, pack::Fault& fault) {
    if (!IsOpen() || !root || newPath.empty())
        return pack::Fail(fault, pack::FaultKind::Io, "no pack is open"), SaveOutcome::NotOpen;
    path = newPath;
    onDisk = false;
    return SaveQuietly(fault);
}

bool CPackArchive::RestoreFromDisk() {
    // The tree goes back to what the file holds, so that the document and
    // the disk agree after a save that did not happen. The shown folder is
    // kept where it still exists.
    std::vector<std::string> trail;
    for (const CPackFolder* f = current; f && f->parent; f = f->parent) {
        const CPackFolder* parent = f->parent;
        for (std::size_t i = 0; i < parent->subfolders.size(); ++i)
            if (parent->subfolders[i].get() == f)
                trail.emplace(trail.begin(), parent->SubfolderName(static_cast<int>(i)));
    }
    current = nullptr;
    root.reset();
    spool_.reset();
    spoolEnd_ = 0;
    fileCount = 0;
    const bool wasOnDisk = onDisk;
    const bool reloaded = onDisk && Load();
    if (!reloaded) {
        root = std::make_unique<CPackFolder>(nullptr);
        fileCount = 0;
        onDisk = false;
    }
    current = root.get();
    for (const std::string& name : trail) {
        const int i = current->FindSubfolder(name);
        if (i < 0)
            break;
        current = current->subfolders[static_cast<std::size_t>(i)].get();
    }
    RefreshList();
    return reloaded || !wasOnDisk;
}

}  // namespace crateforge
