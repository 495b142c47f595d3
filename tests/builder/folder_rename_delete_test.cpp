// New Folder, rename in place and Delete: names, questions, refusals, what
// is saved, and that typed letters go into the name, not to a command.
#include <QLineEdit>
#include <QTest>

#include "ContentFixture.h"

namespace crateforge {
namespace {

class FolderRenameDeleteTest : public ContentTest {
  protected:
    void SetUp() override {
        OpenSample();
        QApplication::setActiveWindow(window.get());
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        List().setFocus();
        Settle();
    }
    QLineEdit* Editor() {
        return window->ListView()->findChild<QLineEdit*>(QStringLiteral("labelEditor"));
    }
    // Types `name` into the open editor and presses Enter (or Escape).
    void Finish(const std::string& name, bool accept = true) {
        QLineEdit* editor = Editor();
        ASSERT_NE(editor, nullptr);
        editor->clear();
        QTest::keyClicks(editor, QString::fromStdString(name));
        QTest::keyClick(editor, accept ? Qt::Key_Return : Qt::Key_Escape);
        Settle();
    }
    bool IsFolderRow(const std::string& name) {
        int row = RowOf(name);
        return row >= 0 && !window->ListControlImpl()->Key(row).IsFile();
    }
};

TEST_F(FolderRenameDeleteTest, NewFolderNumbersItsNamesAndEditsTheNewRow) {
    Trigger(Command::NewFolder);
    ASSERT_TRUE(IsFolderRow("New Dir"));
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(List().currentIndex().data().toString(), QStringLiteral("New Dir"));
    Finish("", false);  // Escape: the generated name stays, already saved
    EXPECT_EQ(SavedNames(),
              (std::vector<std::string>{"Docs", "Empty", "New Dir", "b.txt", "A.bin", "c.dat"}));

    // Insert in the list does the same, and the states follow.
    List().setFocus();
    QTest::keyClick(&List(), Qt::Key_Insert);
    Settle();
    EXPECT_TRUE(IsFolderRow("New Dir(1)"));
    ASSERT_NE(Editor(), nullptr);
    Finish("", false);
    EXPECT_EQ(SavedNames().size(), 7u);
}

// New Folder makes a folder where the pack can hold one, 512 levels below
// the root at most, and refuses one level deeper without changing the pack.
TEST_F(FolderRenameDeleteTest, NewFolderStopsAtTheDeepestLevelAPackHolds) {
    CPackArchive* archive = window->Archive();
    CPackFolder* folder = archive->Root();
    std::string path;
    for (int i = 0; i < 511; ++i) {
        folder = archive->MakeFolder(folder, "d").folder;
        ASSERT_NE(folder, nullptr) << i;
        path += i == 0 ? "d" : "/d";
    }
    ASSERT_EQ(archive->Save(), 1);
    for (int i = 0; i < 511; ++i) {
        archive->EnterFolder("d");
    }
    Settle();
    ASSERT_EQ(archive->Current()->Depth(), 511);

    messages.Clear();
    Trigger(Command::NewFolder);
    Finish("", false);
    EXPECT_TRUE(messages.Calls().empty());
    EXPECT_EQ(SavedNames(path), std::vector<std::string>{"New Dir"});

    archive->EnterFolder("New Dir");
    Settle();
    ASSERT_EQ(archive->Current()->Depth(), 512);
    const testpacks::Bytes before = testpacks::ReadFile(packPath);
    Trigger(Command::NewFolder);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text,
              "Unable to create a folder here: the folders are nested too deeply.");
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(archive->Current()->SubfolderCount(), 0u);
    EXPECT_EQ(testpacks::ReadFile(packPath), before);
}

TEST_F(FolderRenameDeleteTest, NewFolderLooksOnlyAtFoldersAndNeverEditsAFileRow) {
    // A file called "New Dir" and a folder "new dir" in small letters.
    Select({"c.dat"});
    Trigger(Command::Rename);
    Finish("New Dir");
    ASSERT_FALSE(IsFolderRow("New Dir"));
    ASSERT_NE(RowOf("New Dir"), -1);

    Trigger(Command::NewFolder);
    // The only folder named "New Dir" is the new one; the file row of that
    // name is neither selected nor edited.
    int folderRow = -1;
    for (int row = 0; row < window->ListControlImpl()->RowCount(); ++row) {
        if (window->ListControlImpl()->RowText(row, 0) == "New Dir" &&
            !window->ListControlImpl()->Key(row).IsFile()) {
            folderRow = row;
        }
    }
    ASSERT_GE(folderRow, 0);
    ASSERT_TRUE(List().currentIndex().isValid());
    EXPECT_EQ(List().currentIndex().row(), folderRow);
    EXPECT_EQ(window->ListControlImpl()->SelectedRows(), std::vector<int>{folderRow});
    Finish("new dir2");
    EXPECT_TRUE(IsFolderRow("new dir2"));

    Trigger(Command::NewFolder);
    Finish("", false);
    // "new dir2" does not block "New Dir".
    EXPECT_TRUE(IsFolderRow("New Dir"));
    Select({"New Dir"});
    Trigger(Command::Rename);
    Finish("new dir");
    Trigger(Command::NewFolder);
    EXPECT_TRUE(IsFolderRow("New Dir(1)"));
    Finish("", false);
}

TEST_F(FolderRenameDeleteTest, RenameToAFreeATakenAndAnInvalidName) {
    struct Case {
        const char* row;
        const char* newName;
        const char* expectedRow;  // the row that holds the entry afterwards
        const char* message;      // "" for none
        bool saved;
    };
    const Case cases[] = {
        {"b.txt", "bee.txt", "bee.txt", "", true},
        {"bee.txt", "A.BIN", "bee.txt", "File A.BIN already exist.", false},
        {"bee.txt", "BEE.TXT", "bee.txt", "File BEE.TXT already exist.", false},
        {"bee.txt", "Docs", "Docs", "", true},  // a file may take a folder's name
        {"Empty", "docs", "Empty", "Directory docs already exist.", false},
        {"Empty", "Full", "Full", "", true},
        {"Full", "a/b", "Full", "*", false},  // the archive refuses, with its own text
        {"Full", "..", "Full", "*", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.row) + " -> " + c.newName);
        messages.Clear();
        const std::vector<std::string> before = SavedNames();
        Select({c.row});
        Trigger(Command::Rename);
        Finish(c.newName);
        EXPECT_NE(RowOf(c.expectedRow), -1);
        EXPECT_EQ(Editor(), nullptr);
        if (std::string(c.message).empty()) {
            EXPECT_TRUE(messages.Calls().empty());
        } else {
            ASSERT_EQ(messages.Calls().size(), 1u);
            if (std::string(c.message) != "*") {
                EXPECT_EQ(messages.Calls()[0].text, c.message);
                EXPECT_EQ(messages.Calls()[0].caption, "Warning");
                EXPECT_EQ(messages.Calls()[0].buttons, MessageButtons::Ok);
            }
        }
        const std::vector<std::string> after = SavedNames();
        EXPECT_EQ(after != before, c.saved);
        EXPECT_NE(std::find(after.begin(), after.end(), c.expectedRow), after.end());
    }
}

