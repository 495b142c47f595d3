// PackInput.h - the pack a reading verb (list, extract, cat, check) reads.
//
// The pack is named by its path, or "-" for standard input. Standard input
// that is a regular file (vpf list - < game.vpf) is read in place; anything
// else (a pipe) is first copied into a nameless temporary file in $TMPDIR,
// since reading a pack needs to seek. That copy is the one thing reading
// needs the temporary folder for: when it cannot be made or filled the
// reason says so ("cannot use the temporary folder DIR: ..."), with the
// fault kind TempFolder, and never that the pack is damaged. The copy has
// no name, so nothing is left behind whatever ends the process.
//
// Packs of both versions are read, "1.03" too, read-only.
#pragma once

#include <string>

#include "format/ByteSource.h"
#include "format/Fault.h"
#include "format/PackDirectory.h"

namespace vpf {

// The name of the pack in messages: its path, or "standard input".
std::string PackDisplayName(const std::string& arg);

// Opens the pack `arg` into `source`. False with `fault` (Io, NotAPack for
// standard input of 4 GiB or more, TempFolder) otherwise.
bool OpenPackSource(const std::string& arg, pack::FileSource& source, pack::Fault& fault);

struct PackInput {
    std::string name;  // PackDisplayName
    pack::FileSource source;
    pack::Directory directory;
};

// Opens the pack and reads its directory; false after printing why.
bool OpenPackToRead(const std::string& arg, PackInput& in);

}  // namespace vpf
