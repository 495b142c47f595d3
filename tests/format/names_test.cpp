// Name rules: folding, validity, the converted-pack name.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "format/Names.h"
#include "format/PackFormat.h"

namespace {

TEST(NamesTest, OnlyAsciiLettersFold) {
    EXPECT_TRUE(pack::SameNameIgnoringCase("README.TXT", "readme.txt"));
    EXPECT_TRUE(pack::SameNameIgnoringCase("Z@[`{", "z@[`{"));
    // '@' and '`', '[' and '{' sit 32 apart like letters but are not letters.
    EXPECT_FALSE(pack::SameNameIgnoringCase("@", "`"));
    EXPECT_FALSE(pack::SameNameIgnoringCase("[", "{"));
    // Bytes above 0x7F never fold: Latin-1 E-acute and e-acute differ.
    EXPECT_FALSE(pack::SameNameIgnoringCase("\xC9", "\xE9"));
    EXPECT_FALSE(pack::SameNameIgnoringCase("ab", "abc"));
    EXPECT_EQ(pack::FoldedName("MiXeD\xC9.Txt"), "mixed\xC9.txt");
    for (int c = 0; c < 256; ++c) {
        const auto folded = pack::FoldAscii(static_cast<unsigned char>(c));
        if (c >= 'A' && c <= 'Z')
            EXPECT_EQ(folded, c + 32);
        else
            EXPECT_EQ(folded, c);
    }
}

TEST(NamesTest, ValidNamesAreOneSafeComponent) {
    for (const std::string& name :
         std::vector<std::string>{"a", ".hidden", "...", "a.b.c", " spaced ", "\xFF\xFE",
                                  std::string(pack::kMaxNameLength, 'x')}) {
        EXPECT_TRUE(pack::IsValidEntryName(name)) << name;
        EXPECT_EQ(pack::InvalidNameReason(name), "") << name;
    }
    for (const std::string& name : std::vector<std::string>{
             "", ".", "..", "a/b", "/abs", "a\\b", "..\\..\\x", "x/", std::string("a\0b", 3),
             std::string(pack::kMaxNameLength + 1, 'x')}) {
        EXPECT_FALSE(pack::IsValidEntryName(name)) << name;
        EXPECT_NE(pack::InvalidNameReason(name), "") << name;
    }
}

// Where a stored name becomes a disk path: split at both separators, a
// leading separator dropped at the top only, refused with the reason when a
// component is empty, "." or "..".
TEST(NamesTest, StoredNamesBecomeDiskPathsOrAReason) {
    const std::string up = "a \"..\" component, which would lead out of its folder";
    const std::string here = "a \".\" component, which would lead nowhere";
    const std::string empty = "an empty component between separators";
    struct Case {
        std::vector<std::string> names;
        std::vector<std::string> components;  // empty: refused
        bool dropped;
        std::string why;
    };
    const Case cases[] = {
        {{"readme.txt"}, {"readme.txt"}, false, ""},
        {{"maps\\x.map"}, {"maps", "x.map"}, false, ""},
        {{"a", "b\\c", "d/e"}, {"a", "b", "c", "d", "e"}, false, ""},
        {{".hidden", "...", "x..y"}, {".hidden", "...", "x..y"}, false, ""},
        {{"/abs"}, {"abs"}, true, ""},
        {{"\\\\/x", "y"}, {"x", "y"}, true, ""},
        {{"/", "x"}, {"x"}, true, ""},
        {{"a//b"}, {}, false, empty},
        {{"a\\/b"}, {}, false, empty},
        {{"a", "/abs"}, {}, false, empty},
        {{"a/"}, {}, false, "a separator at the end"},
        {{"a", "b\\"}, {}, false, "a separator at the end"},
        {{""}, {}, false, "an empty name"},
        {{"a", ""}, {}, false, "an empty name"},
        {{".."}, {}, false, up},
        {{"a/../../x"}, {}, false, up},
        {{"..\\..\\x"}, {}, false, up},
        {{"ok", "..", "f"}, {}, false, up},
        {{"/.."}, {}, false, up},
        {{"."}, {}, false, here},
        {{"a/./b"}, {}, false, here},
        {{"/"}, {}, false, "nothing but separators"},
        {{"\\/\\"}, {}, false, "nothing but separators"},
        {{std::string("a\0b", 3)}, {}, false, "a name holding a NUL byte"},
    };
    for (const Case& c : cases) {
        std::vector<std::string_view> names(c.names.begin(), c.names.end());
        pack::DiskPath path;
        path.components = {"stale"};
        const std::string why = pack::ToDiskPath(names, path);
        EXPECT_EQ(why, c.why) << c.names[0];
        EXPECT_EQ(path.components, c.components) << c.names[0];
        EXPECT_EQ(path.droppedLeading, c.dropped) << c.names[0];
        // A name a writer stores is always written as it is.
        if (c.names.size() == 1 && pack::IsValidEntryName(c.names[0])) {
            EXPECT_EQ(path.components, c.names) << c.names[0];
        }
    }
}

TEST(NamesTest, ConvertedPackPath) {
    const std::pair<const char*, const char*> table[] = {
        {"/games/data.dat", "/games/data.VPF"}, {"data.dat", "data.VPF"},
        {"/games/x", "/games/x.VPF"},           {"/games/a.b.dat", "/games/a.b.VPF"},
        {"/games/old.vpf", "/games/old.vpf"},   {"/games/old.VpF", "/games/old.VpF"},
        {"/games/.dat", "/games/.dat.VPF"},     {"/games/.vpf", "/games/.vpf"},
        {"/dots.d/file", "/dots.d/file.VPF"},   {"/games/data.", "/games/data.VPF"},
    };
    for (const auto& [in, out] : table)
        EXPECT_EQ(pack::ConvertedPackPath(in), out) << in;
}

// The one table of version tags: the probe of the first bytes and the two
// header checks agree on every tag.
TEST(NamesTest, VersionTagsAreRecognisedExactly) {
    struct Case {
        std::string bytes;
        pack::PackVersion version;
    };
    const Case cases[] = {
        {"VHPF2.10", pack::PackVersion::Current}, {"VHPF1.03xxxx", pack::PackVersion::Old},
        {"VHPF2.11", pack::PackVersion::None},    {"VHPF1.02", pack::PackVersion::None},
        {"vhpf2.10", pack::PackVersion::None},    {"XHPF2.10", pack::PackVersion::None},
        {"VHPF2.1", pack::PackVersion::None},     {"", pack::PackVersion::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        std::vector<std::uint8_t> bytes(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(pack::DetectVersion(bytes), c.version);
        if (bytes.size() < 8)
            continue;
        bytes.resize(20, 0);
        pack::PackHeader current{};
        pack::OldPackHeader old{};
        ASSERT_TRUE(pack::Read(bytes, 0, current));
        ASSERT_TRUE(pack::Read(bytes, 0, old));
        EXPECT_EQ(pack::IsCurrentPack(current), c.version == pack::PackVersion::Current);
        EXPECT_EQ(pack::IsOldPack(old), c.version == pack::PackVersion::Old);
    }
}

}  // namespace
