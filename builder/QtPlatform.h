// QtPlatform.h - the desktop services of platform/Platform.h on Qt widgets.
//
// The main window hands these to the archive model and uses them itself, so
// the model never sees a widget. Tests swap the message, dialog, shell and
// cursor services for the scripted ones; the list and the progress bar are
// always the real widgets below.
//
// Text: names in a pack are bytes. The list shows a name losslessly, in the
// form the rename editor uses (EditText): what is not valid, printable UTF-8
// appears as "\xNN", and an unchanged text gives back exactly the stored
// bytes. Messages and titles show valid UTF-8 as it is and each byte that
// is not part of a valid character as "\xNN" (DisplayText).
// Paths cross the seam in the local 8-bit encoding (QFile::encodeName).
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QString>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

class QMimeData;
class QWidget;

namespace crateforge {

// Registers the program's own icons (":/icons/..."); safe to call often.
void InitBuilderResources();

// Display text of bytes from a pack or the disk (see the header comment).
QString DisplayText(std::string_view bytes);
// The rename editor's text of a name: valid UTF-8 as it is, and each byte
// that is not part of a printable UTF-8 character (invalid sequences,
// control bytes) or is a backslash written as "\x" and two upper-case hex
// digits. A name never holds a backslash, so the form cannot be mistaken
// for a name, and NameFromEditText(EditText(b)) == b for all bytes b.
QString EditText(std::string_view bytes);
// The bytes of an edited name: each "\x" with two hex digits (either case)
// becomes that byte, everything else its UTF-8. A backslash in any other
// form stays one (and the pack refuses it as a name).
std::string NameFromEditText(const QString& text);
// Whether Qt's file dialogs can show a file of this name: Qt leaves out
// names that do not decode (not valid UTF-8), so they cannot be chosen there.
bool FileDialogCanShow(std::string_view name);
// Disk path <-> the bytes the archive works with.
std::string PathBytes(const QString& path);
QString PathText(std::string_view path);

// What a drag of `paths` carries: the text/uri-list every file manager
// reads, and the dropped-files block (builder/DropFiles.h). Null when no
// path is left (empty ones are left out).
std::unique_ptr<QMimeData> MakeDragData(const std::vector<std::string>& paths);

// One choice of a file dialog: what the user sees and the patterns it means.
struct FileFilter {
    QString label;
    QStringList patterns;
};
// Splits a filter "Label (*.a)|*.a|Other (*.b)|*.b||" into its choices. A
// pattern list "p1;p2" gives two patterns. "*.*" means every file, which on
// this platform is "*" (a name without a dot has no match for "*.*"), and a
// label that shows "(*.*)" shows "(*)" instead.
std::vector<FileFilter> ParseFileFilter(std::string_view filter);
// The same as Qt name filters ("Label (*.a)"), in order.
QStringList QtNameFilters(std::string_view filter);
// The name a save dialog ends with: `name` unchanged when its last component
// has an extension, else `name` + `defaultExtension` (".VPF" -> "x.VPF").
QString WithDefaultExtension(const QString& name, std::string_view defaultExtension);

// Message boxes owned by the window given (or by the modal dialog in front
// of it). Caption "Warning" gets the warning icon, others the information
// icon. Closing a box answers as the interface says.
class QtMessageService : public MessageService {
  public:
    explicit QtMessageService(QWidget* owner) : owner(owner) {}
    MessageAnswer ShowMessage(std::string_view caption, std::string_view text,
                              MessageButtons buttons) override;

  private:
    QPointer<QWidget> owner;
};

// QFileDialog and the folder browser.
class QtDialogService : public DialogService {
  public:
    explicit QtDialogService(QWidget* owner) : owner(owner) {}
    std::vector<std::string> OpenFiles(const OpenFileRequest& request) override;
    std::optional<std::string> SaveFile(const SaveFileRequest& request) override;
    std::optional<std::string> BrowseFolder(std::string_view title) override;

  private:
    QPointer<QWidget> owner;
};

// QDesktopServices: links ("scheme:...") as URLs, everything else as a local
// path. The working directory has no meaning for a desktop launcher and is
// not used.
class QtShellService : public ShellService {
  public:
    void ShellOpen(std::string_view target, std::string_view workingDirectory) override;
    // How a target is handed to the desktop (exposed for tests).
    static QUrl TargetUrl(std::string_view target);
};

// QDrag from the list, copy and move allowed, copy proposed.
class QtDragService : public DragService {
  public:
    explicit QtDragService(QWidget* source) : source(source) {}
    bool DragPaths(const std::vector<std::string>& paths) override;

  private:
    QPointer<QWidget> source;
};

// The application's override cursor. Nested "on" calls do not stack, so one
// "off" always brings the arrow back.
class QtCursorService : public CursorService {
  public:
    ~QtCursorService() override;
    void SetWaitCursor(bool wait) override;

  private:
    bool waiting = false;
};

// Small icons by file type from the desktop's icon theme, looked up by the
// name's extension alone (from its last ".", letter case kept; the disk is
// not read), through the MIME database, with the style's generic icons where
// the theme has none. Each extension is looked up once. Index 0 is the
// folder icon; every other icon gets the next index the first time its type
// is seen, so extensions of one type share an index.
class QtIconProvider : public IconProvider {
  public:
    QtIconProvider();
    int FolderIconIndex() override { return 0; }
    int FileIconIndex(std::string_view fileName) override;
    QIcon Icon(int index) const;
    int IconCount() const { return static_cast<int>(icons.size()); }
    // The theme icon name chosen for a file name (for tests).
    static QString IconNameFor(std::string_view fileName);
    // The part of a name that chooses its icon: from the last "." on, the
    // dot included; empty when there is none.
    static std::string_view Extension(std::string_view fileName);

