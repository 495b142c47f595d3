// QtPlatform.cpp - Qt widgets behind the platform seam.
#include "builder/QtPlatform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
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
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringDecoder>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
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

constexpr int kBytesRole = QtListModel::kBytesRole;

QWidget* DialogOwner(QWidget* owner) {
    if (QWidget* modal = QApplication::activeModalWidget()) {
        return modal;
    }
    return owner;
}

}  // namespace

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

}  // namespace

namespace {

void AppendHexByte(QString& text, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    text += QStringLiteral("\\x");
    text += QChar(kHex[byte >> 4]);
    text += QChar(kHex[byte & 0x0F]);
}

}  // namespace

QString DisplayText(std::string_view bytes) {
    QString text;
    std::size_t at = 0;
    while (at < bytes.size()) {
        char32_t code = 0;
        const std::size_t length = Utf8CharAt(bytes, at, code);
        if (length > 0) {
            text += QString::fromUcs4(&code, 1);
            at += length;
        } else {
            AppendHexByte(text, static_cast<unsigned char>(bytes[at++]));
        }
    }
    return text;
}

QString EditText(std::string_view bytes) {
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
            AppendHexByte(text, static_cast<unsigned char>(bytes[at + i]));
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
            HexDigit(utf8[i + 2]) >= 0 && HexDigit(utf8[i + 3]) >= 0) {
            bytes.push_back(static_cast<char>(HexDigit(utf8[i + 2]) * 16 + HexDigit(utf8[i + 3])));
            i += 3;
        } else {
            bytes.push_back(utf8[i]);
        }
    }
    return bytes;
}

bool FileDialogCanShow(std::string_view name) {
    const QByteArray bytes(name.data(), static_cast<qsizetype>(name.size()));
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
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

namespace {

// Lines a message box shows; a longer message scrolls.
constexpr std::ptrdiff_t kBoxLines = 12;

// A message of many lines: its first line above the rest, which scrolls.
void ShowLongMessage(const QString& title, const QString& text, QMessageBox::Icon icon,
                     QWidget* owner) {
    QDialog dialog(owner);
    dialog.setObjectName(QStringLiteral("longMessage"));
    dialog.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dialog);
    auto* top = new QHBoxLayout;
    auto* picture = new QLabel(&dialog);
    const int size = dialog.style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
    picture->setPixmap(dialog.style()
                           ->standardIcon(icon == QMessageBox::Warning
                                              ? QStyle::SP_MessageBoxWarning
                                              : QStyle::SP_MessageBoxInformation)
                           .pixmap(size, size));
    top->addWidget(picture, 0, Qt::AlignTop);
    const qsizetype cut = text.indexOf(u'\n');
    auto* head = new QLabel(text.left(cut).trimmed(), &dialog);
    head->setTextFormat(Qt::PlainText);
    head->setWordWrap(true);
    top->addWidget(head, 1);
    layout->addLayout(top);
    auto* rest = new QPlainTextEdit(text.mid(cut + 1).trimmed(), &dialog);
    rest->setObjectName(QStringLiteral("messageLines"));
    rest->setReadOnly(true);
    rest->setLineWrapMode(QPlainTextEdit::NoWrap);
    rest->setAccessibleName(head->text());
    const QFontMetrics metrics(rest->font());
    rest->setMinimumSize(metrics.averageCharWidth() * 80, metrics.lineSpacing() * kBoxLines);
    layout->addWidget(rest, 1);
    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    QObject::connect(ok, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(ok);
    ok->button(QDialogButtonBox::Ok)->setFocus();
    dialog.exec();
}

}  // namespace

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
    if (buttons == MessageButtons::Ok && std::count(text.begin(), text.end(), '\n') > kBoxLines) {
        ShowLongMessage(title, DisplayText(text), icon, DialogOwner(owner));
        return MessageAnswer::Ok;
    }
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
    // The URIs carry the paths' bytes as they are (see DropFiles.h): a name
    // that is not UTF-8 reaches the receiver unchanged.
    const std::string uriList = FileUriList(paths);
    if (uriList.empty()) {
        return nullptr;
    }
    auto data = std::make_unique<QMimeData>();
    data->setData(QStringLiteral("text/uri-list"),
                  QByteArray(uriList.data(), static_cast<qsizetype>(uriList.size())));
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

void LabelEditDelegate::OnCloseEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    // The editor is deleted later; by then it is no longer the open one.
    if (editor != nullptr) {
        editor->setObjectName(QString());
    }
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

void QtListModel::SetHeading(int column, const QString& text, Qt::Alignment alignment) {
    if (column < 0 || column >= kColumns) {
        return;
    }
    headings[static_cast<std::size_t>(column)] = text;
    alignments[static_cast<std::size_t>(column)] = alignment;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void QtListModel::Show(const ListSource* newSource) {
    beginResetModel();
    source = newSource;
    keys.clear();
    if (source != nullptr) {
        const int count = source->RowCount();
        keys.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            keys.push_back(source->KeyAt(i));
        }
    }
    endResetModel();
}

void QtListModel::Sort(const std::function<int(RowKey, RowKey)>& compare) {
    beginResetModel();
    // Bottom-up merge sort: a row moves ahead of an earlier one only when the
    // comparator puts it strictly first, so equal rows (the folders) keep
    // their order and even an inconsistent comparator cannot make the sort
    // misbehave.
    std::vector<RowKey> buffer(keys.size());
    for (std::size_t width = 1; width < keys.size(); width *= 2) {
        for (std::size_t left = 0; left < keys.size(); left += 2 * width) {
            const std::size_t mid = std::min(left + width, keys.size());
            const std::size_t right = std::min(left + 2 * width, keys.size());
            std::size_t a = left, b = mid, out = left;
            while (a < mid && b < right) {
                buffer[out++] = compare(keys[b], keys[a]) < 0 ? keys[b++] : keys[a++];
            }
            while (a < mid) {
                buffer[out++] = keys[a++];
            }
            while (b < right) {
                buffer[out++] = keys[b++];
            }
        }
        keys.swap(buffer);
    }
    endResetModel();
}

RowKey QtListModel::Key(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= keys.size()) {
        return RowKey();
    }
    return keys[static_cast<std::size_t>(row)];
}

