// The program ended by SIGTERM, SIGINT or SIGHUP cleans up like its close
// box; killed outright, its workspace goes at the next start. The program
// runs as a child process, headless, with a pack on its command line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>

#include "archive/TempWorkspace.h"
#include "builder/SignalExit.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "tests/support/TestPacks.h"

namespace crateforge {
namespace {

class SignalExitTest : public ::testing::Test {
  protected:
    SignalExitTest() {
        tmp = dir.File("tmp");
        ::mkdir(tmp.c_str(), 0700);
        pack = dir.Write("sample.vpf", testpacks::BuildPack(testpacks::Folder(
                                           "", {testpacks::File("a.txt", testpacks::ToBytes("a"))},
                                           {testpacks::Folder("Sub")})));
    }
    ~SignalExitTest() override {
        for (pid_t child : children) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }

    // Starts the program on the pack with a private TMPDIR and data folder.
    pid_t Start() {
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("TMPDIR", tmp.c_str(), 1);
            ::setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
            ::setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execl(CRATEFORGE_PROGRAM, CRATEFORGE_PROGRAM, pack.c_str(), nullptr);
            ::_exit(127);
        }
        children.push_back(child);
        return child;
    }

    // The marked workspaces in TMPDIR now.
    std::vector<std::string> Workspaces() const {
        std::vector<fs::DirEntry> names;
        fs::ListDirectory(tmp, names);
        std::vector<std::string> out;
        for (const fs::DirEntry& e : names) {
            const std::string path = fs::JoinPath(tmp, e.name);
            if (e.isDirectory && fs::PathExists(fs::JoinPath(path, kOwnerMarkName))) {
                out.push_back(path);
            }
        }
        return out;
    }

    // Waits (bounded, not a speed check) until `done` holds.
    template <class Done>
    static bool WaitFor(Done done) {
        for (int i = 0; i < 600; ++i) {
            if (done()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return done();
    }

    // Waits for the child to end; its status.
    int Reap(pid_t child) {
        int status = 0;
        const bool ended = WaitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; });
        if (ended) {
            children.erase(std::find(children.begin(), children.end(), child));
        }
        return ended ? status : -1;
    }

    testpacks::TempDir dir;
    std::string tmp;
    std::string pack;
    std::vector<pid_t> children;
};

TEST_F(SignalExitTest, EachEndingSignalRemovesTheWorkspace) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        const pid_t child = Start();
        ASSERT_TRUE(WaitFor([&] { return Workspaces().size() == 1; }));
        ASSERT_EQ(::kill(child, signal), 0);
        const int status = Reap(child);
        // Ended by the signal it got, after cleaning up.
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_TRUE(Workspaces().empty());
    }
}

TEST_F(SignalExitTest, AKilledRunsWorkspaceGoesAtTheNextStartNotBefore) {
    const pid_t first = Start();
    ASSERT_TRUE(WaitFor([&] { return Workspaces().size() == 1; }));
    const std::string left = Workspaces().front();
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    Reap(first);
    EXPECT_EQ(Workspaces(), std::vector<std::string>{left});  // nothing could clean up

    // Two runs side by side: the second start removes only the dead one's.
    const pid_t second = Start();
    ASSERT_TRUE(WaitFor([&] { return !fs::PathExists(left) && Workspaces().size() == 1; }));
    const std::string secondOwn = Workspaces().front();
    const pid_t third = Start();
    ASSERT_TRUE(WaitFor([&] { return Workspaces().size() == 2; }));
    EXPECT_TRUE(fs::PathExists(secondOwn));
    for (pid_t child : {second, third}) {
        ::kill(child, SIGTERM);
        Reap(child);
    }
    EXPECT_TRUE(Workspaces().empty());
}

// A window that never gets to close (a command that does not return): the
// first signal is only noted, a second one ends the process at once and
// takes the live temporary files with it.
TEST(SignalExit, ASecondSignalEndsAStuckRunAtOnceWithoutItsTemporaryFiles) {
    testpacks::TempDir dir;
    const std::string live = dir.Write("half-written.tmp", testpacks::ToBytes("partial"));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        int argc = 1;
        char name[] = "stuck";
        char* argv[] = {name, nullptr};
        QCoreApplication application(argc, argv);
        if (!SignalExit::Install([](int) {}) || fs::RegisterTempFile(live.c_str()) < 0) {
            ::_exit(2);
        }
        ::raise(SIGTERM);
        const char noted = SignalExit::Received() == SIGTERM ? 'y' : 'n';
        if (::write(fds[1], &noted, 1) != 1) {
            ::_exit(3);
        }
        ::raise(SIGTERM);
        ::_exit(4);  // never reached: the second signal ends the process
    }
    ::close(fds[1]);
    char noted = 0;
    EXPECT_EQ(::read(fds[0], &noted, 1), 1);
    ::close(fds[0]);
    EXPECT_EQ(noted, 'y');  // alive after the first
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_FALSE(fs::PathExists(live));
}

}  // namespace
}  // namespace crateforge
