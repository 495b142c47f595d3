// vpf does all it was asked or says plainly what it did not: case clashes
// named by full path, a name that is both a file and a folder refused, the
// temporary folder, files that change while read, --overwrite and what it
// may replace. Each case checks the exit status, the message, and what is on
// disk and in the pack afterwards.
#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "format/Names.h"
#include "tests/tools/VpfRunner.h"

namespace vpftest {
namespace {

using testpacks::File;
using testpacks::Folder;
using testpacks::ToBytes;

class HonestyTest : public VpfTest {
  protected:
    // Every regular file below `root` (links followed), relative paths.
    static void Walk(const std::string& root, const std::string& rel,
                     std::vector<std::string>& out) {
        DIR* d = opendir((root + "/" + rel).c_str());
        if (!d)
            return;
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = rel.empty() ? name : rel + "/" + name;
            struct stat st;
            if (stat((root + "/" + path).c_str(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode))
                Walk(root, path, out);
            else if (S_ISREG(st.st_mode))
                out.push_back(path);
        }
        closedir(d);
    }
};

// The system's C headers as a real tree: everything comes back except the
// files whose names clash with another's but for letter case, and those are
// named one by one with their full disk path.
TEST_F(HonestyTest, SystemHeadersComeBackExceptTheNamedCaseClashes) {
    const std::string root = "/usr/include";
    struct stat st;
    if (stat((root + "/linux").c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        GTEST_SKIP() << "no kernel headers installed";
    std::vector<std::string> files;
    Walk(root, "linux", files);
    std::sort(files.begin(), files.end());
    // A clash is a file whose folded path was taken by a file before it in
    // the walk's byte order (folders first come in their own order).
    std::map<std::string, std::string> first;  // folded path -> the file that has it
    std::set<std::string> clashes;
    std::string differing;  // a clash whose content differs from its twin's
    for (const std::string& f : files) {
        const auto [it, added] = first.emplace(pack::FoldedName(f), f);
        if (added)
            continue;
        clashes.insert(f);
        if (testpacks::ReadFile(root + "/" + f) != testpacks::ReadFile(root + "/" + it->second))
            differing = f;
    }

    RunResult r = Run({"create", "-q", "h.vpf", "-C", root, "linux"});
    ASSERT_EQ(r.code, clashes.empty() ? 0 : 1) << r.err;
    std::set<std::string> named;
    for (std::size_t at = 0; at < r.err.size();) {
        const std::size_t nl = r.err.find('\n', at);
        const std::string line = r.err.substr(at, nl - at);
        at = nl + 1;
        const std::string head = "vpf: cannot pack " + root + "/";
        ASSERT_EQ(line.rfind(head, 0), 0u) << line;
        const std::string path =
            line.substr(head.size(), line.find(':', head.size()) - head.size());
        EXPECT_NE(line.find("is taken by " + root + "/"), std::string::npos) << line;
        EXPECT_NE(line.find("names in a pack ignore letter case"), std::string::npos) << line;
        named.insert(path);
    }
    EXPECT_EQ(named, clashes);

    r = Run({"extract", "-q", "h.vpf", "-C", "out"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> back;
    Walk(Path("out"), "linux", back);
    EXPECT_EQ(back.size() + clashes.size(), files.size());
    for (const std::string& f : files) {
        if (clashes.count(f)) {
            EXPECT_FALSE(Exists("out/" + f)) << f;
            continue;
        }
        ASSERT_TRUE(Exists("out/" + f)) << f;
        EXPECT_TRUE(testpacks::ReadFile(root + "/" + f) == Read("out/" + f)) << f;
    }

    // Settled in advance, a clash is no failure: --keep packs the first of
    // two, --overwrite the later one.
    if (differing.empty())
        return;
    const std::string clash = differing;
    r = Run({"create", "-q", "--keep", "k.vpf", "-C", root, "linux"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    r = Run({"create", "-q", "--overwrite", "o.vpf", "-C", root, "linux"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"cat", "o.vpf", clash}).out, ReadText(root + "/" + clash));
    EXPECT_NE(Run({"cat", "k.vpf", clash}).out, ReadText(root + "/" + clash));
}

TEST_F(HonestyTest, TwoFilesOfOneNameButForCaseAreNamedInAnyTree) {
    MakeDir("t");
    Write("t/Read.me", "first");
    Write("t/read.ME", "second");
    Write("t/other", "o");
    const RunResult r = Run({"create", "p.vpf", "t"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("vpf: cannot pack t/read.ME: its name in the pack, t/read.ME, is taken "
                         "by t/Read.me (names in a pack ignore letter case; --overwrite takes "
                         "the later file, --keep the first)\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("packed 2 files, "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("; 1 name was not packed (see above)"), std::string::npos) << r.err;
    EXPECT_EQ(Run({"list", "p.vpf"}).out, "t/\nt/Read.me\nt/other\n");
    // The same file named twice is packed once, without a word.
    const RunResult twice = Run({"create", "-q", "q.vpf", "t/other", "./t/other", "t"});
    EXPECT_EQ(twice.code, 1);  // the case clash inside t again, nothing else
    EXPECT_EQ(std::count(twice.err.begin(), twice.err.end(), '\n'), 1) << twice.err;
    // Two files of exactly one name from two folders given with -C.
    MakeDir("u");
    Write("u/other", "u's other");
    RunResult r2 = Run({"create", "-q", "r.vpf", "-C", "t", "other", "-C", "../u", "other"});
    EXPECT_EQ(r2.code, 1);
    EXPECT_EQ(r2.err,
              "vpf: cannot pack t/../u/other: its name in the pack, other, is taken by t/other "
              "(--overwrite takes the later file, --keep the first)\n");
    r2 = Run({"create", "-q", "--overwrite", "s.vpf", "-C", "t", "other", "-C", "../u", "other"});
    EXPECT_EQ(r2.code, 0) << r2.err;
    EXPECT_EQ(Run({"cat", "s.vpf", "other"}).out, "u's other");
    // Folders whose names differ only in case share one folder of the pack,
    // and that is said.
    MakeDir("v");
    MakeDir("v/Dir");
    MakeDir("v/dir");
    Write("v/Dir/a", "a");
    Write("v/dir/b", "b");
    r2 = Run({"create", "-q", "w.vpf", "v"});
    EXPECT_EQ(r2.code, 1);
    EXPECT_EQ(r2.err,
              "vpf: v/dir went into the folder v/Dir of v/Dir: names in a pack ignore letter "
              "case\n");
    EXPECT_EQ(Run({"list", "w.vpf"}).out, "v/\nv/Dir/\nv/Dir/a\nv/Dir/b\n");
    EXPECT_EQ(Run({"create", "-q", "--keep", "x.vpf", "v"}).code, 0);
}

TEST_F(HonestyTest, DotNamesAreOrdinaryNames) {
    MakeDir("t");
    MakeDir("t/.git");
    Write("t/.git/config", "[core]");
    Write("t/.env", "KEY=1");
    Write("t/...", "three dots");
    ASSERT_EQ(Run({"create", "-q", "p.vpf", "t"}).code, 0);
    EXPECT_EQ(Run({"list", "p.vpf"}).out, "t/\nt/...\nt/.env\nt/.git/\nt/.git/config\n");
    ASSERT_EQ(Run({"extract", "-q", "p.vpf", "-C", "o"}).code, 0);
    EXPECT_EQ(ReadString("o/t/.git/config"), "[core]");
    EXPECT_EQ(ReadString("o/t/..."), "three dots");
}

// A pack folder may hold a file and a folder of one name. rm, mv and
// extract never act on both; they say how to choose.
TEST_F(HonestyTest, ANameThatIsBothAFileAndAFolderIsRefusedUntilChosen) {
    Folder root;
    root.files.push_back(File("x", ToBytes("the file x")));
    root.files.push_back(File("y", ToBytes("y")));
    Folder x("x");
    x.files.push_back(File("inner.txt", ToBytes("inside the folder x")));
    root.folders = {x};
    Write("p.vpf", testpacks::BuildPack(root));
    const Bytes pack = Read("p.vpf");
    const std::string hint =
        "x is both a file and a folder; write x/ for the folder, or use --file-only for the file";

    RunResult r = Run({"rm", "p.vpf", "x"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vpf: p.vpf: " + hint + "; it was not removed\n");
    EXPECT_EQ(Read("p.vpf"), pack);
    r = Run({"mv", "p.vpf", "x", "z"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vpf: p.vpf: " + hint + "; nothing was moved\n");
    EXPECT_EQ(Read("p.vpf"), pack);
    r = Run({"extract", "-q", "p.vpf", "-C", "o", "x"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vpf: p.vpf: " + hint + "; it was left alone\n");
    EXPECT_FALSE(Exists("o/x"));
    // list shows both.
    EXPECT_EQ(Run({"list", "p.vpf", "x"}).out, "x\nx/\nx/inner.txt\n");

    // Chosen: the folder, then the file.
    r = Run({"extract", "-q", "p.vpf", "-C", "of", "x/"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadString("of/x/inner.txt"), "inside the folder x");
    r = Run({"extract", "-q", "--file-only", "p.vpf", "-C", "oF", "x"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadString("oF/x"), "the file x");
    // Everything at once: the file goes to disk, the folder cannot follow
    // it under the same name, and says how to get it.
    r = Run({"extract", "-q", "p.vpf", "-C", "all"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("vpf: p.vpf: cannot extract the folder x/: the file x of the same name "
                         "was extracted as all/x; extract the folder on its own into another "
                         "folder (-C DIR 'x/')\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadString("all/x"), "the file x");
    EXPECT_EQ(ReadString("all/y"), "y");

    r = Run({"mv", "-q", "--file-only", "p.vpf", "x", "z"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", "p.vpf"}).out, "z\ny\nx/\nx/inner.txt\n");
    r = Run({"rm", "-q", "--file-only", "p.vpf", "y"});
    EXPECT_EQ(r.code, 0) << r.err;
    r = Run({"rm", "-q", "p.vpf", "x/"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", "p.vpf"}).out, "z\n");
    EXPECT_EQ(Run({"cat", "p.vpf", "z"}).out, "the file x");
    EXPECT_EQ(Run({"check", "-q", "p.vpf"}).code, 0);
}

// vpf codes gzip in memory: a temporary folder that is missing, read-only
// or full changes nothing for create, add and check. Only a pack read from
// a pipe needs it, and then the message says so.
TEST_F(HonestyTest, TheTemporaryFolderIsNeededOnlyForAPipe) {
    MakeTree();
    Write("afile", "not a folder");
    for (const std::string& tmp : {Path("missing"), Path("afile")}) {
        setenv("TMPDIR", tmp.c_str(), 1);
        unlink(Path("p.vpf").c_str());
        RunResult r = Run({"create", "-q", "p.vpf", "src"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(Run({"list", "-l", "p.vpf"}).out.find("  gzip    src/sub/n.txt"),
                  std::string::npos);
        Write("more.txt", std::string(5000, 'm'));
        r = Run({"add", "-q", "p.vpf", "more.txt"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(Run({"list", "-l", "p.vpf"}).out.find("  gzip    more.txt"), std::string::npos);
        r = Run({"check", "p.vpf"});
        EXPECT_EQ(r.code, 0) << r.err;
        // Standard input redirected from the pack file is read in place.
        r = RunWithInput({"list", "-q", "-"}, Path("p.vpf"));
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, Run({"list", "p.vpf"}).out);
        // A pipe must be copied first.
        for (const char* verb : {"list", "check", "extract"}) {
            r = RunShell(std::string("cat p.vpf | $VPF ") + verb + " -q -");
            EXPECT_EQ(r.code, 1) << verb;
            EXPECT_EQ(r.err, std::string("vpf: standard input: ") +
                                 (std::string(verb) == "check" ? "cannot check: " : "") +
                                 "cannot use the temporary folder " + tmp + ": " +
                                 (tmp == Path("missing") ? "No such file or directory"
                                                         : "Not a directory") +
                                 " (a pack read from a pipe is copied there first)\n")
                << verb;
            EXPECT_EQ(r.err.find("damaged"), std::string::npos);
        }
    }
    // A full folder: the copy fails part-way, and says so.
    setenv("TMPDIR", tmp_.c_str(), 1);
    const RunResult r = RunShell("cat p.vpf | (ulimit -f 2; $VPF check -)");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vpf: standard input: cannot check: cannot use the temporary folder " + tmp_ +
                         ": File too large (a pack read from a pipe is copied there first)\n");
    EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(HonestyTest, AFileThatChangesWhileItIsReadIsNamedAndNotPacked) {
    MakeDir("t");
    Write("t/steady.txt", "steady");
    // A kernel file says it is empty and then gives bytes.
    RunResult r = Run({"create", "-q", "p.vpf", "t", "/proc/self/status"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vpf: cannot pack /proc/self/status: it changed while it was read\n");
    EXPECT_EQ(Run({"list", "p.vpf"}).out, "t/\nt/steady.txt\n");

    // A log that grows while vpf reads it. vpf starts only once the writer
    // is appending, and the file is large enough that reading it takes a
    // while, so that a busy machine cannot fit the whole read between two
    // appends.
    Write("t/grow.log", testpacks::SampleBytes(48 << 20, 5));
    std::atomic<bool> stop{false};
    std::atomic<int> appends{0};
    std::thread writer([&] {
        const int fd = open(Path("t/grow.log").c_str(), O_WRONLY | O_APPEND);
        const std::string line(100, 'g');
        while (fd >= 0 && !stop.load()) {
            if (write(fd, line.data(), line.size()) < 0)
                break;
            ++appends;
        }
        if (fd >= 0)
            close(fd);
    });
    for (int i = 0; i < 5000 && appends.load() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (appends.load() == 0) {
        stop = true;
        writer.join();
        FAIL() << "the writer never appended";
    }
    r = Run({"create", "-q", "-j", "1", "q.vpf", "t"});
    stop = true;
    writer.join();
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vpf: cannot pack t/grow.log: it changed while it was read\n");
    EXPECT_EQ(Run({"list", "q.vpf"}).out, "t/\nt/steady.txt\n");
}

TEST_F(HonestyTest, OverwriteReplacesOnlyRegularFiles) {
    MakeTree();
    ASSERT_EQ(mkfifo(Path("fifo.vpf").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/null", Path("null.vpf").c_str()), 0);
    for (const char* target : {"fifo.vpf", "null.vpf"}) {
        const RunResult r = Run({"create", "--overwrite", target, "src"});
        EXPECT_EQ(r.code, 1) << target;
        EXPECT_EQ(r.err, std::string("vpf: ") + target +
                             ": not a regular file; --overwrite replaces only regular files (and "
                             "the regular file a link points to)\n");
    }
    struct stat st;
    ASSERT_EQ(lstat(Path("fifo.vpf").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    // A link to a regular file: the file it names is replaced, the link stays.
    Write("real.vpf", "old");
    ASSERT_EQ(symlink("real.vpf", Path("link.vpf").c_str()), 0);
    RunResult r = Run({"create", "-q", "--overwrite", "link.vpf", "src/a.txt"});
    EXPECT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(lstat(Path("link.vpf").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Run({"list", "real.vpf"}).out, "src/\nsrc/a.txt\n");

    // Extracting: a FIFO or a link to a device in the way is refused; a
    // link to a regular file is replaced by the file, what it named is kept.
    ASSERT_EQ(Run({"create", "-q", "p.vpf", "-C", "src", "a.txt", ".hidden", "sub"}).code, 0);
    MakeDir("o");
    ASSERT_EQ(mkfifo(Path("o/a.txt").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/null", Path("o/.hidden").c_str()), 0);
    MakeDir("o/sub");
    Write("victim", "victim");
    ASSERT_EQ(symlink(Path("victim").c_str(), Path("o/sub/n.txt").c_str()), 0);
    r = Run({"extract", "-q", "--overwrite", "p.vpf", "-C", "o"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("vpf: p.vpf: cannot extract a.txt: o/a.txt is not a regular file, and "
                         "only regular files are replaced\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("vpf: p.vpf: cannot extract .hidden: o/.hidden is a link to something "
                         "other than a regular file, and only regular files are replaced\n"),
              std::string::npos)
        << r.err;
    ASSERT_EQ(lstat(Path("o/a.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(lstat(Path("o/sub/n.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(Read("o/sub/n.txt"), Read("src/sub/n.txt"));
    EXPECT_EQ(ReadString("victim"), "victim");
    EXPECT_EQ(Names("o"), (std::vector<std::string>{".hidden", "a.txt", "sub"}));

    // convert follows the same rule for its target.
    std::vector<testpacks::OldEntry> old;
    old.emplace_back("a", ToBytes("a"));
    Write("old.dat", testpacks::BuildOldPack(old));
    r = Run({"convert", "--overwrite", "old.dat", "fifo.vpf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("fifo.vpf: not a regular file"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vpftest
