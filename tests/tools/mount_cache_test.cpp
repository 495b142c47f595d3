// The decoded-file cache of vpf mount: bounded in bytes, least recently
// used out first, bytes valid for as long as someone holds them.
#include <gtest/gtest.h>

#include <cstring>

#include "tools/MountFs.h"

namespace {

using vpf::mount::DecodedCache;

DecodedCache::Bytes Filled(std::size_t size, unsigned char value) {
    std::shared_ptr<unsigned char[]> bytes(new unsigned char[size]);
    std::memset(bytes.get(), value, size);
    return bytes;
}

TEST(MountCacheTest, KeepsAtMostItsLimitDroppingTheLeastRecentlyUsed) {
    DecodedCache cache(100);
    const DecodedCache::Bytes one = Filled(40, 1);
    EXPECT_EQ(cache.Insert(1, one, 40), one);
    EXPECT_EQ(cache.Insert(2, Filled(40, 2), 40)[0], 2);
    DecodedCache::Bytes held = cache.Find(2);
    ASSERT_TRUE(cache.Find(1));  // 1 is now the most recently used
    cache.Insert(3, Filled(40, 3), 40);
    EXPECT_FALSE(cache.Find(2)) << "the least recently used goes first";
    EXPECT_TRUE(cache.Find(1));
    EXPECT_TRUE(cache.Find(3));
    EXPECT_EQ(cache.BytesKept(), 80u);
    EXPECT_EQ(held[39], 2) << "bytes handed out outlive their eviction";

    // A second insert of a kept key gives the kept bytes (another thread
    // decoded the same file meanwhile).
    EXPECT_EQ(cache.Insert(1, Filled(40, 9), 40), one);
    EXPECT_EQ(cache.BytesKept(), 80u);

    // Larger than the limit: served, never kept, nothing evicted for it.
    const DecodedCache::Bytes big = Filled(101, 7);
    EXPECT_EQ(cache.Insert(4, big, 101), big);
    EXPECT_FALSE(cache.Find(4));
    EXPECT_EQ(cache.EntriesKept(), 2u);

    // Exactly the limit: everything else makes room.
    cache.Insert(5, Filled(100, 5), 100);
    EXPECT_EQ(cache.EntriesKept(), 1u);
    EXPECT_EQ(cache.BytesKept(), 100u);

    DecodedCache none(0);
    none.Insert(1, Filled(1, 1), 1);
    EXPECT_EQ(none.EntriesKept(), 0u);
    // Empty files cost nothing and may be kept even so.
    none.Insert(2, Filled(1, 0), 0);
    EXPECT_EQ(none.BytesKept(), 0u);
}

}  // namespace
