// PackDirectory.cpp - the directory walk of both pack versions.
#include "format/PackDirectory.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace pack {

std::string Directory::FolderPath(std::uint32_t folder, char separator) const {
    std::vector<std::string_view> parts;
    for (std::uint32_t f = folder; f != kNoFolder && f < folders.size() && f != 0;
         f = folders[f].parent)
        parts.push_back(Name(folders[f].name));
    // Joined by position, not by emptiness: a folder may be named "".
    std::string path;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        if (it != parts.rbegin())
            path += separator;
        path.append(*it);
    }
    return path;
}

std::string Directory::FullName(std::size_t file, char separator) const {
    std::string path = FolderPath(files[file].folder, separator);
    if (files[file].folder != 0)
        path += separator;
    path.append(FileName(file));
    return path;
}

namespace {

class Walker {
  public:
    Walker(ByteSource& source, Directory& out, Fault& fault, CutData cutData)
        : source_(source), out_(out), fault_(fault), keepCut_(cutData == CutData::Keep) {}

    bool Current();
    bool Old();

  private:
    template <class Header>
    bool ReadHeader(Header& header);

    // Reads a record that must lie inside the file: one that does not is
    // damage (`reason` at `at`); one that cannot be read is an I/O fault,
    // never damage, so a failing disk does not make a sound pack "damaged".
    template <class Record>
    bool ReadRecord(std::uint64_t offset, Record& record, const std::string& reason,
                    std::uint64_t at) {
        std::uint8_t bytes[sizeof(Record)];
        if (!source_.Holds(offset, sizeof bytes))
            return Damaged(reason, at);
        if (!source_.ReadAt(offset, bytes, sizeof bytes) || !Read(bytes, 0, record))
            return pack::Fail(fault_, FaultKind::Io, "cannot read the file", offset);
        return true;
    }
    template <class Record>
    bool ReadRecord(std::uint64_t offset, Record& record, const std::string& reason) {
        return ReadRecord(offset, record, reason, offset);
    }
    bool Damaged(std::string reason, std::uint64_t offset) {
        return pack::Damaged(fault_, std::move(reason), offset);
    }
    // Appends a name to the pool after checking that its field holds the
    // terminator (and noting bytes after it).
    bool TakeFieldName(const char* field, std::uint64_t at, NameRef& ref);
    bool TakeName(std::string_view name, NameRef& ref);
    bool CheckFullName(std::uint64_t length, std::uint64_t at);
    bool ReadDataBlocks();

    ByteSource& source_;
    Directory& out_;
    Fault& fault_;
    bool keepCut_;
};

bool Walker::TakeName(std::string_view name, NameRef& ref) {
    ref.offset = static_cast<std::uint32_t>(out_.names.size());
    ref.length = static_cast<std::uint32_t>(name.size());
    out_.names.append(name);
    return true;
}

bool Walker::TakeFieldName(const char* field, std::uint64_t at, NameRef& ref) {
    const void* end = std::memchr(field, 0, kNameFieldSize);
    if (!end)
        return Damaged("a name without its terminating zero byte", at);
    const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(end) - field);
    // Bytes after the terminator are the writer's business; the first one
    // that is not zero is kept for the strict check. Compared as a block
    // first: every record of the directory passes here.
    static constexpr char kZeros[kNameFieldSize] = {};
    const std::size_t padding = kNameFieldSize - length - 1;
    if (out_.padding == kNoOffset && std::memcmp(field + length + 1, kZeros, padding) != 0) {
        for (std::size_t i = length + 1; i < kNameFieldSize; ++i)
            if (field[i] != 0) {
                out_.padding = at + i;
                break;
            }
    }
    return TakeName(std::string_view(field, length), ref);
}

// Refuses a full name past the limit: `length` bytes, told at `at`.
bool Walker::CheckFullName(std::uint64_t length, std::uint64_t at) {
    if (length <= kMaxFullNameLength)
        return true;
    return Damaged("a full name of " + std::to_string(length) + " bytes, longer than " +
                       std::to_string(kMaxFullNameLength),
                   at);
}

