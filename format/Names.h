// Names.h - the rules for names inside a pack, in one place.
//
// A name inside a pack is one path component: at most kMaxNameLength bytes,
// never empty, never "." or "..", never holding "/", "\\" or a NUL byte (no
// writer produces such names, and a reader that took them over would hand a
// host a path that climbs out of its folder). Names are compared and kept
// unique without regard to ASCII letter case: A-Z fold to a-z, every other
// byte is compared as it is (bytes above 0x7F never fold). Full names join
// folders with one separator byte: "\\" in the reader library, "/" on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// Whether `name` may be stored as one name inside a pack and used as one
// path component on disk (see the top of this header).
bool IsValidEntryName(std::string_view name);

// Why `name` is not valid, for messages ("empty name", "the name \"..\"
// ...", ...); "" when it is valid.
std::string InvalidNameReason(std::string_view name);

// The path a converted "1.03" pack is saved under: the same folder and base
// name with the extension ".VPF". A name that already ends in ".vpf" (any
// letter case) is kept as it is, so that pack is rewritten in place. A
// leading dot does not start an extension: ".dat" becomes ".dat.VPF", as a
// hidden file's whole name is its base name. "/" separates folders.
//   "d/data.dat" -> "d/data.VPF"; "d/x" -> "d/x.VPF"; "d/a.b.dat" ->
//   "d/a.b.VPF"; "d/old.VpF" -> "d/old.VpF"; "d/.dat" -> "d/.dat.VPF".
std::string ConvertedPackPath(std::string_view oldPackPath);

}  // namespace pack
