// BuilderDlg.cpp - the main window: setup, layout, command states, status
// texts, Open and New, listing, navigation, sorting and the command line.
#include "builder/BuilderDlg.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "archive/PackArchive.h"
#include "archive/SizeText.h"
#include "archive/TempWorkspace.h"
#include "builder/Accessibility.h"
#include "builder/WindowServices.h"
#include "platform/FileSystem.h"

namespace crateforge {

namespace {

// Fills "%d" with a count and each "%s" with the next text, in order.
std::string FormatStatus(const char* format, std::uint64_t count, const std::string& first,
                         const std::string& second) {
    std::string out;
    const std::string* texts[] = {&first, &second};
    int next = 0;
    for (const char* p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 'd') {
            out += std::to_string(count);
            ++p;
        } else if (p[0] == '%' && p[1] == 's' && next < 2) {
            out += *texts[next++];
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

bool IsTextEditor(const QObject* object) {
    if (qobject_cast<const QLineEdit*>(object) != nullptr ||
        qobject_cast<const QTextEdit*>(object) != nullptr ||
        qobject_cast<const QPlainTextEdit*>(object) != nullptr ||
        qobject_cast<const QAbstractSpinBox*>(object) != nullptr) {
        return true;
    }
    const auto* combo = qobject_cast<const QComboBox*>(object);
    return combo != nullptr && combo->isEditable();
}

// A command's name as a screen reader says it: the menu text without its
// mnemonic mark and the key text after the tab ("&Open Pack\tCtrl+O").
QString CommandName(const QString& menuText) {
    QString name = menuText.section(u'\t', 0, 0);
    name.remove(u'&');
    return name;
}

// A tool bar icon whose off state is clearly faded: some themes draw their
// icons in greys, where the style's own disabled look is hard to tell apart.
QIcon ToolIcon(const QIcon& base) {
    const QSize size(48, 48);
    QPixmap normal = base.pixmap(size);
    if (normal.isNull()) {
        return base;
    }
    QPixmap faded(normal.size());
    faded.setDevicePixelRatio(normal.devicePixelRatio());
    faded.fill(Qt::transparent);
    {
        QPainter painter(&faded);
        painter.setOpacity(0.3);
        painter.drawPixmap(0, 0, normal);
    }
    QIcon icon;
    icon.addPixmap(normal, QIcon::Normal);
    icon.addPixmap(faded, QIcon::Disabled);
    return icon;
}

// A command-line path as a full path: relative to the current folder, and
// without trailing "/" (a shell's completion adds one to folder names, which
// would leave the folder without a name of its own).
std::string AbsolutePath(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    if (path.empty() || path.front() == '/') {
        return path;
    }
    return fs::JoinPath(PathBytes(QDir::currentPath()), path);
}

}  // namespace

CommandStates ComputeCommandStates(bool packOpen, int selectedRows, int nonFileSelectedRows) {
    CommandStates states;
    if (!packOpen) {
        return states;
    }
    states.add = true;
    states.newFolder = true;
    states.actionsTitle = true;
    if (selectedRows > 0) {
        states.extract = true;
        states.rename = true;
        states.view = nonFileSelectedRows < selectedRows;
    }
    return states;
}

CBuilderDlg::CBuilderDlg(Services services, QWidget* parent) : QWidget(parent, Qt::Window) {
    InitBuilderResources();
    setObjectName(QStringLiteral("builderDlg"));
    MarkAsWindow(this);
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    icon = QIcon(QStringLiteral(":/icons/crateforge.svg"));
    setWindowIcon(icon);

    if (services.messages == nullptr) {
        ownMessages = std::make_unique<QtMessageService>(this);
        services.messages = ownMessages.get();
    }
    if (services.dialogs == nullptr) {
        ownDialogs = std::make_unique<QtDialogService>(this);
        services.dialogs = ownDialogs.get();
    }
    if (services.shell == nullptr) {
        ownShell = std::make_unique<QtShellService>();
        services.shell = ownShell.get();
    }
    if (services.cursor == nullptr) {
        ownCursor = std::make_unique<QtCursorService>();
        services.cursor = ownCursor.get();
    }
    windowCursor = std::make_unique<WindowCursor>(services.cursor);
    windowMessages =
        std::make_unique<WindowMessages>(services.messages, windowCursor.get(), &closeState);
    windowDialogs = std::make_unique<WindowDialogs>(services.dialogs, &closeState);
    messages = windowMessages.get();
    dialogs = windowDialogs.get();
    shell = services.shell;
    cursor = windowCursor.get();

    // The menu bar sits above the client area, which LayoutControls fills.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->installEventFilter(this);
    layout->addWidget(client);

    iconList = std::make_unique<QtIconProvider>();
    CreateActions();
    CreateMenus();
    layout->setMenuBar(menuBar);
    CreateToolBar();
    CreateStatusRow();
    CreateListView();
    if (services.drag == nullptr) {
        ownDrag = std::make_unique<QtDragService>(listView);
        services.drag = ownDrag.get();
    }
    windowDrag = std::make_unique<WindowDrag>(services.drag, &closeState);
    drag = windowDrag.get();
    WireContentCommands();
    // What runs killed outright left behind goes before a new workspace is
    // made; a workspace of another running window stays.
    std::vector<std::string> leftovers;
    CTempWorkspace::RemoveAbandoned(&leftovers);
    for (const std::string& leftover : leftovers) {
        std::fprintf(stderr, "crateforge: could not remove the old workspace %s\n",
                     leftover.c_str());
    }
    workspace = std::make_unique<CTempWorkspace>();

    // Accelerators must not fire while a text editor of this window has the
    // keyboard; the editor is told the key is its own.
    qApp->installEventFilter(this);

    // The template's 320 x 200 dialog units, in this font's units.
    // The template's 320 x 200 dialog units in this font would clip the
    // status texts in their thirds of the width; start wide enough for them
    // (and for the four columns), but never larger than the screen.
    QFontMetrics metrics(font());
    int width = std::max(960, 320 * metrics.averageCharWidth() / 4);
    int height = std::max(600, 200 * metrics.height() / 8);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        width = std::min(width, area.width() * 9 / 10);
        height = std::min(height, area.height() * 9 / 10);
        resize(width, height);
        move(area.center() - QPoint(width / 2, height / 2));
    } else {
        resize(width, height);
    }
    LayoutControls();
    progressBar = mainProgress.get();
}

CBuilderDlg::~CBuilderDlg() {
    qApp->removeEventFilter(this);
    // A rename still open ends while the list goes; the window is gone by then.
    if (listControl != nullptr && listControl->Delegate() != nullptr) {
        listControl->Delegate()->SetEndHandler({});
    }
    ReleaseArchive();
    workspace.reset();
}

// ---------------------------------------------------------------------------
// Setup

QAction* CBuilderDlg::MakeAction(Command command, const char* text, const QKeySequence& shortcut,
                                 const char* toolTip, const char* iconName,
                                 QStyle::StandardPixmap fallback) {
    auto* action = new QAction(QString::fromLatin1(text), this);
    action->setObjectName(QStringLiteral("command%1").arg(static_cast<int>(command)));
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        // Live while the focus is anywhere in this window, and only there.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(action);
    }
    if (toolTip != nullptr) {
        action->setToolTip(QString::fromLatin1(toolTip));
    }
    if (iconName != nullptr) {
        action->setIcon(ToolIcon(
            QIcon::fromTheme(QString::fromLatin1(iconName), style()->standardIcon(fallback))));
    }
    for (CommandSlot& slot : commands) {
        if (slot.action == nullptr) {
            slot.command = command;
            slot.action = action;
            break;
        }
    }
    return action;
}

void CBuilderDlg::CreateActions() {
    // The menu texts carry their accelerator after a tab, as the menus show it.
    MakeAction(Command::OpenPack, "&Open Pack\tCtrl+O", QKeySequence(Qt::CTRL | Qt::Key_O),
               "Open an existing PackFile", "document-open", QStyle::SP_DialogOpenButton);
    MakeAction(Command::NewPack, "&New Pack\tCtrl+N", QKeySequence(Qt::CTRL | Qt::Key_N),
               "Creates a new PackFile", "document-new", QStyle::SP_FileIcon);
    MakeAction(Command::Exit, "E&xit", QKeySequence(), nullptr, nullptr, QStyle::SP_CustomBase);
    MakeAction(Command::Add, "&Add\tShift+A", QKeySequence(Qt::SHIFT | Qt::Key_A),
               "Add File(s) to the current PackFile", "list-add", QStyle::SP_FileDialogNewFolder);
    MakeAction(Command::AddFolder, "Add &Folder\tShift+F", QKeySequence(Qt::SHIFT | Qt::Key_F),
               "Add an entire folder to the current PackFile", "folder-new",
               QStyle::SP_FileDialogNewFolder);
    // Insert works in the list only (OnListKeyDown), so it is no accelerator.
    MakeAction(Command::NewFolder, "&New Folder\tIns", QKeySequence(), nullptr, nullptr,
               QStyle::SP_CustomBase);
    MakeAction(Command::Extract, "&Extract\tShift+E", QKeySequence(Qt::SHIFT | Qt::Key_E),
               "Extract selected file(s)/folder(s)", "document-save", QStyle::SP_DialogSaveButton);
    MakeAction(Command::View, "&View\tShift+V", QKeySequence(Qt::SHIFT | Qt::Key_V),
               "View selected file(s) with associated program", "edit-find",
               QStyle::SP_FileDialogContentsView);
    MakeAction(Command::Rename, "&Rename\tF2", QKeySequence(Qt::Key_F2), nullptr, nullptr,
               QStyle::SP_CustomBase);
    MakeAction(Command::About, "&About Crateforge " CF_VERSION_STRING "...", QKeySequence(),
               nullptr, nullptr, QStyle::SP_CustomBase);

    WireCommand(Command::OpenPack, &CBuilderDlg::OnOpenPack);
    WireCommand(Command::NewPack, &CBuilderDlg::OnNewPack);
    WireCommand(Command::Exit, &CBuilderDlg::OnCancel);

    // Escape closes the window like Exit; Enter does nothing.
    auto* escape = new QAction(this);
    escape->setObjectName(QStringLiteral("escapeAction"));
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    escape->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QAction::triggered, this, &CBuilderDlg::OnCancel);
    addAction(escape);
}

