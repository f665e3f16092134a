// For the fuzz targets of the weather side: one working folder for the
// whole run, with its "metar" and "metar\archive" folders, put back into a
// known state before each input.
//
// Thread safety: none; one fuzz input at a time.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "metar/weather_files.h"
#include "storage/working_folder.h"
#include "support/temporary_folder.h"
#include "support/test_platform.h"

namespace sqv64::fuzzing {

class WeatherFolder {
 public:
  // Empties the folder, then writes `files` (relative names with "/").
  void Reset(const std::map<std::string, std::string>& files = {}) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(root(), ignored))
      std::filesystem::remove_all(entry.path(), ignored);
    std::filesystem::create_directories(root() / "metar" / "archive");
    for (const auto& [name, content] : files)
      temporary_.Write(name, content);
  }

  // Every regular file under the folder with its content, by relative name.
  std::map<std::string, std::string> Contents() const {
    std::map<std::string, std::string> contents;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root())) {
      if (!entry.is_regular_file())
        continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      contents[std::filesystem::relative(entry.path(), root()).generic_string()] = bytes.str();
    }
    return contents;
  }

  WeatherFiles& files() { return files_; }
  const std::filesystem::path& root() const { return temporary_.path(); }

 private:
  testing_support::TemporaryFolder temporary_;
  testing_support::TestPlatform platform_;
  WorkingFolder folder_{platform_, temporary_.ServerPath()};
  WeatherFiles files_{folder_};
};

}  // namespace sqv64::fuzzing
