/* tovelink.h - Tovelink's C interface: read packs from C and from any
 * language that can call C (Python's ctypes, C#'s P/Invoke, Rust, a game
 * engine's scripting layer), and from C++ built by another compiler.
 *
 * It reads the same packs as class PackReader (PackReader.h), through the
 * same index: versions "2.10" and "1.03", names as full paths inside the
 * pack with folders joined by a backslash ("docs\\deep\\notes.txt"), looked
 * up ignoring ASCII letter case (A-Z match a-z; every other byte must be
 * equal; the first of several matches wins). Indices run from 0 to
 * tovelink_count() - 1 in directory order. Sizes are below 4 GiB.
 *
 * Ownership: tovelink_open returns a reader that the caller closes with
 * tovelink_close, once. Strings returned (names, error texts, the version)
 * belong to the library; never free them. A name stays valid until the
 * reader is closed; an error text until the next call on the same reader
 * (for tovelink_error(NULL): until the thread's next tovelink_open). File
 * bytes are decoded straight into the caller's buffer: the reader keeps no
 * decoded data between calls.
 *
 * Threads: a reader is used by one thread at a time, also for the calls
 * that take it as const (tovelink_name builds and keeps the name);
 * separate readers are independent and may be used from separate threads
 * at once. Nothing is shared between readers but the code.
 *
 * Files: tovelink_open reads the pack's directory and closes the file
 * again; every tovelink_read opens it anew, reads the entry's stored bytes
 * in one read and closes it, and fails if the file is no longer the one
 * that was opened (replaced or rewritten since). Paths are UTF-8 on
 * Windows (converted to the system's wide paths) and bytes elsewhere.
 * Decoding happens in memory: no temporary folder, no file written.
 *
 * Packs are untrusted input: a damaged or hostile pack is refused (a null
 * reader, or a non-zero result of tovelink_read with the reason, including
 * the byte offset of the damage); nothing crashes or reads out of bounds.
 * No function prints anything, and none aborts the process.
 *
 * C99 or later, or C++; includes only <stdint.h>. */
#ifndef TOVELINK_TOVELINK_H
#define TOVELINK_TOVELINK_H

#include <stdint.h>

#ifndef TOVELINK_API
#if defined(_WIN32)
#if defined(TOVELINK_BUILDING)
#define TOVELINK_API __declspec(dllexport)
#else
#define TOVELINK_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define TOVELINK_API __attribute__((visibility("default")))
#else
#define TOVELINK_API
#endif
#endif

/* The version of the library this header belongs to. */
#define TOVELINK_VERSION_MAJOR 2
#define TOVELINK_VERSION_MINOR 20
#define TOVELINK_VERSION_PATCH 0
#define TOVELINK_VERSION_STRING "2.20.0"

/* Results of tovelink_read. */
#define TOVELINK_OK 0
#define TOVELINK_ERROR_ARGUMENT 1 /* a null reader or buffer, an invalid index */
#define TOVELINK_ERROR_CAPACITY 2 /* the buffer is smaller than the file */
#define TOVELINK_ERROR_IO 3       /* the pack cannot be opened or read, or it changed */
#define TOVELINK_ERROR_DAMAGED 4  /* the entry's stored bytes are damaged */
#define TOVELINK_ERROR_MEMORY 5   /* out of memory */

#ifdef __cplusplus
extern "C" {
#endif

/* An open pack. Opaque: only pointers to it are handed out. */
typedef struct tovelink_reader tovelink_reader;

/* The library's version, "MAJOR.MINOR.PATCH" (the one it was built as,
 * which may be newer than TOVELINK_VERSION_STRING of the header a host was
 * compiled with). */
TOVELINK_API const char* tovelink_version(void);

/* Opens the pack at `path` (NUL-terminated; fewer than 260 bytes) and reads
 * its directory. Null for a missing or unreadable file, a file that is no
 * pack, a damaged pack or no memory; tovelink_error(NULL) then says why. */
TOVELINK_API tovelink_reader* tovelink_open(const char* path);

/* Closes the reader and frees everything it holds. Null is ignored. */
TOVELINK_API void tovelink_close(tovelink_reader* reader);

/* Number of files in the pack; 0 for a null reader. */
TOVELINK_API uint32_t tovelink_count(const tovelink_reader* reader);

/* The full name of file `index`, as stored (not a safe disk path: a part
 * may be empty, "." or ".."; check every part before writing files under
 * it). Null for an invalid index or no memory. */
TOVELINK_API const char* tovelink_name(const tovelink_reader* reader, uint32_t index);

/* Index of the first file whose full name equals `name` ignoring ASCII
 * letter case; -1 when there is none (or for a null argument). */
TOVELINK_API int64_t tovelink_find(const tovelink_reader* reader, const char* name);

/* Decoded size of file `index`; 0 for an invalid index. */
TOVELINK_API uint64_t tovelink_size(const tovelink_reader* reader, uint32_t index);

/* Stored (coded) size of file `index` in the pack; 0 for an invalid index. */
TOVELINK_API uint64_t tovelink_packed_size(const tovelink_reader* reader, uint32_t index);

/* Decodes the whole of file `index` into `buffer`, which holds `capacity`
 * bytes; exactly tovelink_size() bytes are written. TOVELINK_OK (0) on
 * success; otherwise one of the TOVELINK_ERROR_ values above, with the
 * reason in tovelink_error(reader). On failure the buffer may hold part of
 * the file. A file of 0 bytes needs no buffer (null is accepted). */
TOVELINK_API int tovelink_read(tovelink_reader* reader, uint32_t index, void* buffer,
                               uint64_t capacity);

/* Why the reader's latest failed call failed, as one line ("" while none
 * has failed); damage in the pack names its byte offset ("... at offset
 * N"). With a null reader: why the calling thread's last tovelink_open
 * failed. Never null. */
TOVELINK_API const char* tovelink_error(const tovelink_reader* reader);

#ifdef __cplusplus
}
#endif

#endif /* TOVELINK_TOVELINK_H */
