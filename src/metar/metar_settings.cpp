#include "metar/metar_settings.h"

#include <array>

#include "metar/line_reader.h"
#include "storage/staged_file.h"
#include "text/number_parsers.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

// Staging files of the settings are made in the weather folder itself.
constexpr const char* kWeatherFolder = "metar\\";
constexpr std::string_view kSettingsFile = "metar\\metar.ini";

constexpr std::string_view kDefaultSettings =
    "Proxy.Host=\r\n"
    "Proxy.Port=\r\n"
    "Proxy.Passw=\r\n"
    "Proxy.User=\r\n"
    "Proxy.Type=fpcmNone\r\n"
    "Dwnld.Type=0\r\n";

struct ProxyMethodName {
  std::string_view name;
  FtpProxyMethod method;
};

constexpr std::array<ProxyMethodName, 10> kProxyMethodNames = {{
    {"fpcmnone", FtpProxyMethod::kNone},
    {"fpcmUserSite", FtpProxyMethod::kUserSite},
    {"fpcmsite", FtpProxyMethod::kSite},
    {"fpcmopen", FtpProxyMethod::kOpen},
    {"fpcmuserpass", FtpProxyMethod::kUserPass},
    {"fpcmtransparent", FtpProxyMethod::kTransparent},
    {"fpcmuserhostfirewallid", FtpProxyMethod::kUserHostFirewallId},
    {"fpcmnovellborder", FtpProxyMethod::kNovellBorder},
    {"fpcmhttpproxywithftp", FtpProxyMethod::kHttpProxyWithFtp},
    {"fpcmcustomproxy", FtpProxyMethod::kCustomProxy},
}};

// The value as an integer when it is non-empty and parses completely.
std::optional<std::int32_t> IntegerValue(const std::string& value) {
  if (value.empty())
    return std::nullopt;
  return ParseInteger(value);
}

std::uint16_t Low16Bits(std::int32_t value) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFF);
}

}  // namespace

void EnsureMetarFolders(const WorkingFolder& folder) {
  platform::Platform& platform = folder.platform();
  if (platform.EntryExists(folder.PathOf("metar")))
    return;
  if (!platform.CreateDirectory(folder.PathOf("metar")))
    return;
  if (!platform.CreateDirectory(folder.PathOf("metar\\archive")))
    return;
  // No settings file can be created there: the service runs on without it.
  StagedFile staged(folder, kWeatherFolder);
  if (!staged.Open())
    return;
  staged.Write(kDefaultSettings);
  staged.CommitAs(folder.PathOf(kSettingsFile));
}

std::pair<std::string, std::string> SplitSettingLine(std::string_view line) {
  std::size_t equals = line.find('=');
  std::string_view key = line.substr(0, equals == std::string_view::npos ? equals : equals + 1);
  std::string_view value =
      equals == std::string_view::npos ? std::string_view() : line.substr(equals + 1);
  return {AsciiLowerCase(TrimSpaces(key)), AsciiLowerCase(TrimSpaces(value))};
}

std::optional<FtpProxyMethod> ProxyMethodNamed(std::string_view name) {
  for (const ProxyMethodName& entry : kProxyMethodNames) {
    if (EqualsIgnoringAsciiCase(entry.name, name))
      return entry.method;
  }
  return std::nullopt;
}

void ApplySettingLine(MetarSettings& settings, std::string_view line) {
  auto [key, value] = SplitSettingLine(line);
  FtpProxySettings& proxy = settings.proxy;
  if (key == "proxy.host=") {
    proxy.host = value;
  } else if (key == "proxy.pass=") {
    proxy.password = value;
  } else if (key == "proxy.user=") {
    proxy.user = value;
  } else if (key == "proxy.type=") {
    if (auto method = ProxyMethodNamed(value))
      proxy.method = *method;
  } else if (key == "proxy.port=") {
    if (auto port = IntegerValue(value))
      proxy.port = Low16Bits(*port);
  } else if (key == "ftp.host=") {
    settings.ftp_host = value;
  } else if (key == "ftp.port=") {
    if (auto port = IntegerValue(value))
      settings.ftp_port = Low16Bits(*port);
  }
  if (key == "weather.url=" || key == "weather.ca=") {
    // A URL's path and a file's path are case-sensitive: the value as
    // written, trimmed of spaces and of control bytes (a last line that
    // ends in a bare CR keeps it), which neither can end or begin with.
    std::string_view written = line.substr(line.find('=') + 1);
    auto blank = [](char byte) { return static_cast<unsigned char>(byte) <= 32; };
    while (!written.empty() && blank(written.front()))
      written.remove_prefix(1);
    while (!written.empty() && blank(written.back()))
      written.remove_suffix(1);
    (key == "weather.url=" ? settings.weather_url : settings.weather_ca) = std::string(written);
  }
  if (key == "dwnld.type=") {
    if (auto type = IntegerValue(value))
      settings.download_type = static_cast<std::int16_t>(Low16Bits(*type));
  }
}

std::string_view WeatherTransportName(const MetarSettings& settings) {
  return settings.weather_url.empty() ? "ftp" : "http";
}

void LoadMetarSettings(WeatherFiles& files, MetarSettings& settings) {
  using namespace platform;
  settings.download_type = 0;
  settings.weather_url.clear();
  settings.weather_ca.clear();
  auto lock = files.LockForReading();
  auto file = files.platform().OpenFile(files.PathOf(kSettingsFile), FileAccess::kRead,
                                        FileShare::kReadWrite, FileCreation::kOpenExisting);
  if (file == nullptr)
    return;
  LineReader reader(*file);
  std::string line;
  while (reader.ReadLine(line))
    ApplySettingLine(settings, line);
  file->Close();
}

void SaveMetarSettings(WeatherFiles& files, std::string_view payload) {
  auto lock = files.LockForWriting();
  // Staged beside its target, so that the move never leaves the folder.
  StagedFile staged(files.folder(), kWeatherFolder);
  try {
    staged.Write(payload);
  } catch (const platform::IoError&) {
    return;  // the received bytes are dropped and the old file stays
  }
  staged.CommitAs(files.PathOf(kSettingsFile));
}

}  // namespace sqv64
