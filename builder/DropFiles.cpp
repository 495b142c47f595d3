// DropFiles.cpp - the dropped-files block of drag-out.
#include "builder/DropFiles.h"

#include <string_view>

namespace crateforge {

namespace {

void PutLittleEndian32(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xFFu));
    }
}

}  // namespace

std::vector<unsigned char> BuildDropFilesBlock(const std::vector<std::string>& paths) {
    // A NUL inside a path would cut it short for the receiver, so a path
    // ends at its first NUL; what is empty then is left out, since an empty
    // name ends the list.
    std::vector<std::string_view> names;
    std::size_t size = kDropFilesHeaderSize + 1;
    for (const std::string& path : paths) {
        std::string_view name(path);
        name = name.substr(0, name.find('\0'));
        if (!name.empty()) {
            names.push_back(name);
            size += name.size() + 1;
        }
    }
    std::vector<unsigned char> block;
    block.reserve(size);
    PutLittleEndian32(block, kDropFilesHeaderSize);  // where the names start
    PutLittleEndian32(block, 0);                     // drop point x
    PutLittleEndian32(block, 0);                     // drop point y
    PutLittleEndian32(block, 0);                     // not in the non-client area
    PutLittleEndian32(block, 0);                     // single-byte names
    for (std::string_view name : names) {
        block.insert(block.end(), name.begin(), name.end());
        block.push_back(0);
    }
    block.push_back(0);
    return block;
}

}  // namespace crateforge
