// main.cpp - vpf, the command-line tool for packs: argument parsing, help
// and dispatch to the verbs.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "format/PackFormat.h"
#include "platform/FileSystem.h"
#include "tools/Cli.h"
#include "tools/Interrupt.h"

namespace {

using vpf::Options;

constexpr char kHelp[] =
    "Usage: vpf VERB [OPTIONS] PACK [ARGUMENTS]\n"
    "       vpf help VERB  (or vpf VERB --help): the help of one verb\n"
    "\n"
    "Packs a tree of folders and files into one PackFile (.vpf) and gets it back.\n"
    "\n"
    "Verbs:\n"
    "  create PACK PATH...     make a new pack of files and folders (\"-\" as PACK:\n"
    "                          write it to standard output)\n"
    "  add PACK PATH...        add files and folders (makes the pack when missing)\n"
    "  list PACK [NAME...]     list the pack, or the files and folders NAME\n"
    "  extract PACK [NAME...]  write the files (all, or the files and folders NAME)\n"
    "  cat PACK NAME...        write files to standard output\n"
    "  rm PACK NAME...         remove files and folders (with their content)\n"
    "  mv PACK OLD NEW         rename, or move into the existing folder NEW\n"
    "  mkdir PACK FOLDER...    make folders (and the folders above them)\n"
    "  convert OLD [NEW]       convert a pack of version 1.03 to version 2.10\n"
    "                          (default NEW: OLD with the extension .VPF)\n"
    "  check PACK              parse the whole pack strictly and decode every\n"
    "                          file; reports the first fault with its offset, or\n"
    "                          every file that is cut or damaged\n"
    "  mount PACK DIR          show the pack as a read-only file system on DIR\n"
    "                          (fusermount3 -u DIR unmounts it)\n"
    "  help [VERB]             this text, or the help of one verb\n"
    "\n"
    "Paths on disk go into the pack as they are given, relative and without a\n"
    "leading \"/\", as tar stores them: \"vpf create game.vpf assets\" stores\n"
    "assets/..., and \"vpf create game.vpf -C assets .\" stores what assets holds\n"
    "at the root. Folders are packed whole, names beginning with \".\" too; links\n"
    "to folders are followed, except one that leads back up the tree, which is\n"
    "reported.\n"
    "\n"
    "Names inside a pack are paths from its root, with \"/\" or \"\\\" between folders\n"
    "(a/b/c.txt and a\\b\\c.txt are the same); letter case is ignored. NAME/ means\n"
    "the folder only. Quoted wildcards (\"*.txt\", \"docs/*\") match whole paths,\n"
    "\"*\" across folders too. \"-\" as the PACK of list, extract, cat and check\n"
    "reads it from standard input; a FIFO, /dev/stdin or <(...) is read the same\n"
    "way.\n"
    "\n"
    "Options:\n"
    "  -C DIR           create, add: take the paths that follow from the folder\n"
    "                   DIR; extract: write into DIR (made when missing)\n"
    "  --into=FOLDER    create, add: put everything into FOLDER of the pack\n"
    "  -T FILE, --files-from=FILE\n"
    "                   create, add: take paths from FILE, one per line\n"
    "                   (\"-\": standard input)\n"
    "  --null           the paths of -T lists, and the names list prints, end with\n"
    "                   a NUL byte instead of a new line\n"
    "  --exclude=GLOB   create, add: leave out what matches GLOB by its name or by\n"
    "                   its path in the pack (repeatable; GLOB/ means folders)\n"
    "  -n, --dry-run    create, add, extract, rm: say what would be done and\n"
    "                   change nothing\n"
    "  -l               list: original size, packed size, ratio and method\n"
    "  --json           list: one JSON object per line\n"
    "  --file-only      extract, list, rm, mv: a NAME means a file, never a folder\n"
    "  -o DIR, --output=DIR\n"
    "                   extract: the same as -C DIR\n"
    "  --strip-components=N\n"
    "                   extract: leave out the first N folders of every path\n"
    "  --salvage        list, extract, cat: read a pack whose data is cut or\n"
    "                   damaged; whole files are read, the others named (exit 1)\n"
    "  -j N, --jobs=N   code (create, add) and decode (extract, check) on N\n"
    "                   threads; default: the number of cores. The pack is the\n"
    "                   same for every N.\n"
    "  --overwrite      replace what is there already: a file in the pack, a\n"
    "                   regular file on disk, the pack itself for create and\n"
    "                   convert\n"
    "  --keep           create, add, extract: keep what is there already,\n"
    "                   without asking\n"
    "  -f, --foreground mount: serve in the foreground until Ctrl-C\n"
    "  --cache=MIB      mount: MiB of decoded files kept between opens (64)\n"
    "  -q, --quiet      no progress bar, no summary\n"
    "  -v, --verbose    name every file handled (on standard error)\n"
    "  -h, --help       this text\n"
    "  --version        the version\n"
    "\n"
    "Without --overwrite or --keep, vpf asks on the terminal when there is one,\n"
    "and otherwise keeps what is there and says so. Every change is saved\n"
    "atomically: a failed save keeps the previous pack, and an extracted file\n"
    "appears whole or not at all. An interrupt (SIGINT, SIGTERM, SIGHUP) removes\n"
    "the partial files, says what was done and exits with 128 + the signal.\n"
    "\n"
    "Exit status: 0 all was done; 1 something named was not packed, extracted,\n"
    "removed or read (each is named on standard error, and the rest is done and\n"
    "saved); 2 usage error or a terminal given as a pack, nothing was done.\n";

// ---- Verbs -------------------------------------------------------------------

// Each verb's bit; an option lists the verbs that take it.
enum VerbBit : unsigned {
    kCreate = 1u << 0,
    kAdd = 1u << 1,
    kList = 1u << 2,
    kExtract = 1u << 3,
    kCat = 1u << 4,
    kRemove = 1u << 5,
    kMove = 1u << 6,
    kMakeDir = 1u << 7,
    kConvert = 1u << 8,
    kCheck = 1u << 9,
    kMount = 1u << 10,
    kHelpVerb = 1u << 11,
    // The verbs that pack paths from disk: -C and -T keep their place among
    // the paths there.
    kPacking = kCreate | kAdd,
};

struct VerbEntry {
    const char* name;
    int (*run)(const Options&);
    std::size_t minArgs;  // positional arguments after the verb, the pack included
    std::size_t maxArgs;
    unsigned bit;
    const char* help;
};

constexpr std::size_t kMany = static_cast<std::size_t>(-1);

constexpr VerbEntry kVerbs[] = {
    {"create", vpf::RunCreate, 1, kMany, kCreate,
     "Usage: vpf create [OPTIONS] PACK [-C DIR] PATH... [-T FILE]\n"
     "\n"
     "Makes a new pack of the files and folders PATH, stored under their paths as\n"
     "given (relative, without a leading \"/\"). Folders are packed whole, names\n"
     "beginning with \".\" included (--exclude='.*' leaves them out). PACK \"-\"\n"
     "writes the pack to standard output. An existing PACK is replaced only with\n"
     "--overwrite, and only when it is a regular file.\n"
     "\n"
     "  -C DIR          take the paths that follow from DIR; \".\" then packs what\n"
     "                  DIR holds at the root of the pack\n"
     "  --into=FOLDER   put everything into FOLDER of the pack\n"
     "  -T FILE         take paths from FILE (\"-\": standard input), one per line,\n"
     "                  or NUL-terminated with --null\n"
     "  --exclude=GLOB  leave out names or paths in the pack matching GLOB\n"
     "  -n              say what would be packed; write nothing\n"
     "  --overwrite     replace PACK; of two files whose names differ only in\n"
     "                  letter case, pack the later one\n"
     "  --keep          of two such files, pack the first without a word\n"
     "  -j N            code on N threads\n"
     "\n"
     "Names in a pack ignore letter case: two files whose names differ only in\n"
     "case cannot both be packed in one folder. Without --overwrite or --keep\n"
     "the second is named on standard error and not packed (exit status 1).\n"
     "\n"
     "Examples:\n"
     "  vpf create game.vpf assets readme.txt\n"
     "  vpf create game.vpf -C build/assets . --exclude='*.tmp'\n"
     "  vpf create game.vpf assets --exclude='.*'     # without .git, .cache, ...\n"
     "  find assets -name '*.png' -print0 | vpf create -T - --null png.vpf\n"
     "  vpf create - assets | ssh host 'cat > game.vpf'\n"},
    {"add", vpf::RunAdd, 1, kMany, kAdd,
     "Usage: vpf add [OPTIONS] PACK [-C DIR] PATH... [-T FILE]\n"
     "\n"
     "Adds the files and folders PATH to PACK, made when it does not exist yet.\n"
     "Folders already in the pack are merged into. The options are those of\n"
     "create; --overwrite and --keep also settle names the pack holds already.\n"
     "\n"
     "Examples:\n"
     "  vpf add game.vpf --into=levels new-level\n"
     "  vpf add game.vpf --overwrite -C build .\n"},
    {"list", vpf::RunList, 1, kMany, kList,
     "Usage: vpf list [OPTIONS] PACK [NAME...]\n"
     "\n"
     "Lists every file and folder of PACK (\"-\": standard input), or the files\n"
     "and folders NAME with everything inside them. Folders end with \"/\".\n"
     "Only the pack's directory is read, except with --salvage.\n"
     "\n"
     "  -l         original size, packed size, ratio (space saved) and method\n"
     "  --null     exact names, each ended by a NUL byte\n"
     "  --json     one object per line: path, type (file or folder),\n"
     "             originalSize, packedSize and method (null for folders); a path\n"
     "             that is not UTF-8 is given in base64 with \"pathEncoding\":\n"
     "             \"base64\"\n"
     "  --file-only  NAME means a file, never a folder\n"
     "  --salvage  list only the files whose bytes are all there and decode (each\n"
     "             is decoded); name every other one with the reason (exit 1)\n"
     "\n"
     "The plain listing shows control characters as \"?\"; --null and --json\n"
     "give names exactly.\n"},
    {"extract", vpf::RunExtract, 1, kMany, kExtract,
     "Usage: vpf extract [OPTIONS] PACK [-C DIR] [NAME...]\n"
     "\n"
     "Writes every file of PACK (\"-\": standard input), or the files and folders\n"
     "NAME, below DIR (default: the current folder), with the folders they are\n"
     "in. Each file is written through a hidden file beside it and renamed into\n"
     "place when complete.\n"
     "\n"
     "  -C DIR       write into DIR (made when missing); -o DIR is the same\n"
     "  -n           say what would be written; write nothing\n"
     "  --overwrite  replace existing regular files (a link to one is replaced by\n"
     "               the file; what it pointed to is left alone)\n"
     "  --keep       keep existing files without a word\n"
     "  --file-only  NAME means a file, never a folder\n"
     "  --strip-components=N\n"
     "               leave out the first N folders of every path, as tar does;\n"
     "               a file with no more than N folders above it is left out\n"
     "  --salvage    read a pack whose directory is whole but whose data is cut\n"
     "               or damaged: write every file that is whole, name the others\n"
     "  -j N         decode on N threads\n"
     "\n"
     "A NAME that is both a file and a folder is refused: NAME/ means the\n"
     "folder, --file-only the file.\n"
     "\n"
     "Examples:\n"
     "  vpf extract game.vpf -C out 'levels/*'\n"
     "  vpf extract --strip-components=1 game.vpf -C out\n"
     "  vpf extract --salvage cut.vpf -C rescued\n"},
    {"cat", vpf::RunCat, 2, kMany, kCat,
     "Usage: vpf cat [OPTIONS] PACK NAME...\n"
     "\n"
     "Writes the files NAME of PACK (\"-\": standard input) to standard output, one\n"
     "after the other, decoding as it goes.\n"
     "\n"
     "  --salvage  read a pack whose data is cut or damaged; files that are not\n"
     "             whole are named, not written (exit 1)\n"
     "\n"
     "Example (quoted: the shell takes backslashes away):\n"
     "  vpf cat game.vpf 'levels\\1\\map.txt' > map.txt\n"},
    {"rm", vpf::RunRemove, 2, kMany, kRemove,
     "Usage: vpf rm [OPTIONS] PACK NAME...\n"
     "\n"
     "Removes the files and folders NAME, folders with everything inside them.\n"
     "A NAME that is both a file and a folder is refused: NAME/ means the folder,\n"
     "--file-only the file.\n"
     "\n"
     "  -n           say what would be removed; change nothing\n"
     "  --file-only  NAME means a file, never a folder\n"},
    {"mv", vpf::RunMove, 3, 3, kMove,
     "Usage: vpf mv [OPTIONS] PACK OLD NEW\n"
     "\n"
     "Renames the file or folder OLD to NEW, or moves it into NEW when NEW is an\n"
     "existing folder (NEW/ must be one); NEW that differs from OLD only in letter\n"
     "case renames it. A name that is both a file and a folder is refused: OLD/\n"
     "means the folder, --file-only the file.\n"},
    {"mkdir", vpf::RunMakeDir, 2, kMany, kMakeDir,
     "Usage: vpf mkdir [OPTIONS] PACK FOLDER...\n"
     "\n"
     "Makes the folders FOLDER in PACK, and the folders above them.\n"},
    {"convert", vpf::RunConvert, 1, 2, kConvert,
     "Usage: vpf convert [OPTIONS] OLD [NEW]\n"
     "\n"
     "Converts the pack OLD of version 1.03 into a pack NEW of version 2.10\n"
     "(default: OLD with the extension .VPF). OLD is left as it is. The other\n"
     "verbs read old packs directly but change only packs of version 2.10.\n"
     "\n"
     "  --overwrite  replace NEW when it exists (only a regular file)\n"},
    {"check", vpf::RunCheck, 1, 1, kCheck,
     "Usage: vpf check [OPTIONS] PACK\n"
     "\n"
     "Parses the whole of PACK (\"-\": standard input) strictly and decodes every\n"
     "file. Prints \"PACK: OK, ...\", or the first fault of its layout with its\n"
     "offset, or every file whose data is cut away or does not decode, each with\n"
     "its reason and offset, and how many files are whole (extract --salvage\n"
     "writes those). A check that this machine could not finish (no memory, an\n"
     "unreadable file, no temporary folder for a pack read from a pipe) says so;\n"
     "it never calls such a pack damaged.\n"
     "\n"
     "  -j N  decode on N threads\n"},
    {"mount", vpf::RunMount, 2, 2, kMount,
     "Usage: vpf mount [OPTIONS] PACK DIR\n"
     "\n"
     "Shows PACK as a read-only file system on the folder DIR, for any program\n"
     "to read: every folder and file with its original size, folders 0555 and\n"
     "files 0444, with the pack file's times. Names are found in any letter case,\n"
     "as the pack finds them; listings show them as stored. Names holding \"\\\" or\n"
     "\"/\" become folders, as extract writes them; a name extract would not write\n"
     "(\"..\", an empty folder name) is not shown and is named on standard error.\n"
     "Writing, renaming and removing fail (read-only file system).\n"
     "\n"
     "vpf returns once the file system is mounted and serves it in the background\n"
     "until \"fusermount3 -u DIR\" unmounts it. No special rights are needed.\n"
     "\n"
     "  -f           serve in the foreground; Ctrl-C unmounts\n"
     "  --cache=MIB  keep up to MIB MiB of decoded files between opens (default\n"
     "               64); a coded file is decoded whole when it is opened\n"
     "  -v           say where the pack is mounted\n"
     "\n"
     "Stored files are read in place. A pack replaced on disk while mounted (as\n"
     "vpf and crateforge save) is served as it was mounted; once one is changed\n"
     "in place, reads that need it fail with an input/output error.\n"
     "\n"
     "Exit status: 0 mounted; 1 not mounted, or mounted with some names not\n"
     "shown (each named on standard error); 2 usage error.\n"
     "\n"
     "Examples:\n"
     "  mkdir -p /tmp/game && vpf mount game.vpf /tmp/game\n"
     "  diff -r /tmp/game assets && fusermount3 -u /tmp/game\n"},
    {"help", nullptr, 0, 1, kHelpVerb,
     "Usage: vpf help [VERB]\n"
     "\n"
     "Shows the help of vpf, or of one verb.\n"},
};

const VerbEntry* FindVerb(std::string_view name) {
    for (const VerbEntry& v : kVerbs)
        if (name == v.name)
            return &v;
    return nullptr;
}

// Edits (insert, delete, replace, swap two neighbours) from a to b.
std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

int Usage(const std::string& text) {
    vpf::Error(text + "; see vpf --help");
    return vpf::kExitUsage;
}

int UnknownVerb(const std::string& verb) {
    const VerbEntry* best = nullptr;
    std::size_t bestDistance = 3;  // farther than two edits is no typo
    for (const VerbEntry& v : kVerbs) {
        const std::size_t d = EditDistance(verb, v.name);
        if (d < bestDistance && d < std::max<std::size_t>(std::strlen(v.name), 2)) {
            best = &v;
            bestDistance = d;
        }
    }
    if (best)
        vpf::Error("unknown verb \"" + verb + "\"; did you mean \"" + best->name +
                   "\"? (vpf --help lists the verbs)");
    else
        vpf::Error("unknown verb \"" + verb + "\" (vpf --help lists the verbs)");
    return vpf::kExitUsage;
}

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

bool ParseCount(std::string_view text, unsigned most, unsigned& count) {
    if (text.empty() || text.size() > 5)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > most)
        return false;
    count = value;
    return true;
}

