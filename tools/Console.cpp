// Console.cpp - console services of the vpf tool: messages, questions,
// progress, names inside a pack, opening packs.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <thread>

#include "archive/PackArchive.h"
#include "archive/PackFolder.h"
#include "format/Names.h"
#include "platform/FileSystem.h"
#include "tools/Cli.h"

namespace vpf {

using crateforge::MessageAnswer;
using crateforge::MessageButtons;

std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = '?';
    }
    return out;
}

void Error(std::string_view text) {
    std::string line = "vpf: " + Printable(text) + "\n";
    std::fputs(line.c_str(), stderr);
}

bool ConsoleMessages::DecideReplace(std::string_view what, std::string_view question) {
    switch (options_.replace) {
        case ReplacePolicy::Overwrite:
            return true;
        case ReplacePolicy::Keep:
            if (options_.verbose)
                Error(packPath_ + ": kept the existing " + std::string(what));
            return false;
        case ReplacePolicy::Ask:
            break;
    }
    if (replaceAll_)
        return true;
    if (keepAll_)
        return false;
    if (!isatty(STDIN_FILENO)) {
        Error(packPath_ + ": kept the existing " + std::string(what) +
              " (use --overwrite to replace it, --keep to keep it silently)");
        return false;
    }
    for (;;) {
        std::string prompt = "vpf: " + Printable(question) + " [y]es, [n]o, [A]ll, [N]one: ";
        std::fputs(prompt.c_str(), stderr);
        std::fflush(stderr);
        std::string answer;
        if (!std::getline(std::cin, answer)) {
            keepAll_ = true;
            std::fputs("\n", stderr);
            return false;
        }
        if (answer == "y" || answer == "Y" || answer == "yes")
            return true;
        if (answer == "n" || answer == "no" || answer.empty())
            return false;
        if (answer == "A" || answer == "all") {
            replaceAll_ = true;
            return true;
        }
        if (answer == "N" || answer == "none") {
            keepAll_ = true;
            return false;
        }
    }
}

MessageAnswer ConsoleMessages::ShowMessage(std::string_view caption, std::string_view text,
                                           MessageButtons buttons) {
    if (caption == crateforge::kWarningCaption) {
        // A question that no verb settles beforehand: printed, and answered
        // the safe way (nothing replaced, nothing converted). Name clashes
        // never come here; the verbs settle them through the archive's
        // structured answers.
        Error(packPath_ + ": " + std::string(text));
        return buttons == MessageButtons::YesNoCancel ? MessageAnswer::Cancel : MessageAnswer::No;
    }
    ++errors_;
    Error(text);
    return MessageAnswer::Ok;
}

// ---- Progress -----------------------------------------------------------------

namespace {
constexpr auto kQuietStart = std::chrono::milliseconds(500);
constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr int kBarWidth = 30;

std::string Mebibytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    return text;
}
}  // namespace

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
    if (enabled_)
        Draw(false);
}

void ProgressMeter::Draw(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && (now - start_ < kQuietStart || now - lastDraw_ < kRedraw))
        return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double fraction =
        total_ == 0 ? 1.0
                    : static_cast<double>(std::min(done_, total_)) / static_cast<double>(total_);
    const int filled = static_cast<int>(fraction * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    char line[160];
    std::snprintf(line, sizeof line, "\r%3d%% [%s] %s / %s  %s/s\033[K",
                  static_cast<int>(fraction * 100.0), bar.c_str(),
                  Mebibytes(static_cast<double>(done_)).c_str(),
                  Mebibytes(static_cast<double>(total_)).c_str(),
                  Mebibytes(seconds > 0 ? static_cast<double>(done_) / seconds : 0.0).c_str());
    std::fputs(line, stderr);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressMeter::Finish() {
    if (drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }
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
        folder = folder->subfolders[static_cast<std::size_t>(i)].get();
    }
    return folder;
}

int OpenPack(crateforge::CPackArchive& archive, const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Error(path + ": " + crateforge::fs::ErrnoText(errno));
        return kExitFailure;
    }
    close(fd);
    if (crateforge::CPackArchive::IsOldPack(path)) {
        Error(path + ": a PackFile of the old version " +
              std::string(pack::VersionText(pack::PackVersion::Old)) +
              "; convert it first with: vpf convert " + path);
        return kExitFailure;
    }
    if (!crateforge::CPackArchive::IsCurrentPack(path)) {
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

}  // namespace vpf
