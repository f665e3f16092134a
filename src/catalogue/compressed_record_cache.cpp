#include "catalogue/compressed_record_cache.h"

namespace sqv64 {

std::size_t CompressedRecordCache::CostOf(std::string_view path) {
  // The record, the path, and what the map spends on an entry.
  return sizeof(HeaderRecord) + path.size() + sizeof(Entry) + 64;
}

bool CompressedRecordCache::Find(std::string_view path, const platform::FileStamp& stamp,
                                 HeaderRecord& record) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto entry = entries_.find(std::string(path));
  if (entry == entries_.end() || !(entry->second.stamp == stamp) || !stamp.settled) {
    return false;
  }
  record = *entry->second.record;
  return true;
}

void CompressedRecordCache::Store(std::string_view path, const platform::FileStamp& stamp,
                                  const HeaderRecord& record) {
  if (!stamp.settled) {
    return;
  }
  auto copy = std::make_unique<HeaderRecord>(record);
  std::lock_guard<std::mutex> lock(mutex_);
  auto [entry, added] = entries_.try_emplace(std::string(path));
  if (added) {
    std::size_t cost = CostOf(path);
    if (held_bytes_ + cost > capacity_bytes_) {
      // Full: start again rather than keep records that may never be asked
      // for again.
      entries_.clear();
      held_bytes_ = 0;
      if (cost > capacity_bytes_) {
        return;
      }
      entry = entries_.try_emplace(std::string(path)).first;
    }
    held_bytes_ += cost;
  }
  entry->second.stamp = stamp;
  entry->second.record = std::move(copy);
}

void CompressedRecordCache::Forget(std::string_view path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.erase(std::string(path)) > 0) {
    held_bytes_ -= CostOf(path);
  }
}

void CompressedRecordCache::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  held_bytes_ = 0;
}

std::size_t CompressedRecordCache::HeldBytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_bytes_;
}

CompressedRecordCache& SharedCompressedRecordCache() {
  static CompressedRecordCache cache;
  return cache;
}

}  // namespace sqv64
