// A File on a Windows file handle.
#pragma once

#include "platform/platform.h"

namespace sqv64::platform {

class WindowsFile final : public File {
 public:
  // Takes ownership of `handle` (a HANDLE from CreateFileW).
  explicit WindowsFile(void* handle);
  ~WindowsFile() override;

  std::size_t Read(void* buffer, std::size_t size) override;
  void Write(const void* data, std::size_t size) override;
  std::uint64_t Size() override;
  void Seek(std::uint64_t offset) override;
  void SeekToEnd() override;
  void Sync() override;
  void Close() override;
  std::optional<FileStamp> Stamp() override;

 private:
  void* handle_;
};

// The IoError for the calling thread's last Windows error.
[[noreturn]] void ThrowLastIoError();

}  // namespace sqv64::platform