// Reads the version's header; a file too short for it is no pack at all.
template <class Header>
bool Walker::ReadHeader(Header& header) {
    if (source_.Size() < sizeof(Header))
        return pack::Fail(fault_, FaultKind::NotAPack,
                          "the file is shorter than a PackFile header");
    if (!ReadRecord(0, header, "a header past the end of the file"))
        return false;
    if (source_.Size() > kMaxPackSize)
        return Damaged("the file is 4 GiB or larger", kMaxPackSize + 1);
    return true;
}

bool Walker::Current() {
    PackHeader header;
    if (!ReadHeader(header))
        return false;
    out_.headerFileCount = header.fileCount;
    std::memcpy(out_.headerReserved, header.reserved, sizeof header.reserved);
    // Room for the files the header counts, but never more than the file
    // can hold records for: a hostile count costs nothing.
    out_.files.reserve(std::min<std::uint64_t>(header.fileCount, source_.Size() / kFileRecordSize));

    // A folder whose block has been read and whose subfolders are still to
    // be walked, in record order. Their records are read with the block, so
    // their names are in the pool already.
    struct Pending {
        NameRef name;
        std::uint64_t recordOffset;
        std::uint32_t recordedBlockOffset;
    };
    struct Frame {
        std::uint32_t folder;
        std::vector<Pending> children;
        std::size_t next = 0;
    };
    std::vector<Frame> stack;
    std::uint64_t pos = kRootBlockOffset;
    PackDirectory node;  // the folder whose block is at `pos`
    node.parent = kNoFolder;

    for (;;) {
        FolderBlockHeader block;
        if (!ReadRecord(pos, block, "a folder block that runs past the end of the file"))
            return false;
        const std::uint64_t blockSize = FolderBlockSize(block.folderCount, block.fileCount);
        if (!source_.Holds(pos, blockSize))
            return Damaged("a folder block of " + std::to_string(block.folderCount) +
                               " folders and " + std::to_string(block.fileCount) +
                               " files that runs past the end of the file",
                           pos);
        const auto index = static_cast<std::uint32_t>(out_.folders.size());
        node.blockOffset = pos;
        node.subtreeSize = block.subtreeSize;
        node.folderCount = block.folderCount;
        node.fileCount = block.fileCount;
        node.firstFile = static_cast<std::uint32_t>(out_.files.size());

        Frame frame;
        frame.folder = index;
        frame.children.reserve(block.folderCount);
        std::uint64_t at = pos + kFolderBlockHeaderSize;
        for (std::uint32_t i = 0; i < block.folderCount; ++i, at += kFolderRecordSize) {
            FolderRecord record;
            if (!ReadRecord(at, record, "a folder record past the end of the file"))
                return false;
            Pending child{{}, at, record.blockOffset};
            if (!TakeFieldName(record.name, at, child.name))
                return false;
            frame.children.push_back(child);
        }
        for (std::uint32_t i = 0; i < block.fileCount; ++i, at += kFileRecordSize) {
            FileRecord record;
            if (!ReadRecord(at, record, "a file record past the end of the file"))
                return false;
            DirectoryFile file;
            file.folder = index;
            file.recordOffset = at;
            file.blockOffset = record.dataOffset;
            if (!TakeFieldName(record.name, at, file.name) ||
                !CheckFullName(FullNameLength(node.pathLength, node.depth == 0, file.name.length),
                               at))
                return false;
            out_.files.push_back(file);
        }
        pos += blockSize;
        out_.folders.push_back(node);
        stack.push_back(std::move(frame));

        // Next: the first subfolder not read yet, closing folders whose
        // subtrees are complete on the way up.
        bool found = false;
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next < top.children.size()) {
                const Pending& child = top.children[top.next++];
                const PackDirectory& parent = out_.folders[top.folder];
                if (parent.depth + 1 > kMaxFolderDepth)
                    return Damaged("folders nested more than " + std::to_string(kMaxFolderDepth) +
                                       " levels deep",
                                   child.recordOffset);
                node = PackDirectory();
                node.parent = top.folder;
                node.depth = parent.depth + 1;
                node.name = child.name;
                node.pathLength = static_cast<std::uint32_t>(
                    FullNameLength(parent.pathLength, parent.depth == 0, child.name.length));
                if (!CheckFullName(node.pathLength, child.recordOffset))
                    return false;
                node.recordOffset = child.recordOffset;
                node.recordedBlockOffset = child.recordedBlockOffset;
                found = true;
                break;
            }
            out_.folders[top.folder].subtreeEnd = pos;
            stack.pop_back();
        }
        if (!found)
            break;
    }
    out_.directoryEnd = pos;

    if (out_.files.size() != header.fileCount)
        return Damaged("the header counts " + std::to_string(header.fileCount) +
                           " files but the folders hold " + std::to_string(out_.files.size()),
                       kPackHeaderSize - 4);
    return ReadDataBlocks();
}

