// PackEntry.h - the builder's in-memory record of one stored file.
//
// A PackEntry holds a file exactly as it sits in the pack: its name (one path
// component, at most 259 bytes, as the FileRecord's 260-byte field holds it;
// kept at its own length here, so that a pack of a million files does not
// spend a quarter of a gigabyte on padding), its sizes, its coding method and
// where its stored bytes are: in memory (`data`, a file just coded) or in
// the open pack file (`stored`, every entry loaded or saved), so that memory
// does not grow with the pack. The folder tree (CPackFolder) owns every
// entry; list rows point at entries as row data.
//
// `method` keeps the byte as it was loaded, values the format does not define
// included, so that a rewrite of a pack never changes an entry. Whether the
// entry can be decoded is decided only when its bytes are needed
// (archive/EntryData.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "codec/GzCodec.h"
#include "format/PackFormat.h"

namespace crateforge {

// A pack file kept open for reading while entries' bytes lie in it; shared
// by those entries and closed with the last of them.
class StoredFile {
  public:
    explicit StoredFile(int fd) : fd_(fd) {}
    ~StoredFile();
    StoredFile(const StoredFile&) = delete;
    StoredFile& operator=(const StoredFile&) = delete;
    int Descriptor() const { return fd_; }

  private:
    int fd_;
};

struct PackEntry {
    // At most pack::kMaxNameLength bytes, no NUL; change it with SetName.
    std::string name;
    // Offset of the DataBlockHeader in the pack; assigned by each save.
    std::uint32_t dataOffset = 0;
    std::uint32_t originalSize = 0;
    // Number of bytes held in `data`.
    std::uint32_t packedSize = 0;
    // The stored bytes (gzip member, LZRW3-A block or the file itself);
    // null only while packedSize is 0 or the bytes were released.
    codec::GzBuffer data;
    // A pack::PackMethod value as loaded; untrusted.
    std::uint8_t method = 0;
    // While `data` is null: the file holding the stored bytes, and their
    // offset in it (null for bytes that are nowhere, such as a file of 0
    // bytes).
    std::shared_ptr<const StoredFile> stored;
    std::uint32_t storedOffset = 0;

    // Whether the stored bytes can be had, from memory or from the file.
    bool HasBytes() const { return packedSize == 0 || data || stored; }

    std::string_view Name() const { return name; }
    // Replaces the name. False, leaving the old one, when the record's name
    // field cannot hold `newName` (more than 259 bytes, or a NUL byte).
    bool SetName(std::string_view newName) {
        char field[pack::kNameFieldSize];
        if (!pack::SetFieldName(field, newName))
            return false;
        name.assign(newName);
        return true;
    }
};

}  // namespace crateforge
