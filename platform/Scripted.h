// Scripted.h - test implementations of every interface of Platform.h.
//
// Tests drive the builder's logic (and the builder's windows, for the
// dialogs, messages and shell) without a person and without a desktop:
//
//   ScriptedMessages  answers queued in advance, every box recorded with its
//                     caption, text and buttons; a box for which no answer
//                     was queued is recorded as unexpected and answered with
//                     the "closed" answer (No / Cancel / Ok)
//   ScriptedRows      a ListSource of fixed rows: key, name, three cells,
//                     icon
//   ScriptedList      the rows a source shows, copied when shown: four
//                     texts, icon, key, selection, the label being edited;
//                     SortRows is stable
//   ScriptedProgress  range and every position set, in order
//   ScriptedIcons     fixed folder index, file index by extension
//   ScriptedDialogs   queued results for open-file, save-file and folder
//                     browser dialogs; requests recorded
//   ScriptedShell     ShellOpen calls recorded
//   ScriptedCursor    wait cursor changes recorded
//   ScriptedDrag      drags recorded with their paths; no loop runs
//
// Nothing here is thread-safe; tests use one thread like the desktop does.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace crateforge {

class ScriptedMessages : public MessageService {
  public:
    struct Call {
        std::string caption;
        std::string text;
        MessageButtons buttons;
        MessageAnswer answer;
        bool expected;  // false when no answer had been queued
    };

    // Queues the answer of the next box.
    void Queue(MessageAnswer answer) { answers_.push_back(answer); }
    void Queue(std::initializer_list<MessageAnswer> answers) {
        answers_.insert(answers_.end(), answers.begin(), answers.end());
    }

    MessageAnswer ShowMessage(std::string_view caption, std::string_view text,
                              MessageButtons buttons) override;

    const std::vector<Call>& Calls() const { return calls_; }
    // Number of boxes shown while no answer was queued.
    int UnexpectedCount() const;
    // Answers queued but never used.
    std::size_t PendingAnswers() const { return answers_.size(); }
    // The text of every box, in order.
    std::vector<std::string> Texts() const;
    void Clear() {
        calls_.clear();
        answers_.clear();
    }

  private:
    std::deque<MessageAnswer> answers_;
    std::vector<Call> calls_;
};

class ScriptedRows : public ListSource {
  public:
    struct Row {
        RowKey key;
        std::string name;
        std::array<std::string, 3> cells;  // columns 1, 2 and 3
        int icon = 0;
    };
    explicit ScriptedRows(std::vector<Row> rows) : rows_(std::move(rows)) {}

    int RowCount() const override { return static_cast<int>(rows_.size()); }
    RowKey KeyAt(int position) const override;
    std::string_view Name(RowKey key) const override;
    std::string CellText(RowKey key, int column) const override;
    int IconIndex(RowKey key) const override;
    // Times a row's texts or icon were read.
    int Reads() const { return reads_; }

  private:
    const Row* Find(RowKey key) const;
    std::vector<Row> rows_;
    mutable int reads_ = 0;
};

class ScriptedList : public ListControl {
  public:
    struct Row {
        std::array<std::string, 4> texts;
        int icon = 0;
        RowKey key;
        bool selected = false;
    };

    void ShowRows(const ListSource* source) override;
    const ListSource* Source() const override { return source_; }
    void SortRows(const std::function<int(RowKey, RowKey)>& compare) override;
    int RowCount() const override { return static_cast<int>(rows_.size()); }
    std::string RowText(int row, int column = 0) const override;
    RowKey Key(int row) const override;
    std::vector<int> SelectedRows() const override;
    void SelectRow(int row, bool selected) override;
    void EditLabel(int row) override { editedRow_ = row; }

    const std::vector<Row>& Rows() const { return rows_; }
    // Column 0 texts of every row, top to bottom.
    std::vector<std::string> Names() const;
    // Row last put into label editing, -1 when none.
    int EditedRow() const { return editedRow_; }
    int SortCount() const { return sortCount_; }

