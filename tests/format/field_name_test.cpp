// Names in their fixed fields, and the method an old entry's flags name.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "format/PackFormat.h"

namespace {

TEST(FieldName, StopsAtTheFirstZeroOrTheEndOfTheField) {
    pack::OldEntryRecord old{};
    std::memset(old.name, 'q', sizeof old.name);  // no terminator in 48 bytes
    old.packedSize = 0x41414141;                  // "AAAA" right after the field
    EXPECT_EQ(pack::FieldName(old.name), std::string(48, 'q'));

    pack::FileRecord file{};
    std::memset(file.name, 'z', sizeof file.name);  // no terminator in 260 bytes
    file.dataOffset = 0x42424242;
    EXPECT_EQ(pack::FieldName(file.name).size(), 260u);
    EXPECT_EQ(pack::FieldName(file.name), std::string(260, 'z'));

    // Bytes after the first zero are not part of the name.
    pack::FolderRecord folder{};
    std::memcpy(folder.name, "ab\0cd", 5);
    EXPECT_EQ(pack::FieldName(folder.name), "ab");
    EXPECT_EQ(pack::FieldName(pack::FolderRecord{}.name), "");
}

TEST(FieldName, SetRefusesNamesThatDoNotFit) {
    struct Case {
        std::string name;
        bool ok;
    };
    const Case cases[] = {
        {"", true},
        {"x.bin", true},
        {std::string(259, 'a'), true},
        {std::string(260, 'a'), false},
        {std::string(300, 'a'), false},
        {std::string("a\0b", 3), false},
        {std::string("\0", 1), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.size());
        pack::FileRecord r{};
        std::memset(r.name, 0x7E, sizeof r.name);
        EXPECT_EQ(pack::SetFieldName(r.name, c.name), c.ok);
        if (c.ok) {
            EXPECT_EQ(pack::FieldName(r.name), c.name);
            for (std::size_t i = c.name.size(); i < sizeof r.name; ++i) {
                ASSERT_EQ(r.name[i], 0) << "padding byte " << i;
            }
        } else {
            for (std::size_t i = 0; i < sizeof r.name; ++i) {
                ASSERT_EQ(r.name[i], 0x7E) << "field touched at " << i;
            }
        }
    }
    // The old field holds at most 47 name bytes when written.
    pack::OldEntryRecord old{};
    EXPECT_TRUE(pack::SetFieldName(old.name, std::string(47, 'o')));
    EXPECT_FALSE(pack::SetFieldName(old.name, std::string(48, 'o')));
}

TEST(OldEntryMethod, LowFourBitsOfOneMeanLzrw) {
    struct Case {
        std::uint8_t flags;
        pack::PackMethod method;
    };
    const Case cases[] = {
        {0x01, pack::PackMethod::Lzrw3a}, {0x11, pack::PackMethod::Lzrw3a},
        {0x21, pack::PackMethod::Lzrw3a}, {0xF1, pack::PackMethod::Lzrw3a},
        {0x00, pack::PackMethod::Stored}, {0x10, pack::PackMethod::Stored},
        {0x02, pack::PackMethod::Stored}, {0x0F, pack::PackMethod::Stored},
        {0x03, pack::PackMethod::Stored}, {0xFF, pack::PackMethod::Stored},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pack::OldEntryMethod(c.flags), c.method) << "flags " << int(c.flags);
    }
}

}  // namespace
