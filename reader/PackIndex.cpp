#include "reader/PackIndex.h"

#include <cstring>
#include <new>
#include <utility>

#include "format/EntryDecoder.h"
#include "format/Names.h"
#include "format/PackFormat.h"

namespace tovelink {

namespace {

// ---- Name hashing -------------------------------------------------------------
//
// FNV-1a over the folded bytes of a full name, fed piece by piece (a folder's
// path, the separator, a name), so that a folder's state is computed once for
// all its files; a final mix spreads the bits for the table's low-bit index
// and high-bit tag.
constexpr std::uint64_t kHashBasis = 0xcbf29ce484222325ull;
constexpr std::uint64_t kHashPrime = 0x100000001b3ull;

std::uint64_t HashFolded(std::uint64_t h, std::string_view bytes) {
    for (const char c : bytes) {
        h ^= pack::FoldAscii(static_cast<unsigned char>(c));
        h *= kHashPrime;
    }
    return h;
}

std::uint64_t HashSeparator(std::uint64_t h) {
    h ^= static_cast<unsigned char>(kSeparator);
    return h * kHashPrime;
}

std::uint64_t Mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    return h ^ (h >> 33);
}

constexpr std::uint32_t kRootFolder = 0;

}  // namespace

PackIndex::PackIndex() = default;
PackIndex::~PackIndex() = default;

bool PackIndex::Fail(const pack::Fault& why) {
    fault = why;
    error = why.Text();
    return false;
}

// ---- Opening ------------------------------------------------------------------

bool PackIndex::OpenPack(const char* path) {
    ClosePack();
    fault = pack::Fault();
    error.clear();
    pack::Fault why;
    if (!path)
        return Fail({pack::FaultKind::Io, "no path given"});
    const std::size_t length = ::strnlen(path, kArchivePathSize);
    if (length >= kArchivePathSize)
        return Fail({pack::FaultKind::Io,
                     "a path of " + std::to_string(kArchivePathSize) + " characters or more"});
    std::memset(archivePath, 0, sizeof archivePath);
    std::memcpy(archivePath, path, length);

    try {
        // Opens without blocking and refuses anything but a regular file, so
        // a FIFO or a device given as the pack cannot hang the open.
        pack::FileSource source;
        if (!source.Open(archivePath, why)) {
            why.reason = "cannot open the file: " + why.reason;
            return Fail(why);
        }
        // One walk: the walker reads the version the file names and
        // refuses it with that version's reason.
        if (!ReadIndex(source, pack::PackVersion::None)) {
            why = fault;
            Forget();
            return Fail(why);
        }
        identity = source.Identity();
        BuildNameTable();
    } catch (const std::bad_alloc&) {
        Forget();
        return Fail({pack::FaultKind::NoMemory, "out of memory"});
    } catch (const std::length_error&) {
        Forget();
        return Fail({pack::FaultKind::NoMemory, "out of memory"});
    }
    fault = pack::Fault();
    error.clear();
    return true;
}

bool PackIndex::ReadIndex(pack::ByteSource& source, pack::PackVersion version) {
    pack::Directory directory;
    if (!pack::ReadDirectory(source, version, directory, fault))
        return false;
    TakeDirectory(directory);
    return true;
}

bool PackIndex::ReadOldIndex(pack::ByteSource& source) {
    return ReadIndex(source, pack::PackVersion::Old);
}

bool PackIndex::ReadTreeIndex(pack::ByteSource& source) {
    return ReadIndex(source, pack::PackVersion::Current);
}

void PackIndex::TakeDirectory(pack::Directory& directory) {
    folders.reserve(directory.folders.size());
    entries.reserve(directory.files.size());
    for (std::uint32_t f = 0; f < directory.folders.size(); ++f)
        ReadFolderBlock(directory, f);
    // The walker has checked that a "2.10" header counts exactly the files
    // of the folder blocks, so the list's length is the header's count.
    count = static_cast<std::uint32_t>(entries.size());
    names = std::move(directory.names);
}

