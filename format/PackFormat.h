// PackFormat.h - the on-disk records of a pack file, both versions.
//
// A pack holds a tree of folders and files in one disk file. Version "2.10"
// (written by the builder, read by everyone) is laid out as
//
//   PackHeader (20 bytes)
//   directory:  root folder block at offset 20, then every other folder block
//               in pre-order; a block is a FolderBlockHeader (12 bytes), its
//               FolderRecords, then its FileRecords (264 bytes each)
//   data:       one DataBlockHeader (9 bytes) + packedSize stored bytes per
//               file, in the same pre-order, starting at 20 + root subtreeSize
//
// Version "1.03" (read only) is flat: OldPackHeader (12 bytes), a table of
// fileCount u32 entry offsets, and at each offset an OldEntryRecord (60 bytes)
// followed by the stored bytes.
//
// All integers are unsigned little-endian, with no padding between records.
// Names are single-byte strings, zero-terminated and zero-padded in their
// field. A writer of this system stores one path component per name; other
// writers did not (an old pack's names are whole paths, "maps\\x.map"), so
// readers take a name's bytes as they are (format/Names.h).
//
// This header gives the records as packed structures whose fields hold host
// values, and bounds-checked helpers that encode and decode them to and from
// byte buffers. It does not parse whole packs; the reader and the archive do.
// Nothing here allocates or throws.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace pack {

// ---- Constants ------------------------------------------------------------

inline constexpr std::size_t kTagSize = 4;
inline constexpr char kMagic[kTagSize] = {'V', 'H', 'P', 'F'};
inline constexpr char kVersionCurrent[kTagSize] = {'2', '.', '1', '0'};
inline constexpr char kVersionOld[kTagSize] = {'1', '.', '0', '3'};

inline constexpr std::size_t kNameFieldSize = 260;
inline constexpr std::size_t kMaxNameLength = kNameFieldSize - 1;  // 259 name bytes + NUL
inline constexpr std::size_t kOldNameFieldSize = 48;

inline constexpr std::size_t kPackHeaderSize = 2 * kTagSize + 8 + 4;  // 20
inline constexpr std::size_t kFolderBlockHeaderSize = 3 * 4;          // 12
inline constexpr std::size_t kFolderRecordSize = kNameFieldSize + 4;  // 264
inline constexpr std::size_t kFileRecordSize = kNameFieldSize + 4;    // 264
inline constexpr std::size_t kDataBlockHeaderSize = 4 + 4 + 1;        // 9
inline constexpr std::size_t kOldPackHeaderSize = 2 * kTagSize + 4;   // 12
inline constexpr std::size_t kOldEntryOffsetSize = 4;
inline constexpr std::size_t kOldEntryRecordSize = kOldNameFieldSize + 4 + 4 + 1 + 1 + 2;  // 60

inline constexpr std::uint32_t kRootBlockOffset = kPackHeaderSize;
inline constexpr std::uint32_t kEmptyPackSize = kPackHeaderSize + kFolderBlockHeaderSize;  // 32

// An old entry whose entryCode is this or more is not taken over.
inline constexpr std::uint8_t kOldFirstSkippedEntryCode = 23;
// Low four bits of OldEntryRecord::flags that mark an LZRW3-A block.
inline constexpr std::uint8_t kOldFlagsMethodMask = 0x0F;
inline constexpr std::uint8_t kOldFlagsLzrw = 0x01;

// ---- Limits ------------------------------------------------------------------
//
// What every parser accepts and every writer keeps to. Sizes, counts and
// offsets are u32: a pack and every file in it stay below 4 GiB. The builder
// creates folders at most kMaxFolderDepth levels below the root; a name is at
// most kMaxNameLength bytes; a full name (folder names and the file's own
// name, one separator byte between them) is at most kMaxFullNameLength
// bytes, Linux's path limit less one. Writers refuse to make a longer one and
// readers refuse a pack that holds one, so a full name built for every entry
// costs at most (kMaxFullNameLength + 1) / kFileRecordSize times the
// directory that names it.

