// A File on a POSIX file descriptor.
#pragma once

#include "service/platform/platform.h"

namespace sqv64::platform {

class PosixFile final : public File {
 public:
  // Takes ownership of `descriptor`.
  explicit PosixFile(int descriptor);
  ~PosixFile() override;

  std::size_t Read(void* buffer, std::size_t size) override;
  void Write(const void* data, std::size_t size) override;
  std::uint64_t Size() override;
  void Seek(std::uint64_t offset) override;
  void SeekToEnd() override;
  void Sync() override;
  void Close() override;

 private:
  int descriptor_;
};

// The IoError for the current errno.
[[noreturn]] void ThrowIoError();

}  // namespace sqv64::platform
