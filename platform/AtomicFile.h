// AtomicFile.h - the one way this program replaces a file on disk.
//
// Saving a pack, extracting an entry (the Extract dialog, the workspace, the
// command-line tool) all write through AtomicFile, so a final name never
// holds a partial file and a failure never costs the file that was there:
//
//   Begin    resolves the target (through links when asked), opens its
//            folder, refuses a target that exists and is no regular file, and
//            creates a hidden sibling ".NAME.XXXXXX" in that folder (O_EXCL,
//            entered into the live temporary-file list of TempFiles.h first);
//            BeginAt does the same in a folder the caller holds open, so that
//            the file lands in that very folder whatever its path leads to
//            meanwhile (platform/BeneathFolder.h);
//   Write    buffers and writes; the first failure is kept;
//   Commit   flushes, fsyncs (when durable), gives the file the old file's
//            mode (and owner, where permitted; when asked) or the mode a new
//            file gets (0666 less the umask, or the mode asked for), renames it
//            over the target within the folder's descriptor and fsyncs the
//            folder (when durable), so that the rename itself lasts;
//   Abort    (or destruction without Commit) removes the sibling.
//
// Last resort: when the folder cannot take a new file (EACCES, EPERM) but
// the target exists and can be opened for writing, and the caller allows it,
// the target is rewritten in place, and never left damaged: Begin first
// copies the old bytes into a nameless file in the temporary folder
// (refusing, with nothing changed, when that copy cannot be made); Reserve
// allocates the new length before anything is written (a full disk then
// refuses with the old bytes untouched); a failure at any later step, and
// Abort, put the old bytes back and cut the file to its old length.
// SIGINT, SIGTERM, SIGHUP and SIGQUIT are held on the calling thread while
// the target is being rewritten, so that an interrupt lands after Commit or
// the restore. InPlace() tells callers which way the file was written;
// Restored() whether a failed in-place rewrite got the old bytes back.

// While a file is open for writing, SIGXFSZ is ignored (counted across
// threads), so that a file-size limit makes the write fail with EFBIG
// instead of killing the process.
//
// Failures come back as pack::Fault of kind Io whose reason is the errno
// text, or "not a regular file" for a target that is a folder, a FIFO, a
// device or a socket. An AtomicFile is used by one thread; separate objects
// may be used on separate threads at once.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Fault.h"

namespace crateforge::fs {

struct AtomicFileOptions {
    // True: a link at the target is followed and the file it names is
    // replaced (the link stays). False: the link itself is replaced, so that
    // nothing is written outside the target's folder.
    bool followLink = false;
    // False: Commit fails with "File exists" when the target exists by then.
    bool replace = true;
    // Allow the in-place rewrite described at the top.
    bool allowInPlace = false;
    // True: a replaced file keeps its mode (and owner, where permitted), as
    // a saved document should. False: the result gets newFileMode like a new
    // file, as an extracted file should whatever was there before.
    bool keepMode = true;
    // Mode of a new file before the umask.
    mode_t newFileMode = 0666;
    // True: the file and the rename reach the disk before Commit returns, as
    // a saved document should. False: no fsync of either, as tar and unzip
    // write the files they extract (two syncs per file would make a large
    // extraction several times slower). The final name still never holds a
    // partial file when the process ends at any point; only a crash of the
    // whole system before the kernel writes its cache back can lose it.
    bool durable = true;
};

class AtomicFile {
  public:
    AtomicFile();
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Prepares to replace `target`. False with `fault` when the target
    // cannot be replaced or the sibling cannot be created; nothing is left
    // on disk then.
    bool Begin(const std::string& target, const AtomicFileOptions& options, pack::Fault& fault);
    // Prepares to replace the file `name` (one component) of the folder open
    // as `folder` (the descriptor is duplicated; the caller keeps its own).
    // A link at `name` is replaced, never followed (options.followLink is not
    // used). `displayPath` names the target in TargetPath and TempPath.
    bool BeginAt(int folder, std::string_view name, const std::string& displayPath,
                 const AtomicFileOptions& options, pack::Fault& fault);

    // Allocates `length` bytes for the file about to be written
    // (posix_fallocate), so that a full disk is found before anything is
    // written. False with `fault` when the space is not there; a file system
    // that cannot allocate ahead is no failure.
    bool Reserve(std::uint64_t length, pack::Fault& fault);