  private:
    const ListSource* source_ = nullptr;
    std::vector<Row> rows_;
    int editedRow_ = -1;
    int sortCount_ = 0;
};

class ScriptedProgress : public ProgressControl {
  public:
    void SetRange(std::uint32_t low, std::uint32_t high) override;
    void SetPosition(std::uint32_t position) override;
    std::uint32_t Position() const override { return position_; }

    std::uint32_t Low() const { return low_; }
    std::uint32_t High() const { return high_; }
    // Every position set, in order (SetRange does not add one).
    const std::vector<std::uint32_t>& Positions() const { return positions_; }
    // Every range set, in order.
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& Ranges() const { return ranges_; }
    void ClearLog() {
        positions_.clear();
        ranges_.clear();
    }

  private:
    std::uint32_t low_ = 0, high_ = 100, position_ = 0;
    std::vector<std::uint32_t> positions_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges_;
};

class ScriptedIcons : public IconProvider {
  public:
    static constexpr int kFolderIcon = 3;
    static constexpr int kPlainFileIcon = 7;  // names without an extension
    int FolderIconIndex() override { return kFolderIcon; }
    // kPlainFileIcon + 1 + (sum of the extension's bytes % 50) for names with
    // an extension; equal extensions give equal indexes.
    int FileIconIndex(std::string_view fileName) override;
};

class ScriptedDialogs : public DialogService {
  public:
    void QueueOpenFiles(std::vector<std::string> paths) {
        openResults_.push_back(std::move(paths));
    }
    void QueueSaveFile(std::optional<std::string> path) { saveResults_.push_back(std::move(path)); }
    void QueueBrowseFolder(std::optional<std::string> path) {
        browseResults_.push_back(std::move(path));
    }

    // A dialog with nothing queued is recorded as unexpected and cancelled.
    std::vector<std::string> OpenFiles(const OpenFileRequest& request) override;
    std::optional<std::string> SaveFile(const SaveFileRequest& request) override;
    std::optional<std::string> BrowseFolder(std::string_view title) override;

    const std::vector<OpenFileRequest>& OpenRequests() const { return openRequests_; }
    const std::vector<SaveFileRequest>& SaveRequests() const { return saveRequests_; }
    const std::vector<std::string>& BrowseTitles() const { return browseTitles_; }
    int UnexpectedCount() const { return unexpected_; }
    bool AllUsed() const {
        return openResults_.empty() && saveResults_.empty() && browseResults_.empty();
    }

  private:
    std::deque<std::vector<std::string>> openResults_;
    std::deque<std::optional<std::string>> saveResults_;
    std::deque<std::optional<std::string>> browseResults_;
    std::vector<OpenFileRequest> openRequests_;
    std::vector<SaveFileRequest> saveRequests_;
    std::vector<std::string> browseTitles_;
    int unexpected_ = 0;
};

class ScriptedShell : public ShellService {
  public:
    struct Call {
        std::string target;
        std::string workingDirectory;
    };
    void ShellOpen(std::string_view target, std::string_view workingDirectory) override {
        calls_.push_back({std::string(target), std::string(workingDirectory)});
    }
    const std::vector<Call>& Calls() const { return calls_; }

  private:
    std::vector<Call> calls_;
};

class ScriptedCursor : public CursorService {
  public:
    void SetWaitCursor(bool wait) override { changes_.push_back(wait); }
    // Every change, in order: true for the wait cursor, false for the arrow.
    const std::vector<bool>& Changes() const { return changes_; }
    bool Waiting() const { return !changes_.empty() && changes_.back(); }

  private:
    std::vector<bool> changes_;
};

class ScriptedDrag : public DragService {
  public:
    bool DragPaths(const std::vector<std::string>& paths) override {
        drags_.push_back(paths);
        return !paths.empty();
    }
    // The paths of every drag, in order.
    const std::vector<std::vector<std::string>>& Drags() const { return drags_; }

  private:
    std::vector<std::vector<std::string>> drags_;
};

}  // namespace crateforge
