// PackCheck.cpp - strict walk over a whole pack file.
#include "archive/PackCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <span>
#include <string_view>
#include <unordered_set>

#include "archive/EntryData.h"
#include "archive/PackEntry.h"
#include "archive/PackFolder.h"
#include "codec/Lzrw.h"
#include "format/PackFormat.h"
#include "platform/FileSystem.h"

namespace crateforge {

namespace {

constexpr std::uint64_t kMaxPackSize = UINT32_MAX;
// The block header and one partial group add a little to the codec's bound.
constexpr std::uint64_t kLzrwMaxExpansion = codec::LzrwMaxExpansion;
constexpr std::uint64_t kLzrwSlack = 64;

std::string Lower(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool PreadAll(int fd, std::uint64_t offset, void* buffer, std::size_t length) {
    auto* p = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = pread(fd, p + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

class Walker {
  public:
    Walker(int fd, std::uint64_t size, PackStructure& out, PackCheckFault& fault)
        : fd_(fd), size_(size), out_(out), fault_(fault) {}

    bool CheckCurrent();
    bool CheckOld();

  private:
    bool Fail(std::uint64_t offset, std::string reason) {
        fault_.offset = offset;
        fault_.reason = std::move(reason);
        return false;
    }
    bool Fits(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    bool Read(std::uint64_t offset, void* buffer, std::size_t length) {
        return Fits(offset, length) && PreadAll(fd_, offset, buffer, length);
    }
    template <class Record>
    bool ReadRecord(std::uint64_t offset, Record& record) {
        std::uint8_t bytes[sizeof(Record)];
        return Read(offset, bytes, sizeof bytes) &&
               pack::Read(std::span<const std::uint8_t>(bytes, sizeof bytes), 0, record);
    }
    // Checks one name field of a directory record; `seen` holds the names
    // of the same kind met so far in the folder.
    bool CheckName(const char* field, std::uint64_t offset, const std::string& folderPath,
                   std::unordered_set<std::string>& seen, std::string& name);
    bool Folder(const std::string& prefix, int depth);
    bool CheckSizes(const CheckedEntry& e, std::uint64_t sizeFieldOffset);

    int fd_;
    std::uint64_t size_;
    PackStructure& out_;
    PackCheckFault& fault_;
    std::uint64_t position_ = pack::kRootBlockOffset;
    std::vector<std::uint32_t> recordedDataOffsets_;
};

std::string Where(const std::string& folderPath) {
    return folderPath.empty() ? std::string("the root folder") : "folder " + folderPath;
}

bool Walker::CheckName(const char* field, std::uint64_t offset, const std::string& folderPath,
                       std::unordered_set<std::string>& seen, std::string& name) {
    const void* end = std::memchr(field, 0, pack::kNameFieldSize);
    if (!end)
        return Fail(offset, "a name in " + Where(folderPath) + " is not zero-terminated");
    name.assign(field, static_cast<const char*>(end));
    if (name.empty())
        return Fail(offset, "a name in " + Where(folderPath) + " is empty");
    if (!IsSafeEntryName(name))
        return Fail(offset, "the name \"" + name + "\" in " + Where(folderPath) +
                                " cannot be used as a file name");
    if (!seen.insert(Lower(name)).second)
        return Fail(offset, "the name \"" + name + "\" appears twice in " + Where(folderPath));
    return true;
}

bool Walker::CheckSizes(const CheckedEntry& e, std::uint64_t sizeFieldOffset) {
    if (e.method == static_cast<std::uint8_t>(pack::PackMethod::Stored) &&
        e.packedSize != e.originalSize)
        return Fail(sizeFieldOffset, e.path + ": a stored entry of " +
                                         std::to_string(e.originalSize) + " bytes holds " +
                                         std::to_string(e.packedSize));
    if (e.method == static_cast<std::uint8_t>(pack::PackMethod::Lzrw3a) &&
        !LzrwSizePlausible(e.originalSize, e.packedSize))
        return Fail(sizeFieldOffset, e.path + ": an LZRW3-A block of " +
                                         std::to_string(e.packedSize) + " bytes cannot hold " +
                                         std::to_string(e.originalSize));
    return true;
}

bool Walker::Folder(const std::string& prefix, int depth) {
    const std::uint64_t start = position_;
    if (depth > kMaxFolderDepth)
        return Fail(
            start, "the folders are nested more than " + std::to_string(kMaxFolderDepth) + " deep");
    pack::FolderBlockHeader header;
    if (!ReadRecord(start, header))
        return Fail(start, "the block of " + Where(prefix) + " lies past the end of the file");
    const std::uint64_t blockSize = pack::FolderBlockSize(header.folderCount, header.fileCount);
    if (!Fits(start, blockSize))
        return Fail(start, "the block of " + Where(prefix) + " (" +
                               std::to_string(header.folderCount) + " folders, " +
                               std::to_string(header.fileCount) +
                               " files) runs past the end of the file");
    position_ = start + blockSize;

    std::vector<std::string> folderNames;
    std::vector<std::uint32_t> blockOffsets;
    std::unordered_set<std::string> seen;
    for (std::uint32_t i = 0; i < header.folderCount; ++i) {
        const std::uint64_t at = start + pack::kFolderBlockHeaderSize + pack::kFolderRecordSize * i;
        pack::FolderRecord record;
        std::string name;
        if (!ReadRecord(at, record))
            return Fail(at, "a folder record cannot be read");
        if (!CheckName(record.name, at, prefix, seen, name))
            return false;
        folderNames.push_back(std::move(name));
        blockOffsets.push_back(record.blockOffset);
    }
    seen.clear();
    const std::uint64_t filesAt =
        start + pack::kFolderBlockHeaderSize + pack::kFolderRecordSize * header.folderCount;
    for (std::uint32_t i = 0; i < header.fileCount; ++i) {
        const std::uint64_t at = filesAt + pack::kFileRecordSize * i;
        pack::FileRecord record;
        std::string name;
        if (!ReadRecord(at, record))
            return Fail(at, "a file record cannot be read");
        if (!CheckName(record.name, at, prefix, seen, name))
            return false;
        out_.entries.push_back(CheckedEntry{prefix + name, at, 0, 0, 0, 0});
        recordedDataOffsets_.push_back(record.dataOffset);
    }
    for (std::uint32_t i = 0; i < header.folderCount; ++i) {
        const std::uint64_t recordAt =
            start + pack::kFolderBlockHeaderSize + pack::kFolderRecordSize * i;
        const std::string path = prefix + folderNames[i];
        if (blockOffsets[i] != position_)
            return Fail(recordAt + pack::kNameFieldSize,
                        "folder " + path + ": its block offset is " +
                            std::to_string(blockOffsets[i]) + " but its block starts at " +
                            std::to_string(position_));
        ++out_.folderCount;
        if (!Folder(path + "/", depth + 1))
            return false;
    }
    if (header.subtreeSize != position_ - start)
        return Fail(start, Where(prefix) + ": its subtree size is " +
                               std::to_string(header.subtreeSize) + " but its blocks take " +
                               std::to_string(position_ - start) + " bytes");
    return true;
}

bool Walker::CheckCurrent() {
    pack::PackHeader header;
    if (!ReadRecord(0, header) || !pack::IsCurrentPack(header))
        return Fail(0, "not a PackFile of version 2.10");
    if (size_ > kMaxPackSize)
        return Fail(kMaxPackSize + 1, "the file is 4 GiB or larger");
    out_.version = "2.10";
    if (!Folder("", 0))
        return false;
    if (header.fileCount != out_.entries.size())
        return Fail(16, "the header counts " + std::to_string(header.fileCount) +
                            " files but the folders hold " + std::to_string(out_.entries.size()));
    std::uint64_t data = position_;
    for (std::size_t i = 0; i < out_.entries.size(); ++i) {
        CheckedEntry& e = out_.entries[i];
        if (recordedDataOffsets_[i] != data)
            return Fail(e.recordOffset + pack::kNameFieldSize,
                        e.path + ": its data offset is " + std::to_string(recordedDataOffsets_[i]) +
                            " but its data block starts at " + std::to_string(data));
        pack::DataBlockHeader block;
        if (!ReadRecord(data, block))
            return Fail(data, e.path + ": its data block lies past the end of the file");
        e.originalSize = block.originalSize;
        e.packedSize = block.packedSize;
        e.method = block.method;
        if (!pack::IsKnownMethod(block.method))
            return Fail(data + 8, e.path + ": unknown method " + std::to_string(block.method));
        if (!CheckSizes(e, data))
            return false;
        e.dataOffset = data + pack::kDataBlockHeaderSize;
        if (!Fits(e.dataOffset, block.packedSize))
            return Fail(data + 4, e.path + ": its " + std::to_string(block.packedSize) +
                                      " stored bytes run past the end of the file");
        data = e.dataOffset + block.packedSize;
    }
    if (data != size_)
        return Fail(data, std::to_string(size_ - data) + " bytes follow the last data block");
    return true;
}

bool Walker::CheckOld() {
    pack::OldPackHeader header;
    if (!ReadRecord(0, header) || !pack::IsOldPack(header))
        return Fail(0, "not a PackFile of version 1.03");
    if (size_ > kMaxPackSize)
        return Fail(kMaxPackSize + 1, "the file is 4 GiB or larger");
    out_.version = "1.03";
    const std::uint64_t tableEnd =
        pack::kOldPackHeaderSize + std::uint64_t{pack::kOldEntryOffsetSize} * header.fileCount;
    if (tableEnd > size_)
        return Fail(8, "the table of " + std::to_string(header.fileCount) +
                           " entry offsets runs past the end of the file");
    for (std::uint32_t i = 0; i < header.fileCount; ++i) {
        const std::uint64_t slot = pack::kOldPackHeaderSize + std::uint64_t{4} * i;
        std::uint8_t bytes[4];
        std::uint32_t offset = 0;
        if (!Read(slot, bytes, sizeof bytes) || !pack::ReadU32(bytes, 0, offset))
            return Fail(slot, "an entry offset cannot be read");
        const std::string number = "entry " + std::to_string(i + 1);
        if (offset < tableEnd)
            return Fail(slot, number + ": its record offset " + std::to_string(offset) +
                                  " points into the header");
        pack::OldEntryRecord record;
        if (!ReadRecord(offset, record))
            return Fail(slot, number + ": its record at " + std::to_string(offset) +
                                  " lies past the end of the file");
        if (record.entryCode >= pack::kOldFirstSkippedEntryCode)
            continue;  // not taken over by any reader
        const std::string name(pack::FieldName(record.name));
        if (name.empty())
            return Fail(offset, number + ": its name is empty");
        if (!IsSafeEntryName(name))
            return Fail(offset, "the name \"" + name + "\" cannot be used as a file name");
        CheckedEntry e{name,
                       offset,
                       std::uint64_t{offset} + pack::kOldEntryRecordSize,
                       record.originalSize,
                       record.packedSize,
                       static_cast<std::uint8_t>(pack::OldEntryMethod(record.flags))};
        if (!CheckSizes(e, std::uint64_t{offset} + pack::kOldNameFieldSize))
            return false;
        if (!Fits(e.dataOffset, e.packedSize))
            return Fail(std::uint64_t{offset} + pack::kOldNameFieldSize,
                        name + ": its " + std::to_string(e.packedSize) +
                            " stored bytes run past the end of the file");
        out_.entries.push_back(std::move(e));
    }
    return true;
}

}  // namespace

bool LzrwSizePlausible(std::uint64_t originalSize, std::uint64_t packedSize) {
    return originalSize <= kLzrwMaxExpansion * packedSize + kLzrwSlack;
}

bool CheckPackStructure(const std::string& path, PackStructure& out, PackCheckFault& fault) {
    out = PackStructure{};
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fault = PackCheckFault{0, fs::ErrnoText(errno)};
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        fault = PackCheckFault{0, "not a regular file"};
        return false;
    }
    out.fileSize = static_cast<std::uint64_t>(st.st_size);
    Walker walker(fd, out.fileSize, out, fault);
    char tag[2 * pack::kTagSize] = {};
    bool ok = false;
    if (out.fileSize < pack::kOldPackHeaderSize || !PreadAll(fd, 0, tag, sizeof tag) ||
        std::memcmp(tag, pack::kMagic, pack::kTagSize) != 0) {
        fault = PackCheckFault{0, "not a PackFile"};
    } else if (std::memcmp(tag + pack::kTagSize, pack::kVersionOld, pack::kTagSize) == 0) {
        ok = walker.CheckOld();
    } else if (std::memcmp(tag + pack::kTagSize, pack::kVersionCurrent, pack::kTagSize) == 0) {
        ok = walker.CheckCurrent();
    } else {
        fault = PackCheckFault{4, "unknown PackFile version \"" +
                                      std::string(tag + pack::kTagSize, pack::kTagSize) + "\""};
    }
    close(fd);
    return ok;
}

bool CheckEntryData(int fd, const CheckedEntry& entry, std::string& reason) {
    PackEntry e;
    e.originalSize = entry.originalSize;
    e.packedSize = entry.packedSize;
    e.method = entry.method;
    if (entry.method == static_cast<std::uint8_t>(pack::PackMethod::Lzrw3a) &&
        !LzrwSizePlausible(entry.originalSize, entry.packedSize)) {
        reason = "its LZRW3-A block cannot hold its original size";
        return false;
    }
    if (entry.packedSize > 0) {
        e.data.reset(new (std::nothrow) unsigned char[entry.packedSize]);
        if (!e.data) {
            reason = fs::ErrnoText(ENOMEM);
            return false;
        }
        if (!PreadAll(fd, entry.dataOffset, e.data.get(), entry.packedSize)) {
            reason = "its stored bytes cannot be read";
            return false;
        }
    }
    codec::GzBuffer bytes;
    std::uint32_t length = 0;
    return DecodeEntry(e, bytes, length, reason);
}

bool CheckPack(const std::string& path, PackStructure& out, PackCheckFault& fault) {
    if (!CheckPackStructure(path, out, fault))
        return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fault = PackCheckFault{0, fs::ErrnoText(errno)};
        return false;
    }
    bool ok = true;
    for (const CheckedEntry& e : out.entries) {
        std::string reason;
        if (!CheckEntryData(fd, e, reason)) {
            fault = PackCheckFault{e.dataOffset, e.path + ": " + reason};
            ok = false;
            break;
        }
    }
    close(fd);
    return ok;
}

}  // namespace crateforge
