// POSIX file-system pieces and the scripted platform's own rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

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

    std::string reason;
    EXPECT_FALSE(fs::ListDirectory(dir.File("a") + "/x", names, &reason));
    EXPECT_EQ(reason, "Not a directory");
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
    std::string reason;
    EXPECT_EQ(fs::MakeWorkspaceDirectory(&reason), "");
    EXPECT_EQ(reason, "No such file or directory");
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
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
    std::string reason;
    EXPECT_TRUE(fs::RemoveTree(tree, &reason)) << reason;
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
        std::string reason;
        if (fs::RemoveTree(tree, &reason))
            return 30;
        return reason == "Permission denied" ? 0 : 31;
    });
    if (code == testpriv::kCannotDrop)
        GTEST_SKIP() << "privileges cannot be dropped here";
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(fs::PathExists(dir.File("tree/locked/file")));
    EXPECT_FALSE(fs::PathExists(dir.File("tree/loose")));
    EXPECT_FALSE(fs::PathExists(dir.File("tree/open")));
    // A path below a file cannot be looked at at all.
    std::string reason;
    EXPECT_FALSE(fs::RemoveTree(dir.File("tree/locked/file/x"), &reason));
    EXPECT_EQ(reason, "Not a directory");
}

}  // namespace
}  // namespace crateforge
