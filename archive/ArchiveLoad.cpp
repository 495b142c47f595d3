// ArchiveLoad.cpp - opening a pack: recognising its version, loading a
// "2.10" pack and converting a "1.03" one, all on the format core's one
// directory walker and entry decoder.
#include <fcntl.h>

#include <cerrno>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "archive/EntryCoding.h"
#include "archive/PackArchive.h"
#include "format/ByteSource.h"
#include "format/EntryDecoder.h"
#include "format/Names.h"
#include "format/PackDirectory.h"
#include "format/PackFormat.h"
#include "platform/FileLock.h"

namespace crateforge {

namespace {

// The version whose whole header `file` begins with (pack::ProbeVersion);
// None when it cannot be opened.
pack::PackVersion VersionOf(const std::string& file) {
    pack::FileSource source;
    pack::Fault fault;
    return source.Open(file, fault) ? pack::ProbeVersion(source) : pack::PackVersion::None;
}

}  // namespace

bool CPackArchive::IsCurrentPack(const std::string& file) {
    return VersionOf(file) == pack::PackVersion::Current;
}

bool CPackArchive::IsOldPack(const std::string& file) {
    return VersionOf(file) == pack::PackVersion::Old;
}

int CPackArchive::Open(const std::string& file) {
    root.reset();
    current = nullptr;
    path.clear();
    fileCount = 0;
    onDisk = false;
    packFile_.reset();

    const pack::PackVersion version = VersionOf(file);
    if (version == pack::PackVersion::None)
        return 0;
    if (version == pack::PackVersion::Current) {
        path = file;
        if (!Load()) {
            path.clear();
            Report(lastFault, WithNames(kOpenFailedText, {file, lastFault.Text()}));
            return 0;
        }
        return 1;
    }
    if (!ownerWindow_ || ownerWindow_->ShowMessage(kWarningCaption, kOldPackQuestion,
                                                   MessageButtons::YesNo) != MessageAnswer::Yes)
        return 0;
    path = file;
    if (!ConvertOldPack()) {
        path.clear();
        return 0;
    }
    path = pack::ConvertedPackPath(file);
    onDisk = false;
    if (!Save()) {
        root.reset();
        current = nullptr;
        path.clear();
        fileCount = 0;
        if (listControl_)
            listControl_->DeleteAllRows();
        return 0;
    }
    return 1;
}

int CPackArchive::Load() {
    // Our own saves wait while the pack is read (a pack that cannot be
    // locked is read all the same).
    fs::FileLock lock;
    lock.Acquire(path, false);
    pack::FileSource source;
    pack::Directory directory;
    pack::Fault fault;
    if (!source.Open(path, fault) ||
        !pack::ReadDirectory(source, pack::PackVersion::Current, directory, fault)) {
        lastFault = fault;
        return 0;
    }
    // A save writes every entry's stored bytes apart: blocks that share bytes in the file (readers
    // allow it) must still fit a pack once written apart, which also bounds what the copies cost.
    std::uint64_t written = directory.directoryEnd;
    for (const pack::DirectoryFile& f : directory.files)
        written += pack::kDataBlockHeaderSize + std::uint64_t{f.packedSize};
    if (written > pack::kMaxPackSize) {
        pack::Damaged(lastFault,
                      "data blocks that share bytes and would not fit a PackFile written apart",
                      pack::kRootBlockOffset);
        return 0;
    }
    // The stored bytes stay in the file, read when they are needed (view,
    // extract, a save copies them); the file stays open for that.
    const int fd = fcntl(source.Descriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        pack::Fail(lastFault, pack::FaultKind::Io, pack::ErrnoText(errno));
        return 0;
    }
    auto stored = std::make_shared<const StoredFile>(fd);
    // The walker has checked the structure; the tree is built in its order
    // (folders in pre-order, so a parent always comes before its children).
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
        entry->stored = stored;
        entry->storedOffset = static_cast<std::uint32_t>(f.dataOffset);
        folders[f.folder]->AppendFile(std::move(entry));
    }
    root = std::move(tree);
    current = root.get();
    fileCount = directory.headerFileCount;
    onDisk = true;
    diskIdentity_ = source.Identity();
    packFile_ = std::move(stored);
    RefreshList();
    return 1;
}

int CPackArchive::ConvertOldPack() {
    const std::string packPath = path;
    // A conversion that is refused keeps nothing, so it has stored nothing
    // uncompressed either.
    const CodingFallbacks fallbacksBefore = codingFallbacks_;
    auto refuse = [&](const pack::Fault& fault, const std::string& reason) {
        codingFallbacks_ = fallbacksBefore;
        Report(fault, WithNames(kConvertFailedText, {packPath, reason}));
        return 0;
    };
    pack::FileSource source;
    pack::Directory directory;
    pack::Fault fault;
    if (!source.Open(packPath, fault) ||
        !pack::ReadDirectory(source, pack::PackVersion::Old, directory, fault))
        return refuse(fault, fault.Text());

    auto tree = std::make_unique<CPackFolder>(nullptr);
    // The converted pack must stay below 4 GiB like any other; its size is
    // known entry by entry, so an old pack that cannot fit stops early.
    std::uint64_t packSize = pack::kEmptyPackSize;
    // Names taken so far (folded) and the next number to try per name, so
    // that many equal names cost no more than distinct ones.
    std::unordered_set<std::string> taken;
    std::unordered_map<std::string, int> nextNumber;
    std::vector<ConversionRename> renames;
    for (std::size_t i = 0; i < directory.files.size(); ++i) {
        const pack::DirectoryFile& f = directory.files[i];
        const std::string name(directory.FileName(i));
        pack::DecodedBytes content;
        if (!pack::LoadEntry(source, f.dataOffset, {f.method, f.originalSize, f.packedSize},
                             content, fault))
            return refuse(fault, WithNames(kConvertEntryReason, {name, fault.Text()}));

        // Names equal but for case would hide each other from commands that
        // work by name: the later ones get " (2)", " (3)", ...
        std::string unique = name;
        if (taken.count(pack::FoldedName(name))) {
            int& k = nextNumber.try_emplace(pack::FoldedName(name), 2).first->second;
            do
                unique = NumberedName(name, k++, true);
            while (taken.count(pack::FoldedName(unique)));
            renames.push_back({i, name, unique});
        }
        // The old name is kept byte for byte, whatever it holds ("maps\\x.map"
        // stays one name in the root): hosts find the files by it.
        auto entry = std::make_unique<PackEntry>();
        entry->SetName(unique);
        taken.insert(pack::FoldedName(unique));
        entry->originalSize = f.originalSize;

        if (progressControl_) {
            progressControl_->SetPosition(0);
            progressControl_->SetRange(0, f.packedSize);
        }
        ProgressAccumulator = 0.0f;
        codec::GzError error;
        if (!CompressEntry(std::move(content), *entry, BoundGzProgress(), &error))
            NoteCodingFallback(unique, error.reason);
        if (progressControl_)
            progressControl_->SetPosition(0);
        packSize += pack::kFileRecordSize + pack::kDataBlockHeaderSize + entry->packedSize;
        if (packSize > pack::kMaxPackSize) {
            pack::Fail(fault, pack::FaultKind::Io, kConvertTooLargeReason);
            return refuse(fault, kConvertTooLargeReason);
        }
        tree->AppendFile(std::move(entry));
    }
    root = std::move(tree);
    current = root.get();
    fileCount = static_cast<std::uint32_t>(directory.files.size());
    conversionRenames_ = std::move(renames);
    onDisk = false;
    RefreshList();
    return 1;
}

}  // namespace crateforge
