#include "reader/PackIndex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <span>
#include <string_view>
#include <utility>

#include "codec/GzCodec.h"
#include "codec/Lzrw.h"
#include "format/PackFormat.h"

namespace tovelink {

// The pack file, opened for one call: its identity and bounds-checked reads.
class PackIndex::PackFile {
  public:
    PackFile() = default;
    ~PackFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    PackFile(const PackFile&) = delete;
    PackFile& operator=(const PackFile&) = delete;

    // False with errno set when the file cannot be opened or is no regular file.
    bool Open(const char* path) {
        fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            return false;
        struct stat st;
        if (::fstat(fd_, &st) != 0)
            return false;
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            return false;
        }
        identity_.device = st.st_dev;
        identity_.inode = st.st_ino;
        identity_.size = static_cast<std::uint64_t>(st.st_size);
        identity_.modifiedSeconds = st.st_mtim.tv_sec;
        identity_.modifiedNanoseconds = st.st_mtim.tv_nsec;
        return true;
    }

    std::uint64_t Size() const { return identity_.size; }
    const FileIdentity& Identity() const { return identity_; }
    bool Holds(std::uint64_t offset, std::uint64_t length) const {
        return offset <= identity_.size && length <= identity_.size - offset;
    }

    // Reads exactly `length` bytes at `offset`; false when they are not all
    // inside the file (as it was opened) or the read comes up short.
    bool ReadAt(std::uint64_t offset, void* buffer, std::uint64_t length) {
        if (!Holds(offset, length))
            return false;
        auto* out = static_cast<unsigned char*>(buffer);
        while (length > 0) {
            const ssize_t n = ::pread(fd_, out, length, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            out += n;
            offset += static_cast<std::uint64_t>(n);
            length -= static_cast<std::uint64_t>(n);
        }
        return true;
    }

  private:
    int fd_ = -1;
    FileIdentity identity_;
};

namespace {

constexpr char kSeparator = '\\';

bool EqualIgnoringCase(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x == y)
            continue;
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x + ('a' - 'A'));
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y + ('a' - 'A'));
        if (x != y)
            return false;
    }
    return true;
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path = folder;
    if (!path.empty())
        path += kSeparator;
    path.append(name);
    return path;
}

std::string At(std::uint64_t offset) {
    return " at offset " + std::to_string(offset);
}

// Byte ranges of the file that must not share a byte.
struct Span {
    std::uint64_t begin;
    std::uint64_t end;
};

bool FindOverlap(std::vector<Span>& spans, std::uint64_t& where) {
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].begin < spans[i - 1].end) {
            where = spans[i].begin;
            return true;
        }
    }
    return false;
}

std::unique_ptr<unsigned char[]> Allocate(std::uint64_t length) {
    // At least one byte, so that a loaded empty file has a non-null buffer.
    return std::unique_ptr<unsigned char[]>(
        new (std::nothrow) unsigned char[length > 0 ? length : 1]);
}

}  // namespace

PackIndex::PackIndex() = default;
PackIndex::~PackIndex() = default;

bool PackIndex::Fail(std::string reason) {
    error_ = std::move(reason);
    return false;
}

// ---- Opening ------------------------------------------------------------------

bool PackIndex::OpenPack(const char* path) {
    ClosePack();
    error_.clear();
    if (!path)
        return Fail("no path given");
    const std::size_t length = ::strnlen(path, kArchivePathSize);
    if (length >= kArchivePathSize)
        return Fail("path of " + std::to_string(kArchivePathSize) + " characters or more");
    std::memset(archivePath_, 0, sizeof archivePath_);
    std::memcpy(archivePath_, path, length);

    try {
        PackFile file;
        if (!file.Open(archivePath_))
            return Fail(std::string("cannot open the file: ") + std::strerror(errno));
        std::vector<PackEntry> list;
        Attempt attempt = ReadOldIndex(file, list);
        if (attempt == Attempt::NotThisVersion) {
            list.clear();
            attempt = ReadTreeIndex(file, list);
        }
        if (attempt == Attempt::NotThisVersion)
            return Fail("not a pack file (no \"VHPF\" header of version \"1.03\" or \"2.10\")");
        if (attempt == Attempt::Refused)
            return false;
        entries_ = std::move(list);
        count_ = static_cast<std::uint32_t>(entries_.size());
        identity_ = file.Identity();
        return true;
    } catch (const std::bad_alloc&) {
        return Fail("out of memory");
    }
}

