// Adding, replacing, removing and renaming content; the refusals that keep
// the pack sound.
#include "tests/archive/ArchiveFixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "archive/EntryCoding.h"
#include "tests/support/FailingAllocations.h"

namespace crateforge::test {
namespace {

class ContentTest : public ArchiveTest {
  protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    }
    std::vector<std::string> Names(const CPackFolder* f) const {
        std::vector<std::string> out;
        for (int i = 0; i < static_cast<int>(f->FileCount()); ++i)
            out.emplace_back(f->FileName(i));
        return out;
    }
    std::vector<std::string> FolderNames(const CPackFolder* f) const {
        std::vector<std::string> out;
        for (int i = 0; i < static_cast<int>(f->SubfolderCount()); ++i)
            out.emplace_back(f->SubfolderName(i));
        return out;
    }
};

TEST_F(ContentTest, FilesStoredBecauseCodingFailedAreCountedUntilTaken) {
    CPackFolder* root = archive->Root();
    ASSERT_EQ(archive->AddFile(Source("fine.txt", TextBytes(4000)), root), 1);
    EXPECT_EQ(archive->TakeCodingFallbacks().count, 0);

    // No memory for the coded streams (a little more than each file).
    SourceDir("tree");
    Source("tree/a.txt", TextBytes(5000, 2));
    Source("tree/b.txt", TextBytes(5000, 3));
    Source("tree/empty", {});
    {
        testsupport::FailAllocations noMemory(5001, 6000);
        ASSERT_EQ(archive->AddFile(Source("first.txt", TextBytes(5000, 4)), root), 1);
        ASSERT_EQ(archive->AddFolder(src + "/tree", root), 1);
        EXPECT_EQ(noMemory.Failed(), 3);
    }
    EXPECT_TRUE(messages.Calls().empty());  // the command says it, once
    const CodingFallbacks taken = archive->TakeCodingFallbacks();
    // An empty file needs no coding, so it did not fail.
    EXPECT_EQ(taken.count, 3);
    EXPECT_EQ(taken.firstName, src + "/first.txt");
    EXPECT_EQ(taken.reason, "out of memory");
    EXPECT_EQ(archive->TakeCodingFallbacks().count, 0);
    // Stored whole: nothing is lost, and the pack reads back.
    const int first = root->FindFile("first.txt");
    ASSERT_GE(first, 0);
    EXPECT_EQ(root->FileAt(first)->method, 0);
    EXPECT_EQ(root->FileAt(first)->packedSize, 5000u);
    EXPECT_EQ(archive->Save(), 1);
}

TEST_F(ContentTest, ReplaceQuestionNoKeepsYesReplacesInPlace) {
    CPackFolder* root = archive->Root();
    ASSERT_EQ(archive->AddFile(Source("README.TXT", NoiseBytes(10)), root), 1);
    ASSERT_EQ(archive->AddFile(Source("zzz", NoiseBytes(5)), root), 1);
    SourceDir("other");
    const std::string second = Source("other/readme.txt", NoiseBytes(25, 3));

    messages.Queue(MessageAnswer::No);
    EXPECT_EQ(archive->AddFile(second, root), 0);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].caption, "Warning");
    EXPECT_EQ(messages.Calls()[0].text,
              "File readme.txt already exist. Do you wish to replace it?");
    EXPECT_EQ(messages.Calls()[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(Names(root), (std::vector<std::string>{"README.TXT", "zzz"}));
    EXPECT_EQ(root->TotalOriginalSize(), 15u);

    messages.Queue(MessageAnswer::Yes);
    EXPECT_EQ(archive->AddFile(second, root), 1);
    EXPECT_EQ(Names(root), (std::vector<std::string>{"readme.txt", "zzz"}));
    EXPECT_EQ(root->FileAt(0)->originalSize, 25u);
    EXPECT_EQ(root->TotalOriginalSize(), 30u);
    EXPECT_EQ(archive->FileCount(), 2u);
    EXPECT_EQ(messages.UnexpectedCount(), 0);
}

TEST_F(ContentTest, TotalsFollowAddRemoveRename) {
    CPackFolder* root = archive->Root();
    ASSERT_EQ(archive->AddFile(Source("empty", {}), root), 1);
    EXPECT_EQ(root->FileAt(0)->method, 0);
    EXPECT_EQ(root->FileAt(0)->packedSize, 0u);
    EXPECT_EQ(root->FileAt(0)->originalSize, 0u);

    CPackFolder* sub = archive->MakeFolder(root, "Sub").folder;
    CPackFolder* deep = archive->MakeFolder(sub, "Deep").folder;
    for (int i = 0; i < 4; ++i)
        archive->AddFile(Source("s" + std::to_string(i), NoiseBytes(100, i)), sub);
    for (int i = 0; i < 3; ++i)
        archive->AddFile(Source("d" + std::to_string(i), NoiseBytes(10, i)), deep);
    EXPECT_EQ(archive->FileCount(), 8u);
    EXPECT_EQ(root->TotalOriginalSize(), 430u);
    EXPECT_EQ(sub->TotalPackedSize(), 430u);

    EXPECT_EQ(archive->RenameFile("empty", "renamed"), 1);
    EXPECT_EQ(Names(root), (std::vector<std::string>{"renamed"}));
    EXPECT_EQ(list.Names(), (std::vector<std::string>{"Sub", "renamed"}));
    EXPECT_EQ(archive->RemoveFile("no such file"), 1);
    EXPECT_EQ(archive->FileCount(), 8u);

    EXPECT_EQ(archive->RemoveFolder("SUB/"), 1);  // case-blind, one trailing "/" dropped
    EXPECT_EQ(archive->FileCount(), 1u);
    EXPECT_EQ(root->TotalOriginalSize(), 0u);
    EXPECT_EQ(root->SubfolderCount(), 0u);
    EXPECT_EQ(archive->RemoveFile("RENAMED"), 1);
    EXPECT_EQ(archive->FileCount(), 0u);
    ASSERT_EQ(archive->Save(), 1);
    EXPECT_EQ(testpacks::ReadFile(PackPath()).size(), 32u);
}

TEST_F(ContentTest, RenameRules) {
    CPackFolder* root = archive->Root();
    archive->AddFile(Source("a.txt", NoiseBytes(3)), root);
    archive->AddFile(Source("b.txt", NoiseBytes(3)), root);
    archive->MakeFolder(root, "Dir");
    archive->MakeFolder(root, "Other");

    EXPECT_EQ(archive->RenameFile("a.txt", "A.TXT"), 0);  // its own name in other case
    EXPECT_EQ(archive->RenameFile("a.txt", "B.txt"), 0);
    EXPECT_EQ(archive->RenameFolder("Dir", "other"), 0);
    EXPECT_EQ(archive->RenameFile("a.txt", "dir"), 1);  // a file may take a folder's name
    EXPECT_EQ(archive->RenameFolder("Dir", "b.txt"), 1);
    EXPECT_EQ(Names(root), (std::vector<std::string>{"dir", "b.txt"}));
    EXPECT_EQ(FolderNames(root), (std::vector<std::string>{"b.txt", "Other"}));
    EXPECT_TRUE(messages.Calls().empty());

    const std::string bad[] = {"", ".", "..", "x/y", "x\\y", std::string(260, 'r')};
    for (const std::string& name : bad) {
        messages.Clear();
        EXPECT_EQ(archive->RenameFile("dir", name), 1) << name;
        EXPECT_EQ(archive->RenameFolder("Other", name), 1) << name;
        ASSERT_EQ(messages.Calls().size(), 2u) << name;
        const std::string& text = messages.Calls()[0].text;
        if (name.size() > 259)
            EXPECT_EQ(text, "Unable to rename dir: the new name is longer than 259 bytes.");
        else
            EXPECT_EQ(text,
                      "Unable to rename dir: a name must not be empty, \".\" or \"..\", or "
                      "contain \"/\" or \"\\\".");
    }
    EXPECT_EQ(Names(root), (std::vector<std::string>{"dir", "b.txt"}));
    EXPECT_EQ(FolderNames(root), (std::vector<std::string>{"b.txt", "Other"}));
    EXPECT_EQ(archive->RenameFile("a", std::string(259, 'r')), 1);  // 259 bytes fit
}

TEST_F(ContentTest, AddFolderSkipsDotNamesMergesAndAsksPerFile) {
    const std::string top = SourceDir(".old.stuff");
    Source(".old.stuff/b.txt", NoiseBytes(5));
    Source(".old.stuff/A.txt", NoiseBytes(6));
    Source(".old.stuff/.hidden", NoiseBytes(7));
    SourceDir(".old.stuff/.svn");
    Source(".old.stuff/.svn/entries", NoiseBytes(8));
    SourceDir(".old.stuff/inner");
    Source(".old.stuff/inner/c.bin", NoiseBytes(9));
    Source(".old.stuff/inner/.c.bin.swp", NoiseBytes(3));
    // A dangling link of a dot-name is left out, not reported.
    ASSERT_EQ(symlink((top + "/gone").c_str(), (top + "/.lock").c_str()), 0);

    CPackFolder* root = archive->Root();
    EXPECT_EQ(archive->AddFolder(top + "/", root), 1);
    // The added folder keeps its own name, dot and all; names beginning
    // with a dot inside it stay out (.git, editor files); the rest in byte
    // order.
    ASSERT_EQ(FolderNames(root), (std::vector<std::string>{".old.stuff"}));
    CPackFolder* added = root->SubfolderAt(0);
    EXPECT_EQ(Names(added), (std::vector<std::string>{"A.txt", "b.txt"}));
    EXPECT_EQ(FolderNames(added), (std::vector<std::string>{"inner"}));
    EXPECT_EQ(Names(added->SubfolderAt(0)), (std::vector<std::string>{"c.bin"}));
    EXPECT_EQ(archive->FileCount(), 3u);
    EXPECT_TRUE(messages.Calls().empty());

    // Again: merged into the same subfolders, one question per file, in the
    // walk's order.
    Source(".old.stuff/new.txt", NoiseBytes(2));
    messages.Queue({MessageAnswer::Yes, MessageAnswer::No, MessageAnswer::No});
    EXPECT_EQ(archive->AddFolder(top, root), 1);
    EXPECT_EQ(root->SubfolderCount(), 1u);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{"File A.txt already exist. Do you wish to replace it?",
                                        "File b.txt already exist. Do you wish to replace it?",
                                        "File c.bin already exist. Do you wish to replace it?"}));
    EXPECT_EQ(messages.UnexpectedCount(), 0);
    EXPECT_EQ(Names(added), (std::vector<std::string>{"A.txt", "b.txt", "new.txt"}));
    EXPECT_EQ(archive->FileCount(), 4u);
}

