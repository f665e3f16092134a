// A fresh, empty folder for one test, removed with everything in it when the
// test ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace sqv64::testing_support {

class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder as the server names it: 8-bit, ending with a separator.
  std::string ServerPath() const;

  // Writes `content` to the file `name` (relative, "/" separated) and
  // returns its full path.
  std::filesystem::path Write(std::string_view name, std::string_view content) const;
  // The whole content of the file `name`, or an empty text when missing.
  std::string Read(std::string_view name) const;
  bool Exists(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace sqv64::testing_support
