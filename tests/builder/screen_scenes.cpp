// screen_scenes - shows the main window with a pack and one of the program's
// dialogs or editors open, for scripts/screenshots to photograph:
//   screen_scenes <scene> <pack>   scene: extract, about, rename
// The window uses the real desktop services; the scene stays up until the
// process is ended.
//   screen_scenes status <pack> <width>
// asks for a window <width> pixels wide, selects every row, and prints for
// each status field, once laid out: its name, the text it shows, its whole
// text and its tool tip, separated by tabs, then the window's width; then
// it ends (scripts/desktop-check runs it at several scales).
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <cstdlib>
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
    const bool status = argc == 4 && std::string(argv[1]) == "status";
    if (argc != 3 && !status) {
        std::fprintf(stderr,
                     "usage: screen_scenes extract|about|rename <pack>\n"
                     "       screen_scenes status <pack> <width>\n");
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

    if (status) {
        window.resize(std::atoi(argv[3]), window.height());
        QTimer::singleShot(500, &window, [&] {
            window.ListView()->selectAll();
            window.OnListClick();
            QApplication::processEvents();
            for (StatusField* field : window.findChildren<StatusField*>()) {
                std::printf("%s\t%s\t%s\t%s\n", field->objectName().toUtf8().constData(),
                            field->ShownText().toUtf8().constData(),
                            field->text().toUtf8().constData(),
                            field->toolTip().toUtf8().constData());
            }
            std::printf("width\t%d\n", window.width());
            std::fflush(stdout);
            QApplication::quit();
        });
        return application.exec();
    }

    QTimer::singleShot(300, &window, [&] {
        if (scene == "rename") {
            SelectNames(window, {"notes.md"});
            window
                .findChild<QAction*>(
                    QStringLiteral("command%1").arg(static_cast<int>(Command::Rename)))
                ->trigger();
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
