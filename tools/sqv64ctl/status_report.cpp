#include "status_report.h"

#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <vector>

#include "text/utc_text.h"

namespace sqv64::ctl {
namespace {

using Json = nlohmann::json;

std::string TextAt(const Json& object, const char* key) {
  if (!object.is_object())
    return {};
  auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string Counted(long long count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Bytes(std::uint64_t bytes) {
  char text[32];
  if (bytes >= 1024ull * 1024 * 1024)
    std::snprintf(text, sizeof text, "%.1f GB", bytes / (1024.0 * 1024 * 1024));
  else
    std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024));
  return text;
}

class Table {
 public:
  void Row(const std::string& label, const std::string& value) { rows_.push_back({label, value}); }
  std::string Text() const {
    std::size_t width = 0;
    for (const auto& row : rows_)
      width = std::max(width, row.first.size());
    std::string out;
    for (const auto& row : rows_)
      out += row.first + std::string(width - row.first.size() + 2, ' ') + row.second + "\n";
    return out;
  }

 private:
  std::vector<std::pair<std::string, std::string>> rows_;
};

}  // namespace

std::string LocalMoment(std::chrono::system_clock::time_point moment) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
  // sqv64ctl has one thread, so the shared result of localtime is safe.
  const std::tm* local = std::localtime(&seconds);
  if (local == nullptr)
    return UtcText(moment);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
  return text;
}

namespace {

std::optional<StatusSummary> Summarise(const std::string& document, std::string& error,
                                       const MomentFormat& format) {
  Json status = Json::parse(document, nullptr, /*allow_exceptions=*/false);
  if (status.is_discarded() || !status.is_object()) {
    error = "it is not a JSON object";
    return std::nullopt;
  }
  if (!status.contains("version") || !status.contains("weather") ||
      !status["weather"].is_object()) {
    error = "it has no version or weather part";
    return std::nullopt;
  }
  MomentFormat moment = format ? format : MomentFormat(LocalMoment);
  auto when = [&](const std::string& utc) {
    auto parsed = ParseUtcText(utc);
    return parsed ? moment(*parsed) : utc;
  };
  auto run_text = [&](const Json& run) -> std::string {
    if (!run.is_object())
      return "none yet";
    std::string text = TextAt(run, "kind") + " run at " + when(TextAt(run, "time"));
    if (TextAt(run, "result") == "failed")
      return text + " failed: " + TextAt(run, "error");
    long long filed = run.value("reports_filed", 0LL);
    return text + ": " + Counted(filed, "report") + " filed";
  };

  const Json& weather = status["weather"];
  const Json airports = weather.value("airports", Json::array());
  const Json last_run = weather.value("last_run", Json());
  // What decides the exit status must have its shape.
  if (!airports.is_array() || !(last_run.is_null() || last_run.is_object())) {
    error = "its airports are no list or its last run is no object";
    return std::nullopt;
  }
  const Json access = status.value("access_list", Json());
  StatusSummary summary;
  summary.weather_failing =
      airports.is_array() && !airports.empty() && TextAt(last_run, "result") == "failed";

  Table table;
  // What is wrong comes first.
  if (summary.weather_failing)
    table.Row("PROBLEM", "weather: the last " + run_text(last_run));
  if (access.is_object() && access.value("only_loopback", false)) {
    table.Row("PROBLEM",
              "access.txt: " + TextAt(access, "problem") + "; only loopback clients are served");
  }
  table.Row("server", "SQV64 " + TextAt(status, "version") + ", running since " +
                          when(TextAt(status, "started")));
  std::string store =
      TextAt(status, "folder") + ", " + Counted(status.value("data_files", 0LL), "data file");
  if (status.contains("free_bytes") && status["free_bytes"].is_number_unsigned())
    store += ", " + Bytes(status["free_bytes"].get<std::uint64_t>()) + " free";
  table.Row("store", store);
  if (!access.is_object()) {
    table.Row("access", "no access.txt: every client may do everything");
  } else if (!access.value("only_loopback", false)) {
    std::string rules;
    for (const Json& rule : access.value("rules", Json::array()))
      rules += (rules.empty() ? "" : ", ") + TextAt(rule, "network") + " " + TextAt(rule, "access");
    table.Row("access", "access.txt: " + (rules.empty() ? std::string("no rules, nobody") : rules));
  }
  std::string codes;
  if (airports.is_array()) {
    for (const Json& code : airports)
      codes += " " + (code.is_string() ? code.get<std::string>() : std::string("?"));
  }
  long long airport_count = airports.is_array() ? static_cast<long long>(airports.size()) : 0;
  table.Row("weather", TextAt(weather, "transport") + ", download type " +
                           std::to_string(weather.value("download_type", 0LL)) + ", " +
                           Counted(airport_count, "airport") + (codes.empty() ? "" : ":" + codes));
  table.Row("last run", run_text(last_run));
  const Json next = weather.value("next_run", Json());
  if (next.is_object()) {
    std::string kind = TextAt(next, "kind");
    table.Row("next run", (kind == "settings" ? std::string("settings reread") : kind + " run") +
                              " at " + when(TextAt(next, "time")));
  } else {
    table.Row("next run", "none planned");
  }
  const Json reports = weather.value("last_reports", Json::object());
  if (reports.is_object()) {
    for (auto item = reports.begin(); item != reports.end(); ++item) {
      const Json& report = item.value();
      table.Row(item.key(), report.is_object()
                                ? TextAt(report, "time") + "  " + TextAt(report, "report")
                                : std::string("no report filed yet"));
    }
  }
  summary.table = table.Text();
  return summary;
}

}  // namespace

std::optional<StatusSummary> ReadStatus(const std::string& document, std::string& error,
                                        const MomentFormat& format) {
  try {
    return Summarise(document, error, format);
  } catch (const Json::exception& failure) {
    error = std::string("a part has the wrong type (") + failure.what() + ")";
    return std::nullopt;
  }
}

}  // namespace sqv64::ctl
