// Interrupt.h - what vpf does when SIGINT, SIGTERM or SIGHUP ends a run.
//
// The handler, on the main thread only (worker threads start with the three
// signals blocked, see WorkerSignalMask):
//   1. stops workers from creating temporary files and waits (briefly) for
//      those that are creating one right now to have it listed;
//   2. removes every listed temporary file (the hidden siblings of files
//      being extracted and of a pack being saved: platform/TempFiles.h);
//   3. prints one line saying what was done and what became of the pack,
//      the progress bar cleared first, for example
//        vpf: interrupted by SIGINT: extracted 3 of 40 files into out;
//        removed 1 partial file; the pack is unchanged
//   4. ends the process with exit status 128 + the signal number.
// The pack's state is not assumed but looked up: the handler compares what
// is at the pack's path with what was there when the run began, so a save
// that completed just before the signal is reported as saved.
//
// The gzip coding and decoding of vpf runs in memory, and a pack read from a
// pipe is spooled into a nameless file, so no other temporary files exist.
// A signal that was ignored when vpf started (nohup, a background job of a
// shell without job control) stays ignored. Everything the handler touches
// is async-signal-safe: fixed buffers, atomics, stat, unlink, write, _exit.
#pragma once

#include <signal.h>

#include <cstdint>
#include <string>

namespace vpf::interrupt {

// Installs the handler for the three signals. Call once, on the main thread,
// before any other thread starts.
void Install();

// What the run does, for the handler's line: "<doneWord> N of <total>
// <noun>s[ <where>]" (for example "extracted", 40, "file", "into out").
// Call before the work starts; CountDone advances N (any thread).
void DescribeWork(const char* doneWord, std::uint64_t total, const char* noun,
                  const std::string& where);
void CountDone(std::uint64_t n = 1);

// The pack the run may change (create, add, rm, mv, mkdir, convert): its
// state at the signal is compared with its state now. Without a call, the
// run only reads and the line says "the pack is unchanged".
void WatchPack(const std::string& path);
// The pack goes to standard output: the line says it is incomplete.
void WatchStdout();

// Called around a step that the handler must see either not begun or
// finished: creating a temporary file (AtomicFile::Begin), or committing a
// finished file and counting it (CountDone), so that the handler's count is
// exactly the files in place. False from BeginCreating means an interrupt is
// being handled and the step may not begin; after true, EndCreating must
// follow. On the main thread the signals wait until EndCreating; on a worker
// the handler waits for it.
bool BeginCreating();
void EndCreating();

// Whether a progress bar is on the screen (the handler clears it first).
void SetBarDrawn(bool drawn);

// While an object lives, threads started by this thread begin with the three
// signals blocked, so that the handler always runs on the main thread.
class WorkerSignalMask {
  public:
    WorkerSignalMask();
    ~WorkerSignalMask();
    WorkerSignalMask(const WorkerSignalMask&) = delete;
    WorkerSignalMask& operator=(const WorkerSignalMask&) = delete;

  private:
    sigset_t previous_;
};

}  // namespace vpf::interrupt