TEST_F(FolderRenameDeleteTest, EscapeOrEmptyKeepsTheNameAndTheUpRowIsNotEdited) {
    const std::vector<std::string> before = SavedNames();
    Select({"A.bin"});
    Trigger(Command::Rename);
    Finish("changed", false);
    Trigger(Command::Rename);
    Finish("");
    EXPECT_NE(RowOf("A.bin"), -1);
    EXPECT_EQ(SavedNames(), before);
    EXPECT_TRUE(messages.Calls().empty());

    Select({"Docs"});
    window->OnListDoubleClick();
    Settle();
    Select({".."});
    Trigger(Command::Rename);
    EXPECT_EQ(Editor(), nullptr);
}

TEST_F(FolderRenameDeleteTest, TypedLettersGoIntoTheNameNotToCommands) {
    Select({"c.dat"});
    Trigger(Command::Rename);
    QLineEdit* editor = Editor();
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    // v would view, e extract, a add, f add a folder with Shift held; as
    // plain characters (capitals by Caps Lock) they are the name's.
    QTest::keyClicks(editor, "veaf");
    QTest::keyClick(editor, 'V');
    QTest::keyClick(editor, 'Q', Qt::ShiftModifier);  // no command's key
    QTest::keyClick(editor, Qt::Key_Insert);
    Settle();
    EXPECT_EQ(editor->text(), QStringLiteral("veafVQ"));
    EXPECT_TRUE(shell.Calls().empty());
    EXPECT_TRUE(dialogs.OpenRequests().empty());
    EXPECT_TRUE(dialogs.BrowseTitles().empty());
    EXPECT_EQ(RowOf("New Dir"), -1);
    QTest::keyClick(editor, Qt::Key_Return);
    Settle();
    EXPECT_NE(RowOf("veafVQ"), -1);
    EXPECT_EQ(messages.UnexpectedCount(), 0);
}

