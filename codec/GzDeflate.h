// GzDeflate.h - the gzip codec's stream, made in memory.
//
// GzDeflateBuffer returns exactly the bytes GzCompressBuffer returns for the
// same input: deflate at level 9 with the default strategy and memory level
// that zlib's gzip file functions use for the mode "wb9", the same fixed
// header (1F 8B 08 00 00 00 00 00 00 0B) and the CRC-32 / length trailer.
// It only skips the two temporary files, so tools that pack many small
// files (the command-line tool) can code them without touching the disk.
// The desktop program and the reader keep the temporary-file codec.
//
// Nothing here reports progress. Thread-safe; no shared state.
#pragma once

#include <cstdint>

#include "codec/GzCodec.h"

namespace codec {

// The gzip stream of `length` bytes at `data` (data may be null when length
// is 0). Returns the stream and sets *outLength, or null (out of memory,
// or a stream that would not fit in 4 GiB) leaving *outLength unwritten.
// The buffer may be a little larger than *outLength.
GzBuffer GzDeflateBuffer(const unsigned char* data, std::uint32_t length, std::uint32_t* outLength);

}  // namespace codec
