// vpf create and vpf list: the pack a run writes and what list shows of it.
#include <sstream>

#include "archive/PackArchive.h"
#include "platform/Scripted.h"
#include "tests/tools/VpfRunner.h"

namespace vpftest {
namespace {

class CreateListTest : public VpfTest {};

TEST_F(CreateListTest, CreateWritesTheSamePackAsTheDesktopProgram) {
    MakeTree();
    Write("top.bin", Bytes(300, 0x41));
    // vpf codes gzip in memory, the desktop program through the codec's
    // temporary files: the packs must still be the same bytes.
    // The desktop program leaves names beginning with a dot out of added
    // folders; vpf packs them unless told as here.
    const RunResult r = Run({"create", "-q", "p.vpf", "src", "top.bin", "--exclude=.*"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");

    // The archive's own AddFolder / AddFile, one file at a time, as the
    // desktop program adds its command-line paths.
    crateforge::ScriptedMessages messages;
    crateforge::CPackArchive archive(&messages, nullptr, nullptr);
    archive.CreateNew(Path("ref.vpf"));
    ASSERT_EQ(archive.AddFolder(Path("src"), archive.Root()), 1);
    ASSERT_EQ(archive.AddFile(Path("top.bin"), archive.Root()), 1);
    ASSERT_EQ(archive.Save(), 1);
    EXPECT_EQ(Read("p.vpf"), Read("ref.vpf"));
    EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(CreateListTest, ListShowsPathsInPackOrderAndTheLongFormSizes) {
    MakeTree();
    ASSERT_EQ(Run({"create", "p.vpf", "src"}).code, 0);
    RunResult r = Run({"list", "p.vpf"});
    ASSERT_EQ(r.code, 0) << r.err;
    // A name beginning with a dot is packed like any other.
    EXPECT_EQ(r.out,
              "src/\nsrc/.hidden\nsrc/a.txt\nsrc/sub/\nsrc/sub/n.txt\nsrc/sub/deep/\n"
              "src/sub/deep/empty\n");

    r = Run({"list", "-l", "p.vpf"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < r.out.size();) {
        const std::size_t nl = r.out.find('\n', at);
        lines.push_back(r.out.substr(at, nl - at));
        at = nl + 1;
    }
    ASSERT_EQ(lines.size(), 9u) << r.out;
    EXPECT_EQ(lines[0], "    Original       Packed  Ratio  Method  Name");
    EXPECT_EQ(lines[2], "           6            6     0%  stored  src/.hidden");
    EXPECT_EQ(lines[3], "           6            6     0%  stored  src/a.txt");
    EXPECT_EQ(lines[7], "           0            0     0%  stored  src/sub/deep/empty");
    // n.txt: 8893 bytes of numbers, gzip well below that.
    std::istringstream row(lines[5]);
    std::uint64_t original = 0, packed = 0;
    std::string ratio, method, name;
    row >> original >> packed >> ratio >> method >> name;
    EXPECT_EQ(original, 8893u);
    EXPECT_LT(packed, original / 2);
    EXPECT_EQ(method, "gzip");
    EXPECT_EQ(name, "src/sub/n.txt");
    const auto saved = 100 - static_cast<int>(static_cast<double>(packed) / original * 100.0);
    EXPECT_EQ(ratio, std::to_string(saved) + "%");
    EXPECT_NE(lines[8].find("4 files and 3 folders"), std::string::npos) << lines[8];
    EXPECT_EQ(r.err, "");  // the last row is the summary
}

TEST_F(CreateListTest, CreateRefusesAnExistingFileUnlessOverwrite) {
    MakeTree();
    Write("p.vpf", "precious");
    RunResult r = Run({"create", "p.vpf", "src"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("p.vpf: the file exists already"), std::string::npos) << r.err;
    EXPECT_EQ(ReadString("p.vpf"), "precious");
    r = Run({"create", "--overwrite", "p.vpf", "-C", "src", "a.txt"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", "p.vpf"}).out, "a.txt\n");
}

TEST_F(CreateListTest, UnreadableInputsAreReportedAndTheRestIsPacked) {
    MakeTree();
    ASSERT_EQ(symlink("nowhere", Path("src/dangling").c_str()), 0);
    const RunResult r = Run({"create", "p.vpf", "src", "missing.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("vpf: cannot pack missing.txt: No such file or directory\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("vpf: cannot pack src/dangling: "), std::string::npos) << r.err;
    // The summary says that not everything was packed.
    EXPECT_NE(r.err.find("\npacked 4 files, "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("; 2 names were not packed (see above)\n"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r.err;
    EXPECT_EQ(Run({"list", "p.vpf"}).out,
              "src/\nsrc/.hidden\nsrc/a.txt\nsrc/sub/\nsrc/sub/n.txt\nsrc/sub/deep/\n"
              "src/sub/deep/empty\n");
}

TEST_F(CreateListTest, LinksToFoldersAreFollowedAndCyclesReported) {
    MakeTree();
    MakeDir("outside");
    Write("outside/o.txt", "far");
    ASSERT_EQ(symlink("../outside", Path("src/there").c_str()), 0);
    ASSERT_EQ(symlink("..", Path("src/sub/up").c_str()), 0);  // back to src
    const RunResult r = Run({"create", "-q", "p.vpf", "src"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vpf: cannot pack src/sub/up: a link back to a folder that holds it\n");
    EXPECT_EQ(Run({"list", "p.vpf"}).out,
              "src/\nsrc/.hidden\nsrc/a.txt\nsrc/sub/\nsrc/sub/n.txt\nsrc/sub/deep/\n"
              "src/sub/deep/empty\nsrc/there/\nsrc/there/o.txt\n");
    EXPECT_EQ(Run({"cat", "p.vpf", "src/there/o.txt"}).out, "far");
}

// A FIFO, /dev/stdin and a process substitution are read as "-" is: copied
// once, then read like the file.
TEST_F(CreateListTest, APipeOfAnyKindIsReadLikeStandardInput) {
    MakeTree();
    ASSERT_EQ(Run({"create", "-q", "p.vpf", "src"}).code, 0);
    const std::string listing = Run({"list", "-q", "p.vpf"}).out;
    ASSERT_EQ(mkfifo(Path("f.vpf").c_str(), 0600), 0);
    for (const std::string script :
         {"$VPF list -q <(cat p.vpf)", "$VPF list -q /dev/stdin < p.vpf",
          "cat p.vpf | $VPF list -q /dev/stdin", "cat p.vpf > f.vpf & $VPF list -q f.vpf"}) {
        const RunResult r = RunShell(script);
        EXPECT_EQ(r.code, 0) << script << ": " << r.err;
        EXPECT_EQ(r.out, listing) << script;
    }
    RunResult r = RunShell("cat p.vpf > f.vpf & $VPF check f.vpf");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("f.vpf: OK, version 2.10, 4 files in 3 folders", 0), 0u) << r.out;
    r = RunShell("$VPF extract -q <(cat p.vpf) -C out src/sub/n.txt");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(Read("out/src/sub/n.txt") == Read("src/sub/n.txt"));
    // Damage that came through a pipe is still damage, at its offset.
    r = RunShell("$VPF list <(head -c 600 p.vpf)");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.rfind("vpf: /dev/fd/", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(": damaged at offset "), std::string::npos) << r.err;
    EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(CreateListTest, EmptyCreateOfAnEmptyFolderIsTheEmptyLayout) {
    MakeDir("e");
    ASSERT_EQ(Run({"create", "p.vpf", "e"}).code, 0);
    // Header, root block with one folder record, then the empty block of "e".
    EXPECT_EQ(Read("p.vpf").size(), 20u + 12 + 264 + 12);
    EXPECT_EQ(Run({"list", "p.vpf"}).out, "e/\n");
}

TEST_F(CreateListTest, PathsAreStoredAsGivenAndDotPacksAFoldersContentsAtTheRoot) {
    MakeTree();
    RunResult r = Run({"create", "p.vpf", "src/sub/."});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", "p.vpf"}).out,
              "src/\nsrc/sub/\nsrc/sub/n.txt\nsrc/sub/deep/\nsrc/sub/deep/empty\n");
    // -C changes the folder the following paths are taken from.
    r = Run({"create", "q.vpf", "-C", "src/sub", ".", "-C", "..", "a.txt"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", "q.vpf"}).out, "n.txt\na.txt\ndeep/\ndeep/empty\n");
    EXPECT_EQ(Run({"cat", "q.vpf", "a.txt"}).out, "hello\n");
    // Two folders of one name from different places stay apart.
    MakeDir("other");
    MakeDir("other/sub");
    Write("other/sub/n.txt", "other numbers");
    r = Run({"create", "-q", "r.vpf", "src/sub", "other/sub"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"cat", "r.vpf", "other/sub/n.txt"}).out, "other numbers");
    EXPECT_EQ(Run({"cat", "r.vpf", "src/sub/n.txt"}).out, ReadString("src/sub/n.txt"));
    // A leading "/" and what leads up to ".." are left out, with a note.
    r = Run({"create", "s.vpf", Path("src/a.txt"), "src/sub/../a.txt"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("leave out the leading \"/\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("leave out what leads up to a \"..\""), std::string::npos) << r.err;
    const std::string listed = Run({"list", "s.vpf"}).out;
    EXPECT_EQ(listed.rfind("a.txt\n", 0), 0u) << listed;
    EXPECT_NE(listed.find("\n" + Path("src/a.txt").substr(1) + "\n"), std::string::npos) << listed;
}

}  // namespace
}  // namespace vpftest
