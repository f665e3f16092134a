#include "platform/posix/posix_file.h"

#include <fcntl.h>
#if defined(__linux__)
#include <sys/sendfile.h>
#endif
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <mutex>
#include <string>

namespace sqv64::platform {

void ThrowIoError() {
  throw IoError("I/O error " + std::to_string(errno));
}

int OpenFlags(FileAccess access, FileCreation creation) {
  // Opening a FIFO or a device could wait for another process; with
  // O_NONBLOCK it never does, and AdoptOpenedFile refuses what it opened.
  int flags = O_CLOEXEC | O_NONBLOCK;
  switch (access) {
    case FileAccess::kRead:
      flags |= O_RDONLY;
      break;
    case FileAccess::kWrite:
      flags |= O_WRONLY;
      break;
    case FileAccess::kReadWrite:
      flags |= O_RDWR;
      break;
  }
  switch (creation) {
    case FileCreation::kOpenExisting:
      break;
    case FileCreation::kCreateAlways:
      flags |= O_CREAT | O_TRUNC;
      break;
    case FileCreation::kCreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
    case FileCreation::kOpenAlways:
      flags |= O_CREAT;
      break;
  }
  return flags;
}

std::unique_ptr<File> AdoptOpenedFile(int descriptor) {
  if (descriptor < 0) {
    return nullptr;
  }
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(descriptor);
    return nullptr;
  }
  // Reads and writes of the regular file block as they should.
  int flags = ::fcntl(descriptor, F_GETFL);
  if (flags < 0 ||
      ((flags & O_NONBLOCK) != 0 && ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0)) {
    ::close(descriptor);
    return nullptr;
  }
  // The size and stamp come with the check, which saves asking again.
  auto nanoseconds = [](const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
  };
  FileStamp stamp;
  stamp.volume = static_cast<std::uint64_t>(status.st_dev);
  stamp.identity = static_cast<std::uint64_t>(status.st_ino);
  stamp.size = static_cast<std::uint64_t>(status.st_size);
  stamp.modified = nanoseconds(status.st_mtim);
  stamp.changed = nanoseconds(status.st_ctim);
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  constexpr std::int64_t kSettledAfter = 2'000'000'000;
  stamp.settled = nanoseconds(now) - stamp.changed > kSettledAfter &&
                  nanoseconds(now) - stamp.modified > kSettledAfter;
  return std::make_unique<PosixFile>(descriptor, stamp.size, stamp);
}

PosixFile::PosixFile(int descriptor, std::optional<std::uint64_t> size_at_open,
                     std::optional<FileStamp> stamp_at_open)
    : descriptor_(descriptor), known_size_(size_at_open), stamp_(stamp_at_open) {}

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
  known_size_.reset();
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
  if (known_size_) {
    return *known_size_;
  }
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

SocketSend PosixFile::SendToSocket(NativeSocket socket, std::size_t size) {
#if defined(__linux__)
  // sendfile has no MSG_NOSIGNAL: a client that resets must not end the
  // process with SIGPIPE.
  static std::once_flag ignore_broken_pipes;
  std::call_once(ignore_broken_pipes, [] { std::signal(SIGPIPE, SIG_IGN); });
  for (;;) {
    ssize_t sent = ::sendfile(static_cast<int>(socket), descriptor_, nullptr, size);
    if (sent > 0)
      return {SocketSend::Outcome::kSent, static_cast<std::size_t>(sent)};
    if (sent == 0)
      return {SocketSend::Outcome::kEndOfFile, 0};
    switch (errno) {
      case EINTR:
        continue;
      case EAGAIN:
        return {SocketSend::Outcome::kSocketFull, 0};
      case EINVAL:
      case ENOSYS:
      case EOPNOTSUPP:
        // A file system or socket that sendfile cannot serve; nothing went
        // out on this call.
        return {SocketSend::Outcome::kUnsupported, 0};
      default:
        ThrowIoError();
    }
  }
#else
  (void)socket;
  (void)size;
  return {};
#endif
}

}  // namespace sqv64::platform
