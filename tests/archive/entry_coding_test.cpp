// Coding files as they enter a pack, and the progress they report.
#include "tests/archive/ArchiveFixture.h"

#include <unistd.h>

#include <cstring>

#include "archive/EntryCoding.h"
#include "tests/support/FailingAllocations.h"

namespace crateforge::test {
namespace {

using EntryCodingTest = ArchiveTest;

codec::GzBuffer Buffer(const Bytes& bytes) {
    codec::GzBuffer out(new unsigned char[bytes.size() + 1]);
    std::memcpy(out.get(), bytes.data(), bytes.size());
    return out;
}

TEST_F(EntryCodingTest, ProgressStepMovesTheBoundBarByHalfEachBlock) {
    ScriptedProgress bar;
    BindProgressControl(&bar);
    ProgressAccumulator = 0.0f;
    GzProgressStep(16384);
    EXPECT_EQ(bar.Position(), 8192u);
    GzProgressStep(1);
    EXPECT_EQ(bar.Position(), 8192u);
    EXPECT_EQ(ProgressAccumulator, 1.0f);
    GzProgressStep(1);
    EXPECT_EQ(bar.Position(), 8193u);
    EXPECT_EQ(ProgressAccumulator, 0.0f);
    GzProgressStep(16385);  // the odd byte is dropped with the whole part
    EXPECT_EQ(bar.Position(), 16385u);
    EXPECT_EQ(ProgressAccumulator, 0.0f);
    BindProgressControl(nullptr);
    GzProgressStep(16384);  // nothing bound: nothing moves, nothing breaks
    EXPECT_EQ(bar.Position(), 16385u);
}

TEST_F(EntryCodingTest, HundredThousandBytesTakeSevenStepsAndFillTheBar) {
    std::vector<std::uint32_t> steps;
    codec::GzProgress counter{[](void* ctx, std::uint32_t n) {
                                  static_cast<std::vector<std::uint32_t>*>(ctx)->push_back(n);
                              },
                              &steps};
    const Bytes text = TextBytes(100000);
    PackEntry entry;
    entry.originalSize = 100000;
    CompressEntry(Buffer(text), entry, counter);
    EXPECT_EQ(steps, (std::vector<std::uint32_t>{16384, 16384, 16384, 16384, 16384, 16384, 1696}));
    EXPECT_EQ(entry.method, static_cast<std::uint8_t>(pack::PackMethod::Gzip));

    // Through the document: half at once, the other half block by block.
    ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    const std::string path = Source("t.txt", text);
    progress.SetRange(0, 100000);
    progress.SetPosition(0);
    progress.ClearLog();
    ASSERT_EQ(archive->AddFile(path, archive->Root()), 1);
    EXPECT_EQ(progress.Positions(), (std::vector<std::uint32_t>{50000, 58192, 66384, 74576, 82768,
                                                                90960, 99152, 100000}));
}

TEST_F(EntryCodingTest, StoredWhenGzipDoesNotHelpOrFails) {
    PackEntry empty;
    CompressEntry(nullptr, empty, {});
    EXPECT_EQ(empty.method, 0);
    EXPECT_EQ(empty.packedSize, 0u);

    const Bytes noise = NoiseBytes(5000);
    PackEntry stored;
    stored.originalSize = 5000;
    // Not shorter as gzip: stored, and that is no failure.
    EXPECT_TRUE(CompressEntry(Buffer(noise), stored, {}));
    EXPECT_EQ(stored.method, 0);
    EXPECT_EQ(stored.packedSize, 5000u);
    EXPECT_EQ(0, std::memcmp(stored.data.get(), noise.data(), noise.size()));

    // No memory for the coded stream: gzip fails, and the file is kept as
    // it is.
    const Bytes text = TextBytes(5000);
    PackEntry kept;
    kept.originalSize = 5000;
    codec::GzError error;
    {
        testsupport::FailAllocations noMemory(5001, 6000);
        EXPECT_FALSE(CompressEntry(Buffer(text), kept, {}, &error));
        EXPECT_EQ(noMemory.Failed(), 1);
    }
    EXPECT_EQ(error.failure, codec::GzFailure::NoMemory);
    EXPECT_STREQ(error.reason, "out of memory");
    EXPECT_EQ(kept.method, 0);
    EXPECT_EQ(kept.packedSize, 5000u);
    ASSERT_NE(kept.data, nullptr);
    EXPECT_EQ(0, std::memcmp(kept.data.get(), text.data(), text.size()));
}

TEST_F(EntryCodingTest, DocumentBindsAndReleasesTheBar) {
    ScriptedProgress other;
    {
        CPackArchive doc(&messages, nullptr, &progress);
        EXPECT_EQ(BoundProgressControl(), &progress);
        doc.SetProgressControl(&other);
        EXPECT_EQ(BoundProgressControl(), &other);
        EXPECT_EQ(doc.progressControl(), &other);
    }
    EXPECT_EQ(BoundProgressControl(), nullptr);
}

TEST_F(EntryCodingTest, ReadDiskFileRefusesWhatItCannotRead) {
    codec::GzBuffer bytes;
    std::uint32_t size = 0;
    pack::Fault fault;
    EXPECT_EQ(ReadDiskFile(src + "/missing", bytes, size, fault), DiskReadStatus::CannotOpen);
    EXPECT_EQ(fault.reason, "No such file or directory");
    EXPECT_EQ(fault.kind, pack::FaultKind::Io);
    EXPECT_EQ(ReadDiskFile(src, bytes, size, fault), DiskReadStatus::CannotOpen);
    EXPECT_EQ(fault.reason, "Is a directory");
    const std::string huge = Source("huge", {});
    ASSERT_EQ(truncate(huge.c_str(), 0x100000000LL), 0);
    EXPECT_EQ(ReadDiskFile(huge, bytes, size, fault), DiskReadStatus::TooLarge);
    EXPECT_EQ(fault.reason, "files of 4 GiB or more cannot be packed");
    const Bytes content = NoiseBytes(12345);
    ASSERT_EQ(ReadDiskFile(Source("f", content), bytes, size, fault), DiskReadStatus::Ok);
    ASSERT_EQ(size, content.size());
    EXPECT_EQ(0, std::memcmp(bytes.get(), content.data(), size));
}

// A file that says it is empty but gives bytes (as /proc files do) has
// changed while it was read, as far as anyone can tell: it is refused, not
// stored as the empty prefix its size promised.
TEST_F(EntryCodingTest, AFileThatChangesWhileItIsReadIsRefused) {
    codec::GzBuffer bytes;
    std::uint32_t size = 0;
    pack::Fault fault;
    EXPECT_EQ(ReadDiskFile("/proc/self/status", bytes, size, fault), DiskReadStatus::ReadFailed);
    EXPECT_EQ(fault.reason, kChangedWhileReadReason);
    PackEntry entry;
    EXPECT_EQ(CodeDiskFile("/proc/self/status", entry, {}, fault), DiskReadStatus::ReadFailed);
    EXPECT_EQ(entry.data, nullptr);  // left unchanged
}

}  // namespace
}  // namespace crateforge::test