bool Walker::ReadDataBlocks() {
    for (std::size_t i = 0; i < out_.files.size(); ++i) {
        DirectoryFile& file = out_.files[i];
        const std::uint64_t at = file.blockOffset;
        DataBlockHeader block;
        // Told at the record's dataOffset field: the block itself lies
        // outside the file.
        if (!source_.Holds(at, kDataBlockHeaderSize) && keepCut_) {
            file.dataOffset = at + kDataBlockHeaderSize;
            file.cut = true;
            continue;
        }
        if (!source_.Holds(at, kDataBlockHeaderSize))
            return Damaged(
                "the data block of \"" + out_.FullName(i, '/') + "\" runs past the end of the file",
                file.recordOffset + kNameFieldSize);
        if (!ReadRecord(at, block, "a data block past the end of the file"))
            return false;
        file.dataOffset = at + kDataBlockHeaderSize;
        file.cut = keepCut_ && !source_.Holds(file.dataOffset, block.packedSize);
        if (!file.cut && !source_.Holds(file.dataOffset, block.packedSize))
            return Damaged("the " + std::to_string(block.packedSize) + " stored bytes of \"" +
                               out_.FullName(i, '/') + "\" run past the end of the file",
                           at + 4);
        file.originalSize = block.originalSize;
        file.packedSize = block.packedSize;
        file.method = block.method;
    }
    return true;
}

