#include "metar/report_filing.h"

#include "metar/airport_code.h"
#include "metar/archive.h"
#include "metar/line_reader.h"
#include "metar/metar_text.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

using namespace platform;

constexpr std::string_view kDownloadedFile = "metar\\tmp.";

std::string Record(const std::string& time_line, const std::string& report) {
  return time_line + "\r\n" + report + "\r\n";
}

// Files one report into the airport file `name`; true when it was new there.
bool FileReport(const WorkingFolder& folder, const std::string& time_line,
                const std::string& report, const std::string& name, std::int16_t download_type) {
  Platform& platform = folder.platform();
  std::string path = folder.PathOf("metar\\" + name);
  if (!platform.FileExists(path)) {
    if (download_type != 1)
      return false;
    auto created =
        platform.OpenFile(path, FileAccess::kWrite, FileShare::kRead, FileCreation::kCreateNew);
    if (created == nullptr)
      return false;
    std::string record = Record(time_line, report);
    created->Write(record.data(), record.size());
    created->Close();
    return true;
  }

  auto airport =
      platform.OpenFile(path, FileAccess::kRead, FileShare::kRead, FileCreation::kOpenExisting);
  if (airport == nullptr)
    return false;
  std::string first_line;
  bool filed = false;
  {
    LineReader reader(*airport);
    std::string line;
    bool first = true;
    while (reader.ReadLine(line)) {
      if (first)
        first_line = line;
      first = false;
      if (line == time_line) {
        filed = true;
        break;
      }
    }
  }
  airport->Close();
  if (filed)
    return false;

  auto appended =
      platform.OpenFile(path, FileAccess::kWrite, FileShare::kRead, FileCreation::kOpenExisting);
  if (appended == nullptr)
    return false;
  std::string record = Record(time_line, report);
  appended->SeekToEnd();
  appended->Write(record.data(), record.size());
  appended->Close();
  if (!first_line.empty())
    ArchiveAirportFile(folder, first_line, time_line, name);
  return true;
}

}  // namespace

int FileDownloadedReports(WeatherFiles& files, std::int16_t download_type) {
  auto downloaded = files.platform().OpenFile(files.PathOf(kDownloadedFile), FileAccess::kRead,
                                              FileShare::kRead, FileCreation::kOpenExisting);
  if (downloaded == nullptr)
    return 0;
  int filed = 0;
  LineReader reader(*downloaded);
  std::string time_line;
  std::string report;
  std::string separator;
  while (!reader.AtEnd()) {
    reader.ReadLine(time_line);
    if (reader.AtEnd())
      break;
    reader.ReadLine(report);
    if (!reader.AtEnd())
      reader.ReadLine(separator);
    std::string station = WordAt(report, 0);
    if (!IsAirportCode(station))
      continue;
    auto lock = files.LockForWriting();
    if (FileReport(files.folder(), time_line, report, AsciiLowerCase(station) + ".txt",
                   download_type))
      ++filed;
  }
  downloaded->Close();
  return filed;
}

}  // namespace sqv64
