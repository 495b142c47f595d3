// EntryData.cpp - decoding entries of the tree and writing them to disk.
#include "archive/EntryData.h"

namespace crateforge {

bool DecodeEntry(const PackEntry& entry, pack::DecodedBytes& bytes, pack::Fault& fault) {
    return pack::DecodeEntry(ClaimOf(entry), entry.data.get(), bytes, fault);
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

bool WriteEntryToFile(const PackEntry& entry, const std::string& target, pack::Fault& fault,
                      const fs::AtomicFileOptions& options) {
    // A stored entry is written from the tree's own bytes once its claim is
    // checked; anything coded is decoded whole first.
    const unsigned char* bytes = entry.data.get();
    pack::DecodedBytes decoded;
    if (entry.method == static_cast<std::uint8_t>(pack::PackMethod::Stored)) {
        if (!pack::CheckEntryClaim(ClaimOf(entry), fault))
            return false;
        if (entry.packedSize > 0 && !bytes)
            return pack::Fail(fault, pack::FaultKind::Io, "the stored bytes are missing");
    } else {
        if (!DecodeEntry(entry, decoded, fault))
            return false;
        bytes = decoded.get();
    }
    fs::AtomicFile file;
    if (!file.Begin(target, options, fault))
        return false;
    file.Write(bytes, entry.originalSize);
    return file.Commit(fault);
}

}  // namespace crateforge
