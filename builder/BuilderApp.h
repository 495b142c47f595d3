// BuilderApp.h - start-up of the desktop program (CBuilderApp).
//
// InitInstance registers the pack file type with the desktop, collects the
// command line, shows the main window and runs it until it closes; the
// program ends then. There are no settings to read or write.
#pragma once

namespace crateforge {

class CBuilderApp {
  public:
    // Runs the whole program; returns the process's exit status.
    int InitInstance(int argc, char** argv);
};

}  // namespace crateforge
