// TestPacks.h - writes pack files for tests, straight from the format records.
//
// Tests need packs before (and independently of) the builder, including packs
// that no correct writer would produce. This header builds them in memory:
//
//   BuildPack(root)        a "2.10" pack of an in-memory folder tree, laid out
//                          exactly as the builder's save lays it out (header,
//                          directory in pre-order, data blocks in pre-order);
//                          every file is coded with the method it asks for.
//   BuildOldPack(entries)  a "1.03" pack: header, offset table, then each
//                          entry record followed by its stored bytes.
//
// Both can report where each record landed (PackLayout / OldPackLayout), so
// corruption tests can patch single fields of a valid pack. Names are copied
// into their fields raw (cut at the field size, no terminator forced when a
// name fills the field), so malformed names are possible on purpose.
//
// Also here: a private temporary folder that is removed with its contents,
// and whole-file read and write helpers. Header-only; links against cf_codec
// and cf_format. Failures of the codecs abort the test (they are test bugs).
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codec/GzCodec.h"
#include "codec/Lzrw.h"
#include "format/PackFormat.h"

namespace testpacks {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// Deterministic, mildly compressible bytes (text-like runs with noise).
inline Bytes SampleBytes(std::size_t length, std::uint32_t seed = 1) {
    Bytes out(length);
    std::uint32_t x = seed * 2654435761u + 12345u;
    static constexpr char kWords[] = "the pack reader loads files by name ";
    for (std::size_t i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = (x >> 28) < 3 ? static_cast<std::uint8_t>(x >> 16)
                               : static_cast<std::uint8_t>(kWords[i % (sizeof kWords - 1)]);
    }
    return out;
}

// ---- Coding -----------------------------------------------------------------

// The stored bytes of `content` in the given method (Stored, Lzrw3a, Gzip).
inline Bytes EncodeContent(const Bytes& content, pack::PackMethod method) {
    switch (method) {
        case pack::PackMethod::Stored:
            return content;
        case pack::PackMethod::Gzip: {
            std::uint32_t length = 0;
            codec::GzBuffer coded = codec::GzCompressBuffer(
                content.data(), static_cast<std::uint32_t>(content.size()), &length);
            if (!coded)
                throw std::runtime_error("GzCompressBuffer failed");
            return Bytes(coded.get(), coded.get() + length);
        }
        case pack::PackMethod::Lzrw3a: {
            std::vector<std::uint8_t> work(codec::LzrwWorkMemorySize);
            Bytes out(content.size() + codec::LzrwCompressSlack);
            std::uint32_t length = 0;
            codec::LzrwCompress(work.data(), content.data(),
                                static_cast<std::uint32_t>(content.size()), out.data(), &length);
            out.resize(length);
            return out;
        }
    }
    throw std::runtime_error("unknown method");
}

// ---- Version "2.10" ---------------------------------------------------------

struct File {
    File() = default;
    File(std::string name_, Bytes content_, pack::PackMethod method_ = pack::PackMethod::Stored)
        : name(std::move(name_)), content(std::move(content_)), method(method_) {}

    std::string name;
    Bytes content;
    pack::PackMethod method = pack::PackMethod::Stored;
    // Overrides for damaged entries: the method byte, the original size, or
    // the stored bytes written instead of the coded content.
    std::optional<std::uint8_t> methodByte;
    std::optional<std::uint32_t> originalSize;
    std::optional<Bytes> stored;
};

struct Folder {
    Folder() = default;
    Folder(std::string name_, std::vector<File> files_ = {}, std::vector<Folder> folders_ = {})
        : name(std::move(name_)), files(std::move(files_)), folders(std::move(folders_)) {}

