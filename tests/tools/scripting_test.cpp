// vpf in scripts: packs through pipes both ways, file lists with odd names,
// excludes and wildcards, -C, dry runs, exact listings (--null, --json read
// back with Python's json module), listing one folder.
#include <sstream>

#include "tests/tools/VpfRunner.h"

namespace vpftest {
namespace {

class ScriptingTest : public VpfTest {
  protected:
    void Pack() {
        MakeTree();
        ASSERT_EQ(Run({"create", "-q", "p.vpf", "src"}).code, 0);
    }
};

TEST_F(ScriptingTest, PacksTravelThroughPipesBothWays) {
    MakeTree();
    ASSERT_EQ(Run({"create", "-q", "p.vpf", "src"}).code, 0);
    // To standard output: the same bytes as to a file.
    RunResult r = RunShell("$VPF create -q - src > s.vpf");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Read("s.vpf") == Read("p.vpf"));
    r = RunShell("$VPF create -q - src | $VPF list -");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, Run({"list", "p.vpf"}).out);
    EXPECT_EQ(r.err, "listed 4 files and 3 folders of standard input, 8.90 kB (4.23 kB packed)\n");
    r = RunShell("$VPF create -q - src | $VPF cat -q - src/sub/n.txt");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, ReadString("src/sub/n.txt"));
    r = RunShell("$VPF create -q - src | $VPF extract -q - -C out 'src/sub/*'");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read("out/src/sub/n.txt"), Read("src/sub/n.txt"));
    EXPECT_FALSE(Exists("out/src/a.txt"));
    // Standard output comes out before the summary on standard error.
    r = RunShell("$VPF list p.vpf 2>&1 | cat");
    EXPECT_EQ(r.out, Run({"list", "p.vpf"}).out + Run({"list", "p.vpf"}).err);
    r = RunShell("$VPF cat p.vpf src/a.txt 2>&1 | cat");
    EXPECT_EQ(r.out.rfind("hello\nwrote 1 file, 6 bytes, to standard output in ", 0), 0u) << r.out;
    r = RunShell("cat p.vpf | $VPF check -");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("standard input: OK, version 2.10, 4 files in 3 folders, ", 0), 0u);
    // Damage read from a pipe is damage, with its offset.
    r = RunShell("head -c 600 p.vpf | $VPF list -");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.rfind("vpf: standard input: damaged at offset ", 0), 0u) << r.err;
    EXPECT_TRUE(TempLeftovers().empty());  // the copy of the pipe had no name
    // Standard output that takes nothing: both ways say so once, exit 1.
    r = RunShell("$VPF create -q - src > /dev/full");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "vpf: standard output: No space left on device; the pack written there is "
              "incomplete\n");
    r = RunShell("$VPF cat -q p.vpf src/sub/n.txt > /dev/full");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vpf: standard output: No space left on device\n");
    // Verbs that change a pack in place need its file.
    r = Run({"add", "-", "src"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err,
              "vpf: add changes a pack file in place and cannot use \"-\"; name the pack file\n");
}