bool ParseCache(std::string_view text, std::uint64_t& mib) {
    if (text.empty() || text.size() > 7)
        return false;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 1048576)
        return false;
    mib = value;
    return true;
}

// The folder -C names, after the -C options before it ("-C a -C b" is a/b).
std::string ChangeDir(const std::string& current, const std::string& dir) {
    if (current.empty() || (!dir.empty() && dir.front() == '/'))
        return dir;
    return crateforge::fs::JoinPath(current, dir);
}

// One thing on the command line that keeps its place among the others.
struct Event {
    enum class Kind { Positional, ChangeDir, FilesFrom } kind;
    std::string text;
};

// What the options gather before the verb is known.
struct Parsed {
    Options options;
    std::vector<Event> events;
    bool help = false;
    bool version = false;
    bool overwrite = false;
    bool keep = false;
};

// Applies an option's value; kExitOk, or kExitUsage after saying why.
using Apply = int (*)(Parsed& parsed, const std::string& value);

template <bool Options::*member>
int SetOption(Parsed& parsed, const std::string&) {
    parsed.options.*member = true;
    return vpf::kExitOk;
}

template <bool Parsed::*member>
int SetParsed(Parsed& parsed, const std::string&) {
    parsed.*member = true;
    return vpf::kExitOk;
}