    std::string name;  // ignored for the root
    std::vector<File> files;
    std::vector<Folder> folders;
};

// Where the records of a built "2.10" pack are, in pre-order.
struct PackLayout {
    std::vector<std::size_t> blockOffsets;  // FolderBlockHeader of each folder
    std::vector<std::size_t> folderRecordOffsets;
    std::vector<std::size_t> fileRecordOffsets;  // in entry (pre-)order
    std::vector<std::size_t> dataOffsets;        // DataBlockHeader of each file, same order
    std::size_t directoryEnd = 0;
};

namespace detail {

inline void PutName(char* field, std::size_t fieldSize, std::string_view name) {
    std::memset(field, 0, fieldSize);
    std::memcpy(field, name.data(), std::min(name.size(), fieldSize));
}

inline std::uint64_t SubtreeSize(const Folder& folder) {
    std::uint64_t size = pack::FolderBlockSize(folder.folders.size(), folder.files.size());
    for (const Folder& sub : folder.folders)
        size += SubtreeSize(sub);
    return size;
}

struct Coded {
    Bytes stored;
    std::uint32_t originalSize;
    std::uint8_t method;
};

inline void Append(Bytes& out, const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    out.insert(out.end(), b, b + n);
}

template <class R>
void AppendRecord(Bytes& out, const R& record) {
    std::uint8_t buf[sizeof(R)];
    if (!pack::Write(std::span<std::uint8_t>(buf, sizeof buf), 0, record))
        throw std::runtime_error("record write failed");
    Append(out, buf, sizeof buf);
}

// Directory of `folder` (its block, then its subfolders' subtrees), with
// data offsets taken from `dataPos` in pre-order.
inline void WriteDirectory(const Folder& folder, Bytes& out, std::uint64_t& dataPos,
                           const std::vector<Coded>& coded, std::size_t& fileIndex,
                           std::vector<std::uint64_t>& fileDataPos, PackLayout& layout) {
    const std::uint64_t start = out.size();
    layout.blockOffsets.push_back(start);
    pack::FolderBlockHeader header{};
    header.subtreeSize = static_cast<std::uint32_t>(SubtreeSize(folder));
    header.folderCount = static_cast<std::uint32_t>(folder.folders.size());
    header.fileCount = static_cast<std::uint32_t>(folder.files.size());
    AppendRecord(out, header);

    std::uint64_t subBlock =
        start + pack::FolderBlockSize(folder.folders.size(), folder.files.size());
    for (const Folder& sub : folder.folders) {
        pack::FolderRecord record{};
        PutName(record.name, sizeof record.name, sub.name);
        record.blockOffset = static_cast<std::uint32_t>(subBlock);
        layout.folderRecordOffsets.push_back(out.size());
        AppendRecord(out, record);
        subBlock += SubtreeSize(sub);
    }
    // Data of this folder's own files come first, then its subtrees'.
    for (std::size_t i = 0; i < folder.files.size(); ++i) {
        const std::size_t index = fileIndex + i;
        fileDataPos[index] = dataPos;
        dataPos += pack::kDataBlockHeaderSize + coded[index].stored.size();
        pack::FileRecord record{};
        PutName(record.name, sizeof record.name, folder.files[i].name);
        record.dataOffset = static_cast<std::uint32_t>(fileDataPos[index]);
        layout.fileRecordOffsets.push_back(out.size());
        AppendRecord(out, record);
    }
    fileIndex += folder.files.size();
    for (const Folder& sub : folder.folders)
        WriteDirectory(sub, out, dataPos, coded, fileIndex, fileDataPos, layout);
}

inline void CodeFiles(const Folder& folder, std::vector<Coded>& coded) {
    for (const File& f : folder.files) {
        Coded c;
        c.stored = f.stored ? *f.stored : EncodeContent(f.content, f.method);
        c.originalSize =
            f.originalSize ? *f.originalSize : static_cast<std::uint32_t>(f.content.size());
        c.method = f.methodByte ? *f.methodByte : static_cast<std::uint8_t>(f.method);
        coded.push_back(std::move(c));
    }
    for (const Folder& sub : folder.folders)
        CodeFiles(sub, coded);
}

}  // namespace detail

// A "2.10" pack of `root`. `headerFileCount` overrides the header's total.
inline Bytes BuildPack(const Folder& root, PackLayout* layoutOut = nullptr,
                       std::optional<std::uint32_t> headerFileCount = std::nullopt) {
    // Files are numbered in entry order: a folder's own files, then its
    // subtrees; CodeFiles and WriteDirectory walk in that same order.
    std::vector<detail::Coded> coded;
    detail::CodeFiles(root, coded);

    Bytes out;
    detail::AppendRecord(
        out, pack::MakePackHeader(headerFileCount ? *headerFileCount
                                                  : static_cast<std::uint32_t>(coded.size())));
    PackLayout layout;
    std::uint64_t dataPos = pack::kPackHeaderSize + detail::SubtreeSize(root);
    std::size_t fileIndex = 0;
    std::vector<std::uint64_t> fileDataPos(coded.size());
    detail::WriteDirectory(root, out, dataPos, coded, fileIndex, fileDataPos, layout);
    layout.directoryEnd = out.size();

    for (std::size_t i = 0; i < coded.size(); ++i) {
        if (out.size() != fileDataPos[i])
            throw std::runtime_error("data layout mismatch");
        layout.dataOffsets.push_back(out.size());
        pack::DataBlockHeader header{};
        header.originalSize = coded[i].originalSize;
        header.packedSize = static_cast<std::uint32_t>(coded[i].stored.size());
        header.method = coded[i].method;
        detail::AppendRecord(out, header);
        detail::Append(out, coded[i].stored.data(), coded[i].stored.size());
    }
    if (layoutOut)
        *layoutOut = std::move(layout);
    return out;
}

// ---- Version "1.03" ---------------------------------------------------------

struct OldEntry {
    OldEntry() = default;
    OldEntry(std::string name_, Bytes content_, std::uint8_t flags_ = 0,
             std::uint8_t entryCode_ = 0)
        : name(std::move(name_)),
          content(std::move(content_)),
          flags(flags_),
          entryCode(entryCode_) {}