// A full name inside a pack stops at 4,095 bytes: adding and renaming
// refuse what would pass it, with a message naming what was not done, and
// change nothing else.
TEST_F(ContentTest, FullNamesStayWithinTheLimit) {
    CPackFolder* root = archive->Root();
    CPackFolder* deep = root;
    for (int i = 0; i < 16; ++i)  // 16 x 250 bytes and 15 separators: 4,015
        deep = archive->MakeFolder(deep, std::string(250, static_cast<char>('a' + i))).folder;
    ASSERT_EQ(deep->FullNameLength(), 4015u);
    const std::string fits = Source(std::string(79, 'x'), NoiseBytes(3));
    const std::string over = Source(std::string(80, 'y'), NoiseBytes(3));
    const std::string folder = SourceDir(std::string(70, 'd'));
    Source(std::string(70, 'd') + "/" + std::string(8, 'i'), NoiseBytes(2));  // 4,095
    Source(std::string(70, 'd') + "/" + std::string(9, 'j'), NoiseBytes(2));  // 4,096
    const std::string tooLong =
        "its full name inside the PackFile would be longer than 4095 bytes.";

    EXPECT_EQ(archive->AddFile(fits, deep), 1);
    EXPECT_EQ(archive->AddFile(over, deep), 0);
    EXPECT_EQ(archive->AddFolder(folder, deep), 1);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{
                  "Unable to add " + over + ": " + tooLong,
                  "Unable to add " + folder + "/" + std::string(9, 'j') + ": " + tooLong}));
    EXPECT_EQ(Names(deep), std::vector<std::string>{std::string(79, 'x')});
    ASSERT_EQ(FolderNames(deep), std::vector<std::string>{std::string(70, 'd')});
    EXPECT_EQ(Names(deep->SubfolderAt(0)), std::vector<std::string>{std::string(8, 'i')});
    EXPECT_EQ(root->LongestNameInside(), 4095u);

    // Renaming the top folder: a shorter name is fine, a longer one would
    // push the deepest names past the limit.
    messages.Clear();
    const std::string top(250, 'a');
    EXPECT_EQ(archive->RenameEntry(top, std::string(251, 'A'), true), RenameOutcome::InvalidName);
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"Unable to rename " + top +
                                       ": a full name inside the PackFile would be longer than "
                                       "4095 bytes."});
    EXPECT_EQ(FolderNames(root), std::vector<std::string>{top});
    EXPECT_EQ(archive->RenameEntry(top, "t", true), RenameOutcome::Renamed);
    EXPECT_EQ(root->LongestNameInside(), 4095u - 249u);
    messages.Queue(MessageAnswer::No);               // keep the one added before
    EXPECT_EQ(archive->AddFolder(folder, deep), 1);  // now the 4,096 one fits too
    EXPECT_EQ(Names(deep->SubfolderAt(0)),
              (std::vector<std::string>{std::string(8, 'i'), std::string(9, 'j')}));
}

