// The airport list: the airports whose report files "metar\<code>.txt"
// exist. The scheduler rebuilds it at every settings run and the station
// run picks the stations to fetch from it.
#pragma once

#include <string>
#include <vector>

#include "metar/weather_files.h"

namespace sqv64 {

// `AirportList`: four-byte airport codes in upper case, in the order the
// folder enumeration returns the files. `WantedStations` has the same form.
using AirportList = std::vector<std::string>;
using WantedStations = std::vector<std::string>;

// More airports than this select whole-cycle downloads.
inline constexpr int kMostStationAirports = 300;

// Rebuilds `list` from the entries matched by "metar\*.txt" (folders
// included) whose names, trimmed of spaces, are 8 bytes long; it holds at
// most 301 codes. Returns 0 for no airport, -1 for 1 to 300 and 301 for
// more.
int LoadAirportList(WeatherFiles& files, AirportList& list);

}  // namespace sqv64
