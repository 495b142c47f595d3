// ArchiveListing.cpp - the rows of the list view for the shown folder,
// their order, and moving between folders.
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "archive/PackArchive.h"

namespace crateforge {

namespace {

std::string UnsignedText(std::uint32_t value) {
    return std::to_string(value);
}

std::string RatioText(std::int64_t ratio) {
    return std::to_string(ratio) + "%";
}

}  // namespace

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

// ---- The rows ---------------------------------------------------------------

int CFolderRows::RowCount() const {
    const CPackFolder* current = archive_.current;
    if (current == nullptr)
        return 0;
    const std::uint64_t count = (current != archive_.root.get() ? 1u : 0u) +
                                std::uint64_t{current->SubfolderCount()} + current->FileCount();
    return static_cast<int>(std::min<std::uint64_t>(count, INT_MAX));
}

RowKey CFolderRows::KeyAt(int position) const {
    const CPackFolder* current = archive_.current;
    if (current == nullptr || position < 0)
        return RowKey();
    auto at = static_cast<std::uint32_t>(position);
    if (current != archive_.root.get()) {
        if (at == 0)
            return RowKey::Parent();
        --at;
    }
    if (at < current->SubfolderCount())
        return RowKey::Folder(at);
    at -= current->SubfolderCount();
    return at < current->FileCount() ? RowKey::File(at) : RowKey();
}

std::string_view CFolderRows::Name(RowKey key) const {
    const CPackFolder* current = archive_.current;
    if (current == nullptr)
        return {};
    const auto i = static_cast<int>(key.Index());
    if (key.IsParent())
        return current != archive_.root.get() ? std::string_view(kUpDirName) : std::string_view();
    if (key.IsFolder() && key.Index() < current->SubfolderCount())
        return current->SubfolderName(i);
    if (key.IsFile() && key.Index() < current->FileCount())
        return current->FileName(i);
    return {};
}

std::string CFolderRows::CellText(RowKey key, int column) const {
    const CPackFolder* current = archive_.current;
    if (current == nullptr || column < 1 || column > 3)
        return {};
    const auto i = static_cast<int>(key.Index());
    std::uint32_t original = 0, packed = 0;
    std::int64_t ratio = 0;
    if (key.IsFolder() && key.Index() < current->SubfolderCount()) {
        original = current->SubfolderOriginalTotal(i);
        packed = current->SubfolderPackedTotal(i);
        ratio = CPackArchive::FolderRatio(original, packed);
    } else if (key.IsFile() && key.Index() < current->FileCount()) {
        original = current->FileOriginalSize(i);
        packed = current->FilePackedSize(i);
        ratio = CPackArchive::FileRatio(original, packed);
    } else {
        return {};  // the ".." row has sizes of its own
    }
    switch (column) {
        case 1:
            return UnsignedText(original);
        case 2:
            return RatioText(ratio);
        default:
            return UnsignedText(packed);
    }
}

int CFolderRows::IconIndex(RowKey key) const {
    IconProvider* icons = archive_.icons_;
    if (icons == nullptr)
        return 0;
    if (key.IsFile())
        return icons->FileIconIndex(Name(key));
    return icons->FolderIconIndex();
}

// ---- Listing and sorting ------------------------------------------------------

void CPackArchive::RefreshList() {
    if (!listControl_)
        return;
    // The list reads the rows when it draws them; a folder of a million
    // files is shown without a text made for any row out of sight.
    listControl_->ShowRows(current ? &rows_ : nullptr);
    if (current && sortColumn != -1)
        listControl_->SortRows([this](RowKey a, RowKey b) { return CompareRows(a, b); });
}

const PackEntry* CPackArchive::FileAt(RowKey key) const {
    if (!current || !key.IsFile())
        return nullptr;
    return current->FileAt(static_cast<int>(key.Index()));
}

int CPackArchive::CompareRows(RowKey a, RowKey b) const {
    return CompareRows(FileAt(a), FileAt(b));
}

int CPackArchive::CompareRows(const PackEntry* a, const PackEntry* b) const {
    // Rows without an entry (folders, "..") are equal among themselves, so
    // the sort keeps their listing order and stays a strict weak ordering.
    if (!a && !b)
        return 0;
    if (!a)
        return -1;
    if (!b)
        return 1;
    if (sortDirection != 1)
        std::swap(a, b);
    auto three = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    switch (sortColumn) {
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

std::uint32_t CPackArchive::RemoveRows(const std::vector<RowKey>& keys) {
    if (!IsOpen() || !current)
        return 0;
    // One flag per file and folder, then one pass over each list: removing
    // row by row would search and shift the folder once per row.
    std::vector<bool> files(current->FileCount(), false);
    std::vector<bool> folders(current->SubfolderCount(), false);
    bool anyFile = false, anyFolder = false;
    for (RowKey key : keys) {
        if (key.IsFile() && key.Index() < files.size())
            anyFile = files[key.Index()] = true;
        else if (key.IsFolder() && key.Index() < folders.size())
            anyFolder = folders[key.Index()] = true;
    }
    std::uint32_t removed = 0;
    if (anyFile)
        removed += current->EraseFiles(files);
    if (anyFolder)
        removed += current->EraseSubfolders(folders);
    fileCount -= removed;
    return removed;
}

void CPackArchive::SortByColumn(int column) {
    if (column != sortColumn) {
        sortColumn = column;
        sortDirection = 1;
    } else {
        sortDirection = sortDirection == 1 ? 2 : 1;
    }
    RefreshList();
}

void CPackArchive::SetSortState(int column, int direction) {
    sortColumn = column;
    sortDirection = direction;
}

void CPackArchive::EnterFolderAt(int index) {
    if (!current || index < 0 || index >= static_cast<int>(current->subfolders.size()))
        return;
    current = current->subfolders[static_cast<std::size_t>(index)].get();
    RefreshList();
}

void CPackArchive::EnterFolder(const std::string& name) {
    if (current)
        EnterFolderAt(current->FindSubfolder(name));
}

void CPackArchive::GoUp() {
    if (current && current->parent) {
        current = current->parent;
        RefreshList();
    }
}

}  // namespace crateforge
