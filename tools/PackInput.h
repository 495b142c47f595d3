// PackInput.h - the pack a reading verb (list, extract, cat, check) reads.
//
// The pack is named by its path, or "-" for standard input. A regular file
// is read in place, standard input that is one too (vpf list - < game.vpf);
// anything else that gives bytes (a pipe on standard input, a FIFO,
// /dev/stdin, a process substitution's /dev/fd/N) is first copied into a
// nameless temporary file in $TMPDIR, since reading a pack needs to seek.
// That copy is the one thing reading needs the temporary folder for: when
// it cannot be made or filled the reason says so ("cannot use the temporary
// folder DIR: ..."), with the fault kind TempFolder, and never that the
// pack is damaged. The copy has no name, so nothing is left behind whatever
// ends the process. A terminal is refused, not waited on.
//
// Packs of both versions are read, "1.03" too, read-only.
#pragma once

#include <string>

#include "format/ByteSource.h"
#include "format/PackDirectory.h"
#include "platform/Fault.h"

namespace vpf {

// The name of the pack in messages: its path, or "standard input".
std::string PackDisplayName(const std::string& arg);

// Opens the pack `arg` into `source`. False with `fault` (Io, NotAPack for
// more than 4 GiB from a pipe, TempFolder) otherwise; `terminal`, when
// given, tells whether it was refused for being a terminal (a usage error).
bool OpenPackSource(const std::string& arg, pack::FileSource& source, pack::Fault& fault,
                    bool* terminal = nullptr);

struct PackInput {
    std::string name;  // PackDisplayName
    pack::FileSource source;
    pack::Directory directory;
};

// Opens the pack and reads its directory: kExitOk, or after printing why,
// kExitUsage for a terminal and kExitFailure otherwise. With `salvage`, a
// pack whose data is cut after a whole directory is read, its cut files
// marked (pack::CutData::Keep); without it such a pack is refused, with a
// pointer to --salvage when the verb has it (`offerSalvage`).
int OpenPackToRead(const std::string& arg, PackInput& in, bool salvage = false,
                   bool offerSalvage = true);

// Why the cut file `i` of a directory read with pack::CutData::Keep cannot
// be read, with the offset of the record field that points past the end.
pack::Fault CutFault(const pack::Directory& directory, std::size_t i);

// The lines about "1.03" entries whose records were cut away, one for each,
// as pack faults ("entry 3 has its record past the end of the file; its
// name is lost" at the offset of its table slot).
std::vector<pack::Fault> LostRecords(const pack::Directory& directory);

// "NAME: damaged at offset N: reason", or "NAME: reason".
void ReportOpenFault(const std::string& name, const pack::Fault& fault);

}  // namespace vpf
