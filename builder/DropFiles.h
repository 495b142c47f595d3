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
#include <string_view>
#include <vector>

namespace crateforge {

inline constexpr char kDropFilesMimeType[] = "application/x-varnholt-dropfiles";
inline constexpr std::uint32_t kDropFilesHeaderSize = 20;

// Builds the block for `paths` (empty ones left out).
std::vector<unsigned char> BuildDropFilesBlock(const std::vector<std::string>& paths);

// File URIs, byte for byte. A path on disk is bytes in no particular
// encoding, so a URI is made from the bytes themselves: every byte but the
// unreserved ASCII characters and "/" becomes "%XX" ("file:///a/caf%E9").
// Decoding gives the bytes back, whatever they are, without passing them
// through any text conversion.
//
// The text/uri-list of absolute `paths` (empty ones left out), each line
// ended by CR LF.
std::string FileUriList(const std::vector<std::string>& paths);
// The local paths of a text/uri-list: "file:" URIs whose host is empty or
// "localhost", percent-decoded to their bytes, one trailing "/" dropped
// ("file:///a/b/" names the folder b). Comment lines ("#"), other schemes,
// other hosts and paths holding a NUL byte are left out.
std::vector<std::string> PathsFromUriList(std::string_view uriList);

// The value of a hexadecimal digit in either case, or -1.
int HexDigit(char c);

}  // namespace crateforge
