// Decoding entries and writing them to disk: every check in one place.
#include "tests/archive/ArchiveFixture.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "archive/EntryData.h"
#include "format/Names.h"

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

// The names the workspace and the Extract dialog accept as one path
// component are the pack's own name rule.
TEST(EntryNames, SafeNames) {
    for (const char* name : {"a", "a.txt", "...", ".hidden", "x..y", "with space"})
        EXPECT_TRUE(pack::IsValidEntryName(name)) << name;
    for (const char* name : {"", ".", "..", "a/b", "/", "a\\b", "\\"})
        EXPECT_FALSE(pack::IsValidEntryName(name)) << name;
    EXPECT_FALSE(pack::IsValidEntryName(std::string_view("a\0b", 3)));
    EXPECT_TRUE(pack::IsValidEntryName(std::string(259, 'x')));
    EXPECT_FALSE(pack::IsValidEntryName(std::string(260, 'x')));
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
        pack::DecodedBytes bytes;
        pack::Fault fault;
        const bool ok = DecodeEntry(c.entry, bytes, fault);
        EXPECT_EQ(ok, c.ok) << c.label << ": " << fault.Text();
        if (ok && c.entry.originalSize > 0) {
            EXPECT_EQ(0, std::memcmp(bytes.get(), text.data(), text.size())) << c.label;
        }
        if (!ok) {
            EXPECT_EQ(bytes, nullptr) << c.label;
            EXPECT_FALSE(fault.reason.empty()) << c.label;
            // The bytes are the entry's fault, or this machine's: never both.
            EXPECT_EQ(fault.kind, std::string(c.label) == "missing bytes"
                                      ? pack::FaultKind::Io
                                      : pack::FaultKind::Damaged)
                << c.label;
        }
    }
    EXPECT_TRUE(TmpLeftovers().empty());
}

TEST_F(EntryDataTest, FailedDecodeLeavesTheTargetUntouched) {
    const std::string target = Source("existing.txt", testpacks::ToBytes("keep me"));
    const PackEntry bad = Make(NoiseBytes(20), 21, 0);
    pack::Fault fault;
    EXPECT_FALSE(WriteEntryToFile(bad, target, fault));
    EXPECT_EQ(fault.reason, "a stored file of 21 bytes that holds 20");
    EXPECT_EQ(testpacks::ReadFile(target), testpacks::ToBytes("keep me"));
    const PackEntry unknown = Make(NoiseBytes(20), 20, 200);
    EXPECT_FALSE(WriteEntryToFile(unknown, src + "/new.txt", fault));
    EXPECT_EQ(fault.reason, "unknown method 200");
    Bytes gz = testpacks::EncodeContent(TextBytes(5000), pack::PackMethod::Gzip);
    gz.resize(gz.size() - 4);  // no length in the trailer
    EXPECT_FALSE(WriteEntryToFile(Make(gz, 5000, 2), src + "/cut.txt", fault));
    EXPECT_EQ(fault.kind, pack::FaultKind::Damaged);
    // Nothing was created, not even a hidden sibling.
    std::vector<fs::DirEntry> names;
    fs::ListDirectory(src, names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].name, "existing.txt");
}

TEST_F(EntryDataTest, WritesReplaceALinkInsteadOfFollowingItAndNeverBlock) {
    const std::string victim = Source("victim", testpacks::ToBytes("untouched"));
    const std::string link = src + "/link";
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    const PackEntry e = Make(testpacks::ToBytes("payload"), 7, 0);
    pack::Fault fault;
    // The link is what lies in the chosen folder; it is replaced, and the
    // file it named elsewhere stays as it was.
    ASSERT_TRUE(WriteEntryToFile(e, link, fault)) << fault.Text();
    EXPECT_FALSE(fs::IsSymlink(link));
    EXPECT_EQ(testpacks::ReadFile(link), testpacks::ToBytes("payload"));
    EXPECT_EQ(testpacks::ReadFile(victim), testpacks::ToBytes("untouched"));

    ASSERT_EQ(mkfifo((src + "/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(WriteEntryToFile(e, src + "/fifo", fault));
    EXPECT_EQ(fault.reason, "not a regular file");

    EXPECT_FALSE(WriteEntryToFile(e, victim + "/below", fault));
    EXPECT_EQ(fault.reason, "Not a directory");

    // An extracted file gets a new file's mode, whatever was there before.
    const std::string old = Source("old.sh", testpacks::ToBytes("#!/bin/sh"));
    ASSERT_EQ(chmod(old.c_str(), 0755), 0);
    const mode_t mask = umask(022);
    ASSERT_TRUE(WriteEntryToFile(e, old, fault)) << fault.Text();
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(old.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(testpacks::ReadFile(old), testpacks::ToBytes("payload"));
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
        pack::Fault fault;
        const bool ok = WriteEntryToFile(e, target, fault);
        _exit(!ok && fault.reason == "File too large" && !fs::PathExists(target) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fs::PathExists(target));
    std::vector<fs::DirEntry> names;
    fs::ListDirectory(src, names);
    EXPECT_TRUE(names.empty());  // no hidden sibling either
}

}  // namespace
}  // namespace crateforge::test
