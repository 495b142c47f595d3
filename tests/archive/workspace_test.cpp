// The temporary workspace: layout of extracted trees, rewrites, clean-up, and
// names from a pack that must not lead anywhere else.
#include "tests/archive/ArchiveFixture.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "archive/TempWorkspace.h"

namespace crateforge::test {
namespace {

using testpacks::File;
using testpacks::Folder;

class WorkspaceTest : public ArchiveTest {
  protected:
    void OpenPack(const Folder& root) {
        ASSERT_EQ(archive->Open(dir.Write("w.vpf", testpacks::BuildPack(root))), 1);
    }
};

TEST_F(WorkspaceTest, FolderTreeIsMirroredAndRemovedAtTheEnd) {
    const Bytes x = TextBytes(20000), y = TextBytes(7000, 5), z = NoiseBytes(99);
    OpenPack(
        Folder("", {File("top.txt", z)},
               {Folder("A", {File("x", x, pack::PackMethod::Gzip), File("zero", {})},
                       {Folder("B", {File("y", y, pack::PackMethod::Lzrw3a)}), Folder("Empty")})}));
    std::string wsPath;
    {
        CTempWorkspace ws;
        ASSERT_TRUE(ws.IsValid()) << ws.Reason();
        wsPath = ws.WorkspacePath();
        EXPECT_EQ(fs::ParentDirectory(wsPath), tmp);
        EXPECT_EQ(std::string(fs::LastComponent(wsPath)).rfind("TMP", 0), 0u);

        const std::string a = archive->ExtractFolderToTemp(0, ws, "");
        EXPECT_EQ(a, wsPath + "/A");
        EXPECT_EQ(testpacks::ReadFile(a + "/x"), x);
        EXPECT_EQ(testpacks::ReadFile(a + "/B/y"), y);
        EXPECT_TRUE(fs::PathExists(a + "/zero"));
        EXPECT_TRUE(testpacks::ReadFile(a + "/zero").empty());
        EXPECT_TRUE(fs::IsDirectory(a + "/Empty"));
        EXPECT_EQ(archive->Current(), archive->Root());

        const std::string top = archive->ExtractFileToTemp(*archive->Root()->FileAt(0), ws);
        EXPECT_EQ(top, wsPath + "/top.txt");
        testpacks::WriteFile(top, testpacks::ToBytes("changed by the receiver"));
        EXPECT_EQ(archive->ExtractFileToTemp(*archive->Root()->FileAt(0), ws), top);
        EXPECT_EQ(testpacks::ReadFile(top), z);
        EXPECT_EQ(archive->ExtractFolderToTemp(-1, ws, ""), "");
        EXPECT_EQ(archive->ExtractFolderToTemp(5, ws, ""), "");
        EXPECT_TRUE(messages.Calls().empty());
    }
    EXPECT_FALSE(fs::PathExists(wsPath));
    EXPECT_TRUE(TmpLeftovers().empty());
}

TEST_F(WorkspaceTest, ForeignFilesKeepTheirFolders) {
    OpenPack(Folder("", {}, {Folder("A", {File("x", NoiseBytes(3))})}));
    std::string wsPath;
    {
        CTempWorkspace ws;
        wsPath = ws.WorkspacePath();
        const std::string a = archive->ExtractFolderToTemp(0, ws, "");
        testpacks::WriteFile(a + "/foreign", NoiseBytes(1));
    }
    EXPECT_TRUE(fs::PathExists(wsPath + "/A/foreign"));
    EXPECT_FALSE(fs::PathExists(wsPath + "/A/x"));
}

TEST_F(WorkspaceTest, AFileAndAFolderOfTheSameNameDoNotOverwriteEachOther) {
    OpenPack(Folder(
        "", {File("A", testpacks::ToBytes("file A")), File("n.txt", NoiseBytes(4))},
        {Folder("A", {File("B", testpacks::ToBytes("file B")), File("n.txt", NoiseBytes(5))},
                {Folder("B", {File("inner", testpacks::ToBytes("in B"))}), Folder("n.txt")})}));
    CTempWorkspace ws;
    const std::string w = ws.WorkspacePath();
    EXPECT_EQ(archive->ExtractFolderToTemp(0, ws, ""), w + "/A");
    EXPECT_EQ(testpacks::ReadFile(w + "/A/B"), testpacks::ToBytes("file B"));
    EXPECT_EQ(testpacks::ReadFile(w + "/A/B (2)/inner"), testpacks::ToBytes("in B"));
    EXPECT_TRUE(fs::IsDirectory(w + "/A/n.txt (2)"));
    EXPECT_EQ(archive->ExtractFileToTemp(*archive->Root()->FileAt(0), ws), w + "/A (2)");
    EXPECT_EQ(testpacks::ReadFile(w + "/A (2)"), testpacks::ToBytes("file A"));
    EXPECT_TRUE(fs::IsDirectory(w + "/A"));
    EXPECT_TRUE(messages.Calls().empty());
    // Names step past the other kind before the extension of a file name.
    ASSERT_EQ(mkdir((w + "/n.txt").c_str(), 0700), 0);
    EXPECT_EQ(ws.MakeFilePath("n.txt"), w + "/n (2).txt");
}

TEST_F(WorkspaceTest, NamesBecomeDiskPathsByTheOneRuleAndNeverLeadOut) {
    // The pack opens whatever its names hold; writing them out follows the
    // one rule: separators make folders, a leading one is dropped at the
    // top, and empty, "." or ".." components are refused with the reason.
    const Bytes good = testpacks::ToBytes("good");
    OpenPack(Folder("",
                    {File("maps\\x.map", good), File("../evil", NoiseBytes(3)),
                     File("..", NoiseBytes(3)), File("", {}), File("/lead", good)},
                    {Folder("A",
                            {File("ok", good), File("..\\evil", NoiseBytes(3)),
                             File("/abs", NoiseBytes(3)), File("sub\\deep", good)},
                            {Folder("..", {File("escaped", NoiseBytes(3))})}),
                     Folder("../up", {File("f", NoiseBytes(3))})}));
    ASSERT_TRUE(messages.Calls().empty());
    CTempWorkspace ws;
    const std::string w = ws.WorkspacePath();
    const auto files = FilesOf(archive->Root());
    EXPECT_EQ(archive->ExtractFileToTemp(*files[0], ws), w + "/maps/x.map");
    EXPECT_EQ(testpacks::ReadFile(w + "/maps/x.map"), good);
    EXPECT_EQ(archive->ExtractFileToTemp(*files[4], ws), w + "/lead");
    EXPECT_EQ(testpacks::ReadFile(w + "/lead"), good);
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_EQ(archive->ExtractFileToTemp(*files[i], ws), "") << i;
    ASSERT_EQ(messages.Calls().size(), 3u);
    EXPECT_EQ(messages.Calls()[0].text,
              "Unable to write ../evil to the temporary folder: its name cannot be used as a file "
              "name: a \"..\" component, which would lead out of its folder.");
    EXPECT_EQ(messages.Calls()[2].text,
              "Unable to write  to the temporary folder: its name cannot be used as a file name: "
              "an empty name.");

    messages.Clear();
    EXPECT_EQ(archive->ExtractFolderToTemp(0, ws, ""), w + "/A");
    EXPECT_EQ(testpacks::ReadFile(w + "/A/ok"), good);
    EXPECT_EQ(testpacks::ReadFile(w + "/A/sub/deep"), good);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text,
              "Unable to write 3 item(s) of A to the temporary folder, the first being ..\\evil: "
              "its name cannot be used as a file name: a \"..\" component, which would lead out of "
              "its folder.");
    messages.Clear();
    EXPECT_EQ(archive->ExtractFolderToTemp(1, ws, ""), "");
    EXPECT_EQ(messages.Calls().size(), 1u);

