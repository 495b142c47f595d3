// Packs cut short or with damaged data: without --salvage list, extract and
// cat refuse them and point at --salvage when the directory is whole; with
// it they give back exactly the files whose bytes are all there and decode,
// and name every other one; check names them all. Exit status 1 for any cut.
#include <map>
#include <set>

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
                  File("empty", Bytes{})};
    Folder sub("A");
    sub.files = {File("x.lz", testpacks::SampleBytes(3000, 4), PackMethod::Lzrw3a),
                 File("y.bin", testpacks::SampleBytes(700, 5))};
    Folder deep("D");
    deep.files = {File("z.gz", testpacks::SampleBytes(5000, 6), PackMethod::Gzip)};
    sub.folders = {deep};
    root.folders = {sub};
    return root;
}

// Every file of the sample with its path and content, in pack order.
std::vector<std::pair<std::string, Bytes>> SampleFiles() {
    const Folder root = SampleTree();
    const Folder& a = root.folders[0];
    return {{"a.txt", root.files[0].content}, {"b.gz", root.files[1].content},
            {"empty", root.files[2].content}, {"A/x.lz", a.files[0].content},
            {"A/y.bin", a.files[1].content},  {"A/D/z.gz", a.folders[0].files[0].content}};
}

class SalvageTest : public VpfTest {
  protected:
    // Hidden names left in `folder` (the siblings extraction writes through).
    std::size_t HiddenIn(const std::string& folder) {
        std::size_t n = 0;
        for (const std::string& name : Names(folder))
            n += name[0] == '.' ? 1 : 0;
        return n;
    }

