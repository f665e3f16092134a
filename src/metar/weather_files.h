// The files of the weather folder "metar" and the one lock that coordinates
// them inside the process. Whoever changes an airport file, an archive file
// or the settings file, and whoever copies one out (a client's copy
// command, the airport list), holds the lock. So a
// client never receives a half-rewritten airport file, and filing, archiving
// and the airport commands never work on the same file at the same moment.
//
// Thread safety: the lock methods may be called from any thread. The folder
// must outlive this object.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "storage/working_folder.h"

namespace sqv64 {

class WeatherFiles {
 public:
  explicit WeatherFiles(const WorkingFolder& folder) : folder_(folder) {}
  WeatherFiles(const WeatherFiles&) = delete;
  WeatherFiles& operator=(const WeatherFiles&) = delete;

  const WorkingFolder& folder() const { return folder_; }
  platform::Platform& platform() const { return folder_.platform(); }
  // The working folder followed by `relative` ("metar\metar.ini").
  std::string PathOf(std::string_view relative) const { return folder_.PathOf(relative); }

  // Readers take the lock alone as well: weather files are small, and
  // MinGW's reader-writer lock let a writer in beside readers under load.
  std::unique_lock<std::mutex> LockForWriting() { return std::unique_lock<std::mutex>(mutex_); }
  std::unique_lock<std::mutex> LockForReading() { return std::unique_lock<std::mutex>(mutex_); }

  // A client's copy of the file at `path` (a full 8-bit path): its whole
  // content, read under the lock, or nullopt when it cannot be opened. A
  // read error throws platform::IoError.
  std::optional<std::string> CopyOf(const std::string& path);

 private:
  const WorkingFolder& folder_;
  std::mutex mutex_;
};

}  // namespace sqv64