void PackIndex::ReadFolderBlock(const pack::Directory& directory, std::uint32_t folder) {
    const pack::PackDirectory& node = directory.folders[folder];
    folders.push_back({node.parent, node.name});
    for (std::uint32_t k = 0; k < node.fileCount; ++k) {
        const pack::DirectoryFile& file = directory.files[node.firstFile + k];
        PackEntry entry;
        // The walker keeps every stored byte inside a file below 4 GiB.
        entry.dataOffset = static_cast<std::uint32_t>(file.dataOffset);
        entry.originalSize = file.originalSize;
        entry.packedSize = file.packedSize;
        entry.method = file.method;
        entry.folder = folder;
        entry.ownName = file.name;
        entries.push_back(std::move(entry));
    }
}

// ---- Names --------------------------------------------------------------------

std::size_t PackIndex::FullNameLength(const PackEntry& entry) const {
    std::size_t length = entry.ownName.length;
    for (std::uint32_t f = entry.folder; f != kRootFolder; f = folders[f].parent)
        length += folders[f].name.length + 1;
    return length;
}

void PackIndex::WriteFullName(const PackEntry& entry, char* out, std::size_t length) const {
    // Back to front: own name, then each folder up to the root.
    std::size_t end = length;
    auto put = [&](std::string_view piece) {
        end -= piece.size();
        std::memcpy(out + end, piece.data(), piece.size());
    };
    put(NameOf(entry.ownName));
    for (std::uint32_t f = entry.folder; f != kRootFolder; f = folders[f].parent) {
        out[--end] = kSeparator;
        put(NameOf(folders[f].name));
    }
    out[length] = '\0';
}

std::string PackIndex::FullName(unsigned long index) const {
    if (index >= count)
        return {};
    const PackEntry& entry = entries[index];
    std::string full(FullNameLength(entry), '\0');
    WriteFullName(entry, full.data(), full.size());
    return full;
}

bool PackIndex::NameMatches(const PackEntry& entry, std::string_view name) const {
    std::size_t end = name.size();
    auto take = [&](std::string_view piece) {
        if (piece.size() > end ||
            !pack::SameNameIgnoringCase(name.substr(end - piece.size(), piece.size()), piece))
            return false;
        end -= piece.size();
        return true;
    };
    if (!take(NameOf(entry.ownName)))
        return false;
    for (std::uint32_t f = entry.folder; f != kRootFolder; f = folders[f].parent) {
        if (end == 0 || name[end - 1] != kSeparator)
            return false;
        --end;
        if (!take(NameOf(folders[f].name)))
            return false;
    }
    return end == 0;
}

std::uint64_t PackIndex::HashOfEntry(const PackEntry& entry,
                                     const std::vector<std::uint64_t>& folderHashes) const {
    std::uint64_t h = folderHashes[entry.folder];
    if (entry.folder != kRootFolder)
        h = HashSeparator(h);
    return Mix(HashFolded(h, NameOf(entry.ownName)));
}

void PackIndex::BuildNameTable() {
    // A folder's path state: its parent's, the separator, its name. The
    // walker lists parents before their children.
    std::vector<std::uint64_t> folderHashes(folders.size(), kHashBasis);
    for (std::uint32_t f = 1; f < folders.size(); ++f) {
        std::uint64_t h = folderHashes[folders[f].parent];
        if (folders[f].parent != kRootFolder)
            h = HashSeparator(h);
        folderHashes[f] = HashFolded(h, NameOf(folders[f].name));
    }

    std::size_t capacity = 8;
    while (capacity / 4 * 3 < count)
        capacity *= 2;
    table.assign(capacity, Slot{kEmptySlot, 0});
    const std::size_t mask = capacity - 1;
    std::string scratch;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t key = HashOfEntry(entries[i], folderHashes);
        const auto tag = static_cast<std::uint32_t>(key >> 32);
        std::size_t pos = static_cast<std::size_t>(key) & mask;
        bool duplicate = false;
        for (; table[pos].index != kEmptySlot; pos = (pos + 1) & mask) {
            if (table[pos].tag != tag)
                continue;
            scratch = FullName(i);
            if (NameMatches(entries[table[pos].index], scratch)) {
                duplicate = true;  // an earlier entry has this name: it wins
                break;
            }
        }
        if (!duplicate)
            table[pos] = Slot{i, tag};
    }
}