std::string QtListModel::Text(int row, int column) const {
    const RowKey key = Key(row);
    if (source == nullptr || key.IsNone() || column < 0 || column >= kColumns) {
        return {};
    }
    return column == 0 ? std::string(source->Name(key)) : source->CellText(key, column);
}

int QtListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(keys.size());
}

int QtListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant QtListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || source == nullptr) {
        return {};
    }
    const int column = index.column();
    const RowKey key = Key(index.row());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            if (column == 0) {
                return EditText(source->Name(key));
            }
            return QString::fromStdString(source->CellText(key, column));
        case Qt::AccessibleTextRole: {
            // An empty cell (the ".." row's sizes) is still read as something.
            QString text = column == 0 ? EditText(source->Name(key))
                                       : QString::fromStdString(source->CellText(key, column));
            return text.isEmpty() ? QStringLiteral("none") : text;
        }
        case Qt::AccessibleDescriptionRole:
            if (column != 0) {
                return {};
            }
            return key.IsParent()   ? QStringLiteral("the folder above")
                   : key.IsFolder() ? QStringLiteral("folder")
                                    : QStringLiteral("file");
        case kBytesRole: {
            const std::string bytes = Text(index.row(), column);
            return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
        }
        case Qt::DecorationRole:
            if (column == 0 && icons != nullptr) {
                return icons->Icon(source->IconIndex(key));
            }
            return {};
        case Qt::TextAlignmentRole: {
            const bool right = column == 1 || column == 3;
            return QVariant::fromValue((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
        }
        default:
            return {};
    }
}

