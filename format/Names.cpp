// Names.cpp - folding, validity, disk paths and the converted-pack name.
#include "format/Names.h"

#include "format/PackFormat.h"

namespace pack {

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(static_cast<unsigned char>(a[i])) !=
            FoldAscii(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string FoldedName(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
    return out;
}

std::string InvalidNameReason(std::string_view name) {
    if (name.empty())
        return "empty name";
    if (name.size() > kMaxNameLength)
        return "a name longer than " + std::to_string(kMaxNameLength) + " bytes";
    if (name == "." || name == "..")
        return "the name \"" + std::string(name) + "\" leads out of its folder";
    if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
        return "a name holding a folder separator";
    return {};
}

bool IsValidEntryName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxNameLength && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::string ToDiskPath(std::span<const std::string_view> names, DiskPath& out) {
    out = DiskPath();
    auto refuse = [&](std::string why) {
        out = DiskPath();
        return why;
    };
    for (std::size_t n = 0; n < names.size(); ++n) {
        std::string_view name = names[n];
        if (name.empty())
            return refuse("an empty name");
        if (name.find('\0') != std::string_view::npos)
            return refuse("a name holding a NUL byte");
        if (n == 0) {
            const std::size_t first = name.find_first_not_of("/\\");
            out.droppedLeading = first != 0;
            name.remove_prefix(first == std::string_view::npos ? name.size() : first);
            if (name.empty())
                continue;  // nothing but separators: told below if nothing follows
        }
        for (;;) {
            const std::size_t end = name.find_first_of("/\\");
            const std::string_view part = name.substr(0, end);
            if (part.empty())
                return refuse("an empty component between separators");
            if (part == "." || part == "..")
                return refuse("a \"" + std::string(part) + "\" component, which would lead " +
                              (part == "." ? "nowhere" : "out of its folder"));
            out.components.emplace_back(part);
            if (end == std::string_view::npos)
                break;
            name.remove_prefix(end + 1);
            if (name.empty())
                return refuse("a separator at the end");
        }
    }
    if (out.components.empty())
        return refuse("nothing but separators");
    return {};
}

std::string ConvertedPackPath(std::string_view oldPackPath) {
    const std::size_t slash = oldPackPath.rfind('/');
    const std::size_t base = slash == std::string_view::npos ? 0 : slash + 1;
    const std::string_view name = oldPackPath.substr(base);
    if (name.size() >= kPackExtension.size() &&
        SameNameIgnoringCase(name.substr(name.size() - kPackExtension.size()), kPackExtension))
        return std::string(oldPackPath);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::string(oldPackPath) + std::string(kPackExtension);
    return std::string(oldPackPath.substr(0, base + dot)) + std::string(kPackExtension);
}

}  // namespace pack
