// PackCheck.h - a strict walk over a whole pack file, for tools that verify
// packs (vpf check) before they are trusted.
//
// The document's loader (CPackArchive::Load) accepts every pack it can read
// safely. The check is stricter: it accepts a pack only when it is laid out
// exactly as a correct writer lays it out, and it reports the first fault it
// meets with the byte offset where it lies.
//
// Version "2.10":
//   - header magic and version; the file is below 4 GiB;
//   - folder blocks read in sequence from offset 20, each wholly inside the
//     file, nested at most kMaxFolderDepth deep; every blockOffset names the
//     position where its block really starts and every subtreeSize the real
//     size of the subtree;
//   - every name is zero-terminated in its field, a safe single path
//     component (IsSafeEntryName) and unique, ignoring case, among the
//     folder's files (or subfolders);
//   - the header's fileCount equals the number of file records;
//   - the data blocks follow the directory in pre-order without gaps, each
//     dataOffset names its block, every method byte is defined, stored
//     entries have packedSize == originalSize, and the file ends with the
//     last data block;
// Version "1.03":
//   - header, offset table and every entry record inside the file and past
//     the table; names non-empty and safe; stored bytes inside the file;
//     stored entries have packedSize == originalSize;
// Both: an LZRW3-A entry cannot claim more original bytes than its block can
// yield (LzrwSizePlausible); and every entry decodes to exactly its original
// size (CheckEntryData).
//
// The structure walk reads the directory and the data block headers only; the
// stored bytes are read entry by entry by CheckEntryData, which is thread-safe
// (pread on a shared descriptor), so a tool may decode on several threads and
// report the first failing entry in pack order. Nothing here shows a message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace crateforge {

// One stored file found by the walk, in pack order.
struct CheckedEntry {
    std::string path;            // full path inside the pack, folders joined with "/"
    std::uint64_t recordOffset;  // its FileRecord (2.10) or OldEntryRecord (1.03)
    std::uint64_t dataOffset;    // its first stored byte
    std::uint32_t originalSize;
    std::uint32_t packedSize;
    std::uint8_t method;  // a PackMethod value
};

struct PackCheckFault {
    std::uint64_t offset = 0;  // where in the file the fault lies
    std::string reason;        // one line, naming the entry where there is one
};

struct PackStructure {
    std::string version;  // "2.10" or "1.03"
    std::uint64_t fileSize = 0;
    std::uint32_t folderCount = 0;  // folders below the root
    std::vector<CheckedEntry> entries;
};

// Whether an LZRW3-A block of `packedSize` bytes can decode to
// `originalSize` bytes (a 2-byte copy item yields at most 18 bytes). Larger
// claims are damaged and must be refused before output room is allocated.
bool LzrwSizePlausible(std::uint64_t originalSize, std::uint64_t packedSize);

// CheckPackStructure: the strict walk of everything but the stored bytes.
// True when the structure is sound (`out` filled); false with the first fault
// otherwise (a file that cannot be opened has offset 0 and the errno text).
bool CheckPackStructure(const std::string& path, PackStructure& out, PackCheckFault& fault);

// CheckEntryData: reads the entry's stored bytes from `fd` (the pack, opened
// for reading) and decodes them. True when they decode to exactly
// originalSize bytes; false with `reason` otherwise. Thread-safe.
bool CheckEntryData(int fd, const CheckedEntry& entry, std::string& reason);

// CheckPack: CheckPackStructure, then CheckEntryData for every entry in pack
// order, stopping at the first fault (its offset is the entry's dataOffset).
bool CheckPack(const std::string& path, PackStructure& out, PackCheckFault& fault);

}  // namespace crateforge
