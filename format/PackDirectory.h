// PackDirectory.h - the one reader of a pack's directory, both versions.
//
// ReadDirectory walks the directory of a pack from a ByteSource and returns
// every folder and file record with its offsets, or refuses the pack with
// the first rule it breaks (a Fault with its byte offset). It is the single
// definition of a structurally valid pack: the reader library, the desktop
// program's loader and converter, vpf and the strict check all start here,
// and each adds only its own policy on top (the reader loads lazily, the
// builder reads the stored bytes and converts, the strict check also demands
// the exact layout a correct writer produces).
//
// It refuses only what cannot be read safely, and takes everything a writer
// could have produced, however odd, as it is: names are bytes (".", "..",
// separators, an empty name), data blocks may share bytes with each other or
// lie anywhere in the file, fields readers do not use may hold anything.
// Rules enforced for version "2.10":
//   - the 20-byte header; the file is below 4 GiB (a FileSource refuses
//     larger files when it opens them);
//   - folder blocks read in sequence from offset 20 (a folder's block, then
//     the subtree of each subfolder in record order, never seeking to
//     blockOffset), each wholly inside the file, at most kMaxFolderDepth
//     levels below the root;
//   - every name zero-terminated in its field; every full name (a folder's
//     path, a file's path and name) at most kMaxFullNameLength bytes;
//   - the header's fileCount equals the number of file records;
//   - every data block (9-byte header and its stored bytes) lies inside the
//     file.
// Rules enforced for version "1.03":
//   - the 12-byte header and the offset table inside the file;
//   - every entry record inside the file (also those whose entryCode leaves
//     them out);
//   - each entry taken over has its stored bytes inside the file, and the
//     entries taken over claim (record and stored bytes, shared or not) no
//     more bytes than the file holds, so the list never outgrows the file.
// Not checked here (entry-level, found when the bytes are decoded, see
// EntryDecoder.h): method values, stored sizes, the codecs' own data.
// Not checked by anyone but the strict check (archive/PackCheck.h): bytes
// after a name's terminator (the first is noted in Directory::padding),
// subtreeSize, blockOffset, the header's reserved bytes, where data blocks
// lie and whether they share bytes, names that cannot be written to disk,
// duplicate names.
//
// Memory stays proportional to the directory: each name is kept once, in a
// shared pool; full paths are built on demand from folder indexes.
// Nothing here throws; an allocation failure is a Fault of kind NoMemory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/ByteSource.h"
#include "format/PackFormat.h"
#include "platform/Fault.h"

namespace pack {

inline constexpr std::uint32_t kNoFolder = 0xFFFFFFFFu;

// A run of bytes in Directory::names.
struct NameRef {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

// One folder block of a "2.10" pack (the root of a "1.03" pack has one too,
// with no record of its own), in pre-order: folders[0] is the root.
struct PackDirectory {
    std::uint32_t parent = kNoFolder;       // index in Directory::folders
    std::uint32_t depth = 0;                // 0 for the root
    NameRef name;                           // empty for the root
    std::uint64_t recordOffset = 0;         // its FolderRecord (0 for the root)
    std::uint32_t recordedBlockOffset = 0;  // the FolderRecord's blockOffset, as stored
    std::uint64_t blockOffset = 0;          // where its block really starts
    std::uint32_t subtreeSize = 0;          // as stored
    std::uint64_t subtreeEnd = 0;           // where its subtree's blocks really end
    std::uint32_t folderCount = 0;          // its subfolders
    std::uint32_t fileCount = 0;            // its own files
    std::uint32_t firstFile = 0;            // its files are files[firstFile, +fileCount)
    std::uint32_t pathLength = 0;           // bytes of its full name (0 for the root)
};

// One stored file, in directory order (a "2.10" folder's files in record
// order, then the subtree of each subfolder; a "1.03" pack in table order,
// entries that are not taken over left out).
struct DirectoryFile {
    std::uint32_t folder = 0;  // index in Directory::folders
    NameRef name;
    std::uint64_t recordOffset = 0;  // its FileRecord, or its OldEntryRecord
    std::uint64_t blockOffset = 0;   // "2.10": its DataBlockHeader; "1.03": its record
    std::uint64_t dataOffset = 0;    // its first stored byte
    std::uint32_t originalSize = 0;
    std::uint32_t packedSize = 0;
    std::uint8_t method = 0;  // a PackMethod value as stored; untrusted
    // Read with CutData::Keep only: its data block (or, "2.10", only its
    // stored bytes) runs past the end of the file. The sizes and the method
    // are those of its block header when that is inside the file, else 0.
    bool cut = false;
};

struct Directory {
    PackVersion version = PackVersion::None;
    std::uint64_t fileSize = 0;
    std::uint32_t headerFileCount = 0;
    std::uint8_t headerReserved[8] = {};  // "2.10" header bytes 8-15
    std::uint64_t directoryEnd = 0;       // end of the last folder block / the offset table
    // The first byte after a name's terminator that is not zero ("2.10"
    // records), kNoOffset when there is none.
    std::uint64_t padding = kNoOffset;
    // Read with CutData::Keep only: the offset-table slots of "1.03" entries
    // whose records lie past the end of the file (their names are lost).
    std::vector<std::uint64_t> cutRecordSlots;
    std::vector<PackDirectory> folders;
    std::vector<DirectoryFile> files;
    std::string names;  // every name once

    std::string_view Name(NameRef ref) const {
        return std::string_view(names).substr(ref.offset, ref.length);
    }
    std::string_view FileName(std::size_t i) const { return Name(files[i].name); }
    std::string_view FolderName(std::size_t i) const { return Name(folders[i].name); }
    // The folder's path from the root, joined with `separator` ("" for the root).
    std::string FolderPath(std::uint32_t folder, char separator) const;
    // The file's full name: its folder's path, `separator`, its name.
    std::string FullName(std::size_t file, char separator) const;
};

// The version whose whole header `source` begins with: None when its first
// bytes name no known version or it is shorter than that version's header.
// What "is this a pack, and which" means everywhere; reading the directory
// (below) then tells a sound pack from a damaged one.
PackVersion ProbeVersion(ByteSource& source);

// Reads and checks the directory of the pack in `source`. True with `out`
// filled; false with `fault` (kind NotAPack when the first bytes name no
// known version, Damaged with an offset for a broken rule, NoMemory, or Io
// when the source cannot be read) and `out` cleared.
bool ReadDirectory(ByteSource& source, Directory& out, Fault& fault);

// Only the versions in `allowed` are read; any other known version is
// refused as NotAPack with the text "not a PackFile of version X".
bool ReadDirectory(ByteSource& source, PackVersion allowed, Directory& out, Fault& fault);

// What the walk does with a file whose data lies past the end of the file,
// as in a pack cut short after a whole directory: Refuse the pack (every
// reader does), or Keep the file marked `cut`, for tools that save what is
// whole. Every other rule holds either way.
enum class CutData { Refuse, Keep };
bool ReadDirectory(ByteSource& source, PackVersion allowed, Directory& out, Fault& fault,
                   CutData cutData);

}  // namespace pack
