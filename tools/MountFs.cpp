// MountFs.cpp - the FUSE operations of vpf mount.
#include "tools/MountFs.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "format/EntryDecoder.h"
#include "format/PackFormat.h"
#include "tools/Cli.h"

namespace vpf::mount {

using Node = pack::PathTree::Node;

namespace {

// Nothing in the file system ever changes, so the kernel may keep what it
// learnt for as long as it likes.
constexpr double kForever = 365.0 * 24 * 3600;

// Coded files up to this many stored bytes are decoded on the loop's own
// thread (a millisecond or so); larger ones on a worker.
constexpr std::uint32_t kDecodeHere = 256 * 1024;

// One line on standard error, safe for a terminal; whole lines from any
// thread.
void Say(const std::string& text) {
    const std::string line = "vpf: " + Printable(text) + "\n";
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, line.data(), line.size());
}

int ErrnoOf(const pack::Fault& fault) {
    return fault.kind == pack::FaultKind::NoMemory ? ENOMEM : EIO;
}

}  // namespace

// ---- Cache -------------------------------------------------------------------

DecodedCache::Bytes DecodedCache::Find(std::uint32_t key) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = items_.find(key);
    if (it == items_.end())
        return nullptr;
    order_.splice(order_.begin(), order_, it->second);
    return it->second->bytes;
}

DecodedCache::Bytes DecodedCache::Insert(std::uint32_t key, Bytes bytes, std::uint64_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = items_.find(key);
    if (it != items_.end()) {
        order_.splice(order_.begin(), order_, it->second);
        return it->second->bytes;
    }
    if (size > limit_)
        return bytes;
    while (total_ + size > limit_ && !order_.empty()) {
        total_ -= order_.back().size;
        items_.erase(order_.back().key);
        order_.pop_back();
    }
    try {
        order_.push_front({key, bytes, size});
        try {
            items_.emplace(key, order_.begin());
        } catch (const std::bad_alloc&) {
            order_.pop_front();
            return bytes;
        }
    } catch (const std::bad_alloc&) {
        return bytes;  // served, just not kept
    }
    total_ += size;
    return bytes;
}

std::uint64_t DecodedCache::BytesKept() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
}

std::size_t DecodedCache::EntriesKept() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_.size();
}

// ---- Work queue ------------------------------------------------------------------

void WorkQueue::Run(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stopping_ && workers_.size() < threads_) {
            sigset_t block, previous;
            sigemptyset(&block);
            sigaddset(&block, SIGINT);
            sigaddset(&block, SIGTERM);
            sigaddset(&block, SIGHUP);
            pthread_sigmask(SIG_BLOCK, &block, &previous);
            try {
                while (workers_.size() < threads_)
                    workers_.emplace_back([this] { Work(); });
            } catch (const std::exception&) {
                // Fewer workers then; none at all means running here.
            }
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        }
        if (!stopping_ && !workers_.empty()) {
            try {
                jobs_.push_back(std::move(job));
                wake_.notify_one();
                return;
            } catch (const std::bad_alloc&) {
            }
        }
    }
    job();
}

void WorkQueue::Work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

void WorkQueue::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    workers_.clear();
}

// ---- File system ---------------------------------------------------------------

// What an open coded file holds: its decoded bytes.
struct FileSystem::OpenFile {
    DecodedCache::Bytes bytes;
};

FileSystem::FileSystem(int packFd, const pack::FileIdentity& identity, const struct stat& packStat,
                       pack::PathTree tree, std::uint64_t cacheBytes)
    : fd_(packFd),
      identity_(identity),
      packStat_(packStat),
      tree_(std::move(tree)),
      cache_(cacheBytes),
      uid_(getuid()),
      gid_(getgid()),
      work_(std::clamp(std::thread::hardware_concurrency(), 1u, 4u)) {
    // The watch is on the open file itself (through /proc), not on its
    // path: a new pack renamed over the old one is not this file.
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ >= 0) {
        const std::string self = "/proc/self/fd/" + std::to_string(packFd);
        if (inotify_add_watch(inotify_, self.c_str(), IN_MODIFY) < 0) {
            close(inotify_);
            inotify_ = -1;
        }
    }
}

FileSystem::~FileSystem() {
    if (inotify_ >= 0)
        close(inotify_);
}

Node FileSystem::NodeOf(fuse_ino_t ino) const {
    return ino >= 1 && ino - 1 < tree_.NodeCount() ? static_cast<Node>(ino - 1)
                                                   : pack::PathTree::kNoNode;
}

