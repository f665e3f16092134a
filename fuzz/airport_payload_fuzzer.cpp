// The airport payloads of "SetArpt" and "DelArpt", and the list "GetArpt"
// sends back: whatever the bytes, only report files inside "metar" are made
// or removed, and removing what was added leaves the folder as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "metar/airport_code.h"
#include "metar/airport_commands.h"
#include "weather_folder.h"

using namespace sqv64;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzing::WeatherFolder folder;
  if (size > 1200)  // 300 airports
    return -1;
  std::string_view codes(reinterpret_cast<const char*>(data), size);
  folder.Reset({{"metar/metar.ini", "Dwnld.Type=0\r\n"}, {"port.txt", "8010"}});
  auto before = folder.Contents();

  AddAirports(folder.files(), codes);
  auto added = folder.Contents();
  for (const auto& [name, content] : before) {
    if (added[name] != content)
      std::abort();
  }
  for (const auto& [name, content] : added) {
    if (before.count(name) != 0)
      continue;
    // A new file is an empty report file "metar/<code>.txt" named by the payload.
    std::string code = name.substr(6, 4);
    if (name.size() != 14 || name.compare(0, 6, "metar/") != 0 ||
        name.compare(10, 4, ".txt") != 0 || !content.empty() || !IsAirportCode(code))
      std::abort();
  }
  std::string listed = ListAirports(folder.files());
  if (listed.size() != 4 * (added.size() - before.size()))
    std::abort();

  RemoveAirports(folder.files(), codes);
  if (folder.Contents() != before)
    std::abort();
  return 0;
}
