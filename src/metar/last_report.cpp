#include "metar/last_report.h"

#include <vector>

#include "text/trim_spaces.h"

namespace sqv64 {

std::optional<FiledReport> LastRecordOf(std::string_view tail) {
  std::vector<std::string_view> lines;
  std::size_t at = 0;
  while (at < tail.size()) {
    std::size_t end = tail.find('\n', at);
    if (end == std::string_view::npos)
      end = tail.size();
    std::string_view line = tail.substr(at, end - at);
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    if (!line.empty())
      lines.push_back(line);
    at = end + 1;
  }
  // The first line may be cut by the tail's start; the last two are whole,
  // since a record is far shorter than the tail.
  if (lines.size() < 2)
    return std::nullopt;
  return FiledReport{std::string(lines[lines.size() - 2]), std::string(lines.back())};
}

std::optional<FiledReport> LastFiledReport(WeatherFiles& files, std::string_view code) {
  using namespace platform;
  std::string path = files.PathOf("metar\\" + AsciiLowerCase(code) + ".txt");
  auto lock = files.LockForReading();
  auto file = files.platform().OpenFile(path, FileAccess::kRead, FileShare::kRead,
                                        FileCreation::kOpenExisting);
  if (file == nullptr)
    return std::nullopt;
  std::uint64_t size = file->Size();
  std::uint64_t start = size > kLastReportTail ? size - kLastReportTail : 0;
  file->Seek(start);
  std::string tail(static_cast<std::size_t>(size - start), '\0');
  tail.resize(file->Read(tail.data(), tail.size()));
  file->Close();
  return LastRecordOf(tail);
}

}  // namespace sqv64
