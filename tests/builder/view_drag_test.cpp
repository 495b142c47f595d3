// View and drag-out: what is written into the workspace, how it is handed
// to the desktop, and the data a drag carries.
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include "ContentFixture.h"
#include "builder/DropFiles.h"

namespace crateforge {
namespace {

using pack::PackMethod;
using testpacks::File;
using testpacks::Folder;

class ViewDragTest : public ContentTest {
  protected:
    // Root: Docs (readme.txt gzip, sub/deep.txt), run.sh (a script), bad.gz
    // (damaged gzip), odd.bin (unknown method 7), plain.txt.
    void OpenMixed() {
        File bad("bad.gz", testpacks::ToBytes(std::string(4000, 'q')), PackMethod::Gzip);
        bad.stored = testpacks::ToBytes("not a gzip stream at all");
        File odd("odd.bin", testpacks::ToBytes("seven"));
        odd.methodByte = 7;
        Folder sub("sub", {File("deep.txt", testpacks::ToBytes("deep"))});
        Folder docs(
            "Docs",
            {File("readme.txt", testpacks::ToBytes(std::string(3000, 'r')), PackMethod::Gzip)},
            {sub});
        Folder root("",
                    {File("run.sh", testpacks::ToBytes("#!/bin/sh\necho hi\n")), bad, odd,
                     File("plain.txt", testpacks::ToBytes("plain text"))},
                    {docs});
        packPath = WritePack("mixed.vpf", root);
        MakeWindow({"\\o", packPath});
        ASSERT_TRUE(window->PackOpen());
    }
    std::string WorkspaceFile(const std::string& name) {
        return window->Workspace()->WorkspacePath() + "/" + name;
    }
};

TEST_F(ViewDragTest, ViewWritesTheFileWithoutExecuteBitsAndOpensIt) {
    OpenMixed();
    Select({"run.sh", "Docs", "plain.txt"});
    EXPECT_TRUE(On(Command::View));
    Trigger(Command::View);

    ASSERT_EQ(shell.Calls().size(), 2u);
    EXPECT_EQ(shell.Calls()[0].target, WorkspaceFile("run.sh"));
    EXPECT_EQ(shell.Calls()[0].workingDirectory, window->Workspace()->WorkspacePath());
    EXPECT_EQ(shell.Calls()[1].target, WorkspaceFile("plain.txt"));
    EXPECT_EQ(ReadText(WorkspaceFile("run.sh")), "#!/bin/sh\necho hi\n");
    EXPECT_EQ(ReadText(WorkspaceFile("plain.txt")), "plain text");
    EXPECT_EQ(Mode(WorkspaceFile("run.sh")) & 0111, 0u);
    EXPECT_EQ(Mode(WorkspaceFile("plain.txt")) & 0111, 0u);
    EXPECT_EQ(MainBar()->value(), 0);
    EXPECT_TRUE(messages.Calls().empty());
}

TEST_F(ViewDragTest, ViewTakesTheExecuteBitsOffAFileWrittenAgain) {
    OpenMixed();
    // An earlier file at the workspace path that became executable.
    testpacks::WriteFile(WorkspaceFile("run.sh"), testpacks::ToBytes("old"));
    ASSERT_EQ(::chmod(WorkspaceFile("run.sh").c_str(), 0755), 0);
    Select({"run.sh"});
    Trigger(Command::View);
    ASSERT_EQ(shell.Calls().size(), 1u);
    EXPECT_EQ(ReadText(WorkspaceFile("run.sh")), "#!/bin/sh\necho hi\n");
    EXPECT_EQ(Mode(WorkspaceFile("run.sh")) & 0111, 0u);
    EXPECT_EQ(Mode(WorkspaceFile("run.sh")) & 0600, 0600u);
}

TEST_F(ViewDragTest, ViewOfAGzipFileDecodesIt) {
    OpenMixed();
    Select({"Docs"});
    window->OnListDoubleClick();
    Settle();
    Select({"readme.txt"});
    // A double-click on a file row views it.
    window->OnListDoubleClick();
    Settle();
    ASSERT_EQ(shell.Calls().size(), 1u);
    EXPECT_EQ(ReadText(shell.Calls()[0].target), std::string(3000, 'r'));
}

TEST_F(ViewDragTest, ViewRefusesDamagedEntriesAndHandsNothingToTheDesktop) {
    OpenMixed();
    for (const char* name : {"bad.gz", "odd.bin"}) {
        SCOPED_TRACE(name);
        messages.Clear();
        Select({name});
        Trigger(Command::View);
        EXPECT_TRUE(shell.Calls().empty());
        EXPECT_FALSE(Exists(WorkspaceFile(name)));
        ASSERT_EQ(messages.Calls().size(), 1u);
        EXPECT_NE(messages.Calls()[0].text.find(name), std::string::npos);
    }
}

TEST_F(ViewDragTest, ViewDoesNotWriteThroughALinkOrAFileThatCannotBeOpened) {
    OpenMixed();
    // A FIFO at the workspace path cannot be opened to write: the user is
    // told and nothing is handed to the desktop.
    ASSERT_EQ(::mkfifo(WorkspaceFile("run.sh").c_str(), 0600), 0);
    Select({"run.sh"});
    Trigger(Command::View);
    EXPECT_TRUE(shell.Calls().empty());
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_NE(messages.Calls()[0].text.find("run.sh"), std::string::npos);
    ::unlink(WorkspaceFile("run.sh").c_str());

    // A link planted there does not redirect the write: the file goes to a
    // path of its own in the workspace and the link's target is untouched.
    const std::string victim = WriteFile("victim.txt", 10, 9);
    const testpacks::Bytes victimBytes = testpacks::ReadFile(victim);
    ASSERT_EQ(::symlink(victim.c_str(), WorkspaceFile("plain.txt").c_str()), 0);
    Select({"plain.txt"});
    Trigger(Command::View);
    ASSERT_EQ(shell.Calls().size(), 1u);
    EXPECT_NE(shell.Calls()[0].target, WorkspaceFile("plain.txt"));
    EXPECT_EQ(shell.Calls()[0].target.rfind(window->Workspace()->WorkspacePath() + "/", 0), 0u);
    EXPECT_EQ(ReadText(shell.Calls()[0].target), "plain text");
    EXPECT_EQ(testpacks::ReadFile(victim), victimBytes);
    ::unlink(WorkspaceFile("plain.txt").c_str());
}

TEST_F(ViewDragTest, ViewWithOnlyFolderRowsOpensNothingButRefreshes) {
    OpenMixed();
    Select({"run.sh"});
    // The selection moves to a folder without a refresh of the states.
    List().clearSelection();
    window->ListControlImpl()->SelectRow(RowOf("Docs"), true);
    Content().OnView();
    EXPECT_TRUE(shell.Calls().empty());
    EXPECT_FALSE(On(Command::View));
    EXPECT_EQ(SelectedText().rfind("Selected: 1 Files.", 0), 0u) << SelectedText();
}

TEST_F(ViewDragTest, DragDataCarriesTheWrittenPathsInListOrder) {
    OpenMixed();
    Select({"plain.txt", "Docs"});
    const std::vector<std::string> paths = Content().WriteDragPaths();
    // List order, whatever the order of selection: the folder row is above.
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], WorkspaceFile("Docs"));
    EXPECT_EQ(paths[1], WorkspaceFile("plain.txt"));
    EXPECT_EQ(ReadText(WorkspaceFile("Docs/readme.txt")), std::string(3000, 'r'));
    EXPECT_EQ(ReadText(WorkspaceFile("Docs/sub/deep.txt")), "deep");