// ---- Lookup -------------------------------------------------------------------

unsigned long PackIndex::GetIndex(const char* name) const {
    if (!name || count == 0)
        return kNotFound;
    const std::string_view query(name);
    const std::uint64_t key = Mix(HashFolded(kHashBasis, query));
    const auto tag = static_cast<std::uint32_t>(key >> 32);
    const std::size_t mask = table.size() - 1;
    for (std::size_t pos = static_cast<std::size_t>(key) & mask; table[pos].index != kEmptySlot;
         pos = (pos + 1) & mask) {
        if (table[pos].tag == tag && NameMatches(entries[table[pos].index], query))
            return table[pos].index;
    }
    return kNotFound;
}

char* PackIndex::GetName(unsigned long index) {
    if (index >= count)
        return nullptr;
    PackEntry& entry = entries[index];
    if (!entry.name) {
        const std::size_t length = FullNameLength(entry);
        entry.name.reset(new (std::nothrow) char[length + 1]);
        if (!entry.name)
            return nullptr;
        WriteFullName(entry, entry.name.get(), length);
    }
    return entry.name.get();
}

unsigned long PackIndex::GetFileSize(unsigned long index) const {
    return index < count ? entries[index].originalSize : 0;
}

unsigned long PackIndex::GetFileSize(const char* name) const {
    return GetFileSize(GetIndex(name));
}

unsigned long PackIndex::GetFilePackedSize(unsigned long index) const {
    return index < count ? entries[index].packedSize : 0;
}

unsigned long PackIndex::GetFilePackedSize(const char* name) const {
    return GetFilePackedSize(GetIndex(name));
}

// ---- Data ---------------------------------------------------------------------

bool PackIndex::LoadFile(unsigned long index) {
    if (index >= count)
        return false;
    PackEntry& entry = entries[index];
    if (entry.data)
        return true;
    try {
        return LoadEntry(entry, index);
    } catch (const std::bad_alloc&) {
        return Fail({pack::FaultKind::NoMemory, "out of memory"});
    }
}

bool PackIndex::FailEntry(unsigned long index, pack::Fault why) {
    std::string reason = "\"";
    reason += FullName(index);
    reason += "\": ";
    reason += why.reason;
    why.reason = std::move(reason);
    return Fail(why);
}

bool PackIndex::ReopenPack(pack::FileSource& file, pack::Fault& why) const {
    // The pack is opened anew for every load: open, fstat, one read of the
    // stored bytes, close. Anything but the file that was opened (replaced,
    // rewritten, grown or shrunk) is refused rather than read at offsets
    // that may no longer mean anything.
    if (!file.Open(archivePath, why)) {
        why.reason = "cannot open the pack file: " + why.reason;
        return false;
    }
    if (!(file.Identity() == identity)) {
        why = {pack::FaultKind::Io, "the pack file changed since it was opened"};
        return false;
    }
    return true;
}

bool PackIndex::LoadEntry(PackEntry& entry, unsigned long index) {
    pack::Fault why;
    pack::FileSource file;
    if (!ReopenPack(file, why))
        return FailEntry(index, why);
    // Read straight from the descriptor: an entry is read once, so the
    // file source's read-ahead window would only add a copy.
    pack::DescriptorSource source(file.Descriptor(), file.Size());
    pack::EntryClaim claim;
    claim.method = static_cast<std::uint8_t>(entry.method);
    claim.originalSize = entry.originalSize;
    claim.packedSize = entry.packedSize;
    pack::DecodedBytes decoded;
    if (!pack::LoadEntry(source, entry.dataOffset, claim, decoded, why))
        return FailEntry(index, why);
    entry.data = std::move(decoded);
    fault = pack::Fault();
    error.clear();
    return true;
}

