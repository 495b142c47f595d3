// vpf mount: a pack shown as a read-only file system through FUSE, driven
// through the real binary and the kernel. Every test mounts in its own
// folder and unmounts at the end, also when it fails. Where /dev/fuse
// cannot be used, each test is skipped with the reason.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>

#include "tests/support/SampleTree.h"
#include "tests/tools/VpfRunner.h"

namespace {

using testpacks::Bytes;
using vpftest::RunResult;

// Whether `path` (absolute) is a mount point now.
bool IsMounted(const std::string& path) {
    std::ifstream info("/proc/self/mountinfo");
    std::string line;
    while (std::getline(info, line)) {
        // Field 5 is the mount point (spaces and the like escaped as \040).
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 5 && fields >> field; ++i) {
        }
        std::string unescaped;
        for (std::size_t i = 0; i < field.size(); ++i) {
            if (field[i] == '\\' && i + 3 < field.size()) {
                unescaped += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
                i += 3;
            } else {
                unescaped += field[i];
            }
        }
        if (unescaped == path)
            return true;
    }
    return false;
}

// Processes other than this one that hold `path` open (a file system's
// server holds its pack).
std::vector<pid_t> ProcessesHolding(const std::string& path) {
    std::vector<pid_t> found;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* e = readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
            if (pid <= 0 || pid == getpid())
                continue;
            const std::string fds = "/proc/" + std::string(e->d_name) + "/fd";
            if (DIR* dir = opendir(fds.c_str())) {
                while (dirent* f = readdir(dir)) {
                    char target[4096];
                    const ssize_t n =
                        readlink((fds + "/" + f->d_name).c_str(), target, sizeof target - 1);
                    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == path) {
                        found.push_back(pid);
                        break;
                    }
                }
                closedir(dir);
            }
        }
        closedir(proc);
    }
    return found;
}

template <class Condition>
bool WaitFor(Condition condition, int milliseconds = 10000) {
    for (int waited = 0; waited < milliseconds; waited += 10) {
        if (condition())
            return true;
        usleep(10000);
    }
    return condition();
}

