// Renaming in place: the click on a selected row's label that starts it,
// and names that are bytes, shown and given back without loss.
#include <QLineEdit>
#include <QTest>

#include "ContentFixture.h"
#include "builder/QtPlatform.h"

namespace crateforge {
namespace {

TEST(EditText, NamesAreShownLosslesslyAndComeBackByteForByte) {
    struct Case {
        std::string bytes;
        const char* shown;  // UTF-8 of the editor's text
    };
    const Case cases[] = {
        {"plain.txt", "plain.txt"},
        {"caf\xC3\xA9.txt", "caf\xC3\xA9.txt"},            // valid UTF-8 stays
        {"caf\xE9.txt", "caf\\xE9.txt"},                   // Latin-1 byte
        {"\xF0\x9F\x93\xA6 box", "\xF0\x9F\x93\xA6 box"},  // four-byte character
        {"a\x01"
         "b\x7F",
         "a\\x01b\\x7F"},                     // control bytes
        {"back\\slash", "back\\x5Cslash"},    // no name holds one; still lossless
        {"\xE2\x82", "\\xE2\\x82"},           // a character cut short
        {"\xC0\xAF", "\\xC0\\xAF"},           // an overlong "/"
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},  // a surrogate
        {"\xC2\x85", "\\xC2\\x85"},           // a C1 control
        {"\\x41", "\\x5Cx41"},                // looks like an escape itself
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        const QString text = EditText(c.bytes);
        EXPECT_EQ(text.toUtf8().toStdString(), c.shown);
        EXPECT_EQ(NameFromEditText(text), c.bytes);
    }
    // Every single byte and a spread of byte strings go back exactly.
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(NameFromEditText(EditText(one)), one) << b;
    }
    std::uint32_t x = 12345;
    for (int n = 0; n < 2000; ++n) {
        std::string bytes;
        for (int i = 0; i < 1 + n % 17; ++i) {
            x = x * 1103515245u + 12345u;
            bytes.push_back(static_cast<char>(1 + (x >> 16) % 255));
        }
        ASSERT_EQ(NameFromEditText(EditText(bytes)), bytes);
    }
}

TEST(EditText, TypedTextBecomesBytes) {
    EXPECT_EQ(NameFromEditText(QStringLiteral("\\x4a\\x4B")), "JK");
    EXPECT_EQ(NameFromEditText(QString::fromUtf8("caf\xC3\xA9")), "caf\xC3\xA9");
    // Anything else with a backslash keeps it, and the pack refuses it.
    EXPECT_EQ(NameFromEditText(QStringLiteral("a\\b")), "a\\b");
    EXPECT_EQ(NameFromEditText(QStringLiteral("\\x4")), "\\x4");
    EXPECT_EQ(NameFromEditText(QStringLiteral("\\xG0")), "\\xG0");
}

class LabelEditTest : public ContentTest {
  protected:
    void SetUp() override {
        previousInterval = QApplication::doubleClickInterval();
        QApplication::setDoubleClickInterval(kInterval);
    }
    void TearDown() override { QApplication::setDoubleClickInterval(previousInterval); }

    void Open(const testpacks::Folder& root) {
        packPath = WritePack("labels.vpf", root);
        MakeWindow({"\\o", packPath});
        ASSERT_TRUE(window->PackOpen());
        QApplication::setActiveWindow(window.get());
        List().setFocus();
        Settle();
    }
    void OpenPlain() {
        using testpacks::File;
        using testpacks::Folder;
        Open(Folder(
            "", {File("a.txt", testpacks::ToBytes("a")), File("b.txt", testpacks::ToBytes("b"))},
            {Folder("Sub", {File("in.txt", testpacks::ToBytes("in"))})}));
    }
    QLineEdit* Editor() { return List().findChild<QLineEdit*>(QStringLiteral("labelEditor")); }
    QModelIndex Index(const std::string& name, int column = 0) {
        return List().model()->index(RowOf(name), column);
    }
    QPoint Label(const std::string& name) {
        return window->ListControlImpl()->Delegate()->LabelRect(&List(), Index(name)).center();
    }
    void Click(const QPoint& at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::mouseClick(List().viewport(), Qt::LeftButton, modifiers, at);
        Settle();
    }
    // Longer than the double-click interval; the editor opens within it.
    void WaitPastTheInterval() { QTest::qWait(kInterval * 3); }

    static constexpr int kInterval = 60;
    int previousInterval = 400;
};

TEST_F(LabelEditTest, AClickOnTheLabelOfTheSelectedRowRenamesAfterTheInterval) {
    OpenPlain();
    Select({"b.txt"});
    Click(Label("b.txt"));
    // Not at once: a second click could still make it a double-click.
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_TRUE(Content().LabelClickPending());
    WaitPastTheInterval();
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(Editor()->text(), QStringLiteral("b.txt"));
    EXPECT_EQ(List().currentIndex().row(), RowOf("b.txt"));
    // It ends like any rename.
    Editor()->setText(QStringLiteral("bee.txt"));
    QTest::keyClick(Editor(), Qt::Key_Return);
    Settle();
    EXPECT_NE(RowOf("bee.txt"), -1);
    EXPECT_EQ(SavedNames(), (std::vector<std::string>{"Sub", "a.txt", "bee.txt"}));

    // A folder row's label too.
    Select({"Sub"});
    Click(Label("Sub"));
    WaitPastTheInterval();
    ASSERT_NE(Editor(), nullptr);
    QTest::keyClick(Editor(), Qt::Key_Escape);
    Settle();
    EXPECT_TRUE(messages.Calls().empty());
}

