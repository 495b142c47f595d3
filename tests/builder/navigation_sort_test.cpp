// Moving through folders (double-click, "..", Backspace) and sorting by
// column headers, driven through the real list and header.
#include <QHeaderView>
#include <QTest>

#include "BuilderFixture.h"

namespace crateforge {
namespace {

class NavigationSortTest : public BuilderTest {
  protected:
    void DoubleClick(const std::string& name) {
        const int row = RowOf(name);
        ASSERT_GE(row, 0) << name;
        const QPoint at = List().visualRect(Cell(row)).center();
        QTest::mouseClick(List().viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(List().viewport(), Qt::LeftButton, {}, at);
        Settle();
    }
    void ClickHeader(int column) {
        QHeaderView* header = List().header();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
        Settle();
    }
    std::string SortedPack() {
        using pack::PackMethod;
        using testpacks::File;
        using testpacks::Folder;
        // Sizes and ratios all differ: name, size and ratio orders disagree.
        testpacks::Bytes half = testpacks::ToBytes(std::string(900, 'x'));
        const testpacks::Bytes noise = testpacks::SampleBytes(900, 2);
        half.insert(half.end(), noise.begin(), noise.end());
        Folder root(
            "",
            {File("b.txt", testpacks::ToBytes(std::string(4000, 'b')), PackMethod::Gzip),
             File("a.txt", testpacks::SampleBytes(100, 1)), File("B.txt", half, PackMethod::Gzip),
             File("c.bin", testpacks::SampleBytes(2500, 3))},
            {Folder("zeta"), Folder("Alpha")});
        return WritePack("sorted.vpf", root);
    }
};

TEST_F(NavigationSortTest, IntoFoldersAndBack) {
    using testpacks::File;
    using testpacks::Folder;
    Folder deep("Deep", {File("d.txt", testpacks::ToBytes("dd"))});
    Folder docs("Docs", {File("x.txt", testpacks::ToBytes("x"))}, {deep});
    const std::string pack =
        WritePack("nav.vpf", Folder("", {File("top.txt", testpacks::ToBytes("t"))}, {docs}));
    MakeWindow({"\\o", pack});
    ASSERT_EQ(Names(), (std::vector<std::string>{"Docs", "top.txt"}));  // no ".." at the root

    DoubleClick("Docs");
    EXPECT_EQ(Names(), (std::vector<std::string>{"..", "Deep", "x.txt"}));
    EXPECT_EQ(TotalText(), "Total: 3 Files. OrgSize:3 B, Packed: 3 B");
    DoubleClick("Deep");
    EXPECT_EQ(Names(), (std::vector<std::string>{"..", "d.txt"}));
    // The parent row and its folder icon, no sizes.
    const int up = RowOf("..");
    EXPECT_EQ(EntryOf(up), nullptr);
    EXPECT_EQ(window->ListControlImpl()->RowText(up, 1), "");

    DoubleClick("..");
    EXPECT_EQ(Names(), (std::vector<std::string>{"..", "Deep", "x.txt"}));
    EXPECT_TRUE(window->ListControlImpl()->SelectedRows().empty());
    EXPECT_EQ(SelectedText(), "Selected: 0 Files. OrgSize:0 B, Packed: 0 B");

    // Backspace in the list goes up; at the root it changes nothing.
    List().setFocus();
    QTest::keyClick(&List(), Qt::Key_Backspace);
    Settle();
    EXPECT_EQ(Names(), (std::vector<std::string>{"Docs", "top.txt"}));
    QTest::keyClick(&List(), Qt::Key_Backspace);
    Settle();
    EXPECT_EQ(Names(), (std::vector<std::string>{"Docs", "top.txt"}));
    EXPECT_EQ(TotalText(), "Total: 3 Files. OrgSize:4 B, Packed: 4 B");

    // Double-clicking a file row leaves the folder as it is.
    DoubleClick("top.txt");
    EXPECT_EQ(Names(), (std::vector<std::string>{"Docs", "top.txt"}));
}

TEST_F(NavigationSortTest, BackspaceWithoutPackDoesNothing) {
    MakeWindow();
    EXPECT_FALSE(window->OnListKeyDown(Qt::Key_Backspace));
    window->OnColumnClick(0);
    EXPECT_EQ(List().model()->rowCount(), 0);
}

TEST_F(NavigationSortTest, EveryColumnBothWays) {
    MakeWindow({"\\o", SortedPack()});
    ASSERT_EQ(Names(),
              (std::vector<std::string>{"zeta", "Alpha", "b.txt", "a.txt", "B.txt", "c.bin"}));
    // Ratios: b.txt high, B.txt about half, a.txt and c.bin stored (0%).
    struct Step {
        int column;
        std::vector<std::string> files;
        Qt::SortOrder order;
    };
    const std::vector<Step> steps = {
        {0, {"B.txt", "a.txt", "b.txt", "c.bin"}, Qt::AscendingOrder},  // capitals first
        {0, {"c.bin", "b.txt", "a.txt", "B.txt"}, Qt::DescendingOrder},
        {0, {"B.txt", "a.txt", "b.txt", "c.bin"}, Qt::AscendingOrder},  // third click: up again
        {1, {"a.txt", "B.txt", "c.bin", "b.txt"}, Qt::AscendingOrder},  // a new column starts up
        {1, {"b.txt", "c.bin", "B.txt", "a.txt"}, Qt::DescendingOrder},
        {3, {"b.txt", "a.txt", "B.txt", "c.bin"}, Qt::AscendingOrder},
        {3, {"c.bin", "B.txt", "a.txt", "b.txt"}, Qt::DescendingOrder},
        {2, {"a.txt", "c.bin", "B.txt", "b.txt"}, Qt::AscendingOrder},  // equal ratios keep order
        {2, {"b.txt", "B.txt", "a.txt", "c.bin"}, Qt::DescendingOrder},
    };
    for (const Step& step : steps) {
        ClickHeader(step.column);
        SCOPED_TRACE(testing::Message() << "column " << step.column);
        std::vector<std::string> names = Names();
        ASSERT_EQ(names.size(), 6u);
        // Folders stay above the files, in their own order.
        EXPECT_EQ(names[0], "zeta");
        EXPECT_EQ(names[1], "Alpha");
        EXPECT_EQ(std::vector<std::string>(names.begin() + 2, names.end()), step.files);
        EXPECT_EQ(window->Archive()->SortColumn(), step.column);
        EXPECT_TRUE(List().header()->isSortIndicatorShown());
        EXPECT_EQ(List().header()->sortIndicatorSection(), step.column);
        EXPECT_EQ(List().header()->sortIndicatorOrder(), step.order);
    }
    // The order holds in every folder shown.
    DoubleClick("zeta");
    EXPECT_EQ(Names(), std::vector<std::string>{".."});
    DoubleClick("..");
    EXPECT_EQ(Names(),
              (std::vector<std::string>{"zeta", "Alpha", "b.txt", "B.txt", "a.txt", "c.bin"}));
}

}  // namespace
}  // namespace crateforge
