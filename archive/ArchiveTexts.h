// ArchiveTexts.h - every message the pack document shows, in one place.
//
// Each "%s" is filled in order with WithNames (platform/Platform.h); a
// reason is one line without a final period (pack::Fault::Text()). The
// questions are the program's own texts and stay byte for byte; the failure
// messages name the file they are about and say what was not done.
#pragma once

namespace crateforge {

// ---- Questions and row texts ----------------------------------------------
inline constexpr char kOldPackQuestion[] =
    "PackFile has an old version. It will be converted. Do you wish to continue?";
inline constexpr char kReplaceQuestion[] = "File %s already exist. Do you wish to replace it?";
inline constexpr char kUpDirName[] = "..";

// ---- Open, convert, save (pack path, reason) ---------------------------------
inline constexpr char kOpenFailedText[] = "Unable to open the PackFile %s: %s.";
inline constexpr char kConvertFailedText[] =
    "Unable to convert the PackFile %s: %s. Nothing was written.";
// The reason of a conversion stopped at one entry: its name, then why.
inline constexpr char kConvertEntryReason[] = "the file %s: %s";
inline constexpr char kConvertTooLargeReason[] = "the converted PackFile would reach 4 GiB";
inline constexpr char kSaveFailedText[] = "Unable to save the PackFile %s: %s.";
inline constexpr char kSaveFailedKeptText[] =
    "Unable to save the PackFile %s: %s. The previous version is kept.";
inline constexpr char kSaveFailedInPlaceText[] =
    "Unable to save the PackFile %s: %s. Its folder takes no new file, so it was being rewritten "
    "in place, and its previous version could not be put back; the changes are still open here "
    "and the next save writes them again.";
inline constexpr char kSaveReadOnlyText[] =
    "Unable to save the PackFile %s: it is read-only. Nothing was changed.";
inline constexpr char kChangedOutsideText[] =
    "The PackFile %s was changed by another program since it was loaded. It has been loaded "
    "again as it is now, and the command was not applied.";
inline constexpr char kReloadFailedText[] = "Unable to reload the PackFile %s: %s.";
inline constexpr char kPackTooLargeReason[] = "it would reach 4 GiB";

// ---- Adding (disk path) ---------------------------------------------------
inline constexpr char kNameTooLongText[] = "Unable to add %s: its name is longer than 259 bytes.";
inline constexpr char kNameUnusableText[] =
    "Unable to add %s: its name cannot be used inside a PackFile.";
inline constexpr char kFullNameTooLongText[] =
    "Unable to add %s: its full name inside the PackFile would be longer than 4095 bytes.";
inline constexpr char kFileTooLargeText[] =
    "Unable to add %s: files of 4 GiB or more cannot be packed.";
inline constexpr char kPackWouldBeTooLargeText[] =
    "Unable to add %s: the PackFile would reach 4 GiB.";
inline constexpr char kCodedBytesMissingText[] = "Unable to add %s: its coded bytes are missing.";
inline constexpr char kReadFailedText[] = "Unable to read the file %s: %s. It was not added.";
inline constexpr char kListFailedText[] = "Unable to list the folder %s: %s. It was not added.";
inline constexpr char kAddTooDeepText[] =
    "Unable to add %s: its folders are nested more than %s deep.";
// Anything else a folder walk did not add: its path, then why.
inline constexpr char kNotAddedText[] = "Unable to add %s: %s. It was not added.";

// Count, the first file, why its compression failed. Shown once per command.
inline constexpr char kStoredUncompressedText[] =
    "%s file(s) were stored uncompressed, the first being %s, because they could not be "
    "compressed: %s.";

// ---- Renaming (old name) --------------------------------------------------
inline constexpr char kRenameTooLongText[] =
    "Unable to rename %s: the new name is longer than 259 bytes.";
inline constexpr char kRenameFullNameTooLongText[] =
    "Unable to rename %s: a full name inside the PackFile would be longer than 4095 bytes.";
inline constexpr char kRenameUnusableText[] =
    "Unable to rename %s: a name must not be empty, \".\" or \"..\", or contain \"/\" or \"\\\".";

// ---- Temporary workspace (entry name, reason) ------------------------------
inline constexpr char kWorkspaceFailedText[] = "Unable to write %s to the temporary folder: %s.";
// Count, folder name, first failure ("name: reason").
inline constexpr char kWorkspaceItemsFailedText[] =
    "Unable to write %s item(s) of %s to the temporary folder, the first being %s.";
inline constexpr char kUnsafeFileNameReason[] = "its name cannot be used as a file name";
inline constexpr char kUnsafeFolderNameReason[] = "its name cannot be used as a folder name";
inline constexpr char kNoFreeNameReason[] = "no free name is left";
inline constexpr char kTooDeepReason[] = "its folders are nested too deeply";

}  // namespace crateforge