PackIndex::Attempt PackIndex::ReadOldIndex(PackFile& file, std::vector<PackEntry>& out) {
    std::uint8_t headerBytes[pack::kOldPackHeaderSize];
    pack::OldPackHeader header;
    if (!file.ReadAt(0, headerBytes, sizeof headerBytes) || !pack::Read(headerBytes, 0, header) ||
        !pack::IsOldPack(header))
        return Attempt::NotThisVersion;

    const std::uint64_t tableEnd =
        pack::kOldPackHeaderSize + std::uint64_t{pack::kOldEntryOffsetSize} * header.fileCount;
    if (!file.Holds(0, tableEnd)) {
        Fail("entry table of " + std::to_string(header.fileCount) +
             " entries runs past the end of the file");
        return Attempt::Refused;
    }
    std::vector<std::uint8_t> table(tableEnd - pack::kOldPackHeaderSize);
    if (!file.ReadAt(pack::kOldPackHeaderSize, table.data(), table.size())) {
        Fail("cannot read the entry table");
        return Attempt::Refused;
    }

    std::vector<Span> spans;
    for (std::uint32_t i = 0; i < header.fileCount; ++i) {
        std::uint32_t recordAt = 0;
        pack::ReadU32(table, std::size_t{pack::kOldEntryOffsetSize} * i, recordAt);
        std::uint8_t recordBytes[pack::kOldEntryRecordSize];
        pack::OldEntryRecord record;
        if (recordAt < tableEnd) {
            Fail("entry " + std::to_string(i) + " lies inside the header or entry table" +
                 At(recordAt));
            return Attempt::Refused;
        }
        if (!file.ReadAt(recordAt, recordBytes, sizeof recordBytes) ||
            !pack::Read(recordBytes, 0, record)) {
            Fail("entry " + std::to_string(i) + " runs past the end of the file" + At(recordAt));
            return Attempt::Refused;
        }
        if (record.entryCode >= pack::kOldFirstSkippedEntryCode)
            continue;

        const std::uint64_t dataAt = std::uint64_t{recordAt} + pack::kOldEntryRecordSize;
        if (!file.Holds(dataAt, record.packedSize)) {
            Fail("data of entry " + std::to_string(i) + " runs past the end of the file" +
                 At(dataAt));
            return Attempt::Refused;
        }
        PackEntry entry;
        entry.name = std::string(pack::FieldName(record.name));
        entry.dataOffset = static_cast<std::uint32_t>(dataAt);
        entry.originalSize = record.originalSize;
        entry.packedSize = record.packedSize;
        entry.method = static_cast<std::uint32_t>(pack::OldEntryMethod(record.flags));
        out.push_back(std::move(entry));
        spans.push_back({recordAt, dataAt + record.packedSize});
    }
    std::uint64_t where = 0;
    if (FindOverlap(spans, where)) {
        Fail("entries overlap" + At(where));
        return Attempt::Refused;
    }
    return Attempt::Done;
}

