// Fuzz target: the strict check (vpf check) on hostile packs. It must end
// (no hang, no crash), and a pack it accepts must be accepted by the
// directory walker with every entry decoding.
#include <cstdint>
#include <string>

#include "archive/PackCheck.h"
#include "format/ByteSource.h"
#include "format/EntryDecoder.h"
#include "format/PackDirectory.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using fuzzing::Require;
    const std::string path = fuzzing::WriteInput(data, size);
    pack::Directory structure;
    pack::Fault fault;
    if (crateforge::CheckPack(path, structure, fault)) {
        pack::MemorySource memory({data, size});
        pack::Directory dir;
        pack::Fault walkFault;
        Require(pack::ReadDirectory(memory, dir, walkFault), "checked but not readable");
        for (const pack::DirectoryFile& f : dir.files) {
            pack::DecodedBytes bytes;
            Require(pack::LoadEntry(memory, f.dataOffset, {f.method, f.originalSize, f.packedSize},
                                    bytes, walkFault),
                    "checked but an entry does not decode");
        }
    } else {
        Require(!fault.reason.empty(), "a refusal without a reason");
    }
    Require(fuzzing::EntriesIn(fuzzing::TempFolder()) == 0, "a temporary file left behind");
    return 0;
}
