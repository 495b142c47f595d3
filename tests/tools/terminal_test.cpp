// vpf on a terminal: a question goes to the terminal itself, on a line of
// its own, never to a redirected standard error; a pack is never written to
// a terminal. Each run is a real vpf on a pseudo-terminal.
#include <poll.h>
#include <pty.h>

#include "tests/tools/VpfRunner.h"

namespace vpftest {
namespace {

struct TerminalRun {
    int code = -1;
    std::string screen;  // everything the terminal showed
    std::string err;     // standard error, redirected to a file
};

class TerminalTest : public VpfTest {
  protected:
    // Runs vpf on a new terminal of 60 columns with standard error in a
    // file; whenever the screen ends with `prompt`, types the next answer.
    TerminalRun RunOnTerminal(const std::vector<std::string>& args, const std::string& prompt,
                              std::vector<std::string> answers) {
        std::vector<std::string> all{VPF_BINARY};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string errPath = Path(".err");
        struct winsize size {};
        size.ws_row = 24;
        size.ws_col = 60;
        int master = -1;
        const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
        if (pid == 0) {
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err < 0 || chdir(dir_.Path().c_str()) != 0)
                _exit(126);
            dup2(err, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        TerminalRun run;
        std::size_t answered = 0;  // prompts answered so far
        for (;;) {
            struct pollfd p {
                master, POLLIN, 0
            };
            if (poll(&p, 1, 20000) <= 0)
                break;  // nothing for 20 s: give up (the test then fails)
            char buffer[4096];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;  // the child closed the terminal
            run.screen.append(buffer, static_cast<std::size_t>(n));
            std::size_t prompts = 0;
            for (std::size_t at = run.screen.find(prompt); at != std::string::npos;
                 at = run.screen.find(prompt, at + 1))
                ++prompts;
            if (prompts > answered && !answers.empty()) {
                const std::string line = answers.front() + "\n";
                answers.erase(answers.begin());
                EXPECT_EQ(write(master, line.data(), line.size()),
                          static_cast<ssize_t>(line.size()));
                answered = prompts;
            }
        }
        int status = 0;
        waitpid(pid, &status, 0);
        close(master);
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
        run.err = ReadText(errPath);
        return run;
    }
};

TEST_F(TerminalTest, QuestionsGoToTheTerminalNotToStandardError) {
    MakeTree();
    ASSERT_EQ(Run({"create", "-q", "p.vpf", "-C", "src", "a.txt", "sub"}).code, 0);
    MakeDir("o");
    MakeDir("o/sub");
    Write("o/a.txt", "mine");
    Write("o/sub/n.txt", "my numbers");
    const std::string suffix = " [y]es, [n]o, [A]ll, [N]one: ";
    TerminalRun run = RunOnTerminal({"extract", "-q", "p.vpf", "-C", "o"}, suffix, {"y", "n"});
    EXPECT_EQ(run.code, 0) << run.screen << run.err;
    // Each question starts a line of its own and waits there for the answer.
    EXPECT_EQ(run.screen.rfind("vpf: Replace the existing file o/a.txt?" + suffix, 0), 0u)
        << run.screen;
    EXPECT_NE(run.screen.find("\r\nvpf: Replace the existing file o/sub/n.txt?" + suffix),
              std::string::npos)
        << run.screen;
    EXPECT_EQ(run.err, "");  // nothing went to the redirected standard error
    EXPECT_EQ(ReadString("o/a.txt"), "hello\n");
    EXPECT_EQ(ReadString("o/sub/n.txt"), "my numbers");  // answered no: kept, no failure

    // "A" answers every later question too.
    Write("o/a.txt", "mine again");
    Write("o/sub/n.txt", "my numbers again");
    run = RunOnTerminal({"extract", "-q", "p.vpf", "-C", "o"}, suffix, {"A"});
    EXPECT_EQ(run.code, 0) << run.screen << run.err;
    EXPECT_EQ(ReadString("o/a.txt"), "hello\n");
    EXPECT_EQ(Read("o/sub/n.txt"), Read("src/sub/n.txt"));
}

TEST_F(TerminalTest, APackIsNeverWrittenToATerminal) {
    MakeTree();
    const TerminalRun run = RunOnTerminal({"create", "-", "src"}, "", {});
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(
        run.err,
        "vpf: refusing to write a pack to a terminal; redirect standard output or name a pack "
        "file\n");
    EXPECT_EQ(run.screen, "");
    // Nor read from one, by any name: vpf does not wait for a pack to be
    // typed. A usage error, as for writing.
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"list", "-"},
                                               {"check", "-"},
                                               {"extract", "-", "-C", "out"},
                                               {"cat", "/dev/stdin", "a.txt"}}) {
        const TerminalRun read = RunOnTerminal(args, "", {});
        EXPECT_EQ(read.code, 2) << args[0];
        const std::string name = args[1] == "-" ? "standard input" : args[1];
        EXPECT_EQ(read.err, "vpf: " + name +
                                ": a terminal, not a pack; pipe a pack into vpf or redirect one\n")
            << args[0];
    }
    EXPECT_FALSE(Exists("out"));
}

// Names that would rewrite a terminal are escaped there, as tar quotes
// them; through a pipe, --null and --json the bytes stay as stored.
TEST_F(TerminalTest, NamesAreEscapedOnATerminalAndExactElsewhere) {
    struct Name {
        std::string stored;
        std::string shown;
    };
    const Name names[] = {
        {"clear\x1b[2Jb", "clear\\033[2Jb"},
        {"cr\rover", "cr\\rover"},
        {"tab\tbell\a", "tab\\tbell\\a"},
        {"del\x7f", "del\\177"},
        {"csi\xc2\x9b", "csi\\302\\233"},  // U+009B in UTF-8
        {"rawcsi\x9b", "rawcsi\\233"},     // the same C1 byte alone
        {"rlo\xe2\x80\xae"
         "txt.exe",
         "rlo\\342\\200\\256txt.exe"},                      // U+202E
        {"isolate\xe2\x81\xa6", "isolate\\342\\201\\246"},  // U+2066
        {"back\\slash", "back\\\\slash"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},  // printable UTF-8 stays
        {"latin\xe9", "latin\xe9"},      // as does a Latin-1 letter
    };
    testpacks::Folder root;
    for (const Name& n : names)
        root.files.push_back(testpacks::File(n.stored, testpacks::ToBytes("x")));
    Write("h.vpf", testpacks::BuildPack(root));

    const TerminalRun run = RunOnTerminal({"list", "-q", "h.vpf"}, "", {});
    EXPECT_EQ(run.code, 0) << run.err;
    std::string expected;
    for (const Name& n : names)
        expected += n.shown + "\r\n";
    EXPECT_EQ(run.screen, expected);

    std::string exact;
    for (const Name& n : names)
        exact += n.stored + "\n";
    EXPECT_EQ(Run({"list", "-q", "h.vpf"}).out, exact);
    std::string nul;
    for (const Name& n : names)
        nul += n.stored + '\0';
    EXPECT_EQ(Run({"list", "-q", "--null", "h.vpf"}).out, nul);
    const std::string json = Run({"list", "-q", "--json", "h.vpf"}).out;
    EXPECT_NE(json.find(R"("path":"back\\slash")"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("path":"clear\u001b[2Jb")"), std::string::npos) << json;

    // Messages are escaped wherever they go.
    const RunResult missing = Run({"cat", "-q", "h.vpf", "no\x1b]0;such\a"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "vpf: h.vpf: no file named no\\033]0;such\\a\n");
}

}  // namespace
}  // namespace vpftest
