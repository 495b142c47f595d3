// screen_scenes - shows the main window with a pack and one of the program's
// dialogs or editors open, for scripts/screenshots to photograph:
//   screen_scenes <scene> <pack>   scene: extract, about, rename
// The window uses the real desktop services; the scene stays up until the
// process is ended.
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <string>

#include "archive/PackArchive.h"
#include "builder/AboutDlg.h"
#include "builder/BuilderDlg.h"
#include "builder/ExtractDialog.h"
#include "builder/QtPlatform.h"

using namespace crateforge;

namespace {

void SelectNames(CBuilderDlg& window, std::initializer_list<const char*> names) {
    ListControl* list = window.ListControlImpl();
    window.ListView()->clearSelection();
    for (int row = 0; row < list->RowCount(); ++row) {
        for (const char* name : names) {
            if (list->RowText(row, 0) == name) {
                list->SelectRow(row, true);
            }
        }
    }
    window.OnListClick();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: screen_scenes extract|about|rename <pack>\n");
        return 2;
    }
    QApplication application(argc, argv);
    InitBuilderResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/crateforge.svg")));
    const std::string scene = argv[1];

    CBuilderCommandLineInfo commandLine;
    std::string program = "crateforge", open = "\\o", pack = argv[2];
    char* arguments[] = {program.data(), open.data(), pack.data()};
    ParseCommandLine(commandLine, 3, arguments);
    CBuilderDlg window;
    window.commandLine = &commandLine;
    window.show();
    window.OnInitDialog();

    QTimer::singleShot(300, &window, [&] {
        if (scene == "rename") {
            SelectNames(window, {"notes.md"});
            window.CommandAction(Command::Rename)->trigger();
            if (auto* editor = window.ListView()->findChild<QLineEdit*>()) {
                editor->setText(QStringLiteral("Release Notes"));
            }
        } else if (scene == "extract") {
            SelectNames(window, {"Music", "readme.txt"});
            auto* dialog =
                new CExtractDialog(window.Messages(), window.Dialogs(), window.Cursor(), &window);
            dialog->listControl = window.ListControlImpl();
            dialog->folder = window.Archive()->Current();
            dialog->OnInitDialog();
            dialog->show();
        } else if (scene == "about") {
            auto* dialog = new CAboutDlg(window.Shell(), &window);
            dialog->OnInitDialog();
            dialog->show();
            // The mouse over the web link: drawn hot.
            QTimer::singleShot(200, dialog, [dialog] {
                dialog->OnMouseMove(dialog->Link(0)->HitRect().center());
            });
        }
    });
    return application.exec();
}
