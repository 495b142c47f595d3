#include "format/PackFormat.h"

#include <cstring>

namespace pack {
namespace {

// A cursor over a byte range that encodes little-endian fields. The caller
// checks the range once; the cursor itself does no bounds tests.
struct Out {
    std::uint8_t* p;
    void U8(std::uint8_t v) { *p++ = v; }
    void U32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            *p++ = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void Raw(const void* src, std::size_t n) {
        std::memcpy(p, src, n);
        p += n;
    }
};

struct In {
    const std::uint8_t* p;
    std::uint8_t U8() { return *p++; }
    std::uint32_t U32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(*p++) << (8 * i);
        return v;
    }
    void Raw(void* dst, std::size_t n) {
        std::memcpy(dst, p, n);
        p += n;
    }
};

bool Fits(std::size_t total, std::size_t offset, std::size_t size) {
    return offset <= total && size <= total - offset;
}

void Enc(Out& o, const PackHeader& r) {
    o.Raw(r.magic, kTagSize);
    o.Raw(r.version, kTagSize);
    o.Raw(r.reserved, sizeof r.reserved);
    o.U32(r.fileCount);
}
void Dec(In& i, PackHeader& r) {
    i.Raw(r.magic, kTagSize);
    i.Raw(r.version, kTagSize);
    i.Raw(r.reserved, sizeof r.reserved);
    r.fileCount = i.U32();
}
void Enc(Out& o, const FolderBlockHeader& r) {
    o.U32(r.subtreeSize);
    o.U32(r.folderCount);
    o.U32(r.fileCount);
}
void Dec(In& i, FolderBlockHeader& r) {
    r.subtreeSize = i.U32();
    r.folderCount = i.U32();
    r.fileCount = i.U32();
}
void Enc(Out& o, const FolderRecord& r) {
    o.Raw(r.name, kNameFieldSize);
    o.U32(r.blockOffset);
}
void Dec(In& i, FolderRecord& r) {
    i.Raw(r.name, kNameFieldSize);
    r.blockOffset = i.U32();
}
void Enc(Out& o, const FileRecord& r) {
    o.Raw(r.name, kNameFieldSize);
    o.U32(r.dataOffset);
}
void Dec(In& i, FileRecord& r) {
    i.Raw(r.name, kNameFieldSize);
    r.dataOffset = i.U32();
}
void Enc(Out& o, const DataBlockHeader& r) {
    o.U32(r.originalSize);
    o.U32(r.packedSize);
    o.U8(r.method);
}
void Dec(In& i, DataBlockHeader& r) {
    r.originalSize = i.U32();
    r.packedSize = i.U32();
    r.method = i.U8();
}
void Enc(Out& o, const OldPackHeader& r) {
    o.Raw(r.magic, kTagSize);
    o.Raw(r.version, kTagSize);
    o.U32(r.fileCount);
}
void Dec(In& i, OldPackHeader& r) {
    i.Raw(r.magic, kTagSize);
    i.Raw(r.version, kTagSize);
    r.fileCount = i.U32();
}
void Enc(Out& o, const OldEntryRecord& r) {
    o.Raw(r.name, kOldNameFieldSize);
    o.U32(r.packedSize);
    o.U32(r.originalSize);
    o.U8(r.flags);
    o.U8(r.entryCode);
    o.Raw(r.reserved, sizeof r.reserved);
}
void Dec(In& i, OldEntryRecord& r) {
    i.Raw(r.name, kOldNameFieldSize);
    r.packedSize = i.U32();
    r.originalSize = i.U32();
    r.flags = i.U8();
    r.entryCode = i.U8();
    i.Raw(r.reserved, sizeof r.reserved);
}

template <class R>
bool ReadAny(std::span<const std::uint8_t> bytes, std::size_t offset, R& record) {
    if (!Fits(bytes.size(), offset, sizeof(R)))
        return false;
    R tmp;
    In in{bytes.data() + offset};
    Dec(in, tmp);
    record = tmp;
    return true;
}

template <class R>
bool WriteAny(std::span<std::uint8_t> bytes, std::size_t offset, const R& record) {
    if (!Fits(bytes.size(), offset, sizeof(R)))
        return false;
    Out out{bytes.data() + offset};
    Enc(out, record);
    return true;
}

}  // namespace

