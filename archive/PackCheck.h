// PackCheck.h - the strict check of a whole pack, for tools that verify
// packs before they are trusted (vpf check).
//
// The check is the format core's directory walker (format/PackDirectory.h),
// which every reader shares, plus the rules only a strict check demands:
// the pack must be laid out exactly as a correct writer lays it out.
// Readers ignore these fields, so a pack that breaks them still opens
// elsewhere; the check refuses it and says where.
//
// Both versions, beyond the walker: every name field is zero after its
// terminator, and every name is one that extraction writes as it is
// (pack::ToDiskPath takes it, without dropping a leading separator).
// Version "2.10":
//   - the header's reserved bytes 8-15 are zero;
//   - every blockOffset names the position where its block really starts,
//     every subtreeSize the real size of its subtree;
//   - names are unique, ignoring case, among a folder's files and among its
//     subfolders;
//   - no data block lies inside the header or the directory, none shares
//     a byte with another, and they follow the directory in pre-order
//     without gaps, the file ending with the last one.
// Version "1.03": every entry record lies after the offset table, and the
// entries taken over (record and stored bytes) share no byte.
// Both versions: every entry's claim passes pack::CheckEntryClaim (a known
// method, equal sizes for a stored entry, a plausible LZRW3-A size), and
// every entry decodes to exactly its original size through the one entry
// decoder (pack::StreamEntry: in memory, flat, no temporary files).
//
// A fault of kind Damaged carries the byte offset where the damage lies and
// names the entry where there is one ("a/b.txt: unknown method 3"). Any
// other kind (Io, NoMemory, TempFolder, NotAPack) is not damage: the pack
// could not be checked, and callers must say so rather than call it damaged.
// Nothing here shows a message.
#pragma once

#include <cstddef>
#include <string>

#include "format/ByteSource.h"
#include "format/PackDirectory.h"
#include "platform/Fault.h"

namespace crateforge {

// The walker and the strict rules above (everything but decoding). True
// with `directory` filled; false with the first fault.
bool CheckPackStructure(pack::ByteSource& source, pack::Directory& directory, pack::Fault& fault);

// Decodes file `index` of `directory` from `source`, discarding the bytes.
// True when it decodes to exactly its original size. Thread-safe for
// separate sources (a DescriptorSource per thread over one descriptor).
bool CheckEntryData(pack::ByteSource& source, const pack::Directory& directory, std::size_t index,
                    pack::Fault& fault);

// Opens `path` and runs both, entries in pack order, stopping at the first
// fault.
bool CheckPack(const std::string& path, pack::Directory& directory, pack::Fault& fault);

}  // namespace crateforge
