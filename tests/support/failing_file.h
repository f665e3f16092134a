// A File that passes everything to a real one, but can refuse to be sent by
// the kernel (so that the buffered path runs), can fail with an IoError
// once a given number of bytes has been read or sent (the disk error in the
// middle of a transfer that tests cannot get from a real disk), and can
// tell a stamp of the test's choice.
//
// Thread safety: as File, one thread at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/platform.h"

namespace sqv64::testing_support {

struct FileFaults {
  bool kernel_send = true;                        // false: SendToSocket is unsupported
  std::optional<std::uint64_t> fail_after;        // bytes read or sent before the IoError
  std::optional<platform::FileStamp> stamp = {};  // told instead of the real one
};

class FailingFile final : public platform::File {
 public:
  FailingFile(std::unique_ptr<platform::File> real, FileFaults faults)
      : real_(std::move(real)), faults_(faults) {}

  std::size_t Read(void* buffer, std::size_t size) override {
    std::size_t got = real_->Read(buffer, Allowed(size));
    done_ += got;
    return got;
  }
  void Write(const void* data, std::size_t size) override { real_->Write(data, size); }
  std::uint64_t Size() override { return real_->Size(); }
  void Seek(std::uint64_t offset) override { real_->Seek(offset); }
  void SeekToEnd() override { real_->SeekToEnd(); }
  void Sync() override { real_->Sync(); }
  void Close() override { real_->Close(); }
  std::optional<platform::FileStamp> Stamp() override {
    return faults_.stamp ? faults_.stamp : real_->Stamp();
  }
  platform::SocketSend SendToSocket(platform::NativeSocket socket, std::size_t size) override {
    if (!faults_.kernel_send)
      return {};
    platform::SocketSend step = real_->SendToSocket(socket, Allowed(size));
    done_ += step.bytes;
    return step;
  }

 private:
  // How much of `size` may go before the failure; throws once none may.
  std::size_t Allowed(std::size_t size) {
    if (!faults_.fail_after)
      return size;
    if (done_ >= *faults_.fail_after)
      throw platform::IoError("I/O error 5");
    return static_cast<std::size_t>(std::min<std::uint64_t>(size, *faults_.fail_after - done_));
  }

  std::unique_ptr<platform::File> real_;
  FileFaults faults_;
  std::uint64_t done_ = 0;
};

}  // namespace sqv64::testing_support