    // Nothing landed beside or above the workspace.
    EXPECT_FALSE(fs::PathExists(tmp + "/evil"));
    EXPECT_FALSE(fs::PathExists(tmp + "/escaped"));
    EXPECT_FALSE(fs::PathExists(tmp + "/up"));
    std::vector<fs::DirEntry> names;
    fs::ListDirectory(tmp, names);
    EXPECT_EQ(names.size(), 1u);

    // The path makers refuse the same names and unknown parents.
    EXPECT_EQ(ws.MakeFilePath(".."), "");
    EXPECT_EQ(ws.MakeFilePath("a/b"), "");
    EXPECT_EQ(ws.MakeNestedFilePath("/etc", "passwd"), "");
    EXPECT_EQ(ws.MakeNestedFilePath(w + "/../x", "f"), "");
    EXPECT_EQ(ws.MakeFolderPath("d", "../.."), "");
    EXPECT_EQ(ws.MakeFolderPath("d", "never/handed/out"), "");
}

TEST_F(WorkspaceTest, EntriesThatCannotBeDecodedAreReportedAndNotWritten) {
    File damaged("damaged", NoiseBytes(10));
    damaged.originalSize = 10000;  // stored, but only 10 bytes are there
    File unknown("unknown", NoiseBytes(10));
    unknown.methodByte = 7;
    File wrongSize("wrong", TextBytes(5000), pack::PackMethod::Gzip);
    wrongSize.originalSize = 4999;
    OpenPack(Folder("", {damaged, unknown, wrongSize}, {Folder("D", {damaged, File("ok", {})})}));
    CTempWorkspace ws;
    const std::string w = ws.WorkspacePath();
    const char* reasons[] = {"a stored file of 10000 bytes that holds 10", "unknown method 7",
                             "decoded to 5000 bytes instead of 4999"};
    for (int i = 0; i < 3; ++i) {
        messages.Clear();
        const PackEntry& e = *archive->Root()->FileAt(i);
        EXPECT_EQ(archive->ExtractFileToTemp(e, ws), "");
        EXPECT_FALSE(fs::PathExists(w + "/" + std::string(e.Name())));
        ASSERT_EQ(messages.Calls().size(), 1u);
        if (i == 2)
            EXPECT_EQ(messages.Calls()[0].text.rfind("Unable to write wrong to the temporary "
                                                     "folder: ",
                                                     0),
                      0u);
        else
            EXPECT_EQ(messages.Calls()[0].text, "Unable to write " + std::string(e.Name()) +
                                                    " to the temporary folder: " + reasons[i] +
                                                    ".");
    }
    messages.Clear();
    EXPECT_EQ(archive->ExtractFolderToTemp(0, ws, ""), w + "/D");
    EXPECT_FALSE(fs::PathExists(w + "/D/damaged"));
    EXPECT_TRUE(fs::PathExists(w + "/D/ok"));
    EXPECT_EQ(messages.Calls().size(), 1u);
}

TEST_F(WorkspaceTest, MissingTemporaryDirectoryIsReported) {
    OpenPack(Folder("", {File("f", NoiseBytes(3))}));
    setenv("TMPDIR", (tmp + "/missing").c_str(), 1);
    CTempWorkspace ws;
    EXPECT_FALSE(ws.IsValid());
    EXPECT_EQ(ws.Reason(), "No such file or directory");
    EXPECT_EQ(ws.MakeFilePath("f"), "");
    EXPECT_EQ(archive->ExtractFileToTemp(*archive->Root()->FileAt(0), ws), "");
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text,
              "Unable to write f to the temporary folder: No such file or directory.");
}

