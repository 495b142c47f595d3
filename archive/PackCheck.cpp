// PackCheck.cpp - the strict rules on top of the shared directory walk.
#include "archive/PackCheck.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "format/EntryDecoder.h"
#include "format/Names.h"
#include "format/PackFormat.h"

namespace crateforge {

namespace {

std::string Where(const pack::Directory& directory, std::uint32_t folder) {
    return folder == 0 ? std::string("the root folder")
                       : "folder " + directory.FolderPath(folder, '/');
}

// A name that extraction would refuse or change.
bool CheckDiskName(std::string_view name, std::uint64_t at, pack::Fault& fault) {
    pack::DiskPath path;
    std::string why = pack::ToDiskPath(name, path);
    if (why.empty() && path.droppedLeading)
        why = "it begins with a separator";
    if (why.empty())
        return true;
    return pack::Damaged(
        fault, "the name \"" + std::string(name) + "\" cannot be written to disk: " + why, at);
}

// Name fields padded with zeros, and every name one that extraction writes
// as it is.
bool CheckNames(const pack::Directory& directory, pack::Fault& fault) {
    if (directory.padding != pack::kNoOffset)
        return pack::Damaged(fault, "a name field with bytes after its terminator",
                             directory.padding);
    for (std::uint32_t i = 1; i < directory.folders.size(); ++i)
        if (!CheckDiskName(directory.FolderName(i), directory.folders[i].recordOffset, fault))
            return false;
    for (std::size_t i = 0; i < directory.files.size(); ++i)
        if (!CheckDiskName(directory.FileName(i), directory.files[i].recordOffset, fault))
            return false;
    return true;
}

// Byte ranges of the file, and who claims them.
struct Claim {
    std::uint64_t begin, end;
    std::size_t file;
};

// The first claim that shares a byte with another one, as (earlier, later)
// in file order; false when they are all apart.
bool FirstShared(std::vector<Claim> claims, Claim& earlier, Claim& later) {
    std::sort(claims.begin(), claims.end(),
              [](const Claim& a, const Claim& b) { return a.begin < b.begin; });
    std::size_t reach = 0;  // the claim that ends furthest so far
    for (std::size_t i = 1; i < claims.size(); ++i) {
        if (claims[i].begin < claims[reach].end) {
            earlier = claims[reach];
            later = claims[i];
            return true;
        }
        if (claims[i].end > claims[reach].end)
            reach = i;
    }
    return false;
}

// Where the data of a "2.10" pack lies: after the directory, every block
// apart from the others. (Readers take blocks anywhere in the file.)
bool CheckDataPlaces(const pack::Directory& directory, pack::Fault& fault) {
    std::vector<Claim> claims;
    claims.reserve(directory.files.size());
    for (std::size_t i = 0; i < directory.files.size(); ++i) {
        const pack::DirectoryFile& f = directory.files[i];
        if (f.blockOffset < directory.directoryEnd)
            return pack::Damaged(fault,
                                 directory.FullName(i, '/') +
                                     ": its data block lies inside the header or the directory",
                                 f.recordOffset + pack::kNameFieldSize);
        claims.push_back({f.blockOffset, f.dataOffset + f.packedSize, i});
    }
    Claim a{}, b{};
    if (FirstShared(claims, a, b))
        return pack::Damaged(fault,
                             directory.FullName(b.file, '/') +
                                 ": its data block shares bytes with "
                                 "that of " +
                                 directory.FullName(a.file, '/'),
                             directory.files[b.file].recordOffset + pack::kNameFieldSize);
    return true;
}

// A "1.03" pack: every entry record after the offset table, and the entries
// taken over (record and stored bytes) apart from each other.
bool CheckOldEntries(const pack::Directory& directory, pack::Fault& fault) {
    std::vector<Claim> claims;
    claims.reserve(directory.files.size());
    for (std::size_t i = 0; i < directory.files.size(); ++i) {
        const pack::DirectoryFile& f = directory.files[i];
        if (f.recordOffset < directory.directoryEnd)
            return pack::Damaged(fault,
                                 directory.FileName(i).empty()
                                     ? "an entry record inside the header or the offset table"
                                     : std::string(directory.FileName(i)) +
                                           ": its record lies inside the header or the offset "
                                           "table",
                                 f.recordOffset);
        claims.push_back({f.recordOffset, f.dataOffset + f.packedSize, i});
    }
    Claim a{}, b{};
    if (FirstShared(claims, a, b))
        return pack::Damaged(fault,
                             std::string(directory.FileName(b.file)) +
                                 ": its entry shares bytes with that of " +
                                 std::string(directory.FileName(a.file)),
                             directory.files[b.file].recordOffset);
    return true;
}

// Reserved header bytes, block offsets, subtree sizes and unique names.
bool CheckFolders(const pack::Directory& directory, pack::Fault& fault) {
    for (std::size_t i = 0; i < sizeof directory.headerReserved; ++i)
        if (directory.headerReserved[i] != 0)
            return pack::Damaged(fault, "the header's reserved bytes are not zero",
                                 pack::kTagSize * 2 + i);

    // The subfolders of each folder, in record order (pre-order keeps it).
    std::vector<std::vector<std::uint32_t>> children(directory.folders.size());
    for (std::uint32_t i = 1; i < directory.folders.size(); ++i)
        children[directory.folders[i].parent].push_back(i);

    for (std::uint32_t i = 0; i < directory.folders.size(); ++i) {
        const pack::PackDirectory& folder = directory.folders[i];
        std::unordered_set<std::string> seen;
        for (std::uint32_t child : children[i]) {
            const std::string_view name = directory.FolderName(child);
            if (!seen.insert(pack::FoldedName(name)).second)
                return pack::Damaged(fault,
                                     "the name \"" + std::string(name) + "\" appears twice in " +
                                         Where(directory, i),
                                     directory.folders[child].recordOffset);
        }
        seen.clear();
        for (std::uint32_t f = folder.firstFile; f < folder.firstFile + folder.fileCount; ++f) {
            const std::string_view name = directory.FileName(f);
            if (!seen.insert(pack::FoldedName(name)).second)
                return pack::Damaged(fault,
                                     "the name \"" + std::string(name) + "\" appears twice in " +
                                         Where(directory, i),
                                     directory.files[f].recordOffset);
        }
        if (i > 0 && folder.recordedBlockOffset != folder.blockOffset)
            return pack::Damaged(fault,
                                 Where(directory, i) + ": its block offset is " +
                                     std::to_string(folder.recordedBlockOffset) +
                                     " but its block starts at " +
                                     std::to_string(folder.blockOffset),
                                 folder.recordOffset + pack::kNameFieldSize);
        const std::uint64_t taken = folder.subtreeEnd - folder.blockOffset;
        if (folder.subtreeSize != taken)
            return pack::Damaged(fault,
                                 Where(directory, i) + ": its subtree size is " +
                                     std::to_string(folder.subtreeSize) + " but its blocks take " +
                                     std::to_string(taken) + " bytes",
                                 folder.blockOffset);
    }
    return true;
}

// Every entry's claim; for "2.10" also the data region's exact layout.
bool CheckEntries(const pack::Directory& directory, pack::Fault& fault) {
    const bool current = directory.version == pack::PackVersion::Current;
    std::uint64_t expected = directory.directoryEnd;
    for (std::size_t i = 0; i < directory.files.size(); ++i) {
        const pack::DirectoryFile& f = directory.files[i];
        const std::string path = directory.FullName(i, '/');
        if (current && f.blockOffset != expected)
            return pack::Damaged(fault,
                                 path + ": its data offset is " + std::to_string(f.blockOffset) +
                                     " but its data block starts at " + std::to_string(expected),
                                 f.recordOffset + pack::kNameFieldSize);
        if (!pack::CheckEntryClaim({f.method, f.originalSize, f.packedSize}, fault)) {
            // Where the claim lies: the method byte, or the sizes.
            const std::uint64_t at = !current ? f.recordOffset + pack::kOldNameFieldSize
                                     : pack::IsKnownMethod(f.method) ? f.blockOffset
                                                                     : f.blockOffset + 2 * 4;
            return pack::Damaged(fault, path + ": " + fault.reason, at);
        }
        expected = f.dataOffset + f.packedSize;
    }
    if (current && expected != directory.fileSize)
        return pack::Damaged(
            fault,
            std::to_string(directory.fileSize - expected) + " bytes follow the last data block",
            expected);
    return true;
}

// Takes decoded bytes and keeps nothing.
class DiscardSink final : public pack::ByteSink {
  public:
    bool Write(const unsigned char*, std::size_t) override { return true; }
};

}  // namespace

bool CheckPackStructure(pack::ByteSource& source, pack::Directory& directory, pack::Fault& fault) {
    if (!pack::ReadDirectory(source, directory, fault) || !CheckNames(directory, fault))
        return false;
    if (directory.version == pack::PackVersion::Current) {
        if (!CheckFolders(directory, fault) || !CheckDataPlaces(directory, fault))
            return false;
    } else if (!CheckOldEntries(directory, fault)) {
        return false;
    }
    return CheckEntries(directory, fault);
}

bool CheckEntryData(pack::ByteSource& source, const pack::Directory& directory, std::size_t index,
                    pack::Fault& fault) {
    const pack::DirectoryFile& f = directory.files[index];
    DiscardSink sink;
    if (pack::StreamEntry(source, f.dataOffset, {f.method, f.originalSize, f.packedSize}, sink,
                          fault))
        return true;
    fault.reason = directory.FullName(index, '/') + ": " + fault.reason;
    return false;
}

bool CheckPack(const std::string& path, pack::Directory& directory, pack::Fault& fault) {
    pack::FileSource source;
    if (!source.Open(path, fault) || !CheckPackStructure(source, directory, fault))
        return false;
    for (std::size_t i = 0; i < directory.files.size(); ++i)
        if (!CheckEntryData(source, directory, i, fault))
            return false;
    return true;
}

}  // namespace crateforge
