// A save that fails tells the user, keeps the previous pack byte for byte and
// brings the document back to what is on disk.
#include "tests/archive/ArchiveFixture.h"

#include "archive/EntryData.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>

#include "platform/AtomicFile.h"
#include "tests/platform/Unprivileged.h"

namespace crateforge::test {
namespace {

class SaveFaultTest : public ArchiveTest {
  protected:
    // A saved pack with a subfolder "Sub" holding one file, shown in the list.
    void MakeSavedPack() {
        ASSERT_EQ(archive->CreateNew(PackPath()), 1);
        CPackFolder* sub = archive->MakeFolder(archive->Root(), "Sub").folder;
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
    pack::Fault lastFault;
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
        if (archive->FileCount() != 1 || archive->Root()->SubfolderCount() != 1)
            _exit(kNotReloaded);
        if (archive->Current() != archive->Root()->SubfolderAt(0) ||
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

// The disk takes every byte of the new pack but cannot promise to keep it:
// the save is a failure, and the pack on disk stays the previous one.
TEST_F(SaveFaultTest, AFailedSyncFailsTheSaveAndKeepsThePreviousPack) {
    MakeSavedPack();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(archive->AddFile(Source("new.bin", NoiseBytes(5000)), archive->Current()), 1);
    messages.Clear();
    const fs::SyncCall previous = fs::ReplaceSyncCall([](int fd) {
        struct stat st {};
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            errno = EIO;
            return -1;
        }
        return fsync(fd);
    });
    const int result = archive->Save();
    fs::ReplaceSyncCall(previous);

    EXPECT_EQ(result, 0);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text, "Unable to save the PackFile " + PackPath() +
                                            ": Input/output error. The previous version is kept.");
    EXPECT_EQ(testpacks::ReadFile(PackPath()), saved);
    EXPECT_TRUE(SaveLeftovers().empty());
    // The document shows what is on disk again.
    EXPECT_EQ(archive->FileCount(), 1u);
    EXPECT_EQ(list.Names(), (std::vector<std::string>{"..", "keep.txt"}));
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
    EXPECT_EQ(archive->Root()->FileCount(), 0u);
    EXPECT_EQ(list.RowCount(), 0);
}

TEST_F(SaveFaultTest, APackReplacedByAFolderIsLeftAlone) {
    MakeSavedPack();
    ASSERT_FALSE(HasFatalFailure());
    // Someone replaced the pack with a folder: nothing is written over it.
    ASSERT_EQ(unlink(PackPath().c_str()), 0);
    ASSERT_EQ(mkdir(PackPath().c_str(), 0755), 0);
    ASSERT_EQ(archive->AddFile(Source("more.txt", NoiseBytes(10)), archive->Current()), 1);
    messages.Clear();
    EXPECT_EQ(archive->Save(), 0);
    ASSERT_EQ(messages.Calls().size(), 2u);
    EXPECT_EQ(messages.Calls()[0].text,
              "The PackFile " + PackPath() +
                  " was changed by another program since it was loaded. It has been loaded "
                  "again as it is now, and the command was not applied.");
    EXPECT_TRUE(fs::IsDirectory(PackPath()));
    EXPECT_TRUE(SaveLeftovers().empty());
    // The pack cannot be read back either: the document is empty, and says so.
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
// save rewrites the pack in place; when that fails, the old bytes are put
// back and the document goes back to them.
TEST_F(SaveFaultTest, AFolderThatTakesNoNewFileGetsThePackRewrittenInPlace) {
    MakeSavedPack();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(archive->AddFile(Source("second.txt", TextBytes(2000, 9)), archive->Current()), 1);
    testpriv::GiveAway(PackPath());
    testpriv::MakeReachable(dir.Path());
    chmod(tmp.c_str(), 01777);  // the old bytes are kept aside there
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir.Path().c_str(), 0555), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat(PackPath().c_str(), &before), 0);
    enum : int { kUnreachable = 20, kSaveFailed, kMessage, kNotRewritten, kNotReloaded };

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
    const Bytes twoFiles = testpacks::ReadFile(PackPath());

    // The parent keeps the document as it was before the child saved; it
    // loads the pack again so that it knows the file as it is now.
    archive = MakeArchive();
    ASSERT_EQ(archive->Open(PackPath()), 1);
    ASSERT_EQ(archive->AddFile(Source("third.bin", NoiseBytes(50000)), archive->Root()), 1);
    const int failed = testpriv::RunUnprivileged([&] {
        signal(SIGXFSZ, SIG_DFL);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        messages.Clear();
        if (archive->Save() != 0)
            return static_cast<int>(kSaveFailed);
        if (messages.Calls().size() != 1 ||
            messages.Calls()[0].text != "Unable to save the PackFile " + PackPath() +
                                            ": File too large. The previous version is kept.")
            return static_cast<int>(kMessage);
        return archive->FileCount() == 2 ? 0 : static_cast<int>(kNotReloaded);
    });
    chmod(dir.Path().c_str(), 0700);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(testpacks::ReadFile(PackPath()), twoFiles);
    EXPECT_TRUE(SaveLeftovers().empty());
    EXPECT_TRUE(TmpLeftovers().empty());
}

// A tmpfs of its own, so that the disk really fills; unmounted at the end.
class SmallDisk {
  public:
    explicit SmallDisk(const std::string& where, std::size_t bytes) : path_(where) {
        mkdir(path_.c_str(), 0755);
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }

