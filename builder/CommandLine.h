// CommandLine.h - what the program was started with, and what to do about it.
//
// Every argument is collected in order, switch or not. Only "-" is taken off
// as a switch prefix: "/" begins every absolute path here, so it stays. The
// switch "\o" (first two characters of the first argument) asks to open the
// pack that follows; the shell's open command uses that form.
//
// DecideCommandLineWork turns the collected arguments into one decision; it
// touches neither the disk nor any window, so every form can be tested alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace crateforge {

inline constexpr char kOpenSwitch[] = "\\o";

class CBuilderCommandLineInfo {
  public:
    // Pointers into the process's argument vector, which outlives the window.
    std::vector<const char*> args;
    std::int32_t argCount = 0;

    // Appends one argument; `flag` (it had a switch prefix) and `last` do
    // not change what is kept.
    void ParseParam(const char* param, bool flag, bool last);
};

// Feeds argv[1 .. argc-1] to ParseParam, each without a leading "-".
void ParseCommandLine(CBuilderCommandLineInfo& info, int argc, char** argv);

struct CommandLineWork {
    enum class Kind {
        None,           // nothing to open or add
        OpenPack,       // open paths[0] as a pack
        NewPackAndAdd,  // ask for a new pack, then add paths in order
    };
    Kind kind = Kind::None;
    std::vector<std::string> paths;
};

// The extension of a path's last component, from its last "." (dot included),
// or empty.
std::string PathExtension(const std::string& path);
// True when an extension begins with ".VPF" in any letter case (".vpfx" too).
bool IsPackExtension(const std::string& extension);

CommandLineWork DecideCommandLineWork(const CBuilderCommandLineInfo& info);

}  // namespace crateforge