inline constexpr std::uint64_t kMaxPackSize = 0xFFFFFFFFull;  // largest file size
inline constexpr std::uint32_t kMaxFolderDepth = 512;         // the root is depth 0
inline constexpr std::size_t kMaxFullNameLength = 4095;
// The deepest folders a writer makes, with one-byte names, still leave room
// for a file name of full length.
static_assert(2 * kMaxFolderDepth + kMaxNameLength <= kMaxFullNameLength);

// Length of the full name of an entry named with `nameLength` bytes in a
// folder whose own full name is `folderLength` bytes long; `inRoot` when that
// folder is the root (whose full name is empty).
constexpr std::size_t FullNameLength(std::size_t folderLength, bool inRoot,
                                     std::size_t nameLength) {
    return inRoot ? nameLength : folderLength + 1 + nameLength;
}
static_assert(FullNameLength(0, true, 5) == 5 && FullNameLength(1, false, 5) == 7);

// Size of one folder block with the given counts, in 64 bits so that hostile
// counts cannot wrap.
constexpr std::uint64_t FolderBlockSize(std::uint64_t folderCount, std::uint64_t fileCount) {
    return kFolderBlockHeaderSize + kFolderRecordSize * folderCount + kFileRecordSize * fileCount;
}

static_assert(kPackHeaderSize == 20 && kFolderRecordSize == 264 && kDataBlockHeaderSize == 9);
static_assert(kOldPackHeaderSize == 12 && kOldEntryRecordSize == 60 && kEmptyPackSize == 32);
static_assert(FolderBlockSize(0, 1) == 276 && FolderBlockSize(1, 1) == 540);

// ---- Records ----------------------------------------------------------------

// Coding of a file's stored bytes (one byte in the pack).
enum class PackMethod : std::uint8_t {
    Stored = 0,  // the file itself; packedSize == originalSize
    Lzrw3a = 1,  // one LZRW3-A block; decoding needs originalSize bytes of room
    Gzip = 2,    // one gzip member
};

constexpr bool IsKnownMethod(std::uint8_t value) {
    return value <= 2;
}

#pragma pack(push, 1)
struct PackHeader {
    char magic[kTagSize];
    char version[kTagSize];
    std::uint8_t reserved[8];  // written as zero, not read
    std::uint32_t fileCount;   // files in the whole tree
};

struct FolderBlockHeader {
    std::uint32_t subtreeSize;  // this block plus every block below it
    std::uint32_t folderCount;
    std::uint32_t fileCount;
};

struct FolderRecord {
    char name[kNameFieldSize];
    std::uint32_t blockOffset;  // absolute offset of the subfolder's block
};

struct FileRecord {
    char name[kNameFieldSize];
    std::uint32_t dataOffset;  // absolute offset of the file's DataBlockHeader
};

struct DataBlockHeader {
    std::uint32_t originalSize;
    std::uint32_t packedSize;
    std::uint8_t method;  // a PackMethod value; untrusted when read
};

struct OldPackHeader {
    char magic[kTagSize];
    char version[kTagSize];
    std::uint32_t fileCount;
};

struct OldEntryRecord {
    char name[kOldNameFieldSize];  // up to the first NUL, or all 48 bytes
    std::uint32_t packedSize;
    std::uint32_t originalSize;
    std::uint8_t flags;      // low four bits == 1: LZRW3-A, else stored
    std::uint8_t entryCode;  // >= 23: entry is not taken over
    std::uint8_t reserved[2];
};
#pragma pack(pop)

static_assert(sizeof(PackHeader) == kPackHeaderSize);
static_assert(sizeof(FolderBlockHeader) == kFolderBlockHeaderSize);
static_assert(sizeof(FolderRecord) == kFolderRecordSize);
static_assert(sizeof(FileRecord) == kFileRecordSize);
static_assert(sizeof(DataBlockHeader) == kDataBlockHeaderSize);
static_assert(sizeof(OldPackHeader) == kOldPackHeaderSize);
static_assert(sizeof(OldEntryRecord) == kOldEntryRecordSize);

// ---- Encoding and decoding --------------------------------------------------
//
// Read(bytes, offset, record): decodes the record that starts at `offset`.
//   Returns false, leaving `record` untouched, when the record does not lie
//   wholly inside `bytes` (offset + size past the end, overflow included).
// Write(bytes, offset, record): encodes the record at `offset`.
//   Returns false, writing nothing, when it would not fit.
// Encode(record): the record's exact bytes, for appending to a stream.

