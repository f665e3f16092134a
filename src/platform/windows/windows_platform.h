// The Platform of Windows, on the wide-character API. The service's 8-bit
// Windows-1251 names and texts are converted with the service's own code
// page tables, so that nothing depends on the system's ANSI code page.
//
// Files are opened with the share modes the caller names and no delete
// sharing: a file that one opener holds cannot be deleted, or replaced by
// ReplaceFile, until it is closed. Enumeration matches long names only (8.3
// short names never match). The service manager is the Windows one: see
// RunService for the controls and what each reports.
#pragma once

#include <string>

#include "platform/platform.h"

namespace sqv64::platform {

class WindowsPlatform final : public Platform {
 public:
  // `service_name` names the service that RunService runs and whose
  // registry key ReadImagePath reads.
  explicit WindowsPlatform(std::wstring service_name = L"SQuv64");

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
  // UTF-8, with "\" separators.
  std::string NativePath(const std::string& path) override;
  char PathSeparator() override { return '\\'; }

  LocalDateTime CurrentLocalDateTime() override;
  UtcTime CurrentUtcTime() override;

  // The value of the service's key, SYSTEM\CurrentControlSet\Services\<name>
  // under HKEY_LOCAL_MACHINE, opened with full access: REG_SZ and
  // REG_EXPAND_SZ as stored (nothing expanded), any other type as kOther;
  // nullopt when the key cannot be opened or the value is missing.
  std::optional<ImagePathValue> ReadImagePath() override;
  std::string ExecutablePath() override;
  void WriteSystemEventLog(const std::string& message) override;
  // Under the service control dispatcher: reports start pending and runs
  // handler.Start() on the service thread. A refused start (or one that
  // throws) is reported stopped at once and RunService returns 1. Otherwise
  // the service is running and accepts stop, pause/continue and shutdown:
  // pause and continue only change the reported status (paused, running);
  // stop reports stop pending, runs handler.Stop(), reports stopped and
  // returns 0; shutdown reports stopped and returns 0 WITHOUT calling Stop,
  // so the caller must end the process without waiting for the service's
  // threads. Outside the service manager (started from a console) it
  // returns 1 at once.
  int RunService(ServiceHandler& handler) override;
  // Own process, automatic start, error control ignore, the local system
  // account, no dependencies; the executable path is stored unquoted.
  std::optional<std::string> InstallService(const ServiceRegistration& service) override;
  std::optional<std::string> UninstallService(const ServiceRegistration& service) override;

  // Addresses of the adapters that are up, loopback excluded.
  std::optional<std::vector<std::string>> OwnIPv4Addresses() override;

  // A console window (not a file or a pipe).
  bool StandardErrorIsTerminal() override;

 private:
  std::wstring service_name_;
};

}  // namespace sqv64::platform
