// vpf add, rm, mv and mkdir: changes saved atomically, names not found, and
// a full disk that leaves the previous pack intact.
#include "tests/tools/VpfRunner.h"

#include <dirent.h>

#include <functional>

namespace vpftest {
namespace {

class EditTest : public VpfTest {
  protected:
    void Pack() {
        MakeTree();
        ASSERT_EQ(Run({"create", "p.vpf", "src"}).code, 0);
    }
    std::string List() { return Run({"list", "p.vpf"}).out; }
};

TEST_F(EditTest, AddIntoAFolderOfThePackMakesItWhenMissing) {
    Pack();
    Write("x.txt", "x");
    RunResult r = Run({"add", "p.vpf", "--into", "new\\inner", "x.txt"});
    ASSERT_EQ(r.code, 0) << r.err;
    r = Run({"add", "p.vpf", "--into=src/sub", "x.txt"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(List(),
              "src/\nsrc/.hidden\nsrc/a.txt\nsrc/sub/\nsrc/sub/n.txt\nsrc/sub/x.txt\n"
              "src/sub/deep/\nsrc/sub/deep/empty\nnew/\nnew/inner/\nnew/inner/x.txt\n");
    EXPECT_EQ(Run({"check", "-q", "p.vpf"}).code, 0);
}

// Folders with no file in them are an addition like any other: the pack is
// saved, and a fresh read of it lists them.
TEST_F(EditTest, AddingOnlyEmptyFoldersSavesThem) {
    Pack();
    MakeDir("empty");
    MakeDir("outer");
    MakeDir("outer/inner");
    const std::string before = List();
    RunResult r = Run({"add", "p.vpf", "empty"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(List(), before + "empty/\n");
    r = Run({"add", "p.vpf", "--into=src/sub", "outer"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(List().find("src/sub/outer/\nsrc/sub/outer/inner/\n"), std::string::npos) << List();
    EXPECT_EQ(Run({"check", "-q", "p.vpf"}).code, 0);
}

TEST_F(EditTest, AddReplacesOnlyWhenTold) {
    Pack();
    MakeDir("other");
    Write("other/A.TXT", "replacement");
    const Bytes before = Read("p.vpf");
    RunResult r = Run({"add", "-q", "p.vpf", "--into=src", "-C", "other", "A.TXT"});
    // Not added, and said so with both full paths; nothing else to save.
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "vpf: did not add other/A.TXT: the pack holds src/a.txt already (--overwrite "
              "replaces it, --keep keeps it without this message)\n");
    EXPECT_EQ(Read("p.vpf"), before);
    r = Run({"add", "-q", "--keep", "p.vpf", "--into=src", "-C", "other", "A.TXT"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Run({"cat", "p.vpf", "src/a.txt"}).out, "hello\n");
    r = Run({"add", "--overwrite", "p.vpf", "--into=src", "-C", "other", "A.TXT"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"cat", "p.vpf", "src/a.txt"}).out, "replacement");
    // The replacement keeps its place and takes the new name.
    EXPECT_EQ(List().substr(0, 30), "src/\nsrc/.hidden\nsrc/A.TXT\nsrc");
}

TEST_F(EditTest, AddNeverPacksThePackItself) {
    MakeDir("d");
    Write("d/f.txt", "f");
    ASSERT_EQ(Run({"create", "d/p.vpf", "-C", "d", "f.txt"}).code, 0);
    const RunResult r = Run({"add", "d/p.vpf", "d"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("vpf: d/p.vpf is the pack being written; it is not packed into itself"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Run({"list", "d/p.vpf"}).out, "f.txt\nd/\nd/f.txt\n");
}

TEST_F(EditTest, RemoveFilesAndFoldersAndReportMissingNames) {
    Pack();
    RunResult r = Run({"rm", "p.vpf", "src/sub", "SRC/A.TXT", "src/none"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("p.vpf: no file or folder named src/none"), std::string::npos) << r.err;
    EXPECT_EQ(List(), "src/\nsrc/.hidden\n");
    EXPECT_NE(r.err.find("removed 3 files and 2 folders from p.vpf; 1 name was not found"),
              std::string::npos)
        << r.err;
    // The header count follows: the strict check agrees.
    EXPECT_EQ(Run({"check", "-q", "p.vpf"}).code, 0);
}

TEST_F(EditTest, MoveRenamesAndMovesBetweenFolders) {
    Pack();
    ASSERT_EQ(Run({"mv", "p.vpf", "src/a.txt", "src/A.txt"}).code, 0);  // case only
    ASSERT_EQ(Run({"mv", "p.vpf", "src/A.txt", "src/sub/deep"}).code, 0);
    ASSERT_EQ(Run({"mv", "p.vpf", "src/sub", "src/SUB"}).code, 0);  // a folder, case only
    EXPECT_EQ(List().substr(0, 30), "src/\nsrc/.hidden\nsrc/SUB/\nsrc/");
    ASSERT_EQ(Run({"mv", "p.vpf", "src/Sub", "top"}).code, 0);
    EXPECT_EQ(List(),
              "src/\nsrc/.hidden\ntop/\ntop/n.txt\ntop/deep/\ntop/deep/empty\ntop/deep/A.txt\n");
    EXPECT_EQ(Run({"cat", "p.vpf", "top/deep/A.txt"}).out, "hello\n");
    EXPECT_EQ(Run({"check", "-q", "p.vpf"}).code, 0);
    const std::string before = List();
    const Bytes packBefore = Read("p.vpf");

    RunResult r = Run({"mv", "p.vpf", "top", "top/deep"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("into itself"), std::string::npos) << r.err;
    r = Run({"mv", "p.vpf", "top/n.txt", "top/deep/a.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;
    r = Run({"mv", "p.vpf", "nothing", "x"});
    EXPECT_EQ(r.code, 1);
    r = Run({"mv", "p.vpf", "top/n.txt", "missing/x"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(Read("p.vpf"), packBefore);
}

TEST_F(EditTest, MakeDirMakesParentsAndKeepsExistingFolders) {
    Pack();
    ASSERT_EQ(Run({"mkdir", "p.vpf", "a/b/c", "src"}).code, 0);
    EXPECT_EQ(List().substr(List().size() - 15), "a/\na/b/\na/b/c/\n");
    EXPECT_EQ(Run({"mkdir", "p.vpf", "a/../b"}).code, 2);
}

// A full name inside a pack stops at 4,095 bytes, for every verb that
// makes one; what would pass it is named and nothing changes.
TEST_F(EditTest, FullNamesStayWithinTheLimit) {
    Pack();
    std::string deep;  // 16 folders of 250 bytes: 4,015 bytes
    for (int i = 0; i < 16; ++i)
        deep += (i > 0 ? "/" : "") + std::string(250, static_cast<char>('a' + i));
    ASSERT_EQ(Run({"mkdir", "p.vpf", deep + "/" + std::string(79, 'x')}).code, 0);
    const Bytes before = Read("p.vpf");
    RunResult r = Run({"mkdir", "p.vpf", deep + "/" + std::string(80, 'y')});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find(": a full name longer than 4095 bytes\n"), std::string::npos) << r.err;
    Write(std::string(80, 'f'), "f");
    r = Run({"add", "-q", "p.vpf", "--into=" + deep, std::string(80, 'f')});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vpf: cannot pack " + std::string(80, 'f') +
                         ": its full name in the pack would be longer than 4095 bytes\n");
    r = Run({"mv", "p.vpf", "src/a.txt", deep + "/" + std::string(80, 'm')});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "vpf: p.vpf: a full name in the pack would be longer than 4095 bytes; "
              "nothing was moved\n");
    EXPECT_EQ(Read("p.vpf"), before);
    // Renaming the top folder longer would push the deepest name past it.
    r = Run({"mv", "p.vpf", std::string(250, 'a') + "/", std::string(251, 'z')});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(Read("p.vpf"), before);
}

// Folders nest 512 levels below the root at most, for every verb that
// makes or moves one; what would pass it is named and nothing changes.
TEST_F(EditTest, FoldersNestAtMost512Deep) {
    Pack();
    std::string d511 = "d";
    for (int i = 1; i < 511; ++i)
        d511 += "/d";
    ASSERT_EQ(Run({"mkdir", "p.vpf", d511, "m/inner"}).code, 0);
    Bytes before = Read("p.vpf");
    MakeDir("two");
    MakeDir("two/levels");
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string err;
        bool changes;  // the rest is done and saved
    };
    const Case cases[] = {
        {{"mkdir", "p.vpf", d511 + "/x/y"},
         2,
         d511 + "/x/y: folders are nested too deeply\n",
         false},
        {{"add", "-q", "p.vpf", "--into=" + d511 + "/x/y", "src"},
         2,
         "--into: " + d511 + "/x/y: folders are nested too deeply\n",
         false},
        {{"add", "-q", "p.vpf", "--into=" + d511, "two"},
         1,
         "cannot pack two/levels: its folders are nested more than 512 deep\n",
         true},
        {{"mv", "p.vpf", "m/", d511 + "/"},
         1,
         "p.vpf: the folders would be nested too deeply; nothing was moved\n",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const RunResult r = Run(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.err, "vpf: " + c.err);
        EXPECT_EQ(Read("p.vpf") != before, c.changes);
        before = Read("p.vpf");
    }
    EXPECT_EQ(Run({"list", "p.vpf", d511 + "/"}).out, d511 + "/\n" + d511 + "/two/\n");
    // One level less is within the limit.
    EXPECT_EQ(Run({"mkdir", "-q", "p.vpf", d511 + "/x"}).code, 0);
    EXPECT_EQ(Run({"mv", "-q", "p.vpf", "m/inner/", d511 + "/"}).code, 0);
    EXPECT_EQ(Run({"check", "-q", "p.vpf"}).code, 0);
}

// Every save that cannot happen leaves the pack as it was and says why in
// one line of vpf's own: a full disk, a read-only pack, a pack that another
// program replaced while vpf ran.
TEST_F(EditTest, ASaveThatCannotHappenKeepsThePackAndSaysWhy) {
    Pack();
    Write("big.bin", testpacks::SampleBytes(200000, 9));
    ASSERT_EQ(Run({"create", "other.vpf", "big.bin"}).code, 0);
    const Bytes before = Read("p.vpf");
    struct Case {
        const char* what;
        std::function<RunResult()> run;
        std::string error;
        const char* leftAt;  // the pack's bytes afterwards: "p.vpf" as before, or another file's
    };
    const Case cases[] = {
        {"a full disk",
         [&] {
             return Run({"add", "p.vpf", "big.bin"}, before.size() + 1000);
         },
         "vpf: cannot save p.vpf: File too large; the pack is unchanged\n", "p.vpf"},
        {"a read-only pack",
         [&] {
             chmod(Path("p.vpf").c_str(), 0444);
             RunResult r = Run({"mkdir", "p.vpf", "new"});
             chmod(Path("p.vpf").c_str(), 0644);
             return r;
         },
         "vpf: cannot change p.vpf: it is read-only; the pack is unchanged\n", "p.vpf"},
        {"a pack replaced while vpf ran",
         [&] {
             // vpf has loaded the pack once it opens the list of names.
             return RunShell(
                 "cd '" + dir_.Path() +
                 "' && mkfifo names && echo x > x.txt && "
                 "{ \"$VPF\" add -q p.vpf -T names & } && exec 3>names && "
                 "cp other.vpf .swap && mv .swap p.vpf && echo x.txt >&3 && exec 3>&- && "
                 "wait $!");
         },
         "vpf: p.vpf was changed by another program while vpf ran; nothing was done to it, run "
         "the command again\n",
         "other.vpf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const RunResult r = c.run();
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, c.error);
        EXPECT_EQ(Read("p.vpf"), c.leftAt == std::string("p.vpf") ? before : Read(c.leftAt));
        EXPECT_EQ(Run({"check", "-q", "p.vpf"}).code, 0);
        std::vector<std::string> hidden;
        if (DIR* d = opendir(dir_.Path().c_str())) {
            while (dirent* e = readdir(d))
                if (std::string(e->d_name).rfind(".p.vpf", 0) == 0)  // a save's sibling
                    hidden.push_back(e->d_name);
            closedir(d);
        }
        EXPECT_TRUE(hidden.empty());
    }
}

TEST_F(EditTest, ChangingAMissingPackFailsButAddMakesIt) {
    Write("x.txt", "x");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"rm", "none.vpf", "x"}, {"mkdir", "none.vpf", "x"}, {"mv", "none.vpf", "x", "y"}}) {
        const RunResult r = Run(args);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "vpf: none.vpf: No such file or directory\n");
    }
    EXPECT_FALSE(Exists("none.vpf"));
    const RunResult r = Run({"add", "new.vpf", "x.txt"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("added 1 file, 1 byte into 1 byte, to the new pack new.vpf in ", 0), 0u)
        << r.err;
    EXPECT_EQ(Run({"list", "new.vpf"}).out, "x.txt\n");
    EXPECT_EQ(Run({"check", "-q", "new.vpf"}).code, 0);
}

}  // namespace
}  // namespace vpftest