  private:
    std::string path_;
    bool mounted_ = false;
};

// The disk fills while the pack's folder takes no new file: the save is
// refused before anything is written, and the pack stays whole and readable
// whether the rewrite could not reserve its room or could not keep the old
// bytes aside.
TEST_F(SaveFaultTest, AFullDiskNeverCostsThePackInPlace) {
    struct Case {
        const char* what;
        std::size_t addedBytes;  // of noise, added before the save
        bool backupOnTheFullDisk;
        const char* reason;
    };
    const Case cases[] = {
        {"no room for the new length", 200000, false, "No space left on device"},
        {"no room for the copy of the old bytes", 1000, true, nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string mountPoint = dir.File("disk" + std::to_string(++n));
        SmallDisk disk(mountPoint, 256 * 1024);
        if (!disk.Mounted())
            GTEST_SKIP() << "no tmpfs can be mounted here";
        const std::string folder = mountPoint + "/packs";
        const std::string pack = folder + "/full.vpf";
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        {
            auto doc = MakeArchive();
            ASSERT_EQ(doc->CreateNew(pack), 1);
            ASSERT_EQ(doc->AddFile(Source("old.bin", NoiseBytes(100000)), doc->Root()), 1);
            ASSERT_EQ(doc->Save(), 1);
        }
        const Bytes before = testpacks::ReadFile(pack);
        testpriv::GiveAway(pack);
        testpriv::MakeReachable(dir.Path());
        chmod(src.c_str(), 0755);
        chmod(Source("new.bin", NoiseBytes(c.addedBytes, 3)).c_str(), 0644);
        const std::string tempDir = c.backupOnTheFullDisk ? mountPoint + "/tmp" : tmp;
        mkdir(tempDir.c_str(), 01777);
        chmod(tempDir.c_str(), 01777);
        if (c.backupOnTheFullDisk)  // leave less room than the pack takes
            testpacks::WriteFile(mountPoint + "/filler", NoiseBytes(120000));

        enum : int { kUnreachable = 20, kNotOpened, kNotAdded, kSaved, kMessage, kNotReloaded };
        const int code = testpriv::RunUnprivileged([&] {
            if (access(pack.c_str(), W_OK) != 0)
                return static_cast<int>(kUnreachable);
            setenv("TMPDIR", tempDir.c_str(), 1);
            auto doc = MakeArchive();
            if (doc->Open(pack) != 1)
                return static_cast<int>(kNotOpened);
            if (doc->AddFile(src + "/new.bin", doc->Root()) != 1)
                return static_cast<int>(kNotAdded);
            messages.Clear();
            if (doc->Save() != 0)
                return static_cast<int>(kSaved);
            const std::string prefix = "Unable to save the PackFile " + pack + ": ";
            const std::string expected =
                c.reason ? prefix + c.reason + ". The previous version is kept."
                         : prefix +
                               "its folder takes no new file, and no copy of it can be "
                               "kept in " +
                               tempDir +
                               " while it is rewritten in place: No space left on device. The "
                               "previous version is kept.";
            if (messages.Calls().size() != 1 || messages.Calls()[0].text != expected)
                return static_cast<int>(kMessage);
            return doc->FileCount() == 1 ? 0 : static_cast<int>(kNotReloaded);
        });
        if (code == testpriv::kCannotDrop || code == kUnreachable)
            GTEST_SKIP() << "the test folder cannot be reached without privileges";
        EXPECT_EQ(code, 0);
        EXPECT_EQ(testpacks::ReadFile(pack), before);
        auto check = MakeArchive();
        ASSERT_EQ(check->Open(pack), 1);
        pack::DecodedBytes bytes;
        ASSERT_TRUE(DecodeEntry(*check->Root()->FileAt(0), bytes, lastFault));
        EXPECT_EQ(Bytes(bytes.get(), bytes.get() + 100000), NoiseBytes(100000));
    }
}

// The file on disk is the truth: whatever another program did to the pack
// since this document loaded it, the save writes nothing, says so, and the
// document shows the pack as it is now.
TEST_F(SaveFaultTest, ChangesByAnotherProgramAreNeverOverwritten) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> change;
        std::uint32_t filesAfter;  // in the reloaded document; 0 when it cannot be read
    };
    const Case cases[] = {
        {"another document saved first",
         [&](const std::string& pack) {
             auto other = MakeArchive();
             ASSERT_EQ(other->Open(pack), 1);
             ASSERT_EQ(other->AddFile(Source("theirs.txt", TextBytes(100, 4)), other->Root()), 1);
             ASSERT_EQ(other->Save(), 1);
         },
         2},
        {"cut short", [](const std::string& pack) { ASSERT_EQ(truncate(pack.c_str(), 100), 0); },
         0},
        {"rewritten with the same bytes",
         [](const std::string& pack) {
             const Bytes same = testpacks::ReadFile(pack);
             struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
             testpacks::WriteFile(pack, same);
             ASSERT_EQ(utimensat(AT_FDCWD, pack.c_str(), times, 0), 0);
         },
         1},
        {"replaced by another pack",
         [&](const std::string& pack) {
             auto other = MakeArchive();
             const std::string elsewhere = PackPath("other.vpf");
             ASSERT_EQ(other->CreateNew(elsewhere), 1);
             ASSERT_EQ(other->AddFile(Source("a", TextBytes(10)), other->Root()), 1);
             ASSERT_EQ(other->AddFile(Source("b", TextBytes(20)), other->Root()), 1);
             ASSERT_EQ(other->AddFile(Source("c", TextBytes(30)), other->Root()), 1);
             ASSERT_EQ(other->Save(), 1);
             ASSERT_EQ(rename(elsewhere.c_str(), pack.c_str()), 0);
         },
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        archive = MakeArchive();
        ASSERT_EQ(archive->CreateNew(PackPath()), 1);
        ASSERT_EQ(archive->AddFile(Source("ours.txt", TextBytes(500)), archive->Root()), 1);
        ASSERT_EQ(archive->Save(), 1);
        c.change(PackPath());
        ASSERT_FALSE(HasFatalFailure());
        const Bytes changed = testpacks::ReadFile(PackPath());

        ASSERT_EQ(archive->AddFile(Source("mine.txt", TextBytes(700, 2)), archive->Root()), 1);
        messages.Clear();
        EXPECT_EQ(archive->Save(), 0);
        EXPECT_EQ(testpacks::ReadFile(PackPath()), changed);
        ASSERT_GE(messages.Calls().size(), 1u);
        EXPECT_EQ(messages.Calls()[0].text,
                  "The PackFile " + PackPath() +
                      " was changed by another program since it was loaded. It has been loaded "
                      "again as it is now, and the command was not applied.");
        EXPECT_EQ(archive->FileCount(), c.filesAfter);
        EXPECT_EQ(messages.Calls().size(), c.filesAfter == 0 ? 2u : 1u);
        EXPECT_EQ(archive->Root()->FindFile("mine.txt"), -1);
        if (c.filesAfter > 0) {
            // The document knows the pack as it is now: the next save goes through.
            ASSERT_EQ(archive->AddFile(Source("again.txt", TextBytes(70)), archive->Root()), 1);
            EXPECT_EQ(archive->Save(), 1);
            EXPECT_EQ(testpacks::ReadFile(PackPath()).size(), archive->PackSize());
        }
    }
}

// Unchanged files are copied from the open pack when a save writes them;
// when another program has cut that pack short meanwhile, the save fails
// and nothing appears under the new name.
TEST_F(SaveFaultTest, ASaveWhoseSourceWasCutShortWritesNothing) {
    MakeSavedPack();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(truncate(PackPath().c_str(), static_cast<off_t>(saved.size() - 100)), 0);
    messages.Clear();
    const std::string copy = PackPath("copy.vpf");
    EXPECT_EQ(archive->SaveAs(copy), 0);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text,
              "Unable to save the PackFile " + copy +
                  ": the PackFile its unchanged files are copied from was cut short by another "
                  "program.");
    EXPECT_FALSE(fs::PathExists(copy));
    EXPECT_TRUE(SaveLeftovers().empty());
}

// A pack the user may not write is never changed, not even by root, who
// passes every permission check; the document goes back to what is on disk.
TEST_F(SaveFaultTest, AReadOnlyPackIsNeverChanged) {
    MakeSavedPack();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(chmod(PackPath().c_str(), 0444), 0);
    ASSERT_EQ(archive->AddFile(Source("more.txt", NoiseBytes(10)), archive->Current()), 1);
    messages.Clear();
    EXPECT_EQ(archive->Save(), 0);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text, "Unable to save the PackFile " + PackPath() +
                                            ": it is read-only. Nothing was changed.");
    EXPECT_EQ(testpacks::ReadFile(PackPath()), saved);
    EXPECT_EQ(archive->FileCount(), 1u);
    EXPECT_EQ(list.Names(), (std::vector<std::string>{"..", "keep.txt"}));
    struct stat st {};
    ASSERT_EQ(stat(PackPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
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
