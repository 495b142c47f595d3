// The Open Pack and New Pack commands: dialogs, old packs, failures, and
// what the window shows after each step.
#include "BuilderFixture.h"

namespace crateforge {
namespace {

class OpenNewTest : public BuilderTest {
  protected:
    void Trigger(Command command) {
        Action(command)->trigger();
        Settle();
    }
    void ExpectNoPack() {
        EXPECT_FALSE(window->PackOpen());
        EXPECT_EQ(window->Archive(), nullptr);
        EXPECT_EQ(Title(), kWindowTitle);
        EXPECT_EQ(TotalText(), "");
        EXPECT_EQ(SelectedText(), "");
        EXPECT_EQ(List().model()->rowCount(), 0);
        EXPECT_FALSE(On(Command::Add));
        EXPECT_FALSE(Named<QMenu>("actionsMenu")->menuAction()->isEnabled());
    }
};

TEST_F(OpenNewTest, OpenCurrentPackShowsItsRoot) {
    MakeWindow();
    const std::string pack = SamplePack();
    dialogs.QueueOpenFiles({pack});
    Trigger(Command::OpenPack);
    ASSERT_EQ(dialogs.OpenRequests().size(), 1u);
    EXPECT_EQ(dialogs.OpenRequests()[0].filter,
              "Varnholt Pack Files (*.vpf)|*.vpf|Old Pack Files (*.dat)|*.dat||");
    EXPECT_FALSE(dialogs.OpenRequests()[0].multiSelect);
    EXPECT_TRUE(window->PackOpen());
    EXPECT_EQ(Title(), std::string(kWindowTitle) + " - " + pack);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Docs", "Empty", "b.txt", "A.bin", "c.dat"}));
    // 3000 + 200 + 500 + 1200 + 40 bytes below the root.
    EXPECT_EQ(TotalText().rfind("Total: 5 Files. OrgSize:4 kB, Packed: ", 0), 0u) << TotalText();
    EXPECT_EQ(SelectedText(), "Selected: 0 Files. OrgSize:0 B, Packed: 0 B");
    EXPECT_TRUE(messages.Calls().empty());
    // The columns as the archive fills them.
    const int row = RowOf("c.dat");
    EXPECT_EQ(window->ListControlImpl()->RowText(row, 1), "40");
    EXPECT_EQ(window->ListControlImpl()->RowText(row, 2), "0%");
    EXPECT_EQ(window->ListControlImpl()->RowText(row, 3), "40");
    EXPECT_EQ(Cell(row, 1).data().toString(), QStringLiteral("40"));
}

TEST_F(OpenNewTest, CancelledOpenKeepsPackFolderAndSelection) {
    MakeWindow({"\\o", SamplePack()});
    window->OnListDoubleClick();  // nothing selected: nothing happens
    Select({"Docs"});
    window->OnListDoubleClick();
    ASSERT_EQ(Names(), (std::vector<std::string>{"..", "readme.txt", "notes.md"}));
    Select({"notes.md"});
    const std::string title = Title();
    dialogs.QueueOpenFiles({});
    Trigger(Command::OpenPack);
    EXPECT_TRUE(window->PackOpen());
    EXPECT_EQ(Title(), title);
    EXPECT_EQ(Names(), (std::vector<std::string>{"..", "readme.txt", "notes.md"}));
    EXPECT_EQ(window->ListControlImpl()->SelectedRows(), std::vector<int>{2});
}

TEST_F(OpenNewTest, OldPackConvertedOnYes) {
    MakeWindow();
    const std::string old = WriteOldPack(
        "data.dat", {testpacks::OldEntry("first.txt", testpacks::ToBytes(std::string(600, 'x'))),
                     testpacks::OldEntry("second.bin", testpacks::SampleBytes(80, 9))});
    const testpacks::Bytes oldBytes = testpacks::ReadFile(old);
    messages.Queue(MessageAnswer::Yes);
    dialogs.QueueOpenFiles({old});
    Trigger(Command::OpenPack);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].caption, "Warning");
    EXPECT_EQ(messages.Calls()[0].text,
              "PackFile has an old version. It will be converted. Do you wish to continue?");
    EXPECT_EQ(messages.Calls()[0].buttons, MessageButtons::YesNo);
    const std::string converted = temp.File("data.VPF");
    EXPECT_TRUE(window->PackOpen());
    EXPECT_EQ(Title(), std::string(kWindowTitle) + " - " + converted);
    EXPECT_EQ(Names(), (std::vector<std::string>{"first.txt", "second.bin"}));
    EXPECT_EQ(TotalText().rfind("Total: 2 Files. OrgSize:680 B, Packed: ", 0), 0u) << TotalText();
    EXPECT_TRUE(CPackArchive::IsCurrentPack(converted));
    EXPECT_EQ(testpacks::ReadFile(old), oldBytes);
}