TEST_F(WorkspaceTest, HandedOutItemsGetOrdinaryModesTheRootStaysPrivate) {
    OpenPack(Folder("", {File("run.sh", testpacks::ToBytes("#!/bin/sh\n"))},
                    {Folder("A", {File("x", NoiseBytes(5))}, {Folder("B")})}));
    for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{0}}) {
        SCOPED_TRACE(mask);
        const mode_t before = umask(mask);
        CTempWorkspace ws;
        const std::string file = archive->ExtractFileToTemp(*archive->Root()->FileAt(0), ws);
        const std::string folder = archive->ExtractFolderToTemp(0, ws, "");
        umask(before);
        struct stat st;
        ASSERT_EQ(stat(ws.WorkspacePath().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u & ~mask);
        for (const std::string& dirPath : {folder, folder + "/B"}) {
            ASSERT_EQ(stat(dirPath.c_str(), &st), 0) << dirPath;
            EXPECT_EQ(st.st_mode & 07777, 0755u & ~mask) << dirPath;
        }
        ASSERT_EQ(stat((folder + "/x").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u & ~mask);
    }
    EXPECT_TRUE(TmpLeftovers().empty());
}

TEST_F(WorkspaceTest, TheOwnersMarkIsNeverHandedOut) {
    OpenPack(Folder("", {File(kOwnerMarkName, testpacks::ToBytes("from the pack"))},
                    {Folder(kOwnerMarkName, {File("x", NoiseBytes(2))})}));
    CTempWorkspace ws;
    ASSERT_TRUE(ws.IsMarked());
    const std::string mark = ws.WorkspacePath() + "/" + kOwnerMarkName;
    const Bytes markBytes = testpacks::ReadFile(mark);
    EXPECT_EQ(std::string(markBytes.begin(), markBytes.begin() + 4), "pid ");
    const std::string file = archive->ExtractFileToTemp(*archive->Root()->FileAt(0), ws);
    const std::string folder = archive->ExtractFolderToTemp(0, ws, "");
    EXPECT_NE(file, mark);
    EXPECT_NE(folder, mark);
    EXPECT_EQ(testpacks::ReadFile(file), testpacks::ToBytes("from the pack"));
    EXPECT_EQ(testpacks::ReadFile(mark), markBytes);
    EXPECT_TRUE(fs::PathExists(folder + "/x"));
}

// A run that ends without its destructors (killed, crashed) in a child.
std::string WorkspaceOfADeadRun(const std::string& extra) {
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        auto* ws = new CTempWorkspace();  // never destroyed
        const std::string path = ws->WorkspacePath();
        mkdir((path + "/A").c_str(), 0755);
        testpacks::WriteFile(path + "/A/" + extra, testpacks::ToBytes("left behind"));
        if (write(fds[1], path.data(), path.size()) < 0)
            _exit(2);
        _exit(0);
    }
    close(fds[1]);
    char buffer[4096];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

TEST_F(WorkspaceTest, AbandonedWorkspacesAreRemovedAndLiveOnesStay) {
    const std::string dead1 = WorkspaceOfADeadRun("x");
    const std::string dead2 = WorkspaceOfADeadRun("y");
    ASSERT_FALSE(dead1.empty());
    ASSERT_TRUE(fs::PathExists(dead1 + "/A/x"));
    ASSERT_TRUE(fs::PathExists(dead2 + "/A/y"));
    // Look-alikes that are not ours to remove: no mark, a mark that is a
    // link, a file named like a workspace, and a live workspace.
    const std::string plain = tmp + "/TMPplain0";
    mkdir(plain.c_str(), 0700);
    const std::string linked = tmp + "/TMPlinked";
    mkdir(linked.c_str(), 0700);
    testpacks::WriteFile(tmp + "/elsewhere", testpacks::ToBytes("target"));
    ASSERT_EQ(symlink((tmp + "/elsewhere").c_str(), (linked + "/" + kOwnerMarkName).c_str()), 0);
    testpacks::WriteFile(tmp + "/TMPafile0", testpacks::ToBytes("a file"));
    CTempWorkspace live;
    ASSERT_TRUE(live.IsMarked());

    std::vector<std::string> failures;
    std::vector<std::string> removed = CTempWorkspace::RemoveAbandoned(&failures);
    std::sort(removed.begin(), removed.end());
    std::vector<std::string> want = {dead1, dead2};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(removed, want);
    EXPECT_TRUE(failures.empty());
    EXPECT_FALSE(fs::PathExists(dead1));
    EXPECT_FALSE(fs::PathExists(dead2));
    for (const std::string& path : {plain, linked, tmp + "/TMPafile0", tmp + "/elsewhere",
                                    live.WorkspacePath() + "/" + kOwnerMarkName})
        EXPECT_TRUE(fs::PathExists(path)) << path;
    // A second start finds nothing more to do.
    EXPECT_TRUE(CTempWorkspace::RemoveAbandoned().empty());
}

TEST_F(WorkspaceTest, AWorkspaceThatCouldNotBeEmptiedIsRemovedAtTheNextStart) {
    OpenPack(Folder("", {}, {Folder("A", {File("x", NoiseBytes(3))})}));
    std::string wsPath;
    {
        CTempWorkspace ws;
        wsPath = ws.WorkspacePath();
        const std::string a = archive->ExtractFolderToTemp(0, ws, "");
        testpacks::WriteFile(a + "/foreign", NoiseBytes(1));
    }
    // Left as it was at close, and still marked as ours...
    EXPECT_TRUE(fs::PathExists(wsPath + "/A/foreign"));
    EXPECT_TRUE(fs::PathExists(wsPath + "/" + kOwnerMarkName));
    // ...so the next start removes it.
    EXPECT_EQ(CTempWorkspace::RemoveAbandoned(), std::vector<std::string>{wsPath});
    EXPECT_TRUE(TmpLeftovers().empty());
}

}  // namespace
}  // namespace crateforge::test