TEST_F(ContentTest, LinksToFoldersAreFollowedExceptBackUpTheTree) {
    const std::string top = SourceDir("tree");
    Source("tree/real.txt", testpacks::ToBytes("real"));
    SourceDir("elsewhere");
    Source("elsewhere/far.txt", testpacks::ToBytes("far away"));
    ASSERT_EQ(symlink(top.c_str(), (top + "/loop").c_str()), 0);  // link to an ancestor
    ASSERT_EQ(symlink((top + "/real.txt").c_str(), (top + "/alias.txt").c_str()), 0);
    ASSERT_EQ(symlink((src + "/elsewhere").c_str(), (top + "/there").c_str()), 0);

    EXPECT_EQ(archive->AddFolder(top, archive->Root()), 1);
    const CPackFolder* tree = archive->Root()->SubfolderAt(0);
    EXPECT_EQ(Names(tree), (std::vector<std::string>{"alias.txt", "real.txt"}));
    EXPECT_EQ(tree->FileAt(0)->originalSize, 4u);
    ASSERT_EQ(FolderNames(tree), (std::vector<std::string>{"there"}));
    EXPECT_EQ(Names(tree->SubfolderAt(0)), (std::vector<std::string>{"far.txt"}));
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text, "Unable to add " + top +
                                            "/loop: a link back to a folder that holds it. It "
                                            "was not added.");
    EXPECT_EQ(messages.Calls()[0].caption, kAppCaption);
}

