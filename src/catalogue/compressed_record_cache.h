// The list records of compressed data files, kept from one scan to the next
// so that a file whose stamp has not changed is neither inflated nor parsed
// again. A record is served only for the very stamp it was read under (the
// same file on its volume, size, modification and change time), and only
// stamps that have settled are kept, so a file saved, replaced, deleted or
// changed by any process is always read afresh. Its memory is bounded: once
// full, the cache is emptied and refills.
//
// Thread safety: every member may be called from any thread at once.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "catalogue/header_record.h"
#include "platform/platform.h"

namespace sqv64 {

class CompressedRecordCache {
 public:
  // With the rest of a scan of 100,000 files, this keeps the server within
  // 32 MiB of growth.
  static constexpr std::size_t kDefaultCapacityBytes = std::size_t{12} << 20;

  explicit CompressedRecordCache(std::size_t capacity_bytes = kDefaultCapacityBytes)
      : capacity_bytes_(capacity_bytes) {}

  // Copies the record kept for `path` into `record` when it was read under
  // exactly `stamp`; false otherwise.
  bool Find(std::string_view path, const platform::FileStamp& stamp, HeaderRecord& record);
  // Keeps `record` for `path` as read under `stamp`; does nothing for a
  // stamp that has not settled.
  void Store(std::string_view path, const platform::FileStamp& stamp, const HeaderRecord& record);
  // Drops what is kept for `path`.
  void Forget(std::string_view path);
  void Clear();

  // The bytes held, as counted against the capacity.
  std::size_t HeldBytes();

 private:
  struct Entry {
    platform::FileStamp stamp;
    std::unique_ptr<HeaderRecord> record;
  };
  static std::size_t CostOf(std::string_view path);

  std::mutex mutex_;
  std::size_t capacity_bytes_;
  std::size_t held_bytes_ = 0;
  std::unordered_map<std::string, Entry> entries_;
};

// The one cache of the process, shared by every scan of every folder (paths
// are full paths).
CompressedRecordCache& SharedCompressedRecordCache();

}  // namespace sqv64
