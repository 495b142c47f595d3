// BuilderDlg.h - the main window of the desktop program (CBuilderDlg).
//
// One window shows one folder of the open pack in a four-column list, with a
// tool bar above it and a status row below it. It owns the open pack
// (CPackArchive) and the temporary workspace; every command ends with
// UpdateCommandStates and UpdateStatusTexts, which bring the actions, the
// status texts and the title up to date.
//
// Layout: the window's menu bar sits above a client area; LayoutControls
// places the controls in that client area by pixel: tool bar at 0,0 (W x 65),
// list at 0,65 (W x H-90), the two status texts and the progress bar in
// thirds of the width on an 18-pixel row at H-18.
//
// Commands: each is one QAction, shared by the menus, the tool bar, the
// context menu and its accelerator. Accelerators are live while the keyboard
// focus is in this window; a dialog in front keeps them all off. The rename
// editor never takes one: a command's key with a modifier (Shift+A, Ctrl+O)
// ends the edit without renaming and runs the command, a plain character
// is typed.
//
// Keyboard: besides the accelerators and the list's Backspace, Insert and
// Delete, Ctrl+Down or Alt+Down opens the selected folder, Alt+Up goes up,
// Shift+F10 and the Menu key open the context menu; Enter does nothing.
//
// Services: messages, dialogs, shell, cursor and drag come through the
// platform interfaces; pass the scripted ones in tests, or none for the Qt
// ones. The window hands out its own messages and cursor in front of them:
// while a question is shown the wait cursor is lifted and then put back,
// and once the window is asked to close from outside (RequestClose) no
// more questions are shown and each gets the answer of a closed box.
//
// Ending from outside: RequestClose (the program calls it for SIGTERM,
// SIGINT and SIGHUP) ends the window through the same path as the close
// box. Dialogs and questions in front are closed, a drag is cancelled, and
// the window closes as soon as the command that was running has returned,
// so that no command loses its document under its feet.
//
// Files: BuilderDlg.cpp has the window's setup, states, Open / New, listing,
// navigation and sorting, and the command line; BuilderDlgCommands.cpp has
// the content commands (add, folders, rename, delete, view, extract, about,
// drop) and wires them with WireContentCommands(); WindowServices.h has the
// services the window hands out.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QStyle>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Version.h"
#include "builder/CommandLine.h"
#include "builder/QtPlatform.h"
#include "builder/WindowServices.h"
#include "format/Names.h"
#include "platform/Platform.h"

class QAction;
class QKeyEvent;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QToolBar;
class QTreeView;

namespace crateforge {

class CPackArchive;
class CPackFolder;
class CTempWorkspace;

inline constexpr char kWindowTitle[] = "Crateforge V" CF_VERSION_STRING;
inline constexpr char kTotalFormat[] = "Total: %d Files. OrgSize:%s, Packed: %s";
inline constexpr char kSelectedFormat[] = "Selected: %d Files. OrgSize:%s, Packed: %s";
inline constexpr char kOpenFilter[] =
    "Varnholt Pack Files (*.vpf)|*.vpf|Old Pack Files (*.dat)|*.dat||";
inline constexpr char kNewFilter[] = "Varnholt Pack Files (*.vpf)|*.vpf||";
inline constexpr std::string_view kNewExtension = pack::kPackExtension;
inline constexpr char kNewInitialName[] = "Untitled";
inline constexpr char kWaitCaption[] = "Please Wait...";
// The count; each item's own message follows on a line of its own.
inline constexpr char kFolderItemsNotAddedText[] =
    "%s items of the added folders were not added:\n";

// Layout numbers of the client area, in pixels.
inline constexpr int kToolBarHeight = 65;
inline constexpr int kListBottomGap = 25;  // list height is H - 65 - 25
inline constexpr int kStatusHeight = 18;
inline constexpr int kBorder = 1;  // the frame width the status thirds leave between them

// The commands, with their numbers.
enum class Command : int {
    OpenPack = 32771,
    NewPack = 32772,
    Exit = 32773,
    Add = 32774,
    Extract = 32775,
    View = 32776,
    About = 32777,
    Rename = 32787,
    NewFolder = 32796,
    AddFolder = 32799,
};

// Which commands are on, by situation.
struct CommandStates {
    bool add = false;  // Add and Add Folder
    bool newFolder = false;
    bool extract = false;
    bool rename = false;
    bool view = false;
    bool actionsTitle = false;
};
CommandStates ComputeCommandStates(bool packOpen, int selectedRows, int nonFileSelectedRows);

// The desktop services a window uses; null members get the Qt ones.
struct BuilderServices {
    MessageService* messages = nullptr;
    DialogService* dialogs = nullptr;
    ShellService* shell = nullptr;
    CursorService* cursor = nullptr;
    DragService* drag = nullptr;
};

class CBuilderDlg : public QWidget {
    Q_OBJECT
  public:
    using Services = BuilderServices;

