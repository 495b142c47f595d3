// The disk-folder walk: byte order, dot-names, links followed, cycles and
// everything else that is not visited reported with its reason.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/FolderWalk.h"
#include "tests/platform/Unprivileged.h"
#include "tests/support/TestPacks.h"

namespace crateforge {
namespace {

// Records the walk as lines: "+ name" entering, "- name" leaving, "f name
// size" for files, "! kind path: reason" for what was skipped; names are
// relative to the walked folder.
class Recorder : public fs::FolderVisitor {
  public:
    explicit Recorder(std::string top) : top_(std::move(top)) {}
    bool EnterFolder(const fs::WalkItem& folder) override {
        lines.push_back("+ " + Relative(folder.path) + (folder.viaLink ? " (link)" : ""));
        return folder.name != declined;
    }
    void LeaveFolder(const fs::WalkItem& folder) override {
        lines.push_back("- " + Relative(folder.path));
    }
    void VisitFile(const fs::WalkItem& file) override {
        lines.push_back("f " + Relative(file.path) + " " + std::to_string(file.size) +
                        (file.viaLink ? " (link)" : "") + " @" + std::to_string(file.depth));
    }
    void Skipped(const fs::WalkProblem& problem) override {
        static const char* kinds[] = {"list", "read", "cycle", "special", "deep"};
        lines.push_back(std::string("! ") + kinds[static_cast<int>(problem.kind)] + " " +
                        Relative(problem.path) + ": " + problem.reason);
    }
    std::vector<std::string> lines;
    std::string declined;

