// The window from the keyboard alone: into folders and out again, the
// context menu, and menu mnemonics that lead to one menu each.
#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <set>

#include "BuilderFixture.h"

namespace crateforge {
namespace {

class KeyboardTest : public BuilderTest {
  protected:
    void Open() {
        MakeWindow({"\\o", SamplePack()});
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        List().setFocus();
        Settle();
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&List(), static_cast<Qt::Key>(key), modifiers);
        Settle();
    }
    bool AtRoot() { return RowOf("..") == -1 && RowOf("Docs") != -1; }
    bool InDocs() { return RowOf("..") == 0 && RowOf("readme.txt") != -1; }
};

TEST_F(KeyboardTest, CtrlOrAltDownOpensTheSelectedFolderAndAltUpGoesBack) {
    Open();
    struct Step {
        const char* what;
        std::vector<const char*> select;  // empty: the selection as it is
        int key;
        Qt::KeyboardModifiers modifiers;
        bool inDocsAfter;
    };
    const Step steps[] = {
        {"Enter opens nothing", {"Docs"}, Qt::Key_Return, Qt::NoModifier, false},
        {"Ctrl+Down opens the folder", {"Docs"}, Qt::Key_Down, Qt::ControlModifier, true},
        {"Alt+Up goes up", {}, Qt::Key_Up, Qt::AltModifier, false},
        {"Alt+Down opens the folder", {"Docs"}, Qt::Key_Down, Qt::AltModifier, true},
        {"Ctrl+Down on \"..\" goes up", {".."}, Qt::Key_Down, Qt::ControlModifier, false},
        {"a file row opens nothing", {"c.dat"}, Qt::Key_Down, Qt::ControlModifier, false},
        {"the first folder of the selection",
         {"c.dat", "Docs"},
         Qt::Key_Down,
         Qt::ControlModifier,
         true},
        {"Alt+Up again", {}, Qt::Key_Up, Qt::AltModifier, false},
        {"Alt+Up at the root does nothing", {}, Qt::Key_Up, Qt::AltModifier, false},
    };
    const std::string rootTotal = TotalText();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (!step.select.empty()) {
            List().clearSelection();
            for (const char* name : step.select) {
                window->ListControlImpl()->SelectRow(RowOf(name), true);
            }
            Settle();
        }
        Key(step.key, step.modifiers);
        EXPECT_EQ(InDocs(), step.inDocsAfter);
        EXPECT_EQ(AtRoot(), !step.inDocsAfter);
        // The status row follows the shown folder.
        EXPECT_EQ(TotalText() == rootTotal, !step.inDocsAfter);
    }
    EXPECT_TRUE(shell.Calls().empty());  // no file was opened on the way

    // Inside a folder the arrows go on from the top: the first Down
    // selects the ".." row.
    Select({"Docs"});
    Key(Qt::Key_Down, Qt::ControlModifier);
    ASSERT_TRUE(InDocs());
    Key(Qt::Key_Down);
    EXPECT_EQ(window->ListControlImpl()->SelectedRows(), std::vector<int>{0});
}

TEST_F(KeyboardTest, ShiftF10AndTheMenuKeyOpenTheContextMenuAtTheCurrentRow) {
    MakeWindow();
    QMenu* menu = Named<QMenu>("contextMenu");
    Key(Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_FALSE(menu->isVisible());  // no pack, no menu
    window.reset();

    Open();
    Select({"c.dat"});
    const QRect row = List().visualRect(Cell(RowOf("c.dat")));
    const QRect onScreen(List().viewport()->mapToGlobal(row.topLeft()), row.size());
    const auto opens = [&](const std::function<void()>& press) {
        press();
        Settle();
        const bool shown = menu->isVisible();
        // Opened at the row, not where the mouse is.
        EXPECT_LE(std::abs(menu->pos().y() - onScreen.bottom()), 2);
        EXPECT_GE(menu->pos().x(), onScreen.left());
        menu->close();
        Settle();
        return shown;
    };
    menu = Named<QMenu>("contextMenu");
    EXPECT_TRUE(opens([&] { QTest::keyClick(&List(), Qt::Key_F10, Qt::ShiftModifier); }));
    EXPECT_TRUE(opens([&] { QTest::keyClick(&List(), Qt::Key_Menu); }));
    // The platform's own keyboard context-menu event does the same.
    EXPECT_TRUE(opens([&] {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(1, 1), QPoint(1, 1));
        QApplication::sendEvent(&List(), &event);
    }));
    // The menu holds the six Actions items, states up to date.
    EXPECT_EQ(menu->actions().size(), 6);
    EXPECT_TRUE(Action(Command::View)->isEnabled());
}

TEST_F(KeyboardTest, EveryMnemonicLeadsToOneMenuOrItem) {
    MakeWindow();
    std::vector<QMenu*> menus;
    std::set<QChar> titles;
    for (QAction* title : Named<QMenuBar>("menuBar")->actions()) {
        const QKeySequence mnemonic = QKeySequence::mnemonic(title->text());
        ASSERT_FALSE(mnemonic.isEmpty()) << title->text().toStdString();
        const QChar letter = title->text()[title->text().indexOf(u'&') + 1].toLower();
        EXPECT_TRUE(titles.insert(letter).second) << title->text().toStdString();
        menus.push_back(title->menu());
    }
    EXPECT_EQ(titles.size(), 3u);
    menus.push_back(Named<QMenu>("contextMenu"));
    for (QMenu* menu : menus) {
        std::set<QChar> letters;
        for (QAction* item : menu->actions()) {
            if (item->isSeparator()) {
                continue;
            }
            const int at = item->text().indexOf(u'&');
            ASSERT_GE(at, 0) << item->text().toStdString();
            EXPECT_TRUE(letters.insert(item->text()[at + 1].toLower()).second)
                << item->text().toStdString();
        }
    }
}

}  // namespace
}  // namespace crateforge
