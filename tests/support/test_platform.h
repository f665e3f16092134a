// A Platform for tests: the real file system of the machine, with a clock,
// date formats and network addresses that the test sets, and reads that can
// be made to fail the way a failing disk does.
//
// Thread safety: the settable values are guarded, so a test may change them
// while server threads read them.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "support/failing_file.h"

namespace sqv64::testing_support {

class TestPlatform : public platform::Platform {
 public:
  TestPlatform() : real_(platform::DefaultPlatform()) {}

  void SetLocalDateTime(platform::LocalDateTime value) {
    std::lock_guard<std::mutex> lock(mutex_);
    local_ = std::move(value);
  }
  void SetUtcTime(platform::UtcTime value) {
    std::lock_guard<std::mutex> lock(mutex_);
    utc_ = value;
  }
  void SetOwnIPv4Addresses(std::optional<std::vector<std::string>> value) {
    std::lock_guard<std::mutex> lock(mutex_);
    addresses_ = std::move(value);
  }
  void SetFreeBytes(std::optional<std::uint64_t> value) {
    std::lock_guard<std::mutex> lock(mutex_);
    free_bytes_ = value;
    free_bytes_set_ = true;
  }
  void SetImagePath(std::optional<platform::ImagePathValue> value) {
    std::lock_guard<std::mutex> lock(mutex_);
    image_path_ = std::move(value);
  }
  // Files opened for reading at `path` from now on behave as `faults` says.
  void SetFileFaults(const std::string& path, FileFaults faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    file_faults_[path] = faults;
  }
  // Runs `fault` before every file is opened: false refuses the open (as
  // for a file that cannot be opened), and it may throw what a test needs.
  // Files are then opened by their paths only: OpenFolder gives nullptr, as
  // for a folder that cannot be opened.
  void SetOpenFault(std::function<bool(const std::string& path)> fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_fault_ = std::move(fault);
  }
  // Messages written to the system event log, oldest first.
  std::vector<std::string> SystemEventLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    return event_log_;
  }

  std::unique_ptr<platform::File> OpenFile(const std::string& path, platform::FileAccess access,
                                           platform::FileShare share,
                                           platform::FileCreation creation) override {
    std::function<bool(const std::string&)> fault;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fault = open_fault_;
    }
    if (fault && !fault(path))
      return nullptr;
    std::unique_ptr<platform::File> file = real_.OpenFile(path, access, share, creation);
    std::lock_guard<std::mutex> lock(mutex_);
    auto faults = file_faults_.find(path);
    if (file == nullptr || faults == file_faults_.end())
      return file;
    return std::make_unique<FailingFile>(std::move(file), faults->second);
  }
  std::unique_ptr<platform::Folder> OpenFolder(const std::string& path) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (open_fault_)
        return nullptr;
    }
    return real_.OpenFolder(path);
  }
  bool FileExists(const std::string& path) override { return real_.FileExists(path); }
  bool EntryExists(const std::string& path) override { return real_.EntryExists(path); }
  std::optional<platform::EntryStamp> StampOf(const std::string& path) override {
    return real_.StampOf(path);
  }
  platform::EntryKind KindOfEntry(const std::string& path) override {
    return real_.KindOfEntry(path);
  }
  bool DeleteFile(const std::string& path) override { return real_.DeleteFile(path); }
  bool ReplaceFile(const std::string& from, const std::string& to) override {
    return real_.ReplaceFile(from, to);
  }
  bool CreateDirectory(const std::string& path) override { return real_.CreateDirectory(path); }
  std::vector<platform::DirectoryEntry> ListDirectory(const std::string& folder,
                                                      std::string_view pattern) override {
    return real_.ListDirectory(folder, pattern);
  }
  std::optional<std::uint64_t> FreeBytes(const std::string& folder) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (free_bytes_set_)
        return free_bytes_;
    }
    return real_.FreeBytes(folder);
  }
  bool SetCurrentDirectory(const std::string& path) override {
    return real_.SetCurrentDirectory(path);
  }
  std::string NativePath(const std::string& path) override { return real_.NativePath(path); }
  char PathSeparator() override { return real_.PathSeparator(); }

  platform::LocalDateTime CurrentLocalDateTime() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return local_;
  }
  platform::UtcTime CurrentUtcTime() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return utc_;
  }

  std::optional<platform::ImagePathValue> ReadImagePath() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return image_path_;
  }
  std::string ExecutablePath() override { return real_.ExecutablePath(); }
  void WriteSystemEventLog(const std::string& message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    event_log_.push_back(message);
  }
  int RunService(platform::ServiceHandler& handler) override {
    if (!handler.Start())
      return 1;
    handler.Stop();
    return 0;
  }
  std::optional<std::string> InstallService(const platform::ServiceRegistration&) override {
    return "not available in tests";
  }
  std::optional<std::string> UninstallService(const platform::ServiceRegistration&) override {
    return "not available in tests";
  }
  bool StandardErrorIsTerminal() override { return false; }
  std::optional<std::vector<std::string>> OwnIPv4Addresses() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return addresses_;
  }

 private:
  platform::Platform& real_;
  std::mutex mutex_;
  platform::LocalDateTime local_{"08.12.2020", "9:05:07"};
  platform::UtcTime utc_{2020, 12, 8, 9, 5};
  std::optional<std::vector<std::string>> addresses_ = std::vector<std::string>{"192.0.2.10"};
  std::optional<std::uint64_t> free_bytes_;
  bool free_bytes_set_ = false;
  std::optional<platform::ImagePathValue> image_path_;
  std::vector<std::string> event_log_;
  std::map<std::string, FileFaults> file_faults_;
  std::function<bool(const std::string&)> open_fault_;
};

}  // namespace sqv64::testing_support
