// Interrupts sent to a running vpf, to its whole process group as a
// terminal's Ctrl-C is: the partial files go, one line says what was done and
// what became of the pack, the exit status is 128 + the signal, and a rerun
// gives complete files.
#include "tests/tools/VpfRunner.h"

namespace vpftest {
namespace {

using testpacks::File;
using testpacks::Folder;
using testpacks::ToBytes;

constexpr std::uint32_t kBigSize = 256u << 20;

class InterruptTest : public VpfTest {
  protected:
    // A pack of two small files and, last, a stored file of kBigSize zero
    // bytes that takes no disk space (the pack is sparse where it lies).
    void WriteBigPack(const std::string& name) {
        Folder root;
        root.files = {File("a.txt", ToBytes("first")), File("b.txt", ToBytes("second")),
                      File("zeros.bin", ToBytes("0"))};
        testpacks::PackLayout layout;
        Bytes bytes = testpacks::BuildPack(root, &layout);
        const std::size_t block = layout.dataOffsets.back();
        testpacks::PatchU32(bytes, block, kBigSize);
        testpacks::PatchU32(bytes, block + 4, kBigSize);
        bytes.resize(block + 9);
        Write(name, bytes);
        ASSERT_EQ(truncate(Path(name).c_str(), static_cast<off_t>(block + 9 + kBigSize)), 0);
    }

    // Whether a hidden sibling (".NAME.xxxxxx") exists in `folder`.
    std::function<bool()> SiblingIn(const std::string& folder, const std::string& name) {
        return [this, folder, name] {
            for (const std::string& n : Names(folder))
                if (n.rfind("." + name + ".", 0) == 0)
                    return true;
            return false;
        };
    }

    std::vector<std::string> Hidden(const std::string& folder) {
        std::vector<std::string> out;
        for (const std::string& n : Names(folder))
            if (n[0] == '.' && n != ".out" && n != ".err")  // the runner's own files
                out.push_back(n);
        return out;
    }

