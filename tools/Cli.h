// Cli.h - shared pieces of the vpf command-line tool: options, console
// services, progress meter, summaries, and the verbs.
//
// Conventions of every verb:
//   - exit status 0 when everything asked was done; 1 when something named
//     was not packed, extracted, removed or read as asked (each such thing
//     gets one line on standard error with its full path and the reason,
//     and the rest of the work is still done and saved, as tar does); 2 for
//     a usage error, before anything is done;
//   - every message is one line on standard error starting "vpf: "; a
//     progress bar, when one is drawn, is cleared before it;
//   - a summary line ends every run unless -q;
//   - names already taken are settled in advance by --overwrite / --keep;
//     without either, vpf asks on the terminal (/dev/tty) when there is one
//     and otherwise keeps what is there and says so (exit 1);
//   - a pack is changed only through the archive's atomic Save, and files
//     are extracted through hidden siblings renamed into place, so that an
//     interrupt (Interrupt.h) never leaves a partial file under a final name.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Version.h"
#include "format/EntryDecoder.h"
#include "platform/Platform.h"

namespace crateforge {
class CPackArchive;
class CPackFolder;
}  // namespace crateforge

namespace vpf {

inline constexpr char kToolVersion[] = CF_VERSION_STRING;
// The name vpf uses in messages for a pack read from standard input or
// written to standard output.
inline constexpr char kStdinName[] = "standard input";
inline constexpr char kStdoutName[] = "standard output";

enum ExitCode { kExitOk = 0, kExitFailure = 1, kExitUsage = 2 };

// Standard output as a byte sink: cat's decoded bytes, a pack written to
// "-". Its reason names standard output and the error.
class StdoutSink final : public pack::ByteSink {
  public:
    bool Write(const unsigned char* data, std::size_t length) override;
    std::string Reason() const override;

  private:
    int error_ = 0;
};

enum class ReplacePolicy { Ask, Overwrite, Keep };

// A path given to create or add, or a file list (-T), in command-line order,
// with the folder that -C had chosen when it was given.
struct InputArg {
    enum class Kind { Path, FilesFrom };
    Kind kind = Kind::Path;
    std::string text;
    std::string dir;  // "" for the folder vpf was started in
};

struct Options {
    std::string verb;
    std::vector<std::string> args;  // positional arguments after the verb (the pack first)
    std::vector<InputArg> inputs;   // create, add: paths and -T lists after the pack
    bool quiet = false;
    bool verbose = false;
    bool dryRun = false;           // -n
    bool nullSeparated = false;    // --null: -T lists and list output
    bool json = false;             // list --json
    bool longList = false;         // list -l
    bool fileOnly = false;         // --file-only: names mean files, never folders
    unsigned stripComponents = 0;  // extract --strip-components
    bool salvage = false;          // list, extract --salvage
    std::string outputDir;         // extract -C / --output
    bool haveOutputDir = false;
    std::string into;  // create, add --into: the folder inside the pack
    bool haveInto = false;
    std::vector<std::string> excludes;  // --exclude
    unsigned jobs = 0;                  // 0: number of cores
    ReplacePolicy replace = ReplacePolicy::Ask;
    bool foreground = false;      // mount -f
    std::uint64_t cacheMiB = 64;  // mount --cache: decoded files kept, in MiB
};

// ---- Console ----------------------------------------------------------------

// The code point of the UTF-8 sequence at `text[i]` and its length; false
// for bytes that start no valid sequence (overlong forms, surrogates and
// anything above U+10FFFF included).
bool DecodeUtf8(std::string_view text, std::size_t i, std::uint32_t& code, std::size_t& length);

// Makes text safe for a terminal, as GNU tar quotes names by default: C0
// controls and DEL become C escapes ("\\n", "\\t", ...) or three octal
// digits ("\\033"), a backslash is doubled, and C1 controls (a byte 0x80 to
// 0x9F that starts no UTF-8 sequence, or U+0080 to U+009F) and the
// bidirectional controls (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066
// to U+2069) become the octal escapes of their bytes. Every message goes
// through it.
std::string Printable(std::string_view text);
// Printable when standard output is a terminal; the bytes as they are when
// it is a pipe or a file, so that scripts get names byte for byte.
std::string ForStdout(std::string_view text);

// "vpf: <text>" on standard error (the progress bar cleared first).
void Error(std::string_view text);
// A line without the prefix (summaries), unless `quiet`.
void Say(std::string_view text, bool quiet);

// Answers the question whether to replace something that is there already,
// following the replace policy; asks on the terminal only where there is one.
class ReplaceDecider {
  public:
    enum class Answer {
        Replace,
        Keep,         // settled: --keep, or the user's answer
        KeepUnasked,  // nobody could be asked: kept, and the caller reports it
    };
    explicit ReplaceDecider(const Options& options) : options_(options) {}
    // `question` is one sentence without the answer choices.
    Answer Decide(std::string_view question);

