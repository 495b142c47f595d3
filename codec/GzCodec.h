// GzCodec.h - gzip buffer codec that works through temporary files.
//
// Stored files of the gzip method hold one complete gzip member, as zlib
// writes it with the mode "wb9" (deflate level 9, default strategy), with a
// header of exactly 1F 8B 08 00 00 00 00 00 00 0B (no name, time 0, extra
// flags 0, OS byte 0x0B) and the CRC-32 / length trailer.
//
// The buffer operations do their work on disk: the input is written to a
// temporary file, coded into a second one with zlib's gz* file functions in
// 16384-byte blocks, and the result is read back into a new buffer. The
// temporary directory is $TMPDIR, else the system default (P_tmpdir).
//
// Lifetime of the temporary files: both are created with no name at all
// (O_TMPFILE) where the file system allows it; elsewhere each gets a fresh
// name from mkstemp with the prefix "TMP" and loses it again right away, so
// that the files live on only through descriptors. Nothing of a call can be
// seen in the folder, during or after it, and nothing is left when the
// process is killed (with the fallback, a kill between the two system calls
// that create and unlink a name leaves one empty file). The files are
// private (mode 0600). Each thread keeps its two files open between calls
// and writes over what earlier calls left, since making and freeing files is
// most of what a small call costs; a call never leaves more than 1 MiB in
// either, a call that fails drops them, and the thread's end or the
// process's closes them. A call in another $TMPDIR makes new files there; a
// folder that has gone or become read-only since fails the call as making a
// file there would. A forked child makes its own, and so does a call after
// the host closed the descriptors (it never writes through their numbers).
// Calls on several threads and processes never meet on disk.
//
// System calls per call are few: each file is written once and read
// back through the descriptor in hand (never reopened by name), the
// compressed input of a decode is checked against its trailer in memory,
// and the result is allocated once at its exact size. Every stream a call
// opened is closed on every path. Calls on several threads at once are
// safe: each has its own files and error text.
//
// Results are allocated at their exact size and belong to the caller. A null
// result means failure; the out length is then left unwritten. Nothing here
// shows a message or throws; the reason of the last failure on the calling
// thread is kept for tools that print it (GzLastError).
//
// zlib itself writes its own extra-flags and OS bytes into the header; the
// codec sets them to 00 and 0B after the stream is written (the CRC covers
// the data only, so the stream stays valid for any gzip decoder).
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

namespace codec {

// Buffer size of the copy loops.
inline constexpr std::uint32_t GzBlockSize = 16384;
// zlib mode used for every compressed stream.
inline constexpr char GzWriteMode[] = "wb9";
// The first bytes of every stream this codec writes.
inline constexpr unsigned char GzHeader[10] = {0x1F, 0x8B, 0x08, 0x00, 0x00,
                                               0x00, 0x00, 0x00, 0x00, 0x0B};

using GzBuffer = std::unique_ptr<unsigned char[]>;

// Progress of the compress loop: `step(context, n)` is called after each
// block written to the gzip stream with that block's length (at most
// GzBlockSize). An empty progress reports nothing.
struct GzProgress {
    void (*step)(void* context, std::uint32_t bytes) = nullptr;
    void* context = nullptr;
};

inline constexpr std::uint64_t GzNoLimit = std::numeric_limits<std::uint64_t>::max();

// GzCompressBuffer: the gzip stream of `length` bytes at `data` (data may be
// null when length is 0). Returns the stream and sets *outLength, or null.
GzBuffer GzCompressBuffer(const unsigned char* data, std::uint32_t length, std::uint32_t* outLength,
                          GzProgress progress = {});

// GzDecompressBuffer: the bytes decoded from `length` bytes at `data`.
// Input without the gzip magic is returned as it is (zlib reads it
// transparently). `outputLimit` caps the decoded size: a stream that decodes
// to more bytes fails as soon as the limit is passed (callers pass the
// entry's original size), so a tiny hostile stream cannot fill the disk;
// results never exceed 4 GiB - 1 whatever the limit. For input that begins
// with the gzip magic, the last eight bytes must be a trailer that matches
// the CRC-32 and length of everything decoded; so a member cut short fails
// ("truncated gzip stream") however zlib's file functions saw its end, and
// so do bytes after a member (which zlib skips) unless they end with that
// same trailer. A pack entry holds one member. A damaged stream fails
// ("corrupt gzip stream"), and so does one past the limit ("decoded size
// exceeds limit"). Returns the bytes and sets *outLength (a non-null buffer
// also for 0 bytes), or null.
GzBuffer GzDecompressBuffer(const unsigned char* data, std::uint32_t length,
                            std::uint32_t* outLength, std::uint64_t outputLimit = GzNoLimit);

// GzCompressFile: compresses the file `path` into `path` + ".gz" with the
// zlib mode `mode` (the header bytes are then set as above); deletes `path`
// on success. 1 on success, 0 on failure (a partial output is removed, the
// input kept).
int GzCompressFile(const std::string& path, const char* mode, GzProgress progress = {});

// GzDecompressFile: when `path` is at least 4 characters long and ends in
// ".gz" (case-sensitive), decodes it into `path` without the suffix;
// otherwise decodes `path` + ".gz" into `path`. So ".gz" alone, or "x.GZ",
// counts as a name without the suffix. The input's last eight bytes are
// checked against what was decoded, as in GzDecompressBuffer. Deletes the
// compressed input on success. 1 on success, 0 on failure (a partial output
// is removed, the input kept).
int GzDecompressFile(const std::string& path, std::uint64_t outputLimit = GzNoLimit);

// The copy loops. Each takes ownership of both streams (a FILE* and a zlib
// gzFile passed as void* so that zlib's header stays private) and closes them
// on every path. The compress loop reports progress after each block; the
// decompress loop fails once more than `outputLimit` bytes would come out,
// without writing them. 1 on success, 0 on failure.
int GzStreamCompress(std::FILE* plainFile, void* gzipFile, GzProgress progress = {});
int GzStreamDecompress(void* gzipFile, std::FILE* plainFile, std::uint64_t outputLimit = GzNoLimit);

// Why the last failing call on this thread failed ("" when none did), for
// example "cannot create temporary file in /x: No such file or directory",
// "corrupt gzip stream" or "decoded size exceeds limit". A successful call
// leaves it as it was. Valid until the next failure on the same thread.
const char* GzLastError();

// What kind of failure that was: the data (Corrupt: damaged, truncated or
// not one member; TooLarge: past the output limit), memory, or a file that
// could not be made, written or read (for the buffer operations, always one
// of their temporary files: the temporary folder is missing, full, read-only
// or not writable). None before any failure on this thread.
enum class GzFailure { None, Corrupt, TooLarge, NoMemory, File };
GzFailure GzLastFailure();

}  // namespace codec
