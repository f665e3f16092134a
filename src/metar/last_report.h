// The last report filed for an airport, read from the end of its file
// "metar\<code>.txt" (a record is a time line, then the report line), for
// the status command.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "metar/weather_files.h"

namespace sqv64 {

struct FiledReport {
  std::string time_line;  // "2020/09/14 08:00"
  std::string report;     // "UUEE 140800Z ..."
  bool operator==(const FiledReport&) const = default;
};

// Only the last kLastReportTail bytes of the file are read, whatever its
// size. nullopt for a missing or empty file. Takes the weather files' lock.
inline constexpr std::size_t kLastReportTail = 4096;
std::optional<FiledReport> LastFiledReport(WeatherFiles& files, std::string_view code);

// The last record of `tail`, the end of an airport file.
std::optional<FiledReport> LastRecordOf(std::string_view tail);

}  // namespace sqv64
