#include "metar/airport_list.h"

#include "text/trim_spaces.h"

namespace sqv64 {

int LoadAirportList(WeatherFiles& files, AirportList& list) {
  list.clear();
  std::vector<platform::DirectoryEntry> entries;
  {
    auto lock = files.LockForReading();
    entries = files.platform().ListDirectory(files.PathOf("metar\\"), "*.txt");
  }
  for (const platform::DirectoryEntry& entry : entries) {
    if (list.size() > kMostStationAirports)
      break;
    std::string name = AsciiUpperCase(TrimSpaces(entry.name));
    if (name.size() == 8)
      list.push_back(name.substr(0, 4));
  }
  if (list.empty())
    return 0;
  return list.size() > kMostStationAirports ? kMostStationAirports + 1 : -1;
}

}  // namespace sqv64
