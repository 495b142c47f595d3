// The Extract dialog: its widgets and start state, the destination check,
// extracting selected and all rows, the overwrite question, and failures
// that must not cost the user a file or write outside the chosen folder.
#include <sys/resource.h>
#include <sys/wait.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <csignal>

#include "ContentFixture.h"
#include "archive/PackFolder.h"
#include "builder/ExtractDialog.h"

namespace crateforge {
namespace {

using pack::PackMethod;
using testpacks::File;
using testpacks::Folder;

class ExtractTest : public ContentTest {
  protected:
    void SetUp() override {
        OpenSample();
        dest = MakeDir("dest");
    }
    // A dialog over the window's list, as the Extract command makes it.
    std::unique_ptr<CExtractDialog> MakeDialog() {
        auto dialog = std::make_unique<CExtractDialog>(&messages, &dialogs, &cursor, window.get());
        dialog->listControl = window->ListControlImpl();
        dialog->folder = window->Archive()->Current();
        dialog->OnInitDialog();
        return dialog;
    }
    // Runs the dialog on the current selection into `where`.
    void Extract(const std::string& where, bool all = false, bool overwrite = false) {
        std::unique_ptr<CExtractDialog> dialog = MakeDialog();
        dialog->DestinationEdit()->setText(QString::fromStdString(where));
        if (all) {
            dialog->ExtractAllRadio()->click();
        }
        if (overwrite) {
            dialog->OverwriteCheck()->click();
        }
        dialog->OnOK();
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
    }
    std::string At(const std::string& relative) { return dest + "/" + relative; }
    // Names directly in a directory, sorted.
    static std::vector<std::string> Listing(const std::string& dir) {
        std::vector<fs::DirEntry> entries;
        fs::ListDirectory(dir, entries);
        std::vector<std::string> names;
        for (const fs::DirEntry& e : entries) {
            names.push_back(e.name + (e.isDirectory ? "/" : ""));
        }
        return names;
    }
    std::string dest;
};

TEST_F(ExtractTest, WidgetsTextsAndStartState) {
    const std::string cwd = QDir::currentPath().toStdString();
    struct Start {
        std::vector<const char*> selection;
        bool selectedMode;
    };
    for (const Start& start : {Start{{"c.dat"}, true}, Start{{}, false}}) {
        List().clearSelection();
        for (const char* name : start.selection) {
            window->ListControlImpl()->SelectRow(RowOf(name), true);
        }
        std::unique_ptr<CExtractDialog> dialog = MakeDialog();
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Extract File(s)"));
        EXPECT_EQ(dialog->objectName(), QStringLiteral("extractDialog"));
        EXPECT_FALSE(dialog->windowFlags() & Qt::WindowCloseButtonHint);
        auto text = [&](const char* name) {
            auto* widget = dialog->findChild<QAbstractButton*>(QString::fromLatin1(name));
            return widget != nullptr ? widget->text().toStdString() : std::string("<missing>");
        };
        EXPECT_EQ(text("browseButton"), "..");
        EXPECT_EQ(text("extractAllRadio"), "Extract All Files");
        EXPECT_EQ(text("extractSelectedRadio"), "Extract Selected");
        EXPECT_EQ(text("overwriteCheck"), "Overwrite without ask");
        EXPECT_EQ(text("okButton"), "OK");
        EXPECT_EQ(text("cancelButton"), "Cancel");
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("destinationEdit"));
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text().toStdString(), cwd);
        EXPECT_EQ(dialog->destinationFolder, cwd);
        EXPECT_FALSE(dialog->OverwriteCheck()->isChecked());
        EXPECT_FALSE(dialog->overwriteWithoutAsking);
        EXPECT_EQ(dialog->ExtractSelectedRadio()->isChecked(), start.selectedMode);
        EXPECT_EQ(dialog->ExtractAllRadio()->isChecked(), !start.selectedMode);
        EXPECT_EQ(dialog->mode, start.selectedMode ? ExtractMode::Selected : ExtractMode::All);
        EXPECT_TRUE(dialog->OkButton()->isDefault());

