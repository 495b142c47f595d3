// Every form of the command line, decided without a window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/CommandLine.h"

namespace crateforge {
namespace {

CBuilderCommandLineInfo Parse(std::vector<std::string>& storage) {
    static std::vector<char*> argv;
    argv.clear();
    static std::string program = "crateforge";
    argv.push_back(program.data());
    for (std::string& arg : storage) {
        argv.push_back(arg.data());
    }
    CBuilderCommandLineInfo info;
    ParseCommandLine(info, static_cast<int>(argv.size()), argv.data());
    return info;
}

TEST(CommandLineTest, CollectsEveryArgumentInOrderStrippingOnlyMinus) {
    std::vector<std::string> args = {"-o", "/abs/path.vpf", "\\o", "--x", "plain"};
    CBuilderCommandLineInfo info = Parse(args);
    ASSERT_EQ(info.argCount, 5);
    ASSERT_EQ(info.args.size(), 5u);
    EXPECT_STREQ(info.args[0], "o");
    EXPECT_STREQ(info.args[1], "/abs/path.vpf");  // "/" begins paths and stays
    EXPECT_STREQ(info.args[2], "\\o");
    EXPECT_STREQ(info.args[3], "-x");  // only the first "-" goes
    EXPECT_STREQ(info.args[4], "plain");
    // The pointers are into argv, not copies.
    EXPECT_EQ(info.args[1], args[1].data());
    EXPECT_EQ(info.args[0], args[0].data() + 1);
}

TEST(CommandLineTest, Extensions) {
    struct Case {
        const char* path;
        const char* extension;
        bool pack;
    };
    const Case cases[] = {
        {"/a/b.vpf", ".vpf", true},   {"/a/b.VPF", ".VPF", true},     {"/a/b.Vpf", ".Vpf", true},
        {"/a/b.vpfx", ".vpfx", true}, {"/a/b.vp", ".vp", false},      {"/a/b.zip", ".zip", false},
        {"/a.vpf/b", "", false},      {"/a/b.tar.vpf", ".vpf", true}, {"/a/.vpf", ".vpf", true},
        {"noext", "", false},         {"/a/b.", ".", false},          {"/dir.d/file", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(PathExtension(c.path), c.extension);
        EXPECT_EQ(IsPackExtension(PathExtension(c.path)), c.pack);
    }
}

TEST(CommandLineTest, DecidesEachForm) {
    using Kind = CommandLineWork::Kind;
    struct Case {
        std::vector<std::string> args;
        Kind kind;
        std::vector<std::string> paths;
    };
    const std::vector<Case> cases = {
        {{}, Kind::None, {}},
        {{"\\o", "/p/x.vpf"}, Kind::OpenPack, {"/p/x.vpf"}},
        {{"\\o", "/p/x.dat"}, Kind::OpenPack, {"/p/x.dat"}},  // the switch opens any name
        {{"\\o"}, Kind::None, {}},
        {{"\\o", "/a", "/b"}, Kind::None, {}},
        {{"\\open", "/p/x.vpf"}, Kind::OpenPack, {"/p/x.vpf"}},           // two characters decide
        {{"\\O", "/p/x.vpf"}, Kind::NewPackAndAdd, {"\\O", "/p/x.vpf"}},  // case-sensitive
        {{"/p/x.vpf"}, Kind::OpenPack, {"/p/x.vpf"}},
        {{"/p/x.VPF"}, Kind::OpenPack, {"/p/x.VPF"}},
        {{"/p/x.vpfx"}, Kind::OpenPack, {"/p/x.vpfx"}},
        {{"/p/x.vp"}, Kind::NewPackAndAdd, {"/p/x.vp"}},
        {{"/p/x.zip"}, Kind::NewPackAndAdd, {"/p/x.zip"}},
        {{"/p/folder"}, Kind::NewPackAndAdd, {"/p/folder"}},
        {{"/p/a.vpf", "/p/b.txt"}, Kind::NewPackAndAdd, {"/p/a.vpf", "/p/b.txt"}},
        // "-o path": the minus goes, "o" is no switch, both are added.
        {{"-o", "/p/x.vpf"}, Kind::NewPackAndAdd, {"o", "/p/x.vpf"}},
    };
    for (Case c : cases) {
        std::vector<std::string> storage = c.args;
        CBuilderCommandLineInfo info = Parse(storage);
        CommandLineWork work = DecideCommandLineWork(info);
        SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args.front());
        EXPECT_EQ(work.kind, c.kind);
        EXPECT_EQ(work.paths, c.paths);
    }
}

}  // namespace
}  // namespace crateforge
