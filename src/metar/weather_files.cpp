#include "metar/weather_files.h"

namespace sqv64 {

std::optional<std::string> WeatherFiles::CopyOf(const std::string& path) {
  using namespace platform;
  auto lock = LockForReading();
  auto file =
      platform().OpenFile(path, FileAccess::kRead, FileShare::kRead, FileCreation::kOpenExisting);
  if (file == nullptr)
    return std::nullopt;
  std::string content;
  char buffer[64 * 1024];
  while (std::size_t read = file->Read(buffer, sizeof buffer))
    content.append(buffer, read);
  file->Close();
  return content;
}

}  // namespace sqv64
