// BuilderFixture.h - the main window on the scripted platform, for tests.
//
// Each test gets a private temporary folder (also $TMPDIR, so the window's
// workspace and the gzip codec's files land there), scripted messages,
// dialogs, shell, cursor and drag, and helpers that write packs and disk
// files.
#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QToolBar>
#include <QTreeView>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "archive/PackArchive.h"
#include "archive/TempWorkspace.h"
#include "builder/BuilderDlg.h"
#include "platform/FileSystem.h"
#include "platform/Scripted.h"
#include "tests/support/TestPacks.h"

namespace crateforge {

// The window with a way to wire commands that part of the program does not
// handle here, so their states can be watched.
class TestWindow : public CBuilderDlg {
  public:
    using CBuilderDlg::CBuilderDlg;
    void WireForTest(Command command, std::function<void()> handler) {
        WireCommand(command, std::move(handler));
    }
};

// The bar a progress control draws into; null for a control that draws none.
inline QProgressBar* BarOf(ProgressControl* control) {
    auto* drawn = dynamic_cast<QtProgressControl*>(control);
    return drawn != nullptr ? drawn->Bar() : nullptr;
}

// A command's action in `window`, found by its object name.
inline QAction* CommandActionOf(QWidget& window, Command command) {
    return window.findChild<QAction*>(QStringLiteral("command%1").arg(static_cast<int>(command)));
}

class BuilderTest : public ::testing::Test {
  protected:
    BuilderTest() {
        const char* previous = std::getenv("TMPDIR");
        if (previous != nullptr) {
            savedTmp = previous;
            hadTmp = true;
        }
        setenv("TMPDIR", temp.Path().c_str(), 1);
    }
    ~BuilderTest() override {
        window.reset();
        if (hadTmp) {
            setenv("TMPDIR", savedTmp.c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }

    TestWindow& MakeWindow(std::vector<std::string> arguments = {}) {
        BuilderServices services;
        services.messages = messagesInstead != nullptr ? messagesInstead : &messages;
        services.dialogs = &dialogs;
        services.shell = &shell;
        services.cursor = &cursor;
        services.drag = &drag;
        window = std::make_unique<TestWindow>(services);
        argStorage = std::move(arguments);
        argv.clear();
        argv.push_back(program.data());
        for (std::string& arg : argStorage) {
            argv.push_back(arg.data());
        }
        commandLine = CBuilderCommandLineInfo();
        ParseCommandLine(commandLine, static_cast<int>(argv.size()), argv.data());
        window->commandLine = &commandLine;
        window->show();
        window->OnInitDialog();
        Settle();
        return *window;
    }

    // Lets queued updates run.
    static void Settle() {
        for (int i = 0; i < 3; ++i) {
            QApplication::processEvents();
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

    std::string WritePack(const std::string& name, const testpacks::Folder& root) {
        return temp.Write(name, testpacks::BuildPack(root));
    }
    std::string WriteOldPack(const std::string& name,
                             const std::vector<testpacks::OldEntry>& entries) {
        return temp.Write(name, testpacks::BuildOldPack(entries));
    }
    std::string WriteFile(const std::string& name, std::size_t length, std::uint32_t seed = 1) {
        return temp.Write(name, testpacks::SampleBytes(length, seed));
    }
    std::string MakeDir(const std::string& name) {
        std::string path = temp.File(name);
        ::mkdir(path.c_str(), 0755);
        return path;
    }

    // A pack with folders and files: root has Docs (2 files) and Empty, and
    // the files b.txt, A.bin, c.dat.
    std::string SamplePack(const std::string& name = "sample.vpf") {
        using pack::PackMethod;
        using testpacks::File;
        using testpacks::Folder;
        Folder docs("Docs", {File("readme.txt", testpacks::ToBytes(std::string(3000, 'r')),
                                  PackMethod::Gzip),
                             File("notes.md", testpacks::SampleBytes(200, 3))});
        Folder root("",
                    {File("b.txt", testpacks::ToBytes(std::string(500, 'b')), PackMethod::Gzip),
                     File("A.bin", testpacks::SampleBytes(1200, 5)),
                     File("c.dat", testpacks::SampleBytes(40, 7))},
                    {docs, Folder("Empty")});
        return WritePack(name, root);
    }

    QTreeView& List() { return *window->ListView(); }
    // The cell of a row and column in the list's model.
    QModelIndex Cell(int row, int column = 0) { return List().model()->index(row, column); }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int row = 0; row < window->ListControlImpl()->RowCount(); ++row) {
            names.push_back(window->ListControlImpl()->RowText(row, 0));
        }
        return names;
    }
    int RowOf(const std::string& name) {
        for (int row = 0; row < window->ListControlImpl()->RowCount(); ++row) {
            if (window->ListControlImpl()->RowText(row, 0) == name) {
                return row;
            }
        }
        return -1;
    }
    void Select(std::initializer_list<const char*> names) {
        List().clearSelection();
        for (const char* name : names) {
            int row = RowOf(name);
            ASSERT_GE(row, 0) << name;
            window->ListControlImpl()->SelectRow(row, true);
        }
        Settle();
    }
    // The entry of a file row; null for folder rows and "..".
    const PackEntry* EntryOf(int row) {
        return window->Archive()->FileAt(window->ListControlImpl()->Key(row));
    }
    std::string Title() { return window->windowTitle().toStdString(); }
    // A widget or action of the window by its object name; the test fails
    // when there is none.
    template <class T>
    T* Named(const char* name) {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QAction* Action(Command command) {
        QAction* action = CommandActionOf(*window, command);
        EXPECT_NE(action, nullptr) << static_cast<int>(command);
        return action;
    }
    QProgressBar* MainBar() { return Named<QProgressBar>("progressBar"); }
    std::string TotalText() { return Named<StatusField>("totalText")->text().toStdString(); }
    std::string SelectedText() { return Named<StatusField>("selectedText")->text().toStdString(); }
    bool On(Command command) { return Action(command)->isEnabled(); }

    testpacks::TempDir temp;
    ScriptedMessages messages;
    ScriptedDialogs dialogs;
    ScriptedShell shell;
    ScriptedCursor cursor;
    ScriptedDrag drag;
    // When set before MakeWindow, the window's messages go here instead.
    MessageService* messagesInstead = nullptr;
    std::unique_ptr<TestWindow> window;
    CBuilderCommandLineInfo commandLine;
    std::string program = "crateforge";
    std::vector<std::string> argStorage;
    std::vector<char*> argv;
    std::string savedTmp;
    bool hadTmp = false;
};

}  // namespace crateforge