    std::string name;  // up to 48 bytes; 48 bytes leave no terminator
    Bytes content;
    std::uint8_t flags = 0;  // low nibble 1: LZRW3-A coded
    std::uint8_t entryCode = 0;
    std::optional<std::uint32_t> originalSize;
    std::optional<Bytes> stored;
};

struct OldPackLayout {
    std::vector<std::size_t> entryOffsets;  // OldEntryRecord of each entry, table order
};

inline Bytes BuildOldPack(const std::vector<OldEntry>& entries,
                          OldPackLayout* layoutOut = nullptr) {
    Bytes out;
    detail::AppendRecord(out, pack::MakeOldPackHeader(static_cast<std::uint32_t>(entries.size())));
    const std::size_t tableAt = out.size();
    out.resize(out.size() + pack::kOldEntryOffsetSize * entries.size());
    OldPackLayout layout;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const OldEntry& e = entries[i];
        const Bytes stored = e.stored ? *e.stored
                             : pack::OldEntryMethod(e.flags) == pack::PackMethod::Lzrw3a
                                 ? EncodeContent(e.content, pack::PackMethod::Lzrw3a)
                                 : e.content;
        layout.entryOffsets.push_back(out.size());
        if (!pack::WriteU32(out, tableAt + pack::kOldEntryOffsetSize * i,
                            static_cast<std::uint32_t>(out.size())))
            throw std::runtime_error("offset write failed");
        pack::OldEntryRecord record{};
        detail::PutName(record.name, sizeof record.name, e.name);
        record.packedSize = static_cast<std::uint32_t>(stored.size());
        record.originalSize =
            e.originalSize ? *e.originalSize : static_cast<std::uint32_t>(e.content.size());
        record.flags = e.flags;
        record.entryCode = e.entryCode;
        detail::AppendRecord(out, record);
        detail::Append(out, stored.data(), stored.size());
    }
    if (layoutOut)
        *layoutOut = std::move(layout);
    return out;
}

// Patches a little-endian u32 into a built pack.
inline void PatchU32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    if (!pack::WriteU32(bytes, offset, value))
        throw std::runtime_error("patch out of range");
}
inline std::uint32_t PeekU32(const Bytes& bytes, std::size_t offset) {
    std::uint32_t v = 0;
    if (!pack::ReadU32(bytes, offset, v))
        throw std::runtime_error("peek out of range");
    return v;
}

// ---- Files ------------------------------------------------------------------

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        throw std::runtime_error("cannot create " + path);
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok)
        throw std::runtime_error("cannot write " + path);
}

inline Bytes ReadFile(const std::string& path) {
    Bytes out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return out;
    std::uint8_t buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

// A private folder under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/packtest.XXXXXX";
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() { RemoveTree(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Writes `bytes` to a file in the folder and returns its path.
    std::string Write(const std::string& name, const Bytes& bytes) const {
        const std::string path = File(name);
        WriteFile(path, bytes);
        return path;
    }

  private:
    static void RemoveTree(const std::string& path) {
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* e = readdir(dir)) {
                const std::string name = e->d_name;
                if (name == "." || name == "..")
                    continue;
                const std::string child = path + "/" + name;
                struct stat st;
                if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                    RemoveTree(child);
                else
                    unlink(child.c_str());
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    }
    std::string path_;
};

}  // namespace testpacks
