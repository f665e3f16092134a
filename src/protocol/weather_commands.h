// What the protocol needs from the weather side: the airport and settings
// commands, the settings-changed signal to the download timers, and reads of
// weather files for client copies, coordinated with the filing of reports.
//
// Thread safety: every member is called on connection threads, several at
// once, and must be safe for that.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sqv64 {

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
};

}  // namespace sqv64