void CBuilderDlg::CreateMenus() {
    menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    fileMenu = menuBar->addMenu(QStringLiteral("&File"));
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    fileMenu->addAction(CommandAction(Command::OpenPack));
    fileMenu->addAction(CommandAction(Command::NewPack));
    fileMenu->addSeparator();
    fileMenu->addAction(CommandAction(Command::Exit));

    const Command actionItems[] = {Command::Add,     Command::AddFolder, Command::NewFolder,
                                   Command::Extract, Command::View,      Command::Rename};
    actionsMenu = menuBar->addMenu(QStringLiteral("&Actions"));
    actionsMenu->setObjectName(QStringLiteral("actionsMenu"));
    contextMenu = new QMenu(this);
    contextMenu->setObjectName(QStringLiteral("contextMenu"));
    contextMenu->setAccessibleName(QStringLiteral("Actions"));
    for (Command command : actionItems) {
        actionsMenu->addAction(CommandAction(command));
        contextMenu->addAction(CommandAction(command));
    }

    // Its own mnemonic: Alt+A is the Actions menu's.
    aboutMenu = menuBar->addMenu(QStringLiteral("A&bout"));
    aboutMenu->setObjectName(QStringLiteral("aboutMenu"));
    aboutMenu->addAction(CommandAction(Command::About));
}

