// What a screen reader meets: every control that takes the keyboard has a
// name, the main window is a window, tool-bar buttons are named as commands,
// and the About box's links are links that Tab reaches and Enter or Space
// opens.
#include <QAccessible>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <functional>

#include "ContentFixture.h"
#include "builder/AboutDlg.h"
#include "builder/ExtractDialog.h"

namespace crateforge {
namespace {

struct Met {
    QAccessible::Role role;
    QString name;
    QString description;
    bool focusable;
};

// Every interface below `top`, depth first; a table's cells only for the
// rows it shows.
std::vector<Met> Walk(QAccessibleInterface* top) {
    std::vector<Met> met;
    std::function<void(QAccessibleInterface*, int)> visit = [&](QAccessibleInterface* node,
                                                                int depth) {
        if (node == nullptr || depth > 12) {
            return;
        }
        met.push_back({node->role(), node->text(QAccessible::Name),
                       node->text(QAccessible::Description), node->state().focusable != 0});
        const int children = std::min(node->childCount(), 64);
        for (int i = 0; i < children; ++i) {
            visit(node->child(i), depth + 1);
        }
    };
    visit(top, 0);
    return met;
}

class AccessibilityTest : public ContentTest {};

TEST_F(AccessibilityTest, EveryFocusableControlOfTheWindowHasAName) {
    OpenSample();
    Select({"Docs"});
    window->OnListDoubleClick();  // a ".." row with its empty size cells
    Select({"notes.md"});
    QAccessibleInterface* top = QAccessible::queryAccessibleInterface(window.get());
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->role(), QAccessible::Window);
    EXPECT_EQ(top->text(QAccessible::Name), window->windowTitle());
    const std::vector<Met> met = Walk(top);
    int focusable = 0;
    std::vector<QString> buttons;
    for (const Met& m : met) {
        if (m.focusable) {
            ++focusable;
            EXPECT_FALSE(m.name.trimmed().isEmpty()) << "role " << m.role;
        }
        if (m.role == QAccessible::ProgressBar || m.role == QAccessible::Table ||
            m.role == QAccessible::Tree || m.role == QAccessible::ToolBar) {
            EXPECT_FALSE(m.name.isEmpty()) << "role " << m.role;
        }
        if (m.role == QAccessible::Button) {
            buttons.push_back(m.name);
            EXPECT_FALSE(m.name.contains(u'\t')) << m.name.toStdString();
            EXPECT_FALSE(m.name.contains(u'&')) << m.name.toStdString();
        }
    }
    EXPECT_GT(focusable, 8);  // the list and its cells at least
    for (const char* command : {"Open Pack", "New Pack", "Add", "Add Folder", "Extract", "View"}) {
        EXPECT_NE(std::find(buttons.begin(), buttons.end(), QString::fromLatin1(command)),
                  buttons.end())
            << command;
    }
    // The status fields are read out by their whole texts.
    EXPECT_EQ(Named<StatusField>("totalText")->accessibleName(),
              Named<StatusField>("totalText")->text());
    EXPECT_EQ(Named<StatusField>("selectedText")->accessibleName(),
              Named<StatusField>("selectedText")->text());
}

TEST_F(AccessibilityTest, TheExtractDialogsControlsAreNamed) {
    OpenSample();
    Select({"c.dat"});
    CExtractDialog dialog(&messages, &dialogs, &cursor, window.get());
    dialog.listControl = window->ListControlImpl();
    dialog.folder = window->Archive()->Current();
    dialog.OnInitDialog();
    dialog.show();
    Settle();
    int focusable = 0;
    for (const Met& m : Walk(QAccessible::queryAccessibleInterface(&dialog))) {
        if (m.focusable) {
            ++focusable;
            EXPECT_FALSE(m.name.trimmed().isEmpty()) << "role " << m.role;
        }
    }
    EXPECT_EQ(focusable, 7);  // field, "..", two choices, the check box, OK, Cancel
    EXPECT_EQ(dialog.DestinationEdit()->accessibleName(), QStringLiteral("Destination folder"));
    EXPECT_FALSE(dialog.BrowseButton()->accessibleName().contains(QStringLiteral("..")));
    dialog.reject();
}

TEST_F(AccessibilityTest, AboutLinksAreReachedByTabAndOpenedByEnterOrSpace) {
    MakeWindow();
    CAboutDlg box(&shell, window.get());
    box.OnInitDialog();
    box.show();
    QApplication::setActiveWindow(&box);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    Settle();
    ASSERT_TRUE(box.OkButton()->hasFocus());
    const std::string targets[] = {"https://www.varnholt.example/", "mailto:info@varnholt.example",
                                   "mailto:support@varnholt.example"};
    std::vector<std::string> opened;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        Settle();
        QWidget* control = box.Link(i)->Control();
        ASSERT_EQ(QApplication::focusWidget(), control);
        QAccessibleInterface* link = QAccessible::queryAccessibleInterface(control);
        ASSERT_NE(link, nullptr);
        EXPECT_EQ(link->role(), QAccessible::Link);
        EXPECT_TRUE(link->state().focusable);
        EXPECT_EQ(link->text(QAccessible::Name).toStdString(), box.Link(i)->Text());
        ASSERT_NE(link->actionInterface(), nullptr);
        EXPECT_TRUE(link->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::pressAction()));
        // Enter, Space and a screen reader's "press" each open it; the box
        // stays open.
        QTest::keyClick(control, Qt::Key_Return);
        QTest::keyClick(control, Qt::Key_Space);
        link->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        Settle();
        EXPECT_TRUE(box.isVisible());
        ASSERT_EQ(shell.Calls().size(), 3u * (i + 1));
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(shell.Calls()[3 * i + k].target, targets[i]);
        }
    }
    // Back on the button, Enter closes the box as before.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), box.OkButton());
    QTest::keyClick(box.OkButton(), Qt::Key_Return);
    Settle();
    EXPECT_FALSE(box.isVisible());
}

}  // namespace
}  // namespace crateforge
