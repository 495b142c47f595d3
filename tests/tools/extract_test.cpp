// vpf extract and vpf cat: round trips, names, replace flags, and hostile
// packs that must not write outside the output folder.
#include <atomic>
#include <thread>

#include "tests/tools/VpfRunner.h"

namespace vpftest {
namespace {

using pack::PackMethod;
using testpacks::File;
using testpacks::Folder;
using testpacks::ToBytes;

class ExtractTest : public VpfTest {
  protected:
    void Pack() {
        MakeTree();
        ASSERT_EQ(Run({"create", "p.vpf", "src"}).code, 0);
    }
};

TEST_F(ExtractTest, WholePackRoundTripsIntoANewFolder) {
    Pack();
    const RunResult r = Run({"extract", "-q", "p.vpf", "-o", "out/deeper"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Read("out/deeper/src/a.txt"), Read("src/a.txt"));
    EXPECT_EQ(Read("out/deeper/src/sub/n.txt"), Read("src/sub/n.txt"));
    EXPECT_TRUE(Exists("out/deeper/src/sub/deep/empty"));
    EXPECT_TRUE(Read("out/deeper/src/sub/deep/empty").empty());
    EXPECT_EQ(ReadString("out/deeper/src/.hidden"), "secret");
    EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(ExtractTest, NamesAcceptBothSeparatorsAndIgnoreCase) {
    Pack();
    RunResult r = Run({"extract", "p.vpf", "-o", "o1", "SRC\\Sub\\N.TXT"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read("o1/src/sub/n.txt"), Read("src/sub/n.txt"));
    EXPECT_FALSE(Exists("o1/src/a.txt"));
    r = Run({"extract", "p.vpf", "-o", "o2", "/src/sub/"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Exists("o2/src/sub/n.txt"));
    EXPECT_TRUE(Exists("o2/src/sub/deep/empty"));
    EXPECT_FALSE(Exists("o2/src/a.txt"));
}

// --strip-components drops leading folders of every path, as tar does; a
// file it leaves without a name is left out and counted, not failed.
TEST_F(ExtractTest, StripComponentsDropsLeadingFolders) {
    Pack();
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> files;  // below the output folder, sorted
        int leftOut;
    };
    const std::vector<Case> cases = {
        {{"--strip-components=0"},
         {"src/.hidden", "src/a.txt", "src/sub/deep/empty", "src/sub/n.txt"},
         0},
        {{"--strip-components=1"}, {".hidden", "a.txt", "sub/deep/empty", "sub/n.txt"}, 0},
        {{"--strip-components", "2"}, {"deep/empty", "n.txt"}, 2},
        {{"--strip-components=3"}, {"empty"}, 3},
        {{"--strip-components=9"}, {}, 4},
        {{"--strip-components=2", "src/sub/deep"}, {"deep/empty"}, 0},
        {{"--strip-components=1", "SRC\\SUB\\N.TXT"}, {"sub/n.txt"}, 0},
    };
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        const std::string out = "o" + std::to_string(k);
        std::vector<std::string> args = {"extract", "p.vpf", "-C", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const RunResult r = Run(args);
        EXPECT_EQ(r.code, 0) << c.args[0] << ": " << r.err;
        std::vector<std::string> found;
        const std::function<void(const std::string&, const std::string&)> walk =
            [&](const std::string& folder, const std::string& prefix) {
                for (const std::string& name : Names(folder)) {
                    struct stat st;
                    lstat(Path(folder + "/" + name).c_str(), &st);
                    if (S_ISDIR(st.st_mode))
                        walk(folder + "/" + name, prefix + name + "/");
                    else
                        found.push_back(prefix + name);
                }
            };
        walk(out, "");
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, c.files) << k;
        if (c.files.size() == 1 && c.files[0] == "sub/n.txt") {
            EXPECT_EQ(Read(out + "/sub/n.txt"), Read("src/sub/n.txt"));
        }
        const std::string said = c.leftOut == 0 ? std::string("--strip-components")
                                                : "; " + std::to_string(c.leftOut) +
                                                      (c.leftOut == 1 ? " file" : " files");
        EXPECT_EQ(r.err.find(said) != std::string::npos, c.leftOut > 0) << k << ": " << r.err;
    }
    // Two files that become one name: the second is named, not written over
    // the first.
    Folder root;
    Folder a("a", {File("x", ToBytes("first"))});
    Folder b("b", {File("x", ToBytes("second"))});
    root.folders = {a, b};
    Write("two.vpf", testpacks::BuildPack(root));
    const RunResult r = Run({"extract", "--strip-components=1", "two.vpf", "-C", "t"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(ReadString("t/x"), "first");
    EXPECT_NE(r.err.find("did not extract b/x: a/x was extracted as t/x already"),
              std::string::npos)
        << r.err;
}

TEST_F(ExtractTest, UnknownNameFailsButTheOthersAreWritten) {
    Pack();
    const RunResult r = Run({"extract", "p.vpf", "-o", "o", "src/nothing", "src/a.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("p.vpf: no file or folder named src/nothing"), std::string::npos) << r.err;
    EXPECT_EQ(ReadString("o/src/a.txt"), "hello\n");
}

TEST_F(ExtractTest, ExistingFilesFollowTheReplacePolicy) {
    Pack();
    MakeDir("o");
    MakeDir("o/src");
    Write("o/src/a.txt", "mine");
    // No flag, no terminal: kept, named, no prompt, and the status says
    // that not everything was extracted; the rest is.
    RunResult r = Run({"extract", "-q", "p.vpf", "-C", "o"});
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.err,
              "vpf: p.vpf: did not extract src/a.txt: o/src/a.txt exists already (--overwrite "
              "replaces it, --keep keeps it without this message)\n");
    EXPECT_EQ(ReadString("o/src/a.txt"), "mine");
    EXPECT_TRUE(Exists("o/src/sub/n.txt"));

    // --keep settles it in advance: no failure.
    r = Run({"extract", "-q", "--keep", "p.vpf", "-o", "o"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadString("o/src/a.txt"), "mine");

    Write("o/src/sub/n.txt", "old numbers");
    r = Run({"extract", "--overwrite", "p.vpf", "-o", "o"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(ReadString("o/src/a.txt"), "hello\n");
    EXPECT_EQ(Read("o/src/sub/n.txt"), Read("src/sub/n.txt"));
}

TEST_F(ExtractTest, ALinkInTheWayIsReplacedNotFollowed) {
    Pack();
    MakeDir("o");
    MakeDir("o/src");
    Write("victim", "untouched");
    ASSERT_EQ(symlink(Path("victim").c_str(), Path("o/src/a.txt").c_str()), 0);
    ASSERT_EQ(symlink(Path("victim").c_str(), Path("o/src/sub").c_str()), 0);
    const RunResult r = Run({"extract", "--overwrite", "p.vpf", "-o", "o"});
    EXPECT_EQ(r.code, 1);  // the link named sub blocks the folder
    EXPECT_NE(r.err.find("o/src/sub"), std::string::npos) << r.err;
    EXPECT_EQ(ReadString("victim"), "untouched");
    struct stat st;
    ASSERT_EQ(lstat(Path("o/src/a.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadString("o/src/a.txt"), "hello\n");
}

// Every name or folder entry that cannot be written below the output folder
// is named with its reason; the rest is extracted; a link placed there
// beforehand is never followed.
TEST_F(ExtractTest, OddNamesAreRefusedOneByOneAndNothingLeavesTheFolder) {
    Folder root;
    root.files = {File("ok.txt", ToBytes("good")), File("..", ToBytes("bad")),
                  File("a/../../x", ToBytes("bad")), File("/abs", ToBytes("abs")),
                  File("lnk\\inside.txt", ToBytes("bad"))};
    root.folders = {Folder("..", {File("up.txt", ToBytes("bad"))}),
                    Folder("lnk", {File("f.txt", ToBytes("bad"))})};
    Write("h.vpf", testpacks::BuildPack(root));
    MakeDir("outside");
    MakeDir("o");
    MakeDir("o/inner");
    ASSERT_EQ(symlink(Path("outside").c_str(), Path("o/inner/lnk").c_str()), 0);
    const RunResult r = Run({"extract", "--overwrite", "h.vpf", "-C", "o/inner"});
    EXPECT_EQ(r.code, 1);
    const std::string out = "(a \"..\" component, which would lead out of its folder)\n";
    for (const std::string& line :
         {"vpf: h.vpf: cannot extract ..: its name cannot be written to disk " + out,
          "vpf: h.vpf: cannot extract a/../../x: its name cannot be written to disk " + out,
          std::string("vpf: h.vpf: names are extracted without the separators they begin "
                      "with, as in /abs\n"),
          std::string("vpf: h.vpf: cannot extract lnk\\\\inside.txt: o/inner/lnk is a link, not a "
                      "folder\n"),
          "vpf: h.vpf: cannot extract ../: its name cannot be written to disk " + out,
          std::string("vpf: h.vpf: cannot extract lnk/: o/inner/lnk is a link, not a folder\n")})
        EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;
    EXPECT_NE(r.err.find("extracted 2 files"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("5 names were not extracted"), std::string::npos) << r.err;
    EXPECT_EQ(ReadString("o/inner/ok.txt"), "good");
    EXPECT_EQ(ReadString("o/inner/abs"), "abs");
    EXPECT_EQ(Names("o/inner"), (std::vector<std::string>{"abs", "lnk", "ok.txt"}));
    EXPECT_EQ(Names("o"), std::vector<std::string>{"inner"});
    EXPECT_TRUE(Names("outside").empty());
    EXPECT_FALSE(Exists("x"));
    EXPECT_FALSE(Exists("up.txt"));
}

// An old pack's names are whole paths: extracted, they are folders, from
// the old pack and from its conversion alike; read by name, they answer in
// any letter case and with either separator.
TEST_F(ExtractTest, AnOldPacksPathNamesBecomeFoldersAsInItsConversion) {
    const Bytes map = testpacks::SampleBytes(3000, 7);
    Write("old.dat", testpacks::BuildOldPack({testpacks::OldEntry("maps\\x.map", map, 1),
                                              testpacks::OldEntry("maps\\y.map", ToBytes("y")),
                                              testpacks::OldEntry("readme.txt", ToBytes("r")),
                                              testpacks::OldEntry("Twin", ToBytes("1")),
                                              testpacks::OldEntry("twin", ToBytes("2"))}));
    RunResult r = Run({"extract", "-q", "old.dat", "-C", "o1"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Names("o1"), (std::vector<std::string>{"Twin", "maps", "readme.txt", "twin"}));
    EXPECT_EQ(Read("o1/maps/x.map"), map);
    EXPECT_EQ(ReadString("o1/maps/y.map"), "y");
    for (const char* name : {"MAPS/X.MAP", "maps\\x.map", "Maps\\X.map"}) {
        r = Run({"cat", "-q", "old.dat", name});
        EXPECT_EQ(r.code, 0) << name << r.err;
        EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), map) << name;
    }

    r = Run({"convert", "old.dat"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("vpf: old.dat: entry 5, twin, is named twin (2) in old.VPF: its name "
                         "equals that of an earlier entry but for letter case\n"),
              std::string::npos)
        << r.err;
    r = Run({"list", "-q", "old.VPF"});
    EXPECT_EQ(r.out, "maps\\x.map\nmaps\\y.map\nreadme.txt\nTwin\ntwin (2)\n");
    EXPECT_EQ(Run({"check", "-q", "old.VPF"}).code, 0);
    r = Run({"extract", "-q", "old.VPF", "-C", "o2", "MAPS/X.MAP"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Names("o2"), std::vector<std::string>{"maps"});
    EXPECT_EQ(Read("o2/maps/x.map"), map);
    r = Run({"extract", "-q", "old.VPF", "-C", "o3"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Names("o3"), (std::vector<std::string>{"Twin", "maps", "readme.txt", "twin (2)"}));
}

// A second program swaps a folder of the output for a link to another
// folder and back, over and over, while vpf extracts into it: whatever
// fails, nothing lands behind the link and no hidden file is left anywhere.
TEST_F(ExtractTest, AFolderSwappedForALinkWhileExtractingNeverLeadsOut) {
    Folder d("d");
    Folder e("e");
    for (int i = 0; i < 200; ++i)
        d.files.push_back(File("f" + std::to_string(i), ToBytes("d" + std::to_string(i))));
    for (int i = 0; i < 50; ++i)
        e.files.push_back(File("g" + std::to_string(i), ToBytes("e" + std::to_string(i))));
    d.folders.push_back(e);
    Folder root;
    root.folders.push_back(d);
    Write("s.vpf", testpacks::BuildPack(root));
    MakeDir("outside");
    MakeDir("o");

    const std::string real = Path("o/d"), aside = Path("o/d.aside"), target = Path("outside");
    std::atomic<bool> stop{false};
    std::atomic<long> swaps{0};
    std::thread swapper([&] {
        // Bounded by the extractions below, and by a count of its own.
        for (long i = 0; i < 50'000'000 && !stop.load(); ++i) {
            if (rename(real.c_str(), aside.c_str()) != 0)
                continue;
            if (symlink(target.c_str(), real.c_str()) == 0) {
                ++swaps;
                unlink(real.c_str());
            }
            rename(aside.c_str(), real.c_str());
        }
    });
    int failedRuns = 0;
    for (int run = 0; run < 25; ++run) {
        const RunResult r = Run({"extract", "-q", "--overwrite", "s.vpf", "-C", "o"});
        ASSERT_NE(r.code, 2) << r.err;
        failedRuns += r.code == 1 ? 1 : 0;
    }
    stop = true;
    swapper.join();
    EXPECT_GT(swaps.load(), 0);
    EXPECT_TRUE(Names("outside").empty()) << Names("outside").size();
    // No hidden sibling anywhere below the output folder.
    std::vector<std::string> pending = {"o"};
    while (!pending.empty()) {
        const std::string folder = pending.back();
        pending.pop_back();
        for (const std::string& name : Names(folder)) {
            EXPECT_NE(name[0], '.') << folder << "/" << name;
            struct stat st;
            if (lstat(Path(folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                pending.push_back(folder + "/" + name);
        }
    }
    RecordProperty("failedRuns", failedRuns);
}

TEST_F(ExtractTest, DamagedEntriesFailAloneAndLeaveNoFile) {
    Folder root;
    File badGzip("bad.gz", testpacks::SampleBytes(5000), PackMethod::Gzip);
    Bytes coded = testpacks::EncodeContent(badGzip.content, PackMethod::Gzip);
    coded[coded.size() / 2] ^= 0x55;
    badGzip.stored = coded;
    File badLzrw("bad.lz", testpacks::SampleBytes(5000), PackMethod::Lzrw3a);
    Bytes block = testpacks::EncodeContent(badLzrw.content, PackMethod::Lzrw3a);
    block.resize(block.size() / 3);
    badLzrw.stored = block;
    File huge("huge.lz", ToBytes("tiny"), PackMethod::Lzrw3a);
    huge.originalSize = 0xF0000000u;
    File unknown("odd.bin", ToBytes("abc"));
    unknown.methodByte = 9;
    root.files = {badGzip, badLzrw, huge, unknown,
                  File("good.lz", testpacks::SampleBytes(3000, 4), PackMethod::Lzrw3a)};
    Write("d.vpf", testpacks::BuildPack(root));
    const RunResult r = Run({"extract", "-q", "d.vpf", "-o", "o"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 4) << r.err;
    EXPECT_NE(r.err.find("vpf: d.vpf: cannot extract odd.bin to o/odd.bin: unknown method 9\n"),
              std::string::npos)
        << r.err;
    for (const char* name : {"o/bad.gz", "o/bad.lz", "o/huge.lz", "o/odd.bin"})
        EXPECT_FALSE(Exists(name)) << name;
    EXPECT_EQ(Read("o/good.lz"), testpacks::SampleBytes(3000, 4));
    // No scratch files are left next to the targets.
    std::vector<std::string> names;
    if (DIR* d = opendir(Path("o").c_str())) {
        while (dirent* e = readdir(d))
            names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "good.lz"}));
}

TEST_F(ExtractTest, CatWritesOneFileToStandardOutput) {
    Pack();
    RunResult r = Run({"cat", "p.vpf", "src\\sub/n.txt"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, ReadString("src/sub/n.txt"));
    r = Run({"cat", "p.vpf", "src/sub"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("p.vpf: src/sub is a folder; cat writes files"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    // Several names, wildcards too, one after the other; a missing one is
    // named and the others are still written.
    r = Run({"cat", "p.vpf", "src/a.txt", "src/nothing", "src/sub/*.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "hello\n" + ReadString("src/sub/n.txt"));
    EXPECT_NE(r.err.find("vpf: p.vpf: no file named src/nothing\n"), std::string::npos) << r.err;
    r = Run({"cat", "p.vpf", "src/../a.txt"});
    EXPECT_EQ(r.code, 2);
}

}  // namespace
}  // namespace vpftest