    explicit CBuilderDlg(Services services = {}, QWidget* parent = nullptr);
    ~CBuilderDlg() override;

    // Set by the application before OnInitDialog; not owned.
    CBuilderCommandLineInfo* commandLine = nullptr;

    // The last steps of start-up: states, texts, then the command-line work,
    // then states and texts again. Call once, after show().
    void OnInitDialog();

    void UpdateCommandStates();
    void UpdateStatusTexts();
    int CountNonFileRows() const;
    int OpenPackPath(const std::string& path);
    int CreatePackPath(const std::string& path);
    std::uint32_t PathDiskSize(const std::string& path) const;
    void LayoutControls();
    // The one add sequence of every adding command (Add, Add Folder, drops,
    // the command line): the bar's range set to the bytes about to be read
    // and its position to 0, the wait cursor, each path added into `target`
    // (a folder with AddFolder, anything else with AddFile, in the given
    // order), the pack saved, the list refilled, states and texts brought
    // up to date, the bar back at 0 and the arrow cursor. What the folders'
    // walks left out is then said in one message.
    // The bar's range is the sum of PathDiskSize for `dropped` items, else
    // of FolderDiskSize / FileDiskSize (what is read).
    void AddPathsToPack(const std::vector<std::string>& paths, CPackFolder* target,
                        bool dropped = false);

    // Commands of the "&File" menu.
    void OnOpenPack();
    void OnNewPack();
    // Releases the pack and the workspace and closes the window (Exit,
    // Escape, the close box). Nothing needs saving.
    void OnCancel();
    // Closes the window from outside a command (see the top); safe to call
    // at any moment on the user-interface thread, also twice.
    void RequestClose();
    bool CloseRequested() const { return closeState.requested; }
    CloseState& Closing() { return closeState; }

    // List events (public so tests can drive them like the list does).
    void OnListClick();
    void OnListDoubleClick();
    void OnColumnClick(int column);
    // Shows the context menu at a point of the list's viewport; false when
    // there is no pack.
    bool OnContextMenu(const QPoint& position);
    // A key pressed in the list, with Shift and Ctrl ignored (Shift+Del is
    // Delete); true when it was handled.
    bool OnListKeyDown(int key);
    // The keyboard's way through the list, beside Backspace and the keys
    // above: Ctrl+Down and Alt+Down open the selected folder (".." goes up),
    // Alt+Up goes up; Shift+F10 and the Menu key open the context menu at
    // the current row. True when the key was one of them.
    bool OnListNavigationKey(const QKeyEvent& key);
    // The first selected folder row's folder becomes the shown one.
    void OpenSelectedFolder();

    // ---- Access for the commands' files -----------------------------------
    // Tests reach the widgets by object name: "client", "menuBar",
    // "fileMenu", "actionsMenu", "contextMenu", "aboutMenu", "toolBar",
    // "listView", "totalText", "selectedText", "progressBar", the commands'
    // actions "command<number>", and "waitWindow" while the command line is
    // worked through.
    CPackArchive* Archive() const { return archive.get(); }
    bool PackOpen() const { return packOpen != 0; }
    QTreeView* ListView() const { return listView; }
    QtListControl* ListControlImpl() const { return listControl.get(); }
    ProgressControl* CurrentProgress() const { return progressBar; }
    CTempWorkspace* Workspace() const { return workspace.get(); }
    MessageService* Messages() const { return messages; }
    DialogService* Dialogs() const { return dialogs; }
    ShellService* Shell() const { return shell; }
    CursorService* Cursor() const { return cursor; }
    DragService* Drag() const { return drag; }

