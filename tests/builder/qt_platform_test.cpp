// The Qt services behind the platform seam: filters, default extension,
// progress scaling, the list control, icons, shell targets, message boxes.
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <climits>

#include "BuilderFixture.h"
#include "builder/QtPlatform.h"
#include "platform/Scripted.h"

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

TEST(QtPlatformTest, ListShowsASourceByKeyAndReadsOnlyWhatItDraws) {
    QTreeView view;
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setUniformRowHeights(true);
    QtIconProvider icons;
    QtListControl list(&view, &icons);
    const std::string notUtf8 = "caf\xE9";
    std::vector<ScriptedRows::Row> rows = {
        {RowKey::Parent(), "..", {}, icons.FolderIconIndex()},
        {RowKey::Folder(0), "sub", {"10", "50%", "5"}, icons.FolderIconIndex()},
        {RowKey::File(0), "a.txt", {"3", "0%", "3"}, icons.FileIconIndex("a.txt")},
        {RowKey::File(1), notUtf8, {"1", "0%", "1"}, icons.FileIconIndex("x")},
        {RowKey::File(2), "c.png", {"3", "0%", "3"}, icons.FileIconIndex("c.png")},
    };
    ScriptedRows source(rows);
    QSignalSpy resets(view.model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserted(view.model(), &QAbstractItemModel::rowsInserted);
    list.ShowRows(&source);
    // One change of the model for the whole listing, none per row.
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(list.Source(), &source);
    ASSERT_EQ(list.RowCount(), 5);
    EXPECT_EQ(list.RowText(3), notUtf8);  // the bytes, whatever they are
    EXPECT_EQ(list.RowText(1, 2), "50%");
    EXPECT_EQ(list.RowText(7), "");
    EXPECT_EQ(list.Key(2), RowKey::File(0));
    EXPECT_TRUE(list.Key(-1).IsNone());
    QAbstractItemModel* model = view.model();
    // Shown as the rename editor shows it; sizes right-aligned; rows drag.
    EXPECT_EQ(model->index(3, 0).data().toString(), QStringLiteral("caf\\xE9"));
    EXPECT_EQ(
        model->index(1, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
        Qt::AlignRight);
    EXPECT_EQ(model->index(1, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignLeft,
              Qt::AlignLeft);
    EXPECT_TRUE(model->flags(model->index(2, 0)).testFlag(Qt::ItemIsDragEnabled));
    EXPECT_FALSE(model->index(2, 0).data(Qt::DecorationRole).value<QIcon>().isNull());

    // Stable by the comparator: folders first in their order, equal sizes keep theirs.
    list.SortRows([&](RowKey x, RowKey y) {
        if (!x.IsFile() || !y.IsFile()) {
            return x.IsFile() == y.IsFile() ? 0 : (x.IsFile() ? 1 : -1);
        }
        return std::stoi(source.CellText(x, 1)) - std::stoi(source.CellText(y, 1));
    });
    std::vector<std::string> names;
    for (int row = 0; row < list.RowCount(); ++row) {
        names.push_back(list.RowText(row));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"..", "sub", notUtf8, "a.txt", "c.png"}));
    // Even a comparator that calls everything "less" cannot break it.
    list.SortRows([](RowKey, RowKey) { return -1; });
    EXPECT_EQ(list.RowCount(), 5);

    list.SelectRow(4, true);
    list.SelectRow(1, true);
    list.SelectRow(77, true);
    EXPECT_EQ(list.SelectedRows(), (std::vector<int>{1, 4}));
    list.SelectRow(4, false);
    EXPECT_EQ(list.SelectedRows(), std::vector<int>{1});
    list.DeleteAllRows();
    EXPECT_EQ(list.RowCount(), 0);
    EXPECT_EQ(list.Source(), nullptr);
    EXPECT_TRUE(list.SelectedRows().empty());

    // A long listing: what the list reads grows with what is drawn, not with
    // the rows; select-all comes back as every row, once, in order.
    std::vector<ScriptedRows::Row> many;
    for (std::uint32_t i = 0; i < 20000; ++i) {
        many.push_back({RowKey::File(i), "f" + std::to_string(i), {"1", "0%", "1"}, 0});
    }
    ScriptedRows longSource(many);
    view.resize(400, 300);
    view.show();
    list.ShowRows(&longSource);
    view.repaint();
    QApplication::processEvents();
    EXPECT_GT(longSource.Reads(), 0);
    EXPECT_LT(longSource.Reads(), 2000);
    view.selectAll();
    list.SelectRow(5, true);  // already selected: no second copy
    const std::vector<int> all = list.SelectedRows();
    ASSERT_EQ(all.size(), 20000u);
    EXPECT_EQ(all.front(), 0);
    EXPECT_EQ(all.back(), 19999);
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
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

    // A message of many lines: its first line above the rest, which scrolls.
    std::string text = "40 items were not added:\n";
    for (int i = 0; i < 40; ++i) {
        text += "\nUnable to read /x/bad\xFF" + std::to_string(i) + ": it was not added.";
    }
    QString head, lines;
    bool scrolls = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(dialog->objectName(), QStringLiteral("longMessage"));
        auto* rest = dialog->findChild<QPlainTextEdit*>(QStringLiteral("messageLines"));
        ASSERT_NE(rest, nullptr);
        lines = rest->toPlainText();
        scrolls = rest->verticalScrollBar()->maximum() > 0;
        head = rest->accessibleName();
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(service.ShowMessage("Crateforge", text, MessageButtons::Ok), MessageAnswer::Ok);
    EXPECT_EQ(head, QStringLiteral("40 items were not added:"));
    EXPECT_EQ(lines.count(u'\n'), 39);
    EXPECT_TRUE(lines.startsWith(QStringLiteral("Unable to read /x/bad\\xFF0:")));
    EXPECT_TRUE(lines.endsWith(QStringLiteral("bad\\xFF39: it was not added.")));
    EXPECT_TRUE(scrolls);
}

}  // namespace
}  // namespace crateforge
