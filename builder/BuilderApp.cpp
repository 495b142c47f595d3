// BuilderApp.cpp - start-up: registration, command line, main window.
#include "builder/BuilderApp.h"

#include <QApplication>
#include <memory>

#include "builder/BuilderDlg.h"
#include "builder/CommandLine.h"
#include "builder/QtPlatform.h"
#include "builder/Registration.h"
#include "builder/SignalExit.h"

namespace crateforge {

int CBuilderApp::InitInstance(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Crateforge"));
    QApplication::setOrganizationName(QStringLiteral("Varnholt Software"));
    InitBuilderResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/crateforge.svg")));

    // Written at every start; a failure only leaves the association stale.
    // An installed program registers itself as its installed entry names it.
    RegisterFileType(RegisteredProgramPath(QApplication::applicationFilePath(), SystemDataDirs()),
                     DataHome());

    // The arguments as the process got them: QApplication may have taken its
    // own options (such as -platform) out of argv already.
    auto commandLine = std::make_unique<CBuilderCommandLineInfo>();
    ParseCommandLine(*commandLine, argc, argv);

    // A logout, kill or Ctrl+C closes the window like its close box. The
    // handlers come first, so that no moment exists in which the workspace
    // is there but a signal would end the program without removing it.
    CBuilderDlg* closing = nullptr;
    SignalExit::Install([&closing](int) {
        if (closing != nullptr) {
            closing->RequestClose();
        }
    });
    int status = 0;
    {
        CBuilderDlg window;
        closing = &window;
        if (SignalExit::Received() != 0) {
            window.RequestClose();  // it came while the window was being built
        }
        window.commandLine = commandLine.get();
        window.show();
        window.OnInitDialog();
        if (window.isVisible() && !window.CloseRequested()) {
            status = application.exec();
        } else if (window.CloseRequested()) {
            // Asked to end during the command line: the close happens now.
            window.OnCancel();
        }
        closing = nullptr;
    }
    commandLine.reset();
    return status;
}

}  // namespace crateforge