    // Appends bytes. False once any write has failed (see Commit).
    bool Write(const void* data, std::size_t length);
    // Appends `length` bytes of the file open as `fd`, from `offset`
    // (fs::CopyBytes). False once any write has failed; WriteError() is
    // ENODATA when `fd` ended early.
    bool CopyFrom(int fd, std::uint64_t offset, std::uint64_t length);

    // Writes `length` bytes at `offset` of the new file, wherever Write has
    // got to (for a file laid out out of order: data first, its index
    // last). Not for a target rewritten in place. False once any write has
    // failed (see Commit).
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t length);
    // The new file, open for reading and writing (-1 when not open); it
    // stays the caller's to read while the AtomicFile lives.
    int Descriptor() const { return fd_; }

    // The copy of the old bytes of a target rewritten in place, open for
    // reading (-1 otherwise): what was at an offset of the target before the
    // rewrite is at the same offset there.
    int BackupDescriptor() const { return backupFd_; }

    // Puts the written bytes in place of the target. False with `fault` on
    // the first failure of any Write or of the commit itself; the sibling is
    // then removed and the target is as it was (except after an in-place
    // rewrite, see the top).
    // When `readable` is given, it receives a descriptor open for reading on
    // the file just written (the renamed sibling, or the target rewritten in
    // place), or -1 when none could be opened; the caller closes it.
    bool Commit(pack::Fault& fault, int* readable = nullptr);

    // Removes the sibling; the target stays as it was. Safe to call twice.
    void Abort();

    bool IsOpen() const { return fd_ >= 0; }
    bool InPlace() const { return inPlace_; }
    // After a failed in-place rewrite: whether the old bytes are back.
    bool Restored() const { return restored_; }
    // errno of the first failed Write or CopyFrom (0 when none failed).
    int WriteError() const { return writeError_; }
    // The file that is replaced (the link's target when links are followed).
    const std::string& TargetPath() const { return target_; }
    // The hidden sibling being written ("" in place or when not open).
    const std::string& TempPath() const { return temp_; }
    // Why the last Write failed ("" when none did).
    std::string WriteFailure() const;

  private:
    bool BeginIn(int folder, std::string name, const std::string& displayPath,
                 const AtomicFileOptions& options, bool linkFollowed, pack::Fault& fault);
    bool Flush();
    bool FailWrite(int error);
    bool BeginInPlace(int folder, pack::Fault& fault);
    // Puts the backed-up bytes back into the target; sets restored_.
    void RestoreInPlace();
    void Release();

    int fd_ = -1;
    int folder_ = -1;  // the target's folder, owned while open
    int slot_ = -1;    // in the live temporary-file list
    bool inPlace_ = false;
    bool restored_ = false;
    bool touched_ = false;  // the target rewritten in place was changed
    int backupFd_ = -1;
    std::uint64_t oldSize_ = 0;
    bool holdingSignals_ = false;
    sigset_t previousMask_{};
    bool replace_ = true;
    bool durable_ = true;
    bool ignoringFileSizeSignal_ = false;
    std::optional<mode_t> keepMode_;  // the replaced file's mode
    uid_t keepOwner_ = 0;
    gid_t keepGroup_ = 0;
    std::string target_;    // for messages
    std::string name_;      // the target's name in its folder
    std::string temp_;      // for messages
    std::string tempName_;  // the sibling's name in the folder
    std::unique_ptr<unsigned char[]> buffer_;
    std::size_t buffered_ = 0;
    std::uint64_t written_ = 0;
    int writeError_ = 0;
};

// The call that makes written bytes and a rename last: fsync(2). Commit
// calls it on the new file before the rename and on the folder after it
// (when durable). Tests put their own call in place to record that order or
// to make a sync fail; the previous call is returned, and null puts fsync
// back. Not to be changed while an AtomicFile commits on another thread.
using SyncCall = int (*)(int fd);
SyncCall ReplaceSyncCall(SyncCall call);

// The file a chain of links at `path` leads to (the last component followed
// up to 40 times; relative links taken from the link's folder); `path`
// itself when it is no link. A dangling link yields the path it names.
std::string FollowLinks(const std::string& path);

}  // namespace crateforge::fs