struct stat FileSystem::Attributes(Node node) const {
    struct stat st {};
    st.st_ino = Inode(node);
    st.st_uid = uid_;
    st.st_gid = gid_;
    st.st_atim = packStat_.st_atim;
    st.st_mtim = packStat_.st_mtim;
    st.st_ctim = packStat_.st_ctim;
    st.st_blksize = 4096;
    if (tree_.IsFolder(node)) {
        st.st_mode = S_IFDIR | 0555;
        st.st_nlink = 2 + tree_.SubfolderCount(node);
    } else {
        st.st_mode = S_IFREG | 0444;
        st.st_nlink = 1;
        st.st_size = tree_.File(node).originalSize;
        st.st_blocks = (st.st_size + 511) / 512;
    }
    return st;
}

fuse_entry_param FileSystem::Entry(Node node) const {
    fuse_entry_param entry{};
    entry.ino = Inode(node);
    entry.generation = 1;
    entry.attr = Attributes(node);
    entry.attr_timeout = kForever;
    entry.entry_timeout = kForever;
    return entry;
}

bool FileSystem::PackUnchanged() {
    if (changed_.load(std::memory_order_acquire))
        return false;
    pack::FileIdentity now;
    if (!pack::IdentityOf(fd_, now) || !(now == identity_)) {
        MarkChanged();
        return false;
    }
    if (inotify_ < 0)
        return true;
    // Drained and marked under the lock: a thread that finds no event must
    // not pass while another is still marking the one it read.
    std::lock_guard<std::mutex> lock(watchMutex_);
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t n = read(inotify_, events, sizeof events);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            if (event->mask & (IN_MODIFY | IN_Q_OVERFLOW))
                MarkChanged();
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return !changed_.load(std::memory_order_acquire);
}

void FileSystem::MarkChanged() {
    if (!changed_.exchange(true, std::memory_order_acq_rel))
        Say("the pack was changed on disk while mounted; reads that need it fail from now on "
            "(input/output error)");
}

int FileSystem::Decode(Node node, DecodedCache::Bytes& out) {
    const std::uint32_t index = tree_.FileIndex(node);
    out = cache_.Find(index);
    if (out)
        return 0;
    const pack::DirectoryFile& file = tree_.File(node);
    pack::DescriptorSource source(fd_, identity_.size);
    pack::DecodedBytes bytes;
    pack::Fault fault;
    if (!pack::LoadTreeFile(source, file, bytes, fault)) {
        if (fault.kind == pack::FaultKind::Damaged)
            Say(tree_.Path(node) + ": damaged at offset " + std::to_string(fault.offset) + ": " +
                fault.reason);
        else
            Say(tree_.Path(node) + ": " + fault.reason);
        return ErrnoOf(fault);
    }
    if (!PackUnchanged())
        return EIO;
    out = cache_.Insert(index, DecodedCache::Bytes(std::move(bytes)), file.originalSize);
    return 0;
}

// ---- Operations -----------------------------------------------------------------

struct Ops {
    static FileSystem& Self(fuse_req_t req) {
        return *static_cast<FileSystem*>(fuse_req_userdata(req));
    }

    static void Init(void*, fuse_conn_info* conn) {
        for (unsigned capability :
             {FUSE_CAP_ASYNC_READ, FUSE_CAP_PARALLEL_DIROPS, FUSE_CAP_READDIRPLUS})
            if (conn->capable & capability)
                conn->want |= capability;
        conn->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
        conn->time_gran = 1;
    }

