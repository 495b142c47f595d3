// vpf extract and vpf cat: round trips, names, replace flags, and hostile
// packs that must not write outside the output folder.
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

TEST_F(ExtractTest, APackWithNamesLeadingOutIsRefusedWhole) {
    Folder root;
    root.files.push_back(File("ok.txt", ToBytes("good")));
    root.files.push_back(File("../escaped.txt", ToBytes("bad")));
    Folder up("..");
    up.files.push_back(File("up.txt", ToBytes("bad")));
    root.folders = {up};
    Write("h.vpf", testpacks::BuildPack(root));
    MakeDir("o");
    MakeDir("o/inner");
    const RunResult r = Run({"extract", "h.vpf", "-o", "o/inner"});
    EXPECT_EQ(r.code, 1);
    EXPECT_FALSE(Exists("o/inner/ok.txt"));
    EXPECT_FALSE(Exists("escaped.txt"));
    EXPECT_FALSE(Exists("o/escaped.txt"));
    EXPECT_FALSE(Exists("o/up.txt"));
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("leads out of its folder"), std::string::npos) << r.err;
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
