#include "protocol/status_command.h"

#include <nlohmann/json.hpp>

#include "catalogue/catalogue_scan.h"
#include "text/code_page.h"
#include "text/utc_text.h"

namespace sqv64 {
namespace {

using Json = nlohmann::ordered_json;

Json Text(const std::string& ansi) {
  return AnsiToUtf8(ansi);
}

Json Run(const std::optional<WeatherRunStatus>& run) {
  if (!run)
    return nullptr;
  Json json;
  json["kind"] = run->kind;
  json["time"] = UtcText(run->started);
  json["result"] = run->succeeded ? "succeeded" : "failed";
  json["error"] = run->succeeded ? Json(nullptr) : Text(run->error);
  json["reports_filed"] = run->reports_filed;
  return json;
}

Json AccessListJson(const std::shared_ptr<const AccessList>& access) {
  if (!access || !access->from_file())
    return nullptr;
  Json json;
  json["file"] = "access.txt";
  json["only_loopback"] = access->only_loopback();
  json["problem"] = access->only_loopback() ? Text(access->problem()) : Json(nullptr);
  json["malformed_line"] =
      access->malformed_line() ? Json(*access->malformed_line()) : Json(nullptr);
  Json rules = Json::array();
  for (const AccessRule& rule : access->rules()) {
    Json entry;
    entry["network"] = rule.network.to_string() + "/" + std::to_string(rule.prefix);
    entry["access"] = std::string(AccessName(rule.access));
    rules.push_back(entry);
  }
  json["rules"] = rules;
  return json;
}

Json WeatherJson(const WeatherStatus& weather) {
  Json json;
  json["download_type"] = weather.download_type;
  json["transport"] = weather.transport;
  Json airports = Json::array();
  for (const std::string& code : weather.airports)
    airports.push_back(Text(code));
  json["airports"] = airports;
  json["last_run"] = Run(weather.last_run);
  json["last_cycle_run"] = Run(weather.last_cycle_run);
  json["last_station_run"] = Run(weather.last_station_run);
  if (weather.next_run_kind.empty() || !weather.next_run) {
    json["next_run"] = nullptr;
  } else {
    json["next_run"] = {{"kind", weather.next_run_kind}, {"time", UtcText(*weather.next_run)}};
  }
  Json reports = Json::object();
  for (const AirportReportStatus& report : weather.last_reports) {
    std::string code = AnsiToUtf8(report.code);
    if (report.time_line.empty())
      reports[code] = nullptr;
    else
      reports[code] = {{"time", Text(report.time_line)}, {"report", Text(report.report)}};
  }
  json["last_reports"] = reports;
  return json;
}

}  // namespace

std::string ServerVersion() {
  return SQV64_VERSION;
}

std::string StatusDocument(const StatusFacts& facts) {
  Json json;
  json["version"] = facts.version;
  json["started"] = UtcText(facts.started);
  json["folder"] = Text(facts.folder);
  json["free_bytes"] = facts.free_bytes ? Json(*facts.free_bytes) : Json(nullptr);
  json["data_files"] = facts.data_files;
  json["access_list"] = AccessListJson(facts.access);
  json["weather"] = WeatherJson(facts.weather);
  // Every text is valid UTF-8 by now; a stray byte must not cost the reply.
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

asio::awaitable<void> SendStatus(Connection& connection, CommandContext& context,
                                 std::shared_ptr<const AccessList> access) {
  std::string document = co_await connection.Blocking([&] {
    StatusFacts facts;
    facts.version = ServerVersion();
    facts.started = context.started;
    facts.folder = context.folder.path();
    facts.free_bytes = context.folder.platform().FreeBytes(context.folder.path());
    facts.data_files = CountDataFiles(context.folder);
    facts.access = access;
    facts.weather = context.weather.Status();
    return StatusDocument(facts);
  });
  co_await connection.Send(document);
}

}  // namespace sqv64
