// EntryDecoder.h - turning one entry's stored bytes back into the file.
//
// Every program decodes entries here, so that the checks live once and every
// decoder gives the same verdict on the same bytes:
//   - the method byte is dispatched: Stored, LZRW3-A and gzip decode; any
//     other value fails ("unknown method 7"), never an empty file;
//   - a stored entry must have packedSize == originalSize;
//   - an LZRW3-A entry may not claim more than its block can yield
//     (codec::LzrwMaxDecodedSize), refused before memory is allocated;
//   - a coded entry must decode to exactly originalSize bytes; the gzip
//     decoder is capped at originalSize, so a small hostile stream cannot
//     fill memory or the disk, and a member must be whole (trailer checked).
// Sizes are computed in 64 bits throughout; no claim can wrap.
//
// Two ways to decode:
//   DecodeEntry / LoadEntry  the whole file into one buffer, from one read
//                            of its stored bytes (a stored file is that
//                            read); gzip through the buffer codec
//                            (codec/GzCodec.h). Used by the reader library
//                            and the desktop program.
//   StreamEntry              in blocks into a sink. A gzip file of up to
//                            16 MiB is decoded whole as above, a larger one
//                            with the streaming decoder (codec/GzStream.h),
//                            so that memory stays flat for stored and gzip
//                            files of any size. An LZRW3-A block is one
//                            unit and is decoded whole. Used by tools.
// Nothing needs a temporary folder or any file but the pack. A failure
// caused by this machine rather than by the pack (no memory, a read error,
// a sink that refuses) has a FaultKind other than Damaged, so that callers
// never call a sound pack damaged. All functions are thread-safe for
// separate sources and sinks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "format/ByteSource.h"
#include "platform/Fault.h"

namespace pack {

// What an entry says about itself: its method byte and its two sizes.
struct EntryClaim {
    std::uint8_t method = 0;
    std::uint32_t originalSize = 0;
    std::uint32_t packedSize = 0;
};

using DecodedBytes = std::unique_ptr<unsigned char[]>;

// What can be checked before anything is read or allocated: a known method,
// equal sizes for a stored entry, a plausible LZRW3-A claim. The fault has
// no offset (callers know where the entry is).
bool CheckEntryClaim(const EntryClaim& claim, Fault& fault);

// Decodes the `claim.packedSize` stored bytes at `stored` (null allowed when
// that is 0). On success `out` holds exactly claim.originalSize bytes (a
// non-null buffer also for 0 bytes).
bool DecodeEntry(const EntryClaim& claim, const unsigned char* stored, DecodedBytes& out,
                 Fault& fault);

// Reads the stored bytes at `dataOffset` of `source`, then DecodeEntry.
bool LoadEntry(ByteSource& source, std::uint64_t dataOffset, const EntryClaim& claim,
               DecodedBytes& out, Fault& fault);

// Receives decoded bytes in order; false stops the decoding (the fault is
// then of kind Interrupted, with the sink's own reason if it set one).
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual bool Write(const unsigned char* data, std::size_t length) = 0;
    // Why the last Write returned false ("" when it has no reason to give).
    virtual std::string Reason() const { return {}; }
};

// Decodes the entry at `dataOffset` of `source` into `sink`, exactly
// claim.originalSize bytes when it succeeds. On failure the sink may have
// received part of the file: callers writing a file must not keep it.
bool StreamEntry(ByteSource& source, std::uint64_t dataOffset, const EntryClaim& claim,
                 ByteSink& sink, Fault& fault);

}  // namespace pack
