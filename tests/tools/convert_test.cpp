// vpf convert: old packs of version 1.03 become packs of version 2.10.
#include "tests/tools/VpfRunner.h"

namespace vpftest {
namespace {

using testpacks::OldEntry;

class ConvertTest : public VpfTest {
  protected:
    void WriteOld(const std::string& name) {
        std::vector<OldEntry> entries;
        entries.emplace_back("readme.txt", testpacks::ToBytes("plain text"));
        entries.emplace_back("coded.bin", testpacks::SampleBytes(4000, 3), 1);
        entries.emplace_back("skipped.bin", testpacks::ToBytes("gone"), 0, 23);
        Write(name, testpacks::BuildOldPack(entries));
    }
};

TEST_F(ConvertTest, DefaultNameTakesTheVpfExtensionAndKeepsTheOldPack) {
    WriteOld("data.dat");
    const Bytes old = Read("data.dat");
    const RunResult r = Run({"convert", "data.dat"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read("data.dat"), old);
    EXPECT_EQ(Run({"list", "data.VPF"}).out, "readme.txt\ncoded.bin\n");
    const Bytes coded = testpacks::SampleBytes(4000, 3);
    EXPECT_EQ(Run({"cat", "data.VPF", "coded.bin"}).out, std::string(coded.begin(), coded.end()));
    EXPECT_NE(Run({"list", "-l", "data.VPF"}).out.find("gzip    coded.bin"), std::string::npos);
    EXPECT_EQ(Run({"check", "-q", "data.VPF"}).code, 0);
}

TEST_F(ConvertTest, ExplicitTargetAndExistingFiles) {
    WriteOld("old.dat");
    Write("new.vpf", "precious");
    RunResult r = Run({"convert", "old.dat", "new.vpf"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("new.vpf: the file exists already"), std::string::npos) << r.err;
    EXPECT_EQ(ReadString("new.vpf"), "precious");
    r = Run({"convert", "--overwrite", "old.dat", "new.vpf"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Run({"list", "new.vpf"}).out, "readme.txt\ncoded.bin\n");
    // Already current: nothing to do, and nothing changes.
    const Bytes current = Read("new.vpf");
    r = Run({"convert", "new.vpf"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("nothing to convert"), std::string::npos);
    EXPECT_EQ(Read("new.vpf"), current);
}

TEST_F(ConvertTest, OldPacksAreReadDirectlyAndChangedOnlyAfterConvert) {
    WriteOld("old.dat");
    const Bytes old = Read("old.dat");
    RunResult r = Run({"list", "-l", "old.dat"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("  stored  readme.txt\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  lzrw3a  coded.bin\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("skipped.bin"), std::string::npos) << r.out;
    r = Run({"cat", "old.dat", "CODED.BIN"});
    const Bytes coded = testpacks::SampleBytes(4000, 3);
    EXPECT_EQ(r.out, std::string(coded.begin(), coded.end()));
    r = Run({"extract", "-q", "old.dat", "-C", "out"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Read("out/coded.bin"), coded);
    EXPECT_EQ(ReadString("out/readme.txt"), "plain text");
    EXPECT_EQ(Names("out"), (std::vector<std::string>{"coded.bin", "readme.txt"}));
    EXPECT_EQ(Run({"check", "old.dat"}).code, 0);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"add", "old.dat", "out/readme.txt"},
                                               {"rm", "old.dat", "readme.txt"},
                                               {"mkdir", "old.dat", "x"},
                                               {"mv", "old.dat", "readme.txt", "r.txt"}}) {
        r = Run(args);
        EXPECT_EQ(r.code, 1) << args[0];
        EXPECT_EQ(r.err,
                  "vpf: old.dat: a PackFile of the old version 1.03, which vpf reads but does not "
                  "change; convert it first with: vpf convert old.dat\n")
            << args[0];
    }
    EXPECT_EQ(Read("old.dat"), old);  // read-only, whatever was asked
}

// A converted pack that cannot be saved is said in one line of vpf's own,
// and the file at the new path stays as it was (or absent).
TEST_F(ConvertTest, ASaveThatCannotHappenSaysWhyAndKeepsTheTarget) {
    WriteOld("old.dat");
    struct Case {
        const char* what;
        const char* existing;  // the file at new.vpf before, or null
        mode_t mode;
        rlim_t fileSizeLimit;
        std::string error;
    };
    const Case cases[] = {
        {"a full disk, no file there", nullptr, 0644, 100,
         "vpf: cannot save new.vpf: File too large; no pack was written\n"},
        {"a full disk, a file there", "precious", 0644, 100,
         "vpf: cannot save new.vpf: File too large; the file there is unchanged\n"},
        {"a read-only file there", "precious", 0444, 0,
         "vpf: cannot change new.vpf: it is read-only; the file there is unchanged\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        unlink(Path("new.vpf").c_str());
        if (c.existing) {
            Write("new.vpf", c.existing);
            chmod(Path("new.vpf").c_str(), c.mode);
        }
        const RunResult r = Run({"convert", "--overwrite", "old.dat", "new.vpf"}, c.fileSizeLimit);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, c.error);
        if (c.existing) {
            EXPECT_EQ(ReadString("new.vpf"), c.existing);
        } else {
            EXPECT_FALSE(Exists("new.vpf"));
        }
        for (const std::string& name : Names("."))  // no save's sibling is left
            EXPECT_NE(name.rfind(".new.vpf", 0), 0u) << name;
    }
}

TEST_F(ConvertTest, DamagedOldPackWritesNothing) {
    std::vector<OldEntry> entries;
    entries.emplace_back("x.bin", testpacks::SampleBytes(4000, 3), 1);
    Bytes bytes = testpacks::BuildOldPack(entries);
    bytes.resize(bytes.size() - 100);
    Write("bad.dat", bytes);
    const RunResult r = Run({"convert", "bad.dat"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("bad.dat"), std::string::npos);
    EXPECT_FALSE(Exists("bad.VPF"));
}

}  // namespace
}  // namespace vpftest