  private:
    std::string Relative(const std::string& path) const {
        return path.size() > top_.size() ? path.substr(top_.size() + 1) : ".";
    }
    std::string top_;
};

class FolderWalkTest : public ::testing::Test {
  protected:
    std::string Make(const std::string& relative, std::size_t size = 0) {
        return dir.Write(relative, testpacks::Bytes(size, 'x'));
    }
    std::string MakeDir(const std::string& relative) {
        const std::string path = dir.File(relative);
        mkdir(path.c_str(), 0755);
        return path;
    }
    std::vector<std::string> Walk(const std::string& relative, std::uint32_t maxDepth = 512,
                                  const std::string& declined = "") {
        std::string top = dir.File(relative);
        if (top.back() == '/')
            top.pop_back();
        Recorder recorder(top);
        recorder.declined = declined;
        pack::Fault fault;
        EXPECT_TRUE(fs::WalkFolder(dir.File(relative), recorder, maxDepth, fault)) << fault.Text();
        return recorder.lines;
    }
    testpacks::TempDir dir;
};

TEST_F(FolderWalkTest, EntriesInByteOrderDotNamesIncluded) {
    MakeDir("t");
    Make("t/b.txt", 3);
    Make("t/B.txt", 4);
    Make("t/.gitignore", 5);
    Make("t/.env", 6);
    MakeDir("t/.svn");
    Make("t/.svn/entries", 7);
    MakeDir("t/a");
    MakeDir("t/a/empty");
    Make("t/a/x", 1);
    EXPECT_EQ(Walk("t/"), (std::vector<std::string>{
                              "+ .",
                              "f .env 6 @1",
                              "f .gitignore 5 @1",
                              "+ .svn",
                              "f .svn/entries 7 @2",
                              "- .svn",
                              "f B.txt 4 @1",
                              "+ a",
                              "+ a/empty",
                              "- a/empty",
                              "f a/x 1 @2",
                              "- a",
                              "f b.txt 3 @1",
                              "- .",
                          }));
}

TEST_F(FolderWalkTest, LinksAreFollowedCyclesAndSpecialFilesReported) {
    MakeDir("t");
    MakeDir("t/sub");
    Make("t/sub/inner", 2);
    MakeDir("outside");
    Make("outside/o", 9);
    Make("t/real", 10);
    ASSERT_EQ(symlink("real", dir.File("t/alias").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("outside").c_str(), dir.File("t/elsewhere").c_str()), 0);
    ASSERT_EQ(symlink("..", dir.File("t/sub/up").c_str()), 0);  // back to t
    ASSERT_EQ(symlink(".", dir.File("t/sub/self").c_str()), 0);
    ASSERT_EQ(symlink("gone", dir.File("t/dangling").c_str()), 0);
    ASSERT_EQ(symlink("loop", dir.File("t/loop").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.File("t/fifo").c_str(), 0644), 0);
    EXPECT_EQ(Walk("t"), (std::vector<std::string>{
                             "+ .",
                             "f alias 10 (link) @1",
                             "! read dangling: No such file or directory",
                             "+ elsewhere (link)",
                             "f elsewhere/o 9 @2",
                             "- elsewhere",
                             "! special fifo: not a regular file",
                             "! read loop: Too many levels of symbolic links",
                             "f real 10 @1",
                             "+ sub",
                             "f sub/inner 2 @2",
                             "! cycle sub/self: a link back to a folder that holds it",
                             "! cycle sub/up: a link back to a folder that holds it",
                             "- sub",
                             "- .",
                         }));
}

TEST_F(FolderWalkTest, DepthLimitAndDeclinedFolders) {
    MakeDir("t");
    MakeDir("t/a");
    MakeDir("t/a/b");
    Make("t/a/b/deep", 1);
    Make("t/a/f", 1);
    EXPECT_EQ(Walk("t", 1), (std::vector<std::string>{
                                "+ .",
                                "+ a",
                                "! deep a/b: folders nested too deeply",
                                "f a/f 1 @2",
                                "- a",
                                "- .",
                            }));
    // A declined folder is neither entered nor reported by the walk.
    EXPECT_EQ(Walk("t", 512, "a"), (std::vector<std::string>{"+ .", "+ a", "- ."}));
}

TEST_F(FolderWalkTest, TheWalkedPathMustBeAListableFolder) {
    Make("file", 1);
    Recorder recorder(dir.Path());
    pack::Fault fault;
    EXPECT_FALSE(fs::WalkFolder(dir.File("file"), recorder, 512, fault));
    EXPECT_EQ(fault.reason, "Not a directory");
    EXPECT_FALSE(fs::WalkFolder(dir.File("missing"), recorder, 512, fault));
    EXPECT_EQ(fault.reason, "No such file or directory");
    EXPECT_TRUE(recorder.lines.empty());
    // A link to a folder is walked as the folder.
    MakeDir("real");
    Make("real/x", 4);
    ASSERT_EQ(symlink("real", dir.File("link").c_str()), 0);
    EXPECT_EQ(Walk("link"), (std::vector<std::string>{"+ . (link)", "f x 4 @1", "- ."}));
}

TEST_F(FolderWalkTest, AFolderThatCannotBeListedIsReported) {
    MakeDir("t");
    MakeDir("t/closed");
    Make("t/closed/secret", 1);
    Make("t/open", 1);
    testpriv::MakeReachable(dir.Path());
    testpriv::MakeReachable(dir.File("t"));
    ASSERT_EQ(chmod(dir.File("t/closed").c_str(), 0), 0);
    std::vector<std::string> lines;
    const std::string top = dir.File("t");
    const int code = testpriv::RunUnprivileged([&] {
        Recorder recorder(top);
        pack::Fault fault;
        if (!fs::WalkFolder(top, recorder, 512, fault))
            return 30;
        const std::vector<std::string> want = {"+ .", "! list closed: Permission denied",
                                               "f open 1 @1", "- ."};
        return recorder.lines == want ? 0 : 31;
    });
    chmod(dir.File("t/closed").c_str(), 0700);
    if (code == testpriv::kCannotDrop || code == 30)
        GTEST_SKIP() << "the test folder cannot be reached without privileges";
    EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace crateforge
