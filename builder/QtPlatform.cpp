// QtPlatform.cpp - Qt widgets behind the platform seam.
#include "builder/QtPlatform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDrag>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPainter>
#include <QProgressBar>
#include <QStringDecoder>
#include <QStyle>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <climits>

#include "builder/DropFiles.h"

// The icons are compiled into this static library; nothing else refers to
// them, so they are registered by hand.
static void InitBuilderResourcesOnce() {
    Q_INIT_RESOURCE(icons);
}

namespace crateforge {

void InitBuilderResources() {
    static const bool done = (InitBuilderResourcesOnce(), true);
    (void)done;
}

namespace {

// Each cell keeps the bytes it was given beside its display text.
constexpr int kBytesRole = Qt::UserRole;
constexpr int kEntryRole = Qt::UserRole + 1;
constexpr int kColumns = 4;

QWidget* DialogOwner(QWidget* owner) {
    if (QWidget* modal = QApplication::activeModalWidget()) {
        return modal;
    }
    return owner;
}

}  // namespace

QString DisplayText(std::string_view bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError()) {
        return text;
    }
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

namespace {

// Length and code point of the UTF-8 character at `at`, or 0 when the bytes
// there are no valid (shortest-form, non-surrogate) character.
std::size_t Utf8CharAt(std::string_view bytes, std::size_t at, char32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        code = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        code = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        code = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool IsPrintable(char32_t code) {
    return code >= 0x20 && code != 0x7F && !(code >= 0x80 && code < 0xA0) && code != U'\\';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

QString EditText(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QString text;
    std::size_t at = 0;
    while (at < bytes.size()) {
        char32_t code = 0;
        const std::size_t length = Utf8CharAt(bytes, at, code);
        if (length > 0 && IsPrintable(code)) {
            text += QString::fromUcs4(&code, 1);
            at += length;
            continue;
        }
        // Each byte of a character that cannot be shown as it is.
        const std::size_t count = length > 0 ? length : 1;
        for (std::size_t i = 0; i < count; ++i) {
            const auto byte = static_cast<unsigned char>(bytes[at + i]);
            text += QStringLiteral("\\x");
            text += QChar(kHex[byte >> 4]);
            text += QChar(kHex[byte & 0x0F]);
        }
        at += count;
    }
    return text;
}

std::string NameFromEditText(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(utf8.size()));
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\\' && i + 3 < utf8.size() && utf8[i + 1] == 'x' &&
            HexValue(utf8[i + 2]) >= 0 && HexValue(utf8[i + 3]) >= 0) {
            bytes.push_back(static_cast<char>(HexValue(utf8[i + 2]) * 16 + HexValue(utf8[i + 3])));
            i += 3;
        } else {
            bytes.push_back(utf8[i]);
        }
    }
    return bytes;
}

std::string PathBytes(const QString& path) {
    QByteArray bytes = QFile::encodeName(path);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString PathText(std::string_view path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::vector<FileFilter> ParseFileFilter(std::string_view filter) {
    std::vector<QString> parts;
    std::size_t start = 0;
    while (start < filter.size()) {
        std::size_t bar = filter.find('|', start);
        if (bar == std::string_view::npos) {
            bar = filter.size();
        }
        if (bar == start) {
            break;  // "||" ends the list
        }
        parts.push_back(
            QString::fromUtf8(filter.data() + start, static_cast<qsizetype>(bar - start)));
        start = bar + 1;
    }
    std::vector<FileFilter> result;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        FileFilter choice;
        choice.label = parts[i];
        for (const QString& pattern : parts[i + 1].split(u';', Qt::SkipEmptyParts)) {
            choice.patterns.push_back(pattern.trimmed() == u"*.*" ? QStringLiteral("*")
                                                                  : pattern.trimmed());
        }
        choice.label.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
        result.push_back(choice);
    }
    return result;
}

QStringList QtNameFilters(std::string_view filter) {
    QStringList result;
    for (const FileFilter& choice : ParseFileFilter(filter)) {
        // Qt reads the patterns from the last parentheses of the label.
        QString shown = QStringLiteral("(") + choice.patterns.join(u' ') + QStringLiteral(")");
        if (choice.label.endsWith(shown)) {
            result.push_back(choice.label);
        } else {
            result.push_back(choice.label + u' ' + shown);
        }
    }
    return result;
}

QString WithDefaultExtension(const QString& name, std::string_view defaultExtension) {
    if (defaultExtension.empty() || name.isEmpty()) {
        return name;
    }
    qsizetype slash = name.lastIndexOf(u'/');
    QString last = name.mid(slash + 1);
    if (last.contains(u'.')) {
        return name;
    }
    QString extension =
        QString::fromUtf8(defaultExtension.data(), static_cast<qsizetype>(defaultExtension.size()));
    if (!extension.startsWith(u'.')) {
        extension.prepend(u'.');
    }
    return name + extension;
}

// ---------------------------------------------------------------------------
// Message boxes

MessageAnswer QtMessageService::ShowMessage(std::string_view caption, std::string_view text,
                                            MessageButtons buttons) {
    QMessageBox::StandardButtons standard = QMessageBox::Ok;
    switch (buttons) {
        case MessageButtons::Ok:
            standard = QMessageBox::Ok;
            break;
        case MessageButtons::YesNo:
            standard = QMessageBox::Yes | QMessageBox::No;
            break;
        case MessageButtons::YesNoCancel:
            standard = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            break;
    }
    QString title = DisplayText(caption);
    QMessageBox::Icon icon =
        title == QLatin1String(kWarningCaption) ? QMessageBox::Warning : QMessageBox::Information;
    QMessageBox box(icon, title, DisplayText(text), standard, DialogOwner(owner));
    // Names from a pack are shown as they are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setObjectName(QStringLiteral("messageBox"));
    switch (box.exec()) {
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        case QMessageBox::Cancel:
            return MessageAnswer::Cancel;
        case QMessageBox::Ok:
            return MessageAnswer::Ok;
        default:
            break;
    }
    return ClosedAnswer(buttons);  // closed by the window's frame
}

// ---------------------------------------------------------------------------
// File dialogs

std::vector<std::string> QtDialogService::OpenFiles(const OpenFileRequest& request) {
    QFileDialog dialog(DialogOwner(owner), QStringLiteral("Open"));
    dialog.setObjectName(QStringLiteral("openFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.multiSelect ? QFileDialog::ExistingFiles
                                           : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setNameFilters(QtNameFilters(request.filter));
    std::vector<std::string> chosen;
    if (dialog.exec() != QDialog::Accepted) {
        return chosen;
    }
    for (const QString& file : dialog.selectedFiles()) {
        chosen.push_back(PathBytes(QFileInfo(file).absoluteFilePath()));
    }
    return chosen;
}

std::optional<std::string> QtDialogService::SaveFile(const SaveFileRequest& request) {
    QFileDialog dialog(DialogOwner(owner), QStringLiteral("Save As"));
    dialog.setObjectName(QStringLiteral("saveFileDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(QtNameFilters(request.filter));
    QString extension = QString::fromUtf8(request.defaultExtension.data(),
                                          static_cast<qsizetype>(request.defaultExtension.size()));
    if (extension.startsWith(u'.')) {
        extension.remove(0, 1);
    }
    // The dialog adds the suffix before it asks about an existing file, so
    // the question is about the file that will really be written.
    dialog.setDefaultSuffix(extension);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    if (!request.initialName.empty()) {
        dialog.selectFile(PathText(request.initialName));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    QString file = WithDefaultExtension(dialog.selectedFiles().front(), request.defaultExtension);
    return PathBytes(QFileInfo(file).absoluteFilePath());
}

std::optional<std::string> QtDialogService::BrowseFolder(std::string_view title) {
    QString folder = QFileDialog::getExistingDirectory(DialogOwner(owner), DisplayText(title));
    if (folder.isEmpty()) {
        return std::nullopt;
    }
    return PathBytes(folder);
}

// ---------------------------------------------------------------------------
// Shell and cursor

QUrl QtShellService::TargetUrl(std::string_view target) {
    QString text = PathText(target);
    // A link has a scheme of two or more letters ("https:", "mailto:"); a
    // local path begins with "/" or is relative.
    qsizetype colon = text.indexOf(u':');
    if (colon >= 2 && !text.startsWith(u'/')) {
        bool scheme = true;
        for (qsizetype i = 0; i < colon; ++i) {
            QChar c = text[i];
            if (!(c.isLetterOrNumber() || c == u'+' || c == u'-' || c == u'.')) {
                scheme = false;
                break;
            }
        }
        if (scheme && text[0].isLetter()) {
            return QUrl(text);
        }
    }
    return QUrl::fromLocalFile(QFileInfo(text).absoluteFilePath());
}

void QtShellService::ShellOpen(std::string_view target, std::string_view /*workingDirectory*/) {
    QDesktopServices::openUrl(TargetUrl(target));
}

std::unique_ptr<QMimeData> MakeDragData(const std::vector<std::string>& paths) {
    QList<QUrl> urls;
    for (const std::string& path : paths) {
        if (!path.empty()) {
            urls.push_back(QUrl::fromLocalFile(PathText(path)));
        }
    }
    if (urls.isEmpty()) {
        return nullptr;
    }
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    const std::vector<unsigned char> block = BuildDropFilesBlock(paths);
    data->setData(QString::fromLatin1(kDropFilesMimeType),
                  QByteArray(reinterpret_cast<const char*>(block.data()),
                             static_cast<qsizetype>(block.size())));
    return data;
}

bool QtDragService::DragPaths(const std::vector<std::string>& paths) {
    std::unique_ptr<QMimeData> data = MakeDragData(paths);
    if (data == nullptr || source == nullptr) {
        return false;
    }
    auto* drag = new QDrag(source);
    drag->setMimeData(data.release());
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    drag->deleteLater();
    return true;
}

QtCursorService::~QtCursorService() {
    SetWaitCursor(false);
}

void QtCursorService::SetWaitCursor(bool wait) {
    if (wait == waiting) {
        return;
    }
    waiting = wait;
    if (wait) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

// ---------------------------------------------------------------------------
// Icons

QtIconProvider::QtIconProvider() {
    // Without a desktop session Qt knows no icon theme; the one almost every
    // desktop installs covers the file types.
    if (QIcon::fallbackThemeName().isEmpty() ||
        QIcon::fallbackThemeName() == QLatin1String("hicolor")) {
        QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    }
    QStyle* style = QApplication::style();
    icons.push_back(
        QIcon::fromTheme(QStringLiteral("folder"), style->standardIcon(QStyle::SP_DirIcon)));
    indexByName.emplace(QStringLiteral("folder"), 0);
}

std::string_view QtIconProvider::Extension(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : fileName.substr(dot);
}

QString QtIconProvider::IconNameFor(std::string_view fileName) {
    static const QMimeDatabase database;
    // Only the extension speaks, as it does for the icon itself.
    const std::string probe = "file" + std::string(Extension(fileName));
    return database.mimeTypeForFile(DisplayText(probe), QMimeDatabase::MatchExtension).iconName();
}

int QtIconProvider::FileIconIndex(std::string_view fileName) {
    // The MIME database matches every glob for each name it is asked about,
    // which costs tens of microseconds; a folder of 50,000 files holds a
    // handful of extensions, each asked about once.
    const std::string extension(Extension(fileName));
    auto known = indexByExtension.find(extension);
    if (known != indexByExtension.end()) {
        return known->second;
    }
    static const QMimeDatabase database;
    QMimeType type =
        database.mimeTypeForFile(DisplayText("file" + extension), QMimeDatabase::MatchExtension);
    QString name = type.iconName();
    int index = 0;
    auto found = indexByName.find(name);
    if (found != indexByName.end()) {
        index = found->second;
    } else {
        QStyle* style = QApplication::style();
        QIcon generic =
            QIcon::fromTheme(type.genericIconName(), style->standardIcon(QStyle::SP_FileIcon));
        index = static_cast<int>(icons.size());
        icons.push_back(QIcon::fromTheme(name, generic));
        indexByName.emplace(name, index);
    }
    indexByExtension.emplace(extension, index);
    return index;
}

QIcon QtIconProvider::Icon(int index) const {
    if (index < 0 || index >= static_cast<int>(icons.size())) {
        return QIcon();
    }
    return icons[static_cast<std::size_t>(index)];
}

// ---------------------------------------------------------------------------
// Label editing

QWidget* LabelEditDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (editor != nullptr) {
        editor->setObjectName(QStringLiteral("labelEditor"));
    }
    editRow = index.row();
    committed.reset();
    if (!connected) {
        connected = true;
        connect(this, &QAbstractItemDelegate::closeEditor, this, &LabelEditDelegate::OnCloseEditor);
    }
    return editor;
}

namespace {
constexpr int kCellPadding = 4;
}

void LabelEditDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    // The row's background over the whole cell, the content inside the padding.
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &cell, painter, widget);
    cell.rect.adjust(kCellPadding, 0, -kCellPadding, 0);
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
}

QSize LabelEditDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    return QSize(size.width() + 2 * kCellPadding, size.height());
}

void LabelEditDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        const QByteArray bytes = index.data(kBytesRole).toByteArray();
        line->setText(
            EditText(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void LabelEditDelegate::setModelData(QWidget* editor, QAbstractItemModel* /*model*/,
                                     const QModelIndex& /*index*/) const {
    // The row keeps its text; the handler decides and refills the list.
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        committed = NameFromEditText(line->text());
    }
}

QRect LabelEditDelegate::LabelRect(const QAbstractItemView* view, const QModelIndex& index) const {
    if (view == nullptr || !index.isValid()) {
        return {};
    }
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.rect = view->visualRect(index);
    option.decorationSize = view->iconSize();
    option.features |= QStyleOptionViewItem::HasDisplay;
    initStyleOption(&option, index);
    option.rect.adjust(kCellPadding, 0, -kCellPadding, 0);  // as paint() draws it
    QStyle* style = view->style();
    QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &option, view);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, view) + 1;
    const int width = option.fontMetrics.horizontalAdvance(option.text) + 2 * margin;
    if (text.width() > width) {
        text.setWidth(width);
    }
    return text;
}

void LabelEditDelegate::OnCloseEditor(QWidget* /*editor*/,
                                      QAbstractItemDelegate::EndEditHint hint) {
    int row = editRow;
    std::optional<std::string> text;
    if (hint != QAbstractItemDelegate::RevertModelCache) {
        text = committed;
    }
    editRow = -1;
    committed.reset();
    if (row >= 0 && endHandler) {
        endHandler(row, text);
    }
}

// ---------------------------------------------------------------------------
// List

void QtListView::startDrag(Qt::DropActions /*actions*/) {
    if (onStartDrag) {
        onStartDrag();
    }
}

QtListControl::QtListControl(QTreeWidget* tree, QtIconProvider* icons)
    : tree(tree), icons(icons), delegate(new LabelEditDelegate(tree)) {
    tree->setItemDelegate(delegate);
}

QtListControl::~QtListControl() {
    if (delegate != nullptr) {
        delegate->SetEndHandler({});
    }
}

QTreeWidgetItem* QtListControl::Row(int row) const {
    if (row < 0 || row >= tree->topLevelItemCount()) {
        return nullptr;
    }
    return tree->topLevelItem(row);
}

void QtListControl::DeleteAllRows() {
    tree->clear();
}

namespace {

QTreeWidgetItem* MakeRowItem(std::string_view text, QIcon icon, PackEntry* data) {
    auto* item = new QTreeWidgetItem();
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable |
                   Qt::ItemIsDragEnabled);
    item->setText(0, DisplayText(text));
    item->setData(0, kBytesRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    item->setData(0, kEntryRole, QVariant::fromValue(reinterpret_cast<quintptr>(data)));
    item->setIcon(0, icon);
    for (int column = 1; column < kColumns; ++column) {
        bool right = column == 1 || column == 3;
        item->setTextAlignment(column, (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    return item;
}

void SetItemCell(QTreeWidgetItem* item, int column, std::string_view text) {
    item->setText(column, DisplayText(text));
    item->setData(column, kBytesRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

}  // namespace

void QtListControl::InsertRow(int index, std::string_view text, int iconIndex, PackEntry* data) {
    QTreeWidgetItem* item =
        MakeRowItem(text, icons != nullptr ? icons->Icon(iconIndex) : QIcon(), data);
    index = std::clamp(index, 0, tree->topLevelItemCount());
    tree->insertTopLevelItem(index, item);
}

void QtListControl::InsertRows(int index, const std::vector<ListRow>& rows) {
    // Every item is complete before the tree sees it, and the tree takes
    // them all in one insertion: one model change instead of one per cell.
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const ListRow& row : rows) {
        QTreeWidgetItem* item = MakeRowItem(
            row.text, icons != nullptr ? icons->Icon(row.iconIndex) : QIcon(), row.data);
        for (int column = 1; column < kColumns; ++column) {
            SetItemCell(item, column, row.cells[static_cast<std::size_t>(column - 1)]);
        }
        items.push_back(item);
    }
    index = std::clamp(index, 0, tree->topLevelItemCount());
    tree->insertTopLevelItems(index, items);
}

void QtListControl::SetCellText(int row, int column, std::string_view text) {
    QTreeWidgetItem* item = Row(row);
    if (item == nullptr || column < 0 || column >= kColumns) {
        return;
    }
    SetItemCell(item, column, text);
}

void QtListControl::SortRows(
    const std::function<int(const PackEntry*, const PackEntry*)>& compare) {
    std::vector<QTreeWidgetItem*> rows;
    while (tree->topLevelItemCount() > 0) {
        rows.push_back(tree->takeTopLevelItem(0));
    }
    auto data = [](QTreeWidgetItem* item) {
        return reinterpret_cast<PackEntry*>(item->data(0, kEntryRole).value<quintptr>());
    };
    // Bottom-up merge sort: a row moves ahead of an earlier one only when the
    // comparator puts it strictly first, so equal rows keep their order and
    // even an inconsistent comparator cannot make the sort misbehave.
    std::vector<QTreeWidgetItem*> buffer(rows.size());
    for (std::size_t width = 1; width < rows.size(); width *= 2) {
        for (std::size_t left = 0; left < rows.size(); left += 2 * width) {
            std::size_t mid = std::min(left + width, rows.size());
            std::size_t right = std::min(left + 2 * width, rows.size());
            std::size_t a = left, b = mid, out = left;
            while (a < mid && b < right) {
                if (compare(data(rows[b]), data(rows[a])) < 0) {
                    buffer[out++] = rows[b++];
                } else {
                    buffer[out++] = rows[a++];
                }
            }
            while (a < mid) {
                buffer[out++] = rows[a++];
            }
            while (b < right) {
                buffer[out++] = rows[b++];
            }
        }
        rows.swap(buffer);
    }
    QList<QTreeWidgetItem*> items(rows.begin(), rows.end());
    tree->addTopLevelItems(items);
}

int QtListControl::RowCount() const {
    return tree->topLevelItemCount();
}

std::string QtListControl::RowText(int row, int column) const {
    QTreeWidgetItem* item = Row(row);
    if (item == nullptr || column < 0 || column >= kColumns) {
        return {};
    }
    QByteArray bytes = item->data(column, kBytesRole).toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

PackEntry* QtListControl::RowData(int row) const {
    QTreeWidgetItem* item = Row(row);
    if (item == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<PackEntry*>(item->data(0, kEntryRole).value<quintptr>());
}

std::vector<int> QtListControl::SelectedRows() const {
    std::vector<int> rows;
    for (int row = 0; row < tree->topLevelItemCount(); ++row) {
        if (tree->topLevelItem(row)->isSelected()) {
            rows.push_back(row);
        }
    }
    return rows;
}

void QtListControl::SelectRow(int row, bool selected) {
    if (QTreeWidgetItem* item = Row(row)) {
        item->setSelected(selected);
        if (selected) {
            tree->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        }
    }
}

void QtListControl::EditLabel(int row) {
    QTreeWidgetItem* item = Row(row);
    if (item == nullptr) {
        return;
    }
    // One editor at a time: an edit still open elsewhere is cancelled first.
    if (QWidget* open = tree->findChild<QLineEdit*>(QStringLiteral("labelEditor"))) {
        emit delegate->closeEditor(open, QAbstractItemDelegate::RevertModelCache);
    }
    tree->setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
    tree->editItem(item, 0);
}

// ---------------------------------------------------------------------------
// Progress bar

void QtProgressControl::SetRange(std::uint32_t newLow, std::uint32_t newHigh) {
    low = newLow;
    high = newHigh;
    Apply();
}

void QtProgressControl::SetPosition(std::uint32_t newPosition) {
    position = newPosition;
    Apply();
}

void QtProgressControl::Apply() {
    if (bar == nullptr) {
        return;
    }
    std::uint32_t span = high > low ? high - low : 0;
    shift = 0;
    while ((span >> shift) > static_cast<std::uint32_t>(INT_MAX)) {
        ++shift;
    }
    // An empty range would turn the bar into a busy indicator; show it empty.
    int maximum = span == 0 ? 1 : static_cast<int>(span >> shift);
    std::uint32_t clamped = std::clamp(position, low, std::max(low, high));
    int value = static_cast<int>((clamped - low) >> shift);
    if (bar->maximum() != maximum || bar->minimum() != 0) {
        bar->setRange(0, maximum);
    }
    bar->setValue(std::min(value, maximum));
}

}  // namespace crateforge
