// Ending the window from outside a command (what a signal does), and what
// the next start does with the workspace of a run that was killed outright.
#include <sys/wait.h>
#include <unistd.h>

#include <QEventLoop>
#include <QMessageBox>
#include <QTest>

#include "ContentFixture.h"

namespace crateforge {
namespace {

class ClosingTest : public ContentTest {
  protected:
    std::vector<std::string> WorkspacesLeft() {
        std::vector<fs::DirEntry> names;
        fs::ListDirectory(temp.Path(), names);
        std::vector<std::string> out;
        for (const fs::DirEntry& e : names) {
            if (e.isDirectory && e.name.rfind("TMP", 0) == 0) {
                out.push_back(e.name);
            }
        }
        return out;
    }
};

// The workspace of a run that ends without its destructors, with a folder
// and a file in it, made by a child process.
std::string LeftByADeadRun() {
    int fds[2];
    if (::pipe(fds) != 0) {
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        auto* workspace = new CTempWorkspace();  // never destroyed, as by SIGKILL
        const std::string path = workspace->WorkspacePath();
        ::mkdir((path + "/Docs").c_str(), 0755);
        testpacks::WriteFile(path + "/Docs/readme.txt", testpacks::ToBytes("decoded"));
        const bool sent =
            ::write(fds[1], path.data(), path.size()) == static_cast<ssize_t>(path.size());
        ::_exit(sent ? 0 : 1);
    }
    ::close(fds[1]);
    char buffer[4096];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

TEST_F(ClosingTest, AStartRemovesTheWorkspaceOfARunThatWasKilled) {
    const std::string left = LeftByADeadRun();
    ASSERT_FALSE(left.empty());
    ASSERT_TRUE(Exists(left + "/Docs/readme.txt"));
    // A folder that only looks like a workspace is not ours to remove.
    const std::string lookalike = MakeDir("TMPabc123");
    OpenSample();
    EXPECT_FALSE(Exists(left));
    EXPECT_TRUE(Exists(lookalike));
    // The window's own workspace is there and marked as in use.
    ASSERT_TRUE(window->Workspace()->IsValid());
    EXPECT_TRUE(window->Workspace()->IsMarked());
    EXPECT_EQ(WorkspacesLeft().size(), 2u);  // the look-alike and the window's own

    // A second window beside it leaves the first one's workspace alone.
    BuilderServices services{&messages, &dialogs, &shell, &cursor, &drag};
    {
        CBuilderDlg second(services);
        EXPECT_TRUE(window->Workspace()->IsValid());
        EXPECT_TRUE(Exists(window->Workspace()->WorkspacePath()));
        EXPECT_EQ(WorkspacesLeft().size(), 3u);
    }
    EXPECT_EQ(WorkspacesLeft().size(), 2u);
}

TEST_F(ClosingTest, ACloseRequestEndsTheWindowLikeTheCloseBox) {
    OpenSample();
    Select({"Docs", "b.txt"});
    ASSERT_EQ(Content().WriteDragPaths().size(), 2u);
    const std::string workspace = window->Workspace()->WorkspacePath();
    ASSERT_TRUE(Exists(workspace + "/Docs/readme.txt"));

    window->RequestClose();
    window->RequestClose();  // twice is once
    Settle();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->Archive(), nullptr);
    EXPECT_EQ(window->Workspace(), nullptr);
    EXPECT_FALSE(Exists(workspace));
    EXPECT_TRUE(WorkspacesLeft().empty());
    EXPECT_TRUE(messages.Calls().empty());
}

TEST_F(ClosingTest, OnceAskedToCloseNoQuestionIsShownAndEachIsAnsweredAsClosed) {
    OpenSample();
    window->RequestClose();
    // Before the request is carried out, a command still running asks.
    Select({"c.dat"});
    Content().OnDelete();
    dialogs.QueueOpenFiles({WriteFile("x.bin", 10)});
    Content().OnAdd();
    EXPECT_TRUE(messages.Calls().empty());
    EXPECT_TRUE(dialogs.OpenRequests().empty());  // no dialog opens either
    EXPECT_EQ(SavedNames().size(), 5u);           // Delete was answered No
    Settle();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ClosingTest, ACloseRequestDuringAQuestionWaitsUntilTheCommandHasReturned) {
    // Real message boxes, so that the question runs a loop of its own.
    QtMessageService boxes(nullptr);
    messagesInstead = &boxes;
    OpenSample();
    const std::string fresh = WriteFile("fresh.bin", 3000, 11);
    const std::string clash = WriteFile("c.dat", 77, 12);  // asks before replacing
    const std::string later = WriteFile("later.bin", 500, 13);
    dialogs.QueueOpenFiles({fresh, clash, later});
    bool sawBox = false;
    QTimer::singleShot(0, [&] {
        sawBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
        window->RequestClose();
    });
    Trigger(Command::Add);
    EXPECT_TRUE(sawBox);
    // The question was answered as closed (No): c.dat kept. The command
    // added nothing more, but saved what it had added before the window
    // closed, with its document still there.
    const std::vector<std::string> saved = SavedNames();
    EXPECT_NE(std::find(saved.begin(), saved.end(), "fresh.bin"), saved.end());
    EXPECT_EQ(std::find(saved.begin(), saved.end(), "later.bin"), saved.end());
    ScriptedMessages quiet;
    CPackArchive reread(&quiet, nullptr, nullptr);
    ASSERT_EQ(reread.Open(packPath), 1);
    const int cDat = reread.Root()->FindFile("c.dat");
    ASSERT_GE(cDat, 0);
    EXPECT_EQ(reread.Root()->FileAt(cDat)->originalSize, 40u);
    QTRY_VERIFY(!window->isVisible());
    EXPECT_EQ(window->Workspace(), nullptr);
    EXPECT_TRUE(WorkspacesLeft().empty());
}

// A question that keeps its own loop running for a while whatever happens
// meanwhile (as a box a person is still looking at), then answers Yes.
class LingeringQuestion : public MessageService {
  public:
    MessageAnswer ShowMessage(std::string_view, std::string_view, MessageButtons) override {
        ++asked;
        QEventLoop loop;
        QTimer::singleShot(150, &loop, &QEventLoop::quit);
        loop.exec();
        return MessageAnswer::Yes;
    }
    int asked = 0;
};

TEST_F(ClosingTest, AQuestionThatStaysOpenKeepsTheWindowUntilTheCommandIsDone) {
    LingeringQuestion question;
    messagesInstead = &question;
    OpenSample();
    const std::string clash = WriteFile("c.dat", 77, 12);
    const std::string later = WriteFile("later.bin", 500, 13);
    dialogs.QueueOpenFiles({clash, later});
    QTimer::singleShot(10, [&] { window->RequestClose(); });
    Trigger(Command::Add);
    // Answered Yes while the close waited: c.dat replaced and saved.
    EXPECT_EQ(question.asked, 1);
    ScriptedMessages quiet;
    CPackArchive reread(&quiet, nullptr, nullptr);
    ASSERT_EQ(reread.Open(packPath), 1);
    const int cDat = reread.Root()->FindFile("c.dat");
    ASSERT_GE(cDat, 0);
    EXPECT_EQ(reread.Root()->FileAt(cDat)->originalSize, 77u);
    EXPECT_LT(reread.Root()->FindFile("later.bin"), 0);
    QTRY_VERIFY(!window->isVisible());
    EXPECT_TRUE(WorkspacesLeft().empty());
}

}  // namespace
}  // namespace crateforge
