// The damaged-pack corpus against the format's own walker and decoders:
// every directory verdict as the corpus states it, every accepted pack's
// names and bytes, and the two decoders (whole buffer and streaming) giving
// the same verdict on every entry of every accepted pack.
#include <gtest/gtest.h>

#include "format/ByteSource.h"
#include "format/EntryDecoder.h"
#include "format/PackDirectory.h"
#include "tests/support/DamagedPacks.h"

namespace {

using damaged::Bytes;
using damaged::Content;
using damaged::Verdict;

class Collect final : public pack::ByteSink {
  public:
    bool Write(const unsigned char* data, std::size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
        return true;
    }
    Bytes bytes;
};

TEST(DirectoryCorpusTest, EveryCaseGetsItsVerdict) {
    std::size_t accepted = 0, refused = 0;
    for (const damaged::Case& c : damaged::Corpus()) {
        SCOPED_TRACE(c.what);
        pack::MemorySource source(c.bytes);
        pack::Directory dir;
        pack::Fault fault;
        const bool ok = pack::ReadDirectory(source, dir, fault);
        ASSERT_EQ(ok, c.directory == Verdict::Accept) << fault.Text();
        if (!ok) {
            ++refused;
            EXPECT_FALSE(fault.reason.empty());
            EXPECT_TRUE(dir.files.empty());
            // Damage is told with the byte where it lies, inside the file.
            if (fault.kind == pack::FaultKind::Damaged) {
                ASSERT_TRUE(fault.HasOffset());
                EXPECT_LE(fault.offset, c.bytes.size());
            } else {
                EXPECT_EQ(fault.kind, pack::FaultKind::NotAPack);
            }
            continue;
        }
        ++accepted;
        EXPECT_EQ(dir.version, c.version);
        if (c.content == Content::Intact) {
            ASSERT_EQ(dir.files.size(), c.entries.size());
            for (std::size_t i = 0; i < dir.files.size(); ++i) {
                EXPECT_EQ(dir.FullName(i, '/'), c.entries[i].name);
                pack::DecodedBytes bytes;
                const pack::EntryClaim claim{dir.files[i].method, dir.files[i].originalSize,
                                             dir.files[i].packedSize};
                ASSERT_TRUE(pack::LoadEntry(source, dir.files[i].dataOffset, claim, bytes, fault))
                    << c.entries[i].name << ": " << fault.Text();
                EXPECT_EQ(Bytes(bytes.get(), bytes.get() + claim.originalSize), c.entries[i].bytes);
            }
        }
        bool anyFailed = false;
        for (const pack::DirectoryFile& f : dir.files) {
            const pack::EntryClaim claim{f.method, f.originalSize, f.packedSize};
            pack::DecodedBytes whole;
            pack::Fault wholeFault, streamFault;
            const bool loaded = pack::LoadEntry(source, f.dataOffset, claim, whole, wholeFault);
            Collect sink;
            const bool streamed = pack::StreamEntry(source, f.dataOffset, claim, sink, streamFault);
            EXPECT_EQ(loaded, streamed) << wholeFault.Text() << " / " << streamFault.Text();
            if (loaded && streamed) {
                EXPECT_EQ(sink.bytes, Bytes(whole.get(), whole.get() + claim.originalSize));
            }
            if (!loaded) {
                anyFailed = true;
                EXPECT_EQ(wholeFault.kind, pack::FaultKind::Damaged) << wholeFault.Text();
                EXPECT_EQ(wholeFault.offset, f.dataOffset);
            }
        }
        if (c.content == Content::Damaged) {
            EXPECT_TRUE(anyFailed);
        }
        if (c.content == Content::Intact) {
            EXPECT_FALSE(anyFailed);
        }
    }
    // The corpus is large enough to mean something, and covers both sides.
    EXPECT_GT(accepted, 150u);
    EXPECT_GT(refused, 500u);
}

TEST(DirectoryCorpusTest, StrictVerdictsThatDifferAreExplained) {
    for (const damaged::Case& c : damaged::Corpus()) {
        SCOPED_TRACE(c.what);
        if (c.directory == Verdict::Refuse) {
            EXPECT_EQ(c.strict, Verdict::Refuse);
            EXPECT_TRUE(c.strictWhy.empty());
        } else if (c.strict == Verdict::Refuse) {
            EXPECT_FALSE(c.strictWhy.empty());
        }
    }
}

}  // namespace