TEST_F(LabelEditTest, OtherClicksStartNoRename) {
    OpenPlain();
    struct Case {
        const char* what;
        std::vector<const char*> selected;
        std::function<QPoint()> where;
        Qt::KeyboardModifiers modifiers;
    };
    const Case cases[] = {
        {"a row not selected yet", {"a.txt"}, [&] { return Label("b.txt"); }, Qt::NoModifier},
        {"one of two selected rows",
         {"a.txt", "b.txt"},
         [&] { return Label("b.txt"); },
         Qt::NoModifier},
        {"the size column",
         {"b.txt"},
         [&] { return List().visualRect(Index("b.txt", 1)).center(); },
         Qt::NoModifier},
        {"the icon",
         {"b.txt"},
         [&] {
             const QRect cell = List().visualRect(Index("b.txt"));
             return QPoint(cell.left() + 4 + List().iconSize().width() / 2, cell.center().y());
         },
         Qt::NoModifier},
        {"the empty end of the name cell",
         {"b.txt"},
         [&] {
             const QRect cell = List().visualRect(Index("b.txt"));
             return QPoint(cell.right() - 3, cell.center().y());
         },
         Qt::NoModifier},
        {"a click with Ctrl", {"b.txt"}, [&] { return Label("b.txt"); }, Qt::ControlModifier},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        List().clearSelection();
        for (const char* name : c.selected) {
            window->ListControlImpl()->SelectRow(RowOf(name), true);
        }
        Settle();
        Click(c.where(), c.modifiers);
        EXPECT_FALSE(Content().LabelClickPending());
        WaitPastTheInterval();
        EXPECT_EQ(Editor(), nullptr);
    }
}

TEST_F(LabelEditTest, ADoubleClickOpensTheRowInsteadOfRenamingIt) {
    OpenPlain();
    Select({"a.txt"});
    const QPoint at = Label("a.txt");
    QTest::mouseClick(List().viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(List().viewport(), Qt::LeftButton, Qt::NoModifier, at);
    Settle();
    WaitPastTheInterval();
    EXPECT_EQ(Editor(), nullptr);
    ASSERT_EQ(shell.Calls().size(), 1u);  // viewed
    EXPECT_EQ(fs::LastComponent(shell.Calls()[0].target), "a.txt");

    // A key or a new selection within the interval ends the wait too.
    Select({"b.txt"});
    Click(Label("b.txt"));
    QTest::keyClick(&List(), Qt::Key_Down);
    WaitPastTheInterval();
    EXPECT_EQ(Editor(), nullptr);
    Select({"b.txt"});
    Click(Label("b.txt"));
    Select({"a.txt"});
    WaitPastTheInterval();
    EXPECT_EQ(Editor(), nullptr);
}

TEST_F(LabelEditTest, TheUpRowIsNeverRenamedByAClick) {
    OpenPlain();
    Select({"Sub"});
    window->OnListDoubleClick();
    Settle();
    Select({".."});
    Click(Label(".."));
    WaitPastTheInterval();
    EXPECT_EQ(Editor(), nullptr);
}

TEST_F(LabelEditTest, ANameThatIsNoUtf8IsEditedLosslesslyAndKeptWhenUnchanged) {
    using testpacks::File;
    using testpacks::Folder;
    const std::string odd = "caf\xE9 \xFF.txt";
    Open(Folder(
        "", {File(odd, testpacks::ToBytes("odd")), File("other.txt", testpacks::ToBytes("o"))}));
    const testpacks::Bytes before = testpacks::ReadFile(packPath);

    // Enter without a change: the same bytes come back, which is the
    // entry's own name, so nothing is renamed or saved.
    Select({odd.c_str()});
    Trigger(Command::Rename);
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(Editor()->text(), QStringLiteral("caf\\xE9 \\xFF.txt"));
    QTest::keyClick(Editor(), Qt::Key_Return);
    Settle();
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text, "File " + odd + " already exist.");
    EXPECT_EQ(testpacks::ReadFile(packPath), before);
    EXPECT_NE(RowOf(odd), -1);

    // An edit keeps the bytes it did not touch.
    messages.Clear();
    Select({odd.c_str()});
    Trigger(Command::Rename);
    ASSERT_NE(Editor(), nullptr);
    Editor()->end(false);
    Editor()->cursorBackward(false, 4);
    QTest::keyClicks(Editor(), QStringLiteral("-2"));
    QTest::keyClick(Editor(), Qt::Key_Return);
    Settle();
    EXPECT_TRUE(messages.Calls().empty());
    const std::string renamed = "caf\xE9 \xFF-2.txt";
    EXPECT_NE(RowOf(renamed), -1);
    EXPECT_EQ(SavedNames(), (std::vector<std::string>{renamed, "other.txt"}));
}

}  // namespace
}  // namespace crateforge
