// ExtractDialog.h - the Extract dialog (CExtractDialog, "Extract File(s)").
//
// Copies entries of the open pack out to a folder on disk, decoded to their
// original bytes: the selected rows of the main window's list, or every row
// of it, folders with everything below them. The pack is never changed.
//
// Use: construct, set `listControl` and `folder` (the folder the list
// shows), then RunModal(). Tests can skip the modal loop: OnInitDialog(),
// set the fields or the widgets (found by objectName), then OnOK().
//
// Widgets (objectName): "destinationEdit", "browseButton" (".."),
// "extractAllRadio", "extractSelectedRadio", "overwriteCheck", "okButton",
// "cancelButton".
//
// Safety:
//   - names from the pack become disk paths by the one rule (pack::
//     ToDiskPath): "maps\\x.map" is written as maps/x.map, a leading
//     separator is dropped (said at the end), and a name with an empty, "."
//     or ".." component is not written; every such name is listed in one
//     message at the end, while the rest is extracted;
//   - every folder is reached below the destination through descriptors
//     (platform/BeneathFolder.h) and every file written into its folder's
//     descriptor: a link in the way, or one swapped in while the dialog
//     writes, fails that part with the message instead of leading out;
//   - every entry is decoded before anything is written, into a temporary
//     file beside the target that is renamed over it only when every write
//     and the close succeeded: a damaged entry, an unknown method or a full
//     disk leaves the file that was there before untouched;
//   - every failure is reported; one at the top level ends the extraction,
//     one inside a folder skips that file.
#pragma once

#include <QDialog>
#include <string>

#include <vector>

#include "platform/BeneathFolder.h"
#include "platform/Platform.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace crateforge {

class CPackFolder;
struct PackEntry;

// Verbatim texts of the dialog.
inline constexpr char kExtractCaption[] = "Extract File(s)";
inline constexpr char kExtractAllText[] = "Extract All Files";
inline constexpr char kExtractSelectedText[] = "Extract Selected";
inline constexpr char kOverwriteText[] = "Overwrite without ask";
inline constexpr char kNoDirectoryText[] = "Please insert a directory name.";
inline constexpr char kOverwriteQuestion[] = "File %s already exist. Do you wish to overwrite?";
inline constexpr char kExtractFailedText[] =
    "Unable to extract files. Make sure you can write on destination folder.";
// Count, then the names and why each cannot be written ("a/.. (a ".."
// component ...); ..."), at the end of an extraction.
inline constexpr char kUnsafeNamesText[] =
    "Unable to extract %s item(s): their names cannot be used as file or folder names: %s.";
// Count, the first name.
inline constexpr char kLeadingSeparatorsText[] =
    "%s name(s) were extracted without their leading \"/\" or \"\\\", the first being %s.";
inline constexpr char kSelectFolderTitle[] = "Select Folder";

enum class ExtractMode { Selected = 0, All = 1 };

class CExtractDialog : public QDialog {
    Q_OBJECT
  public:
    CExtractDialog(MessageService* messages, DialogService* dialogs, CursorService* cursor,
                   QWidget* parent = nullptr);
    ~CExtractDialog() override;

    std::string destinationFolder;
    ListControl* listControl = nullptr;  // not owned
    bool overwriteWithoutAsking = false;
    ExtractMode mode = ExtractMode::Selected;
    const CPackFolder* folder = nullptr;  // not owned

    // OnInitDialog, then the modal loop; the dialog's result.
    int RunModal();

    // Start of every run: the current directory as destination, overwrite
    // off, the mode from the selection.
    void OnInitDialog();
    // Validates the destination, extracts, closes (stays open when the
    // destination is empty).
    void OnOK();
    void OnCancel();
    void OnBrowse();
    void OnExtractAll();
    void OnExtractSelected();
    void OnOverwriteToggle();

    // Each returns true to go on and false to stop.
    bool ExtractSelected();
    bool ExtractAll();
    // The subfolder `name` of `folder`, below destination/relative.
    bool ExtractFolder(const std::string& name, const std::string& relative);
    // One entry, written as destination/relative/name.
    bool ExtractFile(const PackEntry& entry, const std::string& relative);

    QLineEdit* DestinationEdit() const { return destinationEdit; }
    QPushButton* BrowseButton() const { return browseButton; }
    QRadioButton* ExtractAllRadio() const { return extractAllRadio; }
    QRadioButton* ExtractSelectedRadio() const { return extractSelectedRadio; }
    QCheckBox* OverwriteCheck() const { return overwriteCheck; }
    QPushButton* OkButton() const { return okButton; }
    QPushButton* CancelButton() const { return cancelButton; }

  public slots:
    void accept() override;
    void reject() override;

  private:
    bool ExtractRow(int row);
    void Report(const std::string& text);
    // Opens destinationFolder for writing below it; false when it cannot.
    bool OpenDestination();
    // The disk components of `name` below `relative` (disk components joined
    // with "/"); false, noting the name for ReportNames, when there are none.
    bool Place(const std::string& relative, const std::string& name,
               std::vector<std::string>& components);
    // The message about names that were not written or were changed.
    void ReportNames();

    fs::BeneathFolder destination;
    std::vector<std::string> refused;  // "name (why)"
    int leadingDropped = 0;
    std::string firstLeadingDropped;

    MessageService* messages;
    DialogService* dialogs;
    CursorService* cursor;
    QLineEdit* destinationEdit = nullptr;
    QPushButton* browseButton = nullptr;
    QRadioButton* extractAllRadio = nullptr;
    QRadioButton* extractSelectedRadio = nullptr;
    QCheckBox* overwriteCheck = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};

}  // namespace crateforge
