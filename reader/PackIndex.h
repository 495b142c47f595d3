// PackIndex.h - the object behind every PackReader handle: the flat entry
// list of one open pack, its loaded data, and the checks that keep a hostile
// pack from doing harm.
//
// OpenPack tries version "1.03" first, then "2.10". Either way the result is
// one list of entries in directory order, each named by its full path
// (folders joined by a backslash). Every offset, count, size and name read
// from the pack is checked against the file before it is used or allocated
// for; a pack that fails a check is refused whole and the reason is kept for
// tools (LastError). Loading reopens the pack file, verifies that it is still
// the file that was opened, reads the entry's stored bytes and decodes them;
// the decoded length must equal the entry's original size.
//
// Handles share one PackIndex through a reference count: AddRef for every
// handle that takes it, Release when a handle lets go; Release returns true
// for the last one, whose owner then deletes the index.
//
// Nothing here throws (allocation failures are reported as failures) or
// shows anything. Not thread-safe: one thread at a time per index.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tovelink {

// Longest full name (path inside the pack) accepted. One path component is
// at most 259 bytes; nesting makes longer paths, but not without bound.
inline constexpr std::size_t kMaxFullNameLength = 4096;
// The names of all entries may take at most this many bytes per byte of
// pack file, so that deep nesting cannot make a small pack cost gigabytes.
inline constexpr std::uint64_t kNameBytesPerPackByte = 8;
// The longest archive path kept: 259 characters and the terminator.
inline constexpr std::size_t kArchivePathSize = 260;

// The reader's record of one stored file.
struct PackEntry {
    std::string name;                       // full path inside the pack
    std::uint32_t dataOffset = 0;           // first stored byte in the pack file
    std::unique_ptr<unsigned char[]> data;  // decoded bytes while loaded, else null
    std::uint32_t originalSize = 0;         // decoded size
    std::uint32_t packedSize = 0;           // stored bytes at dataOffset
    std::uint32_t method = 0;               // PackMethod value as read (may be unknown)
};

class PackIndex {
  public:
    static constexpr unsigned long kNotFound = static_cast<unsigned long>(-1);

    PackIndex();
    ~PackIndex();
    PackIndex(const PackIndex&) = delete;
    PackIndex& operator=(const PackIndex&) = delete;

    void AddRef() { ++refs_; }
    // Drops one reference; true when it was the last.
    bool Release() { return --refs_ == 0; }
    unsigned long RefCount() const { return refs_; }

    // ---- Index --------------------------------------------------------------
    bool OpenPack(const char* path);
    unsigned long GetIndex(const char* name) const;
    char* GetName(unsigned long index);
    unsigned long GetFileSize(unsigned long index) const;
    unsigned long GetFileSize(const char* name) const;
    unsigned long GetFilePackedSize(unsigned long index) const;
    unsigned long GetFilePackedSize(const char* name) const;
    unsigned long GetNumFiles() const { return count_; }
    char* GetArchiveName() { return archivePath_; }

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

    // Why the last OpenPack or load failed ("" after a success).
    const std::string& LastError() const { return error_; }
    // The entries (for tools and tests).
    const std::vector<PackEntry>& Entries() const { return entries_; }

  private:
    // Identity of the pack file as it was opened; a load refuses a file
    // that no longer matches (replaced, rewritten, shrunk or grown).
    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        std::uint64_t size = 0;
        std::int64_t modifiedSeconds = 0;
        long modifiedNanoseconds = 0;
        bool operator==(const FileIdentity&) const = default;
    };
    class PackFile;

    enum class Attempt { Done, NotThisVersion, Refused };
    Attempt ReadOldIndex(PackFile& file, std::vector<PackEntry>& out);
    Attempt ReadTreeIndex(PackFile& file, std::vector<PackEntry>& out);
    bool LoadEntry(PackEntry& entry);
    bool Fail(std::string reason);

    std::vector<PackEntry> entries_;
    std::uint32_t count_ = 0;
    char archivePath_[kArchivePathSize] = {};
    FileIdentity identity_;
    std::string error_;
    unsigned long refs_ = 1;
};

}  // namespace tovelink
