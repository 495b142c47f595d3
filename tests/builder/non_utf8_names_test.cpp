// Names that are not UTF-8 pass every door byte for byte: dropped from a
// file manager, dragged out to one, chosen in the Add dialog (or named when
// the dialog cannot show them), and shown in the form rename uses.
#include <QDropEvent>
#include <QMimeData>

#include "ContentFixture.h"
#include "builder/DropFiles.h"
#include "builder/QtPlatform.h"

namespace crateforge {
namespace {

class NonUtf8NamesTest : public ContentTest {
  protected:
    // A drop as a file manager makes it: the URIs percent-encode the bytes.
    void DropUris(const std::vector<std::string>& paths) {
        QMimeData data;
        const std::string list = FileUriList(paths);
        data.setData(QStringLiteral("text/uri-list"),
                     QByteArray(list.data(), static_cast<qsizetype>(list.size())));
        const QPoint at(window->width() / 2, window->height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &drop);
        ASSERT_TRUE(drop.isAccepted());
        Settle();
    }
    QString Shown(const std::string& name) { return Cell(RowOf(name)).data().toString(); }
};

TEST_F(NonUtf8NamesTest, DroppedFilesAndFoldersArePackedUnderTheirOwnBytes) {
    OpenSample();
    const std::string file = temp.Write("bad\xFFname.txt", testpacks::ToBytes("bad bytes"));
    const std::string dir = MakeDir("d\xE9j\xE0");
    temp.Write("d\xE9j\xE0/x\xFE.bin", testpacks::ToBytes("inside"));
    DropUris({file, dir});
    EXPECT_TRUE(messages.Calls().empty()) << messages.Texts().front();
    ASSERT_NE(RowOf("bad\xFFname.txt"), -1);
    ASSERT_NE(RowOf("d\xE9j\xE0"), -1);
    EXPECT_EQ(EntryOf(RowOf("bad\xFFname.txt"))->originalSize, 9u);
    const std::vector<std::string> saved = SavedNames();
    EXPECT_NE(std::find(saved.begin(), saved.end(), "bad\xFFname.txt"), saved.end());
    EXPECT_EQ(SavedNames("d\xE9j\xE0"), std::vector<std::string>{"x\xFE.bin"});
    // Shown as rename shows it.
    EXPECT_EQ(Shown("bad\xFFname.txt"), QStringLiteral("bad\\xFFname.txt"));
    EXPECT_EQ(Shown("d\xE9j\xE0"), QStringLiteral("d\\xE9j\\xE0"));
}

TEST_F(NonUtf8NamesTest, DraggedRowsReachTheReceiverUnderTheirOwnBytes) {
    using testpacks::File;
    using testpacks::Folder;
    packPath = WritePack(
        "latin.vpf", Folder("", {File("caf\xE9-bin.txt", testpacks::ToBytes("coffee"))},
                            {Folder("F\xF6lder", {File("\xE4.txt", testpacks::ToBytes("a"))})}));
    MakeWindow({"\\o", packPath});
    Select({"caf\xE9-bin.txt", "F\xF6lder"});
    ASSERT_TRUE(Content().OnBeginDrag());
    ASSERT_EQ(drag.Drags().size(), 1u);
    const std::vector<std::string>& paths = drag.Drags()[0];
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], window->Workspace()->WorkspacePath() + "/F\xF6lder");
    EXPECT_EQ(paths[1], window->Workspace()->WorkspacePath() + "/caf\xE9-bin.txt");
    EXPECT_EQ(ReadText(paths[0] + "/\xE4.txt"), "a");
    EXPECT_EQ(ReadText(paths[1]), "coffee");
    // What a file manager reads names these very files.
    const std::unique_ptr<QMimeData> data = MakeDragData(paths);
    ASSERT_NE(data, nullptr);
    const QByteArray list = data->data(QStringLiteral("text/uri-list"));
    EXPECT_TRUE(list.contains("caf%E9-bin.txt")) << list.toStdString();
    EXPECT_EQ(PathsFromUriList(std::string(list.constData(), list.size())), paths);
}

TEST_F(NonUtf8NamesTest, AddNamesTheFilesItsDialogCannotShow) {
    OpenSample();
    MakeDir("mixed");
    const std::string good = temp.Write("mixed/good.txt", testpacks::ToBytes("good"));
    const std::string chosenBad = temp.Write("mixed/ok\xE9.txt", testpacks::ToBytes("chosen"));
    temp.Write("mixed/bad\xFFname.txt", testpacks::ToBytes("unseen"));
    MakeDir("mixed/sub\xFF");  // a folder is no file to add
    ASSERT_FALSE(FileDialogCanShow("bad\xFFname.txt"));
    ASSERT_TRUE(FileDialogCanShow("good.txt"));

    // A file the dialog could not list is named once the adding is done;
    // one it returned anyway is added, byte for byte.
    dialogs.QueueOpenFiles({good, chosenBad});
    Trigger(Command::Add);
    EXPECT_NE(RowOf("good.txt"), -1);
    EXPECT_NE(RowOf("ok\xE9.txt"), -1);
    ASSERT_EQ(messages.Calls().size(), 1u);
    EXPECT_EQ(messages.Calls()[0].caption, kAppCaption);
    EXPECT_EQ(messages.Calls()[0].text,
              WithNames(kUnshownFilesText, {"1", temp.File("mixed"), "bad\xFFname.txt"}));

    // A folder without such names says nothing.
    messages.Clear();
    const std::string plain = WriteFile("plain.txt", 10);
    dialogs.QueueOpenFiles({plain});
    Trigger(Command::Add);
    EXPECT_TRUE(messages.Calls().empty());

    // Messages show such bytes as \xNN, the rest as it is.
    EXPECT_EQ(DisplayText("bad\xFFname \xC3\xA9t\xC3\xA9"), QString::fromUtf8("bad\\xFFname été"));
}

}  // namespace
}  // namespace crateforge