bool Walker::Old() {
    OldPackHeader header;
    if (!ReadHeader(header))
        return false;
    out_.headerFileCount = header.fileCount;
    const std::uint64_t tableEnd =
        kOldPackHeaderSize + std::uint64_t{kOldEntryOffsetSize} * header.fileCount;
    if (tableEnd > source_.Size())
        return Damaged("a table of " + std::to_string(header.fileCount) +
                           " entry offsets that runs past the end of the file",
                       kOldPackHeaderSize - 4);
    out_.directoryEnd = tableEnd;
    out_.folders.push_back(PackDirectory());

    // Entries may share bytes, with each other or with the table, but
    // together they claim at most the bytes the file holds: a table that
    // names one record over and over is refused once they claim more, before
    // the list grows with the count.
    const std::uint64_t room = source_.Size();
    std::uint64_t claimed = 0;
    // The table is read in chunks of its own; the records go through the
    // source's window, which a table read would otherwise keep evicting.
    constexpr std::uint32_t kChunk = 16384;
    std::vector<std::uint8_t> chunk(std::size_t{kChunk} * kOldEntryOffsetSize);
    for (std::uint32_t first = 0; first < header.fileCount; first += kChunk) {
        const std::uint32_t n = std::min(kChunk, header.fileCount - first);
        const std::uint64_t chunkAt =
            kOldPackHeaderSize + std::uint64_t{kOldEntryOffsetSize} * first;
        if (!source_.ReadAt(chunkAt, chunk.data(), std::size_t{n} * kOldEntryOffsetSize))
            return pack::Fail(fault_, FaultKind::Io, "cannot read the file", chunkAt);
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint64_t slot = chunkAt + std::uint64_t{kOldEntryOffsetSize} * k;
            std::uint32_t recordAt = 0;
            ReadU32(chunk, std::size_t{kOldEntryOffsetSize} * k, recordAt);
            const std::string number = "entry " + std::to_string(first + k + 1);
            OldEntryRecord record;
            if (keepCut_ && !source_.Holds(recordAt, kOldEntryRecordSize)) {
                out_.cutRecordSlots.push_back(slot);
                continue;
            }
            if (!ReadRecord(recordAt, record, number + " has its record past the end of the file",
                            slot))
                return false;
            if (record.entryCode >= kOldFirstSkippedEntryCode)
                continue;
            DirectoryFile file;
            file.folder = 0;
            file.recordOffset = recordAt;
            file.blockOffset = recordAt;
            file.dataOffset = std::uint64_t{recordAt} + kOldEntryRecordSize;
            file.originalSize = record.originalSize;
            file.packedSize = record.packedSize;
            file.method = static_cast<std::uint8_t>(OldEntryMethod(record.flags));
            TakeName(FieldName(record.name), file.name);
            file.cut = keepCut_ && !source_.Holds(file.dataOffset, record.packedSize);
            if (file.cut) {
                out_.files.push_back(file);  // claims nothing: its bytes are not there
                continue;
            }
            if (!source_.Holds(file.dataOffset, record.packedSize))
                return Damaged(number + " has " + std::to_string(record.packedSize) +
                                   " stored bytes that run past the end of the file",
                               std::uint64_t{recordAt} + kOldNameFieldSize);
            claimed += kOldEntryRecordSize + std::uint64_t{record.packedSize};
            if (claimed > room)
                return Damaged("entries that claim more bytes than the file holds", recordAt);
            out_.files.push_back(file);
        }
    }
    out_.folders[0].fileCount = static_cast<std::uint32_t>(out_.files.size());
    out_.folders[0].subtreeEnd = tableEnd;
    return true;
}

}  // namespace

PackVersion ProbeVersion(ByteSource& source) {
    std::uint8_t tag[kVersionTagBytes] = {};
    const PackVersion version =
        source.ReadAt(0, tag, sizeof tag) ? DetectVersion(tag) : PackVersion::None;
    const std::uint64_t header = version == PackVersion::Old ? kOldPackHeaderSize : kPackHeaderSize;
    return source.Size() >= header ? version : PackVersion::None;
}

bool ReadDirectory(ByteSource& source, Directory& out, Fault& fault) {
    return ReadDirectory(source, PackVersion::None, out, fault);
}

bool ReadDirectory(ByteSource& source, PackVersion allowed, Directory& out, Fault& fault) {
    return ReadDirectory(source, allowed, out, fault, CutData::Refuse);
}

bool ReadDirectory(ByteSource& source, PackVersion allowed, Directory& out, Fault& fault,
                   CutData cutData) {
    out = Directory();
    std::uint8_t tag[kVersionTagBytes] = {};
    const PackVersion version =
        source.ReadAt(0, tag, sizeof tag) ? DetectVersion(tag) : PackVersion::None;
    if (version == PackVersion::None)
        return Fail(fault, FaultKind::NotAPack,
                    "not a PackFile (no \"VHPF\" header of version \"1.03\" or \"2.10\")");
    if (allowed != PackVersion::None && version != allowed)
        return Fail(fault, FaultKind::NotAPack,
                    "not a PackFile of version " + std::string(VersionText(allowed)));
    out.version = version;
    out.fileSize = source.Size();
    bool ok = false;
    try {
        Walker walker(source, out, fault, cutData);
        ok = version == PackVersion::Current ? walker.Current() : walker.Old();
    } catch (const std::bad_alloc&) {
        ok = Fail(fault, FaultKind::NoMemory, "out of memory");
    } catch (const std::length_error&) {
        ok = Fail(fault, FaultKind::NoMemory, "out of memory");
    }
    if (!ok)
        out = Directory();
    return ok;
}

}  // namespace pack