        // The radio buttons and the check box drive the fields.
        dialog->ExtractAllRadio()->click();
        EXPECT_EQ(dialog->mode, ExtractMode::All);
        EXPECT_FALSE(dialog->ExtractSelectedRadio()->isChecked());
        dialog->ExtractSelectedRadio()->click();
        EXPECT_EQ(dialog->mode, ExtractMode::Selected);
        EXPECT_FALSE(dialog->ExtractAllRadio()->isChecked());
        dialog->OverwriteCheck()->click();
        EXPECT_TRUE(dialog->overwriteWithoutAsking);
        dialog->OverwriteCheck()->click();
        EXPECT_FALSE(dialog->overwriteWithoutAsking);
    }
}

TEST_F(ExtractTest, EmptyDestinationKeepsTheDialogOpen) {
    Select({"c.dat"});
    std::unique_ptr<CExtractDialog> dialog = MakeDialog();
    dialog->show();
    dialog->DestinationEdit()->clear();
    dialog->OnOK();
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].text, "Please insert a directory name.");
    EXPECT_EQ(messages.Calls()[0].caption, "Crateforge");
    EXPECT_EQ(messages.Calls()[0].buttons, MessageButtons::Ok);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(cursor.Changes().empty());
}

TEST_F(ExtractTest, BrowseFillsTheDestinationButATypedOneWins) {
    Select({"c.dat"});
    std::unique_ptr<CExtractDialog> dialog = MakeDialog();
    dialogs.QueueBrowseFolder(std::nullopt);
    dialog->BrowseButton()->click();
    EXPECT_EQ(dialog->DestinationEdit()->text().toStdString(), QDir::currentPath().toStdString());
    dialogs.QueueBrowseFolder(temp.Path());
    dialog->BrowseButton()->click();
    EXPECT_EQ(dialogs.BrowseTitles(), (std::vector<std::string>{"Select Folder", "Select Folder"}));
    EXPECT_EQ(dialog->DestinationEdit()->text().toStdString(), temp.Path());
    dialog->DestinationEdit()->setText(QString::fromStdString(dest));
    dialog->OnOK();
    EXPECT_TRUE(Exists(At("c.dat")));
    EXPECT_FALSE(Exists(temp.File("c.dat")));
}

