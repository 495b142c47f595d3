// PackReader.h - Tovelink, the pack file reader library (libtovelink.so.2).
//
// A pack file holds a tree of folders and files, every file compressed on
// its own. PackReader opens one pack (format version "2.10" or the older
// "1.03"), lists its files, finds them by full path or index, loads and
// decodes them into memory on demand, and hands the bytes out by pointer or
// by copy. It does not write packs, extract to disk or show anything.
//
// Names are full paths inside the pack: folders joined by a backslash
// ("readme.txt", "data\\maps\\one.map"), at most 4,095 bytes (a pack holding
// a longer one is refused). Each part is the name as the pack stores it,
// byte for byte: a pack converted from the old version keeps names such as
// "maps\\one.map" in its root, and other writers may store names that are
// empty, ".", ".." or hold "/" or "\\". So a name handed out is not a safe
// path: a host that writes files under these names must check every part
// itself (refuse empty parts, "." and "..", a leading separator). Lookups by
// name compare those bytes, ignoring ASCII letter case (A-Z match a-z; every
// other byte, also above 0x7F, must be equal) and answer as a scan of the
// list in index order would: the first of several matching entries wins.
// They go through a hash table built by OpenPack, so they take the same
// short time in a pack of any size. Indices run from 0 to GetNumFiles() - 1
// in directory order (a folder's files, then its subfolders' contents).
// Sizes are byte counts below 4 GiB.
//
// Ownership: buffers returned by GetData, GetName and GetArchiveName belong
// to the reader; never free them. Data stays valid until its entry is purged,
// the pack is closed or the reader is destroyed.
//
// Copies and assignment share: after `b = a` (or `PackReader b(a)`) both
// handles drive one and the same open pack, entry list and loaded data; the
// last handle destroyed frees it. A reader, with every handle sharing it,
// must be used by one thread at a time; separate readers are independent.
//
// Packs are untrusted input: a damaged or hostile pack is refused (OpenPack
// false, or the damaged entry fails to load); nothing crashes or reads out
// of bounds. A path that is not a regular file (a FIFO, a device, a folder)
// is refused without reading from it, so OpenPack never waits. No member
// throws. The object is exactly one pointer in size.
//
// Files on disk: OpenPack reads the directory and closes the pack again;
// every load opens it anew, reads the entry's stored bytes in one read and
// closes it, and fails if the file is no longer the one that was opened.
// Decoding happens in memory (gzip with libdeflate, or zlib where the
// library was built without it): the reader needs no temporary folder and
// writes no file, so $TMPDIR may be missing, full or read-only, and a host
// killed in the middle of a load leaves nothing behind. A load holds the
// entry's stored bytes and its decoded bytes at once, nothing more.
// tovelink.h offers the same reading to C and to other compilers.
// Needs C++11 or later; includes nothing.
#ifndef TOVELINK_PACKREADER_H
#define TOVELINK_PACKREADER_H

#ifndef TOVELINK_API
#if defined(_WIN32)
#if defined(TOVELINK_BUILDING)
#define TOVELINK_API __declspec(dllexport)
#else
#define TOVELINK_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define TOVELINK_API __attribute__((visibility("default")))
#else
#define TOVELINK_API
#endif
#endif

namespace tovelink {
class PackIndex;
}

class TOVELINK_API PackReader {
  public:
    // A reader with no pack open: GetNumFiles() 0, GetArchiveName() "".
    PackReader();
    // Shares `other`'s pack (see "Copies and assignment share" above).
    PackReader(const PackReader& other) : index(nullptr) { *this = other; }
    // Drops this handle; the pack and its data are freed with the last one.
    ~PackReader();
    // Makes this handle share `other`'s pack; the one it held before is
    // dropped (and freed if no other handle holds it). Self-assignment is
    // harmless. Returns *this.
    PackReader& operator=(const PackReader& other);

    // Opens the pack at `path` (NUL-terminated), closing any pack open before.
    // Reads only the directory; no file data. Returns true for a sound pack
    // of version "1.03" or "2.10"; false for a missing or unreadable file, a
    // file that is no pack, or a damaged one (then no entries are listed).
    // A path of 260 characters or more is refused: false, and the archive
    // name stays what it was. Otherwise the path is kept as the archive name
    // whether the pack opens or not.
    bool OpenPack(char* path);
    // Frees all loaded data, the names built by GetName and the list, and
    // closes whatever the reader kept for the pack. The archive name is kept.
    void ClosePack();

    // Loads and decodes the named entry unless it is loaded already.
    // Returns its index, or -1 for an unknown name or a failed load.
    int LoadFile(char* name);
    // Loads and decodes entry `index` unless it is loaded already. True when
    // the entry is loaded; false for an index not below GetNumFiles() or a
    // failed load (the pack file gone or changed since OpenPack, damaged or
    // undecodable data, an unknown coding method, out of memory).
    bool LoadFile(unsigned long index);
    // Loads every entry in index order; false at the first failure, true
    // when all are loaded (also when there are none).
    bool LoadAll();
    // Frees entry `index`'s data; does nothing for an unloaded entry or an
    // invalid index. The next use loads it again from the pack file.
    void PurgeFile(unsigned long index);
    // PurgeFile for every entry; the entries stay listed.
    void PurgeAll();

    // The entry's decoded bytes (GetFileSize() of them), loading them first
    // when needed; null for an unknown name, an invalid index or a failed
    // load. The same pointer is returned while the entry stays loaded.
    unsigned char* GetData(char* name);
    unsigned char* GetData(unsigned long index);

    // Index of the first entry whose name equals `name` ignoring ASCII case;
    // all ones ((unsigned long)-1) when there is none.
    unsigned long GetIndex(char* name);
    // The entry's full name, as stored (see the top: not a safe disk path);
    // null for an invalid index (or when there is no memory to build it).
    // Built on the first call for that entry and kept, unchanged, until
    // ClosePack.
    char* GetName(unsigned long index);

    // Unknown name or invalid index: *size = 0, nothing else. Otherwise
    // *size = the entry's original size; when `buffer` is not null the entry
    // is loaded (and stays loaded) and its bytes are copied into `buffer`,
    // which must hold *size bytes. If that load fails, nothing is copied and
    // *size = 0. Call with a null buffer first to learn the size; that call
    // loads nothing.
    void CopyData(char* name, unsigned char* buffer, unsigned long* size);
    void CopyData(unsigned long index, unsigned char* buffer, unsigned long* size);

    // Number of entries; 0 when no pack is open.
    unsigned long GetNumFiles();
    // Original (decoded) size; 0 for an unknown name or invalid index (and
    // for an empty file: use GetIndex to tell them apart).
    unsigned long GetFileSize(unsigned long index);
    unsigned long GetFileSize(char* name);
    // Number of stored (coded) bytes in the pack; 0 as for GetFileSize.
    unsigned long GetFilePackedSize(unsigned long index);
    unsigned long GetFilePackedSize(char* name);

    // The path last accepted by OpenPack; "" before the first. Valid for the
    // reader's life; its contents change at the next OpenPack.
    char* GetArchiveName();

    // The one data member: the shared index. Not for use by hosts.
    tovelink::PackIndex* index;
};

#endif  // TOVELINK_PACKREADER_H