namespace {

// Takes decoded bytes into a caller's buffer, never past its end.
class CallerBuffer final : public pack::ByteSink {
  public:
    CallerBuffer(unsigned char* data, std::uint64_t capacity) : data_(data), capacity_(capacity) {}
    bool Write(const unsigned char* data, std::size_t length) override {
        if (length > capacity_ - used_)
            return false;
        if (length > 0)
            std::memcpy(data_ + used_, data, length);
        used_ += length;
        return true;
    }

  private:
    unsigned char* data_;
    std::uint64_t capacity_;
    std::uint64_t used_ = 0;
};

}  // namespace

bool PackIndex::ReadInto(unsigned long index, unsigned char* buffer, std::uint64_t capacity) {
    if (index >= count)
        return Fail({pack::FaultKind::Io, "no file has index " + std::to_string(index) +
                                              " (the pack holds " + std::to_string(count) + ")"});
    const PackEntry& entry = entries[index];
    if (capacity < entry.originalSize || (!buffer && entry.originalSize > 0))
        return FailEntry(
            index, {pack::FaultKind::Io, "a buffer of " + std::to_string(buffer ? capacity : 0) +
                                             " bytes is too small for " +
                                             std::to_string(entry.originalSize)});
    try {
        if (entry.data) {
            if (entry.originalSize > 0)
                std::memcpy(buffer, entry.data.get(), entry.originalSize);
            return true;
        }
        pack::Fault why;
        pack::FileSource file;
        if (!ReopenPack(file, why))
            return FailEntry(index, why);
        pack::DescriptorSource source(file.Descriptor(), file.Size());
        pack::EntryClaim claim;
        claim.method = static_cast<std::uint8_t>(entry.method);
        claim.originalSize = entry.originalSize;
        claim.packedSize = entry.packedSize;
        CallerBuffer sink(buffer, entry.originalSize);
        if (!pack::StreamEntry(source, entry.dataOffset, claim, sink, why))
            return FailEntry(index, why);
        return true;
    } catch (const std::bad_alloc&) {
        return Fail({pack::FaultKind::NoMemory, "out of memory"});
    }
}

int PackIndex::LoadFile(const char* name) {
    const unsigned long index = GetIndex(name);
    if (index == kNotFound || !LoadFile(index))
        return -1;
    return static_cast<int>(index);
}

bool PackIndex::LoadAll() {
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!LoadFile(i))
            return false;
    }
    return true;
}

unsigned char* PackIndex::GetData(unsigned long index) {
    return LoadFile(index) ? entries[index].data.get() : nullptr;
}

unsigned char* PackIndex::GetData(const char* name) {
    const unsigned long index = GetIndex(name);
    return index == kNotFound ? nullptr : GetData(index);
}

void PackIndex::CopyData(unsigned long index, unsigned char* buffer, unsigned long* size) {
    unsigned long copied = 0;
    if (index < count) {
        const PackEntry& entry = entries[index];
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
    if (index < count)
        entries[index].data.reset();
}

void PackIndex::PurgeAll() {
    for (std::uint32_t i = 0; i < count; ++i)
        PurgeFile(i);
}

void PackIndex::Forget() {
    entries.clear();
    entries.shrink_to_fit();
    folders.clear();
    folders.shrink_to_fit();
    names.clear();
    names.shrink_to_fit();
    table.clear();
    table.shrink_to_fit();
    count = 0;
    identity = pack::FileIdentity();
}

void PackIndex::ClosePack() {
    PurgeAll();
    Forget();
}

}  // namespace tovelink