TEST_F(ContentTest, UnreadableFilesAreReportedAndTheRestGoesOn) {
    const std::string top = SourceDir("mixed");
    Source("mixed/a.txt", NoiseBytes(4));
    ASSERT_EQ(symlink((top + "/gone").c_str(), (top + "/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((top + "/fifo").c_str(), 0600), 0);  // must not block
    Source("mixed/z.txt", NoiseBytes(4));

    EXPECT_EQ(archive->AddFolder(top, archive->Root()), 1);
    const CPackFolder* mixed = archive->Root()->SubfolderAt(0);
    EXPECT_EQ(Names(mixed), (std::vector<std::string>{"a.txt", "z.txt"}));
    ASSERT_EQ(messages.Calls().size(), 2u);
    EXPECT_EQ(messages.Calls()[0].text, "Unable to read the file " + top +
                                            "/dangling: No such file or directory. It was "
                                            "not added.");
    EXPECT_EQ(messages.Calls()[1].text,
              "Unable to read the file " + top + "/fifo: not a regular file. It was not added.");
    EXPECT_EQ(messages.Calls()[0].caption, kAppCaption);

    // A directory passed as a file.
    messages.Clear();
    EXPECT_EQ(archive->AddFile(top, archive->Root()), 0);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text,
              "Unable to read the file " + top + ": Is a directory. It was not added.");
    EXPECT_EQ(archive->FileCount(), 2u);
}

TEST_F(ContentTest, FoldersThatCannotBeListedAreReportedAndNotAdded) {
    const std::string plain = Source("plain.txt", NoiseBytes(3));
    const std::string paths[] = {src + "/missing", plain + "/below"};
    const std::string reasons[] = {"No such file or directory", "Not a directory"};
    for (int i = 0; i < 2; ++i) {
        messages.Clear();
        EXPECT_EQ(archive->AddFolder(paths[i], archive->Root()), 0);
        ASSERT_EQ(messages.Calls().size(), 1u);
        EXPECT_EQ(messages.Calls()[0].text, "Unable to list the folder " + paths[i] + ": " +
                                                reasons[i] + ". It was not added.");
    }
    EXPECT_EQ(archive->Root()->SubfolderCount(), 0u);
}

TEST_F(ContentTest, NamesThatCannotBeStoredAreRefused) {
    const std::string longName = src + "/" + std::string(300, 'L');
    EXPECT_EQ(archive->AddFile(longName, archive->Root()), 0);
    EXPECT_EQ(archive->AddFolder(longName, archive->Root()), 0);
    const std::string backslash = Source("back\\slash", NoiseBytes(3));
    EXPECT_EQ(archive->AddFile(backslash, archive->Root()), 0);
    EXPECT_EQ(archive->AddFolder("/", archive->Root()), 0);
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{
                  "Unable to add " + longName + ": its name is longer than 259 bytes.",
                  "Unable to add " + longName + ": its name is longer than 259 bytes.",
                  "Unable to add " + backslash + ": its name cannot be used inside a PackFile.",
                  "Unable to add /: its name cannot be used inside a PackFile."}));
    EXPECT_EQ(archive->FileCount(), 0u);
    EXPECT_EQ(archive->Root()->SubfolderCount(), 0u);
}

