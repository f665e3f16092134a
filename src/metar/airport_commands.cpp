#include "metar/airport_commands.h"

#include "metar/airport_code.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

constexpr std::size_t kCodeSize = 4;

template <typename Action>
void ForEachCode(WeatherFiles& files, std::string_view codes, Action action) {
  for (std::size_t offset = 0; offset + kCodeSize <= codes.size(); offset += kCodeSize) {
    std::string_view code = codes.substr(offset, kCodeSize);
    if (IsAirportCode(code))
      action(files.PathOf("metar\\" + AsciiLowerCase(code) + ".txt"));
  }
}

}  // namespace

std::string ListAirports(WeatherFiles& files) {
  std::vector<platform::DirectoryEntry> entries;
  {
    auto lock = files.LockForReading();
    entries = files.platform().ListDirectory(files.PathOf("metar\\"), "*.txt");
  }
  std::string reply;
  for (const platform::DirectoryEntry& entry : entries) {
    std::string name = TrimSpaces(entry.name);
    if (name.size() == 8)
      reply.append(name, 0, kCodeSize);
  }
  return reply;
}

void AddAirports(WeatherFiles& files, std::string_view codes) {
  using namespace platform;
  auto lock = files.LockForWriting();
  ForEachCode(files, codes, [&](const std::string& path) {
    auto file = files.platform().OpenFile(path, FileAccess::kWrite, FileShare::kRead,
                                          FileCreation::kOpenAlways);
    if (file != nullptr)
      file->Close();
  });
}

void RemoveAirports(WeatherFiles& files, std::string_view codes) {
  auto lock = files.LockForWriting();
  ForEachCode(files, codes, [&](const std::string& path) {
    if (files.platform().FileExists(path))
      files.platform().DeleteFile(path);
  });
}

}  // namespace sqv64
