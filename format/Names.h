// Names.h - the rules for names inside a pack, in one place.
//
// A name's bytes are its entry's identity. Readers take them as stored,
// whatever they hold: an old pack's names are whole paths ("maps\\x.map"),
// a converted pack keeps them, and other writers may store ".", ".." or a
// separator. Three rules apply on top of that:
//   - lookup and uniqueness ignore ASCII letter case: A-Z fold to a-z, every
//     other byte is compared as it is (bytes above 0x7F never fold);
//   - a name this system's writers store is one path component
//     (IsValidEntryName): not empty, not "." or "..", no "/", "\\" or NUL,
//     at most kMaxNameLength bytes; the full name it makes stays within
//     kMaxFullNameLength (format/PackFormat.h);
//   - where a name becomes a path on disk (extracting, viewing, dragging
//     out), it goes through ToDiskPath and nowhere else.
// Full names join folders with one separator byte: "\\" in the reader
// library, "/" on disk and in the command-line tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pack {

// The extension of a pack file: new packs get it, converted packs get it,
// and a single command-line argument whose extension begins with it (in any
// letter case) is opened as a pack.
inline constexpr std::string_view kPackExtension = ".VPF";

// The byte with A-Z folded to a-z; every other byte unchanged.
constexpr unsigned char FoldAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Whether two names are equal ignoring ASCII letter case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// The name with A-Z folded to a-z (a key for sets of names).
std::string FoldedName(std::string_view name);

// Whether `name` is one a writer of this system may store (see the top).
bool IsValidEntryName(std::string_view name);

// Why `name` is not valid, for messages ("empty name", "the name \"..\"
// ...", ...); "" when it is valid.
std::string InvalidNameReason(std::string_view name);

// ---- From names inside a pack to a path on disk -----------------------------
//
// The stored names from the first one extracted down to the file (or
// folder) itself are split at "/" and "\\" into disk path components, below
// the folder written into:
//   "maps\\x.map"        -> maps, x.map (a converted old pack's folders)
//   "a", "b\\c"          -> a, b, c
//   "/abs", "\\\\x"       -> abs; x (leading separators of the first name
//                          are dropped, and said, as tar drops a leading "/")
// and refused, with the reason, when a component is empty inside the path
// ("a//b", "a/", an empty name, a name after the first that starts with a
// separator), is "." or "..", or holds a NUL byte, or when nothing is left.
// With those refused no path leads above the folder written into; links on
// disk are the writer's business (platform/BeneathFolder.h).
struct DiskPath {
    std::vector<std::string> components;
    bool droppedLeading = false;  // leading separators of the first name were dropped
};

// Fills `out` and returns "" when the names make a path; otherwise returns
// why not (one line, no final period) and leaves `out` empty.
std::string ToDiskPath(std::span<const std::string_view> names, DiskPath& out);
inline std::string ToDiskPath(std::string_view name, DiskPath& out) {
    return ToDiskPath(std::span<const std::string_view>(&name, 1), out);
}

// The path a converted "1.03" pack is saved under: the same folder and base
// name with the extension ".VPF". A name that already ends in ".vpf" (any
// letter case) is kept as it is, so that pack is rewritten in place. A
// leading dot does not start an extension: ".dat" becomes ".dat.VPF", as a
// hidden file's whole name is its base name. "/" separates folders.
//   "d/data.dat" -> "d/data.VPF"; "d/x" -> "d/x.VPF"; "d/a.b.dat" ->
//   "d/a.b.VPF"; "d/old.VpF" -> "d/old.VpF"; "d/.dat" -> "d/.dat.VPF".
std::string ConvertedPackPath(std::string_view oldPackPath);

}  // namespace pack
