// PackFolder.cpp - the in-memory folder tree.
#include "archive/PackFolder.h"

#include <algorithm>
#include <cstring>

#include "format/Names.h"

namespace crateforge {

std::string NumberedName(std::string_view name, int k, bool beforeExtension) {
    const std::string suffix = " (" + std::to_string(k) + ")";
    const std::size_t dot = beforeExtension ? name.rfind('.') : std::string_view::npos;
    if (dot == std::string_view::npos || dot == 0)
        return std::string(name) + suffix;
    return std::string(name.substr(0, dot)) + suffix + std::string(name.substr(dot));
}

CPackFolder::CPackFolder(CPackFolder* parentFolder) : parent(parentFolder) {}

CPackFolder::~CPackFolder() {
    Clear();
}

int CPackFolder::FindSubfolder(std::string_view name) const {
    for (std::size_t i = 0; i < subfolderNames.size(); ++i)
        if (pack::SameNameIgnoringCase(pack::FieldName(subfolderNames[i]->name), name))
            return static_cast<int>(i);
    return -1;
}

int CPackFolder::FindFile(std::string_view name) const {
    for (std::size_t i = 0; i < files.size(); ++i)
        if (pack::SameNameIgnoringCase(files[i]->Name(), name))
            return static_cast<int>(i);
    return -1;
}

std::string_view CPackFolder::SubfolderName(int i) const {
    return pack::FieldName(subfolderNames[static_cast<std::size_t>(i)]->name);
}

std::uint32_t CPackFolder::SubfolderOriginalTotal(int i) const {
    return subfolders[static_cast<std::size_t>(i)]->totalOriginalSize;
}

std::uint32_t CPackFolder::SubfolderPackedTotal(int i) const {
    return subfolders[static_cast<std::size_t>(i)]->totalPackedSize;
}

std::string_view CPackFolder::FileName(int i) const {
    return files[static_cast<std::size_t>(i)]->Name();
}

std::uint32_t CPackFolder::FileOriginalSize(int i) const {
    return files[static_cast<std::size_t>(i)]->originalSize;
}

std::uint32_t CPackFolder::FilePackedSize(int i) const {
    return files[static_cast<std::size_t>(i)]->packedSize;
}

const PackEntry* CPackFolder::FileAt(int i) const {
    return i >= 0 && static_cast<std::size_t>(i) < files.size()
               ? files[static_cast<std::size_t>(i)].get()
               : nullptr;
}

CPackFolder* CPackFolder::SubfolderAt(int i) const {
    return i >= 0 && static_cast<std::size_t>(i) < subfolders.size()
               ? subfolders[static_cast<std::size_t>(i)].get()
               : nullptr;
}

int CPackFolder::IndexOf(const CPackFolder* child) const {
    for (std::size_t i = 0; i < subfolders.size(); ++i)
        if (subfolders[i].get() == child)
            return static_cast<int>(i);
    return -1;
}

int CPackFolder::Height() const {
    int height = 0;
    for (const auto& child : subfolders)
        height = std::max(height, 1 + child->Height());
    return height;
}

int CPackFolder::Depth() const {
    int depth = 0;
    for (const CPackFolder* f = parent; f; f = f->parent)
        ++depth;
    return depth;
}

std::size_t CPackFolder::FullNameLength() const {
    std::size_t length = 0;
    for (const CPackFolder* f = this; f->parent; f = f->parent) {
        const CPackFolder& up = *f->parent;
        for (std::size_t i = 0; i < up.subfolders.size(); ++i)
            if (up.subfolders[i].get() == f) {
                length += up.SubfolderName(static_cast<int>(i)).size();
                break;
            }
        if (up.parent)
            ++length;  // the separator before this name
    }
    return length;
}

std::size_t CPackFolder::ChildNameLength(std::size_t nameLength) const {
    return pack::FullNameLength(FullNameLength(), parent == nullptr, nameLength);
}

std::size_t CPackFolder::LongestNameInside() const {
    std::size_t longest = 0;
    for (const auto& file : files)
        longest = std::max(longest, file->Name().size());
    for (std::size_t i = 0; i < subfolders.size(); ++i) {
        const std::size_t name = SubfolderName(static_cast<int>(i)).size();
        const std::size_t inside = subfolders[i]->LongestNameInside();
        longest = std::max(longest, inside == 0 ? name : name + 1 + inside);
    }
    return longest;
}

CPackFolder* CPackFolder::AppendSubfolder(std::string_view name) {
    auto record = std::make_unique<pack::FolderRecord>();
    std::memset(record.get(), 0, sizeof(pack::FolderRecord));
    if (!pack::SetFieldName(record->name, name))
        return nullptr;
    subfolderNames.push_back(std::move(record));
    subfolders.push_back(std::make_unique<CPackFolder>(this));
    ++subfolderCount;
    return subfolders.back().get();
}

void CPackFolder::AdjustTotals(std::int64_t deltaOriginal, std::int64_t deltaPacked) {
    // 32-bit counters: adding the two's complement of a negative delta wraps
    // exactly like a subtraction.
    const auto dOriginal = static_cast<std::uint32_t>(deltaOriginal);
    const auto dPacked = static_cast<std::uint32_t>(deltaPacked);
    for (CPackFolder* f = this; f; f = f->parent) {
        f->totalOriginalSize += dOriginal;
        f->totalPackedSize += dPacked;
    }
}

PackEntry* CPackFolder::AppendFile(std::unique_ptr<PackEntry> entry) {
    AdjustTotals(entry->originalSize, entry->packedSize);
    files.push_back(std::move(entry));
    ++fileCount;
    return files.back().get();
}

void CPackFolder::RenameAt(int i, bool isFolder, std::string_view name) {
    if (isFolder)
        pack::SetFieldName(subfolderNames[static_cast<std::size_t>(i)]->name, name);
    else
        files[static_cast<std::size_t>(i)]->SetName(name);
}

std::unique_ptr<PackEntry> CPackFolder::ReleaseFileAt(int i) {
    std::unique_ptr<PackEntry> entry = std::move(files[static_cast<std::size_t>(i)]);
    files.erase(files.begin() + i);
    --fileCount;
    AdjustTotals(-static_cast<std::int64_t>(entry->originalSize),
                 -static_cast<std::int64_t>(entry->packedSize));
    return entry;
}

std::unique_ptr<CPackFolder> CPackFolder::ReleaseSubfolderAt(int i) {
    std::unique_ptr<CPackFolder> folder = std::move(subfolders[static_cast<std::size_t>(i)]);
    subfolders.erase(subfolders.begin() + i);
    subfolderNames.erase(subfolderNames.begin() + i);
    --subfolderCount;
    AdjustTotals(-static_cast<std::int64_t>(folder->totalOriginalSize),
                 -static_cast<std::int64_t>(folder->totalPackedSize));
    folder->parent = nullptr;
    return folder;
}

void CPackFolder::AdoptSubfolder(std::unique_ptr<CPackFolder> folder, std::string_view name) {
    auto record = std::make_unique<pack::FolderRecord>();
    std::memset(record.get(), 0, sizeof(pack::FolderRecord));
    pack::SetFieldName(record->name, name);
    folder->parent = this;
    AdjustTotals(folder->totalOriginalSize, folder->totalPackedSize);
    subfolderNames.push_back(std::move(record));
    subfolders.push_back(std::move(folder));
    ++subfolderCount;
}

int CPackFolder::ReplaceFileAt(int i, std::unique_ptr<PackEntry> entry) {
    std::unique_ptr<PackEntry>& slot = files[static_cast<std::size_t>(i)];
    AdjustTotals(-static_cast<std::int64_t>(slot->originalSize),
                 -static_cast<std::int64_t>(slot->packedSize));
    AdjustTotals(entry->originalSize, entry->packedSize);
    slot = std::move(entry);
    return 1;
}

int CPackFolder::EraseFileAt(int i) {
    const std::unique_ptr<PackEntry>& slot = files[static_cast<std::size_t>(i)];
    AdjustTotals(-static_cast<std::int64_t>(slot->originalSize),
                 -static_cast<std::int64_t>(slot->packedSize));
    files.erase(files.begin() + i);
    --fileCount;
    return 1;
}

namespace {

// Files in a subtree, the top folder's own included.
std::uint32_t FilesInSubtree(const CPackFolder& top) {
    std::uint32_t count = 0;
    std::vector<const CPackFolder*> stack{&top};
    while (!stack.empty()) {
        const CPackFolder* f = stack.back();
        stack.pop_back();
        count += f->FileCount();
        for (int i = 0; i < static_cast<int>(f->SubfolderCount()); ++i)
            stack.push_back(f->SubfolderAt(i));
    }
    return count;
}

}  // namespace

std::uint32_t CPackFolder::EraseSubfolderAt(int i) {
    std::vector<bool> doomed(subfolders.size(), false);
    doomed[static_cast<std::size_t>(i)] = true;
    return EraseSubfolders(doomed);
}

std::uint32_t CPackFolder::EraseFiles(const std::vector<bool>& doomed) {
    std::int64_t original = 0, packed = 0;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i < doomed.size() && doomed[i]) {
            original += files[i]->originalSize;
            packed += files[i]->packedSize;
            files[i].reset();
        } else {
            files[kept++] = std::move(files[i]);
        }
    }
    const auto removed = static_cast<std::uint32_t>(files.size() - kept);
    files.resize(kept);
    fileCount = static_cast<std::uint32_t>(kept);
    AdjustTotals(-original, -packed);
    return removed;
}

