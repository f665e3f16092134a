#include "metar/weather_health.h"

namespace sqv64 {

std::string_view RunKindName(RunKind kind) {
  return kind == RunKind::kCycle ? "cycle" : "station";
}

std::optional<std::string> HealthChangeText(bool was_failing, RunKind kind,
                                            const RunOutcome& outcome) {
  if (was_failing != outcome.succeeded)
    return std::nullopt;
  std::string text = "METAR " + std::string(RunKindName(kind)) + " run";
  if (!outcome.succeeded)
    return text + " failed: " + outcome.error;
  return text + ": " + std::to_string(outcome.reports_filed) +
         (outcome.reports_filed == 1 ? " report filed" : " reports filed");
}

WeatherHealth::WeatherHealth(std::function<void(const std::string& text)> log)
    : log_(std::move(log)) {}

void WeatherHealth::RecordRun(RunKind kind, std::chrono::system_clock::time_point started,
                              const RunOutcome& outcome) {
  std::optional<std::string> change;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    change = HealthChangeText(failing_, kind, outcome);
    failing_ = !outcome.succeeded;
    RunRecord record{kind, started, outcome};
    (kind == RunKind::kCycle ? snapshot_.last_cycle_run : snapshot_.last_station_run) = record;
    snapshot_.last_run = record;
  }
  if (change && log_)
    log_(*change);
}

WeatherHealthSnapshot WeatherHealth::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return snapshot_;
}

}  // namespace sqv64
