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

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// The bytes of a percent-encoded text; "%" without two hex digits stays.
std::string PercentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = HexDigit(text[i + 1]);
            const int low = HexDigit(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out.push_back(static_cast<char>(high * 16 + low));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string FileUriList(const std::vector<std::string>& paths) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string list;
    for (const std::string& path : paths) {
        if (path.empty()) {
            continue;
        }
        list += "file://";
        for (const char ch : path) {
            const auto c = static_cast<unsigned char>(ch);
            if (IsUnreserved(c) || c == '/') {
                list.push_back(ch);
            } else {
                list.push_back('%');
                list.push_back(kHex[c >> 4]);
                list.push_back(kHex[c & 0x0F]);
            }
        }
        list += "\r\n";
    }
    return list;
}

std::vector<std::string> PathsFromUriList(std::string_view uriList) {
    std::vector<std::string> paths;
    std::size_t at = 0;
    while (at < uriList.size()) {
        std::size_t end = uriList.find('\n', at);
        if (end == std::string_view::npos) {
            end = uriList.size();
        }
        std::string_view line = uriList.substr(at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#' || !StartsWithIgnoringCase(line, "file:")) {
            continue;
        }
        line.remove_prefix(5);
        if (line.substr(0, 2) == "//") {
            line.remove_prefix(2);
            const std::size_t slash = line.find('/');
            const std::string_view host =
                line.substr(0, slash == std::string_view::npos ? line.size() : slash);
            if (!host.empty() && !(host.size() == 9 && StartsWithIgnoringCase(host, "localhost"))) {
                continue;  // a file of another machine
            }
            line.remove_prefix(host.size());
        }
        if (line.empty() || line.front() != '/') {
            continue;
        }
        // No query or fragment in a path of this list: "?" and "#" in a
        // name arrive percent-encoded.
        std::string path = PercentDecoded(line);
        if (path.find('\0') != std::string::npos) {
            continue;
        }
        if (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        paths.push_back(std::move(path));
    }
    return paths;
}

}  // namespace crateforge
