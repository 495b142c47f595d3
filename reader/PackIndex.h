// PackIndex.h - the object behind every PackReader handle: the flat entry
// list of one open pack, its name index and its loaded data.
//
// OpenPack hands the pack to the format core's one directory walker
// (pack::ReadDirectory) once, which reads the version the file names and
// checks every structural rule before anything is kept (ReadOldIndex and
// ReadTreeIndex do the same for one version only); this class adds only the
// reader's policy on top: a flat list of entries in directory order, names
// looked up without regard to ASCII case, data loaded lazily. A refused pack
// leaves the reason (with its byte offset) in LastFault for tools.
//
// Memory stays proportional to the directory: every name is kept once, in
// one pool; an entry knows its folder and its own name, and a folder its
// parent and its name. A full name ("A\\B\\file") is built the first time
// GetName asks for it and kept until ClosePack, since the pointer handed
// out must stay valid that long.
//
// Lookups by name go through a hash table built at OpenPack over the names
// folded to lower case (A-Z only; every other byte as it is). It gives
// exactly the answers of a linear scan in index order: of several entries
// whose names match, the table holds only the first. A slot is an entry
// index and a 32-bit tag (8 bytes); the table is at most three quarters
// full.
//
// Loading reopens the pack file (open, fstat, one read, close), refuses it
// when it is no longer the file that was opened, and decodes the entry with
// the format core's one entry decoder (pack::LoadEntry); the decoded length
// must equal the entry's original size.
//
// Handles share one PackIndex through a reference count: AddRef for every
// handle that takes it, Release when a handle lets go; Release returns true
// for the last one, whose owner then deletes the index.
//
// Nothing here throws (allocation failures are reported as failures) or
// shows anything. Not thread-safe: one thread at a time per index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "format/ByteSource.h"
#include "format/PackDirectory.h"
#include "platform/Fault.h"

namespace tovelink {

// The longest archive path kept: 259 characters and the terminator.
inline constexpr std::size_t kArchivePathSize = 260;
// The separator of full names inside the pack.
inline constexpr char kSeparator = '\\';

// The reader's record of one stored file.
struct PackEntry {
    // The full path inside the pack, built on the first GetName and kept
    // until ClosePack; null before.
    std::unique_ptr<char[]> name;
    // Decoded bytes while loaded, else null.
    std::unique_ptr<unsigned char[]> data;
    std::uint32_t dataOffset = 0;    // first stored byte in the pack file
    std::uint32_t originalSize = 0;  // decoded size
    std::uint32_t packedSize = 0;    // stored bytes at dataOffset
    std::uint32_t method = 0;        // PackMethod value as read (may be unknown)
    std::uint32_t folder = 0;        // index in the folder list (0: the root)
    pack::NameRef ownName;           // its own name in the name pool
};

class PackIndex {
  public:
    static constexpr unsigned long kNotFound = static_cast<unsigned long>(-1);

    PackIndex();
    ~PackIndex();
    PackIndex(const PackIndex&) = delete;
    PackIndex& operator=(const PackIndex&) = delete;

    void AddRef() { ++refs; }
    // Drops one reference; true when it was the last.
    bool Release() { return --refs == 0; }
    unsigned long RefCount() const { return refs; }

    // ---- Index --------------------------------------------------------------
    bool OpenPack(const char* path);
    unsigned long GetIndex(const char* name) const;
    char* GetName(unsigned long index);
    unsigned long GetFileSize(unsigned long index) const;
    unsigned long GetFileSize(const char* name) const;
    unsigned long GetFilePackedSize(unsigned long index) const;
    unsigned long GetFilePackedSize(const char* name) const;
    unsigned long GetNumFiles() const { return count; }
    char* GetArchiveName() { return archivePath; }

    // ---- Data ---------------------------------------------------------------
    bool LoadFile(unsigned long index);
    int LoadFile(const char* name);
    bool LoadAll();
    unsigned char* GetData(unsigned long index);
    unsigned char* GetData(const char* name);
    void CopyData(unsigned long index, unsigned char* buffer, unsigned long* size);
    void CopyData(const char* name, unsigned char* buffer, unsigned long* size);
    void PurgeFile(unsigned long index);
    void PurgeAll();
    void ClosePack();
    // Decodes entry `index` straight into `buffer` (`capacity` bytes, at
    // least its original size) without keeping it: the C interface's read.
    // False with LastFault set (kind Io for an invalid index or a small
    // buffer; the reason says which).
    bool ReadInto(unsigned long index, unsigned char* buffer, std::uint64_t capacity);

    // Why the last OpenPack or load failed ("" after a success), as one
    // line, with the byte offset for damage ("... at offset N").
    const std::string& LastError() const { return error; }
    // The same as a Fault (kind and offset apart).
    const pack::Fault& LastFault() const { return fault; }
    // The entries (for tools and tests).
    const std::vector<PackEntry>& Entries() const { return entries; }
    // Entry `index`'s full name built afresh (not kept); "" for an invalid
    // index. For tools and tests.
    std::string FullName(unsigned long index) const;

  private:
    // What survives of a folder once the directory is read: enough to build
    // and compare its entries' full names.
    struct Folder {
        std::uint32_t parent = pack::kNoFolder;
        pack::NameRef name;
    };
    // One slot of the name table: an entry index (kEmptySlot when free) and
    // the upper half of its name's hash, so most misses need no compare.
    struct Slot {
        std::uint32_t index;
        std::uint32_t tag;
    };
    static constexpr std::uint32_t kEmptySlot = 0xFFFFFFFFu;

    // Reads the whole directory through the shared walker and fills
    // `entries`, `folders` and `names`: of the version the file names when
    // `version` is None, else of that version only (a file of the other
    // version is refused with NotAPack), as ReadOldIndex and ReadTreeIndex.
    bool ReadIndex(pack::ByteSource& source, pack::PackVersion version);
    bool ReadOldIndex(pack::ByteSource& source);
    bool ReadTreeIndex(pack::ByteSource& source);
    // Takes one folder of the walked directory over: its record, and an
    // entry for each of its files in record order. The walker lists folders
    // in pre-order, so taking them in turn gives directory order.
    void ReadFolderBlock(const pack::Directory& directory, std::uint32_t folder);
    void TakeDirectory(pack::Directory& directory);
    void BuildNameTable();

    std::string_view NameOf(pack::NameRef ref) const {
        return std::string_view(names).substr(ref.offset, ref.length);
    }
    std::size_t FullNameLength(const PackEntry& entry) const;
    void WriteFullName(const PackEntry& entry, char* out, std::size_t length) const;
    // Whether `entry`'s full name equals `name` ignoring ASCII case,
    // compared piece by piece without building it.
    bool NameMatches(const PackEntry& entry, std::string_view name) const;
    std::uint64_t HashOfEntry(const PackEntry& entry,
                              const std::vector<std::uint64_t>& folderHashes) const;

    bool LoadEntry(PackEntry& entry, unsigned long index);
    // Opens the pack file again for a load; false (with `why`) when it
    // cannot be opened or is no longer the file that was opened.
    bool ReopenPack(pack::FileSource& file, pack::Fault& why) const;
    bool FailEntry(unsigned long index, pack::Fault why);
    bool Fail(const pack::Fault& why);
    void Forget();

    std::vector<PackEntry> entries;
    std::uint32_t count = 0;
    char archivePath[kArchivePathSize] = {};
    std::vector<Folder> folders;
    std::string names;  // every name once
    std::vector<Slot> table;
    pack::FileIdentity identity;
    pack::Fault fault;
    std::string error;
    unsigned long refs = 1;
};

}  // namespace tovelink
