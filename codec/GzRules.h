// GzRules.h - the deflate rules zlib's inflate keeps and libdeflate does not.
//
// libdeflate decodes a few constructions that zlib's inflate refuses and
// that no deflate coder writes: literal/length symbols 286 and 287 and
// distance symbols 30 and 31 in a fixed-code block; a dynamic block that
// declares more than 286 literal/length or 30 distance codes, or whose
// code-length repeats run past the codes it declared; the unused half of a
// one-symbol literal/length or distance code; and a length in a block
// without distance codes. A pack entry must read the same with either
// decoder, so the libdeflate decoder refuses what this check finds.
//
// Cost: the check reads the block headers and walks the symbols of every
// block but a last one whose codes are complete (such a block cannot hold
// any of the above), without writing anything; a member of one block, as
// most files are, costs its header only.
#pragma once

#include <cstddef>

namespace codec {

// `data` holds the `length` bytes of a raw deflate stream that libdeflate
// has just decoded whole and found to end at `length`. True when zlib's
// inflate accepts it too. Never reads outside the `length` bytes, whatever
// they hold.
bool GzDeflateKeepsZlibRules(const unsigned char* data, std::size_t length);

}  // namespace codec
