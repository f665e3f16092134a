#include "platform/windows/windows_file.h"

#include <algorithm>
#include <string>

#include "platform/windows/windows_api.h"

namespace sqv64::platform {
namespace {

// ReadFile and WriteFile take 32-bit sizes; larger transfers go in parts.
constexpr std::size_t kLargestTransfer = 1u << 30;

}  // namespace

void ThrowLastIoError() {
  throw IoError("I/O error " + std::to_string(::GetLastError()));
}

WindowsFile::WindowsFile(void* handle) : handle_(handle) {}

WindowsFile::~WindowsFile() {
  if (handle_ != INVALID_HANDLE_VALUE) {
    ::CloseHandle(handle_);
  }
}

std::size_t WindowsFile::Read(void* buffer, std::size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    DWORD wanted = static_cast<DWORD>(std::min(size - done, kLargestTransfer));
    DWORD got = 0;
    if (!::ReadFile(handle_, bytes + done, wanted, &got, nullptr))
      ThrowLastIoError();
    if (got == 0)
      break;
    done += got;
  }
  return done;
}

void WindowsFile::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    DWORD wanted = static_cast<DWORD>(std::min(size - done, kLargestTransfer));
    DWORD put = 0;
    if (!::WriteFile(handle_, bytes + done, wanted, &put, nullptr))
      ThrowLastIoError();
    done += put;
  }
}

std::uint64_t WindowsFile::Size() {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(handle_, &size))
    ThrowLastIoError();
  return static_cast<std::uint64_t>(size.QuadPart);
}

void WindowsFile::Seek(std::uint64_t offset) {
  LARGE_INTEGER distance{};
  distance.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(handle_, distance, nullptr, FILE_BEGIN))
    ThrowLastIoError();
}

void WindowsFile::SeekToEnd() {
  LARGE_INTEGER distance{};
  if (!::SetFilePointerEx(handle_, distance, nullptr, FILE_END))
    ThrowLastIoError();
}

void WindowsFile::Sync() {
  if (!::FlushFileBuffers(handle_))
    ThrowLastIoError();
}

void WindowsFile::Close() {
  HANDLE handle = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  if (handle != INVALID_HANDLE_VALUE && !::CloseHandle(handle))
    ThrowLastIoError();
}

std::optional<FileStamp> WindowsFile::Stamp() {
  BY_HANDLE_FILE_INFORMATION information{};
  FILE_BASIC_INFO times{};
  if (!::GetFileInformationByHandle(handle_, &information) ||
      !::GetFileInformationByHandleEx(handle_, FileBasicInfo, &times, sizeof times))
    return std::nullopt;
  auto join = [](DWORD high, DWORD low) {
    return static_cast<std::uint64_t>(high) << 32 | static_cast<std::uint64_t>(low);
  };
  FileStamp stamp;
  stamp.volume = information.dwVolumeSerialNumber;
  stamp.identity = join(information.nFileIndexHigh, information.nFileIndexLow);
  stamp.size = join(information.nFileSizeHigh, information.nFileSizeLow);
  stamp.modified = times.LastWriteTime.QuadPart;
  stamp.changed = times.ChangeTime.QuadPart;
  FILETIME now_time{};
  ::GetSystemTimeAsFileTime(&now_time);
  auto now = static_cast<std::int64_t>(join(now_time.dwHighDateTime, now_time.dwLowDateTime));
  constexpr std::int64_t kSettledAfter = 20'000'000;  // 100-nanosecond units
  stamp.settled = now - stamp.changed > kSettledAfter && now - stamp.modified > kSettledAfter;
  return stamp;
}

}  // namespace sqv64::platform
