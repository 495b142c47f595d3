// MountFs.h - a pack served as a read-only FUSE file system (vpf mount).
//
// The file system is the pack's path tree (format/PathTree.h): every folder
// and file with its original size, modes 0555 and 0444, the owner of the
// mounting process and the pack file's times. Inode numbers are node
// numbers plus one, fixed for the life of the mount, so the kernel may keep
// entries, attributes, listings and file pages for as long as it likes.
//
// Reading:
//   - a stored entry is read in place: each request is one pread of the
//     pack at the entry's offset;
//   - a coded entry (gzip, LZRW3-A) is decoded whole, by the format core's
//     one decoder, when it is opened; the open file keeps the bytes, and a
//     cache shared by all files (DecodedCache, bounded in bytes, least
//     recently used first out) keeps them for the next open.
// Requests are answered on the session loop's one thread, which keeps a
// walk over many small files free of thread hand-overs; a large coded file
// is decoded at its open by a worker thread (WorkQueue), which answers the
// open, so a long decode holds up nothing else.
// Damage found by the decoder fails the open with EIO.
//
// The pack is read through the descriptor opened at mount time, so a pack
// replaced on disk (saved through a new file renamed into place, as vpf and
// the desktop program save) goes on being served as it was mounted. A pack
// changed in place is noticed by its size and modification time, checked
// after every read, and by an inotify watch on the open file: from then on
// every read that needs the pack fails with EIO (bytes already decoded are
// still served: they are the mounted pack's). Never wrong bytes.
//
// Every change (write, create, rename, remove, attributes) fails with EROFS;
// the mount is also made read-only ("ro"), so the kernel refuses most of
// them before they arrive.
#pragma once

#define FUSE_USE_VERSION 314
#include <fuse_lowlevel.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "format/ByteSource.h"
#include "format/PathTree.h"

namespace vpf::mount {

// Decoded entries by file index, least recently used first out, at most
// `limit` bytes in all. An entry larger than the limit is not kept. Bytes
// handed out stay valid while their holder keeps them, evicted or not.
// Thread-safe.
class DecodedCache {
  public:
    using Bytes = std::shared_ptr<const unsigned char[]>;

    explicit DecodedCache(std::uint64_t limit) : limit_(limit) {}
    // The entry's bytes, now the most recently used; null when not kept.
    Bytes Find(std::uint32_t key);
    // Keeps `bytes` (`size` bytes) under `key`, evicting the least recently
    // used entries to make room; when another thread kept the key first,
    // its bytes are returned instead, else `bytes`.
    Bytes Insert(std::uint32_t key, Bytes bytes, std::uint64_t size);
    std::uint64_t BytesKept() const;
    std::size_t EntriesKept() const;

  private:
    struct Item {
        std::uint32_t key;
        Bytes bytes;
        std::uint64_t size;
    };
    mutable std::mutex mutex_;
    std::list<Item> order_;  // most recently used first
    std::unordered_map<std::uint32_t, std::list<Item>::iterator> items_;
    std::uint64_t total_ = 0;
    std::uint64_t limit_;
};

// Threads for work that would hold up the session loop (decoding a file
// when it is opened), started on first use. Workers begin with SIGINT,
// SIGTERM and SIGHUP blocked, so that those signals reach the loop's
// thread and end the session. Stop runs what is queued and joins.
class WorkQueue {
  public:
    explicit WorkQueue(unsigned threads) : threads_(threads) {}
    ~WorkQueue() { Stop(); }
    // Runs `job` on a worker, or here when no worker can be started.
    void Run(std::function<void()> job);
    void Stop();

  private:
    void Work();
    unsigned threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::vector<std::thread> workers_;
    bool stopping_ = false;
};

class FileSystem {
  public:
    // Serves `tree`, whose bytes are read from `packFd` (kept open, not
    // owned). `identity` is the pack as its directory was read; `packStat`
    // gives the times every file and folder shows.
    FileSystem(int packFd, const pack::FileIdentity& identity, const struct stat& packStat,
               pack::PathTree tree, std::uint64_t cacheBytes);
    ~FileSystem();
    FileSystem(const FileSystem&) = delete;
    FileSystem& operator=(const FileSystem&) = delete;

    // The operations table; each operation finds its FileSystem through
    // fuse_req_userdata.
    static const fuse_lowlevel_ops& Operations();

    const pack::PathTree& Tree() const { return tree_; }
    // Finishes the work in progress; call before the session is destroyed.
    void Stop() { work_.Stop(); }

  private:
    struct OpenFile;
    friend struct Ops;

    static fuse_ino_t Inode(pack::PathTree::Node node) { return node + 1; }
    // The node of `ino`, or kNoNode when there is none.
    pack::PathTree::Node NodeOf(fuse_ino_t ino) const;
    struct stat Attributes(pack::PathTree::Node node) const;
    fuse_entry_param Entry(pack::PathTree::Node node) const;
    // Whether the pack is still the one mounted; after the first "no",
    // always no (said once on standard error).
    bool PackUnchanged();
    void MarkChanged();
    // Decodes file `node` or takes it from the cache; 0 or an errno value.
    int Decode(pack::PathTree::Node node, DecodedCache::Bytes& out);

    int fd_;
    pack::FileIdentity identity_;
    struct stat packStat_;
    pack::PathTree tree_;
    DecodedCache cache_;
    int inotify_ = -1;
    std::mutex watchMutex_;
    std::atomic<bool> changed_{false};
    uid_t uid_;
    gid_t gid_;
    WorkQueue work_;
};

}  // namespace vpf::mount
