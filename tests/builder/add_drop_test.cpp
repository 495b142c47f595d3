// Add, Add Folder and files dropped on the window: what lands in the pack,
// the replace question, the progress bar, the cursor, and the states after.
#include <sys/stat.h>
#include <unistd.h>

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "ContentFixture.h"
#include "tests/support/FailingAllocations.h"

namespace crateforge {
namespace {

class AddDropTest : public ContentTest {};

TEST_F(AddDropTest, AddFilesAsksBeforeReplacingAndSavesAtOnce) {
    OpenSample();
    const std::string fresh = WriteFile("new.bin", 3000, 11);
    const std::string clash = WriteFile("C.DAT", 77, 12);  // c.dat is in the pack

    struct Case {
        MessageAnswer answer;
        std::uint32_t cDatSize;  // original size of the c.dat row after the run
    };
    for (const Case& c : {Case{MessageAnswer::No, 40}, Case{MessageAnswer::Yes, 77}}) {
        SCOPED_TRACE(c.answer == MessageAnswer::Yes ? "Yes" : "No");
        messages.Clear();
        dialogs.QueueOpenFiles({fresh, clash});
        messages.Queue(c.answer);
        if (c.answer == MessageAnswer::Yes) {
            messages.Queue(MessageAnswer::Yes);  // new.bin is there from the first run
        }
        Trigger(Command::Add);

        ASSERT_FALSE(dialogs.OpenRequests().empty());
        EXPECT_EQ(dialogs.OpenRequests().back().filter, "All files (*.*)|*.*||");
        EXPECT_TRUE(dialogs.OpenRequests().back().multiSelect);
        EXPECT_EQ(messages.UnexpectedCount(), 0);
        EXPECT_EQ(messages.PendingAnswers(), 0u);
        const std::vector<std::string> texts = messages.Texts();
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back(), "File C.DAT already exist. Do you wish to replace it?");
        EXPECT_EQ(messages.Calls().back().caption, "Warning");

        const int row = RowOf(c.answer == MessageAnswer::Yes ? "C.DAT" : "c.dat");
        ASSERT_GE(row, 0);
        ASSERT_NE(EntryOf(row), nullptr);
        EXPECT_EQ(EntryOf(row)->originalSize, c.cDatSize);
        EXPECT_NE(RowOf("new.bin"), -1);
        // Written at once: a fresh reader sees the same files.
        const std::vector<std::string> saved = SavedNames();
        EXPECT_NE(std::find(saved.begin(), saved.end(), "new.bin"), saved.end());
    }
    // Wait cursor around each run, arrow at the end.
    EXPECT_FALSE(cursor.Waiting());
    EXPECT_GE(cursor.Changes().size(), 4u);
    EXPECT_EQ(TotalText().rfind("Total: 6 Files.", 0), 0u) << TotalText();
}

TEST_F(AddDropTest, AddSetsTheProgressRangeToTheBytesReadAndEndsAtZero) {
    OpenSample();
    const std::string a = WriteFile("one.bin", 1000, 1);
    const std::string b = WriteFile("two.bin", 2345, 2);
    dialogs.QueueOpenFiles({a, b});
    Trigger(Command::Add);
    QProgressBar* bar = MainBar();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 3345);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(AddDropTest, CancelledDialogsChangeNothing) {
    OpenSample();
    const std::vector<std::string> before = SavedNames();
    dialogs.QueueOpenFiles({});
    Trigger(Command::Add);
    dialogs.QueueBrowseFolder(std::nullopt);
    Trigger(Command::AddFolder);
    EXPECT_EQ(SavedNames(), before);
    EXPECT_TRUE(cursor.Changes().empty());
    ASSERT_EQ(dialogs.BrowseTitles().size(), 1u);
    EXPECT_EQ(dialogs.BrowseTitles().front(), "Select Folder");
}

// Names beginning with a dot (.git, editor files) stay out of the pack;
// the progress total counts what is read.
TEST_F(AddDropTest, AddFolderSkipsDotNamesAndShowsNewTotals) {
    OpenSample();
    const std::string dir = MakeDir("photos.2024");
    WriteFile("photos.2024/a.jpg", 500, 1);
    WriteFile("photos.2024/.hidden", 100, 2);
    MakeDir("photos.2024/.git");
    WriteFile("photos.2024/.git/config", 10, 3);
    MakeDir("photos.2024/raw");
    WriteFile("photos.2024/raw/b.raw", 250, 4);

    dialogs.QueueBrowseFolder(dir);
    Trigger(Command::AddFolder);

    EXPECT_NE(RowOf("photos.2024"), -1);
    EXPECT_EQ(MainBar()->maximum(), 750);
    EXPECT_EQ(MainBar()->value(), 0);
    EXPECT_EQ(SavedNames("photos.2024"), (std::vector<std::string>{"raw", "a.jpg"}));
    EXPECT_EQ(TotalText().rfind("Total: 7 Files.", 0), 0u) << TotalText();
    EXPECT_TRUE(messages.Calls().empty());
    EXPECT_TRUE(On(Command::Add));
    EXPECT_FALSE(On(Command::View));  // the refill cleared the selection
}

// What the folder walks leave out is said in one message at the end, each
// item with its reason; the rest goes in. One item alone keeps its own
// message, and a file added on its own is told about at once.
TEST_F(AddDropTest, AddFolderReportsWhatItCouldNotAddInOneMessage) {
    OpenSample();
    const std::string dir = MakeDir("mixed");
    WriteFile("mixed/ok.txt", 10, 1);
    ASSERT_EQ(::symlink(dir.c_str(), (dir + "/loop").c_str()), 0);
    std::vector<std::string> lines = {"Unable to add " + dir +
                                      "/loop: a link back to a folder that holds it. It was "
                                      "not added."};
    for (int i = 0; i < 25; ++i) {
        const std::string pipe = dir + "/pipe" + (i < 10 ? "0" : "") + std::to_string(i);
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
        lines.push_back("Unable to read the file " + pipe +
                        ": not a regular file. It was not added.");
    }

    dialogs.QueueBrowseFolder(dir);
    Trigger(Command::AddFolder);

    ASSERT_EQ(messages.Calls().size(), 1u);
    std::string expected = "26 items of the added folders were not added:\n";
    for (const std::string& line : lines) {
        expected += "\n" + line;
    }
    EXPECT_EQ(messages.Calls()[0].text, expected);
    EXPECT_EQ(messages.Calls()[0].caption, kAppCaption);
    EXPECT_EQ(messages.Calls()[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(SavedNames("mixed"), std::vector<std::string>{"ok.txt"});
    EXPECT_FALSE(cursor.Waiting());

    // Questions are still asked as they come, the list still comes last.
    messages.Clear();
    messages.Queue(MessageAnswer::No);
    dialogs.QueueBrowseFolder(dir);
    Trigger(Command::AddFolder);
    ASSERT_EQ(messages.Calls().size(), 2u);
    EXPECT_EQ(messages.Calls()[0].text, "File ok.txt already exist. Do you wish to replace it?");
    EXPECT_EQ(messages.Calls()[1].text, expected);

    // A drop of a folder with one such item and of a file that cannot be
    // read: the file's message first, then the folder's own.
    messages.Clear();
    const std::string one = MakeDir("one");
    ASSERT_EQ(::mkfifo((one + "/fifo").c_str(), 0600), 0);
    const std::string lone = temp.File("lone");
    ASSERT_EQ(::mkfifo(lone.c_str(), 0600), 0);
    window->AddPathsToPack({one, lone}, window->Archive()->Current());
    ASSERT_EQ(messages.Calls().size(), 2u);
    EXPECT_NE(messages.Calls()[0].text.find(lone), std::string::npos);
    EXPECT_EQ(messages.Calls()[1].text,
              "Unable to read the file " + one + "/fifo: not a regular file. It was not added.");
}

// Messages that note, for every box, whether the wait cursor was showing.
class CursorWatchingMessages : public MessageService {
  public:
    CursorWatchingMessages(ScriptedMessages& inner, ScriptedCursor& cursor)
        : inner(inner), cursor(cursor) {}
    MessageAnswer ShowMessage(std::string_view caption, std::string_view text,
                              MessageButtons buttons) override {
        waitingWhileShown.push_back(cursor.Waiting());
        return inner.ShowMessage(caption, text, buttons);
    }
    std::vector<bool> waitingWhileShown;

  private:
    ScriptedMessages& inner;
    ScriptedCursor& cursor;
};

TEST_F(AddDropTest, TheArrowIsShownWhileAQuestionWaitsAndTheWaitCursorAfter) {
    CursorWatchingMessages watching(messages, cursor);
    messagesInstead = &watching;
    OpenSample();
    const std::string clash = WriteFile("c.dat", 77, 12);  // c.dat is in the pack
    const std::string fresh = WriteFile("fresh.bin", 3000, 11);
    dialogs.QueueOpenFiles({clash, fresh});
    messages.Queue(MessageAnswer::Yes);
    Trigger(Command::Add);
    ASSERT_EQ(messages.Texts(),
              std::vector<std::string>{"File c.dat already exist. Do you wish to replace it?"});
    EXPECT_EQ(watching.waitingWhileShown, std::vector<bool>{false});
    // Wait, arrow for the question, wait again for the rest, arrow at the end.
    EXPECT_EQ(cursor.Changes(), (std::vector<bool>{true, false, true, false}));
    EXPECT_NE(RowOf("fresh.bin"), -1);

    // A report shown during Add Folder gets the arrow too.
    const std::string dir = MakeDir("withpipe");
    ASSERT_EQ(::mkfifo((dir + "/pipe").c_str(), 0600), 0);
    dialogs.QueueBrowseFolder(dir);
    Trigger(Command::AddFolder);
    ASSERT_EQ(watching.waitingWhileShown.size(), 2u);
    EXPECT_FALSE(watching.waitingWhileShown[1]);
    EXPECT_FALSE(cursor.Waiting());
}

TEST_F(AddDropTest, FilesStoredUncompressedAreReportedOncePerCommand) {
    OpenSample();
    const std::string a = temp.Write("a.txt", testpacks::ToBytes(std::string(5000, 'a')));
    const std::string b = temp.Write("b.log", testpacks::ToBytes(std::string(5000, 'b')));
    const std::string empty = temp.Write("empty", {});
    dialogs.QueueOpenFiles({a, b, empty});
    {
        // No memory for the coded streams (a little more than each file).
        testsupport::FailAllocations noMemory(5001, 6000);
        Trigger(Command::Add);
        EXPECT_EQ(noMemory.Failed(), 2);
    }
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].caption, "Warning");
    EXPECT_EQ(messages.Calls()[0].buttons, MessageButtons::Ok);
    const std::string prefix = "2 file(s) were stored uncompressed, the first being " + a +
                               ", because they could not be compressed: ";
    EXPECT_EQ(messages.Calls()[0].text.rfind(prefix, 0), 0u) << messages.Calls()[0].text;
    EXPECT_NE(messages.Calls()[0].text.find("out of memory"), std::string::npos);
    // Stored whole and saved all the same.
    const int row = RowOf("a.txt");
    ASSERT_GE(row, 0);
    EXPECT_EQ(EntryOf(row)->packedSize, 5000u);
    const std::vector<std::string> saved = SavedNames();
    EXPECT_NE(std::find(saved.begin(), saved.end(), "b.log"), saved.end());

    // With memory again, nothing is said.
    messages.Clear();
    const std::string c = temp.Write("c.txt", testpacks::ToBytes(std::string(5000, 'c')));
    dialogs.QueueOpenFiles({c});
    Trigger(Command::Add);
    EXPECT_TRUE(messages.Calls().empty());
    EXPECT_LT(EntryOf(RowOf("c.txt"))->packedSize, 5000u);
}

// A drop as a file manager makes it: a uri-list of local files.
void Drop(QWidget& target, const std::vector<std::string>& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const std::string& path : paths) {
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
    }
    data.setUrls(urls);
    const QPoint at(target.width() / 2, target.height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
    EXPECT_TRUE(drop.isAccepted());
}

TEST_F(AddDropTest, DroppedFolderAndFileGoIntoTheShownFolder) {
    OpenSample();
    Select({"Docs"});
    window->OnListDoubleClick();
    Settle();
    const std::string dir = MakeDir("drop");
    WriteFile("drop/x.txt", 300, 1);
    WriteFile("drop/.y", 200, 2);  // counted for the bar, as dropped items are, but not packed
    const std::string file = WriteFile("z.vpf", 123, 3);

    Drop(*window, {dir, file});
    Settle();

    EXPECT_EQ(Names(), (std::vector<std::string>{"..", "drop", "readme.txt", "notes.md", "z.vpf"}));
    EXPECT_EQ(MainBar()->maximum(), 623);
    EXPECT_EQ(SavedNames("Docs"),
              (std::vector<std::string>{"drop", "readme.txt", "notes.md", "z.vpf"}));
    EXPECT_EQ(SavedNames("Docs/drop"), (std::vector<std::string>{"x.txt"}));
    // A dropped pack is packed, not opened.
    EXPECT_NE(Title().find("sample.vpf"), std::string::npos);
}

TEST_F(AddDropTest, DropWithoutPackAsksForANewPackFirst) {
    MakeWindow();
    const std::string file = WriteFile("loose.txt", 50, 1);

    // Cancelled: nothing happens.
    dialogs.QueueSaveFile(std::nullopt);
    Drop(*window, {file});
    Settle();
    EXPECT_FALSE(window->PackOpen());
    EXPECT_EQ(Title(), kWindowTitle);
    EXPECT_TRUE(cursor.Changes().empty());

    // A name given: the pack is made and the file goes in.
    packPath = temp.File("fresh.vpf");
    dialogs.QueueSaveFile(packPath);
    Drop(*window, {file});
    Settle();
    ASSERT_TRUE(window->PackOpen());
    EXPECT_EQ(Names(), (std::vector<std::string>{"loose.txt"}));
    EXPECT_EQ(SavedNames(), (std::vector<std::string>{"loose.txt"}));
    EXPECT_EQ(dialogs.SaveRequests().size(), 2u);
    EXPECT_TRUE(On(Command::Add));
}

TEST_F(AddDropTest, DropsWithoutLocalFilesAreRefused) {
    OpenSample();
    QMimeData data;
    data.setUrls({QUrl(QStringLiteral("https://www.varnholt.example/a.txt"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    const std::vector<std::string> before = SavedNames();
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    Settle();
    EXPECT_EQ(SavedNames(), before);
}

}  // namespace
}  // namespace crateforge
