// The Qt services behind the platform seam: filters, default extension,
// progress scaling, the list control, icons, shell targets, message boxes.
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <climits>

#include "BuilderFixture.h"
#include "builder/QtPlatform.h"

namespace crateforge {
namespace {

TEST(QtPlatformTest, FiltersBecomeQtNameFilters) {
    EXPECT_EQ(QtNameFilters("Varnholt Pack Files (*.vpf)|*.vpf|Old Pack Files (*.dat)|*.dat||"),
              (QStringList{"Varnholt Pack Files (*.vpf)", "Old Pack Files (*.dat)"}));
    EXPECT_EQ(QtNameFilters("Varnholt Pack Files (*.vpf)|*.vpf||"),
              QStringList{"Varnholt Pack Files (*.vpf)"});
    // "*.*" would hide names without a dot here.
    EXPECT_EQ(QtNameFilters("All files (*.*)|*.*||"), QStringList{"All files (*)"});
    EXPECT_EQ(QtNameFilters("Images|*.png;*.jpg||"), QStringList{"Images (*.png *.jpg)"});
    EXPECT_TRUE(QtNameFilters("").isEmpty());
    EXPECT_TRUE(QtNameFilters("Dangling label").isEmpty());
}

TEST(QtPlatformTest, DefaultExtensionOnlyWithoutOne) {
    EXPECT_EQ(WithDefaultExtension("/x/test", ".VPF"), QStringLiteral("/x/test.VPF"));
    EXPECT_EQ(WithDefaultExtension("/x/test.vpf", ".VPF"), QStringLiteral("/x/test.vpf"));
    EXPECT_EQ(WithDefaultExtension("/x/test.dat", ".VPF"), QStringLiteral("/x/test.dat"));
    EXPECT_EQ(WithDefaultExtension("/x.d/test", ".VPF"), QStringLiteral("/x.d/test.VPF"));
    EXPECT_EQ(WithDefaultExtension("/x/test", ""), QStringLiteral("/x/test"));
}

TEST(QtPlatformTest, ProgressKeepsThe32BitRange) {
    QProgressBar bar;
    QtProgressControl progress(&bar);
    struct Case {
        std::uint32_t low, high, position;
        int maximum, value;
    };
    const Case cases[] = {
        {0, 1000, 250, 1000, 250},
        {0, 0, 0, 1, 0},  // an empty range shows an empty bar, not a busy one
        {100, 200, 150, 100, 50},
        {0, 4294967295u, 4294967295u, INT_MAX, INT_MAX},
        {0, 4294967295u, 2147483648u, INT_MAX, 1073741824},
        {0, 1000, 5000, 1000, 1000},  // past the end: full
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.low << ".." << c.high << " @" << c.position);
        progress.SetRange(c.low, c.high);
        progress.SetPosition(c.position);
        EXPECT_EQ(progress.Position(), c.position);
        EXPECT_EQ(bar.minimum(), 0);
        EXPECT_EQ(bar.maximum(), c.maximum);
        EXPECT_EQ(bar.value(), c.value);
    }
}

TEST(QtPlatformTest, ListControlKeepsBytesDataAndOrder) {
    QTreeWidget tree;
    tree.setColumnCount(4);
    tree.setSelectionMode(QAbstractItemView::ExtendedSelection);
    QtIconProvider icons;
    QtListControl list(&tree, &icons);
    PackEntry a, b, c;
    a.originalSize = 3;
    b.originalSize = 1;
    c.originalSize = 3;
    list.InsertRow(0, "first", icons.FolderIconIndex(), nullptr);
    list.InsertRow(1, "a", icons.FileIconIndex("a.txt"), &a);
    list.InsertRow(2, "b", icons.FileIconIndex("b.txt"), &b);
    list.InsertRow(99, "c", icons.FileIconIndex("c.png"), &c);  // past the end: appended
    list.InsertRow(1, "second", icons.FolderIconIndex(), nullptr);
    const std::string latin1 = "caf\xE9";  // no UTF-8: shown as Latin-1, kept as bytes
    list.SetCellText(0, 1, latin1);
    list.SetCellText(9, 1, "ignored");
    ASSERT_EQ(list.RowCount(), 5);
    EXPECT_EQ(list.RowText(0, 1), latin1);
    EXPECT_EQ(tree.topLevelItem(0)->text(1), QString::fromUtf8("caf\xC3\xA9"));
    EXPECT_EQ(list.RowText(7), "");
    EXPECT_EQ(list.RowData(2), &a);
    EXPECT_EQ(list.RowData(-1), nullptr);

    // Stable by the comparator: folders first in their order, equal sizes keep theirs.
    list.SortRows([](const PackEntry* x, const PackEntry* y) {
        if (x == nullptr || y == nullptr) {
            return x == y ? 0 : (x == nullptr ? -1 : 1);
        }
        return static_cast<int>(x->originalSize) - static_cast<int>(y->originalSize);
    });
    std::vector<std::string> names;
    for (int row = 0; row < list.RowCount(); ++row) {
        names.push_back(list.RowText(row));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"first", "second", "b", "a", "c"}));
    // Even a comparator that calls everything "less" cannot break it.
    list.SortRows([](const PackEntry*, const PackEntry*) { return -1; });
    EXPECT_EQ(list.RowCount(), 5);

    list.SelectRow(4, true);
    list.SelectRow(1, true);
    list.SelectRow(77, true);
    EXPECT_EQ(list.SelectedRows(), (std::vector<int>{1, 4}));
    list.SelectRow(4, false);
    EXPECT_EQ(list.SelectedRows(), std::vector<int>{1});
    list.DeleteAllRows();
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_TRUE(list.SelectedRows().empty());
}