    static void Lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
        FileSystem& fs = Self(req);
        const Node folder = fs.NodeOf(parent);
        if (folder == pack::PathTree::kNoNode || !fs.tree_.IsFolder(folder)) {
            fuse_reply_err(req, folder == pack::PathTree::kNoNode ? ENOENT : ENOTDIR);
            return;
        }
        const Node node = fs.tree_.Find(folder, name);
        if (node == pack::PathTree::kNoNode) {
            // A name that is not there never will be: the kernel may
            // remember that too.
            fuse_entry_param none{};
            none.entry_timeout = kForever;
            fuse_reply_entry(req, &none);
            return;
        }
        const fuse_entry_param entry = fs.Entry(node);
        fuse_reply_entry(req, &entry);
    }

    static void GetAttr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
        FileSystem& fs = Self(req);
        const Node node = fs.NodeOf(ino);
        if (node == pack::PathTree::kNoNode) {
            fuse_reply_err(req, ENOENT);
            return;
        }
        const struct stat st = fs.Attributes(node);
        fuse_reply_attr(req, &st, kForever);
    }

    static void Open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
        FileSystem& fs = Self(req);
        const Node node = fs.NodeOf(ino);
        if (node == pack::PathTree::kNoNode) {
            fuse_reply_err(req, ENOENT);
            return;
        }
        if (fs.tree_.IsFolder(node)) {
            fuse_reply_err(req, EISDIR);
            return;
        }
        if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC)) {
            fuse_reply_err(req, EROFS);
            return;
        }
        const pack::DirectoryFile& file = fs.tree_.File(node);
        pack::Fault fault;
        if (!pack::CheckEntryClaim({file.method, file.originalSize, file.packedSize}, fault)) {
            Say(fs.tree_.Path(node) + ": damaged at offset " + std::to_string(file.dataOffset) +
                ": " + fault.reason);
            fuse_reply_err(req, EIO);
            return;
        }
        fi->keep_cache = 1;
        fi->noflush = 1;
        if (file.method == static_cast<std::uint8_t>(pack::PackMethod::Stored)) {
            fi->fh = 0;
            fuse_reply_open(req, fi);
            return;
        }
        if (DecodedCache::Bytes bytes = fs.cache_.Find(fs.tree_.FileIndex(node))) {
            ReplyOpen(req, *fi, std::move(bytes));
            return;
        }
        auto decode = [&fs, req, node, info = *fi] {
            DecodedCache::Bytes bytes;
            if (const int error = fs.Decode(node, bytes); error != 0)
                fuse_reply_err(req, error);
            else
                ReplyOpen(req, info, std::move(bytes));
        };
        // A small file is decoded sooner than a worker would be woken.
        if (file.packedSize <= kDecodeHere)
            decode();
        else
            fs.work_.Run(std::move(decode));
    }

    // Answers an open of a coded file with its decoded bytes.
    static void ReplyOpen(fuse_req_t req, fuse_file_info info, DecodedCache::Bytes bytes) {
        auto* open = new (std::nothrow) FileSystem::OpenFile{std::move(bytes)};
        if (!open) {
            fuse_reply_err(req, ENOMEM);
            return;
        }
        info.fh = reinterpret_cast<std::uint64_t>(open);
        if (fuse_reply_open(req, &info) != 0)
            delete open;  // the caller is gone; no release will come
    }

    static void Read(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset,
                     fuse_file_info* fi) {
        FileSystem& fs = Self(req);
        const Node node = fs.NodeOf(ino);
        if (node == pack::PathTree::kNoNode || fs.tree_.IsFolder(node) || offset < 0) {
            fuse_reply_err(req, node == pack::PathTree::kNoNode ? ENOENT
                                : offset < 0                    ? EINVAL
                                                                : EISDIR);
            return;
        }
        const pack::DirectoryFile& file = fs.tree_.File(node);
        const auto at = static_cast<std::uint64_t>(offset);
        if (at >= file.originalSize) {
            fuse_reply_buf(req, nullptr, 0);
            return;
        }
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, file.originalSize - at));
        if (fi->fh != 0) {
            const auto* open = reinterpret_cast<const FileSystem::OpenFile*>(fi->fh);
            fuse_reply_buf(req, reinterpret_cast<const char*>(open->bytes.get() + at), length);
            return;
        }
        // A stored entry: the bytes in the pack are the file.
        thread_local std::vector<char> buffer;
        try {
            if (buffer.size() < length)
                buffer.resize(length);
        } catch (const std::bad_alloc&) {
            fuse_reply_err(req, ENOMEM);
            return;
        }
        if (!pack::PreadExact(fs.fd_, file.dataOffset + at, buffer.data(), length) ||
            !fs.PackUnchanged()) {
            fuse_reply_err(req, EIO);
            return;
        }
        fuse_reply_buf(req, buffer.data(), length);
    }

    static void Release(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
        delete reinterpret_cast<FileSystem::OpenFile*>(fi->fh);
        fuse_reply_err(req, 0);
    }

    // Folders need no open: the first ENOSYS tells the kernel so, and it
    // then opens folders without asking and keeps their listings.
    static void OpenDir(fuse_req_t req, fuse_ino_t, fuse_file_info*) {
        fuse_reply_err(req, ENOSYS);
    }

    // Entry k of a listing: "." and ".." first, then the children.
    static void ReadDirectory(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset,
                              bool plus) {
        FileSystem& fs = Self(req);
        const Node folder = fs.NodeOf(ino);
        if (folder == pack::PathTree::kNoNode || !fs.tree_.IsFolder(folder)) {
            fuse_reply_err(req, folder == pack::PathTree::kNoNode ? ENOENT : ENOTDIR);
            return;
        }
        const std::span<const Node> children = fs.tree_.Children(folder);
        thread_local std::vector<char> buffer;
        char name[pack::kMaxNameLength + 1];  // a component is one stored name or part of one
        try {
            if (buffer.size() < size)
                buffer.resize(size);
        } catch (const std::bad_alloc&) {
            fuse_reply_err(req, ENOMEM);
            return;
        }
        std::size_t used = 0;
        for (std::uint64_t k = offset < 0 ? 0 : static_cast<std::uint64_t>(offset);
             k < children.size() + 2; ++k) {
            Node node;
            std::string_view text;
            if (k == 0) {
                node = folder;
                text = ".";
            } else if (k == 1) {
                node = folder == pack::PathTree::kRoot ? folder : fs.tree_.Parent(folder);
                text = "..";
            } else {
                node = children[k - 2];
                text = fs.tree_.Name(node).substr(0, pack::kMaxNameLength);
            }
            std::memcpy(name, text.data(), text.size());
            name[text.size()] = '\0';
            const auto next = static_cast<off_t>(k + 1);
            std::size_t added;
            if (plus) {
                const fuse_entry_param entry = fs.Entry(node);
                added = fuse_add_direntry_plus(req, buffer.data() + used, size - used, name, &entry,
                                               next);
            } else {
                struct stat st {};
                st.st_ino = FileSystem::Inode(node);
                st.st_mode = fs.tree_.IsFolder(node) ? S_IFDIR : S_IFREG;
                added = fuse_add_direntry(req, buffer.data() + used, size - used, name, &st, next);
            }
            if (added > size - used)
                break;
            used += added;
        }
        fuse_reply_buf(req, buffer.data(), used);
    }

    static void ReadDir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset,
                        fuse_file_info*) {
        ReadDirectory(req, ino, size, offset, false);
    }
    static void ReadDirPlus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t offset,
                            fuse_file_info*) {
        ReadDirectory(req, ino, size, offset, true);
    }

    static void StatFs(fuse_req_t req, fuse_ino_t) {
        FileSystem& fs = Self(req);
        struct statvfs st {};
        st.f_bsize = 4096;
        st.f_frsize = 4096;
        st.f_blocks = (fs.identity_.size + 4095) / 4096;
        st.f_files = fs.tree_.NodeCount();
        st.f_namemax = pack::kMaxNameLength;
        st.f_flag = ST_RDONLY;
        fuse_reply_statfs(req, &st);
    }

    // Everything that would change the pack.
    static void SetAttr(fuse_req_t req, fuse_ino_t, struct stat*, int, fuse_file_info*) {
        fuse_reply_err(req, EROFS);
    }
    static void MakeNode(fuse_req_t req, fuse_ino_t, const char*, mode_t, dev_t) {
        fuse_reply_err(req, EROFS);
    }
    static void MakeDir(fuse_req_t req, fuse_ino_t, const char*, mode_t) {
        fuse_reply_err(req, EROFS);
    }
    static void Remove(fuse_req_t req, fuse_ino_t, const char*) { fuse_reply_err(req, EROFS); }
    static void SymLink(fuse_req_t req, const char*, fuse_ino_t, const char*) {
        fuse_reply_err(req, EROFS);
    }
    static void Rename(fuse_req_t req, fuse_ino_t, const char*, fuse_ino_t, const char*, unsigned) {
        fuse_reply_err(req, EROFS);
    }
    static void Link(fuse_req_t req, fuse_ino_t, fuse_ino_t, const char*) {
        fuse_reply_err(req, EROFS);
    }
    static void Write(fuse_req_t req, fuse_ino_t, const char*, size_t, off_t, fuse_file_info*) {
        fuse_reply_err(req, EROFS);
    }
    static void Create(fuse_req_t req, fuse_ino_t, const char*, mode_t, fuse_file_info*) {
        fuse_reply_err(req, EROFS);
    }
    static void SetXattr(fuse_req_t req, fuse_ino_t, const char*, const char*, size_t, int) {
        fuse_reply_err(req, EROFS);
    }
    static void RemoveXattr(fuse_req_t req, fuse_ino_t, const char*) { fuse_reply_err(req, EROFS); }
    static void Allocate(fuse_req_t req, fuse_ino_t, int, off_t, off_t, fuse_file_info*) {
        fuse_reply_err(req, EROFS);
    }
};

const fuse_lowlevel_ops& FileSystem::Operations() {
    static const fuse_lowlevel_ops ops = [] {
        fuse_lowlevel_ops o{};
        o.init = Ops::Init;
        o.lookup = Ops::Lookup;
        o.getattr = Ops::GetAttr;
        o.open = Ops::Open;
        o.read = Ops::Read;
        o.release = Ops::Release;
        o.opendir = Ops::OpenDir;
        o.readdir = Ops::ReadDir;
        o.readdirplus = Ops::ReadDirPlus;
        o.statfs = Ops::StatFs;
        o.setattr = Ops::SetAttr;
        o.mknod = Ops::MakeNode;
        o.mkdir = Ops::MakeDir;
        o.unlink = Ops::Remove;
        o.rmdir = Ops::Remove;
        o.symlink = Ops::SymLink;
        o.rename = Ops::Rename;
        o.link = Ops::Link;
        o.write = Ops::Write;
        o.create = Ops::Create;
        o.setxattr = Ops::SetXattr;
        o.removexattr = Ops::RemoveXattr;
        o.fallocate = Ops::Allocate;
        return o;
    }();
    return ops;
}

}  // namespace vpf::mount
