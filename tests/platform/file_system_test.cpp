// POSIX file-system pieces and the scripted platform's own rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "platform/FileSystem.h"
#include "tests/platform/Unprivileged.h"
#include "tests/support/TestPacks.h"

namespace crateforge {
namespace {

TEST(FileSystem, ListingIsSortedByteWiseAndDescribesLinks) {
    testpacks::TempDir dir;
    for (const char* name : {"b", "B", "a", "_", "Z.txt"})
        dir.Write(name, testpacks::ToBytes("12345"));
    mkdir(dir.File("sub").c_str(), 0700);
    ASSERT_EQ(symlink(dir.File("sub").c_str(), dir.File("linkdir").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("gone").c_str(), dir.File("dangling").c_str()), 0);

    std::vector<fs::DirEntry> names;
    ASSERT_TRUE(fs::ListDirectory(dir.Path(), names));
    std::vector<std::string> got;
    for (const auto& e : names)
        got.push_back(e.name);
    EXPECT_EQ(
        got, (std::vector<std::string>{"B", "Z.txt", "_", "a", "b", "dangling", "linkdir", "sub"}));
    EXPECT_TRUE(names[0].isRegular);
    EXPECT_EQ(names[0].size, 5u);
    EXPECT_TRUE(names[5].isSymlink);
    EXPECT_FALSE(names[5].isDirectory || names[5].isRegular);
    EXPECT_TRUE(names[6].isSymlink && names[6].isDirectory);
    EXPECT_TRUE(names[7].isDirectory && !names[7].isSymlink);
    EXPECT_TRUE(fs::IsDirectory(dir.File("linkdir")));
    EXPECT_FALSE(fs::IsDirectory(dir.File("linkdir"), false));
    EXPECT_TRUE(fs::PathExists(dir.File("dangling")));

    pack::Fault reason;
    EXPECT_FALSE(fs::ListDirectory(dir.File("a") + "/x", names, &reason));
    EXPECT_EQ(reason.reason, "Not a directory");
    EXPECT_TRUE(names.empty());
}

TEST(FileSystem, TemporaryDirectoryAndWorkspace) {
    testpacks::TempDir dir;
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", (dir.Path() + "//").c_str(), 1);
    EXPECT_EQ(fs::TempDirectory(), dir.Path());
    const std::string ws = fs::MakeWorkspaceDirectory();
    EXPECT_EQ(fs::ParentDirectory(ws), dir.Path());
    EXPECT_EQ(std::string(fs::LastComponent(ws)).substr(0, 3), "TMP");
    struct stat st;
    ASSERT_EQ(stat(ws.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    rmdir(ws.c_str());
    setenv("TMPDIR", "", 1);
    EXPECT_EQ(fs::TempDirectory(), P_tmpdir);
    setenv("TMPDIR", (dir.Path() + "/missing").c_str(), 1);
    pack::Fault reason;
    EXPECT_EQ(fs::MakeWorkspaceDirectory(&reason), "");
    EXPECT_EQ(reason.reason, "No such file or directory");
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

// A pipe copied into a nameless file: every byte, across the copy's blocks,
// up to the limit and not one more; a temporary folder that is not there and
// an input that cannot be read are told apart; nothing stays in the folder.
TEST(FileSystem, SpoolCopiesAPipeIntoANamelessFileOrSaysWhatFailed) {
    using Failure = fs::SpoolFailure;
    struct Case {
        const char* name;
        std::size_t size;
        std::uint64_t limit;
        bool missingFolder;
        bool readWriteEnd;  // read from the pipe's write end: EBADF
        Failure failure;
        int error;
    };
    const Case cases[] = {
        {"across blocks", 600000, 1 << 20, false, false, Failure::None, 0},
        {"exactly the limit", 5000, 5000, false, false, Failure::None, 0},
        {"one byte over the limit", 5001, 5000, false, false, Failure::TooLarge, EFBIG},
        {"no temporary folder", 10, 100, true, false, Failure::TempFolder, ENOENT},
        {"input not readable", 10, 100, false, true, Failure::Read, EBADF},
    };
    signal(SIGPIPE, SIG_IGN);  // a spool that stops early must fail the test, not end it
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testpacks::TempDir dir;
        testpacks::Bytes bytes(c.size);
        std::uint32_t seed = 12345;
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread writer([&] {
            fs::WriteAll(ends[1], bytes.data(), bytes.size());
            if (!c.readWriteEnd)
                close(ends[1]);
        });
        if (c.readWriteEnd)
            writer.join();
        Failure failure = Failure::None;
        errno = 0;
        const int fd = fs::SpoolToNamelessFile(c.readWriteEnd ? ends[1] : ends[0],
                                               c.missingFolder ? dir.File("missing") : dir.Path(),
                                               c.limit, failure);
        const int error = errno;
        close(ends[0]);  // the writer stops at a limit
        if (writer.joinable())
            writer.join();
        if (c.readWriteEnd)
            close(ends[1]);

        EXPECT_EQ(failure, c.failure);
        if (c.failure == Failure::None) {
            ASSERT_GE(fd, 0);
            testpacks::Bytes back(bytes.size());
            EXPECT_EQ(pread(fd, back.data(), back.size(), 0), static_cast<ssize_t>(bytes.size()));
            EXPECT_EQ(back, bytes);
            char more;
            EXPECT_EQ(pread(fd, &more, 1, static_cast<off_t>(bytes.size())), 0);
            close(fd);
        } else {
            EXPECT_EQ(fd, -1);
            EXPECT_EQ(error, c.error);
        }
        std::vector<fs::DirEntry> names;
        fs::ListDirectory(dir.Path(), names);
        EXPECT_TRUE(names.empty());
    }
}

TEST(FileSystem, PathHelpers) {
    EXPECT_EQ(fs::LastComponent("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(fs::LastComponent("c"), "c");
    EXPECT_EQ(fs::LastComponent("/a/b/"), "");
    EXPECT_EQ(fs::ParentDirectory("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(fs::ParentDirectory("c"), ".");
    EXPECT_EQ(fs::ParentDirectory("/c"), "/");
    EXPECT_EQ(fs::JoinPath("/a", "b"), "/a/b");
    EXPECT_EQ(fs::JoinPath("/a/", "b"), "/a/b");
}

TEST(FileSystem, RemoveTreeTakesLinksButNotWhatTheyName) {
    testpacks::TempDir dir;
    const std::string outside = dir.File("outside");
    mkdir(outside.c_str(), 0700);
    const std::string kept = dir.Write("outside/kept", testpacks::ToBytes("stays"));
    const std::string tree = dir.File("tree");
    mkdir(tree.c_str(), 0700);
    mkdir((tree + "/a").c_str(), 0755);
    mkdir((tree + "/a/b").c_str(), 0700);
    dir.Write("tree/a/b/deep", testpacks::ToBytes("x"));
    dir.Write("tree/top", testpacks::ToBytes("y"));
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/a/to-outside").c_str()), 0);
    ASSERT_EQ(symlink(kept.c_str(), (tree + "/to-file").c_str()), 0);
    ASSERT_EQ(mkfifo((tree + "/a/fifo").c_str(), 0600), 0);
    pack::Fault reason;
    EXPECT_TRUE(fs::RemoveTree(tree, &reason)) << reason.reason;
    EXPECT_FALSE(fs::PathExists(tree));
    EXPECT_EQ(testpacks::ReadFile(kept), testpacks::ToBytes("stays"));
    EXPECT_TRUE(fs::IsDirectory(outside));
    // Nothing there is nothing to do; a link given as the tree goes alone.
    EXPECT_TRUE(fs::RemoveTree(tree));
    ASSERT_EQ(symlink(outside.c_str(), tree.c_str()), 0);
    EXPECT_TRUE(fs::RemoveTree(tree));
    EXPECT_FALSE(fs::PathExists(tree));
    EXPECT_TRUE(fs::PathExists(kept));
}

TEST(FileSystem, RemoveTreeGoesOnPastWhatStaysAndSaysWhy) {
    testpacks::TempDir dir;
    testpriv::MakeReachable(dir.Path());
    const std::string tree = dir.File("tree");
    mkdir(tree.c_str(), 0755);
    mkdir((tree + "/locked").c_str(), 0755);
    dir.Write("tree/locked/file", testpacks::ToBytes("z"));
    dir.Write("tree/loose", testpacks::ToBytes("y"));
    mkdir((tree + "/open").c_str(), 0755);
    dir.Write("tree/open/inner", testpacks::ToBytes("x"));
    // The remover may change the tree but not the folder "locked".
    for (const char* path : {"tree", "tree/loose", "tree/open", "tree/open/inner"})
        testpriv::GiveAway(dir.File(path));
    const int code = testpriv::RunUnprivileged([&] {
        pack::Fault reason;
        if (fs::RemoveTree(tree, &reason))
            return 30;
        return reason.reason == "Permission denied" ? 0 : 31;
    });
    if (code == testpriv::kCannotDrop)
        GTEST_SKIP() << "privileges cannot be dropped here";
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(fs::PathExists(dir.File("tree/locked/file")));
    EXPECT_FALSE(fs::PathExists(dir.File("tree/loose")));
    EXPECT_FALSE(fs::PathExists(dir.File("tree/open")));
    // A path below a file cannot be looked at at all.
    pack::Fault reason;
    EXPECT_FALSE(fs::RemoveTree(dir.File("tree/locked/file/x"), &reason));
    EXPECT_EQ(reason.reason, "Not a directory");
}

}  // namespace
}  // namespace crateforge
