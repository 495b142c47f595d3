// Writing below a chosen folder: folders reached and made through
// descriptors, links and files in the way refused with their path, and a
// folder swapped for a link over and over while files are written into it
// never leading a write elsewhere. Each case runs with the kernel's
// beneath-resolution and with the walk one component at a time.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/AtomicFile.h"
#include "platform/BeneathFolder.h"
#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "tests/support/TestPacks.h"

namespace crateforge {
namespace {

class BeneathFolderTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override { fs::BeneathFolder::UseKernelResolution(GetParam()); }
    void TearDown() override { fs::BeneathFolder::UseKernelResolution(true); }

    std::vector<std::string> Names(const std::string& folder) const {
        std::vector<fs::DirEntry> entries;
        fs::ListDirectory(folder, entries);
        std::vector<std::string> out;
        for (const auto& e : entries)
            out.push_back(e.name);
        return out;
    }
    // Writes `text` as `name` in the folder `components` below `root`.
    bool Put(const fs::BeneathFolder& root, const std::vector<std::string>& components,
             const std::string& name, const std::string& text, pack::Fault& fault) {
        const fs::Descriptor folder =
            root.OpenFolder(components, fs::MakeFolders::Yes, 0755, fault);
        if (!folder.IsOpen())
            return false;
        fs::AtomicFile file;
        fs::AtomicFileOptions options;
        options.durable = false;
        return file.BeginAt(folder.Get(), name, root.PathOf(components) + "/" + name, options,
                            fault) &&
               file.Write(text.data(), text.size()) && file.Commit(fault);
    }
    testpacks::TempDir dir;
};

TEST_P(BeneathFolderTest, FoldersAreMadeAndEnteredButNothingElse) {
    const std::string out = dir.File("out");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.File("elsewhere").c_str(), 0755), 0);
    ASSERT_EQ(symlink(dir.File("elsewhere").c_str(), (out + "/lnk").c_str()), 0);
    testpacks::WriteFile(out + "/file", testpacks::ToBytes("f"));
    fs::BeneathFolder root;
    pack::Fault fault;
    ASSERT_FALSE(root.Open(dir.File("missing"), fault));
    EXPECT_EQ(fault.reason, dir.File("missing") + ": No such file or directory");
    ASSERT_TRUE(root.Open(out, fault)) << fault.Text();

    ASSERT_TRUE(Put(root, {"a", "b", "c"}, "x.txt", "deep", fault)) << fault.Text();
    EXPECT_EQ(testpacks::ReadFile(out + "/a/b/c/x.txt"), testpacks::ToBytes("deep"));
    ASSERT_TRUE(Put(root, {}, "top.txt", "top", fault)) << fault.Text();
    EXPECT_EQ(testpacks::ReadFile(out + "/top.txt"), testpacks::ToBytes("top"));

    struct Refusal {
        std::vector<std::string> components;
        fs::MakeFolders make;
        std::string reason;
        bool missing;
    };
    const Refusal refusals[] = {
        {{"lnk"}, fs::MakeFolders::Yes, out + "/lnk is a link, not a folder", false},
        {{"lnk", "deeper"}, fs::MakeFolders::Yes, out + "/lnk is a link, not a folder", false},
        {{"a", "lnk2"}, fs::MakeFolders::No, out + "/a/lnk2: No such file or directory", true},
        {{"file", "x"}, fs::MakeFolders::Yes, out + "/file is not a folder", false},
        {{"a", ".."}, fs::MakeFolders::Yes, out + "/a/..: Invalid argument", false},
        {{"a", ""}, fs::MakeFolders::Yes, out + "/a/: Invalid argument", false},
        {{"a/b"}, fs::MakeFolders::Yes, out + "/a/b: Invalid argument", false},
        {{"new"}, fs::MakeFolders::No, out + "/new: No such file or directory", true},
    };
    for (const Refusal& r : refusals) {
        bool missing = !r.missing;
        const fs::Descriptor d = root.OpenFolder(r.components, r.make, 0755, fault, &missing);
        EXPECT_FALSE(d.IsOpen()) << r.reason;
        EXPECT_EQ(fault.reason, r.reason);
        EXPECT_EQ(missing, r.missing) << r.reason;
    }
    // A link at the file's own name is replaced, never followed.
    testpacks::WriteFile(dir.File("elsewhere/victim"), testpacks::ToBytes("untouched"));
    ASSERT_EQ(symlink(dir.File("elsewhere/victim").c_str(), (out + "/a/v").c_str()), 0);
    ASSERT_TRUE(Put(root, {"a"}, "v", "mine", fault)) << fault.Text();
    EXPECT_EQ(testpacks::ReadFile(dir.File("elsewhere/victim")), testpacks::ToBytes("untouched"));
    EXPECT_FALSE(fs::IsSymlink(out + "/a/v"));
    EXPECT_TRUE(Names(dir.File("elsewhere")) == std::vector<std::string>{"victim"});
    EXPECT_FALSE(fs::PathExists(out + "/new"));
    EXPECT_EQ(fs::LiveTempFileCount(), 0u);
}

