// Console.cpp - console services of the vpf tool: messages, questions on the
// terminal, progress, summaries, names inside a pack, opening packs.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "archive/PackArchive.h"
#include "archive/PackFolder.h"
#include "format/Names.h"
#include "format/PackDirectory.h"
#include "platform/FileSystem.h"
#include "tools/Cli.h"
#include "tools/Interrupt.h"

namespace vpf {

using crateforge::MessageAnswer;
using crateforge::MessageButtons;

namespace {

bool g_barDrawn = false;

}  // namespace

bool DecodeUtf8(std::string_view text, std::size_t i, std::uint32_t& code, std::size_t& length) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
        code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        code = c & 0x07;
    } else {
        return false;
    }
    if (i + extra >= text.size())
        return false;
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto d = static_cast<unsigned char>(text[i + k]);
        if ((d & 0xC0) != 0x80)
            return false;
        code = (code << 6) | (d & 0x3F);
    }
    if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
        return false;
    length = extra + 1;
    return true;
}

namespace {

// Characters that change how a terminal shows what follows them: C1
// controls and the bidirectional marks, embeddings, overrides and isolates.
bool IsHiddenControl(std::uint32_t code) {
    return (code >= 0x80 && code <= 0x9F) || code == 0x061C || code == 0x200E || code == 0x200F ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

void Escape(unsigned char c, std::string& out) {
    static constexpr char kShort[] = "abtnvfr";  // 7 to 13
    if (c >= 7 && c <= 13) {
        out += '\\';
        out += kShort[c - 7];
        return;
    }
    out += '\\';
    out += static_cast<char>('0' + (c >> 6));
    out += static_cast<char>('0' + ((c >> 3) & 7));
    out += static_cast<char>('0' + (c & 7));
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::uint32_t code = 0;
        std::size_t length = 0;
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            Escape(c, out);
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (DecodeUtf8(text, i, code, length)) {
            for (std::size_t k = 0; k < length; ++k) {
                if (IsHiddenControl(code))
                    Escape(static_cast<unsigned char>(text[i + k]), out);
                else
                    out += text[i + k];
            }
            i += length;
        } else {
            // A byte of a single-byte code page: 0x80-0x9F are C1 controls
            // there.
            if (c <= 0x9F)
                Escape(c, out);
            else
                out += static_cast<char>(c);
            ++i;
        }
    }
    return out;
}

std::string ForStdout(std::string_view text) {
    static const bool terminal = isatty(STDOUT_FILENO) == 1;
    return terminal ? Printable(text) : std::string(text);
}

void ClearProgress() {
    if (!g_barDrawn)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    g_barDrawn = false;
    interrupt::SetBarDrawn(false);
}

void Error(std::string_view text) {
    // What went to standard output before comes first where both meet.
    std::fflush(stdout);
    ClearProgress();
    const std::string line = "vpf: " + Printable(text) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void Say(std::string_view text, bool quiet) {
    if (quiet)
        return;
    std::fflush(stdout);
    ClearProgress();
    const std::string line = Printable(text) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

// ---- Questions ------------------------------------------------------------------

namespace {

// The terminal, opened once; -1 when there is none to ask on.
int TerminalFd() {
    static const int fd = [] {
        if (!isatty(STDIN_FILENO) && !isatty(STDERR_FILENO))
            return -1;
        return open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    }();
    return fd;
}

// One line typed on the terminal, without its newline; false at its end.
bool ReadAnswer(int fd, std::string& answer) {
    answer.clear();
    for (;;) {
        char c = 0;
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return !answer.empty();
        if (c == '\n')
            return true;
        answer += c;
    }
}

}  // namespace

bool CanAsk() {
    return TerminalFd() >= 0;
}

ReplaceDecider::Answer ReplaceDecider::Decide(std::string_view question) {
    switch (options_.replace) {
        case ReplacePolicy::Overwrite:
            return Answer::Replace;
        case ReplacePolicy::Keep:
            return Answer::Keep;
        case ReplacePolicy::Ask:
            break;
    }
    if (replaceAll_)
        return Answer::Replace;
    if (keepAll_)
        return Answer::Keep;
    const int tty = TerminalFd();
    if (tty < 0)
        return Answer::KeepUnasked;
    ClearProgress();
    for (;;) {
        crateforge::fs::WriteAll(tty,
                                 "vpf: " + Printable(question) + " [y]es, [n]o, [A]ll, [N]one: ");
        std::string answer;
        if (!ReadAnswer(tty, answer)) {
            crateforge::fs::WriteAll(tty, "\n");
            keepAll_ = true;  // the terminal is gone: nothing more is replaced
            return Answer::Keep;
        }
        if (answer == "y" || answer == "Y" || answer == "yes")
            return Answer::Replace;
        if (answer == "n" || answer == "no" || answer.empty())
            return Answer::Keep;
        if (answer == "A" || answer == "all") {
            replaceAll_ = true;
            return Answer::Replace;
        }
        if (answer == "N" || answer == "none") {
            keepAll_ = true;
            return Answer::Keep;
        }
    }
}

MessageAnswer ConsoleMessages::ShowMessage(std::string_view caption, std::string_view text,
                                           MessageButtons buttons) {
    if (caption == crateforge::kWarningCaption) {
        // A question no verb settled beforehand: answered the safe way
        // (nothing replaced, nothing converted), and said.
        Error(packPath_ + ": " + std::string(text) + " (answered no)");
        ++errors_;
        return buttons == MessageButtons::YesNoCancel ? MessageAnswer::Cancel : MessageAnswer::No;
    }
    ++errors_;
    Error(text);
    return MessageAnswer::Ok;
}

// ---- Summaries --------------------------------------------------------------------

std::string Count(std::uint64_t n) {
    std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string Counted(std::uint64_t n, std::string_view noun) {
    std::string out = Count(n) + " " + std::string(noun);
    if (n != 1)
        out += noun.ends_with("s") ? "es" : "s";
    return out;
}

std::string Size(std::uint64_t bytes) {
    if (bytes < 1000)
        return Counted(bytes, "byte");
    static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    for (value /= 1000.0; value >= 999.5 && unit + 1 < std::size(kUnits); value /= 1000.0)
        ++unit;
    char text[32];
    if (value < 9.995)
        std::snprintf(text, sizeof text, "%.2f %s", value, kUnits[unit]);
    else if (value < 99.95)
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    else
        std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
    return text;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// ---- Progress -----------------------------------------------------------------

namespace {
constexpr auto kQuietStart = std::chrono::milliseconds(500);
constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr int kDefaultWidth = 80;
constexpr std::size_t kMaxBar = 40;
constexpr std::size_t kMinBar = 10;

int TerminalWidth() {
    struct winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return kDefaultWidth;
}
}  // namespace

std::string ProgressLine(int width, std::uint64_t done, std::uint64_t total, double seconds) {
    const std::size_t room = width > 1 ? static_cast<std::size_t>(width - 1) : 0;
    const double fraction =
        total == 0 ? 1.0 : static_cast<double>(std::min(done, total)) / static_cast<double>(total);
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100.0));
    const std::uint64_t rate =
        seconds > 0 ? static_cast<std::uint64_t>(static_cast<double>(done) / seconds) : 0;
    const std::string tail = " " + Size(done) + " of " + Size(total) + ", " + Size(rate) + "/s";
    std::string line = percent;
    const std::size_t used = line.size() + tail.size();
    if (used + 3 + kMinBar <= room) {
        const std::size_t bar = std::min(kMaxBar, room - used - 3);
        const auto filled = static_cast<std::size_t>(fraction * static_cast<double>(bar));
        line += " [" + std::string(filled, '#') + std::string(bar - filled, '.') + "]";
    }
    line += tail;
    if (line.size() > room)
        line.resize(room);
    return line;
}

ProgressMeter::ProgressMeter(const Options& options, std::uint64_t total)
    : enabled_(!options.quiet && isatty(STDERR_FILENO)),
      total_(total),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_) {}

ProgressMeter::~ProgressMeter() {
    Finish();
}

void ProgressMeter::Advance(std::uint64_t bytes) {
    done_ += bytes;
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < kQuietStart || (g_barDrawn && now - lastDraw_ < kRedraw))
        return;
    lastDraw_ = now;
    Draw();
}

void ProgressMeter::Draw() {
    const std::string line =
        "\r" + ProgressLine(TerminalWidth(), done_, total_, SecondsSince(start_)) + "\033[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    g_barDrawn = true;
    interrupt::SetBarDrawn(true);
}

void ProgressMeter::Finish() {
    ClearProgress();
    enabled_ = false;
}

// ---- Names inside a pack ------------------------------------------------------

bool SplitPackPath(std::string_view text, std::vector<std::string>& parts) {
    parts.clear();
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = text.find_first_of("/\\", at);
        const std::string_view part =
            text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (!part.empty()) {
            if (!pack::IsValidEntryName(part))
                return false;
            parts.emplace_back(part);
        }
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    return true;
}

std::string JoinPackPath(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) {
        if (!out.empty())
            out += '/';
        out += p;
    }
    return out;
}

