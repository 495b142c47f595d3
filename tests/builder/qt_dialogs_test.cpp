// The Qt file dialogs and the list's label editor, driven as a user would.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "BuilderFixture.h"
#include "builder/QtPlatform.h"

namespace crateforge {
namespace {

// Runs `step` on the modal dialog that comes up next.
template <class Dialog, class Step>
void OnNextDialog(Step step) {
    QTimer::singleShot(0, [step] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        step(dialog);
    });
}

class QtDialogsTest : public BuilderTest {};

TEST_F(QtDialogsTest, SaveDialogAddsTheDefaultExtensionAndAsksBeforeReplacing) {
    QWidget owner;
    QtDialogService service(&owner);
    SaveFileRequest request;
    request.filter = "Varnholt Pack Files (*.vpf)|*.vpf||";
    request.defaultExtension = ".VPF";
    request.initialName = "Untitled";
    QStringList filters;
    QString shownName;
    OnNextDialog<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        shownName = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        dialog->setDirectory(QString::fromStdString(temp.Path()));
        dialog->selectFile(QStringLiteral("test"));
        static_cast<QDialog*>(dialog)->accept();
    });
    std::optional<std::string> chosen = service.SaveFile(request);
    EXPECT_EQ(filters, QStringList{"Varnholt Pack Files (*.vpf)"});
    EXPECT_EQ(shownName, QStringLiteral("Untitled"));
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, temp.File("test.VPF"));

    // An existing file: the question comes first; No keeps the dialog open.
    WriteFile("taken.VPF", 3);
    QString question;
    OnNextDialog<QFileDialog>([&](QFileDialog* dialog) {
        dialog->setDirectory(QString::fromStdString(temp.Path()));
        dialog->selectFile(QStringLiteral("taken"));
        QTimer::singleShot(0, [&, dialog] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            question = box->text();
            box->button(QMessageBox::No)->click();
            QTimer::singleShot(0, [dialog] { dialog->reject(); });
        });
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_FALSE(service.SaveFile(request).has_value());
    EXPECT_TRUE(question.contains(QStringLiteral("taken.VPF"))) << question.toStdString();
}

TEST_F(QtDialogsTest, OpenDialogOffersBothPackTypesAndSeveralFiles) {
    QWidget owner;
    QtDialogService service(&owner);
    const std::string first = WriteFile("a.vpf", 1);
    const std::string second = WriteFile("b.vpf", 1);
    OpenFileRequest request;
    request.filter = "Varnholt Pack Files (*.vpf)|*.vpf|Old Pack Files (*.dat)|*.dat||";
    QStringList filters;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    OnNextDialog<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        mode = dialog->fileMode();
        dialog->setDirectory(QString::fromStdString(temp.Path()));
        dialog->selectFile(QStringLiteral("a.vpf"));
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(service.OpenFiles(request), std::vector<std::string>{first});
    EXPECT_EQ(filters, (QStringList{"Varnholt Pack Files (*.vpf)", "Old Pack Files (*.dat)"}));
    EXPECT_EQ(mode, QFileDialog::ExistingFile);

    request.filter = "All files (*.*)|*.*||";
    request.multiSelect = true;
    OnNextDialog<QFileDialog>([&](QFileDialog* dialog) {
        mode = dialog->fileMode();
        dialog->setDirectory(QString::fromStdString(temp.Path()));
        dialog->selectFile(QStringLiteral("\"a.vpf\" \"b.vpf\""));
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(service.OpenFiles(request), (std::vector<std::string>{first, second}));
    EXPECT_EQ(mode, QFileDialog::ExistingFiles);

    OnNextDialog<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_TRUE(service.OpenFiles(request).empty());
}

TEST_F(QtDialogsTest, LabelEditorHandsItsTextOverInsteadOfWritingIt) {
    QTreeView tree;
    tree.setEditTriggers(QAbstractItemView::NoEditTriggers);
    QtIconProvider icons;
    QtListControl list(&tree, &icons);
    std::vector<std::pair<int, std::optional<std::string>>> ended;
    list.Delegate()->SetEndHandler(
        [&](int row, const std::optional<std::string>& text) { ended.emplace_back(row, text); });
    ScriptedRows source(
        {{RowKey::Folder(0), "first", {}, 0}, {RowKey::Folder(1), "second", {}, 0}});
    list.ShowRows(&source);
    tree.show();
    QApplication::setActiveWindow(&tree);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&tree));

    auto editor = [&tree] { return tree.findChild<QLineEdit*>(QStringLiteral("labelEditor")); };
    list.EditLabel(1);
    Settle();
    ASSERT_NE(editor(), nullptr);
    editor()->selectAll();
    QTest::keyClicks(editor(), "renamed");
    QTest::keyClick(editor(), Qt::Key_Return);
    Settle();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].first, 1);
    EXPECT_EQ(ended[0].second, std::optional<std::string>("renamed"));
    EXPECT_EQ(list.RowText(1), "second");  // the handler decides, not the editor

    list.EditLabel(0);
    Settle();
    ASSERT_NE(editor(), nullptr);
    QTest::keyClick(editor(), Qt::Key_Escape);
    Settle();
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended[1].first, 0);
    EXPECT_FALSE(ended[1].second.has_value());

    // One editor at a time: opening another cancels the first.
    list.EditLabel(0);
    Settle();
    list.EditLabel(1);
    Settle();
    ASSERT_EQ(ended.size(), 3u);
    EXPECT_EQ(ended[2].first, 0);
    EXPECT_FALSE(ended[2].second.has_value());
    EXPECT_EQ(tree.findChildren<QLineEdit*>(QStringLiteral("labelEditor")).size(), 1);
}

}  // namespace
}  // namespace crateforge
