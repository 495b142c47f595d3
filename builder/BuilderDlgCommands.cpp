// BuilderDlgCommands.cpp - the main window's content commands.
//
// Add, Add Folder, New Folder, Rename, Delete, Extract, View, drag-out,
// About and files dropped on the window. WireContentCommands() makes the
// CContentCommands of the window and connects each command (WireCommand),
// which lets UpdateCommandStates turn it on.
//
// Hooks the window calls:
//   WireContentCommands()  once, while the window is built
//   OnEndLabelEdit()       the list's label editor closed (no text: Escape)
//   OnListKeyDownContent() Insert, Delete and other keys in the list
//                          (Backspace is the window's own); true when handled
//   ViewEntry()            a file row was double-clicked
#include "builder/BuilderDlgCommands.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <algorithm>

#include "archive/PackArchive.h"
#include "archive/PackFolder.h"
#include "archive/SizeText.h"
#include "archive/TempWorkspace.h"
#include "builder/AboutDlg.h"
#include "builder/BuilderDlg.h"
#include "builder/DropFiles.h"
#include "builder/ExtractDialog.h"
#include "platform/FileSystem.h"

namespace crateforge {

namespace {

std::string Numbered(const char* format, int number) {
    std::string text(format);
    const std::size_t at = text.find("%d");
    if (at != std::string::npos) {
        text.replace(at, 2, std::to_string(number));
    }
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// Hooks of the window

void CBuilderDlg::WireContentCommands() {
    auto* content = new CContentCommands(*this);
    listView->onStartDrag = [content] { content->OnBeginDrag(); };
    WireCommand(Command::Add, [content] { content->OnAdd(); });
    WireCommand(Command::AddFolder, [content] { content->OnAddFolder(); });
    WireCommand(Command::NewFolder, [content] { content->OnNewFolder(false); });
    WireCommand(Command::Rename, [content] { content->OnRename(); });
    WireCommand(Command::Extract, [content] { content->OnExtract(); });
    WireCommand(Command::View, [content] { content->OnView(); });
    WireCommand(Command::About, [content] { content->OnAbout(); });
}

void CBuilderDlg::OnEndLabelEdit(int row, const std::optional<std::string>& text) {
    if (auto* content = findChild<CContentCommands*>(QString(), Qt::FindDirectChildrenOnly)) {
        content->OnEndLabelEdit(row, text);
    }
}

bool CBuilderDlg::OnListKeyDownContent(int key) {
    auto* content = findChild<CContentCommands*>(QString(), Qt::FindDirectChildrenOnly);
    return content != nullptr && content->OnListKeyDown(key);
}

void CBuilderDlg::ViewEntry(int row) {
    if (auto* content = findChild<CContentCommands*>(QString(), Qt::FindDirectChildrenOnly)) {
        content->ViewEntry(row);
    }
}

// ---------------------------------------------------------------------------
// CContentCommands

CContentCommands::CContentCommands(CBuilderDlg& window) : QObject(&window), window(window) {
    setObjectName(QStringLiteral("contentCommands"));
    labelTimer.setSingleShot(true);
    connect(&labelTimer, &QTimer::timeout, this, &CContentCommands::OnLabelClickTimeout);
    // Files and folders dropped from a file manager arrive as a uri-list.
    window.setAcceptDrops(true);
    window.installEventFilter(this);
    if (QTreeView* list = window.ListView()) {
        listViewport = list->viewport();
        listViewport->installEventFilter(this);
        // Anything that changes the selection or the rows ends a pending
        // label click.
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
            if (labelClickRow >= 0 && !IsOnlySelectedRow(labelClickRow)) {
                CancelLabelClick();
            }
        });
    }
}

CContentCommands::~CContentCommands() = default;

void CContentCommands::Refresh() {
    window.UpdateCommandStates();
    window.UpdateStatusTexts();
}

// ---- Adding -----------------------------------------------------------------

void CContentCommands::OnAdd() {
    CPackArchive* archive = window.Archive();
    if (!window.PackOpen() || archive == nullptr) {
        return;
    }
    OpenFileRequest request;
    request.filter = kAddFilter;
    request.multiSelect = true;
    const std::vector<std::string> chosen = window.Dialogs()->OpenFiles(request);
    window.AddPathsToPack(chosen, archive->Current());
    if (!chosen.empty()) {
        ReportUnshownFiles(fs::ParentDirectory(chosen.front()), chosen);
    }
}

void CContentCommands::ReportUnshownFiles(const std::string& folder,
                                          const std::vector<std::string>& chosen) {
    std::vector<fs::DirEntry> entries;
    if (!fs::ListDirectory(folder, entries)) {
        return;
    }
    constexpr std::size_t kNamed = 20;  // the rest are counted
    std::size_t count = 0;
    std::string names;
    for (const fs::DirEntry& entry : entries) {
        if (entry.isDirectory || FileDialogCanShow(entry.name) ||
            std::find(chosen.begin(), chosen.end(), fs::JoinPath(folder, entry.name)) !=
                chosen.end()) {
            continue;
        }
        if (++count <= kNamed) {
            names += (names.empty() ? "" : ", ") + entry.name;
        }
    }
    if (count == 0) {
        return;
    }
    if (count > kNamed) {
        names += " and " + std::to_string(count - kNamed) + " more";
    }
    window.Messages()->ShowMessage(
        kAppCaption, WithNames(kUnshownFilesText, {std::to_string(count), folder, names}),
        MessageButtons::Ok);
}

void CContentCommands::OnAddFolder() {
    CPackArchive* archive = window.Archive();
    if (!window.PackOpen() || archive == nullptr) {
        return;
    }
    const std::optional<std::string> path = window.Dialogs()->BrowseFolder(kSelectFolderTitle);
    if (!path || path->empty()) {
        return;
    }
    window.AddPathsToPack({*path}, archive->Current());
}

void CContentCommands::OnDropFiles(const std::vector<std::string>& paths) {
    if (paths.empty()) {
        return;
    }
    if (!window.PackOpen()) {
        window.OnNewPack();
        if (!window.PackOpen()) {
            return;
        }
    }
    // A dropped pack is packed like any other file; dropping never opens one.
    window.AddPathsToPack(paths, window.Archive()->Current(), /*dropped=*/true);
}

std::vector<std::string> CContentCommands::LocalPaths(const QMimeData* data) const {
    if (data == nullptr) {
        return {};
    }
    // The URIs' own bytes: decoding them as text would lose a name that is
    // not UTF-8.
    const QByteArray list = data->data(QStringLiteral("text/uri-list"));
    return PathsFromUriList(
        std::string_view(list.constData(), static_cast<std::size_t>(list.size())));
}

// ---- New Folder, Rename, Delete ----------------------------------------------

std::string CContentCommands::NextNewFolderName() const {
    const CPackArchive* archive = window.Archive();
    if (archive == nullptr || archive->Current() == nullptr) {
        return kNewDirName;
    }
    const CPackFolder* current = archive->Current();
    if (current->FindSubfolder(kNewDirName) < 0) {
        return kNewDirName;
    }
    // Only subfolders count: a file called "New Dir" keeps the plain name.
    for (int n = 1;; ++n) {
        std::string name = Numbered(kNewDirNumbered, n);
        if (current->FindSubfolder(name) < 0) {
            return name;
        }
    }
}

void CContentCommands::OnNewFolder(bool fromKey) {
    CPackArchive* archive = window.Archive();
    if (!window.PackOpen() || archive == nullptr || archive->Current() == nullptr) {
        return;
    }
    const std::string name = NextNewFolderName();
    switch (archive->MakeFolder(archive->Current(), name).outcome) {
        case EditOutcome::Done:
            break;
        case EditOutcome::TooDeep:
            // A pack nested deeper than the builder loads could not be opened again.
            window.Messages()->ShowMessage(kAppCaption, kTooDeepText, MessageButtons::Ok);
            return;
        case EditOutcome::FullNameTooLong:
            window.Messages()->ShowMessage(kAppCaption, kNewFolderTooLongText, MessageButtons::Ok);
            return;
        case EditOutcome::PackTooLarge:
            window.Messages()->ShowMessage(kAppCaption, kNewFolderTooLargeText, MessageButtons::Ok);
            return;
        default:
            return;
    }
    archive->Save();
    archive->RefreshList();
    // The label editor opens on the new folder's row, never on a file row
    // that happens to carry the same name.
    ListControl* list = window.ListControlImpl();
    for (int row = 0; row < list->RowCount(); ++row) {
        if (list->Key(row).IsFolder() && list->RowText(row, 0) == name) {
            list->SelectRow(row, true);
            list->EditLabel(row);
            break;
        }
    }
    if (fromKey) {
        Refresh();
    }
}

void CContentCommands::OnRename() {
    ListControl* list = window.ListControlImpl();
    if (!window.PackOpen() || list == nullptr) {
        return;
    }
    // One editor at a time: with several rows the last one stays in edit.
    for (int row : list->SelectedRows()) {
        if (list->RowText(row, 0) != kUpDirName) {
            list->EditLabel(row);
        }
    }
}

void CContentCommands::OnEndLabelEdit(int row, const std::optional<std::string>& text) {
    ListControl* list = window.ListControlImpl();
    CPackArchive* archive = window.Archive();
    if (list == nullptr || archive == nullptr || row < 0 || row >= list->RowCount()) {
        return;
    }
    const std::string oldName = list->RowText(row, 0);
    if (oldName == kUpDirName) {
        return;
    }
    if (text && !text->empty()) {
        const bool isFile = list->Key(row).IsFile();
        switch (archive->RenameEntry(oldName, *text, !isFile)) {
            case RenameOutcome::NameTaken:
                window.Messages()->ShowMessage(
                    kWarningCaption, WithName(isFile ? kFileTakenText : kDirectoryTakenText, *text),
                    MessageButtons::Ok);
                break;
            case RenameOutcome::Renamed:
                archive->Save();
                break;
            case RenameOutcome::NotFound:
            case RenameOutcome::InvalidName:  // the archive has said why
            case RenameOutcome::NotOpen:
                break;
        }
    }
    Refresh();
}

bool CContentCommands::OnListKeyDown(int key) {
    CancelLabelClick();
    if (!window.PackOpen()) {
        return false;
    }
    switch (key) {
        case Qt::Key_Insert:
            OnNewFolder(true);
            return true;
        case Qt::Key_Delete:
            OnDelete();
            return true;
        default:
            return false;
    }
}

void CContentCommands::OnDelete() {
    CPackArchive* archive = window.Archive();
    ListControl* list = window.ListControlImpl();
    if (!window.PackOpen() || archive == nullptr || list == nullptr) {
        return;
    }
    if (window.Messages()->ShowMessage(kWarningCaption, kDeleteQuestion, MessageButtons::YesNo) !=
        MessageAnswer::Yes) {
        return;
    }
    // A long list takes a moment to remove, save and show again.
    window.Cursor()->SetWaitCursor(true);
    std::vector<RowKey> doomed;
    for (int row : list->SelectedRows()) {
        doomed.push_back(list->Key(row));
    }
    // The rows go first: they read the folder that is about to change.
    list->DeleteAllRows();
    archive->RemoveRows(doomed);
    archive->Save();
    archive->RefreshList();
    Refresh();
    window.Cursor()->SetWaitCursor(false);
}

// ---- View and drag-out ----------------------------------------------------------

void CContentCommands::OnView() {
    ListControl* list = window.ListControlImpl();
    if (list != nullptr) {
        for (int row : list->SelectedRows()) {
            if (list->Key(row).IsFile()) {
                ViewEntry(row);
            }
        }
    }
    Refresh();
}

void CContentCommands::ViewEntry(int row) {
    ListControl* list = window.ListControlImpl();
    CPackArchive* archive = window.Archive();
    CTempWorkspace* workspace = window.Workspace();
    const PackEntry* entry =
        list != nullptr && archive != nullptr ? archive->FileAt(list->Key(row)) : nullptr;
    if (entry == nullptr || workspace == nullptr) {
        return;
    }
    ProgressControl* progress = window.CurrentProgress();
    progress->SetPosition(0);
    // Decoded in full first; a failed decode or write is reported by the
    // archive and nothing is handed to the desktop.
    const std::string path = archive->ExtractFileToTemp(*entry, *workspace);
    progress->SetPosition(0);
    // Written with an ordinary mode (never executable): the desktop opens
    // it with the program for its type, never runs it.
    if (path.empty()) {
        return;
    }
    window.Shell()->ShellOpen(path, fs::ParentDirectory(path));
}

std::vector<std::string> CContentCommands::WriteDragPaths() {
    std::vector<std::string> paths;
    ListControl* list = window.ListControlImpl();
    CPackArchive* archive = window.Archive();
    CTempWorkspace* workspace = window.Workspace();
    if (list == nullptr || archive == nullptr || workspace == nullptr ||
        archive->Current() == nullptr) {
        return paths;
    }
    for (int row : list->SelectedRows()) {
        std::string path;
        const RowKey key = list->Key(row);
        if (const PackEntry* entry = archive->FileAt(key)) {
            path = archive->ExtractFileToTemp(*entry, *workspace);
        } else if (key.IsFolder()) {
            path = archive->ExtractFolderToTemp(static_cast<int>(key.Index()), *workspace,
                                                std::string());
        }
        if (!path.empty()) {
            paths.push_back(std::move(path));
        }
    }
    return paths;
}

std::unique_ptr<QMimeData> CContentCommands::MakeDragData(const std::vector<std::string>& paths) {
    return crateforge::MakeDragData(paths);
}

bool CContentCommands::OnBeginDrag() {
    // Everything is written before the drag starts, so a receiver finds
    // complete files whenever it reads them.
    const std::vector<std::string> paths = WriteDragPaths();
    if (paths.empty()) {
        return false;
    }
    return window.Drag()->DragPaths(paths);
}

// ---- Extract and About --------------------------------------------------------------

void CContentCommands::OnExtract() {
    ListControl* list = window.ListControlImpl();
    CPackArchive* archive = window.Archive();
    if (list == nullptr || archive == nullptr || list->SelectedRows().empty()) {
        return;
    }
    if (window.CloseRequested()) {
        return;
    }
    NestedLoopScope loop(window.Closing());
    CExtractDialog dialog(window.Messages(), window.Dialogs(), window.Cursor(), &window);
    dialog.listControl = list;
    dialog.folder = archive->Current();
    dialog.RunModal();
}

void CContentCommands::OnAbout() {
    if (window.CloseRequested()) {
        return;
    }
    NestedLoopScope loop(window.Closing());
    CAboutDlg dialog(window.Shell(), &window);
    dialog.RunModal();
}

// ---- Label editing by click -------------------------------------------------------

bool CContentCommands::IsOnlySelectedRow(int row) const {
    ListControl* list = window.ListControlImpl();
    return list != nullptr && list->SelectedRows() == std::vector<int>{row};
}

int CContentCommands::LabelRowAt(const QPoint& position) const {
    QtListControl* list = window.ListControlImpl();
    if (list == nullptr || list->Delegate() == nullptr) {
        return -1;
    }
    const QModelIndex index = list->View()->indexAt(position);
    if (!index.isValid() || index.column() != 0 ||
        !list->Delegate()->LabelRect(list->View(), index).contains(position)) {
        return -1;
    }
    return index.row();
}

void CContentCommands::CancelLabelClick() {
    labelClickRow = -1;
    labelTimer.stop();
}

void CContentCommands::OnLabelClickTimeout() {
    const int row = labelClickRow;
    labelClickRow = -1;
    QTreeView* tree = window.ListView();
    // Still the one selected row, and nothing else took the keyboard meanwhile.
    if (row < 0 || !window.PackOpen() || !IsOnlySelectedRow(row) || tree == nullptr ||
        QApplication::activeModalWidget() != nullptr ||
        tree->findChild<QWidget*>(QStringLiteral("labelEditor")) != nullptr) {
        return;
    }
    OnRename();
}

void CContentCommands::OnViewportMouse(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            CancelLabelClick();
            // A plain click on the label of the row that is already the one
            // selected row; modifiers change the selection instead.
            if (mouse->button() == Qt::LeftButton &&
                (mouse->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) == 0) {
                const int row = LabelRowAt(mouse->position().toPoint());
                if (row >= 0 && IsOnlySelectedRow(row)) {
                    labelClickRow = row;
                    labelClickPoint = mouse->position().toPoint();
                }
            }
            break;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (labelClickRow >= 0 &&
                (mouse->position().toPoint() - labelClickPoint).manhattanLength() >=
                    QApplication::startDragDistance()) {
                CancelLabelClick();  // a drag, not a click
            }
            break;
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (labelClickRow >= 0 && mouse->button() == Qt::LeftButton &&
                LabelRowAt(mouse->position().toPoint()) == labelClickRow) {
                // Not yet: a double-click within the interval opens the row
                // instead.
                labelTimer.start(QApplication::doubleClickInterval());
            } else {
                CancelLabelClick();
            }
            break;
        }
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
            CancelLabelClick();
            break;
        default:
            break;
    }
}

// ---- Events -----------------------------------------------------------------------

bool CContentCommands::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window) {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                // Our own drag-out coming back would only pack the
                // workspace's copies again.
                if (drag->source() == nullptr && !LocalPaths(drag->mimeData()).empty()) {
                    drag->acceptProposedAction();
                } else {
                    drag->ignore();
                }
                return true;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                if (drop->source() != nullptr) {
                    drop->ignore();
                    return true;
                }
                const std::vector<std::string> paths = LocalPaths(drop->mimeData());
                if (paths.empty()) {
                    drop->ignore();
                    return true;
                }
                drop->acceptProposedAction();
                // Packing can take long and may ask questions: it runs once
                // the drop is finished, so the file manager is not kept
                // waiting for it.
                QMetaObject::invokeMethod(
                    this, [this, paths] { OnDropFiles(paths); }, Qt::QueuedConnection);
                return true;
            }
            default:
                break;
        }
        return QObject::eventFilter(watched, event);
    }

    // Compared before the window is touched: events still arrive while the
    // window is being taken apart.
    if (listViewport != nullptr && watched == listViewport) {
        OnViewportMouse(event);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace crateforge