void CBuilderDlg::CreateToolBar() {
    toolBar = new QToolBar(client);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setIconSize(QSize(48, 48));
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolBar->addAction(CommandAction(Command::OpenPack));
    toolBar->addAction(CommandAction(Command::NewPack));
    toolBar->addSeparator();
    toolBar->addAction(CommandAction(Command::Add));
    toolBar->addAction(CommandAction(Command::AddFolder));
    toolBar->addAction(CommandAction(Command::Extract));
    toolBar->addAction(CommandAction(Command::View));
    toolBar->setAccessibleName(QStringLiteral("Commands"));
    for (QAction* action : toolBar->actions()) {
        if (QWidget* button = toolBar->widgetForAction(action)) {
            if (!action->isSeparator()) {
                button->setFixedSize(55, 54);
                // Read out as the command, without its menu's key text; the
                // tip says what it does.
                button->setAccessibleName(CommandName(action->text()));
                button->setAccessibleDescription(action->toolTip());
            }
        }
    }
    // The button that shows the buttons a narrow window has no room for.
    if (auto* more = toolBar->findChild<QWidget*>(QStringLiteral("qt_toolbar_ext_button"))) {
        more->setAccessibleName(QStringLiteral("More commands"));
    }
}

void CBuilderDlg::CreateStatusRow() {
    totalText = new StatusField(client);
    totalText->setObjectName(QStringLiteral("totalText"));
    selectedText = new StatusField(client);
    selectedText->setObjectName(QStringLiteral("selectedText"));
    for (QLabel* label : {totalText, selectedText}) {
        // A little smaller than the list, so the texts fit their thirds.
        QFont small = label->font();
        small.setPointSizeF(small.pointSizeF() * 0.9);
        label->setFont(small);
    }
    totalText->setAccessibleDescription(
        QStringLiteral("Files in the pack, and the sizes of the shown folder"));
    selectedText->setAccessibleDescription(QStringLiteral("Files and sizes of the selected rows"));
    ShowStatusNames();
    progressWidget = new QProgressBar(client);
    progressWidget->setObjectName(QStringLiteral("progressBar"));
    progressWidget->setTextVisible(false);
    progressWidget->setAccessibleName(QStringLiteral("Progress"));
    progressWidget->setAccessibleDescription(
        QStringLiteral("How far adding or extracting has come"));
    mainProgress = std::make_unique<QtProgressControl>(progressWidget);
    mainProgress->SetRange(0, 100);
    mainProgress->SetPosition(0);
}

