// ContentFixture.h - the main window with a pack open, for the tests of the
// content commands, View, drag-out, Extract and About.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "BuilderFixture.h"
#include "archive/PackArchive.h"
#include "builder/BuilderDlgCommands.h"

namespace crateforge {

class ContentTest : public BuilderTest {
  protected:
    // Opens the sample pack: root Docs (readme.txt, notes.md), Empty, and
    // the files b.txt, A.bin, c.dat.
    void OpenSample() {
        packPath = SamplePack();
        MakeWindow({"\\o", packPath});
        ASSERT_TRUE(window->PackOpen());
    }

    CContentCommands& Content() {
        auto* content = window->findChild<CContentCommands*>(QStringLiteral("contentCommands"));
        EXPECT_NE(content, nullptr);
        return *content;
    }

    void Trigger(Command command) {
        QAction* action = Action(command);
        ASSERT_NE(action, nullptr);
        ASSERT_TRUE(action->isEnabled()) << static_cast<int>(command);
        action->trigger();
        Settle();
    }

    // The names at the root of the pack as saved on disk (or in `folder`,
    // "a/b" for b inside a), read back by a fresh document: folders first,
    // then files, in stored order.
    std::vector<std::string> SavedNames(const std::string& folder = "") {
        ScriptedMessages quiet;
        ScriptedList list;
        CPackArchive reread(&quiet, &list, nullptr);
        if (reread.Open(packPath) == 0) {
            return {"<cannot open>"};
        }
        // "a/b" enters a, then b.
        for (std::size_t at = 0; at < folder.size();) {
            std::size_t slash = folder.find('/', at);
            if (slash == std::string::npos) {
                slash = folder.size();
            }
            reread.EnterFolder(folder.substr(at, slash - at));
            at = slash + 1;
        }
        std::vector<std::string> names = list.Names();
        if (!names.empty() && names.front() == "..") {
            names.erase(names.begin());
        }
        return names;
    }

    static std::string ReadText(const std::string& path) {
        testpacks::Bytes bytes = testpacks::ReadFile(path);
        return std::string(bytes.begin(), bytes.end());
    }
    static bool Exists(const std::string& path) {
        struct stat st;
        return ::lstat(path.c_str(), &st) == 0;
    }
    static mode_t Mode(const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
    }

    // Runs `drive` on the modal dialog of type T once it is open; closes
    // whatever modal window is left afterwards so a test never hangs.
    template <class T>
    static void WhenModal(std::function<void(T&)> drive) {
        QTimer::singleShot(0, [drive] {
            auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            if (dialog != nullptr) {
                drive(*dialog);
            }
            if (QWidget* left = QApplication::activeModalWidget()) {
                left->close();
            }
        });
    }

    std::string packPath;
};

}  // namespace crateforge
