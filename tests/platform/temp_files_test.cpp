// The list of live temporary files: slots, a full list, and removal from a
// signal handler.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/TempFiles.h"
#include "tests/support/TestPacks.h"

namespace crateforge {
namespace {

TEST(TempFiles, SlotsAreTakenAndGivenBackUpToTheLimit) {
    ASSERT_EQ(fs::LiveTempFileCount(), 0u);
    std::vector<int> slots;
    for (std::size_t i = 0; i < fs::kMaxLiveTempFiles; ++i) {
        const std::string name = "/nonexistent/file" + std::to_string(i);
        slots.push_back(fs::RegisterTempFile(name.c_str()));
        ASSERT_GE(slots.back(), 0) << i;
    }
    EXPECT_EQ(fs::LiveTempFileCount(), fs::kMaxLiveTempFiles);
    EXPECT_EQ(fs::RegisterTempFile("/nonexistent/one-too-many"), -1);
    fs::UnregisterTempFile(slots[5]);
    EXPECT_EQ(fs::LiveTempFileCount(), fs::kMaxLiveTempFiles - 1);
    EXPECT_EQ(fs::RegisterTempFile("/nonexistent/again"), slots[5]);
    for (int slot : slots)
        fs::UnregisterTempFile(slot);
    fs::UnregisterTempFile(-1);
    EXPECT_EQ(fs::LiveTempFileCount(), 0u);
    EXPECT_EQ(fs::RegisterTempFile(std::string(fs::kMaxTempPathSize, 'x').c_str()), -1);
}

TEST(TempFiles, ASignalHandlerRemovesEveryListedFileAndNothingElse) {
    testpacks::TempDir dir;
    const std::string a = dir.Write(".a.tmp", testpacks::ToBytes("a"));
    const std::string b = dir.Write(".b.tmp", testpacks::ToBytes("b"));
    const std::string kept = dir.Write("kept", testpacks::ToBytes("k"));
    const std::string done = dir.Write(".done.tmp", testpacks::ToBytes("d"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGINT, [](int) { _exit(fs::RemoveLiveTempFiles() == 2 ? 0 : 1); });
        fs::RegisterTempFile(a.c_str());
        fs::RegisterTempFile(b.c_str());
        fs::UnregisterTempFile(fs::RegisterTempFile(done.c_str()));  // renamed, say
        raise(SIGINT);
        _exit(2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::PathExists(a));
    EXPECT_FALSE(fs::PathExists(b));
    EXPECT_TRUE(fs::PathExists(kept));
    EXPECT_TRUE(fs::PathExists(done));
}

TEST(TempFiles, ASlotRemovedByAHandlerIsFreedByItsOwner) {
    const int slot = fs::RegisterTempFile("/nonexistent/removed");
    ASSERT_GE(slot, 0);
    EXPECT_EQ(fs::RemoveLiveTempFiles(), 1);
    EXPECT_EQ(fs::LiveTempFileCount(), 0u);
    EXPECT_EQ(fs::RemoveLiveTempFiles(), 0);  // each file is removed once
    fs::UnregisterTempFile(slot);
    EXPECT_EQ(fs::RegisterTempFile("/nonexistent/next"), slot);
    fs::UnregisterTempFile(slot);
}

}  // namespace
}  // namespace crateforge
