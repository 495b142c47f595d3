// The path tree of a pack: record names as paths, one node per name as the
// pack compares names, the earlier record winning, lookups in any case.
#include "format/PathTree.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/TestPacks.h"

namespace {

using testpacks::Bytes;
using testpacks::Folder;
using testpacks::ToBytes;
using M = pack::PackMethod;

pack::PathTree TreeOf(const Bytes& bytes) {
    pack::MemorySource source(bytes);
    pack::Directory directory;
    pack::Fault fault;
    EXPECT_TRUE(pack::ReadDirectory(source, directory, fault)) << fault.Text();
    pack::PathTree tree;
    EXPECT_TRUE(tree.Build(std::move(directory), fault)) << fault.Text();
    return tree;
}

// Every node as its path ("/" after folders), in listing order, depth first.
std::vector<std::string> Listing(const pack::PathTree& tree) {
    std::vector<std::string> out;
    std::function<void(pack::PathTree::Node)> walk = [&](pack::PathTree::Node folder) {
        for (const pack::PathTree::Node node : tree.Children(folder)) {
            out.push_back(tree.Path(node) + (tree.IsFolder(node) ? "/" : ""));
            if (tree.IsFolder(node))
                walk(node);
        }
    };
    walk(pack::PathTree::kRoot);
    return out;
}

struct TreeCase {
    const char* what;
    Bytes pack;
    std::vector<std::string> listing;
    std::vector<std::string> leftOut;  // "name: part of the reason"
    // A path asked for and the path of the node it must find ("" for none).
    std::vector<std::pair<std::string, std::string>> lookups;
};

TEST(PathTreeTest, RecordsBecomeOneNodePerNameTheEarlierWinningAndAreFoundInAnyCase) {
    const std::vector<TreeCase> cases = {
        {"nested folders keep directory order",
         testpacks::BuildPack(Folder(
             "", {{"root.txt", ToBytes("r")}},
             {Folder("Art", {{"a.png", ToBytes("a")}}, {Folder("Deep", {{"d", ToBytes("d")}})}),
              Folder("Empty")})),
         {"root.txt", "Art/", "Art/a.png", "Art/Deep/", "Art/Deep/d", "Empty/"},
         {},
         {{"", ""},
          {"ART/deep/D", "Art/Deep/d"},
          {"art//a.PNG", "Art/a.png"},
          {"/Art/a.png", "Art/a.png"},
          {"Art/../Art/a.png", ""},
          {"./root.txt", ""},
          {"root.txt/x", ""},
          {"Art/a.pn", ""},
          {"empty", "Empty"}}},
        {"folders of one name in any case are one folder, shown as first spelt",
         testpacks::BuildPack(
             Folder("", {},
                    {Folder("Art", {{"a.png", ToBytes("1")}}),
                     Folder("ART", {{"b.png", ToBytes("2")}, {"A.PNG", ToBytes("3")}})})),
         {"Art/", "Art/a.png", "Art/b.png"},
         {"ART/A.PNG: an earlier file has the same name"},
         {{"art/B.png", "Art/b.png"}, {"ART/a.png", "Art/a.png"}}},
        {"a file holds its name against a later folder and the folder's content",
         testpacks::BuildPack(Folder(
             "", {{"maps", ToBytes("file")}},
             {Folder("MAPS", {{"x.map", ToBytes("x")}}, {Folder("sub", {{"y", ToBytes("y")}})})})),
         {"maps"},
         {"MAPS/: an earlier file is named \"maps\" where a folder is needed (and 3 entries "
          "inside it)"},
         {{"maps/x.map", ""}, {"MAPS", "maps"}}},
        {"an old pack's names are paths, as extraction writes them",
         testpacks::BuildOldPack({{"maps\\x.map", ToBytes("1")},
                                  {"MAPS\\y.map", ToBytes("2")},
                                  {"maps/sub\\z", ToBytes("3")},
                                  {"\\lead\\abs.txt", ToBytes("4")},
                                  {"a\\\\b", ToBytes("5")},
                                  {"..\\evil", ToBytes("6")},
                                  {"a\\..\\b", ToBytes("7")},
                                  {"trail\\", ToBytes("8")},
                                  {".", ToBytes("9")},
                                  {"maps\\X.MAP", ToBytes("10")}}),
         {"maps/", "maps/x.map", "maps/y.map", "maps/sub/", "maps/sub/z", "lead/", "lead/abs.txt"},
         {"a\\\\b: an empty component", "..\\evil: a \"..\" component",
          "a\\..\\b: a \"..\" component", "trail\\: a separator at the end", ".: a \".\" component",
          "maps\\X.MAP: an earlier file has the same name"},
         {{"MAPS/SUB/Z", "maps/sub/z"}, {"lead/ABS.txt", "lead/abs.txt"}, {"maps\\x.map", ""}}},
        {"folder names holding separators are paths too; what a refused folder holds is "
         "counted on its line",
         testpacks::BuildPack(Folder(
             "", {},
             {Folder("a\\b", {{"c", ToBytes("c")}}), Folder("\\", {{"top.txt", ToBytes("t")}}),
              Folder("bad", {{"x", ToBytes("x")}},
                     {Folder("..", {{"y", ToBytes("y")}, {"z", ToBytes("z")}}),
                      Folder("\\lead", {{"w", ToBytes("w")}})})})),
         {"a/", "a/b/", "a/b/c", "top.txt", "bad/", "bad/x"},
         {"\\/: nothing but separators",
          "bad/../: a \"..\" component, which would lead out of its folder (and 2 entries "
          "inside it)",
          "bad/\\lead/: an empty component between separators (and 1 entry inside it)"},
         {{"A/B/C", "a/b/c"}, {"TOP.TXT", "top.txt"}, {"bad/y", ""}}},
        {"an old pack is one folder; the earlier of two equal names wins",
         testpacks::BuildOldPack({{"README.TXT", ToBytes("1")},
                                  {"readme.txt", ToBytes("2")},
                                  {"z", ToBytes("3"), 0x01}}),
         {"README.TXT", "z"},
         {"readme.txt: an earlier file has the same name"},
         {{"ReadMe.txt", "README.TXT"}, {"Z", "z"}}},
    };
    for (const TreeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const pack::PathTree tree = TreeOf(c.pack);
        EXPECT_EQ(Listing(tree), c.listing);
        std::vector<std::string> leftOut;
        for (const auto& left : tree.LeftOutNames())
            leftOut.push_back(left.name + ": " + left.reason);
        ASSERT_EQ(leftOut.size(), c.leftOut.size());
        for (std::size_t i = 0; i < leftOut.size(); ++i)
            EXPECT_EQ(leftOut[i].rfind(c.leftOut[i], 0), 0u) << leftOut[i];
        for (const auto& [asked, found] : c.lookups) {
            const pack::PathTree::Node node = tree.Resolve(asked);
            const bool none = found.empty() && !asked.empty();
            if (none) {
                EXPECT_EQ(node, pack::PathTree::kNoNode) << asked;
            } else {
                ASSERT_NE(node, pack::PathTree::kNoNode) << asked;
                EXPECT_EQ(tree.Path(node), found) << asked;
            }
        }
        // Each folder's nodes are found by their own names, in other case.
        for (pack::PathTree::Node node = 1; node < tree.NodeCount(); ++node) {
            std::string upper(tree.Name(node));
            for (char& ch : upper)
                ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
            EXPECT_EQ(tree.Find(tree.Parent(node), upper), node) << tree.Path(node);
        }
    }
}

TEST(PathTreeTest, ManyNamesInOneFolderAreAllFound) {
    Folder root;
    for (int i = 0; i < 5000; ++i)
        root.files.push_back({"File_" + std::to_string(i) + ".txt", ToBytes("x")});
    const pack::PathTree tree = TreeOf(testpacks::BuildPack(root));
    ASSERT_EQ(tree.Children(pack::PathTree::kRoot).size(), 5000u);
    for (int i = 0; i < 5000; ++i) {
        const pack::PathTree::Node node = tree.Resolve("file_" + std::to_string(i) + ".TXT");
        ASSERT_NE(node, pack::PathTree::kNoNode) << i;
        EXPECT_EQ(tree.Name(node), "File_" + std::to_string(i) + ".txt");
    }
    EXPECT_EQ(tree.Resolve("file_5000.txt"), pack::PathTree::kNoNode);
}

TEST(PathTreeTest, LoadTreeFileDecodesEveryMethodAndRefusesDamage) {
    const Bytes text = testpacks::SampleBytes(300000, 4);
    Folder root("", {{"stored", text, M::Stored},
                     {"gzip", text, M::Gzip},
                     {"lzrw", text, M::Lzrw3a},
                     {"empty gzip", {}, M::Gzip},
                     {"bad gzip", text, M::Gzip},
                     {"gzip too long", text, M::Gzip}});
    root.files[4].stored = testpacks::SampleBytes(900, 6);
    root.files[5].originalSize = 1000;
    const Bytes bytes = testpacks::BuildPack(root);
    const pack::PathTree tree = TreeOf(bytes);
    pack::MemorySource source(bytes);
    const struct {
        const char* name;
        Bytes expected;
        bool ok;
    } cases[] = {{"stored", text, true},   {"gzip", text, true},    {"lzrw", text, true},
                 {"empty gzip", {}, true}, {"bad gzip", {}, false}, {"gzip too long", {}, false}};
    for (const auto& c : cases) {
        pack::DecodedBytes out;
        pack::Fault fault;
        const bool ok = pack::LoadTreeFile(source, tree.File(tree.Resolve(c.name)), out, fault);
        EXPECT_EQ(ok, c.ok) << c.name << ": " << fault.Text();
        if (ok)
            EXPECT_EQ(Bytes(out.get(), out.get() + c.expected.size()), c.expected) << c.name;
        else
            EXPECT_EQ(fault.kind, pack::FaultKind::Damaged) << c.name;
    }
}

}  // namespace
