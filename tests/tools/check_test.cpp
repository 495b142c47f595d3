// vpf check: a sound pack passes; each kind of damage is reported with the
// offset where it lies, and exit status 1.
#include <functional>

#include "tests/tools/VpfRunner.h"

namespace vpftest {
namespace {

using pack::PackMethod;
using testpacks::File;
using testpacks::Folder;
using testpacks::PackLayout;

Folder SampleTree() {
    Folder root;
    root.files = {File("a.txt", testpacks::ToBytes("stored bytes")),
                  File("b.gz", testpacks::SampleBytes(6000, 2), PackMethod::Gzip),
                  File("c.lz", testpacks::SampleBytes(6000, 3), PackMethod::Lzrw3a)};
    Folder sub("A");
    sub.files = {File("x.bin", testpacks::SampleBytes(3000, 4), PackMethod::Gzip)};
    root.folders = {sub};
    return root;
}

struct Damage {
    const char* what;
    // Files that cannot be read are named one by one, and a line says how
    // many are whole; a fault of the layout is the only line.
    bool fileFault;
    std::function<void(Folder&)> tree;                     // changes before building
    std::function<void(Bytes&, const PackLayout&)> bytes;  // changes after building
    std::function<std::uint64_t(const Bytes&, const PackLayout&)> offset;
    const char* reason;
};

class CheckTest : public VpfTest {};

TEST_F(CheckTest, SoundPacksOfBothVersionsPass) {
    Write("p.vpf", testpacks::BuildPack(SampleTree()));
    RunResult r = Run({"check", "p.vpf"});
    EXPECT_EQ(r.code, 0) << r.err;
    const std::size_t size = Read("p.vpf").size();
    ASSERT_TRUE(size >= 1000 && size < 1000000) << size;
    char bytes[32];
    std::snprintf(bytes, sizeof bytes, "%zu,%03zu bytes", size / 1000, size % 1000);
    EXPECT_EQ(r.out, std::string("p.vpf: OK, version 2.10, 4 files in 1 folder, ") + bytes + "\n");
    std::vector<testpacks::OldEntry> old;
    old.emplace_back("a", testpacks::SampleBytes(900, 5), 1);
    old.emplace_back("b", testpacks::ToBytes("raw"));
    Write("o.dat", testpacks::BuildOldPack(old));
    r = Run({"check", "-q", "o.dat"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
}

TEST_F(CheckTest, EachDamageIsReportedAtItsOffset) {
    const auto none = [](Folder&) {};
    const auto keep = [](Bytes&, const PackLayout&) {};
    const std::vector<Damage> cases = {
        {"truncated", true, none,
         [](Bytes& b, const PackLayout&) { b.erase(b.end() - 5, b.end()); },
         [](const Bytes&, const PackLayout& l) { return l.dataOffsets[3] + 4; },
         "run past the end"},
        {"truncated directory", false, none, [](Bytes& b, const PackLayout&) { b.resize(300); },
         [](const Bytes&, const PackLayout&) { return 20; }, "runs past the end"},
        {"data out of order", false, none,
         [](Bytes& b, const PackLayout& l) {
             // a.txt and b.gz swap their data blocks: both sound, but not
             // in the writer's order.
             const std::uint32_t first = testpacks::PeekU32(b, l.fileRecordOffsets[0] + 260);
             testpacks::PatchU32(b, l.fileRecordOffsets[0] + 260,
                                 testpacks::PeekU32(b, l.fileRecordOffsets[1] + 260));
             testpacks::PatchU32(b, l.fileRecordOffsets[1] + 260, first);
         },
         [](const Bytes&, const PackLayout& l) { return l.fileRecordOffsets[0] + 260; },
         "a.txt: its data offset is"},
        {"bad block offset", false, none,
         [](Bytes& b, const PackLayout& l) {
             testpacks::PatchU32(b, l.folderRecordOffsets[0] + 260, 7);
         },
         [](const Bytes&, const PackLayout& l) { return l.folderRecordOffsets[0] + 260; },
         "block offset"},
        {"bad subtree size", false, none,
         [](Bytes& b, const PackLayout&) { testpacks::PatchU32(b, 20, 12); },
         [](const Bytes&, const PackLayout&) { return 20; }, "subtree size"},
        {"bad header count", false, none,
         [](Bytes& b, const PackLayout&) { testpacks::PatchU32(b, 16, 5); },
         [](const Bytes&, const PackLayout&) { return 16; }, "counts 5 files"},
        {"bad gzip", true, none,
         [](Bytes& b, const PackLayout& l) { b[l.dataOffsets[1] + 9 + 100] ^= 0xFF; },
         [](const Bytes&, const PackLayout& l) { return l.dataOffsets[1] + 9; },
         "b.gz: damaged gzip data"},
        {"bad lzrw", true,
         [](Folder& f) {
             Bytes block = testpacks::EncodeContent(f.files[2].content, PackMethod::Lzrw3a);
             block.resize(block.size() / 2);
             f.files[2].stored = block;
         },
         keep, [](const Bytes&, const PackLayout& l) { return l.dataOffsets[2] + 9; },
         "c.lz: damaged LZRW3-A data"},
        {"lzrw claims too much", false, [](Folder& f) { f.files[2].originalSize = 0x7FFFFFFF; },
         keep, [](const Bytes&, const PackLayout& l) { return l.dataOffsets[2]; },
         "c.lz: an LZRW3-A block of"},
        {"unknown method", false, [](Folder& f) { f.files[0].methodByte = 3; }, keep,
         [](const Bytes&, const PackLayout& l) { return l.dataOffsets[0] + 8; },
         "unknown method 3"},
        {"stored size mismatch", false, [](Folder& f) { f.files[0].originalSize = 99; }, keep,
         [](const Bytes&, const PackLayout& l) { return l.dataOffsets[0]; },
         "a.txt: a stored file of 99 bytes"},
        {"trailing bytes", false, none, [](Bytes& b, const PackLayout&) { b.push_back(0); },
         [](const Bytes& b, const PackLayout&) { return b.size() - 1; }, "1 bytes follow"},
        {"duplicate name", false, [](Folder& f) { f.files[1].name = "A.TXT"; }, keep,
         [](const Bytes&, const PackLayout& l) { return l.fileRecordOffsets[1]; }, "appears twice"},
        {"unsafe name", false, [](Folder& f) { f.folders[0].name = ".."; }, keep,
         [](const Bytes&, const PackLayout& l) { return l.folderRecordOffsets[0]; },
         "the name \"..\" cannot be written to disk: a \"..\" component"},
        {"padding after a name", false, none,
         [](Bytes& b, const PackLayout& l) { b[l.fileRecordOffsets[1] + 150] = 'x'; },
         [](const Bytes&, const PackLayout& l) { return l.fileRecordOffsets[1] + 150; },
         "a name field with bytes after its terminator"},
        {"shared data block", false, none,
         [](Bytes& b, const PackLayout& l) {
             testpacks::PatchU32(b, l.fileRecordOffsets[1] + 260,
                                 testpacks::PeekU32(b, l.fileRecordOffsets[0] + 260));
         },
         [](const Bytes&, const PackLayout& l) { return l.fileRecordOffsets[1] + 260; },
         "b.gz: its data block shares bytes with that of a.txt"},
    };
    for (const Damage& d : cases) {
        Folder tree = SampleTree();
        d.tree(tree);
        PackLayout layout;
        Bytes bytes = testpacks::BuildPack(tree, &layout);
        d.bytes(bytes, layout);
        Write("d.vpf", bytes);
        const RunResult r = Run({"check", "d.vpf"});
        EXPECT_EQ(r.code, 1) << d.what;
        const std::string expected =
            "vpf: d.vpf: damaged at offset " + std::to_string(d.offset(bytes, layout)) + ": ";
        EXPECT_EQ(r.err.rfind(expected, 0), 0u) << d.what << ": " << r.err;
        EXPECT_NE(r.err.find(d.reason), std::string::npos) << d.what << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), d.fileFault ? 2 : 1) << d.what;
        if (d.fileFault) {
            EXPECT_NE(r.err.find("\nvpf: d.vpf: 1 of 4 files cannot be read; the other 3 are "
                                 "whole (vpf extract --salvage writes them)\n"),
                      std::string::npos)
                << d.what << ": " << r.err;
        }
        EXPECT_EQ(r.out, "") << d.what;
    }
    EXPECT_TRUE(TempLeftovers().empty());
}

// Checking and extracting decode in memory: a temporary folder that cannot
// be used changes nothing, and a sound pack is never called damaged.
TEST_F(CheckTest, AnUnusableTemporaryFolderIsNoDamage) {
    const Folder tree = SampleTree();
    Write("p.vpf", testpacks::BuildPack(tree));
    setenv("TMPDIR", Path("missing").c_str(), 1);
    RunResult r = Run({"check", "p.vpf"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("p.vpf: OK, version 2.10", 0), 0u) << r.out;
    r = Run({"extract", "p.vpf", "-o", "out"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read("out/b.gz"), tree.files[1].content);
    EXPECT_EQ(Read("out/c.lz"), tree.files[2].content);
    EXPECT_EQ(Read("out/A/x.bin"), tree.folders[0].files[0].content);
}

TEST_F(CheckTest, AFileOfAnotherKindIsNoPackRatherThanDamaged) {
    Bytes bytes = testpacks::BuildPack(SampleTree());
    bytes[7] = '9';  // "2.19"
    Write("v.vpf", bytes);
    RunResult r = Run({"check", "v.vpf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err,
              "vpf: v.vpf: not a PackFile (no \"VHPF\" header of version \"1.03\" or \"2.10\")\n");
    r = Run({"check", "missing.vpf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vpf: missing.vpf: No such file or directory\n");
}

TEST_F(CheckTest, DamagedOldPacksAreReportedToo) {
    std::vector<testpacks::OldEntry> old;
    old.emplace_back("a", testpacks::SampleBytes(900, 5), 1);
    testpacks::OldPackLayout layout;
    Bytes bytes = testpacks::BuildOldPack(old, &layout);
    Bytes cut(bytes.begin(), bytes.end() - 10);
    Write("o.dat", cut);
    RunResult r = Run({"check", "o.dat"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("o.dat: damaged at offset " + std::to_string(layout.entryOffsets[0] + 48) +
                         ": a: its " + std::to_string(bytes.size() - layout.entryOffsets[0] - 60) +
                         " stored bytes run past the end of the file\n"),
              std::string::npos)
        << r.err;
    bytes.resize(layout.entryOffsets[0] + 60 + 200);  // a block cut inside its body
    testpacks::PatchU32(bytes, layout.entryOffsets[0] + 48, 200);
    Write("o.dat", bytes);
    r = Run({"check", "o.dat"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("o.dat: damaged at offset " + std::to_string(layout.entryOffsets[0] + 60) +
                         ": a: "),
              std::string::npos)
        << r.err;
    testpacks::PatchU32(bytes, 12, 1 << 30);
    Write("o.dat", bytes);
    r = Run({"check", "o.dat"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("damaged at offset 12: entry 1"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vpftest