std::uint32_t CPackFolder::EraseSubfolders(const std::vector<bool>& doomed) {
    // A subtree's totals are the sums of its files (as 32-bit counters that
    // wrap), so taking them off once equals taking off every file.
    std::int64_t original = 0, packed = 0;
    std::uint32_t removed = 0;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < subfolders.size(); ++i) {
        if (i < doomed.size() && doomed[i]) {
            original += subfolders[i]->totalOriginalSize;
            packed += subfolders[i]->totalPackedSize;
            removed += FilesInSubtree(*subfolders[i]);
            subfolders[i].reset();  // Clear() releases deep trees without recursing
            subfolderNames[i].reset();
        } else {
            subfolders[kept] = std::move(subfolders[i]);
            subfolderNames[kept] = std::move(subfolderNames[i]);
            ++kept;
        }
    }
    subfolders.resize(kept);
    subfolderNames.resize(kept);
    subfolderCount = static_cast<std::uint32_t>(kept);
    AdjustTotals(-original, -packed);
    return removed;
}

void CPackFolder::Clear() {
    files.clear();
    subfolderNames.clear();
    // Release deep trees iteratively: detach every grandchild list into one
    // work list before a child is destroyed, so no destructor recurses far.
    std::vector<std::unique_ptr<CPackFolder>> pending = std::move(subfolders);
    subfolders.clear();
    while (!pending.empty()) {
        std::unique_ptr<CPackFolder> folder = std::move(pending.back());
        pending.pop_back();
        for (auto& child : folder->subfolders)
            pending.push_back(std::move(child));
        folder->subfolders.clear();
    }
    subfolderCount = 0;
    fileCount = 0;
    totalOriginalSize = 0;
    totalPackedSize = 0;
}

std::uint64_t CPackFolder::FolderCountInSubtree() const {
    std::uint64_t count = 0;
    std::vector<const CPackFolder*> stack{this};
    while (!stack.empty()) {
        const CPackFolder* f = stack.back();
        stack.pop_back();
        ++count;
        for (const auto& child : f->subfolders)
            stack.push_back(child.get());
    }
    return count;
}

}  // namespace crateforge