    std::unique_ptr<QMimeData> data = CContentCommands::MakeDragData(paths);
    ASSERT_NE(data, nullptr);
    ASSERT_TRUE(data->hasUrls());
    ASSERT_EQ(data->urls().size(), 2);
    EXPECT_EQ(data->urls()[0].toLocalFile().toStdString(), paths[0]);
    EXPECT_EQ(data->urls()[1].toLocalFile().toStdString(), paths[1]);
    const std::string uriList = data->data(QStringLiteral("text/uri-list")).toStdString();
    EXPECT_EQ(uriList, "file://" + paths[0] + "\r\nfile://" + paths[1] + "\r\n");

    const QByteArray block = data->data(QString::fromLatin1(kDropFilesMimeType));
    std::string expected("\x14\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);
    expected += paths[0] + '\0' + paths[1] + '\0' + '\0';
    EXPECT_EQ(std::string(block.constData(), static_cast<std::size_t>(block.size())), expected);
    EXPECT_EQ(static_cast<std::size_t>(block.size()),
              21 + paths[0].size() + 1 + paths[1].size() + 1);
}

TEST_F(ViewDragTest, AMouseDragFromASelectedRowOffersEverySelectedRowInListOrder) {
    OpenMixed();
    // Chosen bottom row first; the list has the folder above the file.
    Select({"plain.txt", "Docs"});
    QWidget* viewport = List().viewport();
    const QPoint start = List().visualRect(Cell(RowOf("plain.txt"))).center();
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, start);
    // A hand moves a little before it moves far: the small move must not
    // narrow the selection to the pressed row.
    QTest::mouseMove(viewport, start + QPoint(1, 0));
    EXPECT_TRUE(drag.Drags().empty());
    QTest::mouseMove(viewport, start + QPoint(QApplication::startDragDistance() + 4, 1));
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier,
                        start + QPoint(QApplication::startDragDistance() + 4, 1));
    Settle();

    ASSERT_EQ(drag.Drags().size(), 1u);
    EXPECT_EQ(drag.Drags()[0],
              (std::vector<std::string>{WorkspaceFile("Docs"), WorkspaceFile("plain.txt")}));
    // Both are complete on disk before the drag starts.
    EXPECT_EQ(ReadText(WorkspaceFile("plain.txt")), "plain text");
    EXPECT_EQ(ReadText(WorkspaceFile("Docs/readme.txt")), std::string(3000, 'r'));
    EXPECT_EQ(ReadText(WorkspaceFile("Docs/sub/deep.txt")), "deep");
    // Handed out with ordinary modes; the workspace itself stays private.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(Mode(WorkspaceFile("Docs")), 0755u & ~mask);
    EXPECT_EQ(Mode(WorkspaceFile("Docs/sub")), 0755u & ~mask);
    EXPECT_EQ(Mode(WorkspaceFile("Docs/readme.txt")), 0644u & ~mask);
    EXPECT_EQ(Mode(WorkspaceFile("plain.txt")), 0644u & ~mask);
    EXPECT_EQ(Mode(window->Workspace()->WorkspacePath()), 0700u);
}

