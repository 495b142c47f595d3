// A save that fails tells the user, keeps the previous pack byte for byte and
// brings the document back to what is on disk.
#include "tests/archive/ArchiveFixture.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "tests/platform/Unprivileged.h"

namespace crateforge::test {
namespace {

class SaveFaultTest : public ArchiveTest {
  protected:
    // A saved pack with a subfolder "Sub" holding one file, shown in the list.
    void MakeSavedPack() {
        ASSERT_EQ(archive->CreateNew(PackPath()), 1);
        CPackFolder* sub = archive->Root()->AppendSubfolder("Sub");
        ASSERT_EQ(archive->AddFile(Source("keep.txt", TextBytes(3000)), sub), 1);
        ASSERT_EQ(archive->Save(), 1);
        archive->EnterFolder("Sub");
        saved = testpacks::ReadFile(PackPath());
    }
    std::vector<std::string> SaveLeftovers() const {
        std::vector<fs::DirEntry> names;
        fs::ListDirectory(dir.Path(), names);
        std::vector<std::string> out;
        for (const auto& e : names)
            if (e.name[0] == '.')
                out.push_back(e.name);
        return out;
    }
    Bytes saved;
};

// Child exit codes: which check failed.
enum : int { kOk = 0, kSaveSucceeded = 10, kNoMessage, kWrongMessage, kNotReloaded, kNotShown };

TEST_F(SaveFaultTest, FileSizeLimitFailsTheSaveAndKeepsThePreviousPack) {
    MakeSavedPack();
    ASSERT_FALSE(HasFatalFailure());
    const std::string bigFile = Source("big.bin", NoiseBytes(300000));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The file is coded before the limit applies; then the limit lets the
        // pack grow a little, but not by the new file. SIGXFSZ keeps its
        // default action: the save itself must not let it kill us.
        if (archive->AddFile(bigFile, archive->Current()) != 1)
            _exit(kSaveSucceeded + 20);
        messages.Clear();
        rlimit limit{saved.size() + 1000, saved.size() + 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        if (archive->Save() != 0)
            _exit(kSaveSucceeded);
        if (messages.Calls().size() != 1)
            _exit(kNoMessage);
        if (messages.Calls()[0].text != "Unable to save the PackFile " + PackPath() +
                                            ": File too large. The previous version is kept.")
            _exit(kWrongMessage);
        if (archive->FileCount() != 1 || archive->Root()->subfolders.size() != 1)
            _exit(kNotReloaded);
        if (archive->Current() != archive->Root()->subfolders[0].get() ||
            list.Names() != std::vector<std::string>{"..", "keep.txt"})
            _exit(kNotShown);
        _exit(kOk);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), kOk);
    EXPECT_EQ(testpacks::ReadFile(PackPath()), saved);
    EXPECT_TRUE(SaveLeftovers().empty());
}

TEST_F(SaveFaultTest, UnwritableFolderFailsANewPackBackToEmpty) {
    // A folder that cannot hold files even for root: a path below a file.
    const std::string plain = Source("plain", NoiseBytes(4));
    const std::string path = plain + "/new.vpf";
    ASSERT_EQ(archive->CreateNew(path), 1);
    ASSERT_EQ(archive->AddFile(Source("a.txt", NoiseBytes(10)), archive->Root()), 1);
    EXPECT_EQ(archive->Save(), 0);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].caption, kAppCaption);
    EXPECT_EQ(messages.Calls()[0].text,
              "Unable to save the PackFile " + path + ": Not a directory.");
    // Nothing of it is on disk, so the document holds nothing either.
    EXPECT_TRUE(archive->IsOpen());
    EXPECT_EQ(archive->FileCount(), 0u);
    EXPECT_EQ(archive->Root()->fileCount, 0u);
    EXPECT_EQ(list.RowCount(), 0);
}

TEST_F(SaveFaultTest, RenameOverADirectoryFailsAndCleansUp) {
    MakeSavedPack();
    ASSERT_FALSE(HasFatalFailure());
    // Someone replaced the pack with a directory: the final rename fails.
    ASSERT_EQ(unlink(PackPath().c_str()), 0);
    ASSERT_EQ(mkdir(PackPath().c_str(), 0755), 0);
    ASSERT_EQ(archive->AddFile(Source("more.txt", NoiseBytes(10)), archive->Current()), 1);
    messages.Clear();
    EXPECT_EQ(archive->Save(), 0);
    ASSERT_GE(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text, "Unable to save the PackFile " + PackPath() +
                                            ": Is a directory. The previous version is kept.");
    EXPECT_TRUE(fs::IsDirectory(PackPath()));
    EXPECT_TRUE(SaveLeftovers().empty());
    // The pack cannot be read back either: the document is empty, and says so.
    ASSERT_EQ(messages.Calls().size(), 2u);
    EXPECT_EQ(messages.Calls()[1].text.rfind("Unable to reload the PackFile " + PackPath(), 0), 0u);
    EXPECT_EQ(archive->FileCount(), 0u);
    EXPECT_EQ(archive->Current(), archive->Root());
}