PackIndex::Attempt PackIndex::ReadTreeIndex(PackFile& file, std::vector<PackEntry>& out) {
    std::uint8_t headerBytes[pack::kPackHeaderSize];
    pack::PackHeader header;
    if (!file.ReadAt(0, headerBytes, sizeof headerBytes) || !pack::Read(headerBytes, 0, header) ||
        !pack::IsCurrentPack(header))
        return Attempt::NotThisVersion;

    // The directory is read strictly in file order: a folder's block, then
    // the whole subtree of each subfolder in record order. Subfolders are
    // walked with an explicit stack rather than by recursion, and every block
    // moves the read position forward, so a hostile directory can neither
    // loop nor nest deeper than the file is long.
    struct Frame {
        std::string path;
        std::vector<std::string> subfolders;
        std::size_t next = 0;
    };
    struct PendingFile {
        std::string name;
        std::uint32_t blockAt;
    };
    std::vector<Frame> stack;
    std::vector<PendingFile> files;
    const std::uint64_t nameBudget = kNameBytesPerPackByte * file.Size();
    std::uint64_t nameBytes = 0;
    std::uint64_t pos = pack::kRootBlockOffset;
    std::vector<std::uint8_t> records;

    auto refuse = [this](std::string reason) {
        Fail(std::move(reason));
        return Attempt::Refused;
    };
    // A record's name: terminated inside its field, not empty, and the full
    // path it makes within the limits.
    auto takeName = [&](const char* field, const std::string& folder, std::string& full,
                        std::uint64_t recordAt) {
        const std::string_view name = pack::FieldName(field, pack::kNameFieldSize);
        if (name.size() > pack::kMaxNameLength)
            return Fail("name without terminator" + At(recordAt));
        if (name.empty())
            return Fail("empty name" + At(recordAt));
        full = JoinPath(folder, name);
        if (full.size() > kMaxFullNameLength)
            return Fail("full name longer than " + std::to_string(kMaxFullNameLength) + " bytes" +
                        At(recordAt));
        nameBytes += full.size() + 1;
        if (nameBytes > nameBudget)
            return Fail("names too long for the file's size" + At(recordAt));
        return true;
    };

    std::string rootPath;
    std::string* folderPath = &rootPath;
    for (;;) {
        // Read the block at `pos` for the folder named *folderPath.
        std::uint8_t blockBytes[pack::kFolderBlockHeaderSize];
        pack::FolderBlockHeader block;
        if (!file.ReadAt(pos, blockBytes, sizeof blockBytes) || !pack::Read(blockBytes, 0, block))
            return refuse("folder block runs past the end of the file" + At(pos));
        const std::uint64_t blockSize = pack::FolderBlockSize(block.folderCount, block.fileCount);
        if (!file.Holds(pos, blockSize))
            return refuse("folder block of " + std::to_string(block.folderCount) + " folders and " +
                          std::to_string(block.fileCount) + " files runs past the end of the file" +
                          At(pos));
        records.resize(blockSize - pack::kFolderBlockHeaderSize);
        const std::uint64_t recordsAt = pos + pack::kFolderBlockHeaderSize;
        if (!file.ReadAt(recordsAt, records.data(), records.size()))
            return refuse("cannot read the folder block" + At(pos));

        Frame frame;
        frame.path = std::move(*folderPath);
        frame.subfolders.reserve(block.folderCount);
        std::size_t at = 0;
        for (std::uint32_t i = 0; i < block.folderCount; ++i, at += pack::kFolderRecordSize) {
            pack::FolderRecord record;
            pack::Read(records, at, record);
            std::string full;
            if (!takeName(record.name, frame.path, full, recordsAt + at))
                return Attempt::Refused;
            frame.subfolders.push_back(std::move(full));
        }
        for (std::uint32_t i = 0; i < block.fileCount; ++i, at += pack::kFileRecordSize) {
            pack::FileRecord record;
            pack::Read(records, at, record);
            std::string full;
            if (!takeName(record.name, frame.path, full, recordsAt + at))
                return Attempt::Refused;
            files.push_back({std::move(full), record.dataOffset});
        }
        pos += blockSize;
        stack.push_back(std::move(frame));

        // Next: the first subfolder not read yet, climbing up as folders finish.
        folderPath = nullptr;
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next < top.subfolders.size()) {
                folderPath = &top.subfolders[top.next++];
                break;
            }
            stack.pop_back();
        }
        if (!folderPath)
            break;
    }
    const std::uint64_t directoryEnd = pos;

    if (files.size() != header.fileCount)
        return refuse("header states " + std::to_string(header.fileCount) +
                      " files, the directory holds " + std::to_string(files.size()));

    std::vector<Span> spans;
    spans.reserve(files.size());
    out.reserve(files.size());
    for (PendingFile& f : files) {
        if (f.blockAt < directoryEnd)
            return refuse("data of \"" + f.name + "\" lies inside the directory" + At(f.blockAt));
        std::uint8_t dataBytes[pack::kDataBlockHeaderSize];
        pack::DataBlockHeader data;
        if (!file.ReadAt(f.blockAt, dataBytes, sizeof dataBytes) || !pack::Read(dataBytes, 0, data))
            return refuse("data block of \"" + f.name + "\" runs past the end of the file" +
                          At(f.blockAt));
        const std::uint64_t storedAt = std::uint64_t{f.blockAt} + pack::kDataBlockHeaderSize;
        if (!file.Holds(storedAt, data.packedSize) || storedAt > UINT32_MAX)
            return refuse("data of \"" + f.name + "\" runs past the end of the file" +
                          At(storedAt));
        PackEntry entry;
        entry.name = std::move(f.name);
        entry.dataOffset = static_cast<std::uint32_t>(storedAt);
        entry.originalSize = data.originalSize;
        entry.packedSize = data.packedSize;
        entry.method = data.method;
        out.push_back(std::move(entry));
        spans.push_back({f.blockAt, storedAt + data.packedSize});
    }
    std::uint64_t where = 0;
    if (FindOverlap(spans, where))
        return refuse("data blocks overlap" + At(where));
    return Attempt::Done;
}

