// ArchiveListing.cpp - the rows of the list view for the shown folder,
// their order, and moving between folders.
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

void CPackArchive::RefreshList() {
    if (!listControl_)
        return;
    listControl_->DeleteAllRows();
    if (!current)
        return;
    // The rows are built whole and handed over at once: a list that redraws
    // per inserted row takes seconds for a folder of tens of thousands.
    const int folderIcon = icons_ ? icons_->FolderIconIndex() : 0;
    std::vector<ListRow> rows;
    rows.reserve((current != root.get() ? 1 : 0) + current->subfolders.size() +
                 current->files.size());
    if (current != root.get())
        rows.push_back({kUpDirName, folderIcon, nullptr, {}});
    for (std::size_t i = 0; i < current->subfolders.size(); ++i) {
        const CPackFolder& sub = *current->subfolders[i];
        rows.push_back({std::string(current->SubfolderName(static_cast<int>(i))),
                        folderIcon,
                        nullptr,
                        {UnsignedText(sub.totalOriginalSize),
                         RatioText(FolderRatio(sub.totalOriginalSize, sub.totalPackedSize)),
                         UnsignedText(sub.totalPackedSize)}});
    }
    for (const auto& file : current->files) {
        PackEntry* entry = file.get();
        rows.push_back({std::string(entry->Name()),
                        icons_ ? icons_->FileIconIndex(entry->Name()) : 0,
                        entry,
                        {UnsignedText(entry->originalSize),
                         RatioText(FileRatio(entry->originalSize, entry->packedSize)),
                         UnsignedText(entry->packedSize)}});
    }
    listControl_->InsertRows(0, rows);
    if (sortColumn != -1)
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
