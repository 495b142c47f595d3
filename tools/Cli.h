// Cli.h - shared pieces of the vpf command-line tool: options, console
// services, progress meter, names inside a pack, and the verbs.
//
// Conventions of every verb:
//   - exit status 0 success, 1 failure (a damaged pack, a name not found, a
//     file that could not be read or written), 2 usage error;
//   - every message is one line on standard error, "vpf: " followed by the
//     file it is about;
//   - the archive's questions never block a script: replacing is decided by
//     --overwrite / --keep, asked only when standard input is a terminal, and
//     otherwise answered "keep" with a warning;
//   - a pack is changed only through the archive's atomic Save.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace crateforge {
class CPackArchive;
class CPackFolder;
}  // namespace crateforge

namespace vpf {

inline constexpr char kToolVersion[] = "2.20";

enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

enum class ReplacePolicy { Ask, Overwrite, Keep };

struct Options {
    std::string verb;
    std::vector<std::string> args;  // positional arguments after the verb
    bool quiet = false;
    bool verbose = false;
    bool longList = false;  // list -l
    std::string outputDir;  // extract -o
    bool haveOutputDir = false;
    std::string packDir;  // add -C
    bool havePackDir = false;
    unsigned jobs = 0;  // 0: number of cores
    ReplacePolicy replace = ReplacePolicy::Ask;
};

// ---- Console ----------------------------------------------------------------

// Makes a name printable on one line: control bytes become '?'.
std::string Printable(std::string_view text);

// "vpf: <text>" on standard error.
void Error(std::string_view text);

// The archive's message boxes on a console. Questions follow the replace
// policy (asking on the terminal only when standard input is one); every
// other message is printed as an error and counted.
class ConsoleMessages : public crateforge::MessageService {
  public:
    ConsoleMessages(const Options& options, std::string packPath)
        : options_(options), packPath_(std::move(packPath)) {}
    crateforge::MessageAnswer ShowMessage(std::string_view caption, std::string_view text,
                                          crateforge::MessageButtons buttons) override;
    int errors() const { return errors_; }
    // Decides about replacing `what` (a name in the pack or a disk path):
    // true replaces. Asks "question" on the terminal when the policy is Ask
    // and standard input is a terminal; otherwise Ask keeps with a warning.
    bool DecideReplace(std::string_view what, std::string_view question);

  private:
    const Options& options_;
    std::string packPath_;
    int errors_ = 0;
    bool replaceAll_ = false;
    bool keepAll_ = false;
};

// A bar with bytes and rate on standard error, drawn only when standard
// error is a terminal, -q is not given and the work has lasted a moment.
class ProgressMeter {
  public:
    ProgressMeter(const Options& options, std::uint64_t total);
    ~ProgressMeter();
    void Advance(std::uint64_t bytes);
    void Finish();

  private:
    void Draw(bool force);
    bool enabled_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

// ---- Names inside a pack ------------------------------------------------------

// Splits a name given on the command line ("a/b/c" or "a\\b\\c") into its
// components; empty components (doubled or outer separators) are dropped.
// False for "." or ".." components or a component the pack cannot hold.
bool SplitPackPath(std::string_view text, std::vector<std::string>& parts);
std::string JoinPackPath(const std::vector<std::string>& parts);

// The folder at `parts` below `root`, or null.
crateforge::CPackFolder* FindPackFolder(crateforge::CPackFolder* root,
                                        const std::vector<std::string>& parts);

// Opens an existing "2.10" pack into `archive`; prints why it cannot and
// returns kExitFailure, else kExitOk. An old pack is refused with a hint.
int OpenPack(crateforge::CPackArchive& archive, const std::string& path);

unsigned EffectiveJobs(const Options& options);

// ---- Verbs ------------------------------------------------------------------

int RunCreate(const Options& options);
int RunAdd(const Options& options);
int RunList(const Options& options);
int RunExtract(const Options& options);
int RunCat(const Options& options);
int RunRemove(const Options& options);
int RunMove(const Options& options);
int RunMakeDir(const Options& options);
int RunConvert(const Options& options);
int RunCheck(const Options& options);

}  // namespace vpf
