// The Platform of Linux and other POSIX systems. File names on disk are
// UTF-8; the service's 8-bit names are converted from Windows-1251 on the
// way. The service manager is systemd: the service runs in the foreground
// until SIGTERM or SIGINT, and "INSTALL" writes a unit file.
#pragma once

#include "platform/platform.h"

namespace sqv64::platform {

class PosixPlatform final : public Platform {
 public:
  std::unique_ptr<File> OpenFile(const std::string& path, FileAccess access, FileShare share,
                                 FileCreation creation) override;
  std::unique_ptr<Folder> OpenFolder(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  bool EntryExists(const std::string& path) override;
  std::optional<EntryStamp> StampOf(const std::string& path) override;
  EntryKind KindOfEntry(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  bool ReplaceFile(const std::string& from, const std::string& to) override;
  bool CreateDirectory(const std::string& path) override;
  std::vector<DirectoryEntry> ListDirectory(const std::string& folder,
                                            std::string_view pattern) override;
  std::optional<std::uint64_t> FreeBytes(const std::string& folder) override;
  bool SetCurrentDirectory(const std::string& path) override;
  std::string NativePath(const std::string& path) override;
  char PathSeparator() override { return '/'; }

  LocalDateTime CurrentLocalDateTime() override;
  UtcTime CurrentUtcTime() override;

  std::optional<ImagePathValue> ReadImagePath() override;
  std::string ExecutablePath() override;
  void WriteSystemEventLog(const std::string& message) override;
  int RunService(ServiceHandler& handler) override;
  std::optional<std::string> InstallService(const ServiceRegistration& service) override;
  std::optional<std::string> UninstallService(const ServiceRegistration& service) override;

  std::optional<std::vector<std::string>> OwnIPv4Addresses() override;
  bool StandardErrorIsTerminal() override;
};

}  // namespace sqv64::platform
