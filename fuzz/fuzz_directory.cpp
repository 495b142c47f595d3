// Fuzz target: the input is a pack. The format's walker reads its
// directory from memory; whatever it accepts must keep its promises (names
// that fit their field, full names within the limit, entries inside the
// file, folders before their files), the one disk-path rule must never
// hand out a component that leads anywhere but down, and the two
// entry decoders (whole buffer through temporary files, streaming in
// memory) must give the same verdict and bytes for every entry.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/ByteSource.h"
#include "format/EntryDecoder.h"
#include "format/Names.h"
#include "format/PackDirectory.h"
#include "fuzz/FuzzSupport.h"

namespace {

class Collect final : public pack::ByteSink {
  public:
    bool Write(const unsigned char* data, std::size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
    std::vector<unsigned char> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using fuzzing::Require;
    fuzzing::PrivateFolder();
    pack::MemorySource source({data, size});
    // The salvage read takes all the strict read takes, and more only by
    // marking files cut: a file it calls whole lies inside the file.
    pack::Directory kept;
    pack::Fault keptFault;
    const bool salvaged = pack::ReadDirectory(source, pack::PackVersion::None, kept, keptFault,
                                              pack::CutData::Keep);
    std::size_t cut = kept.cutRecordSlots.size();
    for (const pack::DirectoryFile& f : kept.files) {
        Require(f.cut == (f.dataOffset + f.packedSize > size), "a cut file told wrong");
        cut += f.cut ? 1 : 0;
    }
    pack::Directory dir;
    pack::Fault fault;
    const bool strict = pack::ReadDirectory(source, dir, fault);
    Require(!strict || (salvaged && cut == 0 && kept.files.size() == dir.files.size()),
            "the salvage read differs on a whole pack");
    Require(strict || !salvaged || (cut > 0 && fault.kind == pack::FaultKind::Damaged),
            "the salvage read took a pack refused for another reason");
    if (!strict) {
        Require(dir.files.empty() && !fault.reason.empty(), "a refusal without a reason");
        Require(fault.kind != pack::FaultKind::Damaged || fault.offset <= size,
                "damage told outside the file");
        return 0;
    }
    for (std::size_t i = 0; i < dir.files.size(); ++i) {
        const pack::DirectoryFile& f = dir.files[i];
        Require(dir.FileName(i).size() <= pack::kMaxNameLength &&
                    dir.FileName(i).find('\0') == std::string_view::npos,
                "a name that does not fit its field accepted");
        std::vector<std::string_view> names;
        for (std::uint32_t k = f.folder; k != 0; k = dir.folders[k].parent)
            names.insert(names.begin(), dir.FolderName(k));
        names.push_back(dir.FileName(i));
        pack::DiskPath disk;
        if (pack::ToDiskPath(names, disk).empty()) {
            Require(!disk.components.empty(), "a disk path of nothing");
            for (const std::string& c : disk.components)
                Require(!c.empty() && c != "." && c != ".." &&
                            c.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos,
                        "a disk component that leads elsewhere");
        } else {
            Require(disk.components.empty(), "a refused name with components");
        }
        Require(f.folder < dir.folders.size(), "a file in no folder");
        Require(f.dataOffset + f.packedSize <= size, "stored bytes outside the file");
        Require(dir.FullName(i, '\\').size() <= pack::kMaxFullNameLength, "a full name too long");
        const pack::EntryClaim claim{f.method, f.originalSize, f.packedSize};
        // Cap the work per input: huge claims are still checked by the claim
        // test, which runs first in both decoders.
        if (f.originalSize > (1u << 24))
            continue;
        pack::DecodedBytes whole;
        pack::Fault a, b;
        const bool loaded = pack::LoadEntry(source, f.dataOffset, claim, whole, a);
        Collect sink;
        const bool streamed = pack::StreamEntry(source, f.dataOffset, claim, sink, b);
        Require(loaded == streamed, "the two decoders disagree");
        if (loaded) {
            Require(sink.bytes.size() == f.originalSize, "streamed size differs");
            Require(f.originalSize == 0 ||
                        std::equal(sink.bytes.begin(), sink.bytes.end(), whole.get()),
                    "streamed bytes differ");
        } else {
            Require(a.kind == b.kind, "the two decoders disagree on why");
        }
    }
    for (std::size_t k = 1; k < dir.folders.size(); ++k) {
        Require(dir.folders[k].parent < k, "a folder before its parent");
        Require(dir.FolderName(k).size() <= pack::kMaxNameLength,
                "a folder name that does not fit its field accepted");
        Require(dir.FolderPath(k, '\\').size() <= pack::kMaxFullNameLength,
                "a folder's full name too long");
        Require(dir.folders[k].depth <= pack::kMaxFolderDepth, "folders nested too deep");
    }
    Require(fuzzing::EntriesIn(fuzzing::TempFolder()) == 0, "a temporary file left behind");
    return 0;
}
