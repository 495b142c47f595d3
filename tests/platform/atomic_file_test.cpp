// The atomic replace-write: a hidden sibling that becomes the target only
// when complete, the old file's mode, links, refusals, failures that keep
// the old file, and the in-place rewrite when the folder takes no new file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "tests/platform/Unprivileged.h"
#include "tests/support/TestPacks.h"

namespace crateforge {
namespace {

using testpacks::Bytes;
using testpacks::ToBytes;

class AtomicFileTest : public ::testing::Test {
  protected:
    std::vector<std::string> Names() const {
        std::vector<fs::DirEntry> entries;
        fs::ListDirectory(dir.Path(), entries);
        std::vector<std::string> out;
        for (const auto& e : entries)
            out.push_back(e.name);
        return out;
    }
    static bool WriteAll(fs::AtomicFile& file, const std::string& text) {
        return file.Write(text.data(), text.size());
    }
    static mode_t ModeOf(const std::string& path) {
        struct stat st {};
        stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
    testpacks::TempDir dir;
    pack::Fault fault;
};

TEST_F(AtomicFileTest, ANewFileAppearsWholeWithTheUsualMode) {
    const mode_t old = umask(022);
    const std::string target = dir.File("new.bin");
    {
        fs::AtomicFile file;
        ASSERT_TRUE(file.Begin(target, {}, fault)) << fault.Text();
        EXPECT_EQ(fs::ParentDirectory(file.TempPath()), dir.Path());
        EXPECT_EQ(std::string(fs::LastComponent(file.TempPath())).rfind(".new.bin.", 0), 0u);
        EXPECT_EQ(fs::LiveTempFileCount(), 1u);
        // Large and small writes mixed, across the buffer's size.
        const std::string big(700000, 'b');
        ASSERT_TRUE(WriteAll(file, "head "));
        ASSERT_TRUE(WriteAll(file, big));
        ASSERT_TRUE(WriteAll(file, " tail"));
        EXPECT_FALSE(fs::PathExists(target));  // nothing under the final name yet
        ASSERT_TRUE(file.Commit(fault)) << fault.Text();
        EXPECT_EQ(testpacks::ReadFile(target), ToBytes("head " + big + " tail"));
    }
    umask(old);
    EXPECT_EQ(ModeOf(target), 0644u);
    EXPECT_EQ(Names(), std::vector<std::string>{"new.bin"});
    EXPECT_EQ(fs::LiveTempFileCount(), 0u);
}

TEST_F(AtomicFileTest, AReplacedFileKeepsItsModeAndStaysUntilCommit) {
    const std::string target = dir.Write("pack.vpf", ToBytes("old contents"));
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(stat(target.c_str(), &before), 0);
    fs::AtomicFile file;
    ASSERT_TRUE(file.Begin(target, {}, fault)) << fault.Text();
    ASSERT_TRUE(WriteAll(file, "new"));
    EXPECT_EQ(testpacks::ReadFile(target), ToBytes("old contents"));
    ASSERT_TRUE(file.Commit(fault)) << fault.Text();
    EXPECT_EQ(testpacks::ReadFile(target), ToBytes("new"));
    EXPECT_EQ(ModeOf(target), 0640u);
    struct stat after {};
    ASSERT_EQ(stat(target.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(Names(), std::vector<std::string>{"pack.vpf"});
}

TEST_F(AtomicFileTest, LinksAreFollowedOnlyWhenAsked) {
    mkdir(dir.File("real").c_str(), 0755);
    const std::string named = dir.Write("real/pack.vpf", ToBytes("named"));
    const std::string link = dir.File("link.vpf");
    ASSERT_EQ(symlink("real/pack.vpf", link.c_str()), 0);  // relative, as users make them

    fs::AtomicFile through;
    fs::AtomicFileOptions follow;
    follow.followLink = true;
    ASSERT_TRUE(through.Begin(link, follow, fault)) << fault.Text();
    EXPECT_EQ(through.TargetPath(), named);
    ASSERT_TRUE(WriteAll(through, "via link"));
    ASSERT_TRUE(through.Commit(fault)) << fault.Text();
    EXPECT_TRUE(fs::IsSymlink(link));
    EXPECT_EQ(testpacks::ReadFile(named), ToBytes("via link"));

    // Not followed: the link is replaced and what it named is left alone.
    fs::AtomicFile over;
    ASSERT_TRUE(over.Begin(link, {}, fault)) << fault.Text();
    ASSERT_TRUE(WriteAll(over, "in place of the link"));
    ASSERT_TRUE(over.Commit(fault)) << fault.Text();
    EXPECT_FALSE(fs::IsSymlink(link));
    EXPECT_EQ(testpacks::ReadFile(link), ToBytes("in place of the link"));
    EXPECT_EQ(testpacks::ReadFile(named), ToBytes("via link"));

    // A dangling link followed creates the file it names.
    ASSERT_EQ(symlink("real/later.vpf", dir.File("dangling").c_str()), 0);
    fs::AtomicFile dangling;
    ASSERT_TRUE(dangling.Begin(dir.File("dangling"), follow, fault)) << fault.Text();
    ASSERT_TRUE(dangling.Commit(fault)) << fault.Text();
    EXPECT_TRUE(fs::PathExists(dir.File("real/later.vpf")));
    EXPECT_TRUE(fs::IsSymlink(dir.File("dangling")));
}

TEST_F(AtomicFileTest, TargetsThatAreNoRegularFileAreRefused) {
    mkdir(dir.File("folder").c_str(), 0755);
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0644), 0);
    struct Case {
        std::string path;
        const char* reason;
    } cases[] = {{dir.File("folder"), "Is a directory"},
                 {dir.File("fifo"), "not a regular file"},
                 {"/dev/null", "not a regular file"},
                 {dir.File("missing/x"), "No such file or directory"}};
    for (const Case& c : cases) {
        fs::AtomicFile file;
        EXPECT_FALSE(file.Begin(c.path, {}, fault)) << c.path;
        EXPECT_EQ(fault.kind, pack::FaultKind::Io);
        EXPECT_EQ(fault.reason, c.reason) << c.path;
        EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"fifo", "folder"}));
    EXPECT_EQ(fs::LiveTempFileCount(), 0u);
}

TEST_F(AtomicFileTest, AbortAndDestructionLeaveTheOldFile) {
    const std::string target = dir.Write("keep.txt", ToBytes("keep"));
    {
        fs::AtomicFile file;
        ASSERT_TRUE(file.Begin(target, {}, fault));
        ASSERT_TRUE(WriteAll(file, "lost"));
        file.Abort();
        file.Abort();
    }
    {
        fs::AtomicFile file;
        ASSERT_TRUE(file.Begin(target, {}, fault));
        ASSERT_TRUE(WriteAll(file, "lost too"));
    }
    EXPECT_EQ(testpacks::ReadFile(target), ToBytes("keep"));
    EXPECT_EQ(Names(), std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(fs::LiveTempFileCount(), 0u);
}

TEST_F(AtomicFileTest, WithoutReplaceAFileThatAppearedMeanwhileIsKept) {
    const std::string target = dir.File("race.txt");
    fs::AtomicFileOptions options;
    options.replace = false;
    fs::AtomicFile file;
    ASSERT_TRUE(file.Begin(target, options, fault));
    ASSERT_TRUE(WriteAll(file, "mine"));
    testpacks::WriteFile(target, ToBytes("theirs"));
    EXPECT_FALSE(file.Commit(fault));
    EXPECT_EQ(fault.reason, "File exists");
    EXPECT_EQ(testpacks::ReadFile(target), ToBytes("theirs"));
    EXPECT_EQ(Names(), std::vector<std::string>{"race.txt"});
}

TEST_F(AtomicFileTest, AWriteBeyondTheFileSizeLimitFailsAndKeepsTheOldFile) {
    const std::string target = dir.Write("limited.bin", ToBytes("previous"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // SIGXFSZ keeps its default action: the writer must not let it kill.
        signal(SIGXFSZ, SIG_DFL);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        fs::AtomicFile file;
        pack::Fault f;
        if (!file.Begin(target, {}, f))
            _exit(10);
        const std::string block(10000, 'x');
        file.Write(block.data(), block.size());
        file.Write(block.data(), block.size());
        if (file.Commit(f))
            _exit(11);
        _exit(f.reason == "File too large" ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(testpacks::ReadFile(target), ToBytes("previous"));
    EXPECT_EQ(Names(), std::vector<std::string>{"limited.bin"});
}

// A folder that takes no new file holding a file that may be written: the
// rewrite in place is the last resort, only when the caller allows it, and
// every way it can fail puts the old bytes back.
TEST_F(AtomicFileTest, InPlaceRewriteCommitsOrPutsTheOldBytesBack) {
    const Bytes previous = ToBytes("a longer previous version of the pack");
    const std::string target = dir.Write("pack.vpf", previous);
    const std::string shortSource = dir.Write("short.bin", ToBytes("0123456789"));
    testpriv::GiveAway(target);
    testpriv::MakeReachable(dir.Path());
    chmod(shortSource.c_str(), 0644);
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat(target.c_str(), &before), 0);

    enum : int { kOk = 0, kReachable = 20, kBeganWithoutInPlace, kWrongReason, kNoInPlace, kStep };
    enum class Ending { Commit, WriteThenAbort, ReserveBeyondLimit, SourceEndsEarly };
    struct Case {
        const char* what;
        Ending ending;
        Bytes expected;  // the target's bytes afterwards
    };
    const Case cases[] = {
        {"a commit", Ending::Commit, ToBytes("shorter")},
        {"an abort after a write", Ending::WriteThenAbort, previous},
        {"a reservation the size limit refuses", Ending::ReserveBeyondLimit, previous},
        {"a copy whose source ends early", Ending::SourceEndsEarly, previous},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int code = testpriv::RunUnprivileged([&] {
            if (access(target.c_str(), W_OK) != 0)
                return static_cast<int>(kReachable);
            pack::Fault f;
            fs::AtomicFile refused;
            if (refused.Begin(target, {}, f))
                return static_cast<int>(kBeganWithoutInPlace);
            if (f.reason != "Permission denied")
                return static_cast<int>(kWrongReason);
            fs::AtomicFileOptions options;
            options.allowInPlace = true;
            fs::AtomicFile file;
            if (!file.Begin(target, options, f) || !file.InPlace() || !file.TempPath().empty() ||
                file.BackupDescriptor() < 0)
                return static_cast<int>(kNoInPlace);
            const std::string text = "shorter";
            switch (c.ending) {
                case Ending::Commit:
                    if (!file.Reserve(text.size(), f) || !file.Write(text.data(), text.size()) ||
                        !file.Commit(f))
                        return kStep + 1;
                    break;
                case Ending::WriteThenAbort:
                    file.Write(std::string(100000, 'x').data(), 100000);
                    file.Abort();
                    if (!file.Restored())
                        return kStep + 2;
                    break;
                case Ending::ReserveBeyondLimit: {
                    signal(SIGXFSZ, SIG_IGN);
                    rlimit limit{4096, 4096};
                    setrlimit(RLIMIT_FSIZE, &limit);
                    if (file.Reserve(1 << 20, f) || f.reason != "File too large")
                        return kStep + 3;
                    file.Abort();
                    break;
                }
                case Ending::SourceEndsEarly: {
                    const int source = open(shortSource.c_str(), O_RDONLY);
                    file.Write(text.data(), text.size());
                    // Ten bytes are there; twenty are asked for.
                    if (file.CopyFrom(source, 0, 20) || file.WriteError() != ENODATA)
                        return kStep + 4;
                    close(source);
                    if (file.Commit(f) || f.reason != "the file copied from ended early" ||
                        !file.Restored())
                        return kStep + 5;
                    break;
                }
            }
            return fs::LiveTempFileCount() == 0 ? static_cast<int>(kOk) : kStep + 6;
        });
        if (code == testpriv::kCannotDrop || code == kReachable) {
            chmod(dir.Path().c_str(), 0700);
            GTEST_SKIP() << "the test folder cannot be reached without privileges";
        }
        EXPECT_EQ(code, kOk);
        EXPECT_EQ(testpacks::ReadFile(target), c.expected);
        struct stat after {};
        ASSERT_EQ(stat(target.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        if (c.ending == Ending::Commit)
            testpacks::WriteFile(target, previous);
    }
    chmod(dir.Path().c_str(), 0700);
    std::vector<std::string> names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"pack.vpf", "short.bin"}));
}

// What the sync calls of a commit saw, for the durability test below: which
// descriptor was synced and what the target held at that moment.
struct SyncLog {
    std::string target;
    Bytes newBytes;
    bool failFile = false;    // a sync of a regular file fails with EIO
    bool failFolder = false;  // a sync of a folder does
    std::vector<std::string> calls;
};
SyncLog g_syncLog;

int RecordingSync(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return -1;
    const bool folder = S_ISDIR(st.st_mode);
    const bool renamed = testpacks::ReadFile(g_syncLog.target) == g_syncLog.newBytes;
    g_syncLog.calls.push_back(
        (folder ? std::string("folder") : "file of " + std::to_string(st.st_size) + " bytes") +
        (renamed ? " after the rename" : " before the rename"));
    if (folder ? g_syncLog.failFolder : g_syncLog.failFile) {
        errno = EIO;
        return -1;
    }
    return fsync(fd);
}

// A durable replace syncs the new file before the rename and its folder
// after it, so that neither the bytes nor the name can be lost in a crash; a
// failed sync of the file fails the commit with the old file kept whole. A
// folder that cannot be synced after the rename costs nothing that was not
// already safe, so the commit stands.
TEST_F(AtomicFileTest, ADurableCommitSyncsTheFileBeforeTheRenameAndTheFolderAfter) {
    const std::string oldText = "old contents";
    const std::string newText = "the new contents, longer";
    const std::string fileSync = "file of " + std::to_string(newText.size()) + " bytes";
    struct Case {
        const char* name;
        bool durable;
        bool failFile;
        bool failFolder;
        bool commits;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"durable",
         true,
         false,
         false,
         true,
         {fileSync + " before the rename", "folder after the rename"}},
        {"not durable", false, false, false, true, {}},
        {"the file's sync fails", true, true, false, false, {fileSync + " before the rename"}},
        {"the folder's sync fails",
         true,
         false,
         true,
         true,
         {fileSync + " before the rename", "folder after the rename"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = dir.Write("pack.vpf", ToBytes(oldText));
        g_syncLog = SyncLog{target, ToBytes(newText), c.failFile, c.failFolder, {}};
        const fs::SyncCall previous = fs::ReplaceSyncCall(&RecordingSync);
        fs::AtomicFileOptions options;
        options.durable = c.durable;
        fs::AtomicFile file;
        bool committed = false;
        if (file.Begin(target, options, fault) && WriteAll(file, newText))
            committed = file.Commit(fault);
        fs::ReplaceSyncCall(previous);

        EXPECT_EQ(committed, c.commits) << fault.Text();
        EXPECT_EQ(g_syncLog.calls, c.calls);
        EXPECT_EQ(testpacks::ReadFile(target), ToBytes(c.commits ? newText : oldText));
        if (!c.commits) {
            EXPECT_EQ(fault.reason, pack::ErrnoText(EIO));
        }
        EXPECT_EQ(Names(), std::vector<std::string>{"pack.vpf"});
        EXPECT_EQ(fs::LiveTempFileCount(), 0u);
    }
}

// What a signal handler does at an interrupt: the half-written sibling goes,
// the old file stays.
TEST_F(AtomicFileTest, AnInterruptedWriteLeavesNoSibling) {
    const std::string target = dir.Write("big.vpf", ToBytes("whole"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGTERM, [](int) {
            fs::RemoveLiveTempFiles();
            _exit(0);
        });
        fs::AtomicFile file;
        pack::Fault f;
        if (!file.Begin(target, {}, f))
            _exit(1);
        const std::string block(1 << 20, 'z');
        file.Write(block.data(), block.size());
        raise(SIGTERM);
        _exit(2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(testpacks::ReadFile(target), ToBytes("whole"));
    EXPECT_EQ(Names(), std::vector<std::string>{"big.vpf"});
}

}  // namespace
}  // namespace crateforge