void CBuilderDlg::CreateListView() {
    listView = new QtListView(client);
    listView->setObjectName(QStringLiteral("listView"));
    listView->setAccessibleName(QStringLiteral("Pack contents"));
    listView->setAccessibleDescription(
        QStringLiteral("Folders and files of the shown folder of the pack"));
    listView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    listView->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Labels are edited through Rename, New Folder and a click on the label
    // of the selected row (the content commands time that one themselves).
    listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows are dragged out only; drops go to the window.
    listView->setDragDropMode(QAbstractItemView::DragOnly);
    listView->setSortingEnabled(false);
    listView->setContextMenuPolicy(Qt::CustomContextMenu);
    listView->setIconSize(QSize(16, 16));

    listControl = std::make_unique<QtListControl>(listView, iconList.get());
    struct Column {
        const char* heading;
        Qt::Alignment alignment;
        int width;
    };
    const Column columns[] = {
        {"Name", Qt::AlignLeft, 200},
        {"Original Size", Qt::AlignRight, 100},
        {"Ratio", Qt::AlignLeft, 100},
        {"Packed Size", Qt::AlignRight, 100},
    };
    for (int i = 0; i < 4; ++i) {
        listControl->Model()->SetHeading(i, QString::fromLatin1(columns[i].heading),
                                         columns[i].alignment);
    }
    QHeaderView* headerView = listView->header();
    headerView->setStretchLastSection(false);
    headerView->setSectionsClickable(true);
    headerView->setSectionsMovable(false);
    headerView->setSortIndicatorShown(false);
    for (int i = 0; i < 4; ++i) {
        listView->setColumnWidth(i, columns[i].width);
    }
    listControl->Delegate()->SetEndHandler(
        [this](int row, const std::optional<std::string>& text) { OnEndLabelEdit(row, text); });

    connect(headerView, &QHeaderView::sectionClicked, this, &CBuilderDlg::OnColumnClick);
    connect(listView, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex&) { OnListDoubleClick(); });
    connect(listView, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& position) { OnContextMenu(position); });
    // The states follow the selection however it changed (mouse or keys);
    // the update runs once the list has settled.
    connect(listView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (statesPending) {
            return;
        }
        statesPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                statesPending = false;
                OnListClick();
            },
            Qt::QueuedConnection);
    });
    listView->installEventFilter(this);
}

void CBuilderDlg::WireCommand(Command command, std::function<void()> handler) {
    for (CommandSlot& slot : commands) {
        if (slot.action != nullptr && slot.command == command) {
            connect(slot.action, &QAction::triggered, this, [handler] { handler(); });
            slot.wired = true;
        }
    }
}

void CBuilderDlg::WireCommand(Command command, void (CBuilderDlg::*handler)()) {
    WireCommand(command, std::function<void()>([this, handler] { (this->*handler)(); }));
}

QAction* CBuilderDlg::CommandAction(Command command) const {
    for (const CommandSlot& slot : commands) {
        if (slot.action != nullptr && slot.command == command) {
            return slot.action;
        }
    }
    return nullptr;
}