// Reads `length` bytes at `offset` of an open file; errno on failure.
struct ReadResult {
    Bytes bytes;
    int error = 0;
};
ReadResult ReadAt(int fd, std::uint64_t offset, std::size_t length) {
    ReadResult r;
    r.bytes.resize(length);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n =
            pread(fd, r.bytes.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            r.error = errno;
            break;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    r.bytes.resize(done);
    return r;
}

ReadResult ReadWhole(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return {{}, errno};
    ReadResult r = ReadAt(fd, 0, 1 << 22);
    close(fd);
    return r;
}

Bytes Slice(const Bytes& bytes, std::uint64_t offset, std::size_t length) {
    if (offset >= bytes.size())
        return {};
    const std::size_t n = std::min<std::size_t>(length, bytes.size() - offset);
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                 bytes.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

class MountTest : public vpftest::VpfTest {
  protected:
    void SetUp() override {
        const int fd = open("/dev/fuse", O_RDWR | O_CLOEXEC);
        if (fd < 0)
            GTEST_SKIP() << "FUSE cannot be used here: /dev/fuse does not open ("
                         << std::strerror(errno) << ")";
        close(fd);
        VpfTest::SetUp();
    }
    void TearDown() override {
        for (const std::string& dir : mounted_)
            if (IsMounted(dir))
                RunShell("fusermount3 -u -z '" + dir + "' 2>/dev/null || umount -l '" + dir +
                         "' 2>/dev/null");
        VpfTest::TearDown();
    }

    // The sample tree in "tree" and its pack in `pack`.
    void MakeSample(const std::string& pack = "sample.vpf") {
        MakeDir("tree");
        Write(pack, testpacks::WriteSampleTree(Path("tree")));
    }

    // Mounts `pack` on the new folder `dir`; the test fails unless vpf says
    // it mounted and the folder is a mount point.
    RunResult Mount(const std::string& pack, const std::string& dir, int code = 0) {
        MakeDir(dir);
        mounted_.push_back(Path(dir));
        const RunResult r = Run({"mount", pack, dir});
        EXPECT_EQ(r.code, code) << r.err;
        EXPECT_TRUE(IsMounted(Path(dir))) << r.err;
        return r;
    }

    std::vector<std::string> mounted_;
};

TEST_F(MountTest, ShowsEveryFolderAndFileWithItsSizeModesAndThePacksTimes) {
    MakeSample();
    Mount("sample.vpf", "mnt");
    ASSERT_TRUE(IsMounted(Path("mnt")));
    const RunResult diff = RunShell("diff -r tree mnt");
    EXPECT_EQ(diff.code, 0) << diff.out << diff.err;
    EXPECT_EQ(diff.out, "");

    struct stat pack;
    ASSERT_EQ(stat(Path("sample.vpf").c_str(), &pack), 0);
    // Every entry of the mount against the tree on disk.
    std::function<void(const std::string&)> walk = [&](const std::string& rel) {
        for (const std::string& name : Names("mnt" + rel)) {
            const std::string child = rel + "/" + name;
            struct stat shown, disk;
            ASSERT_EQ(lstat(Path("mnt" + child).c_str(), &shown), 0) << child;
            ASSERT_EQ(lstat(Path("tree" + child).c_str(), &disk), 0) << child;
            EXPECT_EQ(S_ISDIR(shown.st_mode), S_ISDIR(disk.st_mode)) << child;
            EXPECT_EQ(shown.st_mode & 07777, S_ISDIR(shown.st_mode) ? 0555u : 0444u) << child;
            EXPECT_EQ(shown.st_uid, getuid()) << child;
            EXPECT_EQ(shown.st_mtim.tv_sec, pack.st_mtim.tv_sec) << child;
            EXPECT_EQ(shown.st_mtim.tv_nsec, pack.st_mtim.tv_nsec) << child;
            if (S_ISDIR(shown.st_mode))
                walk(child);
            else
                EXPECT_EQ(shown.st_size, disk.st_size) << child;
        }
    };
    walk("");
    struct statvfs fs;
    ASSERT_EQ(statvfs(Path("mnt").c_str(), &fs), 0);
    EXPECT_NE(fs.f_flag & ST_RDONLY, 0u);
}

TEST_F(MountTest, FindsNamesInAnyLetterCaseAndListsThemAsStored) {
    MakeSample();
    Mount("sample.vpf", "mnt");
    ASSERT_TRUE(IsMounted(Path("mnt")));
    const struct {
        const char* asked;
        const char* stored;  // nullptr: must not be found
    } cases[] = {
        {"data/gzip.txt", "Data/Gzip.Txt"},
        {"DATA/LZRW.TXT", "Data/Lzrw.Txt"},
        {"dAtA/sToReD.BiN", "Data/Stored.bin"},
        {"data/deep/DEEPER/deepest/LEAF.TXT", "Data/Deep/Deeper/Deepest/leaf.txt"},
        {"MIXED CASE/upper.txt", "Mixed Case/UPPER.TXT"},
        {"mixed case/CAF\xe9.TXT", "Mixed Case/caf\xe9.txt"},
        {"README.txt", "Readme.TXT"},
        // Only A-Z and a-z fold: the Latin-1 capital of 0xE9 is another name.
        {"Mixed Case/caf\xc9.txt", nullptr},
        {"Data/Gzip.Txt.", nullptr},
    };
    for (const auto& c : cases) {
        const ReadResult r = ReadWhole(Path("mnt/" + std::string(c.asked)));
        if (!c.stored) {
            EXPECT_EQ(r.error, ENOENT) << c.asked;
            continue;
        }
        EXPECT_EQ(r.error, 0) << c.asked;
        EXPECT_EQ(r.bytes, Read("tree/" + std::string(c.stored))) << c.asked;
    }
    // A folder found in another case lists what the folder holds.
    EXPECT_EQ(Names("mnt/mixed case"), Names("tree/Mixed Case"));
    EXPECT_EQ(Names("mnt/Mixed Case"),
              (std::vector<std::string>{"CamelCase.Json", "UPPER.TXT", "caf\xe9.txt",
                                        "sp ace & $ymbols!.txt"}));
}

TEST_F(MountTest, ReadsEveryMethodAtAnyOffset) {
    MakeSample();
    Mount("sample.vpf", "mnt");
    ASSERT_TRUE(IsMounted(Path("mnt")));
    for (const char* name : {"Data/Stored.bin", "Data/Gzip.Txt", "Data/Lzrw.Txt",
                             "Data/odd size.lzrw", "empty.dat", "empty coded.gz"}) {
        const Bytes disk = Read("tree/" + std::string(name));
        const int fd = open(Path("mnt/" + std::string(name)).c_str(), O_RDONLY);
        ASSERT_GE(fd, 0) << name;
        const std::uint64_t size = disk.size();
        std::vector<std::pair<std::uint64_t, std::size_t>> reads = {
            {0, 1},
            {4095, 4096},
            {size / 2, 300000},
            {size ? size - 1 : 0, 1},
            {size - size / 3, 1 << 20},
            {size, 10},
            {size + 4096, 10},
        };
        std::mt19937_64 random(42);
        for (int i = 0; i < 200 && size > 0; ++i)
            reads.push_back({random() % size, 1 + random() % 70000});
        for (const auto& [offset, length] : reads) {
            const ReadResult r = ReadAt(fd, offset, length);
            EXPECT_EQ(r.error, 0) << name << " at " << offset;
            ASSERT_EQ(r.bytes, Slice(disk, offset, length)) << name << " at " << offset;
        }
        close(fd);
    }
}

TEST_F(MountTest, EveryChangeFailsAsReadOnly) {
    MakeSample();
    Mount("sample.vpf", "mnt");
    ASSERT_TRUE(IsMounted(Path("mnt")));
    const std::string file = Path("mnt/Data/Gzip.Txt");
    const std::string folder = Path("mnt/Data/Deep/Empty Folder");
    const std::string missing = Path("mnt/Data/new.txt");
    const struct {
        const char* what;
        std::function<int()> attempt;  // -1 with errno on failure
    } changes[] = {
        {"open for writing", [&] { return open(file.c_str(), O_WRONLY); }},
        {"open for reading and writing", [&] { return open(file.c_str(), O_RDWR); }},
        {"open with truncation", [&] { return open(file.c_str(), O_RDONLY | O_TRUNC); }},
        {"create", [&] { return open(missing.c_str(), O_WRONLY | O_CREAT, 0644); }},
        {"make a folder", [&] { return mkdir(missing.c_str(), 0755); }},
        {"remove a folder", [&] { return rmdir(folder.c_str()); }},
        {"remove a file", [&] { return unlink(file.c_str()); }},
        {"rename", [&] { return rename(file.c_str(), missing.c_str()); }},
        {"link", [&] { return link(file.c_str(), missing.c_str()); }},
        {"symbolic link", [&] { return symlink("Gzip.Txt", missing.c_str()); }},
        {"change the mode", [&] { return chmod(file.c_str(), 0644); }},
        {"truncate", [&] { return truncate(file.c_str(), 0); }},
        {"set the times", [&] { return utimensat(AT_FDCWD, file.c_str(), nullptr, 0); }},
        {"set an attribute", [&] { return setxattr(file.c_str(), "user.x", "1", 1, 0); }},
    };
    for (const auto& change : changes) {
        errno = 0;
        const int result = change.attempt();
        if (result >= 0 && std::string(change.what).starts_with("open"))
            close(result);
        EXPECT_EQ(result, -1) << change.what;
        EXPECT_EQ(errno, EROFS) << change.what;
    }
    EXPECT_EQ(RunShell("diff -r tree mnt").code, 0);
}

TEST_F(MountTest, PackReplacedOnDiskIsServedAsMountedAndOneChangedInPlaceFailsReads) {
    MakeSample();
    // Replaced through a new file renamed into place, as packs are saved:
    // the mounted pack is still served, whole.
    Mount("sample.vpf", "mnt");
    ASSERT_TRUE(IsMounted(Path("mnt")));
    Write("other.vpf", testpacks::BuildPack(testpacks::Folder(
                           "", {{"Readme.TXT", testpacks::ToBytes("other\n")}},
                           {testpacks::Folder("Data", {{"Gzip.Txt", Bytes(10, 'x')}})})));
    ASSERT_EQ(rename(Path("other.vpf").c_str(), Path("sample.vpf").c_str()), 0);
    EXPECT_EQ(RunShell("diff -r tree mnt").code, 0);

    // Changed in place: nothing read after the change may be the new bytes;
    // a file not read before fails with an input/output error.
    testpacks::PackLayout layout;
    const Bytes original = testpacks::BuildPack(testpacks::SampleFolder(), &layout);
    Write("inplace.vpf", original);
    Mount("inplace.vpf", "mnt2");
    ASSERT_TRUE(IsMounted(Path("mnt2")));
    // Files in entry order: the root's three, then Data's Stored.bin and
    // Gzip.Txt.
    const std::size_t stored = layout.dataOffsets[3] + pack::kDataBlockHeaderSize;
    const std::size_t gzip = layout.dataOffsets[4] + pack::kDataBlockHeaderSize;
    {
        const int fd = open(Path("inplace.vpf").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        const Bytes garbage(4096, 0x5A);
        ASSERT_EQ(pwrite(fd, garbage.data(), garbage.size(), static_cast<off_t>(stored)), 4096);
        ASSERT_EQ(pwrite(fd, garbage.data(), garbage.size(), static_cast<off_t>(gzip + 100)), 4096);
        close(fd);
    }
    for (const char* name : {"Data/Stored.bin", "Data/Gzip.Txt"}) {
        const ReadResult r = ReadWhole(Path("mnt2/" + std::string(name)));
        if (r.error == 0)
            EXPECT_EQ(r.bytes, Read("tree/" + std::string(name))) << name;
        else
            EXPECT_EQ(r.error, EIO) << name;
    }
    // This file system notices the change (its size and time, and a watch
    // on the open pack) and fails.
    EXPECT_EQ(ReadWhole(Path("mnt2/Data/Stored.bin")).error, EIO);

    // Cut short: reads fail, never return fewer bytes than the size shown.
    Write("short.vpf", original);
    Mount("short.vpf", "mnt3");
    ASSERT_TRUE(IsMounted(Path("mnt3")));
    ASSERT_EQ(truncate(Path("short.vpf").c_str(), static_cast<off_t>(stored + 10)), 0);
    const ReadResult cut = ReadWhole(Path("mnt3/Data/Stored.bin"));
    EXPECT_EQ(cut.error, EIO);
    EXPECT_EQ(ReadWhole(Path("mnt3/Data/Lzrw.Txt")).error, EIO);
}

TEST_F(MountTest, NamesAreMappedToPathsAsExtractWritesThemAndUnsafeOnesAreNamed) {
    // Old packs store paths as names; other writers may store anything.
    Write("old.dat", testpacks::BuildOldPack({{"maps\\x.map", testpacks::ToBytes("x")},
                                              {"maps\\sub\\y.map", testpacks::ToBytes("y")},
                                              {"\\lead.txt", testpacks::ToBytes("l")},
                                              {"..\\evil.txt", testpacks::ToBytes("e")},
                                              {"a\\\\b", testpacks::ToBytes("b")},
                                              {"maps\\x.map", testpacks::ToBytes("again")}}));
    const RunResult mounted = Mount("old.dat", "mnt", 1);
    for (const char* said :
         {"..\\\\evil.txt: not shown in the mount: a \"..\" component",
          "a\\\\\\\\b: not shown in the mount: an empty component",
          "maps\\\\x.map: not shown in the mount: an earlier file has the same name",
          "mounted on mnt, but 3 names are not shown"})
        EXPECT_NE(mounted.err.find(said), std::string::npos) << said << "\n" << mounted.err;
    EXPECT_EQ(Names("mnt"), (std::vector<std::string>{"lead.txt", "maps"}));
    EXPECT_EQ(Read("mnt/MAPS/SUB/Y.MAP"), testpacks::ToBytes("y"));
    EXPECT_EQ(Read("mnt/maps/x.map"), testpacks::ToBytes("x"));
    // The same paths as extraction writes (names that differ only in letter
    // case apart: the pack holds one of them, a disk may hold both).
    const RunResult extracted = Run({"extract", "-q", "old.dat", "-C", "out"});
    EXPECT_EQ(extracted.code, 1) << extracted.err;
    const RunResult diff = RunShell("diff -r out mnt");
    EXPECT_EQ(diff.code, 0) << diff.out << diff.err;
}

TEST_F(MountTest, DamagedFileFailsItsOwnOpenOnly) {
    using M = pack::PackMethod;
    testpacks::Folder root("", {{"good.txt", testpacks::ToBytes("good\n"), M::Gzip},
                                {"bad gzip.txt", testpacks::SampleBytes(5000), M::Gzip},
                                {"bad lzrw.txt", testpacks::SampleBytes(5000), M::Lzrw3a},
                                {"bad method.txt", testpacks::ToBytes("x"), M::Stored},
                                {"short stored.txt", testpacks::ToBytes("abc"), M::Stored}});
    root.files[1].stored = testpacks::SampleBytes(800, 5);
    root.files[2].stored = Bytes{0, 0, 0, 0, 0xFF, 0xFF, 1};
    root.files[3].methodByte = 7;
    root.files[4].originalSize = 10;
    Write("damaged.vpf", testpacks::BuildPack(root));
    Mount("damaged.vpf", "mnt");
    ASSERT_TRUE(IsMounted(Path("mnt")));
    EXPECT_EQ(Names("mnt"),
              (std::vector<std::string>{"bad gzip.txt", "bad lzrw.txt", "bad method.txt",
                                        "good.txt", "short stored.txt"}));
    for (const char* name : {"bad gzip.txt", "bad lzrw.txt", "bad method.txt", "short stored.txt"})
        EXPECT_EQ(ReadWhole(Path("mnt/" + std::string(name))).error, EIO) << name;
    EXPECT_EQ(ReadWhole(Path("mnt/good.txt")).bytes, testpacks::ToBytes("good\n"));
}

TEST_F(MountTest, UnmountEndsTheServerAndCtrlCEndsAForegroundMount) {
    MakeSample();
    Mount("sample.vpf", "mnt");
    ASSERT_TRUE(IsMounted(Path("mnt")));
    const std::string pack = Path("sample.vpf");
    ASSERT_EQ(ProcessesHolding(pack).size(), 1u) << "one process serves the mount";
    ASSERT_EQ(RunShell("fusermount3 -u mnt").code, 0);
    EXPECT_FALSE(IsMounted(Path("mnt")));
    EXPECT_TRUE(WaitFor([&] { return ProcessesHolding(pack).empty(); }))
        << "the server is still running after the unmount";

    MakeDir("fg");
    mounted_.push_back(Path("fg"));
    const pid_t pid = Start({VPF_BINARY, "mount", "-f", "sample.vpf", "fg"}, "/dev/null", 0);
    ASSERT_TRUE(WaitFor([&] { return IsMounted(Path("fg")); })) << ReadString(".err");
    EXPECT_EQ(Read("fg/Data/Lzrw.Txt"), Read("tree/Data/Lzrw.Txt"));
    kill(-pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(IsMounted(Path("fg")));
}

TEST_F(MountTest, RefusesWhatItCannotMountAndLeavesNothingMounted) {
    MakeSample();
    Write("text.vpf", "not a pack at all, just some text\n");
    Write("a file", "x");
    MakeDir("mnt");
    const struct {
        std::vector<std::string> args;
        int code;
        const char* says;
    } cases[] = {
        {{"mount", "text.vpf", "mnt"}, 1, "text.vpf: not a PackFile"},
        {{"mount", "missing.vpf", "mnt"}, 1, "missing.vpf"},
        {{"mount", "sample.vpf", "no such folder"}, 1, "no such folder: cannot mount there"},
        {{"mount", "sample.vpf", "a file"}, 1, "a file: cannot mount there"},
        {{"mount", "sample.vpf"}, 2, "too few arguments"},
        {{"mount", "sample.vpf", "mnt", "more"}, 2, "too many arguments"},
        {{"mount", "--cache=lots", "sample.vpf", "mnt"}, 2, "--cache"},
        {{"mount", "-j", "2", "sample.vpf", "mnt"}, 2, "does not apply to mount"},
    };
    for (const auto& c : cases) {
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.code, c.code) << c.says << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(IsMounted(Path("mnt"))) << c.says;
    }
}

TEST_F(MountTest, WorksForAnUnprivilegedUser) {
    if (getuid() != 0)
        GTEST_SKIP() << "running as a user already: every mount of this suite is unprivileged";
    struct stat device;
    if (stat("/dev/fuse", &device) != 0 || (device.st_mode & 0006) != 0006)
        GTEST_SKIP() << "/dev/fuse is not open to every user here: only root can use FUSE";
    if (RunShell("command -v setpriv").code != 0)
        GTEST_SKIP() << "setpriv is missing: cannot run as another user";
    MakeSample();
    ASSERT_EQ(chmod(dir_.Path().c_str(), 0755), 0);
    MakeDir("mnt");
    ASSERT_EQ(chown(Path("mnt").c_str(), 65534, 65534), 0);
    mounted_.push_back(Path("mnt"));
    const RunResult r = RunShell(
        "setpriv --reuid=65534 --regid=65534 --clear-groups \"$VPF\" mount sample.vpf mnt && "
        "setpriv --reuid=65534 --regid=65534 --clear-groups diff -r tree mnt && "
        "setpriv --reuid=65534 --regid=65534 --clear-groups fusermount3 -u mnt");
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_FALSE(IsMounted(Path("mnt")));
}

}  // namespace
