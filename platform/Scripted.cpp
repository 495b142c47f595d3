// Scripted.cpp - the in-memory platform used by tests.
#include "platform/Scripted.h"

#include <algorithm>

namespace crateforge {

MessageAnswer ScriptedMessages::ShowMessage(std::string_view caption, std::string_view text,
                                            MessageButtons buttons) {
    Call call{std::string(caption), std::string(text), buttons, ClosedAnswer(buttons), false};
    if (!answers_.empty()) {
        call.answer = answers_.front();
        call.expected = true;
        answers_.pop_front();
    }
    calls_.push_back(call);
    return call.answer;
}

int ScriptedMessages::UnexpectedCount() const {
    return static_cast<int>(
        std::count_if(calls_.begin(), calls_.end(), [](const Call& c) { return !c.expected; }));
}

std::vector<std::string> ScriptedMessages::Texts() const {
    std::vector<std::string> out;
    for (const Call& c : calls_)
        out.push_back(c.text);
    return out;
}

RowKey ScriptedRows::KeyAt(int position) const {
    return position < 0 || position >= RowCount() ? RowKey() : rows_[position].key;
}

const ScriptedRows::Row* ScriptedRows::Find(RowKey key) const {
    ++reads_;
    for (const Row& row : rows_)
        if (row.key == key && !key.IsNone())
            return &row;
    return nullptr;
}

std::string_view ScriptedRows::Name(RowKey key) const {
    const Row* row = Find(key);
    return row ? std::string_view(row->name) : std::string_view();
}

std::string ScriptedRows::CellText(RowKey key, int column) const {
    const Row* row = Find(key);
    return row && column >= 1 && column <= 3 ? row->cells[static_cast<std::size_t>(column - 1)]
                                             : std::string();
}

int ScriptedRows::IconIndex(RowKey key) const {
    const Row* row = Find(key);
    return row ? row->icon : 0;
}

void ScriptedList::ShowRows(const ListSource* source) {
    source_ = source;
    rows_.clear();
    if (source == nullptr)
        return;
    const int count = source->RowCount();
    rows_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        Row row;
        row.key = source->KeyAt(i);
        row.texts[0] = std::string(source->Name(row.key));
        for (int column = 1; column <= 3; ++column)
            row.texts[column] = source->CellText(row.key, column);
        row.icon = source->IconIndex(row.key);
        rows_.push_back(std::move(row));
    }
}

void ScriptedList::SortRows(const std::function<int(RowKey, RowKey)>& compare) {
    ++sortCount_;
    std::stable_sort(rows_.begin(), rows_.end(),
                     [&](const Row& a, const Row& b) { return compare(a.key, b.key) < 0; });
}

std::string ScriptedList::RowText(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 0 || column > 3)
        return {};
    return rows_[row].texts[column];
}

RowKey ScriptedList::Key(int row) const {
    return row < 0 || row >= RowCount() ? RowKey() : rows_[row].key;
}

std::vector<int> ScriptedList::SelectedRows() const {
    std::vector<int> out;
    for (int i = 0; i < RowCount(); ++i)
        if (rows_[i].selected)
            out.push_back(i);
    return out;
}

void ScriptedList::SelectRow(int row, bool selected) {
    if (row >= 0 && row < RowCount())
        rows_[row].selected = selected;
}

std::vector<std::string> ScriptedList::Names() const {
    std::vector<std::string> out;
    for (const Row& r : rows_)
        out.push_back(r.texts[0]);
    return out;
}

void ScriptedProgress::SetRange(std::uint32_t low, std::uint32_t high) {
    low_ = low;
    high_ = high;
    ranges_.emplace_back(low, high);
}

void ScriptedProgress::SetPosition(std::uint32_t position) {
    position_ = position;
    positions_.push_back(position);
}

int ScriptedIcons::FileIconIndex(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos)
        return kPlainFileIcon;
    unsigned sum = 0;
    for (char c : fileName.substr(dot + 1))
        sum += static_cast<unsigned char>(c);
    return kPlainFileIcon + 1 + static_cast<int>(sum % 50);
}

std::vector<std::string> ScriptedDialogs::OpenFiles(const OpenFileRequest& request) {
    openRequests_.push_back(request);
    if (openResults_.empty()) {
        ++unexpected_;
        return {};
    }
    std::vector<std::string> out = std::move(openResults_.front());
    openResults_.pop_front();
    return out;
}

std::optional<std::string> ScriptedDialogs::SaveFile(const SaveFileRequest& request) {
    saveRequests_.push_back(request);
    if (saveResults_.empty()) {
        ++unexpected_;
        return std::nullopt;
    }
    std::optional<std::string> out = std::move(saveResults_.front());
    saveResults_.pop_front();
    return out;
}

std::optional<std::string> ScriptedDialogs::BrowseFolder(std::string_view title) {
    browseTitles_.emplace_back(title);
    if (browseResults_.empty()) {
        ++unexpected_;
        return std::nullopt;
    }
    std::optional<std::string> out = std::move(browseResults_.front());
    browseResults_.pop_front();
    return out;
}

}  // namespace crateforge
