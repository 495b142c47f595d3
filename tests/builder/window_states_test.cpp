// The window's commands: menus, tool bar, states by situation, status row,
// columns, layout, context menu and closing keys.
#include <QHeaderView>
#include <QMenuBar>
#include <QProgressBar>
#include <QTest>
#include <QToolBar>

#include "BuilderFixture.h"

namespace crateforge {
namespace {

const Command kContentCommands[] = {Command::Add,     Command::AddFolder, Command::NewFolder,
                                    Command::Extract, Command::View,      Command::Rename,
                                    Command::About};

class WindowStatesTest : public BuilderTest {
  protected:
    void WireAll() {
        for (Command command : kContentCommands) {
            window->WireForTest(command, [this, command] { triggered.push_back(command); });
        }
    }
    bool ButtonOn(Command command) {
        QWidget* button = Named<QToolBar>("toolBar")->widgetForAction(Action(command));
        return button != nullptr && button->isEnabled();
    }
    std::vector<Command> triggered;
};

// A menu text names its accelerator after a tab; the key it names must be
// the one that runs the command.
TEST_F(WindowStatesTest, MenuTextsNameTheKeysThatRunTheirCommands) {
    MakeWindow();
    int named = 0;
    for (const char* menu : {"fileMenu", "actionsMenu", "contextMenu", "aboutMenu"}) {
        for (QAction* action : Named<QMenu>(menu)->actions()) {
            const QString text = action->text();
            const qsizetype tab = text.indexOf(QLatin1Char('\t'));
            const QString key = tab < 0 ? QString() : text.mid(tab + 1);
            if (key == QStringLiteral("Ins")) {
                continue;  // the list's own key, handled there
            }
            EXPECT_EQ(QKeySequence(key), action->shortcut()) << text.toStdString();
            named += tab < 0 ? 0 : 1;
        }
    }
    EXPECT_GT(named, 0);
}

// One action per command, shared by the menus, the context menu and the
// tool bar; every tool bar button has an icon and a tip.
TEST_F(WindowStatesTest, MenusAndToolBarShareOneActionPerCommand) {
    MakeWindow();
    QMenu* actions = Named<QMenu>("actionsMenu");
    EXPECT_EQ(Named<QMenu>("contextMenu")->actions(), actions->actions());
    for (QAction* action : Named<QToolBar>("toolBar")->actions()) {
        if (action->isSeparator()) {
            continue;
        }
        EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
        EXPECT_FALSE(action->toolTip().isEmpty()) << action->text().toStdString();
    }
    for (Command command : {Command::Add, Command::AddFolder, Command::Extract, Command::View}) {
        EXPECT_TRUE(actions->actions().contains(Action(command))) << static_cast<int>(command);
        EXPECT_TRUE(Named<QToolBar>("toolBar")->actions().contains(Action(command)))
            << static_cast<int>(command);
    }
    for (Command command : {Command::OpenPack, Command::NewPack}) {
        EXPECT_TRUE(Named<QMenu>("fileMenu")->actions().contains(Action(command)));
        EXPECT_TRUE(Named<QToolBar>("toolBar")->actions().contains(Action(command)));
    }
}

TEST_F(WindowStatesTest, ComputedStatesFollowTheTable) {
    struct Row {
        bool pack;
        int selected, nonFile;
        CommandStates want;
    };
    const Row rows[] = {
        {false, 0, 0, {false, false, false, false, false, false}},
        {false, 3, 1, {false, false, false, false, false, false}},
        {true, 0, 0, {true, true, false, false, false, true}},
        {true, 2, 2, {true, true, true, true, false, true}},
        {true, 1, 1, {true, true, true, true, false, true}},
        {true, 3, 2, {true, true, true, true, true, true}},
        {true, 1, 0, {true, true, true, true, true, true}},
    };
    for (const Row& row : rows) {
        CommandStates got = ComputeCommandStates(row.pack, row.selected, row.nonFile);
        SCOPED_TRACE(testing::Message() << row.pack << row.selected << row.nonFile);
        EXPECT_EQ(got.add, row.want.add);
        EXPECT_EQ(got.newFolder, row.want.newFolder);
        EXPECT_EQ(got.extract, row.want.extract);
        EXPECT_EQ(got.rename, row.want.rename);
        EXPECT_EQ(got.view, row.want.view);
        EXPECT_EQ(got.actionsTitle, row.want.actionsTitle);
    }
}

TEST_F(WindowStatesTest, EachSituationSetsMenusButtonsAndTitle) {
    MakeWindow();
    WireAll();
    window->UpdateCommandStates();
    struct Expect {
        bool add, newFolder, extract, rename, view, title;
    };
    auto check = [this](const Expect& e) {
        EXPECT_TRUE(On(Command::OpenPack));
        EXPECT_TRUE(On(Command::NewPack));
        EXPECT_TRUE(ButtonOn(Command::OpenPack));
        EXPECT_TRUE(ButtonOn(Command::NewPack));
        EXPECT_EQ(On(Command::Add), e.add);
        EXPECT_EQ(On(Command::AddFolder), e.add);
        EXPECT_EQ(ButtonOn(Command::Add), e.add);
        EXPECT_EQ(ButtonOn(Command::AddFolder), e.add);
        EXPECT_EQ(On(Command::NewFolder), e.newFolder);
        EXPECT_EQ(On(Command::Extract), e.extract);
        EXPECT_EQ(ButtonOn(Command::Extract), e.extract);
        EXPECT_EQ(On(Command::Rename), e.rename);
        EXPECT_EQ(On(Command::View), e.view);
        EXPECT_EQ(ButtonOn(Command::View), e.view);
        EXPECT_EQ(Named<QMenu>("actionsMenu")->menuAction()->isEnabled(), e.title);
    };
    {
        SCOPED_TRACE("no pack");
        check({false, false, false, false, false, false});
    }
    dialogs.QueueOpenFiles({SamplePack()});
    Action(Command::OpenPack)->trigger();
    Settle();
    {
        SCOPED_TRACE("pack, nothing selected");
        check({true, true, false, false, false, true});
    }
    Select({"Docs", "Empty"});
    {
        SCOPED_TRACE("only folders");
        check({true, true, true, true, false, true});
    }
    Select({"Docs", "c.dat"});
    {
        SCOPED_TRACE("a file among them");
        check({true, true, true, true, true, true});
    }
    window->OnListDoubleClick();  // into Docs
    Select({".."});
    {
        SCOPED_TRACE("the parent row alone");
        check({true, true, true, true, false, true});
    }
    // The commands run from every place they are shown.
    Select({"readme.txt"});
    Action(Command::View)->trigger();
    EXPECT_EQ(triggered, std::vector<Command>{Command::View});
}

TEST_F(WindowStatesTest, ContentCommandsAreWiredAndOnWithAFileSelected) {
    MakeWindow({"\\o", SamplePack()});
    Select({"Docs", "c.dat"});
    for (Command command : kContentCommands) {
        EXPECT_TRUE(On(command)) << static_cast<int>(command);
    }
    EXPECT_TRUE(Named<QMenu>("actionsMenu")->menuAction()->isEnabled());
    EXPECT_TRUE(On(Command::Exit));
}

TEST_F(WindowStatesTest, StatusRowCountsAndSums) {
    MakeWindow({"\\o", SamplePack()});
    Select({"Docs"});
    // One folder counts one, with everything below it: 3000 + 200 bytes.
    EXPECT_EQ(SelectedText().rfind("Selected: 1 Files. OrgSize:3 kB, Packed: ", 0), 0u)
        << SelectedText();
    Select({"c.dat", "A.bin"});
    EXPECT_EQ(SelectedText(), "Selected: 2 Files. OrgSize:1 kB, Packed: 1 kB");
    Select({"c.dat"});
    EXPECT_EQ(SelectedText(), "Selected: 1 Files. OrgSize:40 B, Packed: 40 B");

    Select({"Docs"});
    window->OnListDoubleClick();
    // Total counts every file of the pack but sums only below this folder.
    EXPECT_EQ(TotalText().rfind("Total: 5 Files. OrgSize:3 kB, Packed: ", 0), 0u) << TotalText();
    EXPECT_EQ(Title(), std::string(kWindowTitle) + " - " + temp.File("sample.vpf"));
    // The parent row sets the count to 0 and adds nothing.
    Select({"..", "notes.md"});
    EXPECT_EQ(SelectedText(), "Selected: 0 Files. OrgSize:200 B, Packed: 200 B");
    Select({"notes.md", ".."});
    EXPECT_EQ(SelectedText(), "Selected: 0 Files. OrgSize:200 B, Packed: 200 B");
}

TEST_F(WindowStatesTest, ColumnsAndLayout) {
    MakeWindow();
    QAbstractItemModel* model = List().model();
    const char* headings[] = {"Name", "Original Size", "Ratio", "Packed Size"};
    const int widths[] = {200, 100, 100, 100};
    const Qt::Alignment alignments[] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignLeft,
                                        Qt::AlignRight};
    ASSERT_EQ(model->columnCount(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(model->headerData(i, Qt::Horizontal).toString(),
                  QString::fromLatin1(headings[i]));
        EXPECT_EQ(List().columnWidth(i), widths[i]);
        EXPECT_EQ(
            model->headerData(i, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                Qt::AlignHorizontal_Mask,
            alignments[i]);
    }
    for (QSize size : {QSize(640, 480), QSize(901, 333), QSize(1000, 700)}) {
        window->resize(size);
        Settle();
        const int w = Named<QWidget>("client")->width();
        const int h = Named<QWidget>("client")->height();
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        EXPECT_EQ(Named<QToolBar>("toolBar")->geometry(), QRect(0, 0, w, 65));
        EXPECT_EQ(List().geometry(), QRect(0, 65, w, h - 90));
        const int third = w / 3;
        EXPECT_EQ(Named<StatusField>("totalText")->geometry(), QRect(0, h - 18, third - 2, 18));
        EXPECT_EQ(Named<StatusField>("selectedText")->geometry(),
                  QRect(third + 2, h - 18, third - 2, 18));
        EXPECT_EQ(window->findChild<QProgressBar*>(QStringLiteral("progressBar"))->geometry(),
                  QRect(2 * third + 4, h - 18, third - 2, 18));
    }
}

TEST_F(WindowStatesTest, ContextMenuOnlyWithPack) {
    MakeWindow();
    EXPECT_FALSE(window->OnContextMenu(QPoint(5, 5)));
    EXPECT_FALSE(Named<QMenu>("contextMenu")->isVisible());
    dialogs.QueueOpenFiles({SamplePack()});
    Action(Command::OpenPack)->trigger();
    Settle();
    EXPECT_TRUE(window->OnContextMenu(QPoint(5, 5)));
    EXPECT_TRUE(Named<QMenu>("contextMenu")->isVisible());
    Named<QMenu>("contextMenu")->close();
}

TEST_F(WindowStatesTest, EnterDoesNothingEscapeCloses) {
    MakeWindow({"\\o", SamplePack()});
    window->activateWindow();
    List().setFocus();
    QTest::keyClick(&List(), Qt::Key_Return);
    QTest::keyClick(window.get(), Qt::Key_Enter);
    Settle();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->PackOpen());
    QTest::keyClick(&List(), Qt::Key_Escape);
    Settle();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->Archive(), nullptr);
}

}  // namespace
}  // namespace crateforge