TEST(QtPlatformTest, ListTakesAWholeListingInOneInsertion) {
    QTreeWidget tree;
    tree.setColumnCount(4);
    QtIconProvider icons;
    QtListControl list(&tree, &icons);
    PackEntry a, b;
    list.InsertRow(0, "top", icons.FolderIconIndex(), nullptr);
    list.InsertRow(1, "bottom", icons.FolderIconIndex(), nullptr);
    QSignalSpy inserted(tree.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(tree.model(), &QAbstractItemModel::dataChanged);
    std::vector<ListRow> rows;
    rows.push_back({"a.txt", icons.FileIconIndex("a.txt"), &a, {"10", "50%", "5"}});
    rows.push_back({"caf\xE9", icons.FileIconIndex("x"), &b, {"7", "0%", "7"}});
    rows.push_back({"sub", icons.FolderIconIndex(), nullptr, {"", "", ""}});
    list.InsertRows(1, rows);
    // One change of the model, none per cell.
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(changed.count(), 0);
    ASSERT_EQ(list.RowCount(), 5);
    const std::vector<std::string> order = {"top", "a.txt", "caf\xE9", "sub", "bottom"};
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(list.RowText(row), order[static_cast<std::size_t>(row)]);
    }
    EXPECT_EQ(list.RowData(1), &a);
    EXPECT_EQ(list.RowData(2), &b);
    EXPECT_EQ(list.RowData(3), nullptr);
    EXPECT_EQ(list.RowText(1, 1), "10");
    EXPECT_EQ(list.RowText(1, 2), "50%");
    EXPECT_EQ(list.RowText(1, 3), "5");
    EXPECT_EQ(tree.topLevelItem(2)->text(0), QString::fromUtf8("caf\xC3\xA9"));
    EXPECT_EQ(tree.topLevelItem(1)->textAlignment(1) & Qt::AlignRight, Qt::AlignRight);
    EXPECT_TRUE(tree.topLevelItem(1)->flags().testFlag(Qt::ItemIsDragEnabled));
}

TEST(QtPlatformTest, IconsFollowTheExtensionAlone) {
    QtIconProvider icons;
    EXPECT_EQ(QtIconProvider::Extension("a.tar.gz"), ".gz");
    EXPECT_EQ(QtIconProvider::Extension("Makefile"), "");
    EXPECT_EQ(QtIconProvider::Extension(".bashrc"), ".bashrc");
    // A whole-name pattern of the MIME database does not make one .txt file
    // look different from the others.
    EXPECT_EQ(QtIconProvider::IconNameFor("CMakeLists.txt"), QtIconProvider::IconNameFor("a.txt"));
    EXPECT_EQ(icons.FileIconIndex("CMakeLists.txt"), icons.FileIconIndex("notes.txt"));
    const int before = icons.IconCount();
    for (int i = 0; i < 100; ++i) {
        icons.FileIconIndex("file" + std::to_string(i) + ".txt");
    }
    EXPECT_EQ(icons.IconCount(), before);
}