    // Every file below `folder` of the test, relative to it.
    std::set<std::string> FilesBelow(const std::string& folder, const std::string& prefix = "") {
        std::set<std::string> out;
        for (const std::string& name : Names(folder)) {
            struct stat st;
            const std::string path = folder + "/" + name;
            if (lstat(Path(path).c_str(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode)) {
                for (const std::string& inner : FilesBelow(path, prefix + name + "/"))
                    out.insert(inner);
            } else {
                out.insert(prefix + name);
            }
        }
        return out;
    }
};

// Cut at every record and data boundary of a pack, and one byte past each:
// --salvage gets exactly the files whose data block lies wholly before the
// cut, byte for byte, and names the others; nothing at all when the cut is
// inside the directory.
TEST_F(SalvageTest, ACutPackGivesBackExactlyTheFilesWhollyBeforeTheCut) {
    PackLayout layout;
    const Bytes pack = testpacks::BuildPack(SampleTree(), &layout);
    const auto files = SampleFiles();
    ASSERT_EQ(layout.dataOffsets.size(), files.size());
    std::vector<std::size_t> ends;  // where each data block ends
    for (std::size_t i = 0; i < files.size(); ++i)
        ends.push_back(i + 1 < files.size() ? layout.dataOffsets[i + 1] : pack.size());

    std::set<std::size_t> cuts;
    for (std::size_t at : layout.blockOffsets)
        cuts.insert(at);
    for (std::size_t at : layout.folderRecordOffsets)
        cuts.insert(at);
    for (std::size_t at : layout.fileRecordOffsets)
        cuts.insert(at);
    for (std::size_t at : layout.dataOffsets) {
        cuts.insert(at);
        cuts.insert(at + 9);  // the stored bytes begin
    }
    cuts.insert(layout.directoryEnd);
    for (std::size_t at : std::set<std::size_t>(cuts))
        cuts.insert(at + 1);
    cuts.insert(pack.size() - 1);
    cuts.insert(pack.size());

    for (const std::size_t cut : cuts) {
        const std::string what = "cut at " + std::to_string(cut);
        Write("cut.vpf", Bytes(pack.begin(), pack.begin() + static_cast<std::ptrdiff_t>(cut)));
        const bool directoryWhole = cut >= layout.directoryEnd;
        std::set<std::string> whole, lost;
        for (std::size_t i = 0; i < files.size(); ++i)
            (directoryWhole && ends[i] <= cut ? whole : lost).insert(files[i].first);
        const bool complete = cut == pack.size();

        // Without --salvage: refused unless complete, pointing at --salvage
        // only when it can help.
        RunResult r = Run({"list", "cut.vpf"});
        EXPECT_EQ(r.code, complete ? 0 : 1) << what;
        EXPECT_EQ(r.err.find("--salvage") != std::string::npos, directoryWhole && !complete)
            << what << ": " << r.err;

        // extract --salvage: the whole files, byte for byte, and each other
        // one named.
        const std::string out = "out" + std::to_string(cut);
        r = Run({"extract", "--salvage", "cut.vpf", "-C", out});
        EXPECT_EQ(r.code, complete ? 0 : 1) << what << ": " << r.err;
        EXPECT_EQ(FilesBelow(out), whole) << what << ": " << r.err;
        for (const auto& [path, content] : files) {
            if (whole.count(path)) {
                EXPECT_TRUE(Read(out + "/" + path) == content) << what << ": " << path;
            } else if (directoryWhole) {
                EXPECT_NE(r.err.find("cannot extract " + path + " "), std::string::npos)
                    << what << ": " << path << ": " << r.err;
            }
        }

        // list --salvage lists the same files; check names every lost one.
        r = Run({"list", "--salvage", "cut.vpf"});
        EXPECT_EQ(r.code, complete ? 0 : 1) << what;
        std::set<std::string> listed;
        std::size_t at = 0;
        for (std::size_t nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1)
            if (r.out[nl - 1] != '/')
                listed.insert(r.out.substr(at, nl - at));
        EXPECT_EQ(listed, whole) << what << ": " << r.err;
        r = Run({"check", "cut.vpf"});
        EXPECT_EQ(r.code, complete ? 0 : 1) << what;
        if (directoryWhole && !complete) {
            for (const std::string& path : lost)
                EXPECT_NE(r.err.find(": " + path + ": "), std::string::npos)
                    << what << ": " << path << ": " << r.err;
            EXPECT_NE(r.err.find(std::to_string(lost.size()) +
                                 " of 6 files cannot be read; the "
                                 "other " +
                                 std::to_string(whole.size())),
                      std::string::npos)
                << what << ": " << r.err;
        }
    }
}

// Data that is there but does not decode is named file by file, the rest
// comes out; a stored size that cannot be right creates nothing.
TEST_F(SalvageTest, DamagedDataIsNamedAndTheRestIsRead) {
    PackLayout layout;
    Bytes pack = testpacks::BuildPack(SampleTree(), &layout);
    pack[layout.dataOffsets[1] + 9 + 100] ^= 0xFF;           // b.gz
    testpacks::PatchU32(pack, layout.dataOffsets[4], 5000);  // A/y.bin claims more
    pack.resize(pack.size() - 10);                           // A/D/z.gz is cut
    Write("d.vpf", pack);
    const std::set<std::string> whole = {"a.txt", "empty", "A/x.lz"};

    RunResult r = Run({"extract", "--salvage", "d.vpf", "-C", "out"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(FilesBelow("out"), whole) << r.err;
    for (const char* line : {"cannot extract b.gz to out/b.gz: damaged gzip data",
                             "cannot extract A/y.bin to out/A/y.bin: a stored file of 5000 bytes",
                             "cannot extract A/D/z.gz to out/A/D/z.gz: its "})
        EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;
    EXPECT_NE(r.err.find("extracted 3 files, "), std::string::npos) << r.err;
    EXPECT_EQ(HiddenIn("out") + HiddenIn("out/A"), 0u);

    r = Run({"list", "--salvage", "-q", "d.vpf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "a.txt\nempty\nA/\nA/x.lz\nA/D/\n");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r.err;

    r = Run({"cat", "--salvage", "d.vpf", "a.txt", "A/D/z.gz", "A/x.lz"});
    EXPECT_EQ(r.code, 1);
    const Bytes lz = SampleFiles()[3].second;
    EXPECT_EQ(r.out, "stored bytes" + std::string(lz.begin(), lz.end()));
    EXPECT_NE(r.err.find("cannot read A/D/z.gz: its "), std::string::npos) << r.err;
    r = Run({"cat", "d.vpf", "a.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("; the directory is whole: --salvage reads the files that are whole\n"),
              std::string::npos)
        << r.err;

    r = Run({"check", "d.vpf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err.rfind("vpf: d.vpf: damaged at offset " +
                              std::to_string(layout.dataOffsets[1] + 9) + ": b.gz: damaged gzip",
                          0),
              0u)
        << r.err;
    EXPECT_NE(r.err.find("vpf: d.vpf: 3 of 6 files cannot be read; the other 3 are whole (vpf "
                         "extract --salvage writes them)\n"),
              std::string::npos)
        << r.err;
}

// An old pack cut inside its entries: the entries before the cut come out,
// a cut record is counted (its name is gone with it).
TEST_F(SalvageTest, AnOldPackCutShortGivesItsWholeEntries) {
    std::vector<testpacks::OldEntry> old;
    old.emplace_back("one", testpacks::SampleBytes(900, 5), 1);
    old.emplace_back("two", testpacks::ToBytes("raw bytes"));
    old.emplace_back("three", testpacks::ToBytes("last"));
    testpacks::OldPackLayout layout;
    const Bytes bytes = testpacks::BuildOldPack(old, &layout);
    Write("o.dat", Bytes(bytes.begin(),
                         bytes.begin() + static_cast<std::ptrdiff_t>(layout.entryOffsets[1] + 64)));
    RunResult r = Run({"extract", "--salvage", "o.dat", "-C", "out"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(FilesBelow("out"), std::set<std::string>{"one"});
    EXPECT_TRUE(Read("out/one") == old[0].content);
    EXPECT_NE(r.err.find("cannot extract two to out/two: its 9 stored bytes run past the end"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("damaged at offset 20: entry 3 has its record past the end of the "
                         "file; its name is lost"),
              std::string::npos)
        << r.err;
    r = Run({"check", "o.dat"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("2 of 3 files cannot be read; the other 1 is whole"), std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace vpftest