TEST_F(ContentTest, FourGibibytesAreRefusedBeforeAnythingChanges) {
    // A sparse file of exactly 4 GiB: refused without being read.
    const std::string huge = Source("huge.bin", {});
    ASSERT_EQ(truncate(huge.c_str(), 0x100000000LL), 0);
    EXPECT_EQ(archive->AddFile(huge, archive->Root()), 0);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text,
              "Unable to add " + huge + ": files of 4 GiB or more cannot be packed.");
    EXPECT_EQ(archive->FileCount(), 0u);

    // A pack already close to 4 GiB: a stand-in entry claims the space.
    auto filler = ClaimedEntry("filler", 0xFFFF0000u, 0xFFFF0000u);
    PackEntry* fillerEntry = filler.get();
    ASSERT_EQ(archive->AddCodedEntry(filler, archive->Root(), "filler", NameClash::Keep),
              AddOutcome::Added);
    const std::string small = Source("small.bin", NoiseBytes(70000));
    messages.Clear();
    EXPECT_EQ(archive->AddFile(small, archive->Root()), 0);
    // The folder itself still fits; none of its files do.
    EXPECT_EQ(archive->AddFolder(src, archive->Root()), 1);
    auto coded = std::make_unique<PackEntry>();
    coded->SetName("coded");
    pack::Fault fault;
    ASSERT_EQ(CodeDiskFile(small, *coded, {}, fault), DiskReadStatus::Ok);
    EXPECT_EQ(archive->AddCodedEntry(coded, archive->Root(), small, NameClash::Ask),
              AddOutcome::Refused);
    EXPECT_NE(coded, nullptr);  // left to the caller
    const std::string wouldReach = "Unable to add " + small + ": the PackFile would reach 4 GiB.";
    EXPECT_EQ(
        messages.Texts(),
        (std::vector<std::string>{
            wouldReach, "Unable to add " + huge + ": files of 4 GiB or more cannot be packed.",
            wouldReach, wouldReach}));
    ASSERT_EQ(archive->Root()->SubfolderCount(), 1u);
    EXPECT_EQ(archive->Root()->SubfolderAt(0)->FileCount(), 0u);
    EXPECT_EQ(archive->Root()->FileCount(), 1u);
    EXPECT_EQ(archive->Root()->FileAt(0), fillerEntry);
    EXPECT_EQ(archive->FileCount(), 1u);  // the stand-in alone
}

