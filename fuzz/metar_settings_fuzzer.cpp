// A settings file as a client sends it with "SetMIni": stored exactly, and
// read back line by line into the settings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "metar/metar_settings.h"
#include "weather_folder.h"

using namespace sqv64;

namespace {

bool Same(const MetarSettings& a, const MetarSettings& b) {
  return a.proxy.host == b.proxy.host && a.proxy.port == b.proxy.port &&
         a.proxy.user == b.proxy.user && a.proxy.password == b.proxy.password &&
         a.proxy.method == b.proxy.method && a.download_type == b.download_type &&
         a.ftp_host == b.ftp_host && a.ftp_port == b.ftp_port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzing::WeatherFolder folder;
  std::string_view payload(reinterpret_cast<const char*>(data), size);
  folder.Reset({{"metar/metar.ini", "Proxy.Host=old\r\n"}});
  SaveMetarSettings(folder.files(), payload);
  auto contents = folder.Contents();
  // The file holds exactly the payload, and no staging file is left.
  if (contents.size() != 1 || contents["metar/metar.ini"] != payload)
    std::abort();

  MetarSettings loaded;
  LoadMetarSettings(folder.files(), loaded);
  // The same as applying each line, a line ending at LF or CR LF.
  MetarSettings expected;
  std::size_t begin = 0;
  while (begin < payload.size()) {
    std::size_t end = payload.find('\n', begin);
    std::size_t stop = end == std::string_view::npos ? payload.size() : end;
    std::string_view line = payload.substr(begin, stop - begin);
    if (!line.empty() && line.back() == '\r' && end != std::string_view::npos)
      line.remove_suffix(1);
    ApplySettingLine(expected, line);
    begin = stop + 1;
  }
  if (!Same(loaded, expected))
    std::abort();
  return 0;
}
