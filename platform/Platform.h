// Platform.h - the seam between the builder's logic and the desktop.
//
// The archive model (archive/) never talks to a toolkit. Everything it needs
// from the desktop goes through the small interfaces below; builder/ provides
// them with Qt widgets, platform/Scripted.h provides them for tests (queued
// answers, recorded calls), and the command-line tool provides console ones.
//
// What each platform must provide:
//   MessageService   modal message boxes: caption, text, buttons -> answer
//   ListControl      the report list of one folder: it shows what a
//                    ListSource says (four texts and an icon per row, read
//                    when drawn) under an opaque RowKey per row (file i,
//                    subfolder i or ".."), with selection, label editing and
//                    a stable sort of the keys by comparator
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
// is given.
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

// The identity of one row of a folder's listing, whatever its place on
// screen: the ".." row, subfolder i or file i of the shown folder. The list
// keeps it for the archive and the commands; only they read it. A key stays
// valid until the folder changes, and every change refills the list.
class RowKey {
  public:
    constexpr RowKey() = default;  // no row
    static constexpr RowKey Parent() { return RowKey(kParent); }
    static constexpr RowKey Folder(std::uint32_t index) { return RowKey(kFolder | Low(index)); }
    static constexpr RowKey File(std::uint32_t index) { return RowKey(kFile | Low(index)); }

    constexpr bool IsNone() const { return (bits_ & kKindMask) == 0; }
    constexpr bool IsParent() const { return (bits_ & kKindMask) == kParent; }
    constexpr bool IsFolder() const { return (bits_ & kKindMask) == kFolder; }
    constexpr bool IsFile() const { return (bits_ & kKindMask) == kFile; }
    // The subfolder's or file's position in the folder (0 for the others).
    constexpr std::uint32_t Index() const { return bits_ & kIndexMask; }

    friend constexpr bool operator==(RowKey a, RowKey b) { return a.bits_ == b.bits_; }

  private:
    static constexpr std::uint32_t kKindMask = 0xC0000000u;
    static constexpr std::uint32_t kIndexMask = ~kKindMask;
    static constexpr std::uint32_t kParent = 0x40000000u;
    static constexpr std::uint32_t kFolder = 0x80000000u;
    static constexpr std::uint32_t kFile = 0xC0000000u;
    // A pack holds far fewer than 2^30 entries in one folder (each takes
    // 273 bytes of a file below 4 GiB).
    static constexpr std::uint32_t Low(std::uint32_t index) { return index & kIndexMask; }
    explicit constexpr RowKey(std::uint32_t bits) : bits_(bits) {}
    std::uint32_t bits_ = 0;
};

// What a list shows, read row by row when it is drawn: the rows of the
// listing in their order, and the texts and icon of each. The list holds no
// copy of them, so a folder of a million files costs the list a key each.
class ListSource {
  public:
    virtual ~ListSource() = default;
    virtual int RowCount() const = 0;
    // The key of the row at `position` of the listing (0 .. RowCount()-1).
    virtual RowKey KeyAt(int position) const = 0;
    // Column 0: the name as stored (bytes); empty for a key the folder no
    // longer holds.
    virtual std::string_view Name(RowKey key) const = 0;
    // Columns 1, 2 and 3: original size, ratio, packed size.
    virtual std::string CellText(RowKey key, int column) const = 0;
    virtual int IconIndex(RowKey key) const = 0;
};

class ListControl {
  public:
    virtual ~ListControl() = default;
    // Shows every row of `source` in its listing order, as one change of the
    // list; null shows none. The selection and any label edit end. The list
    // reads the source while it shows its rows: a source goes away only
    // after it has been replaced or cleared here.
    virtual void ShowRows(const ListSource* source) = 0;
    void DeleteAllRows() { ShowRows(nullptr); }
    virtual const ListSource* Source() const = 0;
    // Reorders the rows with `compare(a, b)` on their keys (< 0: a first).
    // The sort is stable, so rows the comparator calls equal keep their order.
    virtual void SortRows(const std::function<int(RowKey, RowKey)>& compare) = 0;

    virtual int RowCount() const = 0;
    // Column 0 gives the name's bytes, columns 1-3 the size texts; "" outside.
    virtual std::string RowText(int row, int column = 0) const = 0;
    // The row's key; no row (IsNone) outside.
    virtual RowKey Key(int row) const = 0;
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
