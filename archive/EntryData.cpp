// EntryData.cpp - decoding entries of the tree and writing them to disk.
#include "archive/EntryData.h"

#include <unistd.h>

#include <cerrno>
#include <new>

#include "format/ByteSource.h"

namespace crateforge {

StoredFile::~StoredFile() {
    if (fd_ >= 0)
        close(fd_);
}

bool StoredBytes(const PackEntry& entry, pack::DecodedBytes& holder, const unsigned char*& bytes,
                 pack::Fault& fault) {
    bytes = entry.data.get();
    if (bytes || entry.packedSize == 0)
        return true;
    if (!entry.stored)
        return pack::Fail(fault, pack::FaultKind::Io, "the stored bytes are missing");
    holder.reset(new (std::nothrow) unsigned char[entry.packedSize]);
    if (!holder)
        return pack::Fail(fault, pack::FaultKind::NoMemory, "out of memory");
    if (!pack::PreadExact(entry.stored->Descriptor(), entry.storedOffset, holder.get(),
                          entry.packedSize))
        return pack::Fail(fault, pack::FaultKind::Io,
                          "cannot read the stored bytes: " + pack::ErrnoText(errno),
                          entry.storedOffset);
    bytes = holder.get();
    return true;
}

bool DecodeEntry(const PackEntry& entry, pack::DecodedBytes& bytes, pack::Fault& fault) {
    pack::DecodedBytes holder;
    const unsigned char* stored = nullptr;
    if (!StoredBytes(entry, holder, stored, fault))
        return false;
    return pack::DecodeEntry(ClaimOf(entry), stored, bytes, fault);
}

fs::AtomicFileOptions ExtractOptions() {
    fs::AtomicFileOptions options;
    options.followLink = false;
    options.keepMode = false;
    // Extracted files are written as tar and unzip write them: atomically
    // under their names, without a sync each.
    options.durable = false;
    return options;
}

namespace {

// The original bytes of `entry`: its own stored bytes once its claim is
// checked, or decoded whole into `decoded` (anything coded is decoded before
// a file is touched).
bool OriginalBytes(const PackEntry& entry, pack::DecodedBytes& decoded, const unsigned char*& bytes,
                   pack::Fault& fault) {
    if (entry.method == static_cast<std::uint8_t>(pack::PackMethod::Stored)) {
        return pack::CheckEntryClaim(ClaimOf(entry), fault) &&
               StoredBytes(entry, decoded, bytes, fault);
    }
    if (!DecodeEntry(entry, decoded, fault))
        return false;
    bytes = decoded.get();
    return true;
}

bool WriteAll(const PackEntry& entry, const unsigned char* bytes, fs::AtomicFile& file,
              pack::Fault& fault) {
    file.Write(bytes, entry.originalSize);
    return file.Commit(fault);
}

}  // namespace

bool WriteEntryToFile(const PackEntry& entry, const std::string& target, pack::Fault& fault,
                      const fs::AtomicFileOptions& options) {
    pack::DecodedBytes decoded;
    const unsigned char* bytes = nullptr;
    if (!OriginalBytes(entry, decoded, bytes, fault))
        return false;
    fs::AtomicFile file;
    return file.Begin(target, options, fault) && WriteAll(entry, bytes, file, fault);
}

bool WriteEntryAt(const PackEntry& entry, int folder, const std::string& name,
                  const std::string& displayPath, pack::Fault& fault,
                  const fs::AtomicFileOptions& options) {
    pack::DecodedBytes decoded;
    const unsigned char* bytes = nullptr;
    if (!OriginalBytes(entry, decoded, bytes, fault))
        return false;
    fs::AtomicFile file;
    return file.BeginAt(folder, name, displayPath, options, fault) &&
           WriteAll(entry, bytes, file, fault);
}

}  // namespace crateforge