// find -print0 piped into -T - --null: a name with a new line in it goes in
// whole and comes back whole from list --null.
TEST_F(ScriptingTest, FileListsCarryAnyNameAndListNullGivesThemBack) {
    MakeDir("t");
    MakeDir("t/d");
    Write("t/line\nbreak.txt", "nl");
    Write("t/tab\there", "tab");
    Write("t/d/plain.txt", "plain");
    Write("t/d/skip.log", "log");
    RunResult r = RunShell("find t -print0 | $VPF create -q -T - --null p.vpf");
    ASSERT_EQ(r.code, 0) << r.err;
    r = Run({"list", "--null", "p.vpf"});
    ASSERT_EQ(r.code, 0);
    std::string expected;
    for (const char* name :
         {"t/", "t/line\nbreak.txt", "t/tab\there", "t/d/", "t/d/plain.txt", "t/d/skip.log"})
        expected += std::string(name) + '\0';
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(Run({"cat", "p.vpf", "t/line\nbreak.txt"}).out, "nl");
    // Through a pipe a plain listing gives the bytes as stored (on a
    // terminal they are escaped); --null is for names that hold a new line.
    EXPECT_NE(Run({"list", "p.vpf"}).out.find("t/line\nbreak.txt\n"), std::string::npos);

    // A list file, one name per line, taken from the -C folder in force.
    Write("names.txt", "plain.txt\nskip.log\n\n");
    r = Run({"create", "-q", "q.vpf", "-C", "t/d", "-T", Path("names.txt")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", "q.vpf"}).out, "plain.txt\nskip.log\n");
    r = Run({"create", "-q", "r.vpf", "-T", "missing.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vpf: -T missing.txt: No such file or directory\n");
    EXPECT_FALSE(Exists("r.vpf"));
}

// What is excluded is not looked at: neither a FIFO, a dangling link nor a
// link back up the tree is reported, at the top or inside a folder.
TEST_F(ScriptingTest, ExcludedNamesAreNeverReported) {
    MakeDir("exb");
    MakeDir("exb/d");
    ASSERT_EQ(mkfifo(Path("exb/p").c_str(), 0600), 0);
    ASSERT_EQ(symlink("nowhere", Path("exb/dangling").c_str()), 0);
    ASSERT_EQ(symlink("..", Path("exb/d/up").c_str()), 0);
    Write("exb/f", "x\n");
    RunResult r =
        Run({"create", "exb.vpf", "exb", "--exclude=p", "--exclude=dangling", "--exclude=up"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("packed 1 file, ", 0), 0u) << r.err;
    EXPECT_EQ(Run({"list", "exb.vpf"}).out, "exb/\nexb/f\nexb/d/\n");
    // Named on the command line: excluded before it is looked at.
    r = Run({"create", "-q", "top.vpf", "exb/f", "exb/p", "missing", "--exclude=p",
             "--exclude=missing"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Run({"list", "top.vpf"}).out, "exb/\nexb/f\n");
    // Without the exclusions each is named.
    r = Run({"create", "-q", "all.vpf", "exb"});
    EXPECT_EQ(r.code, 1);
    for (const char* name : {"exb/p", "exb/dangling", "exb/d/up"})
        EXPECT_NE(r.err.find("cannot pack " + std::string(name) + ": "), std::string::npos)
            << name << ": " << r.err;
}

TEST_F(ScriptingTest, ExcludesMatchNamesAndPathsInThePack) {
    MakeDir("t");
    MakeDir("t/build");
    MakeDir("t/src");
    Write("t/build/out.o", "o");
    Write("t/src/main.c", "c");
    Write("t/src/main.o", "o");
    Write("t/src/build", "a file named build");
    Write("t/notes.tmp", "tmp");
    RunResult r = Run({"create", "-q", "p.vpf", "t", "--exclude=*.o", "--exclude", "*.tmp"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", "p.vpf"}).out, "t/\nt/build/\nt/src/\nt/src/build\nt/src/main.c\n");
    // "build/" means folders only; a path pattern matches any tail of the
    // path inside the pack.
    r = Run({"create", "-q", "q.vpf", "-C", "t", ".", "--exclude=build/", "--exclude=src/*.c"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", "q.vpf"}).out, "notes.tmp\nsrc/\nsrc/build\nsrc/main.o\n");
    r = Run({"add", "-q", "q.vpf", "--into=extra", "t/src", "--exclude=main.*"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", "q.vpf", "extra"}).out,
              "extra/\nextra/t/\nextra/t/src/\nextra/t/src/build\n");
}

TEST_F(ScriptingTest, WildcardsNameFilesForListExtractAndRm) {
    Pack();
    RunResult r = Run({"list", "p.vpf", "*.TXT"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "src/a.txt\nsrc/sub/n.txt\n");
    r = Run({"list", "p.vpf", "src/sub"});  // one folder
    EXPECT_EQ(r.out, "src/sub/\nsrc/sub/n.txt\nsrc/sub/deep/\nsrc/sub/deep/empty\n");
    r = Run({"list", "p.vpf", "src/s?b/*/"});  // folders only
    EXPECT_EQ(r.out, "src/sub/deep/\nsrc/sub/deep/empty\n");
    r = Run({"list", "p.vpf", "*.none"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "vpf: p.vpf: nothing matches *.none\n"
              "listed 0 files and 0 folders of p.vpf, 0 bytes (0 bytes packed)\n");
    r = Run({"extract", "-q", "p.vpf", "-C", "o", "src/*.txt"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Names("o/src"), (std::vector<std::string>{"a.txt", "sub"}));
    EXPECT_EQ(Names("o/src/sub"), (std::vector<std::string>{"n.txt"}));
    r = Run({"rm", "-q", "p.vpf", "src/[.a]*"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", "p.vpf"}).out,
              "src/\nsrc/sub/\nsrc/sub/n.txt\nsrc/sub/deep/\n"
              "src/sub/deep/empty\n");
    // A name that exists is the name, even when it holds a wildcard.
    Write("star*.txt", "star");
    ASSERT_EQ(Run({"add", "-q", "p.vpf", "star*.txt"}).code, 0);
    EXPECT_EQ(Run({"cat", "p.vpf", "star*.txt"}).out, "star");
}

TEST_F(ScriptingTest, DryRunsSayWhatWouldHappenAndChangeNothing) {
    Pack();
    const Bytes pack = Read("p.vpf");
    Write("new.txt", "new");
    RunResult r = Run({"create", "-n", "q.vpf", "src"});
    EXPECT_EQ(r.code, 0) << r.err;
    // In the order the disk is walked: names in byte order.
    EXPECT_EQ(r.out,
              "would add src/.hidden <- src/.hidden\nwould add src/a.txt <- src/a.txt\n"
              "would add src/sub/deep/empty <- src/sub/deep/empty\n"
              "would add src/sub/n.txt <- src/sub/n.txt\n");
    EXPECT_EQ(r.err, "would pack 4 files, 8.90 kB, into q.vpf; nothing was written\n");
    EXPECT_FALSE(Exists("q.vpf"));
    r = Run({"add", "-n", "--overwrite", "p.vpf", "new.txt", "-C", "src/..", "src/a.txt"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "would add new.txt <- new.txt\nwould replace src/a.txt <- src/../src/a.txt\n");
    r = Run({"add", "-n", "p.vpf", "src/a.txt"});  // taken, not settled: would fail
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("vpf: would not add src/a.txt: the pack holds src/a.txt already", 0), 0u)
        << r.err;
    EXPECT_NE(r.err.find("; nothing was written; 1 name would not be packed (see above)\n"),
              std::string::npos)
        << r.err;
    // Folders inside a folder count too: src/sub holds src/sub/deep.
    r = Run({"rm", "-n", "p.vpf", "src/sub", "src/a.txt"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "would remove src/sub/\nwould remove src/a.txt\n");
    EXPECT_EQ(r.err, "would remove 3 files and 2 folders from p.vpf; nothing was changed\n");
    r = Run({"extract", "-n", "p.vpf", "-C", "out/deep"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 46), "would extract src/.hidden -> out/deep/src/.hid");
    EXPECT_FALSE(Exists("out"));
    MakeDir("mine");
    MakeDir("mine/src");
    Write("mine/src/a.txt", "mine");
    r = Run({"extract", "-n", "p.vpf", "-C", "mine", "src/a.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("vpf: p.vpf: would not extract src/a.txt: mine/src/a.txt exists", 0), 0u)
        << r.err;
    EXPECT_TRUE(Read("p.vpf") == pack);
}

// list --json, read back with Python's json module: every field, and a name
// that is not UTF-8 given back byte for byte through its base64 form.
TEST_F(ScriptingTest, ListJsonReadsBackWithPython) {
    MakeDir("t");
    Write("t/caf\xc3\xa9 \"q\"\n.txt", "utf-8 name");
    Write("t/raw\xff\xfe.bin", Bytes(3000, 7));
    ASSERT_EQ(Run({"create", "-q", "p.vpf", "t"}).code, 0);
    const std::string script = R"PY(
import base64, json, sys
for line in sys.stdin:
    o = json.loads(line)
    path = o["path"].encode("utf-8")
    if o.get("pathEncoding") == "base64":
        path = base64.b64decode(o["path"])
    print(path.hex(), o["type"], o["originalSize"], o["packedSize"], o["method"])
)PY";
    Write("read.py", script);
    const RunResult r = RunShell("$VPF list --json p.vpf | /usr/bin/python3 read.py");
    ASSERT_EQ(r.code, 0) << r.err;
    auto hex = [](const std::string& s) {
        std::string out;
        char b[3];
        for (unsigned char c : s) {
            std::snprintf(b, sizeof b, "%02x", c);
            out += b;
        }
        return out;
    };
    const std::string listed = Run({"list", "-l", "p.vpf"}).out;
    const std::size_t gz = listed.find("gzip");
    ASSERT_NE(gz, std::string::npos) << listed;
    std::string rawPacked;
    {
        // The packed size of the gzip entry, from the long listing.
        const std::size_t rowStart = listed.rfind('\n', gz) + 1;
        std::istringstream row(listed.substr(rowStart, gz - rowStart));
        std::uint64_t original = 0, size = 0;
        row >> original >> size;
        rawPacked = std::to_string(size);
    }
    EXPECT_EQ(r.out, hex("t") + " folder 3010 " + std::to_string(10 + std::stoul(rawPacked)) +
                         " None\n" + hex("t/caf\xc3\xa9 \"q\"\n.txt") + " file 10 10 stored\n" +
                         hex("t/raw\xff\xfe.bin") + " file 3000 " + rawPacked + " gzip\n");
}

}  // namespace
}  // namespace vpftest