QVariant QtListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return headings[static_cast<std::size_t>(section)];
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(alignments[static_cast<std::size_t>(section)] |
                                       Qt::AlignVCenter);
        default:
            return {};
    }
}

Qt::ItemFlags QtListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemIsDragEnabled;
}

QtListView::QtListView(QWidget* parent) : QTreeView(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    // One height for every row: the view never measures rows it does not draw.
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
}

void QtListView::startDrag(Qt::DropActions /*actions*/) {
    if (onStartDrag) {
        onStartDrag();
    }
}

QtListControl::QtListControl(QTreeView* view, QtIconProvider* icons)
    : view(view), model(new QtListModel(icons, view)), delegate(new LabelEditDelegate(view)) {
    view->setModel(model);
    view->setItemDelegate(delegate);
}

QtListControl::~QtListControl() {
    if (delegate != nullptr) {
        delegate->SetEndHandler({});
    }
}

void QtListControl::ShowRows(const ListSource* source) {
    model->Show(source);
}

const ListSource* QtListControl::Source() const {
    return model->Source();
}

void QtListControl::SortRows(const std::function<int(RowKey, RowKey)>& compare) {
    model->Sort(compare);
}

int QtListControl::RowCount() const {
    return model->rowCount();
}

std::string QtListControl::RowText(int row, int column) const {
    return model->Text(row, column);
}

RowKey QtListControl::Key(int row) const {
    return model->Key(row);
}

std::vector<int> QtListControl::SelectedRows() const {
    // From the selection's ranges: a select-all of a million rows is one
    // range, not a million indexes.
    std::vector<std::pair<int, int>> spans;
    if (QItemSelectionModel* selection = view->selectionModel()) {
        for (const QItemSelectionRange& range : selection->selection()) {
            if (range.isValid() && range.parent() == QModelIndex()) {
                spans.emplace_back(range.top(), range.bottom());
            }
        }
    }
    std::sort(spans.begin(), spans.end());
    std::vector<int> rows;
    int next = 0;  // first row not yet listed
    for (const auto& [top, bottom] : spans) {
        for (int row = std::max(top, next); row <= bottom; ++row) {
            rows.push_back(row);
        }
        next = std::max(next, bottom + 1);
    }
    return rows;
}

void QtListControl::SelectRow(int row, bool selected) {
    const QModelIndex index = model->index(row, 0);
    if (!index.isValid()) {
        return;
    }
    view->selectionModel()->select(
        index, (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                   QItemSelectionModel::Rows);
    if (selected) {
        view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
}

bool QtListControl::CancelEdit() {
    QWidget* open = view->findChild<QLineEdit*>(QStringLiteral("labelEditor"));
    if (open == nullptr || delegate == nullptr) {
        return false;
    }
    emit delegate->closeEditor(open, QAbstractItemDelegate::RevertModelCache);
    return true;
}

void QtListControl::EditLabel(int row) {
    const QModelIndex index = model->index(row, 0);
    if (!index.isValid()) {
        return;
    }
    // One editor at a time: an edit still open elsewhere is cancelled first.
    CancelEdit();
    view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    view->edit(index);
}

// ---------------------------------------------------------------------------
// Status fields

StatusField::StatusField(QWidget* parent) : QLabel(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setContentsMargins(2, 0, 2, 0);
    setTextFormat(Qt::PlainText);
}

void StatusField::SetText(const QString& text) {
    setText(text);
    UpdateTip();
}

QString StatusField::ShownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

int StatusField::NeededWidth() const {
    const QMargins margins = contentsMargins();
    // One pixel more than the advance: a text exactly as wide as its room
    // may still lose the last pixel of its last glyph.
    return fontMetrics().horizontalAdvance(text()) + 1 + margins.left() + margins.right() +
           2 * frameWidth();
}

void StatusField::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    drawFrame(&painter);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, ShownText());
}

void StatusField::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    UpdateTip();
}

void StatusField::UpdateTip() {
    // The tool tip holds the whole text where the field shows less of it.
    setToolTip(ShownText() == text() ? QString() : text());
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
