// GzStream.h - one gzip member decoded in memory, in chunks.
//
// The buffer codec (GzCodec.h) goes through temporary files by design; this
// is the streaming counterpart for tools that decode entries of any size
// with flat memory (the command-line tool's extract, cat and check). It uses
// zlib's inflate directly: nothing touches the disk, and the memory used is
// zlib's window plus one block, whatever the sizes.
//
// It accepts exactly what GzDecompressBuffer accepts, so that every decoder
// of the system gives the same verdict on the same bytes:
//   - input that does not begin with the gzip magic 1F 8B is copied as it is
//     (zlib's gz* functions read such files transparently);
//   - otherwise it is read as zlib's file functions read it: gzip members
//     one after the other, each checked against its own trailer, bytes
//     after a member that start no other skipped; and, as
//     GzDecompressBuffer demands, the last eight bytes of the input must be
//     a trailer matching the CRC-32 and length of everything decoded. A pack
//     entry is one member, accepted when whole. A member cut short anywhere
//     fails ("truncated gzip stream"), and so does a damaged one ("corrupt
//     gzip stream").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/GzCodec.h"

namespace codec {

// Where the compressed bytes come from: Read fills up to `capacity` bytes
// and returns how many (0 at the end of the input), or -1 on a read error.
class GzInput {
  public:
    virtual ~GzInput() = default;
    virtual std::ptrdiff_t Read(unsigned char* buffer, std::size_t capacity) = 0;
};

// Where the decoded bytes go: Write takes them all or returns false.
class GzOutput {
  public:
    virtual ~GzOutput() = default;
    virtual bool Write(const unsigned char* data, std::size_t length) = 0;
};

// Why GzInflateMember stopped.
enum class GzInflateStatus {
    Ok,
    Corrupt,      // damaged or truncated stream, or bytes after the member
    TooLarge,     // more than outputLimit bytes would come out
    InputError,   // GzInput::Read returned -1
    OutputError,  // GzOutput::Write returned false
    NoMemory,
};

// Decodes all of `in` into `out` (see the top of this header). At most
// `outputLimit` bytes are written; *decoded receives the count written.
// `reason` gets a short text for every status but Ok.
GzInflateStatus GzInflateMember(GzInput& in, GzOutput& out, std::uint64_t outputLimit,
                                std::uint64_t* decoded, std::string& reason);

}  // namespace codec
