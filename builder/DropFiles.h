// DropFiles.h - the dropped-files block that drag-out offers.
//
// Receivers that read the classic dropped-files list get one block:
//
//   offset  size  field                 value
//        0     4  offset of the names   20
//        4     4  drop point x          0
//        8     4  drop point y          0
//       12     4  non-client flag       0
//       16     4  wide-character flag   0 (names are single-byte strings)
//       20     -  names                 each path, then one NUL, in order
//      end     1  list end              one more NUL
//
// Integers are little-endian. An empty name would end the list early for a
// receiver, so empty paths are never written; the block is always a valid
// list, 21 bytes plus length + 1 for every path written.
//
// The block travels under kDropFilesMimeType beside the text/uri-list that
// every file manager reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace crateforge {

inline constexpr char kDropFilesMimeType[] = "application/x-varnholt-dropfiles";
inline constexpr std::uint32_t kDropFilesHeaderSize = 20;

// Builds the block for `paths` (empty ones left out).
std::vector<unsigned char> BuildDropFilesBlock(const std::vector<std::string>& paths);

}  // namespace crateforge
