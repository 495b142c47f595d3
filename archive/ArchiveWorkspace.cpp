// ArchiveWorkspace.cpp - writing entries of the pack into the temporary
// workspace, for drag-out and View.
#include <string_view>
#include <vector>

#include "archive/EntryData.h"
#include "archive/PackArchive.h"
#include "archive/TempWorkspace.h"
#include "format/Names.h"
#include "platform/BeneathFolder.h"
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

std::vector<std::string> SplitRelative(std::string_view relative) {
    std::vector<std::string> parts;
    for (std::size_t at = 0; !relative.empty() && at <= relative.size();) {
        const std::size_t slash = relative.find('/', at);
        parts.emplace_back(
            relative.substr(at, slash == std::string_view::npos ? slash : slash - at));
        if (slash == std::string_view::npos)
            break;
        at = slash + 1;
    }
    return parts;
}

// The disk components of the stored `name` below the workspace folder
// `relative` (relative to the workspace, "" for its top): by the one rule
// (pack::ToDiskPath), a leading separator dropped only at the top. "" when
// they exist, else why not.
std::string DiskComponents(std::string_view relative, std::string_view name,
                           std::vector<std::string>& components) {
    const std::vector<std::string> parts = SplitRelative(relative);
    std::vector<std::string_view> names(parts.begin(), parts.end());
    names.push_back(name);
    pack::DiskPath disk;
    const std::string why = pack::ToDiskPath(names, disk);
    if (!why.empty())
        return why;
    components.assign(disk.components.begin() + static_cast<std::ptrdiff_t>(parts.size()),
                      disk.components.end());
    return {};
}

// Hands out the folders of all but the last component below `relative`
// (made on disk below the workspace through descriptors) and returns their
// workspace-relative path in `relative`; "" on success, else why not.
std::string HandOutFolders(CTempWorkspace& workspace, const std::vector<std::string>& components,
                           std::size_t count, std::string& relative) {
    for (std::size_t k = 0; k < count; ++k) {
        const std::string dir = workspace.MakeFolderPath(components[k], relative);
        if (dir.empty())
            return kNoFreeNameReason;
        relative = dir.substr(workspace.WorkspacePath().size() + 1);
        pack::Fault fault;
        if (!workspace.Beneath()
                 .OpenFolder(SplitRelative(relative), fs::MakeFolders::Yes, kHandedOutFolderMode,
                             fault)
                 .IsOpen())
            return fault.reason;
    }
    return {};
}

// Writes `entry` as the workspace file at `path` (handed out by the
// workspace), into its folder reached below the workspace through
// descriptors.
bool WriteIntoWorkspace(const PackEntry& entry, CTempWorkspace& workspace, const std::string& path,
                        pack::Fault& fault) {
    std::vector<std::string> parts =
        SplitRelative(std::string_view(path).substr(workspace.WorkspacePath().size() + 1));
    const std::string name = parts.back();
    parts.pop_back();
    const fs::Descriptor folder =
        workspace.Beneath().OpenFolder(parts, fs::MakeFolders::Yes, kHandedOutFolderMode, fault);
    return folder.IsOpen() &&
           WriteEntryAt(entry, folder.Get(), name, path, fault, HandedOutOptions());
}

}  // namespace

std::string CPackArchive::ExtractFileToTemp(const PackEntry& entry, CTempWorkspace& workspace) {
    const std::string name(entry.Name());
    pack::Fault fault;
    std::vector<std::string> components;
    std::string why, relative, target;
    if (!workspace.IsValid()) {
        pack::Fail(fault, pack::FaultKind::TempFolder, workspace.Reason());
    } else if (!(why = DiskComponents("", name, components)).empty()) {
        pack::Fail(fault, pack::FaultKind::Damaged,
                   std::string(kUnsafeFileNameReason) + ": " + why);
    } else if (!(why = HandOutFolders(workspace, components, components.size() - 1, relative))
                    .empty()) {
        pack::Fail(fault, pack::FaultKind::Io, why);
    } else if ((target = workspace.MakeNestedFilePath(
                    relative.empty() ? workspace.WorkspacePath()
                                     : fs::JoinPath(workspace.WorkspacePath(), relative),
                    components.back()))
                   .empty()) {
        pack::Fail(fault, pack::FaultKind::Io, kNoFreeNameReason);
    } else if (WriteIntoWorkspace(entry, workspace, target, fault)) {
        return target;
    }
    Report(fault, WithNames(kWorkspaceFailedText, {name, fault.Text()}));
    return {};
}

