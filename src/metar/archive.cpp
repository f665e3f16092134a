#include "metar/archive.h"

#include <set>

#include "metar/line_reader.h"
#include "metar/metar_text.h"
#include "text/number_parsers.h"
#include "text/trim_spaces.h"

namespace sqv64 {
namespace {

using namespace platform;

constexpr std::string_view kKeptRecordsFile = "metar\\archive\\tmp.";

bool IsDigits(const std::string& text) {
  if (text.empty())
    return false;
  for (char byte : text) {
    if (byte < '0' || byte > '9')
      return false;
  }
  return true;
}

// Whether a month field names a month at all (0 to 12, as the files have
// it).
bool IsMonthNumber(const std::string& field) {
  std::optional<std::int32_t> month = ParseInteger(field);
  return month && *month >= 0 && *month <= 12;
}

void AppendRecord(std::string& out, const std::string& time_line, const std::string& report) {
  out += time_line;
  out += "\r\n";
  out += report;
  out += "\r\n";
}

// Every pair of consecutive lines of the archive file, so that a record it
// holds already is recognised.
std::set<std::string> RecordsIn(File& archive) {
  std::set<std::string> records;
  LineReader reader(archive);
  std::string previous;
  std::string line;
  bool first = true;
  while (reader.ReadLine(line)) {
    if (!first)
      records.insert(previous + '\n' + line);
    first = false;
    previous = std::move(line);
  }
  return records;
}

}  // namespace

void ArchiveAirportFile(const WorkingFolder& folder, const std::string& first_line,
                        const std::string& time_line, const std::string& name_as_given) {
  Platform& platform = folder.platform();
  std::string name = AsciiLowerCase(name_as_given);
  std::string first_year = SlashField(first_line, 0);
  std::string first_month = SlashField(first_line, 1);
  std::string year = SlashField(time_line, 0);
  std::string month = SlashField(time_line, 1);
  std::optional<std::int32_t> day = ParseInteger(SlashField(time_line, 2).substr(0, 2));
  if (!day || *day < 15 || month == first_month)
    return;
  // The folder's name comes from the file's content: only digits may make
  // it, so that no time line can point outside the archive.
  if (!IsDigits(first_year) || !IsDigits(first_month))
    return;

  std::string kept_path = folder.PathOf(kKeptRecordsFile);
  auto kept_file = platform.OpenFile(kept_path, FileAccess::kWrite, FileShare::kNone,
                                     FileCreation::kCreateAlways);
  if (kept_file == nullptr)
    return;
  std::string airport_path = folder.PathOf("metar\\" + name);
  auto airport = platform.OpenFile(airport_path, FileAccess::kRead, FileShare::kRead,
                                   FileCreation::kOpenExisting);
  if (airport == nullptr)
    return;
  std::string code = StationCodeOf(name);
  std::string month_folder = folder.PathOf("metar\\archive\\" + first_year + "_" + first_month);
  if (!platform.EntryExists(month_folder))
    platform.CreateDirectory(month_folder);
  auto archive = platform.OpenFile(month_folder + "\\" + name, FileAccess::kReadWrite,
                                   FileShare::kRead, FileCreation::kOpenAlways);
  if (archive == nullptr)
    return;
  std::set<std::string> archived = RecordsIn(*archive);

  std::string kept;
  std::string moved;
  bool record_kept = false;
  LineReader reader(*airport);
  std::string previous;
  std::string line;
  while (reader.ReadLine(line)) {
    // A report line may begin with blanks; its station code is that of its
    // first word.
    if (!previous.empty() && StationCodeOf(TrimBlanks(line)) == code) {
      if (SlashField(previous, 1) == month && SlashField(previous, 0) == year) {
        AppendRecord(kept, previous, line);
        record_kept = true;
      } else if (IsMonthNumber(SlashField(previous, 1))) {
        if (archived.insert(previous + '\n' + line).second)
          AppendRecord(moved, previous, line);
      }
    }
    previous = std::move(line);
  }

  archive->SeekToEnd();
  archive->Write(moved.data(), moved.size());
  archive->Sync();
  archive->Close();
  kept_file->Write(kept.data(), kept.size());
  kept_file->Sync();
  kept_file->Close();
  airport->Close();
  if (record_kept && platform.FileExists(kept_path))
    platform.ReplaceFile(kept_path, airport_path);
}

}  // namespace sqv64