TEST_F(ContentTest, CodedEntriesSayHowATakenNameWasSettled) {
    const std::string path = Source("t.txt", TextBytes(50000));
    archive->AddFile(path, archive->Root());
    auto codeOnAThread = [&] {
        auto entry = std::make_unique<PackEntry>();
        entry->SetName("T.TXT");
        DiskReadStatus status{};
        std::thread worker([&] {
            pack::Fault fault;
            status = CodeDiskFile(path, *entry, {}, fault);
        });
        worker.join();
        EXPECT_EQ(status, DiskReadStatus::Ok);
        EXPECT_EQ(entry->method, static_cast<std::uint8_t>(pack::PackMethod::Gzip));
        return entry;
    };
    // Keep: no question, the name is reported taken and the entry handed back.
    std::unique_ptr<PackEntry> entry = codeOnAThread();
    EXPECT_EQ(archive->AddCodedEntry(entry, archive->Root(), path, NameClash::Keep),
              AddOutcome::NameTaken);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(messages.Calls().empty());
    EXPECT_EQ(Names(archive->Root()), (std::vector<std::string>{"t.txt"}));
    // Ask: the program's question; No keeps, Yes replaces in place.
    messages.Queue({MessageAnswer::No, MessageAnswer::Yes});
    EXPECT_EQ(archive->AddCodedEntry(entry, archive->Root(), path, NameClash::Ask),
              AddOutcome::NameTaken);
    EXPECT_EQ(archive->AddCodedEntry(entry, archive->Root(), path, NameClash::Ask),
              AddOutcome::Replaced);
    EXPECT_EQ(entry, nullptr);  // taken by the folder
    ASSERT_EQ(messages.Calls().size(), 2u);
    EXPECT_EQ(messages.Calls()[1].text, "File T.TXT already exist. Do you wish to replace it?");
    EXPECT_EQ(Names(archive->Root()), (std::vector<std::string>{"T.TXT"}));
    // Replace: no question.
    entry = codeOnAThread();
    entry->SetName("t.txt");
    EXPECT_EQ(archive->AddCodedEntry(entry, archive->Root(), path, NameClash::Replace),
              AddOutcome::Replaced);
    entry = codeOnAThread();
    entry->SetName("u.txt");
    EXPECT_EQ(archive->AddCodedEntry(entry, archive->Root(), path, NameClash::Keep),
              AddOutcome::Added);
    EXPECT_EQ(messages.Calls().size(), 2u);
    EXPECT_EQ(Names(archive->Root()), (std::vector<std::string>{"t.txt", "u.txt"}));
    EXPECT_EQ(archive->FileCount(), 2u);
}

TEST_F(ContentTest, NothingOpenRefusesEverything) {
    auto empty = MakeArchive();
    const std::string file = Source("f", NoiseBytes(3));
    CPackFolder scratch;
    EXPECT_EQ(empty->AddFile(file, &scratch), 0);
    EXPECT_EQ(empty->AddFolder(src, &scratch), 0);
    EXPECT_EQ(empty->RemoveFile("f"), 0);
    EXPECT_EQ(empty->RemoveFolder("f"), 0);
    EXPECT_EQ(empty->RenameFile("f", "g"), 0);
    EXPECT_EQ(empty->RenameFolder("f", "g"), 0);
    EXPECT_EQ(empty->Save(), 0);
    EXPECT_EQ(scratch.FileCount(), 0u);
    EXPECT_TRUE(messages.Calls().empty());
}

}  // namespace
}  // namespace crateforge::test