// A second thread swaps the folder for a link to another folder and back,
// over and over, while files are written into it: each file lands in the
// folder or fails, never behind the link, and no temporary file is left.
TEST_P(BeneathFolderTest, AFolderSwappedForALinkNeverLeadsAWriteElsewhere) {
    const std::string out = dir.File("out"), outside = dir.File("outside");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((out + "/d").c_str(), 0755), 0);
    fs::BeneathFolder root;
    pack::Fault fault;
    ASSERT_TRUE(root.Open(out, fault));

    const std::string real = out + "/d", aside = out + "/d.aside";
    std::atomic<bool> stop{false};
    std::atomic<long> swaps{0};
    std::thread swapper([&] {
        for (long i = 0; i < 50'000'000 && !stop.load(); ++i) {
            if (rename(real.c_str(), aside.c_str()) != 0)
                continue;
            if (symlink(outside.c_str(), real.c_str()) == 0) {
                ++swaps;
                unlink(real.c_str());
            }
            rename(aside.c_str(), real.c_str());
        }
    });
    // On a busy machine either thread may starve the other for a while: go
    // on until both a swap and a write have happened.
    int written = 0, refused = 0;
    for (int i = 0; i < 200'000 && (i < 3000 || swaps.load() == 0 || written == 0); ++i) {
        pack::Fault why;
        if (Put(root, {"d", "e"}, "f" + std::to_string(i), "x", why))
            ++written;
        else
            ++refused;
    }
    stop = true;
    swapper.join();
    EXPECT_GT(swaps.load(), 0);
    EXPECT_GT(written, 0);
    EXPECT_TRUE(Names(outside).empty());
    // The written files are all in the folder, whichever name it had.
    std::size_t found = 0;
    for (const std::string& folder : {real, aside})
        for (const std::string& name : Names(folder + "/e")) {
            EXPECT_NE(name[0], '.') << name;  // no hidden sibling left
            ++found;
        }
    EXPECT_EQ(found, static_cast<std::size_t>(written));
    EXPECT_EQ(fs::LiveTempFileCount(), 0u);
    RecordProperty("refused", refused);
}

// The signal handler's list removes a file through its folder's descriptor:
// a folder swapped for a link meanwhile cannot turn the removal elsewhere.
TEST_P(BeneathFolderTest, LiveTemporaryFilesAreRemovedThroughTheirFolder) {
    const std::string out = dir.File("out"), moved = dir.File("moved"), other = dir.File("other");
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
    fs::BeneathFolder root;
    pack::Fault fault;
    ASSERT_TRUE(root.Open(out, fault));
    const fs::Descriptor folder = root.OpenFolder({}, fs::MakeFolders::No, 0, fault);
    ASSERT_TRUE(folder.IsOpen());
    testpacks::WriteFile(out + "/.tmp.abc", testpacks::ToBytes("partial"));
    testpacks::WriteFile(other + "/.tmp.abc", testpacks::ToBytes("someone else's"));
    const int slot = fs::RegisterTempFileAt(folder.Get(), ".tmp.abc");
    ASSERT_GE(slot, 0);
    ASSERT_EQ(rename(out.c_str(), moved.c_str()), 0);
    ASSERT_EQ(symlink(other.c_str(), out.c_str()), 0);
    EXPECT_EQ(fs::RemoveLiveTempFiles(), 1);
    fs::UnregisterTempFile(slot);
    EXPECT_FALSE(fs::PathExists(moved + "/.tmp.abc"));
    EXPECT_EQ(testpacks::ReadFile(other + "/.tmp.abc"), testpacks::ToBytes("someone else's"));
    EXPECT_EQ(fs::RegisterTempFileAt(-1, "x"), -1);
}

INSTANTIATE_TEST_SUITE_P(Resolution, BeneathFolderTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Kernel" : "ComponentWalk";
                         });

}  // namespace
}  // namespace crateforge