    static bool AllZero(const Bytes& bytes) {
        return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
    }
};

TEST_F(InterruptTest, ExtractLeavesOnlyWholeFilesAndARerunFinishes) {
    WriteBigPack("p.vpf");
    const Bytes packBefore = Read("p.vpf");
    const std::vector<std::pair<int, std::string>> signals = {
        {SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}};
    for (const auto& [sig, name] : signals) {
        const std::string out = "out-" + name;
        bool signalled = false;
        const RunResult r = RunInterrupted({"extract", "-j", "1", "p.vpf", "-C", out},
                                           SiblingIn(out, "zeros.bin"), sig, &signalled);
        ASSERT_TRUE(signalled) << name << ": vpf ended before it was interrupted";
        EXPECT_EQ(r.code, 128 + sig) << name << r.err;
        EXPECT_EQ(r.err, "vpf: interrupted by " + name + ": extracted 2 of 3 files into " + out +
                             "; removed 1 partial file; the pack is unchanged\n");
        // No partial file under its final name, no hidden file beside it.
        EXPECT_FALSE(Exists(out + "/zeros.bin")) << name;
        EXPECT_TRUE(Hidden(out).empty()) << name;
        EXPECT_EQ(ReadString(out + "/a.txt"), "first");
        EXPECT_EQ(ReadString(out + "/b.txt"), "second");
    }
    EXPECT_TRUE(Read("p.vpf") == packBefore);
    // The files extracted before are whole; --keep settles them, and the
    // rest comes out complete.
    const RunResult r = Run({"extract", "-q", "--keep", "p.vpf", "-C", "out-SIGINT"});
    EXPECT_EQ(r.code, 0) << r.err;
    const Bytes zeros = Read("out-SIGINT/zeros.bin");
    EXPECT_EQ(zeros.size(), kBigSize);
    EXPECT_TRUE(AllZero(zeros));
    EXPECT_EQ(Names("out-SIGINT"), (std::vector<std::string>{"a.txt", "b.txt", "zeros.bin"}));
}

// On several threads files are put in place out of the order in which the
// summary sees them; the line must still count exactly the files on disk.
TEST_F(InterruptTest, ExtractCountsExactlyTheWholeFilesOnDiskWithThreads) {
    Folder root;
    const Bytes zeros(256 * 1024, 0);
    const Bytes coded = testpacks::EncodeContent(zeros, pack::PackMethod::Gzip);
    constexpr int kFiles = 1500;
    for (int i = 0; i < kFiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%04d", i);
        File file(name, zeros, pack::PackMethod::Gzip);
        file.stored = coded;
        root.files.push_back(file);
    }
    Write("p.vpf", testpacks::BuildPack(root));
    for (int run = 0; run < 3; ++run) {
        const std::string out = "out" + std::to_string(run);
        const auto whole = [&] {
            std::size_t n = 0;
            for (const std::string& name : Names(out))
                n += name[0] == 'f' ? 1 : 0;
            return n;
        };
        bool signalled = false;
        const RunResult r = RunInterrupted(
            {"extract", "-j", "4", "p.vpf", "-C", out},
            [&] { return whole() >= 40 + 150 * static_cast<std::size_t>(run); }, SIGTERM,
            &signalled);
        ASSERT_TRUE(signalled) << "vpf ended before it was interrupted";
        EXPECT_EQ(r.code, 128 + SIGTERM) << r.err;
        const std::string head = "vpf: interrupted by SIGTERM: extracted ";
        ASSERT_EQ(r.err.rfind(head, 0), 0u) << r.err;
        const std::size_t said = std::stoul(r.err.substr(head.size()));
        EXPECT_EQ(said, whole()) << r.err;
        EXPECT_NE(r.err.find(" of 1,500 files into " + out), std::string::npos) << r.err;
        EXPECT_TRUE(Hidden(out).empty()) << run;
        for (const std::string& name : Names(out))
            EXPECT_EQ(Read(out + "/" + name).size(), zeros.size()) << name;
    }
}

TEST_F(InterruptTest, AnInterruptedSaveKeepsThePack) {
    WriteBigPack("p.vpf");
    struct stat before;
    ASSERT_EQ(stat(Path("p.vpf").c_str(), &before), 0);
    Write("small.txt", "small");
    bool signalled = false;
    const RunResult r =
        RunInterrupted({"add", "p.vpf", "small.txt"}, SiblingIn(".", "p.vpf"), SIGTERM, &signalled);
    ASSERT_TRUE(signalled) << "vpf ended before it was interrupted";
    EXPECT_EQ(r.code, 128 + SIGTERM) << r.err;
    EXPECT_EQ(r.err,
              "vpf: interrupted by SIGTERM: read 1 of 1 file; removed 1 partial file; p.vpf is "
              "unchanged\n");
    struct stat after;
    ASSERT_EQ(stat(Path("p.vpf").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_TRUE(Hidden(".").empty()) << Hidden(".").front();
    EXPECT_EQ(Run({"list", "p.vpf"}).out, "a.txt\nb.txt\nzeros.bin\n");
    EXPECT_TRUE(TempLeftovers().empty());
}

TEST_F(InterruptTest, AnInterruptedCreateWritesNoPack) {
    MakeDir("t");
    Write("t/a.txt", "a");
    // Text-like bytes that take level-9 deflate a while.
    Write("t/text.bin", testpacks::SampleBytes(48 << 20, 3));
    for (const std::string target : {"p.vpf", "-"}) {
        const auto start = std::chrono::steady_clock::now();
        bool signalled = false;
        const RunResult r = RunInterrupted(
            {"create", "-j", "1", target, "t"},
            [&] {
                return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(200);
            },
            SIGHUP, &signalled);
        ASSERT_TRUE(signalled) << "vpf ended before it was interrupted";
        EXPECT_EQ(r.code, 128 + SIGHUP) << r.err;
        const std::string ending = target == "-" ? "the pack sent to standard output is incomplete"
                                                 : "p.vpf was not written";
        // One or none of the two files was read before the signal; a pack
        // file is written as its files are coded, and that file is removed.
        const std::string head = "vpf: interrupted by SIGHUP: read ";
        bool told = false;
        for (const char* read : {"0", "1"})
            for (const char* removed : {"", "; removed 1 partial file"})
                told = told || r.err == head + read + " of 2 files" +
                                            (target == "-" ? "" : removed) + "; " + ending + "\n";
        EXPECT_TRUE(told) << r.err;
    }
    EXPECT_FALSE(Exists("p.vpf"));
    EXPECT_TRUE(Hidden(".").empty());
    EXPECT_TRUE(TempLeftovers().empty());
}

}  // namespace
}  // namespace vpftest