TEST_F(FolderRenameDeleteTest, DeleteAsksAndRemovesFilesAndFolders) {
    // No keeps everything.
    Select({"Docs", "c.dat"});
    messages.Queue(MessageAnswer::No);
    QTest::keyClick(&List(), Qt::Key_Delete);
    Settle();
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text,
              "Selected item(s) will be lost forever, do you wish to continue?");
    EXPECT_EQ(messages.Calls()[0].caption, "Warning");
    EXPECT_EQ(messages.Calls()[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(SavedNames().size(), 5u);
    EXPECT_TRUE(cursor.Changes().empty());

    // Yes removes a folder with all it holds and a file, under the wait
    // cursor.
    Select({"Docs", "c.dat"});
    messages.Queue(MessageAnswer::Yes);
    QTest::keyClick(&List(), Qt::Key_Delete);
    Settle();
    EXPECT_EQ(cursor.Changes(), (std::vector<bool>{true, false}));
    EXPECT_EQ(Names(), (std::vector<std::string>{"Empty", "b.txt", "A.bin"}));
    EXPECT_EQ(SavedNames(), (std::vector<std::string>{"Empty", "b.txt", "A.bin"}));
    EXPECT_EQ(TotalText().rfind("Total: 2 Files.", 0), 0u) << TotalText();
    EXPECT_FALSE(On(Command::Extract));  // nothing selected after the refill
    EXPECT_TRUE(On(Command::NewFolder));
}

TEST_F(FolderRenameDeleteTest, DeleteWithTheUpRowRemovesOnlyTheOthers) {
    Select({"Docs"});
    window->OnListDoubleClick();
    Settle();
    Select({"..", "notes.md"});
    messages.Queue(MessageAnswer::Yes);
    QTest::keyClick(&List(), Qt::Key_Delete);
    Settle();
    EXPECT_EQ(Names(), (std::vector<std::string>{"..", "readme.txt"}));
    EXPECT_EQ(SavedNames("Docs"), (std::vector<std::string>{"readme.txt"}));
    EXPECT_EQ(SavedNames().size(), 5u);
    // Backspace goes back up.
    QTest::keyClick(&List(), Qt::Key_Backspace);
    Settle();
    EXPECT_EQ(RowOf(".."), -1);
}

TEST_F(FolderRenameDeleteTest, ListKeysActTheSameWithShiftOrCtrlHeld) {
    // Delete with Shift, with Ctrl, with both, and the keypad's Delete: each
    // asks (answered No, so nothing goes).
    const Qt::KeyboardModifiers deleteWith[] = {Qt::ShiftModifier, Qt::ControlModifier,
                                                Qt::ShiftModifier | Qt::ControlModifier,
                                                Qt::KeypadModifier};
    for (Qt::KeyboardModifiers modifiers : deleteWith) {
        SCOPED_TRACE(static_cast<int>(modifiers));
        messages.Clear();
        Select({"c.dat"});
        messages.Queue(MessageAnswer::No);
        QTest::keyClick(&List(), Qt::Key_Delete, modifiers);
        Settle();
        ASSERT_EQ(messages.Calls().size(), 1u);
        EXPECT_EQ(messages.Calls()[0].text,
                  "Selected item(s) will be lost forever, do you wish to continue?");
    }
    // Shift+Del answered Yes deletes.
    Select({"c.dat"});
    messages.Queue(MessageAnswer::Yes);
    QTest::keyClick(&List(), Qt::Key_Delete, Qt::ShiftModifier);
    Settle();
    EXPECT_EQ(RowOf("c.dat"), -1);
    EXPECT_EQ(SavedNames().size(), 4u);

    // Shift+Ins makes a new folder; Ctrl+Ins another.
    List().setFocus();
    QTest::keyClick(&List(), Qt::Key_Insert, Qt::ShiftModifier);
    Settle();
    ASSERT_NE(Editor(), nullptr);
    Finish("", false);
    List().setFocus();
    QTest::keyClick(&List(), Qt::Key_Insert, Qt::ControlModifier);
    Settle();
    ASSERT_NE(Editor(), nullptr);
    Finish("", false);
    EXPECT_TRUE(IsFolderRow("New Dir"));
    EXPECT_TRUE(IsFolderRow("New Dir(1)"));

    // Ctrl+Backspace and Shift+Backspace go up.
    const Qt::KeyboardModifiers upWith[] = {Qt::ControlModifier, Qt::ShiftModifier};
    for (Qt::KeyboardModifiers modifiers : upWith) {
        Select({"Docs"});
        window->OnListDoubleClick();
        Settle();
        ASSERT_NE(RowOf(".."), -1);
        List().setFocus();
        QTest::keyClick(&List(), Qt::Key_Backspace, modifiers);
        Settle();
        EXPECT_EQ(RowOf(".."), -1);
        EXPECT_NE(RowOf("Docs"), -1);
    }
}

TEST_F(FolderRenameDeleteTest, ListKeysWithAltOrMetaAreNotTheListsOwn) {
    Select({"c.dat"});
    const Qt::KeyboardModifiers others[] = {Qt::AltModifier, Qt::MetaModifier,
                                            Qt::AltModifier | Qt::ShiftModifier};
    for (Qt::KeyboardModifiers modifiers : others) {
        QTest::keyClick(&List(), Qt::Key_Delete, modifiers);
        QTest::keyClick(&List(), Qt::Key_Insert, modifiers);
        Settle();
    }
    EXPECT_TRUE(messages.Calls().empty());
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(SavedNames().size(), 5u);
}

}  // namespace
}  // namespace crateforge
