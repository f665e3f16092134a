// A File on a POSIX file descriptor.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/platform.h"

namespace sqv64::platform {

class PosixFile final : public File {
 public:
  // Takes ownership of `descriptor`, whose size `size_at_open` and stamp
  // `stamp_at_open` are when the opening just told them.
  explicit PosixFile(int descriptor, std::optional<std::uint64_t> size_at_open = std::nullopt,
                     std::optional<FileStamp> stamp_at_open = std::nullopt);
  ~PosixFile() override;

  std::size_t Read(void* buffer, std::size_t size) override;
  void Write(const void* data, std::size_t size) override;
  std::uint64_t Size() override;
  void Seek(std::uint64_t offset) override;
  void SeekToEnd() override;
  void Sync() override;
  void Close() override;
  SocketSend SendToSocket(NativeSocket socket, std::size_t size) override;
  std::optional<FileStamp> Stamp() override { return stamp_; }

 private:
  int descriptor_;
  std::optional<std::uint64_t> known_size_;  // until the first write
  std::optional<FileStamp> stamp_;
};

// The IoError for the current errno.
[[noreturn]] void ThrowIoError();

// The flags of open(2) for an access and a creation rule.
int OpenFlags(FileAccess access, FileCreation creation);

// The File for a descriptor that open(2) or openat(2) returned with
// OpenFlags: nullptr when the open failed (-1) or opened anything but a
// regular file, which is closed again.
std::unique_ptr<File> AdoptOpenedFile(int descriptor);

}  // namespace sqv64::platform
