// BuilderDlgCommands.cpp - the main window's content commands.
//
// Add, Add Folder, New Folder, Rename, Delete, Extract, View, About and
// files dropped on the window live here. WireContentCommands() connects each
// one that is built (WireCommand), which lets UpdateCommandStates turn it on;
// a command not wired stays off in every menu and on the tool bar.
//
// Hooks the window calls:
//   WireContentCommands()  once, while the window is built
//   OnEndLabelEdit()       the list's label editor closed (no text: Escape)
//   OnListKeyDownContent() Insert, Delete and other keys in the list
//                          (Backspace is the window's own); true when handled
//   ViewEntry()            a file row was double-clicked
//
// None of these commands is built yet: each hook below does nothing, and the
// commands stay off.
#include "builder/BuilderDlg.h"

namespace crateforge {

void CBuilderDlg::WireContentCommands() {}

void CBuilderDlg::OnEndLabelEdit(int /*row*/, const std::optional<std::string>& /*text*/) {}

bool CBuilderDlg::OnListKeyDownContent(int /*key*/) {
    return false;
}

void CBuilderDlg::ViewEntry(int /*row*/) {}

}  // namespace crateforge
