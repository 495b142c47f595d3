// Fault.h - how this system says why something failed, from the lowest
// layer up.
//
// Every function that can fail returns false and fills a Fault:
// one line of text saying what is wrong, and, for damage found in a pack,
// the byte offset where it lies. The text starts in lower case and has no
// final period, so that each edge can wrap it in its own sentence: a message
// box ("Unable to open the PackFile X: <reason>."), a vpf message
// ("vpf: X: <reason> at offset N"), or nothing at all behind PackReader's
// false, where it is kept for tools.
//
// It sits in platform/, beneath everything else, so that the file-system
// pieces, the codecs and the format core all report the same way.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

namespace pack {

inline constexpr std::uint64_t kNoOffset = std::numeric_limits<std::uint64_t>::max();

// What kind of failure it was, for callers that react differently: damage
// is the pack's fault; the others are this machine's (a file that cannot be
// opened or read, no memory, an unusable temporary folder).
enum class FaultKind {
    Damaged,      // the bytes break a rule of the format
    NotAPack,     // no header of a known version
    Io,           // the pack or another file could not be opened/read/written
    NoMemory,     // an allocation failed
    TempFolder,   // a temporary folder could not be used (the desktop program's
                  // workspace, vpf's copy of a pack read from a pipe)
    Interrupted,  // a caller's sink refused more bytes
};

struct Fault {
    FaultKind kind = FaultKind::Damaged;
    std::string reason;                // one line, no final period
    std::uint64_t offset = kNoOffset;  // byte of the pack where the damage lies

    bool HasOffset() const { return offset != kNoOffset; }
    // "reason at offset N", or the reason alone when there is no offset.
    std::string Text() const {
        return HasOffset() ? reason + " at offset " + std::to_string(offset) : reason;
    }
};

// Fills `fault` and returns false, so that failures read as one line:
//   return Fail(fault, FaultKind::Damaged, "empty name", at);
inline bool Fail(Fault& fault, FaultKind kind, std::string reason,
                 std::uint64_t offset = kNoOffset) {
    fault.kind = kind;
    fault.reason = std::move(reason);
    fault.offset = offset;
    return false;
}
inline bool Damaged(Fault& fault, std::string reason, std::uint64_t offset) {
    return Fail(fault, FaultKind::Damaged, std::move(reason), offset);
}

// The system's text for an errno value, thread-safe (NativeFilePosix.cpp,
// NativeFileWindows.cpp).
std::string ErrnoText(int error);

}  // namespace pack
