#include "support/temporary_folder.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sqv64::testing_support {
namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder() {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("sqv64-test-" + std::to_string(stamp) + "-" +
                                                      std::to_string(counter.fetch_add(1)));
    if (fs::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string TemporaryFolder::ServerPath() const {
  return path_.string() + static_cast<char>(fs::path::preferred_separator);
}

fs::path TemporaryFolder::Write(std::string_view name, std::string_view content) const {
  fs::path file = path_ / fs::path(name);
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out)
    throw std::runtime_error("cannot write " + file.string());
  return file;
}

std::string TemporaryFolder::Read(std::string_view name) const {
  std::ifstream in(path_ / fs::path(name), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool TemporaryFolder::Exists(std::string_view name) const {
  return fs::exists(path_ / fs::path(name));
}

}  // namespace sqv64::testing_support