  protected:
    // Connects a command to its handler and lets UpdateCommandStates turn it
    // on; a command that is not wired stays off.
    void WireCommand(Command command, std::function<void()> handler);
    void WireCommand(Command command, void (CBuilderDlg::*handler)());

    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QAction* CommandAction(Command command) const;
    bool IsCommandWired(Command command) const;
    // The command whose shortcut `key` is, or null.
    QAction* CommandForKey(const QKeyEvent& key) const;
    // A key pressed in the rename editor that is a command's shortcut: with
    // a modifier the edit ends without a rename and the command runs.
    void OnEditorShortcut(const QKeyEvent& key);
    // Where the keyboard opens the context menu, in the list's viewport.
    QPoint KeyboardMenuPosition() const;
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateListView();
    void CreateStatusRow();
    QAction* MakeAction(Command command, const char* text, const QKeySequence& shortcut,
                        const char* toolTip, const char* iconName, QStyle::StandardPixmap fallback);
    void SetCommandState(Command command, bool on);
    void ReleaseArchive();
    void ShowNoPack();
    void UpdateSortIndicator();
    // The status fields' accessible names: their texts.
    void ShowStatusNames();
    // The window's minimum width after the status texts changed.
    void FitStatusTexts();
    void RunCommandLine();
    // One message for the files the last command stored uncompressed
    // because their compression failed.
    void ReportCodingFallbacks();
    // Closes whatever runs a loop of its own in front of the window.
    void EndNestedLoops();
    void CloseWhenIdle();

    // ---- Content commands (BuilderDlgCommands.cpp) ----------------------------
    void WireContentCommands();
    // The list's in-place editor closed on `row`; no text when cancelled.
    void OnEndLabelEdit(int row, const std::optional<std::string>& text);
    // Keys of the list other than Backspace; true when handled.
    bool OnListKeyDownContent(int key);
    // Opens the file of a file row with the desktop's program for it.
    void ViewEntry(int row);

    // Services (the Qt ones unless others were given).
    std::unique_ptr<QtMessageService> ownMessages;
    std::unique_ptr<QtDialogService> ownDialogs;
    std::unique_ptr<QtShellService> ownShell;
    std::unique_ptr<QtCursorService> ownCursor;
    std::unique_ptr<QtDragService> ownDrag;
    std::unique_ptr<WindowCursor> windowCursor;
    std::unique_ptr<WindowMessages> windowMessages;
    std::unique_ptr<WindowDialogs> windowDialogs;
    std::unique_ptr<WindowDrag> windowDrag;
    MessageService* messages = nullptr;
    DialogService* dialogs = nullptr;
    ShellService* shell = nullptr;
    CursorService* cursor = nullptr;
    DragService* drag = nullptr;

    QMenuBar* menuBar = nullptr;
    QMenu* fileMenu = nullptr;
    QMenu* actionsMenu = nullptr;
    QMenu* aboutMenu = nullptr;
    QMenu* contextMenu = nullptr;
    QToolBar* toolBar = nullptr;
    QWidget* client = nullptr;
    QtListView* listView = nullptr;
    std::unique_ptr<QtIconProvider> iconList;
    std::unique_ptr<QtListControl> listControl;
    QProgressBar* progressWidget = nullptr;
    std::unique_ptr<QtProgressControl> mainProgress;
    ProgressControl* progressBar = nullptr;  // the bar packs are bound to now
    StatusField* totalText = nullptr;
    StatusField* selectedText = nullptr;
    int packOpen = 0;
    std::unique_ptr<CPackArchive> archive;
    std::unique_ptr<CTempWorkspace> workspace;
    QIcon icon;
    QPointer<QDialog> waitWindow;
    bool statesPending = false;
    std::optional<QKeyCombination> swallowedKey;  // the key that ended a rename
    bool closed = false;
    CloseState closeState;

    struct CommandSlot {
        Command command;
        QAction* action = nullptr;
        bool wired = false;
    };
    std::array<CommandSlot, 10> commands{};
};

}  // namespace crateforge
