// Usage errors, help and version of the vpf binary.
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
        {"list", "p.vpf", "extra"},
        {"cat", "p.vpf"},
        {"mv", "p.vpf", "a"},
        {"create", "p.vpf"},
        {"list", "p.vpf", "--bogus"},
        {"extract", "p.vpf", "-l"},
        {"list", "p.vpf", "-o", "out"},
        {"create", "q.vpf", "-C", "dir", "x"},
        {"extract", "p.vpf", "-j", "0"},
        {"extract", "p.vpf", "-jmany"},
        {"extract", "p.vpf", "-j"},
        {"extract", "p.vpf", "--overwrite", "--keep"},
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

TEST_F(CliTest, VersionPrintsOneLine) {
    const RunResult r = Run({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "vpf 2.20 (PackFile version 2.10)\n");
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
