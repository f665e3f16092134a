// Whether weather collection works: the outcome of the last run of each
// kind, kept for the status command, and one event-log line whenever the
// collection changes from working to failing or back ("METAR station run
// failed: cannot connect to tgftp.nws.noaa.gov port 21: timed out", "METAR
// station run: 3 reports filed"), never one per run. Collection counts as
// working until a run fails.
//
// Thread safety: every member may be called from any thread at once (runs
// record on the event thread, the status command reads on connection
// threads).
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace sqv64 {

enum class RunKind { kCycle, kStation };

// "cycle" or "station".
std::string_view RunKindName(RunKind kind);

struct RunOutcome {
  bool succeeded = true;
  std::string error;  // the first failure of the run; empty on success
  int reports_filed = 0;
};

struct RunRecord {
  RunKind kind = RunKind::kStation;
  std::chrono::system_clock::time_point started;
  RunOutcome outcome;
};

struct WeatherHealthSnapshot {
  std::optional<RunRecord> last_cycle_run;
  std::optional<RunRecord> last_station_run;
  // The most recent of the two.
  std::optional<RunRecord> last_run;
};

// The log text for a run whose outcome changes the collection's state
// (`was_failing` before it), or nullopt when the state stays.
std::optional<std::string> HealthChangeText(bool was_failing, RunKind kind,
                                            const RunOutcome& outcome);

class WeatherHealth {
 public:
  // `log` receives each change text; it writes the event-log line.
  explicit WeatherHealth(std::function<void(const std::string& text)> log);

  void RecordRun(RunKind kind, std::chrono::system_clock::time_point started,
                 const RunOutcome& outcome);
  WeatherHealthSnapshot Snapshot() const;

 private:
  std::function<void(const std::string&)> log_;
  mutable std::mutex mutex_;
  bool failing_ = false;
  WeatherHealthSnapshot snapshot_;
};

}  // namespace sqv64
