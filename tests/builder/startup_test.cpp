// Start-up with each form of the command line: what is opened, what is
// asked, what is added, and the wait window in between.
#include <unistd.h>

#include <QDialog>

#include "BuilderFixture.h"

namespace crateforge {
namespace {

// Dialogs and messages that also note what the window looked like when
// they came up.
struct Watch {
    CBuilderDlg* window = nullptr;
    bool waitVisible = false;
    bool boundToWait = false;
    std::uint32_t progressHigh = 0;
    void Look() {
        if (window == nullptr) {
            return;
        }
        const auto* wait = window->findChild<QDialog*>(QStringLiteral("waitWindow"));
        waitVisible = wait != nullptr && wait->isVisible() &&
                      wait->windowTitle() == QStringLiteral("Please Wait...");
        boundToWait = BarOf(window->CurrentProgress()) !=
                      window->findChild<QProgressBar*>(QStringLiteral("progressBar"));
        if (auto* bar = dynamic_cast<QtProgressControl*>(window->CurrentProgress())) {
            progressHigh = bar->High();
        }
    }
};

struct WatchingDialogs : ScriptedDialogs {
    Watch* watch = nullptr;
    std::optional<std::string> SaveFile(const SaveFileRequest& request) override {
        watch->Look();
        return ScriptedDialogs::SaveFile(request);
    }
};

struct WatchingMessages : ScriptedMessages {
    Watch* watch = nullptr;
    MessageAnswer ShowMessage(std::string_view caption, std::string_view text,
                              MessageButtons buttons) override {
        watch->Look();
        return ScriptedMessages::ShowMessage(caption, text, buttons);
    }
};

class StartupTest : public BuilderTest {
  protected:
    // A window whose services watch it (the plain fixture's are unused).
    TestWindow& Start(std::vector<std::string> arguments) {
        BuilderServices services;
        services.messages = &watchingMessages;
        services.dialogs = &watchingDialogs;
        services.shell = &shell;
        services.cursor = &cursor;
        watchingDialogs.watch = &watch;
        watchingMessages.watch = &watch;
        window = std::make_unique<TestWindow>(services);
        watch.window = window.get();
        argStorage = std::move(arguments);
        argv.clear();
        argv.push_back(program.data());
        for (std::string& arg : argStorage) {
            argv.push_back(arg.data());
        }
        commandLine = CBuilderCommandLineInfo();
        ParseCommandLine(commandLine, static_cast<int>(argv.size()), argv.data());
        window->commandLine = &commandLine;
        window->show();
        window->OnInitDialog();
        Settle();
        return *window;
    }

    // After the command-line work: no wait window, the main bar bound again.
    void ExpectBackOnMainBar() {
        EXPECT_EQ(window->findChildren<QDialog*>(QStringLiteral("waitWindow")).size(), 0);
        EXPECT_EQ(BarOf(window->CurrentProgress()), MainBar());
        EXPECT_EQ(MainBar()->value(), 0);
        if (window->Archive() != nullptr) {
            EXPECT_EQ(BarOf(window->Archive()->progressControl()), MainBar());
        }
    }

    void ExpectNoPack() {
        EXPECT_FALSE(window->PackOpen());
        EXPECT_EQ(window->Archive(), nullptr);
        EXPECT_EQ(Title(), kWindowTitle);
        EXPECT_EQ(TotalText(), "");
        EXPECT_EQ(SelectedText(), "");
        EXPECT_EQ(List().model()->rowCount(), 0);
    }

