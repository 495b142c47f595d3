// Usage errors, help and version of the vpf binary.
#include "Version.h"
#include "tests/tools/VpfRunner.h"

namespace vpftest {
namespace {

class CliTest : public VpfTest {};

TEST_F(CliTest, UsageErrorsExitWithTwoAndOneLine) {
    Write("p.vpf", "");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate", "p.vpf"},
        {"list"},
        {"mv", "p.vpf", "a", "b", "c"},
        {"cat", "p.vpf"},
        {"mv", "p.vpf", "a"},
        {"create", "p.vpf"},
        {"list", "p.vpf", "--bogus"},
        {"extract", "p.vpf", "-l"},
        {"list", "p.vpf", "-o", "out"},
        {"create", "q.vpf", "--json", "x"},
        {"create", "q.vpf", "-C", "dir"},
        {"list", "p.vpf", "-C", "dir"},
        {"rm", "p.vpf", "--into=x", "y"},
        {"list", "p.vpf", "--json", "-l"},
        {"help", "create", "add"},
        {"extract", "p.vpf", "-j", "0"},
        {"extract", "p.vpf", "-jmany"},
        {"extract", "p.vpf", "-j"},
        {"extract", "p.vpf", "--overwrite", "--keep"},
        {"convert", "o.dat", "--keep"},
        {"extract", "p.vpf", "--strip-components=x"},
        {"extract", "p.vpf", "--strip-components=-1"},
        {"list", "p.vpf", "--strip-components=1"},
        {"check", "p.vpf", "--salvage"},
    };
    for (const auto& args : cases) {
        const RunResult r = Run(args);
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_EQ(r.code, 2) << joined << r.err;
        EXPECT_EQ(r.err.rfind("vpf: ", 0), 0u) << joined << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << joined << r.err;
        EXPECT_EQ(r.out, "") << joined;
    }
    EXPECT_FALSE(Exists("q.vpf"));
}

TEST_F(CliTest, HelpNamesEveryVerbAndBothSeparators) {
    for (const char* flag : {"--help", "-h"}) {
        const RunResult r = Run({flag});
        EXPECT_EQ(r.code, 0);
        for (const char* verb : {"create", "add", "list", "extract", "cat", "rm", "mv", "mkdir",
                                 "convert", "check", "--overwrite", "--keep", "-j N"})
            EXPECT_NE(r.out.find(verb), std::string::npos) << verb;
        EXPECT_NE(r.out.find("\"/\" or \"\\\""), std::string::npos);
    }
}

TEST_F(CliTest, EachVerbHasItsOwnHelpBothWays) {
    for (const char* verb :
         {"create", "add", "list", "extract", "cat", "rm", "mv", "mkdir", "convert", "check"}) {
        const RunResult viaHelp = Run({"help", verb});
        const RunResult viaFlag = Run({verb, "--help"});
        EXPECT_EQ(viaHelp.code, 0) << verb;
        EXPECT_EQ(viaHelp.out, viaFlag.out) << verb;
        EXPECT_EQ(viaHelp.out.rfind(std::string("Usage: vpf ") + verb + " ", 0), 0u) << viaHelp.out;
        // One verb's help is not the whole help.
        EXPECT_EQ(viaHelp.out.find("Verbs:"), std::string::npos) << verb;
    }
    EXPECT_NE(Run({"help", "extract"}).out.find("--file-only"), std::string::npos);
    EXPECT_NE(Run({"help", "list"}).out.find("--json"), std::string::npos);
    EXPECT_NE(Run({"help", "create"}).out.find("-T FILE"), std::string::npos);
    EXPECT_EQ(Run({"help"}).out, Run({"--help"}).out);
}

TEST_F(CliTest, AMisspelledVerbGetsTheNearestOne) {
    const std::vector<std::pair<std::string, std::string>> typos = {
        {"lsit", "list"},   {"extarct", "extract"}, {"creat", "create"},
        {"chekc", "check"}, {"mkdri", "mkdir"},     {"hlep", "help"}};
    for (const auto& [typo, verb] : typos) {
        const RunResult r = Run({typo, "p.vpf"});
        EXPECT_EQ(r.code, 2) << typo;
        EXPECT_EQ(r.err, "vpf: unknown verb \"" + typo + "\"; did you mean \"" + verb +
                             "\"? (vpf --help lists the verbs)\n");
    }
    RunResult r = Run({"frobnicate", "p.vpf"});
    EXPECT_EQ(r.err, "vpf: unknown verb \"frobnicate\" (vpf --help lists the verbs)\n");
    r = Run({"help", "lsit"});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("did you mean \"list\"?"), std::string::npos) << r.err;
}

TEST_F(CliTest, SummariesCountInCorrectEnglish) {
    MakeDir("one");
    Write("one/a.txt", "a");
    RunResult r = Run({"create", "p.vpf", "one"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("packed 1 file, 1 byte into 582 bytes in ", 0), 0u) << r.err;
    r = Run({"list", "p.vpf"});
    EXPECT_EQ(r.err, "listed 1 file and 1 folder of p.vpf, 1 byte (1 byte packed)\n");
    Write("one/b.txt", "bb");
    r = Run({"add", "--overwrite", "p.vpf", "one"});
    EXPECT_EQ(r.err.rfind("added 2 files (1 replaced), 3 bytes into 3 bytes, to p.vpf in ", 0), 0u)
        << r.err;
    r = Run({"check", "p.vpf"});
    EXPECT_EQ(r.out, "p.vpf: OK, version 2.10, 2 files in 1 folder, " +
                         std::to_string(Read("p.vpf").size()) + " bytes\n");
    r = Run({"-q", "list", "p.vpf"});
    EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, VersionPrintsOneLine) {
    const RunResult r = Run({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "vpf " CF_VERSION_STRING " (PackFile version 2.10)\n");
}

TEST_F(CliTest, MissingOrForeignPackIsAFailureNamingTheFile) {
    Write("notes.txt", "just text, no pack");
    for (const char* verb : {"list", "extract", "check"}) {
        RunResult r = Run({verb, "missing.vpf"});
        EXPECT_EQ(r.code, 1) << verb;
        EXPECT_NE(r.err.find("missing.vpf: No such file or directory"), std::string::npos) << r.err;
        r = Run({verb, "notes.txt"});
        EXPECT_EQ(r.code, 1) << verb;
        EXPECT_NE(r.err.find("notes.txt"), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace vpftest