TEST_F(ExtractTest, SelectedRowsThroughTheWindowsCommand) {
    Select({"Docs", "b.txt", "Empty"});
    WhenModal<CExtractDialog>([this](CExtractDialog& dialog) {
        dialog.DestinationEdit()->setText(QString::fromStdString(dest));
        dialog.OkButton()->click();
    });
    Trigger(Command::Extract);
    // The folder's own directory holds its files; the empty folder is there.
    EXPECT_EQ(Listing(dest), (std::vector<std::string>{"Docs/", "Empty/", "b.txt"}));
    EXPECT_EQ(Listing(At("Docs")), (std::vector<std::string>{"notes.md", "readme.txt"}));
    EXPECT_EQ(ReadText(At("Docs/readme.txt")), std::string(3000, 'r'));
    EXPECT_EQ(testpacks::ReadFile(At("Docs/notes.md")), testpacks::SampleBytes(200, 3));
    EXPECT_EQ(ReadText(At("b.txt")), std::string(500, 'b'));
    EXPECT_TRUE(Listing(At("Empty")).empty());
    EXPECT_TRUE(messages.Calls().empty());
    EXPECT_FALSE(cursor.Waiting());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(ExtractTest, AllRowsOfTheShownFolderOnly) {
    Select({"Docs"});
    window->OnListDoubleClick();
    Settle();
    Select({"notes.md"});
    Extract(dest, /*all=*/true);
    EXPECT_EQ(Listing(dest), (std::vector<std::string>{"notes.md", "readme.txt"}));

    // At the root, All is the whole pack; the ".." row alone extracts nothing.
    Select({".."});
    const std::string other = MakeDir("other");
    Extract(other);
    EXPECT_TRUE(Listing(other).empty());
    EXPECT_TRUE(messages.Calls().empty());
    QTest::keyClick(&List(), Qt::Key_Backspace);
    Settle();
    Extract(other, /*all=*/true);
    EXPECT_EQ(Listing(other),
              (std::vector<std::string>{"A.bin", "Docs/", "Empty/", "b.txt", "c.dat"}));
    EXPECT_EQ(testpacks::ReadFile(other + "/A.bin"), testpacks::SampleBytes(1200, 5));
}

TEST_F(ExtractTest, OverwriteQuestionAnswers) {
    struct Case {
        std::vector<MessageAnswer> answers;
        bool overwrite;
        const char* bTxt;  // b.txt afterwards ("old" or the pack's)
        bool cDatWritten;  // the second row
        std::size_t questions;
    };
    const std::string packB(500, 'b');
    const Case cases[] = {
        {{MessageAnswer::Cancel}, false, "old", false, 1},
        {{MessageAnswer::No}, false, "old", true, 1},
        {{MessageAnswer::Yes}, false, "new", true, 1},
        {{}, true, "new", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.questions);
        const std::string where = MakeDir("q" + std::to_string(&c - cases));
        testpacks::WriteFile(where + "/b.txt", testpacks::ToBytes("old"));
        messages.Clear();
        for (MessageAnswer answer : c.answers) {
            messages.Queue(answer);
        }
        Select({"b.txt", "c.dat"});
        Extract(where, false, c.overwrite);
        ASSERT_EQ(messages.Calls().size(), c.questions);
        if (c.questions > 0) {
            EXPECT_EQ(messages.Calls()[0].text,
                      "File b.txt already exist. Do you wish to overwrite?");
            EXPECT_EQ(messages.Calls()[0].caption, "Warning");
            EXPECT_EQ(messages.Calls()[0].buttons, MessageButtons::YesNoCancel);
        }
        EXPECT_EQ(ReadText(where + "/b.txt"), std::string(c.bTxt) == "old" ? "old" : packB);
        EXPECT_EQ(Exists(where + "/c.dat"), c.cDatWritten);
        // No hidden sibling is left beside the targets.
        for (const std::string& name : Listing(where)) {
            EXPECT_NE(name[0], '.') << name;
        }
    }
}

TEST_F(ExtractTest, CancelInsideAFolderSkipsOnlyThatFile) {
    MakeDir("dest/Docs");
    testpacks::WriteFile(At("Docs/readme.txt"), testpacks::ToBytes("mine"));
    messages.Queue(MessageAnswer::Cancel);
    Select({"Docs", "c.dat"});
    Extract(dest);
    EXPECT_EQ(ReadText(At("Docs/readme.txt")), "mine");
    EXPECT_TRUE(Exists(At("Docs/notes.md")));
    EXPECT_TRUE(Exists(At("c.dat")));
    EXPECT_EQ(messages.Calls().size(), 1u);
}

TEST_F(ExtractTest, MissingOrUnusableDestinationIsReported) {
    const std::string notADir = WriteFile("plainfile", 4, 1);
    for (const std::string& where : {temp.File("missing"), notADir + "/below"}) {
        SCOPED_TRACE(where);
        messages.Clear();
        Select({"b.txt", "c.dat"});
        Extract(where);
        ASSERT_EQ(messages.Calls().size(), 1u);  // the first file ends it
        EXPECT_EQ(messages.Calls()[0].text,
                  "Unable to extract files. Make sure you can write on destination folder.");
        EXPECT_EQ(messages.Calls()[0].caption, "Crateforge");
    }
    EXPECT_FALSE(Exists(temp.File("missing")));

    // A directory where the file should go: no question, the write fails.
    MakeDir("dest/c.dat");
    messages.Clear();
    Select({"c.dat"});
    Extract(dest);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].buttons, MessageButtons::Ok);
}

