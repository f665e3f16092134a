#include "platform/windows/windows_platform.h"

#include "platform/windows/windows_api.h"
// windows.h first
#include "platform/wildcard.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_file.h"
#include "text/code_page.h"

#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <utility>

namespace sqv64::platform {
namespace {

DWORD DesiredAccess(FileAccess access) {
  switch (access) {
    case FileAccess::kRead:
      return GENERIC_READ;
    case FileAccess::kWrite:
      return GENERIC_WRITE;
    case FileAccess::kReadWrite:
      return GENERIC_READ | GENERIC_WRITE;
  }
  return 0;
}

// No FILE_SHARE_DELETE: while a file is open, nobody deletes it or replaces
// it under its name; a save over a file that a client is fetching fails
// instead of changing what that client receives.
DWORD ShareMode(FileShare share) {
  switch (share) {
    case FileShare::kNone:
      return 0;
    case FileShare::kRead:
      return FILE_SHARE_READ;
    case FileShare::kReadWrite:
      return FILE_SHARE_READ | FILE_SHARE_WRITE;
  }
  return 0;
}

DWORD Disposition(FileCreation creation) {
  switch (creation) {
    case FileCreation::kOpenExisting:
      return OPEN_EXISTING;
    case FileCreation::kCreateAlways:
      return CREATE_ALWAYS;
    case FileCreation::kCreateNew:
      return CREATE_NEW;
    case FileCreation::kOpenAlways:
      return OPEN_ALWAYS;
  }
  return OPEN_EXISTING;
}

// Only files on a disk: folders, and devices that a name like "NUL" or
// "COM1" reaches in any folder, are not files of the store.
bool IsDiskFile(HANDLE handle) {
  if (::GetFileType(handle) != FILE_TYPE_DISK)
    return false;
  BY_HANDLE_FILE_INFORMATION information{};
  return ::GetFileInformationByHandle(handle, &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string FromBuffer(const wchar_t* text, int length_with_terminator) {
  if (length_with_terminator <= 1)
    return {};
  return AnsiText(std::wstring_view(text, static_cast<std::size_t>(length_with_terminator - 1)));
}

// Windows opens files by their full paths, so the folder keeps its path.
class WindowsFolder final : public Folder {
 public:
  WindowsFolder(Platform& platform, std::string path)
      : platform_(platform), path_(std::move(path)) {}

  std::unique_ptr<File> OpenFile(const std::string& name, FileAccess access, FileShare share,
                                 FileCreation creation) override {
    return platform_.OpenFile(path_ + name, access, share, creation);
  }

 private:
  Platform& platform_;
  std::string path_;
};

}  // namespace

WindowsPlatform::WindowsPlatform(std::wstring service_name)
    : service_name_(std::move(service_name)) {}

std::unique_ptr<File> WindowsPlatform::OpenFile(const std::string& path, FileAccess access,
                                                FileShare share, FileCreation creation) {
  if (HoldsNul(path)) {
    return nullptr;
  }
  HANDLE handle = ::CreateFileW(WidePath(path).c_str(), DesiredAccess(access), ShareMode(share),
                                nullptr, Disposition(creation), FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  if (!IsDiskFile(handle)) {
    ::CloseHandle(handle);
    return nullptr;
  }
  return std::make_unique<WindowsFile>(handle);
}

std::unique_ptr<Folder> WindowsPlatform::OpenFolder(const std::string& path) {
  if (HoldsNul(path)) {
    return nullptr;
  }
  DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return nullptr;
  }
  return std::make_unique<WindowsFolder>(*this, path);
}

bool WindowsPlatform::FileExists(const std::string& path) {
  if (HoldsNul(path)) {
    return false;
  }
  DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool WindowsPlatform::EntryExists(const std::string& path) {
  return !HoldsNul(path) && ::GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

EntryKind WindowsPlatform::KindOfEntry(const std::string& path) {
  if (HoldsNul(path)) {
    return EntryKind::kMissing;
  }
  DWORD attributes = ::GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return EntryKind::kMissing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return EntryKind::kLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return EntryKind::kDirectory;
  // A device name ("NUL", "COM1") is refused when it is opened, as before.
  return EntryKind::kFile;
}

std::optional<EntryStamp> WindowsPlatform::StampOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (HoldsNul(path) ||
      ::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data) == 0)
    return std::nullopt;
  EntryStamp stamp;
  stamp.size = static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  stamp.modified = static_cast<std::int64_t>(
      static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
      data.ftLastWriteTime.dwLowDateTime);
  stamp.regular = (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  return stamp;
}

bool WindowsPlatform::DeleteFile(const std::string& path) {
  return !HoldsNul(path) && ::DeleteFileW(WidePath(path).c_str()) != 0;
}

bool WindowsPlatform::ReplaceFile(const std::string& from, const std::string& to) {
  return !HoldsNul(from) && !HoldsNul(to) &&
         ::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool WindowsPlatform::CreateDirectory(const std::string& path) {
  return !HoldsNul(path) && ::CreateDirectoryW(WidePath(path).c_str(), nullptr) != 0;
}

std::vector<DirectoryEntry> WindowsPlatform::ListDirectory(const std::string& folder,
                                                           std::string_view pattern) {
  // The system is asked for every entry and the pattern is matched here on
  // the long name: the system's own matching also tries 8.3 short names
  // ("*.quv" would find "recording.quvx" through "RECORD~1.QUV").
  std::vector<DirectoryEntry> entries;
  if (HoldsNul(folder)) {
    return entries;
  }
  std::wstring query = WidePath(folder) + L"*";
  WIN32_FIND_DATAW found{};
  HANDLE search = ::FindFirstFileExW(query.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) {
    return entries;
  }
  do {
    std::wstring_view wide_name = found.cFileName;
    if (wide_name == L"." || wide_name == L"..")
      continue;
    std::string name = AnsiText(wide_name);
    if (!MatchesWildcard(name, pattern))
      continue;
    entries.push_back({std::move(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  return entries;
}

std::optional<std::uint64_t> WindowsPlatform::FreeBytes(const std::string& folder) {
  ULARGE_INTEGER available{};
  std::wstring native_folder = WidePath(folder);
  if (HoldsNul(folder) ||
      !::GetDiskFreeSpaceExW(native_folder.empty() ? nullptr : native_folder.c_str(), &available,
                             nullptr, nullptr)) {
    return std::nullopt;
  }
  return available.QuadPart;
}

bool WindowsPlatform::SetCurrentDirectory(const std::string& path) {
  return !HoldsNul(path) && ::SetCurrentDirectoryW(WidePath(path).c_str()) != 0;
}

std::string WindowsPlatform::NativePath(const std::string& path) {
  std::wstring wide = WidePath(path);
  return UnicodeToUtf8(std::u16string(wide.begin(), wide.end()));
}

LocalDateTime WindowsPlatform::CurrentLocalDateTime() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  wchar_t date[128];
  wchar_t time[128];
  int date_length = ::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date,
                                     static_cast<int>(std::size(date)));
  int time_length = ::GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, time,
                                     static_cast<int>(std::size(time)));
  return {FromBuffer(date, date_length), FromBuffer(time, time_length)};
}

UtcTime WindowsPlatform::CurrentUtcTime() {
  SYSTEMTIME now{};
  ::GetSystemTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute};
}

std::string WindowsPlatform::ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0)
      return {};
    if (length < path.size()) {
      path.resize(length);
      return AnsiText(path);
    }
    path.resize(path.size() * 2);
  }
}

bool WindowsPlatform::StandardErrorIsTerminal() {
  HANDLE error_output = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return error_output != nullptr && error_output != INVALID_HANDLE_VALUE &&
         ::GetFileType(error_output) == FILE_TYPE_CHAR && ::GetConsoleMode(error_output, &mode);
}

Platform& DefaultPlatform() {
  static WindowsPlatform platform;
  return platform;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) {
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    std::wstring_view argument = wide[i];
    arguments.push_back(UnicodeToUtf8(std::u16string(argument.begin(), argument.end())));
  }
  ::LocalFree(wide);
  return arguments;
}

namespace {

UINT console_code_page_before = 0;

void RestoreConsoleCodePage() {
  ::SetConsoleOutputCP(console_code_page_before);
}

}  // namespace

void ShowUtf8OnConsole() {
  UINT current = ::GetConsoleOutputCP();
  if (current == 0 || current == CP_UTF8 || console_code_page_before != 0)
    return;  // no console, or UTF-8 already
  if (::SetConsoleOutputCP(CP_UTF8)) {
    console_code_page_before = current;
    std::atexit(RestoreConsoleCodePage);
  }
}

}  // namespace sqv64::platform