// ---- Lookup -------------------------------------------------------------------

unsigned long PackIndex::GetIndex(const char* name) const {
    if (!name)
        return kNotFound;
    const std::size_t length = std::strlen(name);
    // A plain scan by design: packs are read by few lookups, and the list
    // keeps the pack's own order.
    for (std::uint32_t i = 0; i < count_; ++i) {
        const std::string& candidate = entries_[i].name;
        if (candidate.size() == length && EqualIgnoringCase(candidate.data(), name, length))
            return i;
    }
    return kNotFound;
}

char* PackIndex::GetName(unsigned long index) {
    return index < count_ ? entries_[index].name.data() : nullptr;
}

unsigned long PackIndex::GetFileSize(unsigned long index) const {
    return index < count_ ? entries_[index].originalSize : 0;
}

unsigned long PackIndex::GetFileSize(const char* name) const {
    return GetFileSize(GetIndex(name));
}

unsigned long PackIndex::GetFilePackedSize(unsigned long index) const {
    return index < count_ ? entries_[index].packedSize : 0;
}

unsigned long PackIndex::GetFilePackedSize(const char* name) const {
    return GetFilePackedSize(GetIndex(name));
}

// ---- Data ---------------------------------------------------------------------

bool PackIndex::LoadFile(unsigned long index) {
    if (index >= count_)
        return false;
    PackEntry& entry = entries_[index];
    if (entry.data)
        return true;
    try {
        return LoadEntry(entry);
    } catch (const std::bad_alloc&) {
        return Fail("out of memory");
    }
}

