// ArchiveWorkspace.cpp - writing entries of the pack into the temporary
// workspace, for drag-out and View.
#include <sys/stat.h>

#include <cerrno>

#include "archive/EntryData.h"
#include "archive/PackArchive.h"
#include "archive/TempWorkspace.h"
#include "format/Names.h"
#include "platform/FileSystem.h"

namespace crateforge {

namespace {
// Files handed to other programs get an ordinary mode, never the execute
// bits and never the workspace root's privacy.
fs::AtomicFileOptions HandedOutOptions() {
    fs::AtomicFileOptions options = ExtractOptions();
    options.newFileMode = kHandedOutFileMode;
    return options;
}
}  // namespace

std::string CPackArchive::ExtractFileToTemp(const PackEntry& entry, CTempWorkspace& workspace) {
    const std::string name(entry.Name());
    pack::Fault fault;
    std::string target;
    if (!workspace.IsValid())
        pack::Fail(fault, pack::FaultKind::TempFolder, workspace.Reason());
    else if (!pack::IsValidEntryName(name))
        pack::Fail(fault, pack::FaultKind::Damaged, kUnsafeFileNameReason);
    else if ((target = workspace.MakeFilePath(name)).empty())
        pack::Fail(fault, pack::FaultKind::Io, kNoFreeNameReason);
    else if (WriteEntryToFile(entry, target, fault, HandedOutOptions()))
        return target;
    Report(fault, WithNames(kWorkspaceFailedText, {name, fault.Text()}));
    return {};
}

bool CPackArchive::ExtractTree(const CPackFolder& folder, CTempWorkspace& workspace,
                               const std::string& dir, const std::string& relative,
                               std::uint32_t depth, int& failures, std::string& firstFailure) {
    auto failed = [&](std::string_view name, const std::string& why) {
        if (failures++ == 0)
            firstFailure = std::string(name) + ": " + why;
    };
    for (const auto& entry : folder.files) {
        const std::string_view name = entry->Name();
        pack::Fault fault;
        if (!pack::IsValidEntryName(name)) {
            failed(name, kUnsafeFileNameReason);
            continue;
        }
        const std::string target = workspace.MakeNestedFilePath(dir, name);
        if (target.empty())
            failed(name, kNoFreeNameReason);
        else if (!WriteEntryToFile(*entry, target, fault, HandedOutOptions()))
            failed(name, fault.Text());
    }
    if (depth >= pack::kMaxFolderDepth && !folder.subfolders.empty()) {
        failed(relative, kTooDeepReason);
        return false;
    }
    for (std::size_t i = 0; i < folder.subfolders.size(); ++i) {
        const std::string_view name = folder.SubfolderName(static_cast<int>(i));
        if (!pack::IsValidEntryName(name)) {
            failed(name, kUnsafeFolderNameReason);
            continue;
        }
        const std::string sub = workspace.MakeFolderPath(name, relative);
        if (sub.empty()) {
            failed(name, kNoFreeNameReason);
            continue;
        }
        if (mkdir(sub.c_str(), kHandedOutFolderMode) != 0 &&
            !(errno == EEXIST && fs::IsDirectory(sub, false))) {
            failed(name, fs::ErrnoText(errno));
            continue;
        }
        ExtractTree(*folder.subfolders[i], workspace, sub,
                    sub.substr(workspace.WorkspacePath().size() + 1), depth + 1, failures,
                    firstFailure);
    }
    return failures == 0;
}

std::string CPackArchive::ExtractFolderToTemp(int index, CTempWorkspace& workspace,
                                              const std::string& parentPath) {
    if (!current || index < 0 || index >= static_cast<int>(current->subfolders.size()))
        return {};
    const std::string name(current->SubfolderName(index));
    pack::Fault fault;
    std::string dir;
    if (!workspace.IsValid())
        pack::Fail(fault, pack::FaultKind::TempFolder, workspace.Reason());
    else if (!pack::IsValidEntryName(name))
        pack::Fail(fault, pack::FaultKind::Damaged, kUnsafeFolderNameReason);
    else if ((dir = workspace.MakeFolderPath(name, parentPath)).empty())
        pack::Fail(fault, pack::FaultKind::Io, kNoFreeNameReason);
    else if (mkdir(dir.c_str(), kHandedOutFolderMode) != 0 &&
             !(errno == EEXIST && fs::IsDirectory(dir, false)))
        pack::Fail(fault, pack::FaultKind::Io, fs::ErrnoText(errno));
    if (!fault.reason.empty()) {
        Report(fault, WithNames(kWorkspaceFailedText, {name, fault.Text()}));
        return {};
    }
    int failures = 0;
    std::string firstFailure;
    ExtractTree(*current->subfolders[static_cast<std::size_t>(index)], workspace, dir,
                dir.substr(workspace.WorkspacePath().size() + 1),
                static_cast<std::uint32_t>(current->Depth()) + 1, failures, firstFailure);
    if (failures > 0) {
        pack::Fail(fault, pack::FaultKind::Io, firstFailure);
        Report(fault, WithNames(kWorkspaceItemsFailedText,
                                {std::to_string(failures), name, firstFailure}));
    }
    return dir;
}

}  // namespace crateforge
