// EntryData.h - getting a stored entry's original bytes back, safely.
//
// Every path that turns a pack entry back into a file (the temporary
// workspace, the desktop program's View and Extract, the command-line tool's
// extract) goes through these functions, so that the checks live once:
//
//   - the method byte is dispatched: Stored, LZRW3-A and gzip decode, any
//     other value is a failure (never an empty file);
//   - a stored entry whose packedSize differs from its originalSize is
//     damaged and fails (its bytes are never read past packedSize);
//   - a coded entry must decode to exactly originalSize bytes; gzip decoding
//     is capped at originalSize so a small hostile stream cannot fill memory
//     or the disk;
//   - writing decodes first and creates the file only then, checks every
//     write and the close, refuses to follow a symbolic link at the target,
//     and removes a partly written file.
//
// Names taken from a pack are untrusted: IsSafeEntryName says whether one may
// become a single path component on disk.
//
// All functions are thread-safe (the gzip codec uses a unique temporary name
// per call) and show nothing; failures come back with a short reason.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "archive/PackEntry.h"
#include "codec/GzCodec.h"

namespace crateforge {

// Whether `name` can be used as one path component below a folder we chose:
// not empty, not "." or "..", no "/", "\\" or NUL byte, at most 259 bytes.
bool IsSafeEntryName(std::string_view name);

// DecodeEntry: the original bytes of `entry`. On success returns true,
// `bytes` holds exactly entry.originalSize bytes (null when that is 0) and
// `length` equals entry.originalSize. On failure returns false, `bytes` is
// null and `reason` says why ("damaged stored entry", "unknown method 7",
// "decoded size differs from the original size", "corrupt gzip data", ...).
bool DecodeEntry(const PackEntry& entry, codec::GzBuffer& bytes, std::uint32_t& length,
                 std::string& reason);

// WriteBytesToFile: creates or truncates the file at `path` (never through a
// symbolic link; mode 0666 less the umask), writes `length` bytes, checks
// every write and the close. On failure the partial file is removed and
// `reason` holds the errno text. `data` may be null when length is 0.
bool WriteBytesToFile(const std::string& path, const unsigned char* data, std::uint32_t length,
                      std::string& reason);

// WriteEntryToFile: DecodeEntry, then WriteBytesToFile. A failed decode
// leaves the disk untouched (no file is created or truncated).
bool WriteEntryToFile(const PackEntry& entry, const std::string& path, std::string& reason);

}  // namespace crateforge