    Watch watch;
    WatchingDialogs watchingDialogs;
    WatchingMessages watchingMessages;
};

TEST_F(StartupTest, NoArgumentsShowsTheWindowWithoutPack) {
    Start({});
    ExpectNoPack();
    ExpectBackOnMainBar();
    EXPECT_TRUE(watchingDialogs.SaveRequests().empty());
    EXPECT_TRUE(watchingDialogs.OpenRequests().empty());
    EXPECT_TRUE(watchingMessages.Calls().empty());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(StartupTest, SwitchAndPackOpensIt) {
    const std::string pack = SamplePack();
    Start({"\\o", pack});
    EXPECT_TRUE(window->PackOpen());
    EXPECT_EQ(Title(), std::string(kWindowTitle) + " - " + pack);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Docs", "Empty", "b.txt", "A.bin", "c.dat"}));
    EXPECT_TRUE(watchingDialogs.SaveRequests().empty());
    ExpectBackOnMainBar();
}

TEST_F(StartupTest, RelativePackPathOpensAsFullPath) {
    SamplePack("rel.vpf");
    char* saved = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(temp.Path().c_str()), 0);
    Start({"\\o", "rel.vpf"});
    ASSERT_EQ(chdir(saved), 0);
    std::free(saved);
    EXPECT_TRUE(window->PackOpen());
    EXPECT_EQ(Title(), std::string(kWindowTitle) + " - " + temp.File("rel.vpf"));
}

TEST_F(StartupTest, SwitchAloneOrWithTwoPathsDoesNothing) {
    const std::string pack = SamplePack();
    const std::vector<std::vector<std::string>> forms = {{"\\o"}, {"\\o", pack, pack}};
    for (const auto& form : forms) {
        SCOPED_TRACE(form.size());
        Start(form);
        ExpectNoPack();
        ExpectBackOnMainBar();
        EXPECT_TRUE(watchingDialogs.SaveRequests().empty());
    }
}

TEST_F(StartupTest, OnePackPathOpensWhateverTheCaseOfItsExtension) {
    for (const char* name : {"one.vpf", "two.VPF", "three.vpfx"}) {
        SCOPED_TRACE(name);
        const std::string pack = SamplePack(name);
        Start({pack});
        EXPECT_TRUE(window->PackOpen());
        EXPECT_EQ(Title(), std::string(kWindowTitle) + " - " + pack);
        EXPECT_TRUE(watchingDialogs.SaveRequests().empty());
        ExpectBackOnMainBar();
    }
}

TEST_F(StartupTest, OneOtherFileGoesIntoANewPack) {
    const std::string file = WriteFile("photo.zip", 5000);
    const std::string target = temp.File("new.VPF");
    watchingDialogs.QueueSaveFile(target);
    Start({file});
    ASSERT_EQ(watchingDialogs.SaveRequests().size(), 1u);
    const SaveFileRequest& request = watchingDialogs.SaveRequests().front();
    EXPECT_EQ(request.filter, "Varnholt Pack Files (*.vpf)|*.vpf||");
    EXPECT_EQ(request.defaultExtension, ".VPF");
    EXPECT_EQ(request.initialName, "Untitled");
    EXPECT_TRUE(request.confirmOverwrite);
    // The save dialog came up over the wait window, with packs bound to its bar.
    EXPECT_TRUE(watch.waitVisible);
    EXPECT_TRUE(watch.boundToWait);

    EXPECT_TRUE(window->PackOpen());
    EXPECT_EQ(Title(), std::string(kWindowTitle) + " - " + target);
    EXPECT_EQ(Names(), std::vector<std::string>{"photo.zip"});
    EXPECT_EQ(TotalText().rfind("Total: 1 Files. OrgSize:4 kB, Packed: ", 0), 0u) << TotalText();
    ExpectBackOnMainBar();
    // Saved at once: the pack on disk holds the file.
    CPackArchive reread(&messages, nullptr, nullptr);
    ASSERT_EQ(reread.Open(target), 1);
    EXPECT_EQ(reread.FileCount(), 1u);
    EXPECT_TRUE(messages.Calls().empty());
}

TEST_F(StartupTest, OneFolderIsAddedWhole) {
    MakeDir("tree");
    MakeDir("tree/sub");
    WriteFile("tree/a.txt", 10);
    WriteFile("tree/.hidden", 5);
    WriteFile("tree/sub/b.bin", 20);
    const std::string target = temp.File("tree.VPF");
    watchingDialogs.QueueSaveFile(target);
    Start({temp.File("tree")});
    EXPECT_TRUE(window->PackOpen());
    EXPECT_EQ(Names(), std::vector<std::string>{"tree"});
    // Names beginning with a dot inside it stay out, as Add Folder leaves them.
    EXPECT_EQ(TotalText(), "Total: 2 Files. OrgSize:30 B, Packed: 30 B");
    ExpectBackOnMainBar();
    CPackArchive reread(&messages, nullptr, nullptr);
    ASSERT_EQ(reread.Open(target), 1);
    EXPECT_EQ(reread.FileCount(), 2u);
}

TEST_F(StartupTest, FolderWithTrailingSlashKeepsItsName) {
    MakeDir("games");
    WriteFile("games/save.dat", 7);
    watchingDialogs.QueueSaveFile(temp.File("games.VPF"));
    Start({temp.File("games") + "//"});
    EXPECT_EQ(Names(), std::vector<std::string>{"games"});
    EXPECT_TRUE(watchingMessages.Calls().empty());
}

TEST_F(StartupTest, SeveralPathsAreAddedInOrderWithOneProgressTotal) {
    MakeDir("one");
    MakeDir("two");
    const std::string first = WriteFile("one/same.txt", 300, 1);
    const std::string second = WriteFile("two/same.txt", 400, 2);
    MakeDir("folder");
    WriteFile("folder/inner.txt", 100);
    const std::string target = temp.File("multi.VPF");
    watchingDialogs.QueueSaveFile(target);
    // The second same.txt asks to replace the first; that is the moment the
    // bar's range can be seen.
    watchingMessages.Queue(MessageAnswer::Yes);
    Start({first, temp.File("folder"), second});
    EXPECT_TRUE(window->PackOpen());
    ASSERT_EQ(watchingMessages.Calls().size(), 1u);
    EXPECT_EQ(watchingMessages.Calls()[0].text,
              "File same.txt already exist. Do you wish to replace it?");
    EXPECT_EQ(watch.progressHigh, 800u);  // 300 + 100 + 400
    EXPECT_TRUE(watch.boundToWait);
    EXPECT_EQ(Names(), (std::vector<std::string>{"folder", "same.txt"}));
    const int row = RowOf("same.txt");
    ASSERT_NE(EntryOf(row), nullptr);
    EXPECT_EQ(EntryOf(row)->originalSize, 400u);
    ExpectBackOnMainBar();
}

TEST_F(StartupTest, MinusSwitchIsNoSwitch) {
    const std::string pack = SamplePack("x.vpf");
    const std::string target = temp.File("m.VPF");
    watchingDialogs.QueueSaveFile(target);
    Start({"-o", pack});
    // "o" and the pack are two paths for a new pack; "o" does not exist.
    ASSERT_EQ(watchingDialogs.SaveRequests().size(), 1u);
    EXPECT_TRUE(window->PackOpen());
    EXPECT_EQ(Title(), std::string(kWindowTitle) + " - " + target);
    EXPECT_NE(RowOf("x.vpf"), -1);
    EXPECT_EQ(RowOf("o"), -1);
}

TEST_F(StartupTest, CancelledNewPackLeavesNoPackAndNoError) {
    const std::string file = WriteFile("data.bin", 100);
    watchingDialogs.QueueSaveFile(std::nullopt);
    Start({file});
    ASSERT_EQ(watchingDialogs.SaveRequests().size(), 1u);
    ExpectNoPack();
    ExpectBackOnMainBar();
    EXPECT_TRUE(watchingMessages.Calls().empty());
    EXPECT_FALSE(On(Command::Add));
    EXPECT_TRUE(On(Command::OpenPack));
    EXPECT_TRUE(window->isVisible());
}

}  // namespace
}  // namespace crateforge