bool CBuilderDlg::IsCommandWired(Command command) const {
    for (const CommandSlot& slot : commands) {
        if (slot.action != nullptr && slot.command == command) {
            return slot.wired;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------
// Layout

void CBuilderDlg::LayoutControls() {
    if (client == nullptr) {
        return;
    }
    const int w = client->width();
    const int h = client->height();
    if (toolBar != nullptr) {
        toolBar->setGeometry(0, 0, w, kToolBarHeight);
    }
    if (listView != nullptr) {
        listView->setGeometry(0, kToolBarHeight, w,
                              std::max(0, h - kToolBarHeight - kListBottomGap));
    }
    if (totalText != nullptr && selectedText != nullptr && progressWidget != nullptr) {
        const int third = w / 3;
        const int y = h - kStatusHeight;
        const int width = std::max(0, third - 2 * kBorder);
        totalText->setGeometry(0, y, width, kStatusHeight);
        selectedText->setGeometry(third + 2 * kBorder, y, width, kStatusHeight);
        progressWidget->setGeometry(2 * third + 4 * kBorder, y, width, kStatusHeight);
    }
}

// ---------------------------------------------------------------------------
// States and texts

int CBuilderDlg::CountNonFileRows() const {
    if (listControl == nullptr) {
        return 0;
    }
    int count = 0;
    for (int row : listControl->SelectedRows()) {
        if (!listControl->Key(row).IsFile()) {
            ++count;
        }
    }
    return count;
}

void CBuilderDlg::SetCommandState(Command command, bool on) {
    if (QAction* action = CommandAction(command)) {
        // A command whose handler is not there yet stays off.
        action->setEnabled(on && IsCommandWired(command));
    }
}

void CBuilderDlg::UpdateCommandStates() {
    if (toolBar == nullptr || menuBar == nullptr || contextMenu == nullptr || listView == nullptr) {
        return;
    }
    const int selected = static_cast<int>(listControl->SelectedRows().size());
    const CommandStates states = ComputeCommandStates(packOpen != 0, selected, CountNonFileRows());
    SetCommandState(Command::OpenPack, true);
    SetCommandState(Command::NewPack, true);
    SetCommandState(Command::Exit, true);
    SetCommandState(Command::About, true);
    SetCommandState(Command::Add, states.add);
    SetCommandState(Command::AddFolder, states.add);
    SetCommandState(Command::NewFolder, states.newFolder);
    SetCommandState(Command::Extract, states.extract);
    SetCommandState(Command::Rename, states.rename);
    SetCommandState(Command::View, states.view);
    actionsMenu->menuAction()->setEnabled(states.actionsTitle);
    menuBar->update();
}

void CBuilderDlg::UpdateStatusTexts() {
    if (archive == nullptr || archive->Current() == nullptr) {
        return;
    }
    const CPackFolder* current = archive->Current();
    totalText->SetText(QString::fromStdString(
        FormatStatus(kTotalFormat, archive->FileCount(), FormatSize(current->TotalOriginalSize()),
                     FormatSize(current->TotalPackedSize()))));

    std::uint64_t count = 0;
    std::uint32_t original = 0;
    std::uint32_t packed = 0;
    const std::vector<int> rows = listControl->SelectedRows();
    count = rows.size();
    for (int row : rows) {
        const RowKey key = listControl->Key(row);
        const auto index = static_cast<int>(key.Index());
        if (key.IsParent()) {
            count = 0;
        } else if (key.IsFile() && key.Index() < current->FileCount()) {
            original += current->FileOriginalSize(index);
            packed += current->FilePackedSize(index);
        } else if (key.IsFolder() && key.Index() < current->SubfolderCount()) {
            original += current->SubfolderOriginalTotal(index);
            packed += current->SubfolderPackedTotal(index);
        }
    }
    selectedText->SetText(QString::fromStdString(
        FormatStatus(kSelectedFormat, count, FormatSize(original), FormatSize(packed))));
    ShowStatusNames();
    FitStatusTexts();

    QString title = QString::fromLatin1(kWindowTitle);
    if (packOpen != 0) {
        title += QStringLiteral(" - ") + DisplayText(archive->Path());
    }
    setWindowTitle(title);
}

void CBuilderDlg::FitStatusTexts() {
    // The status fields keep their thirds of the width; the window is made
    // at least wide enough for both texts, as far as its screen allows
    // (its frame included). Narrower than that, a field shortens its text
    // (StatusField).
    const int needed = std::max(totalText->NeededWidth(), selectedText->NeededWidth());
    const int chrome = width() - client->width();  // what lies beside the client area
    int minimum = 3 * (needed + 2 * kBorder) + 4 * kBorder + chrome;
    QScreen* screen = this->screen();
    const int frame = frameGeometry().width() - geometry().width();
    if (screen != nullptr) {
        minimum = std::min(minimum, screen->availableGeometry().width() - frame);
    }
    setMinimumWidth(std::max(0, minimum));
    // Grown past the screen's right edge: back onto the screen.
    if (screen != nullptr && isVisible()) {
        const QRect area = screen->availableGeometry();
        const int over = frameGeometry().right() - area.right();
        if (over > 0) {
            move(std::max(area.left(), x() - over), y());
        }
    }
}

void CBuilderDlg::ShowStatusNames() {
    // A field is read out by its text; with none, by what it would show.
    totalText->setAccessibleName(totalText->text().isEmpty() ? QStringLiteral("Total")
                                                             : totalText->text());
    selectedText->setAccessibleName(selectedText->text().isEmpty() ? QStringLiteral("Selected")
                                                                   : selectedText->text());
}

void CBuilderDlg::UpdateSortIndicator() {
    QHeaderView* header = listView->header();
    if (archive == nullptr || archive->SortColumn() < 0) {
        header->setSortIndicatorShown(false);
        return;
    }
    header->setSortIndicatorShown(true);
    header->setSortIndicator(archive->SortColumn(), archive->SortDirection() == 1
                                                        ? Qt::AscendingOrder
                                                        : Qt::DescendingOrder);
}

// ---------------------------------------------------------------------------
// Open and New

void CBuilderDlg::ReleaseArchive() {
    // Rows point into the pack's tree: they go before the tree does.
    if (listControl != nullptr) {
        listControl->DeleteAllRows();
    }
    packOpen = 0;
    archive.reset();
}

void CBuilderDlg::ShowNoPack() {
    ReleaseArchive();
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    totalText->SetText(QString());
    selectedText->SetText(QString());
    ShowStatusNames();
    FitStatusTexts();
    UpdateSortIndicator();
    UpdateCommandStates();
}

int CBuilderDlg::OpenPackPath(const std::string& path) {
    if (listView == nullptr) {
        return 0;
    }
    ReleaseArchive();
    archive =
        std::make_unique<CPackArchive>(messages, listControl.get(), progressBar, iconList.get());
    if (archive->Open(path) == 0) {
        ShowNoPack();
        return 0;
    }
    packOpen = 1;
    UpdateSortIndicator();
    UpdateCommandStates();
    UpdateStatusTexts();
    ReportCodingFallbacks();  // an old pack's files are coded again
    return 1;
}

void CBuilderDlg::ReportCodingFallbacks() {
    if (archive == nullptr) {
        return;
    }
    const CodingFallbacks fallbacks = archive->TakeCodingFallbacks();
    if (fallbacks.count > 0) {
        messages->ShowMessage(
            kWarningCaption,
            WithNames(kStoredUncompressedText,
                      {std::to_string(fallbacks.count), fallbacks.firstName, fallbacks.reason}),
            MessageButtons::Ok);
    }
}

int CBuilderDlg::CreatePackPath(const std::string& path) {
    if (listView == nullptr) {
        return 0;
    }
    ReleaseArchive();
    archive =
        std::make_unique<CPackArchive>(messages, listControl.get(), progressBar, iconList.get());
    archive->CreateNew(path);
    archive->RefreshList();
    packOpen = 1;
    UpdateSortIndicator();
    UpdateCommandStates();
    UpdateStatusTexts();
    return 1;
}

void CBuilderDlg::OnOpenPack() {
    OpenFileRequest request;
    request.filter = kOpenFilter;
    request.multiSelect = false;
    std::vector<std::string> chosen = dialogs->OpenFiles(request);
    if (chosen.empty()) {
        return;
    }
    OpenPackPath(chosen.front());
}

void CBuilderDlg::OnNewPack() {
    SaveFileRequest request;
    request.filter = kNewFilter;
    request.defaultExtension = std::string(kNewExtension);
    request.initialName = kNewInitialName;
    request.confirmOverwrite = true;
    std::optional<std::string> chosen = dialogs->SaveFile(request);
    if (!chosen || chosen->empty()) {
        return;
    }
    CreatePackPath(*chosen);
}

std::uint32_t CBuilderDlg::PathDiskSize(const std::string& path) const {
    return crateforge::PathDiskSize(path);
}

// ---------------------------------------------------------------------------
// Closing

void CBuilderDlg::OnCancel() {
    if (!closed) {
        closed = true;
        ReleaseArchive();
        workspace.reset();
    }
    close();
}

void CBuilderDlg::RequestClose() {
    if (closed) {
        return;
    }
    closeState.requested = true;
    EndNestedLoops();
    QTimer::singleShot(0, this, &CBuilderDlg::CloseWhenIdle);
}

void CBuilderDlg::EndNestedLoops() {
    QDrag::cancel();
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
    }
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    }
}

void CBuilderDlg::CloseWhenIdle() {
    if (closed) {
        return;
    }
    // Inside a dialog's or a drag's own loop a command is still on the
    // stack: it must return before its document goes.
    constexpr int kRetryMilliseconds = 20;
    if (closeState.nestedLoops > 0) {
        EndNestedLoops();
        QTimer::singleShot(kRetryMilliseconds, this, &CBuilderDlg::CloseWhenIdle);
        return;
    }
    OnCancel();
}

void CBuilderDlg::closeEvent(QCloseEvent* event) {
    if (!closed) {
        closed = true;
        ReleaseArchive();
        workspace.reset();
    }
    event->accept();
}

void CBuilderDlg::keyPressEvent(QKeyEvent* event) {
    // Enter never closes or activates anything here.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------------------
// List events

void CBuilderDlg::OnListClick() {
    UpdateCommandStates();
    UpdateStatusTexts();
}

void CBuilderDlg::OnListDoubleClick() {
    if (archive == nullptr) {
        return;
    }
    const std::vector<int> rows = listControl->SelectedRows();
    for (int row : rows) {
        const RowKey key = listControl->Key(row);
        if (key.IsFile()) {
            ViewEntry(row);
            continue;
        }
        if (key.IsParent()) {
            archive->GoUp();
        } else {
            archive->EnterFolderAt(static_cast<int>(key.Index()));
        }
        break;
    }
    UpdateCommandStates();
    UpdateStatusTexts();
}

void CBuilderDlg::OnColumnClick(int column) {
    if (archive == nullptr) {
        UpdateSortIndicator();
        return;
    }
    // Quick for tens of thousands of rows, a moment for millions.
    cursor->SetWaitCursor(true);
    archive->SortByColumn(column);
    cursor->SetWaitCursor(false);
    UpdateSortIndicator();
    UpdateCommandStates();
    UpdateStatusTexts();
}

bool CBuilderDlg::OnContextMenu(const QPoint& position) {
    if (packOpen == 0 || listView == nullptr || contextMenu == nullptr) {
        return false;
    }
    UpdateCommandStates();
    contextMenu->popup(listView->viewport()->mapToGlobal(position));
    return true;
}

bool CBuilderDlg::OnListKeyDown(int key) {
    if (packOpen == 0 || archive == nullptr) {
        return false;
    }
    if (key == Qt::Key_Backspace) {
        archive->GoUp();
        UpdateCommandStates();
        UpdateStatusTexts();
        return true;
    }
    return OnListKeyDownContent(key);
}

QAction* CBuilderDlg::CommandForKey(const QKeyEvent& key) const {
    const QKeySequence pressed(key.keyCombination());
    for (const CommandSlot& slot : commands) {
        if (slot.action != nullptr && !slot.action->shortcut().isEmpty() &&
            slot.action->shortcut().matches(pressed) == QKeySequence::ExactMatch) {
            return slot.action;
        }
    }
    return nullptr;
}

void CBuilderDlg::OnEditorShortcut(const QKeyEvent& key) {
    // A character of the name without a modifier is typed, and a command's
    // key without one (F2) does nothing here; a command's key with a
    // modifier never reaches the editor: the edit ends without a rename and
    // the command runs.
    QAction* action = CommandForKey(key);
    if (action == nullptr || (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        return;
    }
    swallowedKey = key.keyCombination();
    listControl->CancelEdit();
    QPointer<QAction> command(action);
    QMetaObject::invokeMethod(
        this,
        [command] {
            if (command != nullptr && command->isEnabled()) {
                command->trigger();
            }
        },
        Qt::QueuedConnection);
}

QPoint CBuilderDlg::KeyboardMenuPosition() const {
    // Below the start of the current row's name, or the list's corner.
    const QModelIndex current = listView->currentIndex();
    const QRect row =
        current.isValid() ? listView->visualRect(current.siblingAtColumn(0)) : QRect();
    if (row.isValid() && listView->viewport()->rect().intersects(row)) {
        return QPoint(row.left() + row.height(), row.bottom());
    }
    return QPoint(0, 0);
}

bool CBuilderDlg::OnListNavigationKey(const QKeyEvent& key) {
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    const bool down = key.key() == Qt::Key_Down &&
                      (modifiers == Qt::ControlModifier || modifiers == Qt::AltModifier);
    const bool up = key.key() == Qt::Key_Up && modifiers == Qt::AltModifier;
    const bool menu = (key.key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
                      (key.key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier);
    if (menu) {
        OnContextMenu(KeyboardMenuPosition());
        return true;
    }
    if (!down && !up) {
        return false;
    }
    if (packOpen == 0 || archive == nullptr) {
        return true;
    }
    if (up) {
        archive->GoUp();  // as Backspace does
    } else {
        OpenSelectedFolder();
    }
    UpdateCommandStates();
    UpdateStatusTexts();
    return true;
}

void CBuilderDlg::OpenSelectedFolder() {
    // The first selected folder row, as a double-click would take it;
    // file rows are passed over (Enter opens nothing either).
    for (int row : listControl->SelectedRows()) {
        const RowKey key = listControl->Key(row);
        if (key.IsParent()) {
            archive->GoUp();
            return;
        }
        if (key.IsFolder()) {
            archive->EnterFolderAt(static_cast<int>(key.Index()));
            return;
        }
    }
}

bool CBuilderDlg::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride: {
            // A key typed into a text editor of this window belongs to the
            // editor: accepting the override keeps every accelerator off.
            // The rename editor hands a command's key over instead.
            auto* widget = qobject_cast<QWidget*>(watched);
            if (widget != nullptr && IsTextEditor(widget) && widget->window() == this) {
                if (widget->objectName() == QLatin1String("labelEditor")) {
                    OnEditorShortcut(*static_cast<QKeyEvent*>(event));
                }
                event->accept();
                return true;
            }
            break;
        }
        case QEvent::KeyPress: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (swallowedKey && key->keyCombination() == *swallowedKey) {
                // The key that ended a rename has done its work.
                swallowedKey.reset();
                return true;
            }
            swallowedKey.reset();
            // Keys an editor in the list did not take come up here too; they are
            // the editor's, not the list's.
            if (watched == listView && !IsTextEditor(QApplication::focusWidget())) {
                if (OnListNavigationKey(*key)) {
                    return true;
                }
                // The list acts on the key itself: Shift and Ctrl held (and
                // the keypad's Ins and Del) change nothing; Alt and Meta
                // keys belong to the menus and the desktop.
                const Qt::KeyboardModifiers others =
                    key->modifiers() &
                    ~(Qt::ShiftModifier | Qt::ControlModifier | Qt::KeypadModifier);
                if (others == Qt::NoModifier && OnListKeyDown(key->key())) {
                    return true;
                }
            }
            break;
        }
        case QEvent::ContextMenu:
            // The Menu key as the platform reports it: at the current row,
            // not where the mouse happens to be; once only.
            if (watched == listView &&
                static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
                if (QApplication::activePopupWidget() == nullptr) {
                    OnContextMenu(KeyboardMenuPosition());
                }
                return true;
            }
            break;
        case QEvent::Resize:
            if (watched == client) {
                LayoutControls();
            }
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Start-up and the command line

void CBuilderDlg::OnInitDialog() {
    UpdateCommandStates();
    UpdateStatusTexts();
    RunCommandLine();
    UpdateCommandStates();
    UpdateStatusTexts();
}

void CBuilderDlg::AddPathsToPack(const std::vector<std::string>& paths, CPackFolder* target,
                                 bool dropped) {
    if (archive == nullptr || target == nullptr || paths.empty()) {
        return;
    }
    // Adding may replace entries that selected rows point at; until the list
    // is refilled nothing may read them through the selection.
    for (int row : listControl->SelectedRows()) {
        listControl->SelectRow(row, false);
    }
    cursor->SetWaitCursor(true);
    std::uint32_t total = 0;
    // Dropped items are measured whole, names beginning with a dot counted;
    // anything else as it is read (a folder without those names).
    for (const std::string& path : paths) {
        total += dropped ? PathDiskSize(path)
                         : (fs::IsDirectory(path) ? FolderDiskSize(path) : FileDiskSize(path));
    }
    progressBar->SetRange(0, total);
    progressBar->SetPosition(0);
    // What a folder's walk leaves out is told in one message at the end, not
    // in a box per file; a file added on its own says what befell it at once.
    std::vector<std::string> leftOut;
    for (const std::string& path : paths) {
        if (closeState.requested) {
            break;  // what was added so far is saved below
        }
        if (fs::IsDirectory(path)) {
            windowMessages->collected = &leftOut;
            archive->AddFolder(path, target);
            windowMessages->collected = nullptr;
        } else {
            archive->AddFile(path, target);
        }
    }
    archive->Save();
    archive->RefreshList();
    UpdateCommandStates();
    UpdateStatusTexts();
    progressBar->SetPosition(0);
    cursor->SetWaitCursor(false);
    if (leftOut.size() == 1) {
        messages->ShowMessage(kAppCaption, leftOut.front(), MessageButtons::Ok);
    } else if (!leftOut.empty()) {
        std::string text = WithNames(kFolderItemsNotAddedText, {std::to_string(leftOut.size())});
        for (const std::string& line : leftOut) {
            text += "\n" + line;
        }
        messages->ShowMessage(kAppCaption, text, MessageButtons::Ok);
    }
    ReportCodingFallbacks();
}

void CBuilderDlg::RunCommandLine() {
    if (commandLine == nullptr || commandLine->argCount <= 0) {
        return;
    }
    // The wait window below lets events in: a close asked for meanwhile
    // waits for this work.
    NestedLoopScope loop(closeState);
    ProgressControl* ownBar = progressBar;

    // The wait window: a caption, one smooth bar, no buttons.
    auto* wait = new QDialog(this, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    wait->setObjectName(QStringLiteral("waitWindow"));
    wait->setWindowTitle(QString::fromLatin1(kWaitCaption));
    wait->setFixedSize(276, 36);
    auto* waitBar = new QProgressBar(wait);
    waitBar->setObjectName(QStringLiteral("waitProgress"));
    waitBar->setTextVisible(false);
    waitBar->setAccessibleName(QStringLiteral("Progress"));
    waitBar->setGeometry(9, 8, 258, 20);
    QtProgressControl waitProgress(waitBar);
    waitProgress.SetRange(0, 100);
    waitProgress.SetPosition(0);
    waitWindow = wait;
    wait->show();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    progressBar = &waitProgress;

    // A close asked for meanwhile: nothing more is started.
    CommandLineWork work =
        closeState.requested ? CommandLineWork{} : DecideCommandLineWork(*commandLine);
    std::vector<std::string> paths;
    for (const std::string& path : work.paths) {
        paths.push_back(AbsolutePath(path));
    }
    switch (work.kind) {
        case CommandLineWork::Kind::None:
            break;
        case CommandLineWork::Kind::OpenPack:
            OpenPackPath(paths.front());
            break;
        case CommandLineWork::Kind::NewPackAndAdd:
            OnNewPack();
            if (archive != nullptr) {
                AddPathsToPack(paths, archive->Root());
            }
            break;
    }

    waitWindow = nullptr;
    delete wait;
    if (archive != nullptr) {
        archive->SetProgressControl(ownBar);
    }
    progressBar = ownBar;
    progressBar->SetPosition(0);
}

}  // namespace crateforge
