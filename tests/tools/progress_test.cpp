// The progress line and the sizes and counts of the summaries. The bar is
// drawn only on a terminal after half a second, so its layout is checked
// here directly; the summaries are also checked through the binary.
#include <gtest/gtest.h>

#include "tools/Cli.h"

namespace {

TEST(ProgressTest, TheLineFitsEveryWidthAndKeepsItsNumbers) {
    for (int width = 1; width <= 300; ++width) {
        const std::string line = vpf::ProgressLine(width, 2500000, 10000000, 2.0);
        ASSERT_LE(line.size(), static_cast<std::size_t>(std::max(width - 1, 0))) << width;
        if (width >= 50) {
            EXPECT_EQ(line.find(" 25%"), 0u) << line;
        }
        if (width >= 80) {
            EXPECT_NE(line.find(" 2.50 MB of 10.0 MB, 1.25 MB/s"), std::string::npos) << line;
        }
    }
    // Room for a bar: it takes what is left, up to 40 columns, a quarter full.
    const std::string wide = vpf::ProgressLine(200, 2500000, 10000000, 2.0);
    EXPECT_EQ(wide, " 25% [" + std::string(10, '#') + std::string(30, '.') +
                        "] 2.50 MB of 10.0 MB, 1.25 MB/s");
    const std::string narrow = vpf::ProgressLine(60, 2500000, 10000000, 2.0);
    EXPECT_EQ(narrow.size(), 59u);
    EXPECT_EQ(narrow.substr(0, 6), " 25% [");
    // Too narrow for a bar: the numbers alone.
    EXPECT_EQ(vpf::ProgressLine(45, 2500000, 10000000, 2.0), " 25% 2.50 MB of 10.0 MB, 1.25 MB/s");
    // Nothing to do counts as done; more than planned stays at 100%.
    EXPECT_EQ(vpf::ProgressLine(45, 0, 0, 0.0).substr(0, 5), "100% ");
    EXPECT_EQ(vpf::ProgressLine(45, 20, 10, 1.0).substr(0, 5), "100% ");
}

TEST(ProgressTest, SizesAndCountsReadAsEnglish) {
    EXPECT_EQ(vpf::Size(0), "0 bytes");
    EXPECT_EQ(vpf::Size(1), "1 byte");
    EXPECT_EQ(vpf::Size(999), "999 bytes");
    EXPECT_EQ(vpf::Size(1000), "1.00 kB");
    EXPECT_EQ(vpf::Size(29900000), "29.9 MB");
    EXPECT_EQ(vpf::Size(153000000), "153 MB");
    EXPECT_EQ(vpf::Size(999499), "999 kB");
    EXPECT_EQ(vpf::Size(999500), "1.00 MB");  // never "1000 kB"
    EXPECT_EQ(vpf::Size(4294967295u), "4.29 GB");
    EXPECT_EQ(vpf::Count(9576), "9,576");
    EXPECT_EQ(vpf::Count(1234567), "1,234,567");
    EXPECT_EQ(vpf::Count(999), "999");
    EXPECT_EQ(vpf::Counted(1, "file"), "1 file");
    EXPECT_EQ(vpf::Counted(0, "folder"), "0 folders");
    EXPECT_EQ(vpf::Counted(9576, "file"), "9,576 files");
    EXPECT_EQ(vpf::Seconds(3.46), "3.5 s");
}

}  // namespace
