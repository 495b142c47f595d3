// ExtractDialog.cpp - the Extract dialog: its widgets and the extraction.
#include "builder/ExtractDialog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "archive/EntryData.h"
#include "archive/PackEntry.h"
#include "archive/PackFolder.h"
#include "builder/DialogUnits.h"
#include "builder/QtPlatform.h"
#include "format/Names.h"
#include "platform/FileSystem.h"

namespace crateforge {

namespace {

// The template's size and control rectangles, in dialog units.
constexpr int kDialogWidth = 232;
constexpr int kDialogHeight = 76;
constexpr UnitRect kDestinationRect{6, 6, 204, 12};
constexpr UnitRect kBrowseRect{210, 6, 18, 12};
constexpr UnitRect kExtractAllRect{6, 24, 108, 12};
constexpr UnitRect kExtractSelectedRect{6, 36, 108, 12};
constexpr UnitRect kOverwriteRect{144, 24, 84, 12};
constexpr UnitRect kOkRect{6, 54, 50, 14};
constexpr UnitRect kCancelRect{174, 54, 50, 14};

// Listed names that cannot be written, at most, in the one message.
constexpr std::size_t kNamesListed = 5;

// Whether the target counts as present: a file of that name in the folder
// that can be opened for reading. A directory of that name does not
// (writing there fails later, with the message).
bool ExistsForReading(int directory, const std::string& name) {
    const int fd = openat(directory, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st;
    const bool file = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close(fd);
    return file;
}

std::string JoinComponents(const std::vector<std::string>& components) {
    std::string out;
    for (const std::string& c : components) {
        out += out.empty() ? "" : "/";
        out += c;
    }
    return out;
}

}  // namespace

CExtractDialog::CExtractDialog(MessageService* messages, DialogService* dialogs,
                               CursorService* cursor, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      messages(messages),
      dialogs(dialogs),
      cursor(cursor) {
    setObjectName(QStringLiteral("extractDialog"));
    setWindowTitle(QString::fromLatin1(kExtractCaption));
    setModal(true);

    destinationEdit = new QLineEdit(this);
    destinationEdit->setObjectName(QStringLiteral("destinationEdit"));
    destinationEdit->setAccessibleName(QStringLiteral("Destination folder"));

    browseButton = new QPushButton(QStringLiteral(".."), this);
    browseButton->setObjectName(QStringLiteral("browseButton"));
    browseButton->setAccessibleName(QStringLiteral("Browse for the destination folder"));
    browseButton->setAutoDefault(false);

    extractAllRadio = new QRadioButton(QString::fromLatin1(kExtractAllText), this);
    extractAllRadio->setObjectName(QStringLiteral("extractAllRadio"));

    extractSelectedRadio = new QRadioButton(QString::fromLatin1(kExtractSelectedText), this);
    extractSelectedRadio->setObjectName(QStringLiteral("extractSelectedRadio"));

    overwriteCheck = new QCheckBox(QString::fromLatin1(kOverwriteText), this);
    overwriteCheck->setObjectName(QStringLiteral("overwriteCheck"));

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setAccessibleDescription(QStringLiteral("Extract, then close"));
    okButton->setDefault(true);

    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAccessibleDescription(QStringLiteral("Close without extracting"));
    cancelButton->setAutoDefault(false);

    // Every text must fit its control; then the template's rectangles.
    DialogUnits units(font());
    const std::pair<QWidget*, UnitRect> placed[] = {
        {destinationEdit, kDestinationRect}, {browseButton, kBrowseRect},
        {extractAllRadio, kExtractAllRect},  {extractSelectedRadio, kExtractSelectedRect},
        {overwriteCheck, kOverwriteRect},    {okButton, kOkRect},
        {cancelButton, kCancelRect},
    };
    for (const auto& [widget, rect] : placed) {
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            // The text and a little room; the style's minimum button width
            // does not matter for a ".." button.
            units.Fit(button->fontMetrics().horizontalAdvance(button->text()) + 12, rect.width);
        } else if (widget != destinationEdit) {
            units.Fit(widget->sizeHint().width(), rect.width);
        }
    }
    for (const auto& [widget, rect] : placed) {
        widget->setGeometry(units.Pixels(rect));
    }
    setFixedSize(units.X(kDialogWidth), units.Y(kDialogHeight));

    connect(browseButton, &QPushButton::clicked, this, &CExtractDialog::OnBrowse);
    connect(extractAllRadio, &QRadioButton::clicked, this, &CExtractDialog::OnExtractAll);
    connect(extractSelectedRadio, &QRadioButton::clicked, this, &CExtractDialog::OnExtractSelected);
    connect(overwriteCheck, &QCheckBox::clicked, this, &CExtractDialog::OnOverwriteToggle);
    connect(okButton, &QPushButton::clicked, this, &CExtractDialog::OnOK);
    connect(cancelButton, &QPushButton::clicked, this, &CExtractDialog::OnCancel);
}

CExtractDialog::~CExtractDialog() = default;

int CExtractDialog::RunModal() {
    OnInitDialog();
    return exec();
}

void CExtractDialog::OnInitDialog() {
    destinationFolder = PathBytes(QDir::currentPath());
    destinationEdit->setText(PathText(destinationFolder));
    overwriteCheck->setChecked(false);
    overwriteWithoutAsking = false;
    const bool selection = listControl != nullptr && !listControl->SelectedRows().empty();
    mode = selection ? ExtractMode::Selected : ExtractMode::All;
    extractSelectedRadio->setChecked(selection);
    extractAllRadio->setChecked(!selection);
    okButton->setFocus();
}

void CExtractDialog::accept() {
    OnOK();
}

void CExtractDialog::reject() {
    OnCancel();
}

void CExtractDialog::OnOK() {
    const std::string text = PathBytes(destinationEdit->text());
    if (text.empty()) {
        messages->ShowMessage(kAppCaption, kNoDirectoryText, MessageButtons::Ok);
        destinationEdit->setFocus();
        return;
    }
    destinationFolder = text;
    cursor->SetWaitCursor(true);
    if (mode == ExtractMode::Selected) {
        ExtractSelected();
    } else {
        ExtractAll();
    }
    cursor->SetWaitCursor(false);
    ReportNames();
    QDialog::accept();
}

void CExtractDialog::OnCancel() {
    QDialog::reject();
}

void CExtractDialog::OnBrowse() {
    std::optional<std::string> chosen = dialogs->BrowseFolder(kSelectFolderTitle);
    if (!chosen || chosen->empty()) {
        return;
    }
    destinationFolder = *chosen;
    destinationEdit->setText(PathText(destinationFolder));
}

void CExtractDialog::OnExtractAll() {
    if (extractAllRadio->isChecked()) {
        mode = ExtractMode::All;
        extractSelectedRadio->setChecked(false);
    }
}

void CExtractDialog::OnExtractSelected() {
    if (extractSelectedRadio->isChecked()) {
        mode = ExtractMode::Selected;
        extractAllRadio->setChecked(false);
    }
}

void CExtractDialog::OnOverwriteToggle() {
    overwriteWithoutAsking = overwriteCheck->isChecked();
}

bool CExtractDialog::ExtractRow(int row) {
    const RowKey key = listControl->Key(row);
    if (key.IsFile()) {
        const PackEntry* entry =
            folder != nullptr ? folder->FileAt(static_cast<int>(key.Index())) : nullptr;
        return entry == nullptr || ExtractFile(*entry, std::string());
    }
    // The way up names no folder; a folder of the pack named ".." has a
    // folder key and is extracted as any other (and refused).
    if (!key.IsFolder()) {
        return true;
    }
    return ExtractFolder(listControl->RowText(row, 0), std::string());
}

bool CExtractDialog::ExtractSelected() {
    if (listControl == nullptr) {
        return true;
    }
    for (int row : listControl->SelectedRows()) {
        if (!ExtractRow(row)) {
            return false;
        }
    }
    return true;
}

bool CExtractDialog::ExtractAll() {
    if (listControl == nullptr) {
        return true;
    }
    const int count = listControl->RowCount();
    for (int row = 0; row < count; ++row) {
        if (!ExtractRow(row)) {
            return false;
        }
    }
    return true;
}

bool CExtractDialog::ExtractFolder(const std::string& name, const std::string& relative) {
    if (folder == nullptr) {
        return true;
    }
    const int index = folder->FindSubfolder(name);
    if (index < 0) {
        return true;
    }
    const CPackFolder* found = folder->SubfolderAt(index);
    const std::string ownName(folder->SubfolderName(index));
    // The folder's own directory: destination/relative/its name split into
    // components (a converted pack's "maps\x" is two folders).
    std::vector<std::string> components;
    if (!Place(relative, ownName, components)) {
        return true;
    }
    const std::string folderRelative = JoinComponents(components);
    pack::Fault fault;
    if (!OpenDestination() ||
        !destination.OpenFolder(components, fs::MakeFolders::Yes, 0777, fault).IsOpen()) {
        // Missing, not writable, or a file or a link in the way (a link
        // would lead elsewhere): nothing of this folder can go where it
        // belongs.
        Report(kExtractFailedText);
        return true;
    }

    const CPackFolder* previous = folder;
    folder = found;
    for (int i = 0; i < static_cast<int>(found->FileCount()); ++i) {
        ExtractFile(*found->FileAt(i), folderRelative);
    }
    for (std::size_t i = 0; i < found->SubfolderCount(); ++i) {
        ExtractFolder(std::string(found->SubfolderName(static_cast<int>(i))), folderRelative);
    }
    folder = previous;
    return true;
}

bool CExtractDialog::ExtractFile(const PackEntry& entry, const std::string& relative) {
    const std::string name(entry.Name());
    std::vector<std::string> components;
    if (!Place(relative, name, components)) {
        return true;  // named at the end; the rest is extracted
    }
    const std::string fileName = components.back();
    components.pop_back();
    std::vector<std::string> all = components;
    all.push_back(fileName);
    const std::string target = fs::JoinPath(destinationFolder, JoinComponents(all));
    pack::Fault fault;
    fs::Descriptor directory;
    if (OpenDestination()) {
        directory = destination.OpenFolder(components, fs::MakeFolders::Yes, 0777, fault);
    }
    if (!directory.IsOpen()) {
        Report(kExtractFailedText);
        return false;
    }
    if (!overwriteWithoutAsking && ExistsForReading(directory.Get(), fileName)) {
        switch (messages->ShowMessage(kWarningCaption, WithName(kOverwriteQuestion, name),
                                      MessageButtons::YesNoCancel)) {
            case MessageAnswer::Yes:
                break;
            case MessageAnswer::No:
                return true;
            default:
                return false;
        }
    }
    // The file appears whole or not at all, in the folder just opened
    // whatever its path leads to meanwhile, and a failure costs the user
    // nothing that was there before.
    if (!WriteEntryAt(entry, directory.Get(), fileName, target, fault)) {
        Report(kExtractFailedText);
        return false;
    }
    return true;
}

bool CExtractDialog::OpenDestination() {
    if (destination.IsOpen() && destination.Path() == destinationFolder) {
        return true;
    }
    destination = fs::BeneathFolder();
    pack::Fault fault;
    return destination.Open(destinationFolder, fault);
}

bool CExtractDialog::Place(const std::string& relative, const std::string& name,
                           std::vector<std::string>& components) {
    // `relative` holds disk components already; the name is split by the
    // one rule, a leading separator dropped only at the top.
    std::vector<std::string> parts;
    for (std::size_t at = 0; !relative.empty() && at <= relative.size();) {
        const std::size_t slash = relative.find('/', at);
        parts.push_back(relative.substr(at, slash == std::string::npos ? slash : slash - at));
        if (slash == std::string::npos) {
            break;
        }
        at = slash + 1;
    }
    std::vector<std::string_view> names(parts.begin(), parts.end());
    names.push_back(name);
    pack::DiskPath disk;
    const std::string why = pack::ToDiskPath(names, disk);
    const std::string shown = relative.empty() ? name : relative + "/" + name;
    if (!why.empty()) {
        refused.push_back(shown + " (" + why + ")");
        return false;
    }
    if (disk.droppedLeading && ++leadingDropped == 1) {
        firstLeadingDropped = shown;
    }
    components = std::move(disk.components);
    return true;
}

void CExtractDialog::ReportNames() {
    if (!refused.empty()) {
        std::string list;
        for (std::size_t i = 0; i < refused.size() && i < kNamesListed; ++i) {
            list += (i > 0 ? "; " : "") + refused[i];
        }
        if (refused.size() > kNamesListed) {
            list += "; ...";
        }
        Report(WithNames(kUnsafeNamesText, {std::to_string(refused.size()), list}));
    }
    if (leadingDropped > 0) {
        Report(WithNames(kLeadingSeparatorsText,
                         {std::to_string(leadingDropped), firstLeadingDropped}));
    }
    refused.clear();
    leadingDropped = 0;
    firstLeadingDropped.clear();
}

void CExtractDialog::Report(const std::string& text) {
    messages->ShowMessage(kAppCaption, text, MessageButtons::Ok);
}

}  // namespace crateforge