TEST_F(OpenNewTest, OldPackRefusedOnNo) {
    MakeWindow({"\\o", SamplePack()});
    const std::string old =
        WriteOldPack("data.dat", {testpacks::OldEntry("first.txt", testpacks::ToBytes("abc"))});
    messages.Queue(MessageAnswer::No);
    dialogs.QueueOpenFiles({old});
    Trigger(Command::OpenPack);
    EXPECT_EQ(messages.Calls().size(), 1u);
    ExpectNoPack();
    EXPECT_FALSE(fs::PathExists(temp.File("data.VPF")));
}

TEST_F(OpenNewTest, FileThatIsNoPackClosesTheOpenOneSilently) {
    MakeWindow({"\\o", SamplePack()});
    ASSERT_TRUE(window->PackOpen());
    const std::string junk = temp.Write("junk.vpf", testpacks::ToBytes("not a pack at all"));
    dialogs.QueueOpenFiles({junk});
    Trigger(Command::OpenPack);
    ExpectNoPack();
    EXPECT_TRUE(messages.Calls().empty());
    // A missing file is the same.
    dialogs.QueueOpenFiles({temp.File("missing.vpf")});
    Trigger(Command::OpenPack);
    ExpectNoPack();
}

TEST_F(OpenNewTest, NewPackIsEmptyAndNotWrittenYet) {
    MakeWindow();
    const std::string target = temp.File("test.VPF");
    dialogs.QueueSaveFile(target);
    Trigger(Command::NewPack);
    ASSERT_EQ(dialogs.SaveRequests().size(), 1u);
    EXPECT_EQ(dialogs.SaveRequests()[0].filter, "Varnholt Pack Files (*.vpf)|*.vpf||");
    EXPECT_EQ(dialogs.SaveRequests()[0].defaultExtension, ".VPF");
    EXPECT_EQ(dialogs.SaveRequests()[0].initialName, "Untitled");
    EXPECT_TRUE(dialogs.SaveRequests()[0].confirmOverwrite);
    EXPECT_TRUE(window->PackOpen());
    EXPECT_EQ(Title(), std::string(kWindowTitle) + " - " + target);
    EXPECT_EQ(List().model()->rowCount(), 0);
    EXPECT_EQ(TotalText(), "Total: 0 Files. OrgSize:0 B, Packed: 0 B");
    EXPECT_EQ(SelectedText(), "Selected: 0 Files. OrgSize:0 B, Packed: 0 B");
    EXPECT_FALSE(fs::PathExists(target));
}

TEST_F(OpenNewTest, NewPackReplacesTheOpenOneAndCancelKeepsIt) {
    const std::string pack = SamplePack();
    MakeWindow({"\\o", pack});
    dialogs.QueueSaveFile(std::nullopt);
    Trigger(Command::NewPack);
    EXPECT_EQ(Title(), std::string(kWindowTitle) + " - " + pack);
    EXPECT_EQ(List().model()->rowCount(), 5);

    const std::string target = temp.File("other.VPF");
    dialogs.QueueSaveFile(target);
    Trigger(Command::NewPack);
    EXPECT_EQ(Title(), std::string(kWindowTitle) + " - " + target);
    EXPECT_EQ(List().model()->rowCount(), 0);
    EXPECT_EQ(TotalText(), "Total: 0 Files. OrgSize:0 B, Packed: 0 B");
    // Opening again starts at the root, unsorted.
    window->OnColumnClick(1);
    dialogs.QueueOpenFiles({pack});
    Trigger(Command::OpenPack);
    EXPECT_EQ(window->Archive()->SortColumn(), -1);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Docs", "Empty", "b.txt", "A.bin", "c.dat"}));
}

TEST_F(OpenNewTest, ExitClosesTheWindow) {
    MakeWindow({"\\o", SamplePack()});
    const std::string workspace = window->Workspace()->WorkspacePath();
    ASSERT_TRUE(fs::IsDirectory(workspace));
    Trigger(Command::Exit);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->Archive(), nullptr);
    EXPECT_FALSE(fs::PathExists(workspace));
}

}  // namespace
}  // namespace crateforge
