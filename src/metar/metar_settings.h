// The weather settings: the folders and default file made at first start,
// the settings file "metar\metar.ini" read into memory, and its replacement
// with the bytes a client sends.
//
// The file holds one "key=value" line per setting, 8-bit text, lines ending
// at LF or CR LF. Keys and values are trimmed of spaces and lower-cased in
// ASCII; later lines override earlier ones, unknown keys are ignored. The
// keys are "proxy.host=", "proxy.port=", "proxy.user=", "proxy.pass=",
// "proxy.type=", "dwnld.type=", and, for pointing the service at a mirror,
// "ftp.host=" and "ftp.port=". "weather.url=" (the folder of the weather
// tree over HTTP or HTTPS) and "weather.ca=" (a PEM file of certificates
// trusted beside the system's) keep the letter case of their values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "metar/ftp_settings.h"
#include "metar/weather_files.h"
#include "storage/working_folder.h"

namespace sqv64 {

inline constexpr std::string_view kDefaultFtpHost = "tgftp.nws.noaa.gov";

// The settings held in memory. Every value but `download_type` keeps what it
// had when a reload does not name it.
struct MetarSettings {
  FtpProxySettings proxy;
  // `DownloadType`: 1 selects whole-cycle downloads that file every station;
  // any other value behaves as 0. Back to 0 at the start of every reload.
  std::int16_t download_type = 0;
  std::string ftp_host{kDefaultFtpHost};
  std::uint16_t ftp_port = 21;
  // Empty: the runs use FTP. Else the URL of the folder that holds
  // "cycles/" and "stations/". Both are emptied at the start of every
  // reload, so a file that no longer names them means FTP again.
  std::string weather_url;
  std::string weather_ca;
};

// How the reports are fetched, as the status names it: "http" when
// "weather.url=" is set (an https:// or http:// folder), "ftp" otherwise.
std::string_view WeatherTransportName(const MetarSettings& settings);

// Creates "metar", "metar\archive" and the six-line default "metar\metar.ini"
// when no entry "metar" exists yet; with one there, nothing is created. A
// step that fails ends the sequence silently. Run once at service start.
void EnsureMetarFolders(const WorkingFolder& folder);

// A settings line split after its first "=" into key (with the "=") and
// value, both trimmed of spaces and lower-cased in ASCII.
std::pair<std::string, std::string> SplitSettingLine(std::string_view line);

// The proxy method named by a "proxy.type=" value ("fpcmnone" to
// "fpcmcustomproxy", any ASCII case).
std::optional<FtpProxyMethod> ProxyMethodNamed(std::string_view name);

// Applies one line of the settings file.
void ApplySettingLine(MetarSettings& settings, std::string_view line);

// Reloads `settings` from "metar\metar.ini": `download_type` becomes 0 and
// the weather URL and certificate file empty, then
// every line is applied. A missing file changes nothing else.
void LoadMetarSettings(WeatherFiles& files, MetarSettings& settings);

// Replaces "metar\metar.ini" with exactly `payload`, through a temporary
// file in "metar\" renamed over it, so the old file stays whole when anything
// fails. A file that cannot be written drops the payload quietly. Safe to
// call from any thread.
void SaveMetarSettings(WeatherFiles& files, std::string_view payload);

}  // namespace sqv64
