// SignalExit.h - SIGTERM, SIGINT and SIGHUP end the program like its close box.
//
// A logout, `kill` or Ctrl+C in the terminal must not leave the workspace
// with its decoded files behind. The handlers installed here do the least a
// handler may: the first of these signals writes its number into a pipe, and
// a notifier on the user-interface thread reads it and calls the function
// given to Install (the program asks the main window to close, which
// removes the workspace on the way out). When a second one arrives before
// the program has ended (the window was stuck), the handler removes the
// live temporary files (platform/TempFiles.h), restores the default action
// and raises the signal again, so the process ends at once; the workspace
// it leaves is marked as this run's and is removed at the next start
// (archive/TempWorkspace.h).
//
// After the window has closed, the program ends by the signal it got
// (ReraiseIfReceived), so that whoever sent it sees how it ended.
#pragma once

#include <functional>

namespace crateforge {

class SignalExit {
  public:
    // Installs the handlers and the notifier (a QApplication must exist).
    // `onSignal` runs on the user-interface thread with the signal number.
    // False when the pipe or a handler could not be set up (the signals then
    // keep their default action).
    static bool Install(std::function<void(int)> onSignal);
    // The first signal received, or 0.
    static int Received();
    // Ends the process by the received signal, if any; returns otherwise.
    static void ReraiseIfReceived();
};

}  // namespace crateforge
