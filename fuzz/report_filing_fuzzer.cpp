// The filing of a downloaded report file from a hostile weather server into
// airport files that already hold reports: whatever the download holds, the
// reports filed before stay filed (in the airport file or its archive), and
// nothing outside "metar" is touched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "metar/report_filing.h"
#include "weather_folder.h"

using namespace sqv64;

namespace {

const std::string kFiled =
    "2020/08/30 08:00\r\nUUEE 300800Z 18003MPS CAVOK 15/08 Q1015 NOSIG\r\n"
    "2020/08/31 09:00\r\nUUEE 310900Z 19004MPS CAVOK 17/08 Q1014 NOSIG\r\n";
const std::string kRecords[] = {
    "2020/08/30 08:00\r\nUUEE 300800Z 18003MPS CAVOK 15/08 Q1015 NOSIG\r\n",
    "2020/08/31 09:00\r\nUUEE 310900Z 19004MPS CAVOK 17/08 Q1014 NOSIG\r\n",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzzing::WeatherFolder folder;
  if (size < 1 || size > 64 * 1024)
    return -1;
  // The first byte chooses the download type; the rest is the download.
  std::int16_t download_type = data[0] & 1;
  std::string downloaded(reinterpret_cast<const char*>(data) + 1, size - 1);
  folder.Reset({{"metar/uuee.txt", kFiled},
                {"metar/kjfk.txt", ""},
                {"metar/tmp.", downloaded},
                {"port.txt", "8010"}});
  try {
    FileDownloadedReports(folder.files(), download_type);
  } catch (const platform::IoError&) {
    std::abort();  // nothing here should fail to read or write
  }
  auto after = folder.Contents();
  if (after["port.txt"] != "8010" || after["metar/tmp."] != downloaded)
    std::abort();
  for (const std::string& record : kRecords) {
    bool kept = false;
    for (const auto& [name, content] : after) {
      if (name != "metar/tmp." && content.find(record) != std::string::npos)
        kept = true;
    }
    if (!kept)
      std::abort();
  }
  for (const auto& [name, content] : after) {
    if (name.compare(0, 6, "metar/") != 0 && name != "port.txt")
      std::abort();
  }
  return 0;
}