bool CPackArchive::ExtractTree(const CPackFolder& folder, CTempWorkspace& workspace,
                               const std::string& relative, std::uint32_t depth, int& failures,
                               std::string& firstFailure) {
    auto failed = [&](std::string_view name, const std::string& why) {
        if (failures++ == 0)
            firstFailure = std::string(name) + ": " + why;
    };
    for (const auto& entry : folder.files) {
        const std::string_view name = entry->Name();
        std::vector<std::string> components;
        std::string why = DiskComponents(relative, name, components);
        if (!why.empty()) {
            failed(name, std::string(kUnsafeFileNameReason) + ": " + why);
            continue;
        }
        std::string at = relative;
        if (!(why = HandOutFolders(workspace, components, components.size() - 1, at)).empty()) {
            failed(name, why);
            continue;
        }
        const std::string target = workspace.MakeNestedFilePath(
            fs::JoinPath(workspace.WorkspacePath(), at), components.back());
        pack::Fault fault;
        if (target.empty())
            failed(name, kNoFreeNameReason);
        else if (!WriteIntoWorkspace(*entry, workspace, target, fault))
            failed(name, fault.Text());
    }
    if (depth >= pack::kMaxFolderDepth && !folder.subfolders.empty()) {
        failed(relative, kTooDeepReason);
        return false;
    }
    for (std::size_t i = 0; i < folder.subfolders.size(); ++i) {
        const std::string_view name = folder.SubfolderName(static_cast<int>(i));
        std::vector<std::string> components;
        std::string why = DiskComponents(relative, name, components);
        std::string at = relative;
        if (!why.empty()) {
            failed(name, std::string(kUnsafeFolderNameReason) + ": " + why);
            continue;
        }
        if (!(why = HandOutFolders(workspace, components, components.size(), at)).empty()) {
            failed(name, why);
            continue;
        }
        ExtractTree(*folder.subfolders[i], workspace, at, depth + 1, failures, firstFailure);
    }
    return failures == 0;
}

std::string CPackArchive::ExtractFolderToTemp(int index, CTempWorkspace& workspace,
                                              const std::string& parentPath) {
    if (!current || index < 0 || index >= static_cast<int>(current->subfolders.size()))
        return {};
    const std::string name(current->SubfolderName(index));
    pack::Fault fault;
    std::vector<std::string> components;
    std::string why, relative = parentPath;
    if (!workspace.IsValid())
        pack::Fail(fault, pack::FaultKind::TempFolder, workspace.Reason());
    else if (!(why = DiskComponents(parentPath, name, components)).empty())
        pack::Fail(fault, pack::FaultKind::Damaged,
                   std::string(kUnsafeFolderNameReason) + ": " + why);
    else if (!(why = HandOutFolders(workspace, components, components.size(), relative)).empty())
        pack::Fail(fault, pack::FaultKind::Io, why);
    if (!fault.reason.empty()) {
        Report(fault, WithNames(kWorkspaceFailedText, {name, fault.Text()}));
        return {};
    }
    const std::string dir = fs::JoinPath(workspace.WorkspacePath(), relative);
    int failures = 0;
    std::string firstFailure;
    ExtractTree(*current->subfolders[static_cast<std::size_t>(index)], workspace, relative,
                static_cast<std::uint32_t>(current->Depth()) + 1, failures, firstFailure);
    if (failures > 0) {
        pack::Fail(fault, pack::FaultKind::Io, firstFailure);
        Report(fault, WithNames(kWorkspaceItemsFailedText,
                                {std::to_string(failures), name, firstFailure}));
    }
    return dir;
}

}  // namespace crateforge
