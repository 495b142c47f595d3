// Platform.h - the seam between the builder's logic and the desktop.
//
// The archive model (archive/) never talks to a toolkit. Everything it needs
// from the desktop goes through the small interfaces below; builder/ provides
// them with Qt widgets, platform/Scripted.h provides them for tests (queued
// answers, recorded calls), and the command-line tool provides console ones.
//
// What each platform must provide:
//   MessageService   modal message boxes: caption, text, buttons -> answer
//   ListControl      the report list of one folder: rows of four texts, an
//                    icon index, row data (the file's PackEntry or none),
//                    selection, label editing, a stable sort by comparator;
//                    a whole listing inserted in one batch (InsertRows), so
//                    a folder of 50,000 files is one update, not 50,000
//   ProgressControl  a bar with a 32-bit range and position
//   IconProvider     small-icon indexes: one for folders, one per file type
//   DialogService    open-file (one or several), save-file, folder browser
//   ShellService     open a file or link with the desktop's program for it
//   CursorService    wait cursor on and off around long commands
//   DragService      drag files out to other programs: a list of paths
//                    offered for copy or move, in a loop of its own
//
// File-system pieces that are the same on every POSIX desktop (directory
// listing, attributes, temporary directories) are plain functions in
// platform/FileSystem.h.
//
// All calls happen on the user-interface thread. No interface owns what it
// is given; row data stays owned by the archive's folder tree.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace crateforge {

struct PackEntry;  // the builder's record of one stored file (archive/)

// Captions of the builder's message boxes: questions and warnings carry
// "Warning", every other message the application's name.
inline constexpr char kWarningCaption[] = "Warning";
inline constexpr char kAppCaption[] = "Crateforge";

enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel };

// The answer of a box closed by its frame instead of a button.
constexpr MessageAnswer ClosedAnswer(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::Ok:
            return MessageAnswer::Ok;
        case MessageButtons::YesNo:
            return MessageAnswer::No;
        case MessageButtons::YesNoCancel:
            return MessageAnswer::Cancel;
    }
    return MessageAnswer::Cancel;
}

// A pattern with each "%s" replaced, in order, by the next value; the
// values are never searched for patterns themselves.
inline std::string WithNames(std::string_view pattern,
                             std::initializer_list<std::string_view> values) {
    std::string text;
    auto value = values.begin();
    std::size_t at = 0;
    for (;;) {
        const std::size_t mark = pattern.find("%s", at);
        if (mark == std::string_view::npos || value == values.end()) {
            text.append(pattern.substr(at));
            return text;
        }
        text.append(pattern.substr(at, mark - at));
        text.append(*value++);
        at = mark + 2;
    }
}

// A message pattern with its "%s" replaced by a name (the names come from
// packs and disks, so they are never used as a printf format).
inline std::string WithName(std::string_view pattern, std::string_view name) {
    return WithNames(pattern, {name});
}

class MessageService {
  public:
    virtual ~MessageService() = default;
    // Shows a modal box owned by the main window (or the open dialog) and
    // returns the button chosen. Closing the box counts as No for YesNo, as
    // Cancel for YesNoCancel and as Ok for Ok.
    virtual MessageAnswer ShowMessage(std::string_view caption, std::string_view text,
                                      MessageButtons buttons) = 0;
};

// One row of a listing, complete: what InsertRow and three SetCellText
// calls would give it.
struct ListRow {
    std::string text;  // column 0
    int iconIndex = 0;
    PackEntry* data = nullptr;
    std::array<std::string, 3> cells;  // columns 1, 2 and 3
};

class ListControl {
  public:
    virtual ~ListControl() = default;
    virtual void DeleteAllRows() = 0;
    // Inserts a row at `index` (0 .. RowCount()) with its column 0 text, its
    // small-icon index and its row data (null for folder rows and "..").
    virtual void InsertRow(int index, std::string_view text, int iconIndex, PackEntry* data) = 0;
    // Sets the text of column 1, 2 or 3 of a row.
    virtual void SetCellText(int row, int column, std::string_view text) = 0;
    // Inserts `rows` at `index` (0 .. RowCount()) in their order, as one
    // change of the list. The same rows as InsertRow and SetCellText one by
    // one, which is what this default does; a list that redraws or signals
    // per change inserts them at once instead.
    virtual void InsertRows(int index, const std::vector<ListRow>& rows) {
        for (const ListRow& row : rows) {
            InsertRow(index, row.text, row.iconIndex, row.data);
            for (int column = 1; column <= 3; ++column)
                SetCellText(index, column, row.cells[static_cast<std::size_t>(column - 1)]);
            ++index;
        }
    }
    // Reorders the rows with `compare(a, b)` on their row data (< 0: a first).
    // The sort is stable, so rows the comparator calls equal keep their order.
    virtual void SortRows(
        const std::function<int(const PackEntry*, const PackEntry*)>& compare) = 0;

    virtual int RowCount() const = 0;
    virtual std::string RowText(int row, int column = 0) const = 0;
    virtual PackEntry* RowData(int row) const = 0;
    // Selected rows, in list order (top to bottom).
    virtual std::vector<int> SelectedRows() const = 0;
    virtual void SelectRow(int row, bool selected) = 0;
    // Opens the in-place label editor on a row; at most one is open at a time.
    virtual void EditLabel(int row) = 0;
};

class ProgressControl {
  public:
    virtual ~ProgressControl() = default;
    virtual void SetRange(std::uint32_t low, std::uint32_t high) = 0;
    virtual void SetPosition(std::uint32_t position) = 0;
    virtual std::uint32_t Position() const = 0;
};

class IconProvider {
  public:
    virtual ~IconProvider() = default;
    virtual int FolderIconIndex() = 0;
    // The icon of a file type, chosen by the name alone (the disk is not read).
    virtual int FileIconIndex(std::string_view fileName) = 0;
};

// A filter string in the form "Label (*.ext)|*.ext|Other (*.x)|*.x||".
struct OpenFileRequest {
    std::string filter;
    bool multiSelect = false;
};

struct SaveFileRequest {
    std::string filter;
    std::string defaultExtension;  // ".VPF": added when the name has no extension
    std::string initialName;       // "Untitled"
    bool confirmOverwrite = true;
};

class DialogService {
  public:
    virtual ~DialogService() = default;
    // Full paths chosen, in the dialog's order; empty when cancelled.
    virtual std::vector<std::string> OpenFiles(const OpenFileRequest& request) = 0;
    // The full path chosen, or nothing when cancelled.
    virtual std::optional<std::string> SaveFile(const SaveFileRequest& request) = 0;
    // A file-system folder, or nothing when cancelled. Title "Select Folder".
    virtual std::optional<std::string> BrowseFolder(std::string_view title) = 0;
};

class ShellService {
  public:
    virtual ~ShellService() = default;
    // Opens a path or a link ("https://...", "mailto:...") with the desktop's
    // program for it. The result is not reported.
    virtual void ShellOpen(std::string_view target, std::string_view workingDirectory) = 0;
};

class CursorService {
  public:
    virtual ~CursorService() = default;
    virtual void SetWaitCursor(bool wait) = 0;
};

class DragService {
  public:
    virtual ~DragService() = default;
    // Offers the files and folders at `paths` (complete on disk, in this
    // order) to whatever the user drops them on, allowing copy and move;
    // returns when the drop is done or cancelled. False when no drag could
    // be started (nothing to offer).
    virtual bool DragPaths(const std::vector<std::string>& paths) = 0;
};

}  // namespace crateforge
