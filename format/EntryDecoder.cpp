// EntryDecoder.cpp - the one entry decoder.
#include "format/EntryDecoder.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "codec/GzCodec.h"
#include "codec/GzStream.h"
#include "codec/Lzrw.h"
#include "format/PackFormat.h"

namespace pack {

namespace {

// Block of the streaming copy loops.
constexpr std::size_t kStreamBlock = 64 * 1024;
// Gzip entries up to this size (coded and decoded) are streamed from one
// whole decode; larger ones through the streaming decoder.
constexpr std::uint32_t kWholeGzipEntry = 16 * 1024 * 1024;

// At least one byte, so that an empty file still has a buffer; large ones
// on huge pages where the system has them.
DecodedBytes Allocate(std::uint64_t length) {
    return codec::GzAllocate(length);
}

bool NoMemory(Fault& fault) {
    return Fail(fault, FaultKind::NoMemory, "out of memory");
}

bool SizeMismatch(Fault& fault, std::uint64_t decoded, std::uint32_t original) {
    return Fail(
        fault, FaultKind::Damaged,
        "decoded to " + std::to_string(decoded) + " bytes instead of " + std::to_string(original));
}

// A failure of the gzip codec, told as this pack's damage or this
// machine's trouble.
bool GzFault(const codec::GzError& error, Fault& fault) {
    switch (error.failure) {
        case codec::GzFailure::NoMemory:
            return NoMemory(fault);
        case codec::GzFailure::TooLarge:
            return Fail(fault, FaultKind::Damaged, "gzip data that decodes past its original size");
        case codec::GzFailure::Invalid:
            return Fail(fault, FaultKind::Io, "the stored bytes are missing");
        case codec::GzFailure::Corrupt:
        case codec::GzFailure::None:
            break;
    }
    return Fail(fault, FaultKind::Damaged, std::string("damaged gzip data (") + error.reason + ")");
}

bool DecodeLzrw(const EntryClaim& claim, const unsigned char* stored, DecodedBytes& out,
                Fault& fault) {
    DecodedBytes decoded = Allocate(claim.originalSize);
    std::vector<unsigned char> work;
    try {
        work.resize(codec::LzrwWorkMemorySize);
    } catch (const std::bad_alloc&) {
        return NoMemory(fault);
    }
    if (!decoded)
        return NoMemory(fault);
    std::uint32_t length = 0;
    if (!codec::LzrwCodec(static_cast<unsigned>(codec::LzrwAction::Decompress), work.data(), stored,
                          claim.packedSize, decoded.get(), claim.originalSize, &length))
        return Fail(fault, FaultKind::Damaged, "damaged LZRW3-A data");
    if (length != claim.originalSize)
        return SizeMismatch(fault, length, claim.originalSize);
    out = std::move(decoded);
    return true;
}

}  // namespace

bool CheckEntryClaim(const EntryClaim& claim, Fault& fault) {
    switch (claim.method) {
        case static_cast<std::uint8_t>(PackMethod::Stored):
            if (claim.packedSize != claim.originalSize)
                return Fail(fault, FaultKind::Damaged,
                            "a stored file of " + std::to_string(claim.originalSize) +
                                " bytes that holds " + std::to_string(claim.packedSize));
            return true;
        case static_cast<std::uint8_t>(PackMethod::Lzrw3a):
            if (claim.originalSize > codec::LzrwMaxDecodedSize(claim.packedSize))
                return Fail(fault, FaultKind::Damaged,
                            "an LZRW3-A block of " + std::to_string(claim.packedSize) +
                                " bytes that claims " + std::to_string(claim.originalSize));
            return true;
        case static_cast<std::uint8_t>(PackMethod::Gzip):
            return true;
        default:
            return Fail(fault, FaultKind::Damaged,
                        "unknown method " + std::to_string(claim.method));
    }
}

bool DecodeEntry(const EntryClaim& claim, const unsigned char* stored, DecodedBytes& out,
                 Fault& fault) {
    out.reset();
    if (!CheckEntryClaim(claim, fault))
        return false;
    if (claim.packedSize > 0 && !stored)
        return Fail(fault, FaultKind::Io, "the stored bytes are missing");
    switch (claim.method) {
        case static_cast<std::uint8_t>(PackMethod::Stored): {
            DecodedBytes copy = Allocate(claim.originalSize);
            if (!copy)
                return NoMemory(fault);
            if (claim.originalSize > 0)
                std::memcpy(copy.get(), stored, claim.originalSize);
            out = std::move(copy);
            return true;
        }
        case static_cast<std::uint8_t>(PackMethod::Lzrw3a):
            return DecodeLzrw(claim, stored, out, fault);
        default: {  // gzip; CheckEntryClaim let no other method through
            std::uint32_t length = 0;
            codec::GzError error;
            DecodedBytes decoded = codec::GzDecompressBuffer(stored, claim.packedSize, &length,
                                                             claim.originalSize, &error);
            if (!decoded)
                return GzFault(error, fault);
            if (length != claim.originalSize)
                return SizeMismatch(fault, length, claim.originalSize);
            out = std::move(decoded);
            return true;
        }
    }
}

bool LoadEntry(ByteSource& source, std::uint64_t dataOffset, const EntryClaim& claim,
               DecodedBytes& out, Fault& fault) {
    out.reset();
    if (!CheckEntryClaim(claim, fault)) {
        fault.offset = dataOffset;
        return false;
    }
    if (!source.Holds(dataOffset, claim.packedSize))
        return Damaged(fault, "stored bytes that run past the end of the file", dataOffset);
    DecodedBytes stored = Allocate(claim.packedSize);
    if (!stored)
        return NoMemory(fault);
    if (!source.ReadAt(dataOffset, stored.get(), claim.packedSize))
        return Fail(fault, FaultKind::Io, "cannot read the stored bytes", dataOffset);
    // A stored file is its stored bytes (CheckEntryClaim made the sizes
    // equal): the buffer just read is the result, without a second copy.
    if (claim.method == static_cast<std::uint8_t>(PackMethod::Stored)) {
        out = std::move(stored);
        return true;
    }
    if (!DecodeEntry(claim, stored.get(), out, fault)) {
        if (fault.kind == FaultKind::Damaged)
            fault.offset = dataOffset;
        return false;
    }
    return true;
}

namespace {

class SourceInput final : public codec::GzInput {
  public:
    SourceInput(ByteSource& source, std::uint64_t offset, std::uint64_t length)
        : source_(source), offset_(offset), left_(length) {}
    std::ptrdiff_t Read(unsigned char* buffer, std::size_t capacity) override {
        const std::size_t n = left_ < capacity ? static_cast<std::size_t>(left_) : capacity;
        if (n > 0 && !source_.ReadAt(offset_, buffer, n))
            return -1;
        offset_ += n;
        left_ -= n;
        return static_cast<std::ptrdiff_t>(n);
    }