  private:
    std::vector<QIcon> icons;
    std::map<QString, int> indexByName;
    std::map<std::string, int, std::less<>> indexByExtension;
};

// Label editing: the editor shows EditText of the row's bytes, and its text
// (NameFromEditText) is handed to a handler instead of being written into
// the row, which the handler refills from the pack when it accepts the
// name. Escape hands over no text.
class LabelEditDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    using EndHandler = std::function<void(int row, const std::optional<std::string>& text)>;
    explicit LabelEditDelegate(QObject* parent) : QStyledItemDelegate(parent) {}
    void SetEndHandler(EndHandler handler) { endHandler = std::move(handler); }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    // Cells keep a few pixels from their neighbours, so a right-aligned size
    // and the left-aligned ratio beside it do not run together.
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    // Where the text of a cell of `view` is drawn, in viewport coordinates:
    // the label that a click starts a rename on (not the icon, not the
    // empty rest of the cell).
    QRect LabelRect(const QAbstractItemView* view, const QModelIndex& index) const;

  private:
    void OnCloseEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint);

    EndHandler endHandler;
    mutable int editRow = -1;
    mutable std::optional<std::string> committed;
    mutable bool connected = false;
};

// The rows of the main window's list as a Qt model: four columns over a
// ListSource, one RowKey per row in the order shown and nothing else; every
// text, icon and alignment is made when the view asks for it, for the rows
// it draws. Column 0 shows the name in the form the rename editor uses
// (EditText), so what is shown is what is edited; role kBytesRole gives the
// stored bytes. Show and Sort reset the model: selection and current row end.
class QtListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kBytesRole = Qt::UserRole;
    static constexpr int kColumns = 4;

    QtListModel(QtIconProvider* icons, QObject* parent)
        : QAbstractTableModel(parent), icons(icons) {}
    void SetHeading(int column, const QString& text, Qt::Alignment alignment);
    void Show(const ListSource* source);
    void Sort(const std::function<int(RowKey, RowKey)>& compare);
    const ListSource* Source() const { return source; }
    RowKey Key(int row) const;
    // Column 0: the name's bytes; columns 1 to 3: the size texts.
    std::string Text(int row, int column) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    QtIconProvider* icons;
    const ListSource* source = nullptr;
    std::vector<RowKey> keys;  // the rows, in the order shown
    std::array<QString, kColumns> headings;
    std::array<Qt::Alignment, kColumns> alignments{};
};

// The main window's list: a flat view of fixed-height rows. Qt's own mouse
// handling decides when a drag starts: a press on a row that is already
// selected keeps the whole selection (a plain click would narrow it on
// release), and a move past the drag distance calls startDrag, which hands
// over to `onStartDrag`. The rows offer themselves for dragging
// (Qt::ItemIsDragEnabled).
class QtListView : public QTreeView {
  public:
    explicit QtListView(QWidget* parent);
    std::function<void()> onStartDrag;

  protected:
    void startDrag(Qt::DropActions actions) override;
};

// The report list of one folder on a QtListModel shown by a QTreeView.
class QtListControl : public ListControl {
  public:
    // Sets a QtListModel on `view` (which it owns) and the label delegate.
    QtListControl(QTreeView* view, QtIconProvider* icons);
    // An editor still open closes when its view goes; by then nobody may be
    // left to hear about it, so the handler is dropped first.
    ~QtListControl() override;
    void ShowRows(const ListSource* source) override;
    const ListSource* Source() const override;
    void SortRows(const std::function<int(RowKey, RowKey)>& compare) override;
    int RowCount() const override;
    std::string RowText(int row, int column = 0) const override;
    RowKey Key(int row) const override;
    std::vector<int> SelectedRows() const override;
    void SelectRow(int row, bool selected) override;
    void EditLabel(int row) override;
    // Closes an open label editor as Escape does (no text is handed over);
    // false when none was open.
    bool CancelEdit();

    QTreeView* View() const { return view; }
    QtListModel* Model() const { return model; }
    LabelEditDelegate* Delegate() const { return delegate.data(); }

  private:
    QTreeView* view;
    QtListModel* model;
    QPointer<LabelEditDelegate> delegate;
};

// A status field of the main window: a sunken one-line label that never
// cuts its text. text() is always the whole text, which screen readers get;
// where the field is too narrow for it, the field shows the text shortened
// with "…" and the whole text in its tool tip.
class StatusField : public QLabel {
    Q_OBJECT
  public:
    explicit StatusField(QWidget* parent);
    void SetText(const QString& text);
    // The text as drawn at the field's present width.
    QString ShownText() const;
    // The width the whole text needs, frame and margins included.
    int NeededWidth() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void UpdateTip();
};

// A QProgressBar with the interface's 32-bit unsigned range. QProgressBar
// counts in int, so a span above INT_MAX is shifted right until it fits and
// the position is shifted alike; Position() still returns the exact value set.
class QtProgressControl : public ProgressControl {
  public:
    explicit QtProgressControl(QProgressBar* bar) : bar(bar) {}
    void SetRange(std::uint32_t low, std::uint32_t high) override;
    void SetPosition(std::uint32_t position) override;
    std::uint32_t Position() const override { return position; }

    std::uint32_t Low() const { return low; }
    std::uint32_t High() const { return high; }
    QProgressBar* Bar() const { return bar; }

  private:
    void Apply();

    QPointer<QProgressBar> bar;
    std::uint32_t low = 0;
    std::uint32_t high = 100;
    std::uint32_t position = 0;
    int shift = 0;
};

}  // namespace crateforge