bool PackIndex::LoadEntry(PackEntry& entry) {
    auto fail = [&](const std::string& reason) {
        return Fail("\"" + entry.name + "\": " + reason);
    };
    PackFile file;
    if (!file.Open(archivePath_))
        return fail(std::string("cannot open the pack file: ") + std::strerror(errno));
    if (!(file.Identity() == identity_))
        return fail("the pack file changed since it was opened");
    if (!file.Holds(entry.dataOffset, entry.packedSize))
        return fail("data runs past the end of the file");

    const std::uint32_t original = entry.originalSize;
    std::unique_ptr<unsigned char[]> decoded;
    switch (entry.method) {
        case static_cast<std::uint32_t>(pack::PackMethod::Stored): {
            if (entry.packedSize != original)
                return fail("stored data of " + std::to_string(entry.packedSize) +
                            " bytes for a file of " + std::to_string(original));
            decoded = Allocate(original);
            if (!decoded)
                return fail("out of memory");
            if (!file.ReadAt(entry.dataOffset, decoded.get(), original))
                return fail("cannot read the data");
            break;
        }
        case static_cast<std::uint32_t>(pack::PackMethod::Lzrw3a): {
            // Refuse before allocating: no block decodes to more than this.
            if (original > codec::LzrwMaxExpansion * entry.packedSize)
                return fail("original size too large for its LZRW3-A block");
            std::unique_ptr<unsigned char[]> stored = Allocate(entry.packedSize);
            std::unique_ptr<unsigned char[]> work = Allocate(codec::LzrwWorkMemorySize);
            decoded = Allocate(original);
            if (!stored || !work || !decoded)
                return fail("out of memory");
            if (!file.ReadAt(entry.dataOffset, stored.get(), entry.packedSize))
                return fail("cannot read the data");
            std::uint32_t length = 0;
            if (!codec::LzrwCodec(static_cast<unsigned>(codec::LzrwAction::Decompress), work.get(),
                                  stored.get(), entry.packedSize, decoded.get(), original, &length))
                return fail("damaged LZRW3-A block");
            if (length != original)
                return fail("decoded to " + std::to_string(length) + " bytes instead of " +
                            std::to_string(original));
            break;
        }
        case static_cast<std::uint32_t>(pack::PackMethod::Gzip): {
            std::unique_ptr<unsigned char[]> stored = Allocate(entry.packedSize);
            if (!stored)
                return fail("out of memory");
            if (!file.ReadAt(entry.dataOffset, stored.get(), entry.packedSize))
                return fail("cannot read the data");
            std::uint32_t length = 0;
            decoded = codec::GzDecompressBuffer(stored.get(), entry.packedSize, &length, original);
            if (!decoded)
                return fail(std::string("damaged gzip data: ") + codec::GzLastError());
            if (length != original)
                return fail("decoded to " + std::to_string(length) + " bytes instead of " +
                            std::to_string(original));
            if (original == 0)
                decoded = Allocate(0);
            if (!decoded)
                return fail("out of memory");
            break;
        }
        default:
            return fail("unknown coding method " + std::to_string(entry.method));
    }
    entry.data = std::move(decoded);
    error_.clear();
    return true;
}

int PackIndex::LoadFile(const char* name) {
    const unsigned long index = GetIndex(name);
    if (index == kNotFound || !LoadFile(index))
        return -1;
    return static_cast<int>(index);
}

bool PackIndex::LoadAll() {
    for (std::uint32_t i = 0; i < count_; ++i) {
        if (!LoadFile(i))
            return false;
    }
    return true;
}

unsigned char* PackIndex::GetData(unsigned long index) {
    return LoadFile(index) ? entries_[index].data.get() : nullptr;
}

unsigned char* PackIndex::GetData(const char* name) {
    const unsigned long index = GetIndex(name);
    return index == kNotFound ? nullptr : GetData(index);
}

void PackIndex::CopyData(unsigned long index, unsigned char* buffer, unsigned long* size) {
    unsigned long copied = 0;
    if (index < count_) {
        const PackEntry& entry = entries_[index];
        if (!buffer) {
            copied = entry.originalSize;
        } else if (LoadFile(index)) {
            std::memcpy(buffer, entry.data.get(), entry.originalSize);
            copied = entry.originalSize;
        }
    }
    if (size)
        *size = copied;
}

void PackIndex::CopyData(const char* name, unsigned char* buffer, unsigned long* size) {
    CopyData(GetIndex(name), buffer, size);
}

void PackIndex::PurgeFile(unsigned long index) {
    if (index < count_)
        entries_[index].data.reset();
}

void PackIndex::PurgeAll() {
    for (std::uint32_t i = 0; i < count_; ++i)
        PurgeFile(i);
}

void PackIndex::ClosePack() {
    PurgeAll();
    entries_.clear();
    entries_.shrink_to_fit();
    count_ = 0;
    identity_ = FileIdentity();
}

}  // namespace tovelink