  private:
    ByteSource& source_;
    std::uint64_t offset_;
    std::uint64_t left_;
};

class SinkOutput final : public codec::GzOutput {
  public:
    explicit SinkOutput(ByteSink& sink) : sink_(sink) {}
    bool Write(const unsigned char* data, std::size_t length) override {
        return sink_.Write(data, length);
    }

  private:
    ByteSink& sink_;
};

bool SinkRefused(ByteSink& sink, Fault& fault) {
    const std::string why = sink.Reason();
    return Fail(fault, FaultKind::Interrupted, why.empty() ? "the output refused the data" : why);
}

bool WriteInBlocks(const unsigned char* bytes, std::size_t length, ByteSink& sink, Fault& fault) {
    for (std::size_t done = 0; done < length;) {
        const std::size_t n = std::min(kStreamBlock, length - done);
        if (!sink.Write(bytes + done, n))
            return SinkRefused(sink, fault);
        done += n;
    }
    return true;
}

}  // namespace

bool StreamEntry(ByteSource& source, std::uint64_t dataOffset, const EntryClaim& claim,
                 ByteSink& sink, Fault& fault) {
    if (!CheckEntryClaim(claim, fault)) {
        fault.offset = dataOffset;
        return false;
    }
    if (!source.Holds(dataOffset, claim.packedSize))
        return Damaged(fault, "stored bytes that run past the end of the file", dataOffset);
    switch (claim.method) {
        case static_cast<std::uint8_t>(PackMethod::Stored): {
            DecodedBytes block = Allocate(kStreamBlock);
            if (!block)
                return NoMemory(fault);
            std::uint64_t at = dataOffset;
            std::uint64_t left = claim.packedSize;
            while (left > 0) {
                const std::size_t n =
                    left < kStreamBlock ? static_cast<std::size_t>(left) : kStreamBlock;
                if (!source.ReadAt(at, block.get(), n))
                    return Fail(fault, FaultKind::Io, "cannot read the stored bytes", at);
                if (!sink.Write(block.get(), n))
                    return SinkRefused(sink, fault);
                at += n;
                left -= n;
            }
            return true;
        }
        case static_cast<std::uint8_t>(PackMethod::Lzrw3a): {
            DecodedBytes bytes;
            if (!LoadEntry(source, dataOffset, claim, bytes, fault))
                return false;
            return WriteInBlocks(bytes.get(), claim.originalSize, sink, fault);
        }
        default: {  // gzip
            // Most files decode faster whole (one read, one call of the
            // buffer codec); only a large one goes through the streaming
            // decoder, so that memory stays flat. Both give one verdict.
            if (claim.originalSize <= kWholeGzipEntry && claim.packedSize <= kWholeGzipEntry) {
                DecodedBytes bytes;
                if (!LoadEntry(source, dataOffset, claim, bytes, fault))
                    return false;
                return WriteInBlocks(bytes.get(), claim.originalSize, sink, fault);
            }
            SourceInput input(source, dataOffset, claim.packedSize);
            SinkOutput output(sink);
            std::uint64_t decoded = 0;
            std::string why;
            switch (codec::GzInflateMember(input, output, claim.originalSize, &decoded, why)) {
                case codec::GzInflateStatus::Ok:
                    break;
                case codec::GzInflateStatus::Corrupt:
                    return Damaged(fault, "damaged gzip data (" + why + ")", dataOffset);
                case codec::GzInflateStatus::TooLarge:
                    return Damaged(fault, "gzip data that decodes past its original size",
                                   dataOffset);
                case codec::GzInflateStatus::InputError:
                    return Fail(fault, FaultKind::Io, "cannot read the stored bytes", dataOffset);
                case codec::GzInflateStatus::OutputError:
                    return SinkRefused(sink, fault);
                case codec::GzInflateStatus::NoMemory:
                    return NoMemory(fault);
            }
            if (decoded != claim.originalSize) {
                SizeMismatch(fault, decoded, claim.originalSize);
                fault.offset = dataOffset;
                return false;
            }
            return true;
        }
    }
}

}  // namespace pack