  private:
    const Options& options_;
    bool replaceAll_ = false;
    bool keepAll_ = false;
};

// Whether a question can be asked: a terminal vpf can open (/dev/tty), with
// standard input or standard error on a terminal (so somebody is watching).
bool CanAsk();

// The archive's message boxes on a console: its failures are printed and
// counted; its questions are never asked (the verbs settle every name clash
// beforehand through the archive's structured answers) and answered No.
class ConsoleMessages : public crateforge::MessageService {
  public:
    explicit ConsoleMessages(std::string packPath) : packPath_(std::move(packPath)) {}
    crateforge::MessageAnswer ShowMessage(std::string_view caption, std::string_view text,
                                          crateforge::MessageButtons buttons) override;
    int errors() const { return errors_; }

  private:
    std::string packPath_;
    int errors_ = 0;
};

// The line the progress bar draws for `width` columns: never wider than
// width - 1 (so that the terminal does not wrap it), the bar shrunk or left
// out to make room.
std::string ProgressLine(int width, std::uint64_t done, std::uint64_t total, double seconds);

// A bar on standard error, drawn only when standard error is a terminal, -q
// is not given and the work has lasted a moment; it fits the terminal's
// width, read at each redraw. Lines printed through Error and Say clear it
// first; it comes back at the next Advance.
class ProgressMeter {
  public:
    ProgressMeter(const Options& options, std::uint64_t total);
    ~ProgressMeter();
    void Advance(std::uint64_t bytes);
    void Finish();

  private:
    void Draw();
    bool enabled_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};

// Clears the progress bar if one is drawn (before a question or a message).
void ClearProgress();

// ---- Summaries ----------------------------------------------------------------

// 9576 -> "9,576".
std::string Count(std::uint64_t n);
// Count with the noun in the singular or plural: (1, "file") -> "1 file",
// (2, "file") -> "2 files", (3, "folder") -> "3 folders".
std::string Counted(std::uint64_t n, std::string_view noun);
// Bytes with three significant digits in decimal units: "0 bytes", "1 byte",
// "999 bytes", "1.00 kB", "29.9 MB", "153 MB", "4.29 GB".
std::string Size(std::uint64_t bytes);
// Seconds with one decimal: "3.5 s".
std::string Seconds(double seconds);

// Time since `start` in seconds.
double SecondsSince(std::chrono::steady_clock::time_point start);

// ---- Names inside a pack ------------------------------------------------------

// Splits a name given on the command line ("a/b/c" or "a\\b\\c") into its
// components; empty components (doubled or outer separators) are dropped.
// False for "." or ".." components or a component the pack cannot hold.
bool SplitPackPath(std::string_view text, std::vector<std::string>& parts);
std::string JoinPackPath(const std::vector<std::string>& parts);

// The folder at `parts` below `root`, or null.
crateforge::CPackFolder* FindPackFolder(crateforge::CPackFolder* root,
                                        const std::vector<std::string>& parts);

// Opens an existing "2.10" pack for a change into `archive`; prints why it
// cannot and returns kExitFailure, else kExitOk. An old pack is refused with
// a pointer to vpf convert: changing it is converting it.
int OpenPackForChange(crateforge::CPackArchive& archive, const std::string& path);

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
int RunMount(const Options& options);

}  // namespace vpf