TEST(QtPlatformTest, IconsByTypeAreCached) {
    QtIconProvider icons;
    EXPECT_EQ(icons.FolderIconIndex(), 0);
    EXPECT_FALSE(icons.Icon(0).isNull());
    const int text = icons.FileIconIndex("notes.txt");
    EXPECT_EQ(icons.FileIconIndex("OTHER.TXT"), text);
    const int image = icons.FileIconIndex("photo.png");
    EXPECT_NE(image, text);
    EXPECT_NE(text, 0);
    const int unknown = icons.FileIconIndex("no-extension");
    EXPECT_FALSE(icons.Icon(text).isNull());
    EXPECT_FALSE(icons.Icon(image).isNull());
    EXPECT_FALSE(icons.Icon(unknown).isNull());
    EXPECT_TRUE(icons.Icon(-1).isNull());
    EXPECT_TRUE(icons.Icon(icons.IconCount()).isNull());
    EXPECT_EQ(QtIconProvider::IconNameFor("photo.png"), QStringLiteral("image-png"));
    EXPECT_EQ(QtIconProvider::IconNameFor("pack.vpf").isEmpty(), false);
}

TEST(QtPlatformTest, ShellTargetsAreLinksOrLocalFiles) {
    EXPECT_EQ(QtShellService::TargetUrl("https://www.varnholt.example/"),
              QUrl(QStringLiteral("https://www.varnholt.example/")));
    EXPECT_EQ(QtShellService::TargetUrl("mailto:info@varnholt.example"),
              QUrl(QStringLiteral("mailto:info@varnholt.example")));
    const QUrl file = QtShellService::TargetUrl("/tmp/TMPabc/a file#1.txt");
    EXPECT_TRUE(file.isLocalFile());
    EXPECT_EQ(file.toLocalFile(), QStringLiteral("/tmp/TMPabc/a file#1.txt"));
    // A colon inside a path does not make it a link.
    EXPECT_TRUE(QtShellService::TargetUrl("/tmp/a:b").isLocalFile());
    EXPECT_TRUE(QtShellService::TargetUrl("C:x").isLocalFile());
}

TEST(QtPlatformTest, MessageBoxesAnswerAndShowPlainText) {
    QWidget owner;
    QtMessageService service(&owner);
    struct Case {
        MessageButtons buttons;
        QMessageBox::StandardButton press;  // NoButton: close the box
        MessageAnswer answer;
    };
    const Case cases[] = {
        {MessageButtons::YesNo, QMessageBox::Yes, MessageAnswer::Yes},
        {MessageButtons::YesNo, QMessageBox::No, MessageAnswer::No},
        {MessageButtons::YesNo, QMessageBox::NoButton, MessageAnswer::No},
        {MessageButtons::YesNoCancel, QMessageBox::Cancel, MessageAnswer::Cancel},
        {MessageButtons::YesNoCancel, QMessageBox::NoButton, MessageAnswer::Cancel},
        {MessageButtons::Ok, QMessageBox::Ok, MessageAnswer::Ok},
        {MessageButtons::Ok, QMessageBox::NoButton, MessageAnswer::Ok},
    };
    for (const Case& c : cases) {
        QString seenTitle, seenText;
        Qt::TextFormat seenFormat = Qt::AutoText;
        int buttonCount = 0;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            seenTitle = box->windowTitle();
            seenText = box->text();
            seenFormat = box->textFormat();
            buttonCount = static_cast<int>(box->buttons().size());
            if (c.press == QMessageBox::NoButton) {
                box->reject();
            } else {
                box->button(c.press)->click();
            }
        });
        MessageAnswer answer =
            service.ShowMessage("Warning", "File <b>x</b> already exist.", c.buttons);
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(seenTitle, QStringLiteral("Warning"));
        EXPECT_EQ(seenText, QStringLiteral("File <b>x</b> already exist."));
        EXPECT_EQ(seenFormat, Qt::PlainText);
        EXPECT_EQ(buttonCount, c.buttons == MessageButtons::Ok      ? 1
                               : c.buttons == MessageButtons::YesNo ? 2
                                                                    : 3);
    }
}

}  // namespace
}  // namespace crateforge
