#include "catalogue/compressed_record_cache.h"

#include <gtest/gtest.h>

#include <string>

namespace sqv64 {
namespace {

platform::FileStamp Stamp(std::int64_t changed) {
  platform::FileStamp stamp;
  stamp.identity = 7;
  stamp.size = 100;
  stamp.changed = changed;
  stamp.settled = true;
  return stamp;
}

HeaderRecord RecordMarked(char mark) {
  HeaderRecord record;
  record.bytes.fill(static_cast<unsigned char>(mark));
  return record;
}

TEST(CompressedRecordCache, ServesARecordOnlyForItsPathAndStamp) {
  CompressedRecordCache cache;
  cache.Store("/s/a.quvx", Stamp(1), RecordMarked('a'));
  HeaderRecord found;
  ASSERT_TRUE(cache.Find("/s/a.quvx", Stamp(1), found));
  EXPECT_EQ(found.bytes[100], 'a');
  EXPECT_FALSE(cache.Find("/s/a.quvx", Stamp(2), found));
  EXPECT_FALSE(cache.Find("/t/a.quvx", Stamp(1), found));
  cache.Forget("/s/a.quvx");
  EXPECT_FALSE(cache.Find("/s/a.quvx", Stamp(1), found));
  EXPECT_EQ(cache.HeldBytes(), 0u);
}

TEST(CompressedRecordCache, StaysWithinItsCapacityAndServesWhatItStillHolds) {
  const std::size_t capacity = 64 * 1024;
  CompressedRecordCache cache(capacity);
  for (int i = 0; i < 100; ++i) {
    std::string path = "/store/file" + std::to_string(i) + ".quvx";
    cache.Store(path, Stamp(i), RecordMarked(static_cast<char>('A' + i % 26)));
    EXPECT_LE(cache.HeldBytes(), capacity);
    HeaderRecord found;
    ASSERT_TRUE(cache.Find(path, Stamp(i), found)) << i;
    EXPECT_EQ(found.bytes[0], static_cast<unsigned char>('A' + i % 26));
  }
  // Storing the same path again costs nothing more.
  std::size_t held = cache.HeldBytes();
  cache.Store("/store/file99.quvx", Stamp(100), RecordMarked('z'));
  EXPECT_EQ(cache.HeldBytes(), held);
}

}  // namespace
}  // namespace sqv64
