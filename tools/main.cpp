// main.cpp - vpf, the command-line tool for packs: argument parsing, help
// and dispatch to the verbs.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "format/PackFormat.h"
#include "tools/Cli.h"

namespace {

using vpf::Options;

constexpr char kHelp[] =
    "Usage: vpf VERB [OPTIONS] ARGUMENTS\n"
    "\n"
    "Packs a tree of folders and files into one PackFile (.vpf) and gets it back.\n"
    "\n"
    "Verbs:\n"
    "  create PACK PATH...          make a new pack of files and folders (into its root)\n"
    "  add PACK [-C DIR] PATH...    add files and folders, into folder DIR of the pack\n"
    "  list PACK [-l]               list files and folders; -l: original size, packed\n"
    "                               size, ratio (space saved) and method\n"
    "  extract PACK [-o DIR] [NAME...]\n"
    "                               write files (all, or the files and folders NAME)\n"
    "                               below DIR (default: the current folder)\n"
    "  cat PACK NAME                write one file to standard output\n"
    "  rm PACK NAME...              remove files and folders (with their content)\n"
    "  mv PACK OLD NEW              rename, or move into the existing folder NEW\n"
    "  mkdir PACK DIR...            make folders (and the folders above them)\n"
    "  convert OLD.dat [NEW.vpf]    convert a pack of version 1.03 to version 2.10\n"
    "                               (default NEW: OLD with the extension .VPF)\n"
    "  check PACK                   parse the whole pack strictly and decode every\n"
    "                               file; reports the first fault with its offset\n"
    "\n"
    "Names inside a pack are paths from its root, with \"/\" or \"\\\" between folders\n"
    "(a/b/c.txt and a\\b\\c.txt are the same); letter case is ignored.\n"
    "Folders on disk are packed whole: names beginning with \".\" too, and links\n"
    "to folders are followed, except one that leads back up the tree, which is\n"
    "reported.\n"
    "\n"
    "Options:\n"
    "  -j N, --jobs=N   code (create, add) and decode (extract, check) on N threads;\n"
    "                   default: the number of cores. The pack is the same for every N.\n"
    "  --overwrite      replace existing files (in the pack, on disk, or the pack\n"
    "                   itself for create and convert) without asking\n"
    "  --keep           keep existing files without asking\n"
    "                   Without either, vpf asks when standard input is a terminal and\n"
    "                   otherwise keeps the existing file with a warning.\n"
    "  -q, --quiet      no progress bar, no summary\n"
    "  -v, --verbose    name every file handled (on standard error)\n"
    "  -h, --help       this text\n"
    "  --version        the version\n"
    "\n"
    "A progress bar is shown on standard error when it is a terminal and the work\n"
    "takes a while. Every change is saved atomically: a failed save keeps the\n"
    "previous pack.\n"
    "\n"
    "Exit status: 0 success; 1 failure (a damaged pack, a name not found, a file\n"
    "that could not be read or written); 2 usage error.\n";

int Usage(const std::string& text) {
    vpf::Error(text + "; see vpf --help");
    return vpf::kExitUsage;
}

struct VerbEntry {
    const char* name;
    int (*run)(const Options&);
    std::size_t minArgs;
    std::size_t maxArgs;
};

constexpr std::size_t kMany = static_cast<std::size_t>(-1);

constexpr VerbEntry kVerbs[] = {
    {"create", vpf::RunCreate, 2, kMany}, {"add", vpf::RunAdd, 2, kMany},
    {"list", vpf::RunList, 1, 1},         {"extract", vpf::RunExtract, 1, kMany},
    {"cat", vpf::RunCat, 2, 2},           {"rm", vpf::RunRemove, 2, kMany},
    {"mv", vpf::RunMove, 3, 3},           {"mkdir", vpf::RunMakeDir, 2, kMany},
    {"convert", vpf::RunConvert, 1, 2},   {"check", vpf::RunCheck, 1, 1},
};

bool ParseJobs(std::string_view text, unsigned& jobs) {
    if (text.empty() || text.size() > 4)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < 1 || value > 256)
        return false;
    jobs = value;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit must fail a write with EFBIG, which is reported,
    // rather than kill the tool halfway.
    std::signal(SIGXFSZ, SIG_IGN);
    Options options;
    std::vector<std::string> positional;
    bool help = false, version = false, endOfOptions = false;
    bool sawOverwrite = false, sawKeep = false;
    std::vector<std::string> seenVerbOptions;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const std::string& option, std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            (void)option;
            return true;
        };
        if (endOfOptions || arg.empty() || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
        } else if (arg == "--") {
            endOfOptions = true;
        } else if (arg == "-h" || arg == "--help") {
            help = true;
        } else if (arg == "--version") {
            version = true;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--overwrite") {
            sawOverwrite = true;
        } else if (arg == "--keep") {
            sawKeep = true;
        } else if (arg == "-l") {
            options.longList = true;
            seenVerbOptions.push_back("-l");
        } else if (arg == "-j" || arg == "--jobs" || arg.starts_with("-j") ||
                   arg.starts_with("--jobs=")) {
            std::string text;
            if (arg == "-j" || arg == "--jobs") {
                if (!value(arg, text))
                    return Usage(arg + " needs a number");
            } else {
                text = arg.starts_with("--jobs=") ? arg.substr(7) : arg.substr(2);
            }
            if (!ParseJobs(text, options.jobs))
                return Usage("-j: \"" + text + "\" is not a number of threads from 1 to 256");
        } else if (arg == "-o" || arg == "--output" || arg.starts_with("--output=") ||
                   (arg.starts_with("-o") && arg.size() > 2)) {
            if (arg == "-o" || arg == "--output") {
                if (!value(arg, options.outputDir))
                    return Usage(arg + " needs a folder");
            } else {
                options.outputDir = arg.starts_with("--output=") ? arg.substr(9) : arg.substr(2);
            }
            options.haveOutputDir = true;
            seenVerbOptions.push_back("-o");
        } else if (arg == "-C" || (arg.starts_with("-C") && arg.size() > 2)) {
            if (arg == "-C") {
                if (!value(arg, options.packDir))
                    return Usage("-C needs a folder inside the pack");
            } else {
                options.packDir = arg.substr(2);
            }
            options.havePackDir = true;
            seenVerbOptions.push_back("-C");
        } else {
            return Usage("unknown option " + arg);
        }
    }
    if (help) {
        std::fputs(kHelp, stdout);
        return vpf::kExitOk;
    }
    if (version) {
        std::printf("vpf %s (PackFile version %s)\n", vpf::kToolVersion,
                    std::string(pack::VersionText(pack::PackVersion::Current)).c_str());
        return vpf::kExitOk;
    }
    if (positional.empty())
        return Usage("no verb given");
    if (sawOverwrite && sawKeep)
        return Usage("--overwrite and --keep exclude each other");
    options.replace = sawOverwrite ? vpf::ReplacePolicy::Overwrite
                      : sawKeep    ? vpf::ReplacePolicy::Keep
                                   : vpf::ReplacePolicy::Ask;
    options.verb = positional.front();
    options.args.assign(positional.begin() + 1, positional.end());

    const VerbEntry* chosen = nullptr;
    for (const VerbEntry& v : kVerbs)
        if (options.verb == v.name)
            chosen = &v;
    if (!chosen)
        return Usage("unknown verb \"" + options.verb + "\"");
    for (const std::string& o : seenVerbOptions) {
        const bool fits = (o == "-l" && options.verb == "list") ||
                          (o == "-o" && options.verb == "extract") ||
                          (o == "-C" && options.verb == "add");
        if (!fits)
            return Usage("the option " + o + " does not apply to " + options.verb);
    }
    if (options.args.size() < chosen->minArgs)
        return Usage(options.verb + ": too few arguments");
    if (options.args.size() > chosen->maxArgs)
        return Usage(options.verb + ": too many arguments");
    return chosen->run(options);
}
