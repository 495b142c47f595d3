// EntryCoding.h - coding a file into its stored form, and the progress step.
//
// Every file the builder stores is coded once, when it enters a pack (added
// from disk, or recoded while an old pack is converted). CompressEntry keeps
// the gzip form when it is strictly shorter than the file, else the file's
// own bytes (PackMethod::Stored); no other method is ever chosen. When gzip
// fails (only for want of memory) the file is kept stored, so coding never
// loses a file; CompressEntry then answers false, so that the caller can say
// so.
//
// Progress: the desktop program has one process-wide progress binding (the
// bar the open document drives) and one accumulator of compressed bytes not
// yet shown. The gzip coder calls GzProgressStep after every block through
// BoundGzProgress(); each block moves the bound bar by half its length
// (LoadEntryFromDisk moves it by the other half before compressing). These
// globals belong to the user-interface thread.
//
// Threads: CompressEntry(buffer, entry, progress) and CodeDiskFile touch no
// global state, so a tool may code files on several threads at once, each
// with its own (or an empty) codec::GzProgress. Coding is done in memory
// (codec/GzCodec.h) and needs no temporary folder.
#pragma once

#include <cstdint>
#include <string>

#include "archive/PackEntry.h"
#include "codec/GzCodec.h"
#include "platform/Fault.h"

namespace crateforge {

class ProgressControl;

// ---- Process-wide progress (user-interface thread only) ------------------

// Count of compressed bytes not yet shown on the bar; starts at 0.
extern float ProgressAccumulator;

// Binds the bar GzProgressStep advances (null clears the binding).
void BindProgressControl(ProgressControl* bar);
ProgressControl* BoundProgressControl();

// GzProgressStep(n): adds n to ProgressAccumulator; once it reaches 2.0, the
// bound bar (if any) moves by floor(accumulator / 2) and the accumulator
// drops its whole-number part. A 16384-byte block moves the bar by 8192; a
// 1-byte block moves it by 0 and leaves 1 for the next block.
void GzProgressStep(std::uint32_t byteCount);

// A codec::GzProgress that calls GzProgressStep.
codec::GzProgress BoundGzProgress();

// ---- Coding ---------------------------------------------------------------

// CompressEntry(buffer, entry): `buffer` holds entry.originalSize bytes and
// passes to the entry (it may be null when originalSize is 0). Sets `data`,
// `packedSize` and `method`: gzip when strictly shorter, otherwise stored
// (also when GzCompressBuffer fails). Reports progress through the process-
// wide binding. A zero-length file is always stored with both sizes 0.
// Returns false when the gzip coder failed and the file was stored for that
// reason, true otherwise.
bool CompressEntry(codec::GzBuffer buffer, PackEntry& entry);
// The same with an explicit progress sink (empty: none); `error`, when
// given, says why gzip failed. Thread-safe.
bool CompressEntry(codec::GzBuffer buffer, PackEntry& entry, codec::GzProgress progress,
                   codec::GzError* error = nullptr);

// Outcome of reading a disk file whole.
enum class DiskReadStatus {
    Ok,
    CannotOpen,  // missing, dangling link, no permission, not a regular file
    TooLarge,    // 4 GiB or more: sizes in a pack are 32-bit
    ReadFailed,  // an I/O error, or the file changed while it was read
    NoMemory,
};

// ReadDiskFile: reads the regular file at `path` whole (links followed; a
// FIFO or device is refused without blocking). On Ok, `bytes` holds `size`
// bytes (null when size is 0). Otherwise `fault` says why in a few words
// ("No such file or directory", "not a regular file", ...; kind Io, or
// NoMemory). A file whose size or modification time changes while it is
// read (it grows, shrinks or is rewritten meanwhile) fails with ReadFailed
// and the reason kChangedWhileReadReason: what was read is no state the file
// ever had as a whole, so it is not kept. Thread-safe.
inline constexpr char kChangedWhileReadReason[] = "it changed while it was read";

DiskReadStatus ReadDiskFile(const std::string& path, codec::GzBuffer& bytes, std::uint32_t& size,
                            pack::Fault& fault);

// CodeDiskFile: ReadDiskFile + CompressEntry with `progress`; fills
// originalSize, packedSize, data and method of `entry` (the name is the
// caller's). On failure the entry is left unchanged. Thread-safe; this is the
// coding path of a tool that codes files on worker threads before adding
// them in pack order with CPackArchive::AddCodedFile.
DiskReadStatus CodeDiskFile(const std::string& path, PackEntry& entry, codec::GzProgress progress,
                            pack::Fault& fault);

}  // namespace crateforge