TEST_F(SaveFaultTest, SaveKeepsPermissionBitsAndReplacesAtomically) {
    MakeSavedPack();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(chmod(PackPath().c_str(), 0640), 0);
    struct stat before;
    ASSERT_EQ(stat(PackPath().c_str(), &before), 0);
    ASSERT_EQ(archive->AddFile(Source("n.txt", NoiseBytes(5)), archive->Current()), 1);
    ASSERT_EQ(archive->Save(), 1);
    struct stat after;
    ASSERT_EQ(stat(PackPath().c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed into place
    EXPECT_TRUE(SaveLeftovers().empty());
    EXPECT_GT(testpacks::ReadFile(PackPath()).size(), saved.size());
}

TEST_F(SaveFaultTest, SaveThroughALinkWritesThePackItNames) {
    MakeSavedPack();
    ASSERT_FALSE(HasFatalFailure());
    const std::string link = dir.File("link.vpf");
    ASSERT_EQ(symlink(PackPath().c_str(), link.c_str()), 0);
    auto doc = MakeArchive();
    ASSERT_EQ(doc->Open(link), 1);
    ASSERT_EQ(doc->AddFile(Source("via-link", NoiseBytes(5)), doc->Root()), 1);
    ASSERT_EQ(doc->Save(), 1);
    EXPECT_TRUE(fs::IsSymlink(link));
    auto check = MakeArchive();
    ASSERT_EQ(check->Open(PackPath()), 1);
    EXPECT_EQ(check->FileCount(), 2u);
}

// A folder that takes no new file holding a pack that may be written: the
// save rewrites the pack in place; when even that fails, the user is told
// the pack is incomplete and the document keeps what it holds.
TEST_F(SaveFaultTest, AFolderThatTakesNoNewFileGetsThePackRewrittenInPlace) {
    MakeSavedPack();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(archive->AddFile(Source("second.txt", TextBytes(2000, 9)), archive->Current()), 1);
    testpriv::GiveAway(PackPath());
    testpriv::MakeReachable(dir.Path());
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat(PackPath().c_str(), &before), 0);
    enum : int { kUnreachable = 20, kSaveFailed, kMessage, kNotRewritten, kNotKept };

    const int saved = testpriv::RunUnprivileged([&] {
        if (access(PackPath().c_str(), W_OK) != 0)
            return static_cast<int>(kUnreachable);
        messages.Clear();
        if (archive->Save() != 1)
            return static_cast<int>(kSaveFailed);
        if (!messages.Calls().empty())
            return static_cast<int>(kMessage);
        CPackArchive reread(&messages, nullptr, nullptr);
        return reread.Open(PackPath()) == 1 && reread.FileCount() == 2
                   ? 0
                   : static_cast<int>(kNotRewritten);
    });
    if (saved == testpriv::kCannotDrop || saved == kUnreachable) {
        chmod(dir.Path().c_str(), 0700);
        GTEST_SKIP() << "the test folder cannot be reached without privileges";
    }
    EXPECT_EQ(saved, 0);
    struct stat after {};
    ASSERT_EQ(stat(PackPath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);  // the same file, rewritten
    EXPECT_TRUE(SaveLeftovers().empty());

    ASSERT_EQ(archive->AddFile(Source("third.bin", NoiseBytes(50000)), archive->Current()), 1);
    const int failed = testpriv::RunUnprivileged([&] {
        signal(SIGXFSZ, SIG_DFL);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        messages.Clear();
        if (archive->Save() != 0)
            return static_cast<int>(kSaveFailed);
        if (messages.Calls().size() != 1 ||
            messages.Calls()[0].text !=
                "Unable to save the PackFile " + PackPath() +
                    ": File too large. Its folder takes no new file, so it was being rewritten "
                    "in place and is now incomplete; the changes are still open here and the "
                    "next save writes them again.")
            return static_cast<int>(kMessage);
        return archive->FileCount() == 3 ? 0 : static_cast<int>(kNotKept);
    });
    chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(failed, 0);
    EXPECT_TRUE(SaveLeftovers().empty());
}

TEST_F(SaveFaultTest, ConvertedPackThatCannotBeSavedLeavesNoPack) {
    // The converted pack's name is taken by a directory.
    const std::string old = dir.Write(
        "game.dat", testpacks::BuildOldPack({testpacks::OldEntry("x", testpacks::ToBytes("x"))}));
    ASSERT_EQ(mkdir(dir.File("game.VPF").c_str(), 0755), 0);
    messages.Queue(MessageAnswer::Yes);
    EXPECT_EQ(archive->Open(old), 0);
    EXPECT_FALSE(archive->IsOpen());
    ASSERT_EQ(messages.Calls().size(), 2u);
    EXPECT_EQ(messages.Calls()[1].text,
              "Unable to save the PackFile " + dir.File("game.VPF") + ": Is a directory.");
    EXPECT_EQ(list.RowCount(), 0);
}

}  // namespace
}  // namespace crateforge::test
