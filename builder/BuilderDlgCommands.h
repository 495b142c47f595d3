// BuilderDlgCommands.h - the main window's content commands (CContentCommands).
//
// Add, Add Folder, files and folders dropped on the window, New Folder,
// rename in place, Delete, View, drag-out, Extract and About. One
// CContentCommands is made by CBuilderDlg::WireContentCommands() as a child
// of the window (objectName "contentCommands") and works through the
// window's public members: the open pack, the list, the progress bar, the
// workspace and the desktop services. Every command that changes the pack
// saves it at once and refreshes the list, the states and the status texts.
//
// Drag-out: the list decides when a drag starts (QtListView) and calls
// OnBeginDrag, which writes the selected rows into the workspace
// (WriteDragPaths) and hands the paths to the window's drag service.
//
// Label editing by click, as a report list does it: a plain click on the
// label (the name, not its icon or another column) of the row that already
// is the one selected row starts the rename once the double-click interval
// has passed without a second click. A double-click, another press, a key,
// a move past the drag distance or a change of the selection cancels it.
#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QMimeData;

namespace crateforge {

class CBuilderDlg;

// Verbatim texts of the commands.
inline constexpr char kAddFilter[] = "All files (*.*)|*.*||";
inline constexpr char kNewDirName[] = "New Dir";
inline constexpr char kNewDirNumbered[] = "New Dir(%d)";
inline constexpr char kFileTakenText[] = "File %s already exist.";
inline constexpr char kDirectoryTakenText[] = "Directory %s already exist.";
inline constexpr char kDeleteQuestion[] =
    "Selected item(s) will be lost forever, do you wish to continue?";
inline constexpr char kTooDeepText[] =
    "Unable to create a folder here: the folders are nested too deeply.";
inline constexpr char kNewFolderTooLongText[] =
    "Unable to create a folder here: its full name inside the PackFile would be longer than 4095 "
    "bytes.";
inline constexpr char kNewFolderTooLargeText[] =
    "Unable to create a folder here: the PackFile would reach 4 GiB.";
// Count, folder, the names.
inline constexpr char kUnshownFilesText[] =
    "The file dialog cannot show %s file(s) of %s, because their names are not valid UTF-8, "
    "so they could not be chosen: %s. Drop them on the window, or add their folder with Add "
    "Folder.";

class CContentCommands : public QObject {
    Q_OBJECT
  public:
    explicit CContentCommands(CBuilderDlg& window);
    ~CContentCommands() override;

    void OnAdd();
    void OnAddFolder();
    void OnDropFiles(const std::vector<std::string>& paths);
    // fromKey: the Insert key, which also refreshes states and texts.
    void OnNewFolder(bool fromKey);
    void OnRename();
    void OnEndLabelEdit(int row, const std::optional<std::string>& text);
    // Insert and Delete; true when the key was one of them.
    bool OnListKeyDown(int key);
    void OnDelete();
    void OnView();
    void ViewEntry(int row);
    void OnExtract();
    void OnAbout();

    // The name New Folder would give now: "New Dir", or "New Dir(n)" with
    // the first n that no subfolder of the shown folder has.
    std::string NextNewFolderName() const;

    // Writes every selected row (files, and folders with all they hold) into
    // the workspace and returns the paths written, in list order; rows that
    // gave nothing (the ".." row, an entry that failed) are left out.
    std::vector<std::string> WriteDragPaths();
    // text/uri-list of the paths plus the dropped-files block; null when
    // there is no path (see MakeDragData in QtPlatform.h).
    static std::unique_ptr<QMimeData> MakeDragData(const std::vector<std::string>& paths);
    // Writes the selection and runs the drag through the window's drag
    // service; false when nothing was left to drag (no drag starts then).
    bool OnBeginDrag();
    // Whether a label click is waiting for the double-click interval.
    bool LabelClickPending() const { return labelTimer.isActive(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Refresh();
    // After Add: names the files of `folder` that the file dialog could not
    // show (and so were not chosen), in one message.
    void ReportUnshownFiles(const std::string& folder, const std::vector<std::string>& chosen);
    std::vector<std::string> LocalPaths(const QMimeData* data) const;
    void OnViewportMouse(QEvent* event);
    // The row whose label is under `position` of the viewport, or -1.
    int LabelRowAt(const QPoint& position) const;
    bool IsOnlySelectedRow(int row) const;
    void CancelLabelClick();
    void OnLabelClickTimeout();

    CBuilderDlg& window;
    QPointer<QWidget> listViewport;
    QTimer labelTimer;
    int labelClickRow = -1;
    QPoint labelClickPoint;
};

}  // namespace crateforge
