// EntryData.h - a stored entry of the builder's tree, back to its original
// bytes and onto the disk.
//
// A thin layer over the format core's one entry decoder
// (format/EntryDecoder.h), which holds every check: method dispatch, equal
// sizes for stored entries, the LZRW3-A plausibility bound, decoding to
// exactly originalSize bytes, all sizes in 64 bits. Entries held in memory
// are decoded whole here, gzip by the buffer codec in memory; streaming
// callers (vpf) decode with pack::StreamEntry over a MemorySource
// of the entry's bytes into an AtomicFileSink instead.
//
// Writing goes through the one atomic replace-write (platform/AtomicFile.h):
// the entry is decoded first, so a damaged entry creates nothing; the file
// appears whole under its name or not at all. Failures come back as a
// pack::Fault: Damaged for the entry's bytes, NoMemory for this machine, Io
// for the disk. All functions are thread-safe.
#pragma once

#include <string>

#include "archive/PackEntry.h"
#include "format/EntryDecoder.h"
#include "platform/AtomicFile.h"
#include "platform/Fault.h"

namespace crateforge {

// The method byte and sizes the entry claims.
inline pack::EntryClaim ClaimOf(const PackEntry& entry) {
    return {entry.method, entry.originalSize, entry.packedSize};
}

// The stored bytes of `entry`: its own buffer, or read from the pack file
// into `holder`. False with `fault` (Io) when they cannot be had.
bool StoredBytes(const PackEntry& entry, pack::DecodedBytes& holder, const unsigned char*& bytes,
                 pack::Fault& fault);

// The original bytes of `entry` (exactly originalSize of them) in `bytes`.
bool DecodeEntry(const PackEntry& entry, pack::DecodedBytes& bytes, pack::Fault& fault);

// The options extraction uses: a link at the target is replaced rather than
// followed (nothing lands outside the chosen folder), the file gets the
// mode of a new file whatever was there, and it is not synced to disk on
// its own (AtomicFileOptions::durable).
fs::AtomicFileOptions ExtractOptions();

// Decodes the entry and writes its original bytes as `target`.
bool WriteEntryToFile(const PackEntry& entry, const std::string& target, pack::Fault& fault,
                      const fs::AtomicFileOptions& options = ExtractOptions());
// The same as the file `name` of the folder open as `folder` (one reached
// through platform/BeneathFolder.h); `displayPath` names it in messages.
bool WriteEntryAt(const PackEntry& entry, int folder, const std::string& name,
                  const std::string& displayPath, pack::Fault& fault,
                  const fs::AtomicFileOptions& options = ExtractOptions());

// Decoded bytes straight into an AtomicFile (pack::StreamEntry's output).
class AtomicFileSink final : public pack::ByteSink {
  public:
    explicit AtomicFileSink(fs::AtomicFile& file) : file_(file) {}
    bool Write(const unsigned char* data, std::size_t length) override {
        return file_.Write(data, length);
    }
    std::string Reason() const override { return file_.WriteFailure(); }

  private:
    fs::AtomicFile& file_;
};

}  // namespace crateforge
