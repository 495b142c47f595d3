// Accelerators fire from the window, never into a text editor (a rename in
// the list) and never while another window has the keyboard.
#include <QDialog>
#include <QLineEdit>
#include <QTest>
#include <functional>

#include "BuilderFixture.h"

namespace crateforge {
namespace {

class AcceleratorTest : public BuilderTest {
  protected:
    void SetUp() override {
        packPath = SamplePack();
        MakeWindow({"\\o", packPath});
        QApplication::setActiveWindow(window.get());
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        // Add stands for every command of the list: on and counting.
        window->WireForTest(Command::Add, [this] { ++adds; });
        window->WireForTest(Command::Rename, [this] { ++renames; });
        window->UpdateCommandStates();
        List().setFocus();
        Settle();
    }
    QLineEdit* OpenEditor(const std::string& name) {
        window->ListControlImpl()->EditLabel(RowOf(name));
        Settle();
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        return editor;
    }
    std::string packPath;
    int adds = 0;
    int renames = 0;
};

TEST_F(AcceleratorTest, AcceleratorsFireFromTheList) {
    Select({"c.dat"});
    List().setFocus();
    // Shift+A also runs the real Add, whose file dialog is cancelled.
    dialogs.QueueOpenFiles({});
    QTest::keyClick(&List(), 'A', Qt::ShiftModifier);
    QTest::keyClick(&List(), Qt::Key_F2);
    dialogs.QueueOpenFiles({});
    QTest::keyClick(&List(), Qt::Key_O, Qt::ControlModifier);
    Settle();
    EXPECT_EQ(adds, 1);
    EXPECT_EQ(renames, 1);
    ASSERT_EQ(dialogs.OpenRequests().size(), 2u);
    EXPECT_EQ(dialogs.OpenRequests()[1].filter, kOpenFilter);
}

TEST_F(AcceleratorTest, ACommandKeyEndsTheEditWithoutRenamingAndRunsTheCommand) {
    // The rename editor never takes a command's key: with a modifier the
    // edit ends, the name stays, and the command runs once.
    struct Case {
        const char* what;
        int key;
        Qt::KeyboardModifiers modifiers;
        std::function<void()> queue;
        std::function<bool()> ran;
    };
    const Case cases[] = {
        {"Shift+A adds", 'A', Qt::ShiftModifier, [] {}, [this] { return adds == 1; }},
        {"Shift+V views", 'V', Qt::ShiftModifier, [] {},
         [this] { return shell.Calls().size() == 1; }},
        {"Shift+F adds a folder", 'F', Qt::ShiftModifier,
         [this] { dialogs.QueueBrowseFolder(std::nullopt); },
         [this] { return dialogs.BrowseTitles().size() == 1; }},
        {"Ctrl+O opens", Qt::Key_O, Qt::ControlModifier, [this] { dialogs.QueueOpenFiles({}); },
         [this] { return dialogs.OpenRequests().size() == 1; }},
        {"Ctrl+N makes a new pack", Qt::Key_N, Qt::ControlModifier,
         [this] { dialogs.QueueSaveFile(std::nullopt); },
         [this] { return dialogs.SaveRequests().size() == 1; }},
    };
    const testpacks::Bytes before = testpacks::ReadFile(packPath);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        adds = 0;
        shell = ScriptedShell();
        dialogs = ScriptedDialogs();
        if (c.key == 'A') {
            dialogs.QueueOpenFiles({});  // the real Add runs beside the counter
        }
        c.queue();
        Select({"c.dat"});
        QLineEdit* editor = OpenEditor("c.dat");
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, "x");
        QTest::keyClick(editor, c.key, c.modifiers);
        Settle();
        EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("labelEditor")), nullptr);
        EXPECT_NE(RowOf("c.dat"), -1);
        EXPECT_EQ(RowOf("x"), -1);
        EXPECT_TRUE(c.ran());
        EXPECT_TRUE(dialogs.AllUsed());
        // Nothing was renamed, so nothing was written.
        EXPECT_EQ(testpacks::ReadFile(packPath), before);
    }
    EXPECT_EQ(messages.UnexpectedCount(), 0);
}

TEST_F(AcceleratorTest, PlainCharactersAndKeysOfNoCommandAreTyped) {
    Select({"c.dat"});
    QLineEdit* editor = OpenEditor("c.dat");
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    // Letters without a modifier (Caps Lock gives capitals so), capitals of
    // letters that are no command, and F2 (a command key without modifier,
    // which does nothing here).
    QTest::keyClicks(editor, "avef");
    QTest::keyClick(editor, 'B', Qt::ShiftModifier);
    QTest::keyClick(editor, 'E');
    QTest::keyClick(editor, Qt::Key_F2);
    Settle();
    EXPECT_EQ(editor->text(), QStringLiteral("avefBE"));
    EXPECT_EQ(adds, 0);
    EXPECT_EQ(renames, 0);
    EXPECT_TRUE(dialogs.OpenRequests().empty());
    // Escape ends the edit, not the program; the row keeps its name.
    QTest::keyClick(editor, Qt::Key_Escape);
    Settle();
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(RowOf("c.dat"), -1);
    EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("labelEditor")), nullptr);
    // And the accelerators are back.
    List().setFocus();
    dialogs.QueueOpenFiles({});
    QTest::keyClick(&List(), 'A', Qt::ShiftModifier);
    EXPECT_EQ(adds, 1);
}

TEST_F(AcceleratorTest, ListKeysLeftByTheEditorDoNotReachTheList) {
    window->OnListDoubleClick();
    Select({"Docs"});
    window->OnListDoubleClick();
    ASSERT_EQ(Names().front(), "..");
    QLineEdit* editor = OpenEditor("notes.md");
    ASSERT_NE(editor, nullptr);
    editor->setCursorPosition(0);
    // At position 0 the editor has nothing to delete; the key must not go
    // up one folder either.
    QTest::keyClick(editor, Qt::Key_Backspace);
    Settle();
    EXPECT_EQ(Names().front(), "..");
}

TEST_F(AcceleratorTest, AnotherWindowKeepsThemOff) {
    QDialog dialog(window.get());
    auto* field = new QLineEdit(&dialog);
    auto* plain = new QWidget(&dialog);
    plain->setFocusPolicy(Qt::StrongFocus);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    plain->setFocus();
    QTest::keyClick(plain, 'A', Qt::ShiftModifier);
    QTest::keyClick(plain, Qt::Key_O, Qt::ControlModifier);
    field->setFocus();
    QTest::keyClick(field, 'A', Qt::ShiftModifier);
    Settle();
    EXPECT_EQ(adds, 0);
    EXPECT_TRUE(dialogs.OpenRequests().empty());
    EXPECT_EQ(field->text(), QStringLiteral("A"));
}

}  // namespace
}  // namespace crateforge

namespace crateforge {
namespace {

TEST_F(AcceleratorTest, ClosingOrDestroyingWithAnEditorOpenIsSafe) {
    ASSERT_NE(OpenEditor("c.dat"), nullptr);
    window->OnCancel();
    Settle();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(RowOf("c.dat"), -1);
    window.reset();

    MakeWindow({"\\o", SamplePack("again.vpf")});
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    ASSERT_NE(OpenEditor("b.txt"), nullptr);
    window.reset();  // the editor goes with its view, after the window's members
    Settle();
}

}  // namespace
}  // namespace crateforge