bool Read(std::span<const std::uint8_t> bytes, std::size_t offset, PackHeader& record);
bool Read(std::span<const std::uint8_t> bytes, std::size_t offset, FolderBlockHeader& record);
bool Read(std::span<const std::uint8_t> bytes, std::size_t offset, FolderRecord& record);
bool Read(std::span<const std::uint8_t> bytes, std::size_t offset, FileRecord& record);
bool Read(std::span<const std::uint8_t> bytes, std::size_t offset, DataBlockHeader& record);
bool Read(std::span<const std::uint8_t> bytes, std::size_t offset, OldPackHeader& record);
bool Read(std::span<const std::uint8_t> bytes, std::size_t offset, OldEntryRecord& record);

bool Write(std::span<std::uint8_t> bytes, std::size_t offset, const PackHeader& record);
bool Write(std::span<std::uint8_t> bytes, std::size_t offset, const FolderBlockHeader& record);
bool Write(std::span<std::uint8_t> bytes, std::size_t offset, const FolderRecord& record);
bool Write(std::span<std::uint8_t> bytes, std::size_t offset, const FileRecord& record);
bool Write(std::span<std::uint8_t> bytes, std::size_t offset, const DataBlockHeader& record);
bool Write(std::span<std::uint8_t> bytes, std::size_t offset, const OldPackHeader& record);
bool Write(std::span<std::uint8_t> bytes, std::size_t offset, const OldEntryRecord& record);

// The exact on-disk bytes of one record.
template <class R>
using RecordBytes = std::array<std::uint8_t, sizeof(R)>;

RecordBytes<PackHeader> Encode(const PackHeader& record);
RecordBytes<FolderBlockHeader> Encode(const FolderBlockHeader& record);
RecordBytes<FolderRecord> Encode(const FolderRecord& record);
RecordBytes<FileRecord> Encode(const FileRecord& record);
RecordBytes<DataBlockHeader> Encode(const DataBlockHeader& record);
RecordBytes<OldPackHeader> Encode(const OldPackHeader& record);
RecordBytes<OldEntryRecord> Encode(const OldEntryRecord& record);

// Little-endian u32 at `offset`; false when it does not fit.
bool ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset, std::uint32_t& value);
bool WriteU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);

// ---- Headers and names ------------------------------------------------------

// A header of the current version: magic "VHPF", version "2.10", reserved
// bytes zero, the given file count.
PackHeader MakePackHeader(std::uint32_t fileCount);
OldPackHeader MakeOldPackHeader(std::uint32_t fileCount);

bool IsCurrentPack(const PackHeader& header);  // "VHPF" + "2.10"
bool IsOldPack(const OldPackHeader& header);   // "VHPF" + "1.03"

// The versions this system knows, told apart by the first 8 bytes.
enum class PackVersion { None, Old, Current };
inline constexpr std::size_t kVersionTagBytes = 2 * kTagSize;
// "VHPF" followed by "1.03" or "2.10"; None for anything else and for fewer
// than 8 bytes.
PackVersion DetectVersion(std::span<const std::uint8_t> firstBytes);
// "1.03", "2.10", or "" for None.
std::string_view VersionText(PackVersion version);

// The name stored in a field: the bytes up to the first NUL, or the whole
// field when it holds none. Never reads past the field.
std::string_view FieldName(const char* field, std::size_t fieldSize);
template <std::size_t N>
std::string_view FieldName(const char (&field)[N]) {
    return FieldName(field, N);
}

// Zero-fills the field and copies `name` in. Returns false, leaving the field
// untouched, when the name does not leave room for the terminator or holds a
// NUL byte.
bool SetFieldName(char* field, std::size_t fieldSize, std::string_view name);
template <std::size_t N>
bool SetFieldName(char (&field)[N], std::string_view name) {
    return SetFieldName(field, N, name);
}

// The method that an old entry's flags byte names.
constexpr PackMethod OldEntryMethod(std::uint8_t flags) {
    return (flags & kOldFlagsMethodMask) == kOldFlagsLzrw ? PackMethod::Lzrw3a : PackMethod::Stored;
}

}  // namespace pack
