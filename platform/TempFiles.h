// TempFiles.h - the one list of temporary files that are alive right now.
//
// Every temporary file this program makes beside a file it is about to
// replace (AtomicFile.h) is entered here while it exists, so that a handler
// of SIGINT, SIGTERM or SIGHUP can remove them all before the process ends:
// an interrupted run leaves no half-written hidden files behind.
//
// The list is a fixed table of slots, each with an atomic state and a path
// buffer, so that RemoveLiveTempFiles may run inside a signal handler: it
// takes no lock, allocates nothing and calls only unlink or unlinkat. Registering and
// unregistering are thread-safe and may run while a handler runs on another
// thread; a path is published only once it is complete.
//
// Order of use (AtomicFile follows it):
//   1. RegisterTempFile(path) before the file is created, so that there is
//      no moment where the file exists but is not listed;
//   2. create, write, and rename or unlink the file;
//   3. UnregisterTempFile(slot) after the rename or unlink. A handler that
//      runs between 2 and 3 unlinks a name that no longer exists: harmless,
//      since every registered name is unique to this process.
#pragma once

#include <cstddef>

namespace crateforge::fs {

// Files that may be alive at once; more is refused (RegisterTempFile -1).
inline constexpr std::size_t kMaxLiveTempFiles = 128;
// Longest path the list holds, terminator included.
inline constexpr std::size_t kMaxTempPathSize = 4096;

// Enters `path` into the list. Returns the slot, or -1 when the list is full
// or the path too long (the caller must then not create the file).
int RegisterTempFile(const char* path);

// Enters the file `name` of the folder open as `folderFd`: the handler
// removes it with unlinkat, so a folder swapped for a link meanwhile cannot
// redirect the removal. The descriptor must stay open until the slot is
// unregistered. Returns the slot, or -1 as RegisterTempFile.
int RegisterTempFileAt(int folderFd, const char* name);

// Removes the entry of `slot` (from RegisterTempFile; -1 does nothing).
void UnregisterTempFile(int slot);

// Unlinks every listed file and empties their slots; returns how many were
// listed. Async-signal-safe.
int RemoveLiveTempFiles() noexcept;

// How many files are listed now (for tests and diagnostics).
std::size_t LiveTempFileCount();

}  // namespace crateforge::fs
