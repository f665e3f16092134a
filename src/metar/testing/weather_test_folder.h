// For the weather tests: a fresh working folder with its "metar" and
// "metar\archive" folders, on a TestPlatform, with the weather files' lock.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "metar/weather_files.h"
#include "storage/working_folder.h"
#include "support/temporary_folder.h"
#include "support/test_platform.h"

namespace sqv64::testing_support {

class WeatherTestFolder {
 public:
  explicit WeatherTestFolder(bool with_metar_folders = true) {
    if (with_metar_folders)
      std::filesystem::create_directories(temporary_.path() / "metar" / "archive");
  }

  TestPlatform& platform() { return platform_; }
  const WorkingFolder& folder() const { return folder_; }
  WeatherFiles& files() { return files_; }
  const std::filesystem::path& path() const { return temporary_.path(); }

  // Relative names use "/" here ("metar/uuee.txt").
  void Write(std::string_view name, std::string_view content) const {
    temporary_.Write(name, content);
  }
  std::string Read(std::string_view name) const { return temporary_.Read(name); }
  bool Exists(std::string_view name) const { return temporary_.Exists(name); }

 private:
  TemporaryFolder temporary_;
  TestPlatform platform_;
  WorkingFolder folder_{platform_, temporary_.ServerPath()};
  WeatherFiles files_{folder_};
};

}  // namespace sqv64::testing_support