int AddChangeDir(Parsed& parsed, const std::string& value) {
    parsed.events.push_back({Event::Kind::ChangeDir, value});
    return vpf::kExitOk;
}

// Every option: its spellings, whether it takes a value, the verbs that take
// it and what it sets. Parsing and the verb check read nothing else.
struct OptionForm {
    char shortName;        // 0: none
    const char* longName;  // nullptr: none
    bool takesValue;
    unsigned verbs;  // 0: every verb
    Apply apply;
};

constexpr OptionForm kOptions[] = {
    {'C', nullptr, true, kPacking | kExtract, AddChangeDir},
    {0, "into", true, kPacking,
     [](Parsed& p, const std::string& value) {
         p.options.into = value;
         p.options.haveInto = true;
         return int{vpf::kExitOk};
     }},
    {'T', "files-from", true, kPacking,
     [](Parsed& p, const std::string& value) {
         p.events.push_back({Event::Kind::FilesFrom, value});
         return int{vpf::kExitOk};
     }},
    {0, "null", false, kPacking | kList, SetOption<&Options::nullSeparated>},
    {0, "exclude", true, kPacking,
     [](Parsed& p, const std::string& value) {
         if (value.empty())
             return Usage("--exclude needs a pattern");
         p.options.excludes.push_back(value);
         return int{vpf::kExitOk};
     }},
    {'n', "dry-run", false, kPacking | kExtract | kRemove, SetOption<&Options::dryRun>},
    {'l', nullptr, false, kList, SetOption<&Options::longList>},
    {0, "json", false, kList, SetOption<&Options::json>},
    {0, "file-only", false, kList | kExtract | kRemove | kMove, SetOption<&Options::fileOnly>},
    {'o', "output", true, kExtract, AddChangeDir},  // -C by another name
    {'j', "jobs", true, kPacking | kExtract | kCheck,
     [](Parsed& p, const std::string& value) {
         if (!ParseJobs(value, p.options.jobs))
             return Usage("-j: \"" + value + "\" is not a number of threads from 1 to 256");
         return int{vpf::kExitOk};
     }},
    {0, "overwrite", false, kPacking | kExtract | kConvert, SetParsed<&Parsed::overwrite>},
    {0, "keep", false, kPacking | kExtract, SetParsed<&Parsed::keep>},
    {'f', "foreground", false, kMount, SetOption<&Options::foreground>},
    {0, "cache", true, kMount,
     [](Parsed& p, const std::string& value) {
         if (!ParseCache(value, p.options.cacheMiB))
             return Usage("--cache: \"" + value + "\" is not a number of MiB from 0 to 1048576");
         return int{vpf::kExitOk};
     }},
    {0, "strip-components", true, kExtract,
     [](Parsed& p, const std::string& value) {
         if (!ParseCount(value, 65535, p.options.stripComponents))
             return Usage("--strip-components: \"" + value +
                          "\" is not a number of folders from 0 to 65535");
         return int{vpf::kExitOk};
     }},
    {0, "salvage", false, kList | kExtract | kCat, SetOption<&Options::salvage>},
    {'q', "quiet", false, 0, SetOption<&Options::quiet>},
    {'v', "verbose", false, 0, SetOption<&Options::verbose>},
    {'h', "help", false, 0, SetParsed<&Parsed::help>},
    {0, "version", false, 0, SetParsed<&Parsed::version>},
};