// A pack whose entries cannot be decoded, beside a good one.
class DamagedExtractTest : public ExtractTest {
  protected:
    void SetUp() override {
        File bad("bad.gz", testpacks::ToBytes(std::string(4000, 'q')), PackMethod::Gzip);
        bad.stored = testpacks::ToBytes("not a gzip stream at all");
        File odd("odd.bin", testpacks::ToBytes("seven"));
        odd.methodByte = 7;
        File shortLzrw("short.lz", testpacks::ToBytes(std::string(900, 'z')), PackMethod::Lzrw3a);
        shortLzrw.originalSize = 1000;  // decodes to 900
        File big("big.bin", testpacks::SampleBytes(64 * 1024, 4));
        Folder inner("inner", {bad, File("fine.txt", testpacks::ToBytes("fine"))});
        packPath = WritePack("damaged.vpf", Folder("", {bad, odd, shortLzrw, big}, {inner}));
        MakeWindow({"\\o", packPath});
        ASSERT_TRUE(window->PackOpen());
        dest = MakeDir("dest");
    }
};

TEST_F(DamagedExtractTest, AFailedDecodeLeavesTheUsersFileAsItWas) {
    for (const char* name : {"bad.gz", "odd.bin", "short.lz"}) {
        SCOPED_TRACE(name);
        testpacks::WriteFile(At(name), testpacks::ToBytes("precious"));
        messages.Clear();
        Select({name});
        Extract(dest, false, /*overwrite=*/true);
        ASSERT_EQ(messages.Calls().size(), 1u);
        EXPECT_EQ(messages.Calls()[0].text,
                  "Unable to extract files. Make sure you can write on destination folder.");
        EXPECT_EQ(ReadText(At(name)), "precious");
        ::unlink(At(name).c_str());
    }
    // Not there before: nothing is left behind, not even an empty file.
    Select({"odd.bin"});
    Extract(dest);
    EXPECT_TRUE(Listing(dest).empty());
}

TEST_F(DamagedExtractTest, AFailureInsideAFolderSkipsOnlyThatFile) {
    Select({"inner"});
    Extract(dest);
    EXPECT_EQ(Listing(At("inner")), std::vector<std::string>{"fine.txt"});
    EXPECT_EQ(messages.Calls().size(), 1u);
}

TEST_F(DamagedExtractTest, AFullDiskLeavesTheUsersFileAsItWas) {
    testpacks::WriteFile(At("big.bin"), testpacks::ToBytes("precious"));
    Select({"big.bin"});
    std::unique_ptr<CExtractDialog> dialog = MakeDialog();
    dialog->destinationFolder = dest;
    dialog->overwriteWithoutAsking = true;
    const PackEntry* entry = window->ListControlImpl()->RowData(RowOf("big.bin"));
    ASSERT_NE(entry, nullptr);

    // The child may write files of 4 kB at most; the 64 kB entry fails.
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        const bool done = dialog->ExtractFile(*entry, std::string());
        _exit(done ? 1 : (messages.Calls().size() == 1 ? 0 : 2));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadText(At("big.bin")), "precious");
    EXPECT_EQ(Listing(dest), std::vector<std::string>{"big.bin"});

    // Without the limit the same call works.
    EXPECT_TRUE(dialog->ExtractFile(*entry, std::string()));
    EXPECT_EQ(testpacks::ReadFile(At("big.bin")), testpacks::SampleBytes(64 * 1024, 4));
}

// Names from a hostile pack never lead out of the destination.
class HostileExtractTest : public ExtractTest {
  protected:
    void SetUp() override {
        packPath = WritePack(
            "hostile.vpf",
            Folder("", {}, {Folder("normal", {File("ok.txt", testpacks::ToBytes("ok"))})}));
        MakeWindow({"\\o", packPath});
        ASSERT_TRUE(window->PackOpen());
        dest = MakeDir("box/dest");
    }
    std::string MakeDir(const std::string& name) {
        ::mkdir(temp.File("box").c_str(), 0755);
        return ContentTest::MakeDir(name);
    }
};

