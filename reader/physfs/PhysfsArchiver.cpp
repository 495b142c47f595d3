// PhysfsArchiver.cpp - packs as PhysicsFS archives: a table of archive
// operations over the format core's directory walk, path tree and decoder.
//
// The archive reads the pack through the PHYSFS_Io PhysicsFS hands it (a
// file, a memory buffer, a file inside another archive), so it never opens
// anything itself. Opening an archive walks the directory and builds the
// path tree; an open stored file reads its range of a duplicate of that Io;
// an open coded file holds its decoded bytes, shared with its duplicates.
// PhysicsFS serialises the archive operations; an open file is used by one
// thread at a time. No C++ exception leaves a callback.
#include <physfs.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "format/ByteSource.h"
#include "format/PackDirectory.h"
#include "format/PackFormat.h"
#include "format/PathTree.h"
#include "tovelink/physfs.h"

namespace {

using Node = pack::PathTree::Node;

// Reads exactly `length` bytes at `offset` of `io`.
bool ReadIo(PHYSFS_Io* io, std::uint64_t offset, void* buffer, std::size_t length) {
    if (!io->seek(io, offset))
        return false;
    auto* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const PHYSFS_sint64 n = io->read(io, out, length);
        if (n <= 0)
            return false;
        out += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// The archive's Io as the format core reads packs. The directory walk reads
// thousands of small records: those are served from a window read ahead.
class IoSource final : public pack::ByteSource {
  public:
    static constexpr std::size_t kWindowSize = 64 * 1024;

    IoSource(PHYSFS_Io* io, std::uint64_t size) : io_(io), size_(size) {}
    std::uint64_t Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        if (!Holds(offset, length))
            return false;
        if (length == 0)
            return true;
        if (offset >= windowStart_ && length <= windowLength_ &&
            offset - windowStart_ <= windowLength_ - length) {
            std::memcpy(buffer, window_.data() + (offset - windowStart_), length);
            return true;
        }
        if (length > kWindowSize / 4)
            return ReadIo(io_, offset, buffer, length);
        if (window_.empty()) {
            try {
                window_.resize(kWindowSize);
            } catch (const std::bad_alloc&) {
                return ReadIo(io_, offset, buffer, length);
            }
        }
        windowLength_ = 0;
        const std::size_t fill =
            static_cast<std::size_t>(std::min<std::uint64_t>(kWindowSize, size_ - offset));
        if (!ReadIo(io_, offset, window_.data(), fill))
            return false;
        windowStart_ = offset;
        windowLength_ = fill;
        std::memcpy(buffer, window_.data(), length);
        return true;
    }

  private:
    PHYSFS_Io* io_;
    std::uint64_t size_;
    std::vector<unsigned char> window_;
    std::uint64_t windowStart_ = 0;
    std::size_t windowLength_ = 0;
};

struct Archive {
    PHYSFS_Io* io = nullptr;  // owned once the archive is open
    pack::PathTree tree;
    PHYSFS_sint64 modified = -1;
};

// An open file: a stored one reads its range of its own duplicate of the
// archive's Io; a coded one reads its decoded bytes.
struct OpenFile {
    PHYSFS_Io* io = nullptr;                       // stored: owned duplicate
    std::uint64_t base = 0;                        // stored: first byte in the pack
    std::shared_ptr<const unsigned char[]> bytes;  // coded
    std::uint64_t size = 0;
    std::uint64_t position = 0;
};

PHYSFS_ErrorCode ErrorOf(const pack::Fault& fault) {
    switch (fault.kind) {
        case pack::FaultKind::NoMemory:
            return PHYSFS_ERR_OUT_OF_MEMORY;
        case pack::FaultKind::Io:
        case pack::FaultKind::TempFolder:
        case pack::FaultKind::Interrupted:
            return PHYSFS_ERR_IO;
        case pack::FaultKind::Damaged:
        case pack::FaultKind::NotAPack:
            break;
    }
    return PHYSFS_ERR_CORRUPT;
}

// ---- Files --------------------------------------------------------------------

OpenFile& FileOf(PHYSFS_Io* io) {
    return *static_cast<OpenFile*>(io->opaque);
}

PHYSFS_sint64 FileRead(PHYSFS_Io* io, void* buffer, PHYSFS_uint64 length) {
    OpenFile& file = FileOf(io);
    const std::uint64_t n = std::min<std::uint64_t>(length, file.size - file.position);
    if (n == 0)
        return 0;
    if (file.bytes) {
        std::memcpy(buffer, file.bytes.get() + file.position, static_cast<std::size_t>(n));
    } else if (!ReadIo(file.io, file.base + file.position, buffer, static_cast<std::size_t>(n))) {
        PHYSFS_setErrorCode(PHYSFS_ERR_IO);
        return -1;
    }
    file.position += n;
    return static_cast<PHYSFS_sint64>(n);
}

PHYSFS_sint64 FileWrite(PHYSFS_Io*, const void*, PHYSFS_uint64) {
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return -1;
}

int FileSeek(PHYSFS_Io* io, PHYSFS_uint64 offset) {
    OpenFile& file = FileOf(io);
    if (offset > file.size) {
        PHYSFS_setErrorCode(PHYSFS_ERR_PAST_EOF);
        return 0;
    }
    file.position = offset;
    return 1;
}

PHYSFS_sint64 FileTell(PHYSFS_Io* io) {
    return static_cast<PHYSFS_sint64>(FileOf(io).position);
}

PHYSFS_sint64 FileLength(PHYSFS_Io* io) {
    return static_cast<PHYSFS_sint64>(FileOf(io).size);
}

int FileFlush(PHYSFS_Io*) {
    return 1;
}

void FileDestroy(PHYSFS_Io* io) {
    OpenFile* file = &FileOf(io);
    if (file->io)
        file->io->destroy(file->io);
    delete file;
    delete io;
}

PHYSFS_Io* FileDuplicate(PHYSFS_Io* io);

// A new Io for `file`, which it takes over (also when it fails).
PHYSFS_Io* MakeFileIo(std::unique_ptr<OpenFile> file) {
    auto* io = new (std::nothrow) PHYSFS_Io{};
    if (!io) {
        if (file->io)
            file->io->destroy(file->io);
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    io->version = 0;
    io->opaque = file.release();
    io->read = FileRead;
    io->write = FileWrite;
    io->seek = FileSeek;
    io->tell = FileTell;
    io->length = FileLength;
    io->duplicate = FileDuplicate;
    io->flush = FileFlush;
    io->destroy = FileDestroy;
    return io;
}

PHYSFS_Io* FileDuplicate(PHYSFS_Io* io) {
    const OpenFile& from = FileOf(io);
    std::unique_ptr<OpenFile> copy(new (std::nothrow) OpenFile);
    if (!copy) {
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    copy->base = from.base;
    copy->bytes = from.bytes;
    copy->size = from.size;
    copy->position = from.position;
    if (from.io) {
        copy->io = from.io->duplicate(from.io);
        if (!copy->io)
            return nullptr;  // the duplicate said why
    }
    return MakeFileIo(std::move(copy));
}

// ---- Archive --------------------------------------------------------------------

Archive& ArchiveOf(void* opaque) {
    return *static_cast<Archive*>(opaque);
}

// The node at `path`, or kNoNode with PHYSFS_ERR_NOT_FOUND set.
Node Find(const Archive& archive, const char* path) {
    const Node node = archive.tree.Resolve(path ? path : "");
    if (node == pack::PathTree::kNoNode)
        PHYSFS_setErrorCode(PHYSFS_ERR_NOT_FOUND);
    return node;
}

void* OpenArchive(PHYSFS_Io* io, const char* name, int forWrite, int* claimed) {
    try {
        std::uint8_t tag[pack::kVersionTagBytes] = {};
        if (!ReadIo(io, 0, tag, sizeof tag) ||
            pack::DetectVersion(tag) == pack::PackVersion::None) {
            PHYSFS_setErrorCode(PHYSFS_ERR_UNSUPPORTED);
            return nullptr;
        }
        *claimed = 1;
        if (forWrite) {
            PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
            return nullptr;
        }
        const PHYSFS_sint64 length = io->length(io);
        if (length < 0) {
            PHYSFS_setErrorCode(PHYSFS_ERR_IO);
            return nullptr;
        }
        IoSource source(io, static_cast<std::uint64_t>(length));
        pack::Directory directory;
        pack::Fault fault;
        auto archive = std::make_unique<Archive>();
        if (!pack::ReadDirectory(source, directory, fault) ||
            !archive->tree.Build(std::move(directory), fault)) {
            PHYSFS_setErrorCode(ErrorOf(fault));
            return nullptr;
        }
        struct stat st;
        if (name && stat(name, &st) == 0)
            archive->modified = st.st_mtime;
        archive->io = io;
        return archive.release();
    } catch (const std::bad_alloc&) {
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return nullptr;
    }
}

PHYSFS_EnumerateCallbackResult Enumerate(void* opaque, const char* dirname,
                                         PHYSFS_EnumerateCallback callback, const char* origdir,
                                         void* callbackdata) {
    const Archive& archive = ArchiveOf(opaque);
    const Node folder = Find(archive, dirname);
    if (folder == pack::PathTree::kNoNode)
        return PHYSFS_ENUM_ERROR;
    if (!archive.tree.IsFolder(folder)) {
        PHYSFS_setErrorCode(PHYSFS_ERR_NOT_FOUND);
        return PHYSFS_ENUM_ERROR;
    }
    try {
        std::string name;
        for (const Node child : archive.tree.Children(folder)) {
            name = archive.tree.Name(child);
            const PHYSFS_EnumerateCallbackResult result =
                callback(callbackdata, origdir, name.c_str());
            if (result == PHYSFS_ENUM_STOP)
                return PHYSFS_ENUM_STOP;
            if (result != PHYSFS_ENUM_OK) {
                PHYSFS_setErrorCode(PHYSFS_ERR_APP_CALLBACK);
                return PHYSFS_ENUM_ERROR;
            }
        }
    } catch (const std::bad_alloc&) {
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return PHYSFS_ENUM_ERROR;
    }
    return PHYSFS_ENUM_OK;
}

PHYSFS_Io* OpenRead(void* opaque, const char* path) {
    Archive& archive = ArchiveOf(opaque);
    const Node node = Find(archive, path);
    if (node == pack::PathTree::kNoNode)
        return nullptr;
    if (archive.tree.IsFolder(node)) {
        PHYSFS_setErrorCode(PHYSFS_ERR_NOT_A_FILE);
        return nullptr;
    }
    const pack::DirectoryFile& entry = archive.tree.File(node);
    pack::Fault fault;
    if (!pack::CheckEntryClaim({entry.method, entry.originalSize, entry.packedSize}, fault)) {
        PHYSFS_setErrorCode(PHYSFS_ERR_CORRUPT);
        return nullptr;
    }
    std::unique_ptr<OpenFile> file(new (std::nothrow) OpenFile);
    if (!file) {
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    file->size = entry.originalSize;
    if (entry.method == static_cast<std::uint8_t>(pack::PackMethod::Stored)) {
        file->base = entry.dataOffset;
        file->io = archive.io->duplicate(archive.io);
        if (!file->io)
            return nullptr;  // the duplicate said why
        return MakeFileIo(std::move(file));
    }
    try {
        IoSource source(archive.io, static_cast<std::uint64_t>(archive.io->length(archive.io)));
        pack::DecodedBytes bytes;
        if (!pack::LoadTreeFile(source, entry, bytes, fault)) {
            PHYSFS_setErrorCode(ErrorOf(fault));
            return nullptr;
        }
        file->bytes = std::shared_ptr<const unsigned char[]>(std::move(bytes));
    } catch (const std::bad_alloc&) {
        PHYSFS_setErrorCode(PHYSFS_ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    return MakeFileIo(std::move(file));
}

PHYSFS_Io* OpenWrite(void*, const char*) {
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return nullptr;
}

int Remove(void*, const char*) {
    PHYSFS_setErrorCode(PHYSFS_ERR_READ_ONLY);
    return 0;
}

int Stat(void* opaque, const char* path, PHYSFS_Stat* stat) {
    const Archive& archive = ArchiveOf(opaque);
    const Node node = Find(archive, path);
    if (node == pack::PathTree::kNoNode)
        return 0;
    const bool folder = archive.tree.IsFolder(node);
    stat->filesize = folder ? -1 : static_cast<PHYSFS_sint64>(archive.tree.File(node).originalSize);
    stat->modtime = archive.modified;
    stat->createtime = archive.modified;
    stat->accesstime = archive.modified;
    stat->filetype = folder ? PHYSFS_FILETYPE_DIRECTORY : PHYSFS_FILETYPE_REGULAR;
    stat->readonly = 1;
    return 1;
}

void CloseArchive(void* opaque) {
    Archive* archive = &ArchiveOf(opaque);
    archive->io->destroy(archive->io);
    delete archive;
}

const PHYSFS_Archiver kArchiver = {
    0,
    {"VPF", "PackFile (versions 2.10 and 1.03)", "Varnholt Software",
     "https://www.varnholt.example/", 0},
    OpenArchive,
    Enumerate,
    OpenRead,
    OpenWrite,
    OpenWrite,  // append
    Remove,
    Remove,  // mkdir
    Stat,
    CloseArchive,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) int tovelink_physfs_register(void) {
    return PHYSFS_registerArchiver(&kArchiver);
}
