// PackArchive.cpp - the document's construction, state and its one edge
// where failures become messages. The other sections live beside it:
//   ArchiveLoad.cpp       Open, Load, ConvertOldPack
//   ArchiveSave.cpp       Save and the writing of a pack
//   ArchiveContent.cpp    adding, removing and renaming
//   ArchiveListing.cpp    the list rows, sorting and navigation
//   ArchiveWorkspace.cpp  writing entries into the temporary workspace
#include "archive/PackArchive.h"

#include "archive/EntryCoding.h"
#include "format/PackFormat.h"
#include "platform/AtomicFile.h"

namespace crateforge {

CPackArchive::CPackArchive(MessageService* owner, ListControl* list, ProgressControl* progress,
                           IconProvider* icons)
    : ownerWindow_(owner), listControl_(list), progressControl_(progress), icons_(icons) {
    BindProgressControl(progress);
}

CPackArchive::~CPackArchive() {
    // Leave a binding made by another document alone.
    if (BoundProgressControl() == progressControl_)
        BindProgressControl(nullptr);
    // The list reads the rows from this document: it must not outlive it.
    if (listControl_ && listControl_->Source() == &rows_)
        listControl_->DeleteAllRows();
    ownerWindow_ = nullptr;
    listControl_ = nullptr;
    progressControl_ = nullptr;
    root.reset();
}

void CPackArchive::SetProgressControl(ProgressControl* bar) {
    progressControl_ = bar;
    BindProgressControl(bar);
}

void CPackArchive::Report(const pack::Fault& fault, const std::string& text) {
    lastFault = fault;
    if (ownerWindow_)
        ownerWindow_->ShowMessage(kAppCaption, text, MessageButtons::Ok);
}

int CPackArchive::Refuse(std::string reason, const std::string& text) {
    pack::Fault fault;
    pack::Fail(fault, pack::FaultKind::Io, std::move(reason));
    Report(fault, text);
    return 0;
}

int CPackArchive::CreateNew(const std::string& newPath) {
    root = std::make_unique<CPackFolder>(nullptr);
    current = root.get();
    path = newPath;
    fileCount = 0;
    onDisk = false;
    packFile_.reset();
    spool_.reset();
    spoolEnd_ = 0;
    stream_.reset();
    streamFile_.reset();
    return 1;
}

std::uint64_t CPackArchive::DirectoryEndWith(std::uint64_t moreFiles) const {
    if (!root)
        return 0;
    const std::uint64_t folders = root->FolderCountInSubtree();
    return pack::kPackHeaderSize + pack::kFolderBlockHeaderSize * folders +
           pack::kFolderRecordSize * (folders - 1) +
           pack::kFileRecordSize * (std::uint64_t{fileCount} + moreFiles);
}

std::uint64_t CPackArchive::PackSize() const {
    if (!root)
        return 0;
    return DirectoryEndWith(0) + pack::kDataBlockHeaderSize * std::uint64_t{fileCount} +
           root->totalPackedSize;
}

}  // namespace crateforge