// A pack with names no disk path can hold opens; extracting it writes what
// can be written below the destination, says once which names it could not
// write and why, and follows no link that lies in the destination.
TEST_F(HostileExtractTest, OddNamesAreReportedAndNothingLeavesTheDestination) {
    const std::string bad = WritePack(
        "odd.vpf",
        Folder("",
               {File("ok.txt", testpacks::ToBytes("ok")), File("..", testpacks::ToBytes("w")),
                File("a/../../x", testpacks::ToBytes("w")), File("/abs", testpacks::ToBytes("abs")),
                File("lnk\\inside.txt", testpacks::ToBytes("w"))},
               {Folder("..", {File("up.txt", testpacks::ToBytes("w"))}),
                Folder("lnk", {File("f.txt", testpacks::ToBytes("w"))})}));
    messages.Clear();
    window->OpenPackPath(bad);
    ASSERT_TRUE(window->PackOpen());
    ASSERT_TRUE(messages.Calls().empty());
    const std::string outside = MakeDir("box/outside");
    ASSERT_EQ(::symlink(outside.c_str(), At("lnk").c_str()), 0);
    Extract(dest, /*all=*/true);

    EXPECT_EQ(Listing(dest), (std::vector<std::string>{"abs", "lnk/", "ok.txt"}));
    EXPECT_EQ(ReadText(At("ok.txt")), "ok");
    EXPECT_EQ(ReadText(At("abs")), "abs");
    EXPECT_TRUE(Listing(outside).empty());
    EXPECT_EQ(Listing(temp.File("box")), (std::vector<std::string>{"dest/", "outside/"}));
    EXPECT_FALSE(Exists(temp.File("x")));
    const std::string up = "(a \"..\" component, which would lead out of its folder)";
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{
                  "Unable to extract files. Make sure you can write on destination folder.",
                  "Unable to extract files. Make sure you can write on destination folder.",
                  "Unable to extract 3 item(s): their names cannot be used as file or folder "
                  "names: .. " +
                      up + "; .. " + up + "; a/../../x " + up + ".",
                  "1 name(s) were extracted without their leading \"/\" or \"\\\", the first "
                  "being /abs."}));
}

// An old pack's names are whole paths ("maps\x.map"): converted, they are
// kept as they are, and extracted they become folders.
TEST_F(HostileExtractTest, AConvertedOldPackExtractsIntoFolders) {
    const testpacks::Bytes map = testpacks::SampleBytes(2000, 9);
    const std::string old = temp.File("game.dat");
    testpacks::WriteFile(old, testpacks::BuildOldPack(
                                  {testpacks::OldEntry("maps\\x.map", map, 1),
                                   testpacks::OldEntry("maps\\sub\\y.map", testpacks::ToBytes("y")),
                                   testpacks::OldEntry("readme.txt", testpacks::ToBytes("r"))}));
    messages.Clear();
    messages.Queue(MessageAnswer::Yes);
    window->OpenPackPath(old);
    ASSERT_TRUE(window->PackOpen());
    EXPECT_EQ(window->Archive()->Path(), temp.File("game.VPF"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"maps\\x.map", "maps\\sub\\y.map", "readme.txt"}));
    messages.Clear();
    Extract(dest, /*all=*/true);
    EXPECT_TRUE(messages.Calls().empty());
    EXPECT_EQ(Listing(dest), (std::vector<std::string>{"maps/", "readme.txt"}));
    EXPECT_EQ(testpacks::ReadFile(At("maps/x.map")), map);
    EXPECT_EQ(ReadText(At("maps/sub/y.map")), "y");
}

TEST_F(HostileExtractTest, AFolderIsNeverEnteredThroughALink) {
    const std::string elsewhere = MakeDir("elsewhere");
    ASSERT_EQ(::symlink(elsewhere.c_str(), At("normal").c_str()), 0);
    Select({"normal"});
    Extract(dest);
    EXPECT_TRUE(Listing(elsewhere).empty());
    ASSERT_EQ(messages.Calls().size(), 1u);
}

}  // namespace
}  // namespace crateforge