TEST_F(ViewDragTest, APressOutsideTheRowsOrAShortMoveStartsNoDrag) {
    OpenMixed();
    Select({"plain.txt", "run.sh"});
    QWidget* viewport = List().viewport();
    const QPoint row = List().visualRect(Cell(RowOf("plain.txt"))).center();
    // Below the last row: no row is pressed, so no drag.
    const QPoint empty(row.x(), viewport->height() - 2);
    ASSERT_FALSE(List().indexAt(empty).isValid());
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, empty);
    QTest::mouseMove(viewport, empty + QPoint(40, -3));
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, empty + QPoint(40, -3));
    // On a row, but never past the drag distance.
    Select({"plain.txt", "run.sh"});
    QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, row);
    QTest::mouseMove(viewport, row + QPoint(1, 0));
    QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, row + QPoint(1, 0));
    Settle();
    EXPECT_TRUE(drag.Drags().empty());
    // A click on one of two selected rows leaves that row alone selected.
    EXPECT_EQ(window->ListControlImpl()->SelectedRows(), std::vector<int>{RowOf("plain.txt")});
}

TEST_F(ViewDragTest, DragLeavesOutEmptyResultsAndStartsNoDragWithoutAny) {
    OpenMixed();
    Select({"Docs"});
    window->OnListDoubleClick();
    Settle();
    // The ".." row gives nothing; the file gives its path.
    Select({"..", "readme.txt"});
    std::vector<std::string> paths = Content().WriteDragPaths();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], WorkspaceFile("readme.txt"));

    QTest::keyClick(&List(), Qt::Key_Backspace);
    Settle();
    // A damaged entry between good ones does not end the list early.
    Select({"bad.gz", "plain.txt"});
    messages.Clear();
    paths = Content().WriteDragPaths();
    EXPECT_EQ(paths, std::vector<std::string>{WorkspaceFile("plain.txt")});
    EXPECT_EQ(messages.Calls().size(), 1u);

    // Nothing left: no data, no drag.
    Select({"odd.bin"});
    EXPECT_FALSE(Content().OnBeginDrag());
    EXPECT_TRUE(drag.Drags().empty());
    EXPECT_EQ(CContentCommands::MakeDragData({}), nullptr);
    EXPECT_EQ(CContentCommands::MakeDragData({"", ""}), nullptr);
}

}  // namespace
}  // namespace crateforge