#define PACK_RECORD_IO(R)                                                            \
    bool Read(std::span<const std::uint8_t> bytes, std::size_t offset, R& record) {  \
        return ReadAny(bytes, offset, record);                                       \
    }                                                                                \
    bool Write(std::span<std::uint8_t> bytes, std::size_t offset, const R& record) { \
        return WriteAny(bytes, offset, record);                                      \
    }
PACK_RECORD_IO(PackHeader)
PACK_RECORD_IO(FolderBlockHeader)
PACK_RECORD_IO(FolderRecord)
PACK_RECORD_IO(FileRecord)
PACK_RECORD_IO(DataBlockHeader)
PACK_RECORD_IO(OldPackHeader)
PACK_RECORD_IO(OldEntryRecord)
#undef PACK_RECORD_IO

#define PACK_RECORD_ENCODE(R)                \
    RecordBytes<R> Encode(const R& record) { \
        RecordBytes<R> bytes;                \
        Out out{bytes.data()};               \
        Enc(out, record);                    \
        return bytes;                        \
    }
PACK_RECORD_ENCODE(PackHeader)
PACK_RECORD_ENCODE(FolderBlockHeader)
PACK_RECORD_ENCODE(FolderRecord)
PACK_RECORD_ENCODE(FileRecord)
PACK_RECORD_ENCODE(DataBlockHeader)
PACK_RECORD_ENCODE(OldPackHeader)
PACK_RECORD_ENCODE(OldEntryRecord)
#undef PACK_RECORD_ENCODE

bool ReadU32(std::span<const std::uint8_t> bytes, std::size_t offset, std::uint32_t& value) {
    if (!Fits(bytes.size(), offset, 4))
        return false;
    In in{bytes.data() + offset};
    value = in.U32();
    return true;
}

bool WriteU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    if (!Fits(bytes.size(), offset, 4))
        return false;
    Out out{bytes.data() + offset};
    out.U32(value);
    return true;
}

PackHeader MakePackHeader(std::uint32_t fileCount) {
    PackHeader h{};
    std::memcpy(h.magic, kMagic, kTagSize);
    std::memcpy(h.version, kVersionCurrent, kTagSize);
    h.fileCount = fileCount;
    return h;
}

OldPackHeader MakeOldPackHeader(std::uint32_t fileCount) {
    OldPackHeader h{};
    std::memcpy(h.magic, kMagic, kTagSize);
    std::memcpy(h.version, kVersionOld, kTagSize);
    h.fileCount = fileCount;
    return h;
}

bool IsCurrentPack(const PackHeader& header) {
    return std::memcmp(header.magic, kMagic, kTagSize) == 0 &&
           std::memcmp(header.version, kVersionCurrent, kTagSize) == 0;
}

bool IsOldPack(const OldPackHeader& header) {
    return std::memcmp(header.magic, kMagic, kTagSize) == 0 &&
           std::memcmp(header.version, kVersionOld, kTagSize) == 0;
}

std::string_view FieldName(const char* field, std::size_t fieldSize) {
    const void* nul = std::memchr(field, 0, fieldSize);
    std::size_t n =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : fieldSize;
    return {field, n};
}

bool SetFieldName(char* field, std::size_t fieldSize, std::string_view name) {
    if (fieldSize == 0 || name.size() > fieldSize - 1)
        return false;
    if (name.find('\0') != std::string_view::npos)
        return false;
    std::memset(field, 0, fieldSize);
    std::memcpy(field, name.data(), name.size());
    return true;
}

PackVersion DetectVersion(std::span<const std::uint8_t> firstBytes) {
    if (firstBytes.size() < kVersionTagBytes ||
        std::memcmp(firstBytes.data(), kMagic, kTagSize) != 0)
        return PackVersion::None;
    const std::uint8_t* version = firstBytes.data() + kTagSize;
    if (std::memcmp(version, kVersionOld, kTagSize) == 0)
        return PackVersion::Old;
    if (std::memcmp(version, kVersionCurrent, kTagSize) == 0)
        return PackVersion::Current;
    return PackVersion::None;
}

std::string_view VersionText(PackVersion version) {
    switch (version) {
        case PackVersion::Old:
            return std::string_view(kVersionOld, kTagSize);
        case PackVersion::Current:
            return std::string_view(kVersionCurrent, kTagSize);
        case PackVersion::None:
            break;
    }
    return {};
}

}  // namespace pack
