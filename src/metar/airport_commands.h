// The clients' airport commands: the airport list is the set of report files
// "metar\<code>.txt", so listing reads the folder, adding creates files and
// removing deletes them. Codes on the wire are 4 bytes each, back to back; a
// trailing group of 1 to 3 bytes is ignored, and a code that is not four
// letters or digits is skipped.
//
// Thread safety: all three run on client connection threads, coordinated
// with filing and archiving through the weather files' lock.
#pragma once

#include <string>
#include <string_view>

#include "metar/weather_files.h"

namespace sqv64 {

// "GetArpt": the first 4 bytes of every entry matched by "metar\*.txt"
// whose name, trimmed of spaces, is 8 bytes long, in enumeration order and
// letter case unchanged.
std::string ListAirports(WeatherFiles& files);

// "SetArpt": creates the file of each code (lower-cased in ASCII) when it
// does not exist; a file that already holds reports keeps them.
void AddAirports(WeatherFiles& files, std::string_view codes);

// "DelArpt": deletes the file of each code when it exists.
void RemoveAirports(WeatherFiles& files, std::string_view codes);

}  // namespace sqv64
