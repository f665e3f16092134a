// What the protocol needs from the weather side: the airport and settings
// commands, the settings-changed signal to the download timers, and reads of
// weather files for client copies, coordinated with the filing of reports.
//
// Thread safety: every member is called on connection threads, several at
// once, and must be safe for that.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sqv64 {

// One download run as the status shows it.
struct WeatherRunStatus {
  std::string kind;  // "cycle" or "station"
  std::chrono::system_clock::time_point started;
  bool succeeded = true;
  std::string error;  // the run's first failure; empty on success
  int reports_filed = 0;
};

// The last report filed for one airport (8-bit texts).
struct AirportReportStatus {
  std::string code;       // upper case
  std::string time_line;  // empty when nothing is filed
  std::string report;
};

// The weather side for the "GetStatus" reply.
struct WeatherStatus {
  int download_type = 0;
  std::string transport;              // "ftp"
  std::vector<std::string> airports;  // upper case
  std::optional<WeatherRunStatus> last_cycle_run;
  std::optional<WeatherRunStatus> last_station_run;
  std::optional<WeatherRunStatus> last_run;  // the most recent of the two
  std::string next_run_kind;                 // "cycle", "station", "settings" or empty
  std::optional<std::chrono::system_clock::time_point> next_run;
  std::vector<AirportReportStatus> last_reports;
};

class WeatherCommands {
 public:
  virtual ~WeatherCommands() = default;

  // The "GetArpt" reply: the airport codes, 4 bytes each.
  virtual std::string ListAirports() = 0;
  // "SetMIni", "SetArpt", "DelArpt" with a non-empty payload.
  virtual void SaveMetarSettings(std::string_view payload) = 0;
  virtual void AddAirports(std::string_view payload) = 0;
  virtual void RemoveAirports(std::string_view payload) = 0;
  // Sets the settings-changed flag and hands control back to the settings
  // timer, which rereads the settings and airports within 5 seconds.
  virtual void MarkSettingsChanged() = 0;
  // Sets the settings-changed flag only.
  virtual void SetSettingsChanged() = 0;
  // The whole content of a file in the weather folder (`path` is full), read
  // while no report is being filed into it; nullopt when there is no file.
  virtual std::optional<std::string> ReadWeatherFile(const std::string& path) = 0;
  // The weather side's part of the "GetStatus" reply; reads the weather
  // folder.
  virtual WeatherStatus Status() = 0;
};

}  // namespace sqv64
