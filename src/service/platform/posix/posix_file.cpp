#include "service/platform/posix/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace sqv64::platform {

void ThrowIoError() {
  throw IoError("I/O error " + std::to_string(errno));
}

PosixFile::PosixFile(int descriptor) : descriptor_(descriptor) {}

PosixFile::~PosixFile() {
  if (descriptor_ >= 0) {
    ::close(descriptor_);
  }
}

std::size_t PosixFile::Read(void* buffer, std::size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    ssize_t got = ::read(descriptor_, bytes + done, size - done);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      ThrowIoError();
    }
    if (got == 0)
      break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void PosixFile::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t put = ::write(descriptor_, bytes + done, size - done);
    if (put < 0) {
      if (errno == EINTR)
        continue;
      ThrowIoError();
    }
    done += static_cast<std::size_t>(put);
  }
}

std::uint64_t PosixFile::Size() {
  struct stat status {};
  if (::fstat(descriptor_, &status) != 0)
    ThrowIoError();
  return static_cast<std::uint64_t>(status.st_size);
}

void PosixFile::Seek(std::uint64_t offset) {
  if (::lseek(descriptor_, static_cast<off_t>(offset), SEEK_SET) < 0)
    ThrowIoError();
}

void PosixFile::SeekToEnd() {
  if (::lseek(descriptor_, 0, SEEK_END) < 0)
    ThrowIoError();
}

void PosixFile::Sync() {
  if (::fsync(descriptor_) != 0)
    ThrowIoError();
}

void PosixFile::Close() {
  int descriptor = descriptor_;
  descriptor_ = -1;
  if (descriptor >= 0 && ::close(descriptor) != 0)
    ThrowIoError();
}

}  // namespace sqv64::platform