crateforge::CPackFolder* FindPackFolder(crateforge::CPackFolder* root,
                                        const std::vector<std::string>& parts) {
    crateforge::CPackFolder* folder = root;
    for (const std::string& part : parts) {
        if (!folder)
            return nullptr;
        const int i = folder->FindSubfolder(part);
        if (i < 0)
            return nullptr;
        folder = folder->SubfolderAt(i);
    }
    return folder;
}

int OpenPackForChange(crateforge::CPackArchive& archive, const std::string& path) {
    pack::FileSource source;
    pack::Fault fault;
    if (!source.Open(path, fault)) {
        Error(path + ": " + fault.reason);
        return kExitFailure;
    }
    const pack::PackVersion version = pack::ProbeVersion(source);
    source.Close();
    if (version == pack::PackVersion::Old) {
        Error(path + ": a PackFile of the old version " +
              std::string(pack::VersionText(pack::PackVersion::Old)) +
              ", which vpf reads but does not change; convert it first with: vpf convert " + path);
        return kExitFailure;
    }
    if (version != pack::PackVersion::Current) {
        Error(path + ": not a PackFile");
        return kExitFailure;
    }
    if (!archive.Open(path))
        return kExitFailure;  // the archive has said why
    return kExitOk;
}

unsigned EffectiveJobs(const Options& options) {
    if (options.jobs > 0)
        return options.jobs;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

bool StdoutSink::Write(const unsigned char* data, std::size_t length) {
    if (std::fwrite(data, 1, length, stdout) == length)
        return true;
    error_ = errno;
    return false;
}

std::string StdoutSink::Reason() const {
    return std::string(kStdoutName) + ": " + pack::ErrnoText(error_ != 0 ? error_ : EIO);
}

}  // namespace vpf