std::string Spelling(const OptionForm& form) {
    return form.longName ? std::string("--") + form.longName : std::string("-") + form.shortName;
}

}  // namespace

int main(int argc, char** argv) {
    // A file-size limit must fail a write with EFBIG, which is reported,
    // rather than kill the tool halfway.
    std::signal(SIGXFSZ, SIG_IGN);
    vpf::interrupt::Install();

    Parsed parsed;
    Options& options = parsed.options;
    std::vector<Event>& events = parsed.events;
    std::vector<const OptionForm*> seen;
    bool endOfOptions = false;
    auto apply = [&](const OptionForm& form, const std::string& value) {
        seen.push_back(&form);
        return form.apply(parsed, value);
    };

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (endOfOptions || arg.size() < 2 || arg[0] != '-') {
            events.push_back({Event::Kind::Positional, arg});
            continue;
        }
        if (arg == "--") {
            endOfOptions = true;
            continue;
        }
        if (arg.starts_with("--")) {
            const std::size_t eq = arg.find('=');
            const std::string name =
                arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const OptionForm* form = nullptr;
            for (const OptionForm& s : kOptions)
                if (s.longName && name == s.longName)
                    form = &s;
            if (!form)
                return Usage("unknown option " + arg.substr(0, eq));
            std::string value;
            if (form->takesValue) {
                if (eq != std::string::npos)
                    value = arg.substr(eq + 1);
                else if (i + 1 < argc)
                    value = argv[++i];
                else
                    return Usage(arg + " needs a value");
            } else if (eq != std::string::npos) {
                return Usage("the option --" + name + " takes no value");
            }
            if (const int rc = apply(*form, value); rc != vpf::kExitOk)
                return rc;
            continue;
        }
        // Short options, possibly several in one word ("-qn"); one that takes
        // a value takes the rest of the word or the next argument.
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const OptionForm* form = nullptr;
            for (const OptionForm& s : kOptions)
                if (s.shortName == arg[k])
                    form = &s;
            if (!form)
                return Usage("unknown option -" + std::string(1, arg[k]) +
                             (arg.size() > 2 ? " (in " + arg + ")" : ""));
            std::string value;
            if (form->takesValue) {
                if (k + 1 < arg.size())
                    value = arg.substr(k + 1);
                else if (i + 1 < argc)
                    value = argv[++i];
                else
                    return Usage("-" + std::string(1, arg[k]) + " needs a value");
                k = arg.size();
            }
            if (const int rc = apply(*form, value); rc != vpf::kExitOk)
                return rc;
        }
    }

    if (parsed.version) {
        std::printf("vpf %s (PackFile version %s)\n", vpf::kToolVersion,
                    std::string(pack::VersionText(pack::PackVersion::Current)).c_str());
        return vpf::kExitOk;
    }

    // The verb is the first positional argument.
    std::size_t first = events.size();
    for (std::size_t k = 0; k < events.size(); ++k)
        if (events[k].kind == Event::Kind::Positional) {
            first = k;
            break;
        }
    if (first == events.size()) {
        if (parsed.help) {
            std::fputs(kHelp, stdout);
            return vpf::kExitOk;
        }
        return Usage("no verb given");
    }
    options.verb = events[first].text;
    events.erase(events.begin() + static_cast<std::ptrdiff_t>(first));
    const VerbEntry* chosen = FindVerb(options.verb);
    if (!chosen)
        return UnknownVerb(options.verb);
    if (parsed.help || options.verb == "help") {
        const VerbEntry* about = chosen;
        if (options.verb == "help") {
            std::vector<std::string> rest;
            for (const Event& e : events)
                if (e.kind == Event::Kind::Positional)
                    rest.push_back(e.text);
            if (rest.size() > 1)
                return Usage("help: one verb at a time");
            if (rest.empty()) {
                std::fputs(kHelp, stdout);
                return vpf::kExitOk;
            }
            about = FindVerb(rest.front());
            if (!about)
                return UnknownVerb(rest.front());
        }
        std::fputs(about->help, stdout);
        if (std::string_view(about->name) != "help")
            std::fputs(
                "\nCommon options: -q (no progress, no summary), -v (name every file); "
                "vpf --help lists all.\n",
                stdout);
        return vpf::kExitOk;
    }

    // Every option must be one the verb takes.
    for (const OptionForm* form : seen) {
        if (form->verbs != 0 && (form->verbs & chosen->bit) == 0)
            return Usage("the option " + Spelling(*form) + " does not apply to " + options.verb);
    }
    if (parsed.overwrite && parsed.keep)
        return Usage("--overwrite and --keep exclude each other");
    options.replace = parsed.overwrite ? vpf::ReplacePolicy::Overwrite
                      : parsed.keep    ? vpf::ReplacePolicy::Keep
                                       : vpf::ReplacePolicy::Ask;
    if (options.json && (options.nullSeparated || options.longList))
        return Usage("list --json gives every field already; leave out --null and -l");

    // Positional arguments, -C and -T in their order.
    const bool gathersInputs = (chosen->bit & kPacking) != 0;
    std::string dir;
    for (const Event& e : events) {
        switch (e.kind) {
            case Event::Kind::ChangeDir:
                if (gathersInputs)
                    dir = ChangeDir(dir, e.text);
                else {
                    options.outputDir = ChangeDir(options.outputDir, e.text);
                    options.haveOutputDir = true;
                }
                break;
            case Event::Kind::FilesFrom:
                options.inputs.push_back({vpf::InputArg::Kind::FilesFrom, e.text, dir});
                break;
            case Event::Kind::Positional:
                if (gathersInputs && !options.args.empty())
                    options.inputs.push_back({vpf::InputArg::Kind::Path, e.text, dir});
                else
                    options.args.push_back(e.text);
                break;
        }
    }
    if (options.args.size() < chosen->minArgs)
        return Usage(options.verb + ": too few arguments");
    if (options.args.size() > chosen->maxArgs)
        return Usage(options.verb + ": too many arguments");
    if (gathersInputs && options.inputs.empty())
        return Usage(options.verb + ": no paths to pack (give PATH... or -T FILE)");
    return chosen->run(options);
}
