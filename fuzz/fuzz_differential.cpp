// Fuzz target: one input, every reader of the system. The format's walker,
// the reader library's OpenPack, the desktop program's loader ("2.10") and
// the strict check must agree on whether the directory is sound: the
// lenient readers exactly (odd names, padding and shared data taken by all
// of them), except that the loader, which copies every entry's stored bytes
// apart, also refuses data that would not fit a pack that way; the strict
// check never accepts what they refuse. Stops at the first disagreement.
#include <cstdint>
#include <string>

#include "archive/PackArchive.h"
#include "archive/PackCheck.h"
#include "format/ByteSource.h"
#include "format/PackDirectory.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Scripted.h"
#include "reader/PackReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using fuzzing::Require;
    const std::string path = fuzzing::WriteInput(data, size);

    pack::MemorySource memory({data, size});
    pack::Directory dir;
    pack::Fault fault;
    const bool walker = pack::ReadDirectory(memory, dir, fault);

    PackReader reader;
    std::string name = path;
    const bool opened = reader.OpenPack(name.data());
    Require(opened == walker, "the reader library and the walker disagree");
    if (opened)
        Require(reader.GetNumFiles() == dir.files.size(), "the reader counts other files");
    reader.ClosePack();

    if (dir.version == pack::PackVersion::Current ||
        (!walker && size >= 8 && std::string(data, data + 8) == "VHPF2.10")) {
        crateforge::ScriptedMessages messages;
        crateforge::CPackArchive archive(&messages, nullptr, nullptr);
        const bool loaded = archive.Open(path) == 1;
        std::uint64_t apart = dir.directoryEnd;
        for (const pack::DirectoryFile& f : dir.files)
            apart += pack::kDataBlockHeaderSize + std::uint64_t{f.packedSize};
        Require(loaded == (walker && apart <= pack::kMaxPackSize),
                "the desktop program's loader and the walker disagree");
        if (loaded)
            Require(archive.FileCount() == dir.files.size(), "the loader counts other files");
    }

    pack::MemorySource checked({data, size});
    pack::Directory structure;
    pack::Fault checkFault;
    if (crateforge::CheckPackStructure(checked, structure, checkFault))
        Require(walker, "the strict check accepts what the walker refuses");
    Require(fuzzing::EntriesIn(fuzzing::TempFolder()) == 0, "a temporary file left behind");
    return 0;
}
