// GzStream.h - one gzip member decoded in chunks, with flat memory.
//
// The buffer codec (GzCodec.h) needs the whole member and the whole result
// in memory; this is its streaming counterpart for tools that decode
// entries of any size (the command-line tool's extract, cat and check on a
// large file). It uses zlib's inflate: the memory used is zlib's window
// plus two blocks, whatever the sizes.
//
// It accepts exactly what GzDecompressBuffer accepts, with either of its
// decoders, so that every decoder of the system gives the same verdict on
// the same bytes:
//   - input that does not begin with the gzip magic 1F 8B is copied as it
//     is;
//   - anything else must be exactly one sound gzip member, its trailer
//     checked, with no byte after it. A member cut short anywhere, damaged,
//     or followed by anything fails (Corrupt).
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
    Corrupt,      // damaged or truncated member, or bytes after it
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
