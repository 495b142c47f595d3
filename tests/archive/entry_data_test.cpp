// Decoding entries and writing them to disk: every check in one place.
#include "tests/archive/ArchiveFixture.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "archive/EntryData.h"

namespace crateforge::test {
namespace {

using EntryDataTest = ArchiveTest;

PackEntry Make(const Bytes& stored, std::uint32_t originalSize, std::uint8_t method) {
    PackEntry e;
    e.SetName("e");
    e.originalSize = originalSize;
    e.packedSize = static_cast<std::uint32_t>(stored.size());
    e.method = method;
    if (!stored.empty()) {
        e.data.reset(new unsigned char[stored.size()]);
        std::memcpy(e.data.get(), stored.data(), stored.size());
    }
    return e;
}

TEST(EntryNames, SafeNames) {
    for (const char* name : {"a", "a.txt", "...", ".hidden", "x..y", "with space"})
        EXPECT_TRUE(IsSafeEntryName(name)) << name;
    for (const char* name : {"", ".", "..", "a/b", "/", "a\\b", "\\"})
        EXPECT_FALSE(IsSafeEntryName(name)) << name;
    EXPECT_FALSE(IsSafeEntryName(std::string_view("a\0b", 3)));
    EXPECT_TRUE(IsSafeEntryName(std::string(259, 'x')));
    EXPECT_FALSE(IsSafeEntryName(std::string(260, 'x')));
}

TEST_F(EntryDataTest, DecodeChecksMethodAndSizes) {
    const Bytes text = TextBytes(30000);
    const Bytes gz = testpacks::EncodeContent(text, pack::PackMethod::Gzip);
    const Bytes lz = testpacks::EncodeContent(text, pack::PackMethod::Lzrw3a);
    const auto n = static_cast<std::uint32_t>(text.size());
    Bytes corrupt = gz;
    corrupt[corrupt.size() / 2] ^= 0x55;
    PackEntry missing = Make({}, 10, 0);
    missing.packedSize = 10;  // bytes released

    struct Case {
        const char* label;
        PackEntry entry;
        bool ok;
    } cases[] = {
        {"stored", Make(text, n, 0), true},
        {"gzip", Make(gz, n, 2), true},
        {"lzrw", Make(lz, n, 1), true},
        {"empty stored", Make({}, 0, 0), true},
        {"damaged stored", Make(text, n + 1, 0), false},
        {"gzip longer than original", Make(gz, n - 1, 2), false},
        {"gzip shorter than original", Make(gz, n + 1, 2), false},
        {"lzrw shorter than original", Make(lz, n + 1, 1), false},
        {"lzrw longer than original", Make(lz, n - 1, 1), false},
        {"corrupt gzip", Make(corrupt, n, 2), false},
        {"unknown method", Make(text, n, 3), false},
        {"lzrw claiming 4 GiB", Make(lz, 0xFFFFFFFFu, 1), false},
        {"missing bytes", std::move(missing), false},
    };
    for (Case& c : cases) {
        codec::GzBuffer bytes;
        std::uint32_t length = 12345;
        std::string reason;
        const bool ok = DecodeEntry(c.entry, bytes, length, reason);
        EXPECT_EQ(ok, c.ok) << c.label << ": " << reason;
        if (ok && c.entry.originalSize > 0) {
            ASSERT_EQ(length, text.size()) << c.label;
            EXPECT_EQ(0, std::memcmp(bytes.get(), text.data(), length)) << c.label;
        }
        if (!ok) {
            EXPECT_EQ(bytes, nullptr) << c.label;
            EXPECT_FALSE(reason.empty()) << c.label;
        }
    }
    EXPECT_TRUE(TmpLeftovers().empty());
}

TEST_F(EntryDataTest, FailedDecodeLeavesTheTargetUntouched) {
    const std::string target = Source("existing.txt", testpacks::ToBytes("keep me"));
    const PackEntry bad = Make(NoiseBytes(20), 21, 0);
    std::string reason;
    EXPECT_FALSE(WriteEntryToFile(bad, target, reason));
    EXPECT_EQ(testpacks::ReadFile(target), testpacks::ToBytes("keep me"));
    const PackEntry unknown = Make(NoiseBytes(20), 20, 200);
    EXPECT_FALSE(WriteEntryToFile(unknown, src + "/new.txt", reason));
    EXPECT_EQ(reason, "unknown method 200");
    EXPECT_FALSE(fs::PathExists(src + "/new.txt"));
}

TEST_F(EntryDataTest, WritesNeverFollowLinksOrBlock) {
    const std::string victim = Source("victim", testpacks::ToBytes("untouched"));
    const std::string link = src + "/link";
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    const PackEntry e = Make(testpacks::ToBytes("payload"), 7, 0);
    std::string reason;
    EXPECT_FALSE(WriteEntryToFile(e, link, reason));
    EXPECT_EQ(reason, "the target is a symbolic link");
    EXPECT_EQ(testpacks::ReadFile(victim), testpacks::ToBytes("untouched"));

    ASSERT_EQ(mkfifo((src + "/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(WriteEntryToFile(e, src + "/fifo", reason));

    EXPECT_FALSE(WriteEntryToFile(e, victim + "/below", reason));
    EXPECT_EQ(reason, "Not a directory");

    ASSERT_TRUE(WriteEntryToFile(e, src + "/out", reason)) << reason;
    EXPECT_EQ(testpacks::ReadFile(src + "/out"), testpacks::ToBytes("payload"));
}

TEST_F(EntryDataTest, AShortWriteRemovesThePartialFile) {
    const std::string target = src + "/partial";
    const PackEntry e = Make(NoiseBytes(100000), 100000, 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string reason;
        const bool ok = WriteEntryToFile(e, target, reason);
        _exit(!ok && reason == "File too large" && !fs::PathExists(target) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::PathExists(target));
}

}  // namespace
}  // namespace crateforge::test
