#include "platform/posix/posix_platform.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <langinfo.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

#include "platform/posix/posix_file.h"
#include "platform/posix/posix_folder.h"
#include "platform/wildcard.h"
#include "text/code_page.h"

namespace sqv64::platform {
namespace {

std::string FormatLocal(const std::tm& moment, const char* format) {
  char text[128];
  std::size_t length = std::strftime(text, sizeof text, format, &moment);
  return Utf8ToAnsi(std::string_view(text, length));
}

}  // namespace

std::unique_ptr<File> PosixPlatform::OpenFile(const std::string& path, FileAccess access,
                                              FileShare /*share*/, FileCreation creation) {
  if (HoldsNul(path)) {
    return nullptr;
  }
  return AdoptOpenedFile(::open(NativePath(path).c_str(), OpenFlags(access, creation), 0666));
}

std::unique_ptr<Folder> PosixPlatform::OpenFolder(const std::string& path) {
  if (HoldsNul(path)) {
    return nullptr;
  }
  int descriptor = ::open(NativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) {
    return nullptr;
  }
  return std::make_unique<PosixFolder>(*this, descriptor);
}

bool PosixPlatform::FileExists(const std::string& path) {
  if (HoldsNul(path)) {
    return false;
  }
  struct stat status {};
  return ::stat(NativePath(path).c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool PosixPlatform::EntryExists(const std::string& path) {
  if (HoldsNul(path)) {
    return false;
  }
  struct stat status {};
  return ::lstat(NativePath(path).c_str(), &status) == 0;
}

std::optional<EntryStamp> PosixPlatform::StampOf(const std::string& path) {
  struct stat status {};
  if (HoldsNul(path) || ::stat(NativePath(path).c_str(), &status) != 0)
    return std::nullopt;
  EntryStamp stamp;
  stamp.size = static_cast<std::uint64_t>(status.st_size);
  stamp.modified = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                   static_cast<std::int64_t>(status.st_mtim.tv_nsec);
  stamp.regular = S_ISREG(status.st_mode);
  return stamp;
}

EntryKind PosixPlatform::KindOfEntry(const std::string& path) {
  struct stat status {};
  if (HoldsNul(path) || ::lstat(NativePath(path).c_str(), &status) != 0) {
    return EntryKind::kMissing;
  }
  if (S_ISREG(status.st_mode))
    return EntryKind::kFile;
  if (S_ISDIR(status.st_mode))
    return EntryKind::kDirectory;
  if (S_ISLNK(status.st_mode))
    return EntryKind::kLink;
  return EntryKind::kOther;
}

bool PosixPlatform::DeleteFile(const std::string& path) {
  return !HoldsNul(path) && ::unlink(NativePath(path).c_str()) == 0;
}

bool PosixPlatform::ReplaceFile(const std::string& from, const std::string& to) {
  return !HoldsNul(from) && !HoldsNul(to) &&
         ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool PosixPlatform::CreateDirectory(const std::string& path) {
  return !HoldsNul(path) && ::mkdir(NativePath(path).c_str(), 0777) == 0;
}

std::vector<DirectoryEntry> PosixPlatform::ListDirectory(const std::string& folder,
                                                         std::string_view pattern) {
  std::vector<DirectoryEntry> entries;
  if (HoldsNul(folder)) {
    return entries;
  }
  std::string native_folder = NativePath(folder);
  DIR* directory = ::opendir(native_folder.empty() ? "." : native_folder.c_str());
  if (directory == nullptr) {
    return entries;
  }
  while (const dirent* entry = ::readdir(directory)) {
    std::string_view native_name = entry->d_name;
    if (native_name == "." || native_name == "..")
      continue;
    std::string name = Utf8ToAnsi(native_name);
    if (!MatchesWildcard(name, pattern))
      continue;
    bool is_directory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat status {};
      std::string full = native_folder + std::string(native_name);
      is_directory = ::stat(full.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    }
    entries.push_back({std::move(name), is_directory});
  }
  ::closedir(directory);
  return entries;
}

std::optional<std::uint64_t> PosixPlatform::FreeBytes(const std::string& folder) {
  struct statvfs volume {};
  std::string native_folder = NativePath(folder);
  if (HoldsNul(folder) ||
      ::statvfs(native_folder.empty() ? "." : native_folder.c_str(), &volume) != 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize;
}

bool PosixPlatform::SetCurrentDirectory(const std::string& path) {
  return !HoldsNul(path) && ::chdir(NativePath(path).c_str()) == 0;
}

std::string PosixPlatform::NativePath(const std::string& path) {
  std::string native = AnsiToUtf8(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

LocalDateTime PosixPlatform::CurrentLocalDateTime() {
  std::time_t now = std::time(nullptr);
  std::tm moment{};
  ::localtime_r(&now, &moment);
  // nl_langinfo is not thread-safe across locale changes; the locale is set
  // once at start-up, before any thread exists.
  return {FormatLocal(moment, ::nl_langinfo(D_FMT)), FormatLocal(moment, ::nl_langinfo(T_FMT))};
}

UtcTime PosixPlatform::CurrentUtcTime() {
  std::time_t now = std::time(nullptr);
  std::tm moment{};
  ::gmtime_r(&now, &moment);
  return {moment.tm_year + 1900, moment.tm_mon + 1, moment.tm_mday, moment.tm_hour, moment.tm_min};
}

std::optional<ImagePathValue> PosixPlatform::ReadImagePath() {
  if (const char* value = std::getenv("SQV64_IMAGE_PATH")) {
    return ImagePathValue{ImagePathValue::Type::kString, Utf8ToAnsi(value)};
  }
  return ImagePathValue{ImagePathValue::Type::kString, ExecutablePath()};
}

std::string PosixPlatform::ExecutablePath() {
  char path[4096];
  ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) {
    return {};
  }
  return Utf8ToAnsi(std::string_view(path, static_cast<std::size_t>(length)));
}

void PosixPlatform::WriteSystemEventLog(const std::string& message) {
  static std::once_flag opened;
  static std::string identity;
  std::call_once(opened, [this] {
    std::string path = NativePath(ExecutablePath());
    identity = path.substr(path.find_last_of('/') + 1);
    ::openlog(identity.empty() ? "sqv64" : identity.c_str(), LOG_PID, LOG_DAEMON);
  });
  std::string text = AnsiToUtf8(message);
  ::syslog(LOG_ERR, "%s", text.c_str());
  std::fprintf(stderr, "%s\n", text.c_str());
}

std::optional<std::vector<std::string>> PosixPlatform::OwnIPv4Addresses() {
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) {
    return std::nullopt;
  }
  std::vector<std::string> addresses;
  for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
      continue;
    if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0)
      continue;
    char text[INET_ADDRSTRLEN];
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr) {
      addresses.emplace_back(text);
    }
  }
  ::freeifaddrs(interfaces);
  return addresses;
}

bool PosixPlatform::StandardErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

Platform& DefaultPlatform() {
  static PosixPlatform platform;
  return platform;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void ShowUtf8OnConsole() {}

bool PrepareListeningSocket(std::uintptr_t native_socket) {
  int on = 1;
  return ::setsockopt(static_cast<int>(native_socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) ==
         0;
}

}  // namespace sqv64::platform
