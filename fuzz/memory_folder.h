// For the fuzz targets: a platform::Folder that holds one file in memory, so
// that a reader of the store's files can be run on a fuzzer's input without
// touching the disk.
//
// Thread safety: none; one fuzz input at a time.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace sqv64::fuzzing {

class MemoryFile : public platform::File {
 public:
  explicit MemoryFile(std::string_view content) : content_(content) {}

  std::size_t Read(void* buffer, std::size_t size) override {
    std::size_t count = std::min(size, content_.size() - std::min(position_, content_.size()));
    if (count > 0)
      std::memcpy(buffer, content_.data() + position_, count);
    position_ += count;
    return count;
  }
  void Write(const void*, std::size_t) override { throw platform::IoError("read-only"); }
  std::uint64_t Size() override { return content_.size(); }
  void Seek(std::uint64_t offset) override { position_ = static_cast<std::size_t>(offset); }
  void SeekToEnd() override { position_ = content_.size(); }
  void Sync() override {}
  void Close() override {}

 private:
  std::string_view content_;
  std::size_t position_ = 0;
};

// Serves `content` under `name`; every other name is missing.
class MemoryFolder : public platform::Folder {
 public:
  MemoryFolder(std::string name, std::string_view content)
      : name_(std::move(name)), content_(content) {}

  std::unique_ptr<platform::File> OpenFile(const std::string& name, platform::FileAccess access,
                                           platform::FileShare, platform::FileCreation) override {
    if (name != name_ || access != platform::FileAccess::kRead)
      return nullptr;
    return std::make_unique<MemoryFile>(content_);
  }

 private:
  std::string name_;
  std::string_view content_;
};

}  // namespace sqv64::fuzzing
